#include "host/sim/Text.h"

namespace sim {

namespace {

constexpr char kDigits[] = "0123456789ABCDEF";

}  // namespace

std::string Hex(uint64_t value, int digits) {
  std::string text;
  do {
    text.insert(text.begin(), kDigits[value & 0xF]);
    value >>= 4;
  } while (value != 0);
  if (digits > 0 && text.size() < static_cast<size_t>(digits)) {
    text.insert(0, static_cast<size_t>(digits) - text.size(), '0');
  }
  return "0x" + text;
}

std::string HexBytes(const uint8_t *bytes, size_t count, std::string_view separator) {
  std::string text;
  text.reserve(count * (2 + separator.size()));
  for (size_t i = 0; i < count; i++) {
    if (i != 0) {
      text += separator;
    }
    text += kDigits[bytes[i] >> 4];
    text += kDigits[bytes[i] & 0xF];
  }
  return text;
}

std::string HexBytes(const std::vector<uint8_t> &bytes) { return HexBytes(bytes.data(), bytes.size()); }

std::string Counted(uint64_t count, std::string_view one, std::string_view many) {
  return std::to_string(count) + " " + std::string(count == 1 ? one : many);
}

std::string Escaped(std::string_view text) {
  std::string shown;
  shown.reserve(text.size());
  for (const char c : text) {
    const auto byte = static_cast<unsigned char>(c);
    if (byte >= 0x20 && byte < 0x7F) {
      shown += c;
    } else if (c == '\n') {
      shown += "\\n";
    } else if (c == '\r') {
      shown += "\\r";
    } else if (c == '\t') {
      shown += "\\t";
    } else {
      shown += "\\x";
      shown += kDigits[byte >> 4];
      shown += kDigits[byte & 0xF];
    }
  }
  return shown;
}

std::string Narrow(std::u16string_view text) {
  std::string narrow;
  narrow.reserve(text.size());
  for (char16_t c : text) {
    narrow += c < 0x80 ? static_cast<char>(c) : '?';
  }
  return narrow;
}

}  // namespace sim
