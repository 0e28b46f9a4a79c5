// The driver's converter as the devpath command runs it: the one linked
// into boardinv or the one inside a shipped image (--efi), each with a
// simulated firmware for its pool; and the driver's own routines that
// read a text (its node cuts, its keyword matching) and a node's Length.
#include "tools/boardinv/Devpath.h"

#include "host/loader/PeImage.h"
#include "host/sim/Platform.h"
#include "driver/base/Memory.h"
#include "tools/boardinv/Commands.h"

namespace boardinv::devpath {

// The Length of the node at offset, read by the driver's own reader; the
// node's header lies within the bytes.
uint16_t LengthAt(const Bytes &bytes, size_t offset) {
  return DevicePathNodeLength(reinterpret_cast<const EFI_DEVICE_PATH_PROTOCOL *>(bytes.data() + offset));
}

// The keyword that made a node text's node: the driver's own keyword
// matching. Empty when no keyword claims it (the text names a file).
std::string KeywordOf(const std::u16string &nodeText) {
  const CHAR8 *keyword = NodeTextKeyword(nodeText.c_str());
  return keyword != nullptr ? std::string(keyword) : "";
}

// The node texts of a path text, cut by the driver's own routine, exactly
// where the converter cuts them; an unbalanced tail is dropped, as the
// converter drops it.
std::vector<std::u16string> NodeTexts(const std::u16string &text) {
  std::u16string working = text;  // holds no NUL: Utf8ToUcs2 refuses one
  std::vector<std::u16string> nodes;
  CHAR16 *cursor = working.data();
  while (*cursor != 0) {
    BOOLEAN instanceEnd = FALSE;
    const CHAR16 *nodeText = CutNodeText(&cursor, &instanceEnd);
    if (nodeText == nullptr) {
      break;
    }
    nodes.emplace_back(nodeText);
  }
  return nodes;
}

Converter::Converter(const DevpathOptions &options) : firmware_(sim::DefaultPlatform()), linkedDriver_(firmware_) {
  if (!options.efiGiven) {
    return;
  }
  try {
    image_ = LoadDriverImageOrDie(options.efiFile);
    inImage_ = std::make_unique<host::ImageDevicePathFunctions>(*image_, firmware_);
  } catch (const loader::ImageError &error) {
    Die(error.what());
  }
}

std::optional<Bytes> Converter::Convert(const std::u16string &text, bool node) {
  const DriverScope scope;
  if (inImage_ != nullptr) {
    // The image's answer, checked before any of it is used.
    return inImage_->Convert(text.c_str(), node);
  }
  EFI_DEVICE_PATH_PROTOCOL *result = node ? ConvertTextToDeviceNode(text.c_str()) : ConvertTextToDevicePath(text.c_str());
  if (result == nullptr) {
    return std::nullopt;
  }
  const uint64_t size = node ? DevicePathNodeLength(result) : GetDevicePathSize(result);
  const auto *start = reinterpret_cast<const uint8_t *>(result);
  Bytes bytes(start, start + size);
  PoolFree(result);
  return bytes;
}

uint64_t Converter::PathSize(const Bytes &bytes) const {
  const DriverScope scope;
  const auto *path = reinterpret_cast<const EFI_DEVICE_PATH_PROTOCOL *>(bytes.data());
  return inImage_ != nullptr ? inImage_->GetDevicePathSize(path, bytes.size()) : GetDevicePathSize(path);
}

uint64_t Converter::PathSizeWithin(const Bytes &bytes, DEVICE_PATH_WALK *walk) const {
  const DriverScope scope;
  const auto *path = reinterpret_cast<const EFI_DEVICE_PATH_PROTOCOL *>(bytes.data());
  return inImage_ != nullptr ? inImage_->GetDevicePathSizeWithin(path, bytes.size(), walk)
                             : GetDevicePathSizeWithin(path, bytes.size(), walk);
}

const devtext::Formatter &Converter::Formatter() {
  if (formatter_ == nullptr) {
    formatter_ = std::make_unique<devtext::Formatter>(
        [this](const std::u16string &nodeText) { return Convert(nodeText, true); });
  }
  return *formatter_;
}

}  // namespace boardinv::devpath
