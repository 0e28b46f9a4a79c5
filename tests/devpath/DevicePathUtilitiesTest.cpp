// Binary device paths: validity, size, appending and node creation,
// including nodes of odd length that put the next node at an odd address.
#include <cstring>
#include <string>
#include <vector>

#include "tests/devpath/DevpathTestSupport.h"

namespace devpath_test {
namespace {

const std::string kSlotPath = "02 01 0C 00 D0 41 03 0A 00 00 00 00 01 01 06 00 08 08 7F FF 04 00";

// Bytes placed at an odd address, so that every node stands where a 16-bit
// load of its Length would be misaligned.
class OddPlaced {
 public:
  explicit OddPlaced(const Bytes &bytes) : storage_(bytes.size() + 1) {
    if (!bytes.empty()) {
      std::memcpy(storage_.data() + 1, bytes.data(), bytes.size());
    }
  }
  const EFI_DEVICE_PATH_PROTOCOL *Path() const {
    return reinterpret_cast<const EFI_DEVICE_PATH_PROTOCOL *>(storage_.data() + 1);
  }

 private:
  std::vector<uint8_t> storage_;
};

struct ValidityCase {
  std::string bytes;
  UINT64 size;  // 0: invalid
};

TEST(ValidateDevicePath, AcceptsWellFormedPathsOnly) {
  const std::vector<ValidityCase> cases = {
      {"7F FF 04 00", 4},
      {"7F FF 05 00", 0},
      {"7F FF 03 00", 0},
      {kSlotPath, 22},
      // A node of Length 3 before the end node.
      {"01 01 03 00 7F FF 04 00", 0},
      {"01 01 00 00 7F FF 04 00", 0},
      // A node of odd Length: the next node follows at an odd distance.
      {"01 05 05 00 AB 7F FF 04 00", 9},
      {"01 05 05 00 AB 01 01 06 00 00 00 7F FF 04 00", 15},
      // File-path nodes: the last 16-bit unit must be zero.
      {"04 04 08 00 41 00 00 00 7F FF 04 00", 12},
      {"04 04 08 00 41 00 42 00 7F FF 04 00", 0},
      {"04 04 07 00 41 00 00 7F FF 04 00", 11},
      {"04 04 07 00 00 41 00 7F FF 04 00", 0},
      {"04 04 04 00 7F FF 04 00", 0},
      // The instance end is an ordinary node; the walk goes through it.
      {"01 01 06 00 02 01 7F 01 04 00 01 01 06 00 04 03 7F FF 04 00", 20},
      {"7F 01 04 00 7F FF 04 00", 8},
      {"7F 01 02 00 7F FF 04 00", 0},
  };
  for (const auto &c : cases) {
    const OddPlaced path(FromHex(c.bytes));
    EXPECT_EQ(ValidateDevicePath(path.Path()), c.size != 0) << c.bytes;
    EXPECT_EQ(GetDevicePathSize(path.Path()), c.size) << c.bytes;
  }
  EXPECT_FALSE(ValidateDevicePath(nullptr));
  EXPECT_EQ(GetDevicePathSize(nullptr), 0u);
}

struct BoundedCase {
  std::string what;
  std::string bytes;  // exactly the Limit bytes the walk may read
  UINT64 size;        // 0: invalid
  DEVICE_PATH_FAULT fault;
  UINT64 offset;
};

std::string FaultName(DEVICE_PATH_FAULT fault) {
  switch (fault) {
    case DevicePathValid: return "Valid";
    case DevicePathNull: return "Null";
    case DevicePathNoEndNode: return "NoEndNode";
    case DevicePathEndNodeLength: return "EndNodeLength";
    case DevicePathNodeTooShort: return "NodeTooShort";
    case DevicePathNodePastLimit: return "NodePastLimit";
    case DevicePathFileNameUnterminated: return "FileNameUnterminated";
  }
  return "fault " + std::to_string(static_cast<int>(fault));
}

TEST(GetDevicePathSizeWithin, WalksNoFurtherThanTheLimitAndSaysWhereAndWhyItStopped) {
  // Each path stands at an odd address in a block of exactly Limit bytes,
  // so a read past the limit is a read past the block (caught under the
  // sanitizers).
  const std::vector<BoundedCase> cases = {
      {"an end node at the exact limit", "7F FF 04 00", 4, DevicePathValid, 0},
      {"the slot path at the exact limit", kSlotPath, 22, DevicePathValid, 18},
      {"the end node one byte short", "7F FF 04", 0, DevicePathNoEndNode, 0},
      {"the slot path one byte short", kSlotPath.substr(0, kSlotPath.size() - 3), 0, DevicePathNoEndNode, 18},
      {"no bytes at all", "", 0, DevicePathNoEndNode, 0},
      {"no end node: the limit falls between nodes", "01 01 06 00 02 01", 0, DevicePathNoEndNode, 6},
      {"no end node: the limit falls inside a header", "01 01 06 00 02 01 01 01 06", 0, DevicePathNoEndNode, 6},
      {"a first node of Length 3", "01 01 03 00 7F FF 04 00", 0, DevicePathNodeTooShort, 0},
      {"a second node of Length 0", "01 01 06 00 02 01 01 01 00 00 7F FF 04 00", 0, DevicePathNodeTooShort, 6},
      {"a node of Length 1 at an odd offset", "01 05 05 00 AB 03 0A 01 00 7F FF 04 00", 0, DevicePathNodeTooShort,
       5},
      {"a Length running past the limit by one", "01 01 06 00 02 01 01 01 07 00 00 00", 0, DevicePathNodePastLimit,
       6},
      {"a first node running past the limit", "01 01 06 00 02", 0, DevicePathNodePastLimit, 0},
      {"a Length of 0xFFFF in a short block", "04 04 FF FF 41 00 00 00 7F FF 04 00", 0, DevicePathNodePastLimit, 0},
      {"a Length that just fits", "01 01 06 00 02 01 01 01 06 00 00 00 7F FF 04 00", 16, DevicePathValid, 12},
      {"an end node of Length 5", "7F FF 05 00 00", 0, DevicePathEndNodeLength, 0},
      {"an end node of Length 3 after a node", "01 01 06 00 02 01 7F FF 03 00", 0, DevicePathEndNodeLength, 6},
      {"a file name without its terminator", "04 04 08 00 41 00 42 00 7F FF 04 00", 0,
       DevicePathFileNameUnterminated, 0},
      {"an instance end is stepped over", "7F 01 04 00 7F FF 04 00", 8, DevicePathValid, 4},
      {"bytes after the end node are not read", "7F FF 04 00 AA BB", 4, DevicePathValid, 0},
  };
  for (const auto &c : cases) {
    const Bytes bytes = FromHex(c.bytes);
    const OddPlaced path(bytes);
    DEVICE_PATH_WALK walk = {DevicePathNull, 0xDEAD};
    EXPECT_EQ(GetDevicePathSizeWithin(path.Path(), bytes.size(), &walk), c.size) << c.what;
    EXPECT_EQ(FaultName(walk.Fault), FaultName(c.fault)) << c.what;
    EXPECT_EQ(walk.Offset, c.offset) << c.what;
    // Without a place for the walk, the same size.
    EXPECT_EQ(GetDevicePathSizeWithin(path.Path(), bytes.size(), nullptr), c.size) << c.what;
    // With no limit, a path valid within its bytes has the same size.
    if (c.size != 0) {
      EXPECT_EQ(GetDevicePathSize(path.Path()), c.size) << c.what;
      EXPECT_TRUE(ValidateDevicePath(path.Path())) << c.what;
    }
  }
}

TEST(GetDevicePathSizeWithin, ANullPathHasNoSize) {
  DEVICE_PATH_WALK walk = {DevicePathValid, 7};
  EXPECT_EQ(GetDevicePathSizeWithin(nullptr, 100, &walk), 0u);
  EXPECT_EQ(FaultName(walk.Fault), "Null");
  EXPECT_EQ(walk.Offset, 0u);
  EXPECT_EQ(GetDevicePathSizeWithin(nullptr, 100, nullptr), 0u);
}

TEST(GetDevicePathSizeWithin, AgreesWithTheUnboundedWalkAtEveryLimit) {
  // Every limit from 0 to the whole path: only a limit that holds the end
  // node gives the size, and every shorter one ends the walk before the
  // bytes it may not read.
  const Bytes bytes = FromHex("01 05 05 00 AB 04 04 08 00 41 00 00 00 7F 01 04 00 7F FF 04 00");
  for (size_t limit = 0; limit <= bytes.size(); limit++) {
    const OddPlaced path(Bytes(bytes.begin(), bytes.begin() + static_cast<std::ptrdiff_t>(limit)));
    DEVICE_PATH_WALK walk = {};
    const UINT64 size = GetDevicePathSizeWithin(path.Path(), limit, &walk);
    EXPECT_EQ(size, limit == bytes.size() ? bytes.size() : 0u) << "limit " << limit;
    EXPECT_LE(walk.Offset, limit) << "limit " << limit;
    if (limit < bytes.size()) {
      EXPECT_TRUE(walk.Fault == DevicePathNoEndNode || walk.Fault == DevicePathNodePastLimit)
          << "limit " << limit << ": " << FaultName(walk.Fault);
    }
  }
}

TEST(DevicePathNodeLength, ReadsAndWritesTwoBytesLittleEndian) {
  Bytes bytes = FromHex("00 01 02 03 04");
  auto *node = reinterpret_cast<EFI_DEVICE_PATH_PROTOCOL *>(bytes.data() + 1);
  EXPECT_EQ(DevicePathNodeLength(node), 0x0403);
  SetDevicePathNodeLength(node, 0xBEEF);
  EXPECT_EQ(ToHex(bytes), "00 01 02 EF BE");
}

using AppendTest = PoolTest;

TEST_F(AppendTest, AppendDevicePathJoinsOverTheFirstEndNode) {
  const OddPlaced first(FromHex(kSlotPath));
  const OddPlaced second(FromHex("01 05 05 00 AB 7F 01 04 00 7F FF 04 00"));
  auto joined = Owned([&] { return AppendDevicePath(first.Path(), second.Path()); }, false);
  ASSERT_TRUE(joined);
  EXPECT_EQ(joined->size(), 22u + 13u - 4u);
  EXPECT_EQ(ToHex(*joined),
            "02 01 0C 00 D0 41 03 0A 00 00 00 00 01 01 06 00 08 08 01 05 05 00 AB 7F 01 04 00 7F FF 04 00");

  const OddPlaced ten(FromHex("01 01 06 00 00 03 7F FF 04 00"));
  auto sized = Owned([&] { return AppendDevicePath(first.Path(), ten.Path()); }, false);
  ASSERT_TRUE(sized);
  EXPECT_EQ(sized->size(), 28u);
}

TEST_F(AppendTest, NullInputsGiveFreshCopies) {
  const OddPlaced path(FromHex(kSlotPath));
  const OddPlaced node(FromHex("01 01 06 00 00 03"));
  EXPECT_EQ(ToHex(*Owned([] { return AppendDevicePath(nullptr, nullptr); }, false)), "7F FF 04 00");
  EXPECT_EQ(ToHex(*Owned([] { return AppendDeviceNode(nullptr, nullptr); }, false)), "7F FF 04 00");
  EXPECT_EQ(ToHex(*Owned([&] { return AppendDevicePath(path.Path(), nullptr); }, false)), kSlotPath);
  EXPECT_EQ(ToHex(*Owned([&] { return AppendDevicePath(nullptr, path.Path()); }, false)), kSlotPath);
  EXPECT_EQ(ToHex(*Owned([&] { return AppendDeviceNode(path.Path(), nullptr); }, false)), kSlotPath);
  EXPECT_EQ(ToHex(*Owned([&] { return AppendDeviceNode(nullptr, node.Path()); }, false)),
            "01 01 06 00 00 03 7F FF 04 00");
  // A copy is a new block, never the input.
  EFI_DEVICE_PATH_PROTOCOL *copy = AppendDevicePath(path.Path(), nullptr);
  EXPECT_NE(copy, path.Path());
  PoolFree(copy);
}

TEST_F(AppendTest, AppendDeviceNodeAddsOneNodeBeforeTheEnd) {
  const OddPlaced path(FromHex("01 01 06 00 02 01 7F 01 04 00 7F FF 04 00"));
  const OddPlaced oddNode(FromHex("01 05 05 00 AB"));
  EXPECT_EQ(ToHex(*Owned([&] { return AppendDeviceNode(path.Path(), oddNode.Path()); }, false)),
            "01 01 06 00 02 01 7F 01 04 00 01 05 05 00 AB 7F FF 04 00");
}

TEST_F(AppendTest, InvalidInputsGiveNull) {
  const OddPlaced valid(FromHex(kSlotPath));
  const OddPlaced invalid(FromHex("01 01 03 00 7F FF 04 00"));
  const OddPlaced shortNode(FromHex("01 01 02 00 7F FF 04 00"));
  const OddPlaced unterminatedFile(FromHex("04 04 06 00 41 00"));
  EXPECT_FALSE(Owned([&] { return AppendDevicePath(valid.Path(), invalid.Path()); }, false));
  EXPECT_FALSE(Owned([&] { return AppendDevicePath(invalid.Path(), valid.Path()); }, false));
  EXPECT_FALSE(Owned([&] { return AppendDevicePath(invalid.Path(), nullptr); }, false));
  EXPECT_FALSE(Owned([&] { return AppendDeviceNode(invalid.Path(), nullptr); }, false));
  EXPECT_FALSE(Owned([&] { return AppendDeviceNode(valid.Path(), shortNode.Path()); }, false));
  EXPECT_FALSE(Owned([&] { return AppendDeviceNode(valid.Path(), unterminatedFile.Path()); }, false));
  EXPECT_FALSE(ValidateDeviceNode(unterminatedFile.Path()));
  EXPECT_FALSE(ValidateDeviceNode(OddPlaced(FromHex("7F FF 05 00")).Path()));
  EXPECT_TRUE(ValidateDeviceNode(OddPlaced(FromHex("7F FF 04 00")).Path()));
  EXPECT_TRUE(ValidateDeviceNode(OddPlaced(FromHex("01 05 05 00 AB")).Path()));
}

TEST(ValidateDeviceNode, JudgesOneNodeAsTheNodeBeforeAnEndNode) {
  const std::vector<std::pair<std::string, bool>> cases = {
      {"7F FF 04 00", true},
      {"7F FF 05 00 00", false},
      {"7F FF 03 00", false},
      {"7F FF 00 00", false},
      {"7F 01 04 00", true},
      {"7F 01 02 00", false},
      {"01 01 04 00", true},
      {"01 01 03 00", false},
      {"01 01 00 00", false},
      {"04 04 06 00 00 00", true},
      {"04 04 06 00 41 00", false},
      {"04 04 04 00", false},
      {"04 04 05 00 00", true},
  };
  for (const auto &[bytes, valid] : cases) {
    // The block holds the node alone (or its header, for a shorter Length).
    EXPECT_EQ(ValidateDeviceNode(OddPlaced(FromHex(bytes)).Path()), valid) << bytes;
  }
  Bytes large(0xFFFF, 0);
  large[0] = 0x01;
  large[1] = 0x04;
  large[2] = 0xFF;
  large[3] = 0xFF;
  EXPECT_TRUE(ValidateDeviceNode(OddPlaced(large).Path()));
}

TEST_F(AppendTest, CreateDeviceNodeGivesAZeroFilledNode) {
  EXPECT_EQ(CreateDeviceNode(1, 2, 3), nullptr);
  EXPECT_EQ(CreateDeviceNode(1, 2, 0), nullptr);
  EXPECT_EQ(ToHex(*Owned([] { return CreateDeviceNode(1, 2, 4); }, true)), "01 02 04 00");
  // The simulated pool fills fresh blocks with a pattern: zero is written.
  EXPECT_EQ(ToHex(*Owned([] { return CreateDeviceNode(0x7F, 0x01, 7); }, true)), "7F 01 07 00 00 00 00");
  auto large = Owned([] { return CreateDeviceNode(4, 4, 0xFFFF); }, true);
  ASSERT_TRUE(large);
  EXPECT_EQ(large->size(), 0xFFFFu);
  EXPECT_EQ(Bytes(large->begin() + 4, large->end()), Bytes(0xFFFF - 4, 0));
}

}  // namespace
}  // namespace devpath_test
