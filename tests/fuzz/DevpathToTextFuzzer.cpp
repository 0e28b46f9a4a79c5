// Fuzzes the formatter of binary device paths against the converter: the
// text of a path must convert back to the same bytes. The first byte picks
// what the rest is: even, arbitrary bytes, formatted as a path (and as one
// node) wherever they make one, and refused with a reason when they do
// not; odd, UCS-2 text (two bytes a character, low byte first), converted,
// then bytes -> text -> bytes again. No pool failures: every conversion of
// a formatted text must succeed.
#include <cstring>
#include <optional>
#include <string>
#include <vector>

#include "host/devtext/DeviceText.h"
#include "tests/fuzz/FuzzFirmware.h"

namespace {

using Bytes = std::vector<uint8_t>;

const devtext::Formatter &Formatter() {
  static const devtext::Formatter formatter(devtext::LinkedNodeConverter());
  return formatter;
}

std::u16string Wide(const std::string &text) { return std::u16string(text.begin(), text.end()); }

std::optional<Bytes> ConvertPath(const std::u16string &text) {
  EFI_DEVICE_PATH_PROTOCOL *path = ConvertTextToDevicePath(text.c_str());
  if (path == nullptr) {
    return std::nullopt;
  }
  const auto *start = reinterpret_cast<const uint8_t *>(path);
  Bytes bytes(start, start + GetDevicePathSize(path));
  PoolFree(path);
  return bytes;
}

std::optional<Bytes> ConvertNode(const std::string &text) {
  EFI_DEVICE_PATH_PROTOCOL *node = ConvertTextToDeviceNode(Wide(text).c_str());
  if (node == nullptr) {
    return std::nullopt;
  }
  const auto *start = reinterpret_cast<const uint8_t *>(node);
  Bytes bytes(start, start + DevicePathNodeLength(node));
  PoolFree(node);
  return bytes;
}

void CheckPrintable(const std::string &text) {
  for (char c : text) {
    fuzz::Check(c >= 0x20 && c <= 0x7E, "the text holds a character outside printable ASCII");
  }
}

// A valid path (nothing after its end node): its text and every node's
// text convert back to exactly its bytes.
void CheckPathLaw(const Bytes &path) {
  const devtext::PathText text = Formatter().Path(path.data(), path.size());
  fuzz::Check(text.Valid(), "the formatter refused a valid path");
  fuzz::Check(text.size == path.size(), "the formatter's path size differs from the walk's");
  CheckPrintable(text.text);
  const std::optional<Bytes> back = ConvertPath(Wide(text.text));
  fuzz::Check(back.has_value() && *back == path, "a path's text does not convert back to its bytes");
  for (const devtext::NodeText &node : text.nodes) {
    const std::optional<Bytes> nodeBack = ConvertNode(node.text);
    fuzz::Check(nodeBack.has_value() && nodeBack->size() == node.length &&
                    std::memcmp(nodeBack->data(), path.data() + node.offset, node.length) == 0,
                "a node's text does not convert back to the node");
  }
}

void FuzzBytes(const uint8_t *data, size_t size) {
  // Exactly the bytes, so that a read past them is caught.
  const Bytes bytes(data, data + size);
  DEVICE_PATH_WALK walk = {};
  const uint64_t pathSize =
      size == 0 ? 0 : GetDevicePathSizeWithin(reinterpret_cast<const EFI_DEVICE_PATH_PROTOCOL *>(bytes.data()), size, &walk);
  const devtext::PathText text = Formatter().Path(bytes.data(), bytes.size());
  fuzz::Check(text.Valid() == (pathSize != 0), "the formatter and the walk disagree on a path's validity");
  if (pathSize != 0) {
    CheckPathLaw(Bytes(bytes.begin(), bytes.begin() + pathSize));
  } else {
    fuzz::Check(!text.error.empty() && text.text.empty() && text.nodes.empty(), "an invalid path has a text");
  }
  const devtext::PathText node = Formatter().Node(bytes.data(), bytes.size());
  if (node.Valid()) {
    CheckPrintable(node.text);
    const std::optional<Bytes> back = ConvertNode(node.text);
    fuzz::Check(back.has_value() && *back == bytes, "a node's text does not convert back to its bytes");
  }
}

void FuzzText(const uint8_t *data, size_t size) {
  std::vector<CHAR16> text(size / 2 + 1, 0);
  for (size_t i = 0; i + 1 < size; i += 2) {
    text[i / 2] = static_cast<CHAR16>(data[i] | (data[i + 1] << 8));
  }
  EFI_DEVICE_PATH_PROTOCOL *path = ConvertTextToDevicePath(text.data());
  if (path == nullptr) {
    return;
  }
  const auto *start = reinterpret_cast<const uint8_t *>(path);
  const Bytes bytes(start, start + GetDevicePathSize(path));
  PoolFree(path);
  CheckPathLaw(bytes);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  if (size == 0) {
    return 0;
  }
  auto driver = fuzz::StartDriver(0, false);
  if (data[0] % 2 == 0) {
    FuzzBytes(data + 1, size - 1);
  } else {
    FuzzText(data + 1, size - 1);
  }
  fuzz::Check(driver->Firmware().Pool().invalidFrees == 0, "a block was freed that the pool never gave out");
  return 0;
}
