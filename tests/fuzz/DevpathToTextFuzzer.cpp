// Fuzzes the formatter of binary device paths against the converter: the
// text of a path must convert back to the same bytes. The first byte picks
// what the rest is: even, arbitrary bytes, formatted as a path (and as one
// node) wherever they make one, and refused with a reason when they do
// not; odd, UCS-2 text (two bytes a character, low byte first), converted,
// then bytes -> text -> bytes again. No pool failures: every conversion of
// a formatted text must succeed.
#include <optional>
#include <string>

#include "host/devtext/DeviceText.h"
#include "tests/fuzz/FuzzFirmware.h"
#include "tests/support/DeviceTextLaw.h"

namespace {

using law::Bytes;

void CheckPrintable(const std::string &text) {
  for (char c : text) {
    fuzz::Check(c >= 0x20 && c <= 0x7E, "the text holds a character outside printable ASCII");
  }
}

// A valid path (nothing after its end node): its text and every node's
// text convert back to exactly its bytes.
void CheckPathLaw(const Bytes &path) {
  CheckPrintable(law::LinkedFormatter().Path(path.data(), path.size()).text);
  const std::string fault = law::PathReadsBack(path);
  fuzz::Check(fault.empty(), fault.c_str());
}

void FuzzBytes(const uint8_t *data, size_t size) {
  // Exactly the bytes, so that a read past them is caught.
  const Bytes bytes(data, data + size);
  DEVICE_PATH_WALK walk = {};
  const uint64_t pathSize =
      size == 0 ? 0 : GetDevicePathSizeWithin(reinterpret_cast<const EFI_DEVICE_PATH_PROTOCOL *>(bytes.data()), size, &walk);
  const devtext::PathText text = law::LinkedFormatter().Path(bytes.data(), bytes.size());
  fuzz::Check(text.Valid() == (pathSize != 0), "the formatter and the walk disagree on a path's validity");
  if (pathSize != 0) {
    CheckPathLaw(Bytes(bytes.begin(), bytes.begin() + pathSize));
  } else {
    fuzz::Check(!text.error.empty() && text.text.empty() && text.nodes.empty(), "an invalid path has a text");
  }
  const devtext::PathText node = law::LinkedFormatter().Node(bytes.data(), bytes.size());
  if (node.Valid()) {
    CheckPrintable(node.text);
    const std::optional<Bytes> back = law::ConvertNode(law::Wide(node.text));
    fuzz::Check(back.has_value() && *back == bytes, "a node's text does not convert back to its bytes");
  }
}

void FuzzText(const uint8_t *data, size_t size) {
  std::u16string text;
  for (size_t i = 0; i + 1 < size; i += 2) {
    text.push_back(static_cast<char16_t>(data[i] | (data[i + 1] << 8)));
  }
  const std::optional<Bytes> bytes = law::ConvertPath(text);
  if (bytes) {
    CheckPathLaw(*bytes);
  }
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
  fuzz::Check(driver->Firmware().Pool().Statistics().invalidFrees == 0,
              "a block was freed that the pool never gave out");
  return 0;
}
