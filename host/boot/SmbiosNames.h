// SMBIOS names of the record types and field values the inventory uses.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace host {

std::string SmbiosTypeName(uint8_t type);
std::string ConnectorTypeName(uint8_t value);
std::string PortTypeName(uint8_t value);
std::string SlotTypeName(uint8_t value);
std::string SlotWidthName(uint8_t value);
std::string SlotUsageName(uint8_t value);
std::string SlotLengthName(uint8_t value);

// The Slot Characteristics 1 and 2 bytes of a Type 9 record, one line per
// bit set, in the words dmidecode uses for the SMBIOS bit definitions ("3.3 V
// is provided"): "Unknown" alone when bit 0 of the first byte says the
// characteristics are unknown, "None" when no bit is set.
std::vector<std::string> SlotCharacteristicsText(uint8_t first, uint8_t second);

// A Type 9 record's Segment Group Number, Bus Number and Device/Function
// Number as lspci and dmidecode write a PCI address: "0000:00:02.2"
// (segment:bus:device.function, lower-case hex). Empty for 0xFFFF, 0xFF,
// 0xFF, which SMBIOS gives a slot that is not on PCI.
std::string PciBusAddress(uint16_t segment, uint8_t bus, uint8_t deviceFunction);

}  // namespace host
