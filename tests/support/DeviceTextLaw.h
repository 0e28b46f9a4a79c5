// The law of the device-path formatter: a binary path written as text
// converts back to the same bytes (bytes -> text -> bytes), and so does the
// text a conversion came from (text -> bytes -> text' -> bytes'). Checked
// with the linked-in converter, so a host::LinkedDriver must be alive.
#pragma once

#include <cstdint>
#include <cstring>
#include <optional>
#include <string>
#include <vector>

#include "driver/devpath/DevicePath.h"
#include "host/devtext/DeviceText.h"
#include "driver/base/Memory.h"

namespace law {

using Bytes = std::vector<uint8_t>;

// The formatter, made on first use; it holds the converter, not its pool,
// so it serves every later harness too.
inline const devtext::Formatter &LinkedFormatter() {
  static const devtext::Formatter formatter(devtext::LinkedNodeConverter());
  return formatter;
}

inline std::u16string Wide(const std::string &ascii) { return std::u16string(ascii.begin(), ascii.end()); }

// ConvertTextToDevicePath of a text, as bytes; nullopt for no path.
inline std::optional<Bytes> ConvertPath(const std::u16string &text) {
  EFI_DEVICE_PATH_PROTOCOL *path = ConvertTextToDevicePath(text.c_str());
  if (path == nullptr) {
    return std::nullopt;
  }
  const auto *start = reinterpret_cast<const uint8_t *>(path);
  Bytes bytes(start, start + GetDevicePathSize(path));
  PoolFree(path);
  return bytes;
}

// ConvertTextToDeviceNode of a text, as bytes; nullopt for no node.
inline std::optional<Bytes> ConvertNode(const std::u16string &text) {
  static const devtext::NodeConverter convert = devtext::LinkedNodeConverter();
  return convert(text);
}

inline std::string Hex(const Bytes &bytes) {
  static const char kDigits[] = "0123456789ABCDEF";
  std::string text;
  for (uint8_t byte : bytes) {
    text += text.empty() ? "" : " ";
    text += kDigits[byte >> 4];
    text += kDigits[byte & 0xF];
  }
  return text;
}

// bytes (a valid path, nothing after its end node) -> text -> bytes'. An
// empty answer when bytes' == bytes, else what went wrong.
inline std::string PathReadsBack(const Bytes &bytes) {
  const devtext::PathText text = LinkedFormatter().Path(bytes.data(), bytes.size());
  if (!text.Valid()) {
    return "the formatter refused a valid path (" + Hex(bytes) + "): " + text.error;
  }
  if (text.size != bytes.size()) {
    return "the formatter's path size " + std::to_string(text.size) + " is not the path's " +
           std::to_string(bytes.size());
  }
  const std::optional<Bytes> back = ConvertPath(Wide(text.text));
  if (!back || *back != bytes) {
    return "\"" + text.text + "\" converts to " + (back ? Hex(*back) : "null") + ", not " + Hex(bytes);
  }
  // Each node's own text converts to the node alone.
  for (const devtext::NodeText &node : text.nodes) {
    const std::optional<Bytes> converted = ConvertNode(Wide(node.text));
    const bool same = converted && converted->size() == node.length &&
                      std::memcmp(converted->data(), bytes.data() + node.offset, node.length) == 0;
    if (!same) {
      return "the node text \"" + node.text + "\" does not convert to the node at offset " +
             std::to_string(node.offset) + " of " + Hex(bytes);
    }
  }
  return "";
}

// text -> bytes -> text' -> bytes': empty when the text gives no path (no
// law to hold) or bytes' == bytes.
inline std::string TextReadsBack(const std::u16string &text) {
  const std::optional<Bytes> bytes = ConvertPath(text);
  return bytes ? PathReadsBack(*bytes) : "";
}

}  // namespace law
