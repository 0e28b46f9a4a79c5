// Hex text to bytes for the devpath command: the path of --explain (its
// HEX arguments or --input file, refused with status 2 when not hex) and
// each input of --to-text (answered with an error when not hex).
#include "tools/boardinv/Devpath.h"

#include <cctype>

#include "host/sim/InputFile.h"
#include "host/sim/Text.h"
#include "tools/boardinv/Commands.h"

namespace boardinv::devpath {

Bytes ParseHex(const std::vector<std::string> &sources, const std::string &file) {
  std::string digits;
  for (const std::string &source : sources) {
    for (size_t i = 0; i < source.size(); i++) {
      const char c = source[i];
      if (c == ' ' || c == '\t' || c == '\n' || c == '\r') {
        continue;
      }
      if (!std::isxdigit(static_cast<unsigned char>(c))) {
        Die("devpath --explain: " +
            (file.empty() ? "\"" + source + "\" is not hexadecimal bytes"
                          : file + ": offset " + std::to_string(i) + " holds what is not a hex digit or white space"));
      }
      digits += c;
    }
  }
  if (digits.empty() || digits.size() % 2 != 0) {
    Die("devpath --explain: give the path as whole bytes, two hex digits each");
  }
  if (digits.size() / 2 > sim::kDevicePathFileLimit) {
    Die("devpath --explain: the path is larger than the limit of " + sim::LimitText(sim::kDevicePathFileLimit));
  }
  Bytes bytes;
  bytes.reserve(digits.size() / 2);
  for (size_t i = 0; i < digits.size(); i += 2) {
    bytes.push_back(static_cast<uint8_t>(std::stoul(digits.substr(i, 2), nullptr, 16)));
  }
  return bytes;
}

std::optional<Bytes> HexToBytes(const std::string &text, std::string &problem) {
  Bytes bytes;
  int high = -1;
  for (size_t i = 0; i < text.size(); i++) {
    const char c = text[i];
    if (c == ' ' || c == '\t' || c == '\r' || c == '\n') {
      continue;
    }
    if (!std::isxdigit(static_cast<unsigned char>(c))) {
      problem = "offset " + std::to_string(i) + " of the hex text holds what is not a hex digit or white space";
      return std::nullopt;
    }
    const int digit = std::isdigit(static_cast<unsigned char>(c)) ? c - '0' : std::toupper(c) - 'A' + 10;
    if (high < 0) {
      high = digit;
    } else {
      bytes.push_back(static_cast<uint8_t>(high << 4 | digit));
      high = -1;
    }
  }
  if (high >= 0) {
    problem = "the hex digits are not whole bytes (an odd count)";
    return std::nullopt;
  }
  return bytes;
}

}  // namespace boardinv::devpath
