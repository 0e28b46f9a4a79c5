// The platform description's JSON document and readers for its fields.
// Each throws PlatformError naming the field
// ("pci.root_bridges[0].bus: ...").
#pragma once

#include <cstdint>
#include <nlohmann/json.hpp>
#include <set>
#include <string>
#include <vector>

namespace sim {

[[noreturn]] void FailField(const std::string &field, const std::string &message);

// Parses a platform description's text. Every number is kept so that it
// can be read exactly: a number of digits alone (512) is an unsigned JSON
// number, any other (a minus sign, a fraction or an exponent: -1, 512.0,
// 5e2, 1e400) is kept as its text, which ReadUnsignedField reads digit by
// digit; a number too large for a double (1e400) is kept as one that is out
// of every field's range (1e300). A key that appears twice in one object is
// refused with its path. Text that is not JSON is refused with where it
// stops being JSON (line and column, counted in bytes from 1) and a short
// reason: "line 3, column 9: not valid JSON: a text in quotes is not
// closed"; the message never quotes the text.
nlohmann::json ParseJsonDocument(const std::string &text);

// The object's members must all be among the allowed names.
void CheckFields(const nlohmann::json &object, const std::string &where, const std::set<std::string> &allowed);

// A number written as decimal digits (leading zeros included: "0625" is
// 625) or as 0x followed by hex digits, nothing else: no sign, no spaces,
// no octal. False when the text is not such a number or exceeds max.
bool ParseUnsignedText(const std::string &text, uint64_t max, uint64_t &value);

// An unsigned number given as a JSON number (a whole one: 512.0, 5e2 and
// 0.512e3 are 512, read exactly however many digits they have) or as a
// text ParseUnsignedText reads. Refuses fractions, numbers over max (naming
// the range) and every number written with a minus sign, zero included
// (-0, -0.0, -0e0: "must not be negative").
uint64_t ReadUnsignedField(const nlohmann::json &value, const std::string &field, uint64_t max);

bool ReadBoolField(const nlohmann::json &value, const std::string &field);

// Hex byte pairs, optionally separated by spaces, colons or dashes.
std::vector<uint8_t> ReadHexBytesField(const nlohmann::json &value, const std::string &field);

// "where.name", or "name" at the top level.
std::string FieldPath(const std::string &where, const std::string &name);

}  // namespace sim
