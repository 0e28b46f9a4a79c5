// Device-path text for reports: the host's own reading of a binary path,
// independent of the driver's converter. It names root bridges and PCI
// nodes as the text representation does and shows other nodes generically.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace sim {

// Formats the path at bytes, reading no more than limit bytes; a node whose
// length is below 4 or runs past the limit ends the text with "<bad node>".
std::string FormatDevicePath(const uint8_t *bytes, size_t limit);

// The bytes of the path at bytes that FormatDevicePath reads, reading no
// more than limit bytes: every node up to and including the end node (or
// up to the header of a bad node, or up to where no whole header is left).
// The copy formats to the same text as the original.
std::vector<uint8_t> CaptureDevicePath(const uint8_t *bytes, size_t limit);

}  // namespace sim
