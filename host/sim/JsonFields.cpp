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

uint64_t ReadUnsignedField(const nlohmann::json &value, const std::string &field, uint64_t max) {
  uint64_t result = 0;
  if (value.is_number_unsigned()) {
    result = value.get<uint64_t>();
  } else if (value.is_number_integer()) {
    FailField(field, "must not be negative");
  } else if (value.is_string()) {
    const std::string text = value.get<std::string>();
    size_t used = 0;
    try {
      result = std::stoull(text, &used, 0);
    } catch (const std::exception &) {
      used = 0;
    }
    if (text.empty() || used != text.size() || text[0] == '-' || text[0] == '+') {
      FailField(field, "not a number: \"" + text + "\"");
    }
  } else {
    FailField(field, "must be a number or a numeric text");
  }
  if (result > max) {
    FailField(field, "out of range (at most " + Hex(max) + ")");
  }
  return result;
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
