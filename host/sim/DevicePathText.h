// Device-path text for reports: the host's own reading of a binary path,
// independent of the driver's converter. It names root bridges and PCI
// nodes as the text representation does and shows other nodes generically.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace sim {

// Formats the path at bytes, reading no more than limit bytes; a node whose
// length is below 4 or runs past the limit ends the text with "<bad node>".
std::string FormatDevicePath(const uint8_t *bytes, size_t limit);

}  // namespace sim
