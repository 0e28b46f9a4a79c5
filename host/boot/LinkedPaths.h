// Device paths as the driver linked into this program reads and writes
// them, usable at any time: its ConvertTextToDevicePath, and the binary-to-
// text formatter (host/devtext) whose keyword forms it checks with the
// driver's node converter. Both run on a pool of the host's own (the
// driver's gBootServices points at it for the length of each call and is
// then put back), so they never touch a simulated firmware, its pool or its
// log, and may be used while a boot's firmware is alive or after it is gone.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "driver/firmware/Uefi.h"

namespace host {

// The bytes of the path the driver's ConvertTextToDevicePath makes of
// text, end node included; none when it makes none.
std::optional<std::vector<uint8_t>> LinkedTextToPath(const CHAR16 *text);

// The text of the path in bytes, as the formatter writes it ("PciRoot(0x0)/
// Pci(0x3,0x7)"); for bytes that are no valid path, the reason in angle
// brackets ("<the node at offset 4 has Length 2, below 4>").
std::string LinkedPathText(const std::vector<uint8_t> &bytes);

}  // namespace host
