#include "host/sim/JsonFields.h"

#include <cctype>

#include "host/sim/Platform.h"
#include "host/sim/Text.h"

namespace sim {

void FailField(const std::string &field, const std::string &message) { throw PlatformError(field + ": " + message); }

std::string FieldPath(const std::string &where, const std::string &name) {
  return where.empty() ? name : where + "." + name;
}

void CheckFields(const nlohmann::json &object, const std::string &where, const std::set<std::string> &allowed) {
  if (!object.is_object()) {
    FailField(where.empty() ? "platform" : where, "must be an object");
  }
  for (auto it = object.begin(); it != object.end(); ++it) {
    if (allowed.count(it.key()) == 0) {
      FailField(FieldPath(where, it.key()), "unknown field");
    }
  }
}

bool ParseUnsignedText(const std::string &text, uint64_t max, uint64_t &value) {
  const bool hex = text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X');
  const uint64_t base = hex ? 16 : 10;
  const size_t first = hex ? 2 : 0;
  if (text.size() == first) {
    return false;
  }
  uint64_t result = 0;
  for (size_t i = first; i < text.size(); i++) {
    const char c = text[i];
    uint64_t digit = 0;
    if (c >= '0' && c <= '9') {
      digit = static_cast<uint64_t>(c - '0');
    } else if (hex && c >= 'a' && c <= 'f') {
      digit = static_cast<uint64_t>(c - 'a' + 10);
    } else if (hex && c >= 'A' && c <= 'F') {
      digit = static_cast<uint64_t>(c - 'A' + 10);
    } else {
      return false;
    }
    if (result > (max - digit) / base) {
      return false;
    }
    result = result * base + digit;
  }
  value = result;
  return true;
}

namespace {

[[noreturn]] void FailRange(const std::string &field, uint64_t max) {
  FailField(field, "out of range (at most " + Hex(max) + ")");
}

}  // namespace

uint64_t ReadUnsignedField(const nlohmann::json &value, const std::string &field, uint64_t max) {
  if (value.is_number_unsigned()) {
    const uint64_t result = value.get<uint64_t>();
    if (result > max) {
      FailRange(field, max);
    }
    return result;
  }
  if (value.is_number_integer()) {
    FailField(field, "must not be negative");
  }
  if (value.is_number_float()) {
    const double number = value.get<double>();
    if (number < 0) {
      FailField(field, "must not be negative");
    }
    if (number != number || number >= 18446744073709551616.0 || number > static_cast<double>(max)) {
      FailRange(field, max);
    }
    const auto result = static_cast<uint64_t>(number);
    if (static_cast<double>(result) != number) {
      FailField(field, "must be a whole number");
    }
    if (result > max) {
      FailRange(field, max);
    }
    return result;
  }
  if (value.is_string()) {
    const std::string text = value.get<std::string>();
    uint64_t result = 0;
    if (!ParseUnsignedText(text, UINT64_MAX, result)) {
      FailField(field, "not a number: \"" + text + "\"");
    }
    if (result > max) {
      FailRange(field, max);
    }
    return result;
  }
  FailField(field, "must be a number or a numeric text");
}

bool ReadBoolField(const nlohmann::json &value, const std::string &field) {
  if (!value.is_boolean()) {
    FailField(field, "must be true or false");
  }
  return value.get<bool>();
}

std::vector<uint8_t> ReadHexBytesField(const nlohmann::json &value, const std::string &field) {
  if (!value.is_string()) {
    FailField(field, "must be a text of hex byte pairs");
  }
  std::string digits;
  for (char c : value.get<std::string>()) {
    if (c == ' ' || c == ':' || c == '-') {
      continue;
    }
    if (!std::isxdigit(static_cast<unsigned char>(c))) {
      FailField(field, std::string("not a hex digit: '") + c + "'");
    }
    digits += c;
  }
  if (digits.size() % 2 != 0) {
    FailField(field, "odd number of hex digits");
  }
  std::vector<uint8_t> bytes;
  for (size_t i = 0; i < digits.size(); i += 2) {
    bytes.push_back(static_cast<uint8_t>(std::stoul(digits.substr(i, 2), nullptr, 16)));
  }
  return bytes;
}

}  // namespace sim
