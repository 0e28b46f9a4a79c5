#include "host/sim/DevicePathText.h"

#include <cstdio>

namespace sim {

namespace {

std::string Hex(uint64_t value) {
  char text[24];
  std::snprintf(text, sizeof(text), "0x%llX", static_cast<unsigned long long>(value));
  return text;
}

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
      name = "Path(" + std::to_string(node[0]) + "," + std::to_string(node[1]) + ",";
      for (size_t i = 4; i < length; i++) {
        char pair[4];
        std::snprintf(pair, sizeof(pair), "%02X", node[i]);
        name += pair;
      }
      name += ")";
    }
    text += (separate ? "/" : "") + name;
    separate = true;
    at += length;
  }
  return text + (separate ? "/" : "") + "<no end node>";
}

}  // namespace sim
