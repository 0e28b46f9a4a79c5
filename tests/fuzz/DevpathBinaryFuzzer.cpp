// Fuzzes the binary path operations on arbitrary bytes. Input: a fault
// byte (0: none; else the allocation that fails, from then on when its top
// bit is set), a split byte, then the bytes of two paths, First and Second,
// cut where the split byte says. The operations take paths without a size,
// so each byte string is first walked by a bounded model of the validity
// rules; only strings whose walk stays inside them are handed over, and
// every result must agree with the model.
#include <optional>
#include <vector>

#include "tests/fuzz/FuzzFirmware.h"

namespace {

using Bytes = std::vector<uint8_t>;

const Bytes kEnd = {0x7F, 0xFF, 0x04, 0x00};

struct Model {
  bool inBounds = false;  // validation reads only inside the bytes
  bool valid = false;
  uint64_t size = 0;  // of a valid path
};

uint16_t LengthAt(const Bytes &bytes, size_t offset) {
  return static_cast<uint16_t>(bytes[offset + 2] | (bytes[offset + 3] << 8));
}

Model Walk(const Bytes &bytes) {
  for (size_t offset = 0; offset + 4 <= bytes.size();) {
    const uint8_t type = bytes[offset], subType = bytes[offset + 1];
    const uint16_t length = LengthAt(bytes, offset);
    if (type == 0x7F && subType == 0xFF) {
      return {true, length == 4, length == 4 ? offset + 4 : 0};
    }
    if (length < 4) {
      return {true, false, 0};
    }
    if (type == 4 && subType == 4) {
      if (offset + length > bytes.size()) {
        break;
      }
      if (bytes[offset + length - 2] != 0 || bytes[offset + length - 1] != 0) {
        return {true, false, 0};
      }
    }
    offset += length;
  }
  return {};  // the walk would leave the bytes
}

const EFI_DEVICE_PATH_PROTOCOL *AsPath(const Bytes *bytes) {
  return bytes == nullptr ? nullptr : reinterpret_cast<const EFI_DEVICE_PATH_PROTOCOL *>(bytes->data());
}

// First's nodes, then Second's nodes and end node; a null path reads as
// empty, an invalid one gives no path.
std::optional<Bytes> Joined(const Bytes *first, const Bytes *second) {
  const Model firstModel = first != nullptr ? Walk(*first) : Model{true, true, 4};
  const Model secondModel = second != nullptr ? Walk(*second) : Model{true, true, 4};
  if (!firstModel.valid || !secondModel.valid) {
    return std::nullopt;
  }
  Bytes joined;
  if (first != nullptr) {
    joined.assign(first->begin(), first->begin() + static_cast<long>(firstModel.size - 4));
  }
  if (second != nullptr) {
    joined.insert(joined.end(), second->begin(), second->begin() + static_cast<long>(secondModel.size));
  } else {
    joined.insert(joined.end(), kEnd.begin(), kEnd.end());
  }
  return joined;
}

// Runs an append: the result must be exactly the expected bytes in one new
// block of their size, or null where no path is expected or where the
// pool refused an allocation during the call.
template <typename Append>
void CheckAppend(sim::SimFirmware &firmware, Append append, const std::optional<Bytes> &expected) {
  const uint64_t blocks = firmware.Pool().Statistics().outstandingBlocks;
  const uint64_t bytes = firmware.Pool().Statistics().outstandingBytes;
  const uint64_t refused = firmware.Pool().Statistics().failedAllocations;
  EFI_DEVICE_PATH_PROTOCOL *result = append();
  if (result == nullptr) {
    fuzz::Check(!expected || firmware.Pool().Statistics().failedAllocations > refused,
                "an append gave null with pool to spare");
  } else {
    fuzz::Check(expected.has_value(), "an append of an invalid path gave a path");
    const uint64_t size = GetDevicePathSize(result);
    const auto *start = reinterpret_cast<const uint8_t *>(result);
    fuzz::Check(size == expected->size() && Bytes(start, start + size) == *expected, "an appended path is wrong");
    fuzz::CheckOwnedAndFree(firmware, result, size, blocks, bytes);
  }
  fuzz::Check(firmware.Pool().Statistics().outstandingBlocks == blocks, "an append leaked pool");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  if (size < 2) {
    return 0;
  }
  const uint8_t fault = data[0];
  const size_t cut = 2 + data[1] % (size - 1);
  const Bytes first(data + 2, data + cut);
  const Bytes second(data + cut, data + size);
  auto driver = fuzz::StartDriver(fault & 0x7F, (fault & 0x80) != 0);
  sim::SimFirmware &firmware = driver->Firmware();

  for (const Bytes *path : {&first, &second}) {
    const Model model = Walk(*path);
    if (model.inBounds) {
      fuzz::Check(ValidateDevicePath(AsPath(path)) == model.valid, "ValidateDevicePath disagrees with the rules");
      fuzz::Check(GetDevicePathSize(AsPath(path)) == model.size, "GetDevicePathSize disagrees with the rules");
    }
  }
  fuzz::Check(!ValidateDevicePath(nullptr) && GetDevicePathSize(nullptr) == 0, "a null path is measured");

  // Every pairing of the two strings and null that validation can read.
  const bool firstReadable = Walk(first).inBounds;
  const bool secondReadable = Walk(second).inBounds;
  for (const Bytes *one : {&first, &second, static_cast<const Bytes *>(nullptr)}) {
    for (const Bytes *two : {&first, &second, static_cast<const Bytes *>(nullptr)}) {
      if ((one == &first || two == &first) && !firstReadable) {
        continue;
      }
      if ((one == &second || two == &second) && !secondReadable) {
        continue;
      }
      CheckAppend(firmware, [&] { return AppendDevicePath(AsPath(one), AsPath(two)); }, Joined(one, two));
    }
  }

  // Second as one node, when its Length lies inside it.
  if (second.size() >= 4 && LengthAt(second, 0) <= second.size()) {
    const uint16_t length = LengthAt(second, 0);
    std::optional<Bytes> onePath;
    if (length >= 4) {
      onePath = Bytes(second.begin(), second.begin() + length);
      onePath->insert(onePath->end(), kEnd.begin(), kEnd.end());
    }
    for (const Bytes *path : {&first, static_cast<const Bytes *>(nullptr)}) {
      if (path == &first && !firstReadable) {
        continue;
      }
      CheckAppend(firmware, [&] { return AppendDeviceNode(AsPath(path), AsPath(&second)); },
                  onePath ? Joined(path, &*onePath) : std::nullopt);
    }
  }
  fuzz::Check(firmware.Pool().Statistics().outstandingBlocks == 0, "pool blocks leaked");
  fuzz::Check(firmware.Pool().Statistics().invalidFrees == 0, "a block was freed that the pool never gave out");
  return 0;
}
