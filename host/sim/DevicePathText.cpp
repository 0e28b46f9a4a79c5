#include "host/sim/DevicePathText.h"

#include "host/sim/Text.h"

namespace sim {

namespace {

uint32_t Le32(const uint8_t *bytes) {
  return static_cast<uint32_t>(bytes[0] | (bytes[1] << 8) | (bytes[2] << 16)) | (static_cast<uint32_t>(bytes[3]) << 24);
}

}  // namespace

std::string FormatDevicePath(const uint8_t *bytes, size_t limit) {
  std::string text;
  size_t at = 0;
  bool separate = false;
  while (at + 4 <= limit) {
    const uint8_t *node = bytes + at;
    const size_t length = node[2] | (node[3] << 8);
    if (length < 4 || at + length > limit) {
      return text + (separate ? "/" : "") + "<bad node>";
    }
    if (node[0] == 0x7F) {
      if (node[1] == 0xFF) {
        return text;
      }
      text += ",";
      separate = false;
      at += length;
      continue;
    }
    std::string name;
    if (node[0] == 0x02 && node[1] == 0x01 && length == 12 && Le32(node + 4) == 0x0A0341D0) {
      name = "PciRoot(" + Hex(Le32(node + 8)) + ")";
    } else if (node[0] == 0x02 && node[1] == 0x01 && length == 12 && Le32(node + 4) == 0x0A0841D0) {
      name = "PcieRoot(" + Hex(Le32(node + 8)) + ")";
    } else if (node[0] == 0x01 && node[1] == 0x01 && length == 6) {
      name = "Pci(" + Hex(node[5]) + "," + Hex(node[4]) + ")";
    } else {
      name = "Path(" + std::to_string(node[0]) + "," + std::to_string(node[1]) + "," +
             HexBytes(node + 4, length - 4, "") + ")";
    }
    text += (separate ? "/" : "") + name;
    separate = true;
    at += length;
  }
  return text + (separate ? "/" : "") + "<no end node>";
}

std::vector<uint8_t> CaptureDevicePath(const uint8_t *bytes, size_t limit) {
  size_t at = 0;
  while (at + 4 <= limit) {
    const uint8_t *node = bytes + at;
    const size_t length = node[2] | (node[3] << 8);
    if (length < 4 || at + length > limit) {
      return std::vector<uint8_t>(bytes, bytes + at + 4);
    }
    at += length;
    if (node[0] == 0x7F && node[1] == 0xFF) {
      break;
    }
  }
  return std::vector<uint8_t>(bytes, bytes + at);
}

}  // namespace sim
