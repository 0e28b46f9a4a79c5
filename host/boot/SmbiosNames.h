// SMBIOS names of the record types and field values the inventory uses.
#pragma once

#include <cstdint>
#include <string>

namespace host {

std::string SmbiosTypeName(uint8_t type);
std::string ConnectorTypeName(uint8_t value);
std::string PortTypeName(uint8_t value);
std::string SlotTypeName(uint8_t value);
std::string SlotWidthName(uint8_t value);
std::string SlotUsageName(uint8_t value);
std::string SlotLengthName(uint8_t value);

}  // namespace host
