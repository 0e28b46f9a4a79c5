// Fuzzes the text converter. The input's bytes are UCS-2 text, two bytes a
// character, low byte first; an odd last byte asks for a pool failure at
// that allocation (from then on when its top bit is set). Both the path and
// the node conversion run on the text, and so do the structured readers,
// which must leave their output alone when they refuse the text. A
// conversion is exact or null: under a pool failure each answer is null or
// the bytes the same text gives on a pool that never fails.
#include <cstring>
#include <optional>
#include <vector>

#include "tests/fuzz/FuzzFirmware.h"

namespace {

template <typename Output, typename Reader>
void CheckReader(Reader read, const CHAR16 *text, const char *what) {
  Output output;
  std::memset(&output, 0xEE, sizeof(output));
  Output untouched = output;
  if (EFI_ERROR(read(text, &output))) {
    fuzz::Check(std::memcmp(&output, &untouched, sizeof(output)) == 0, what);
  }
}

void CheckReaders(const std::vector<CHAR16> &text) {
  CheckReader<EFI_GUID>(ParseGuidText, text.data(), "ParseGuidText wrote on failure");
  CheckReader<EFI_IPv4_ADDRESS>(ParseIpv4Text, text.data(), "ParseIpv4Text wrote on failure");
  CheckReader<EFI_IPv6_ADDRESS>(ParseIpv6Text, text.data(), "ParseIpv6Text wrote on failure");
  for (auto scan : {&ScanDecimal, &ScanHex}) {
    const CHAR16 *end = nullptr;
    UINT64 value = 0;
    scan(text.data(), &end, &value);
    fuzz::Check(end >= text.data() && end < text.data() + text.size(), "a scanner's end pointer left the text");
  }
}

// The bytes of a result, or nothing for null.
using Answer = std::optional<std::vector<uint8_t>>;

Answer Keep(const EFI_DEVICE_PATH_PROTOCOL *result, uint64_t size) {
  if (result == nullptr) {
    return std::nullopt;
  }
  const auto *bytes = reinterpret_cast<const uint8_t *>(result);
  return std::vector<uint8_t>(bytes, bytes + size);
}

struct Answers {
  Answer path;
  Answer node;
};

// Both conversions of the text on a fresh firmware whose pool fails as
// asked (failAt 0: never), each result checked, kept and freed.
Answers Convert(const std::vector<CHAR16> &text, uint8_t failAt, bool fromThenOn) {
  auto driver = fuzz::StartDriver(failAt, fromThenOn);
  sim::SimFirmware &firmware = driver->Firmware();
  Answers answers;

  const uint64_t blocks = firmware.Pool().Statistics().outstandingBlocks;
  const uint64_t bytes = firmware.Pool().Statistics().outstandingBytes;

  EFI_DEVICE_PATH_PROTOCOL *path = ConvertTextToDevicePath(text.data());
  if (path != nullptr) {
    const uint64_t pathSize = GetDevicePathSize(path);
    fuzz::Check(pathSize != 0, "ConvertTextToDevicePath returned an invalid path");
    answers.path = Keep(path, pathSize);
    fuzz::CheckOwnedAndFree(firmware, path, pathSize, blocks, bytes);
  }
  fuzz::Check(firmware.Pool().Statistics().outstandingBlocks == blocks, "ConvertTextToDevicePath leaked pool");

  EFI_DEVICE_PATH_PROTOCOL *node = ConvertTextToDeviceNode(text.data());
  if (node != nullptr) {
    const uint16_t nodeSize = DevicePathNodeLength(node);
    fuzz::Check(nodeSize >= sizeof(EFI_DEVICE_PATH_PROTOCOL), "ConvertTextToDeviceNode returned a node below 4 bytes");
    answers.node = Keep(node, nodeSize);
    fuzz::CheckOwnedAndFree(firmware, node, nodeSize, blocks, bytes);
  }
  fuzz::Check(firmware.Pool().Statistics().outstandingBlocks == blocks, "ConvertTextToDeviceNode leaked pool");
  fuzz::Check(firmware.Pool().Statistics().invalidFrees == 0, "a block was freed that the pool never gave out");
  return answers;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  // Exactly the text and its terminator, so that a read beyond is caught.
  std::vector<CHAR16> text(size / 2 + 1, 0);
  for (size_t i = 0; i + 1 < size; i += 2) {
    text[i / 2] = static_cast<CHAR16>(data[i] | (data[i + 1] << 8));
  }
  CheckReaders(text);
  const uint8_t fault = size % 2 == 1 ? data[size - 1] : 0;
  const uint8_t failAt = fault & 0x7F;
  const Answers answers = Convert(text, failAt, (fault & 0x80) != 0);
  if (failAt != 0) {
    // One harness at a time: the clean run comes after the first is gone.
    const Answers clean = Convert(text, 0, false);
    fuzz::Check(!answers.path || answers.path == clean.path,
                "ConvertTextToDevicePath under a pool failure gave a path other than the clean one");
    fuzz::Check(!answers.node || answers.node == clean.node,
                "ConvertTextToDeviceNode under a pool failure gave a node other than the clean one");
  }
  return 0;
}
