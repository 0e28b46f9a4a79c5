// Readers for the fields of a platform description. Each throws
// PlatformError naming the field ("pci.root_bridges[0].bus: ...").
#pragma once

#include <cstdint>
#include <nlohmann/json.hpp>
#include <set>
#include <string>
#include <vector>

namespace sim {

[[noreturn]] void FailField(const std::string &field, const std::string &message);

// The object's members must all be among the allowed names.
void CheckFields(const nlohmann::json &object, const std::string &where, const std::set<std::string> &allowed);

// A number written as decimal digits (leading zeros included: "0625" is
// 625) or as 0x followed by hex digits, nothing else: no sign, no spaces,
// no octal. False when the text is not such a number or exceeds max.
bool ParseUnsignedText(const std::string &text, uint64_t max, uint64_t &value);

// An unsigned number given as a JSON number (a whole one: 512.0 and 5e2
// are 512) or as a text ParseUnsignedText reads. Refuses fractions,
// negative numbers and numbers over max, naming the field and the range.
uint64_t ReadUnsignedField(const nlohmann::json &value, const std::string &field, uint64_t max);

bool ReadBoolField(const nlohmann::json &value, const std::string &field);

// Hex byte pairs, optionally separated by spaces, colons or dashes.
std::vector<uint8_t> ReadHexBytesField(const nlohmann::json &value, const std::string &field);

// "where.name", or "name" at the top level.
std::string FieldPath(const std::string &where, const std::string &name);

}  // namespace sim
