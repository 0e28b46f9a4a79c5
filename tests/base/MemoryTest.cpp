#include <gtest/gtest.h>

#include <cstring>
#include <numeric>
#include <vector>

#include "driver/base/Memory.h"
#include "driver/base/Tables.h"
#include "host/harness/LinkedDriver.h"
#include "tests/support/DriverFixture.h"

namespace {

struct OverlapCase {
  size_t destination;
  size_t source;
  size_t length;
};

class CopyMemTest : public ::testing::TestWithParam<OverlapCase> {};

// CopyMem must agree with memmove for every placement of the two ranges:
// apart, destination below the source (upward copy in words, including
// distances shorter than a word), destination above (backward copy).
TEST_P(CopyMemTest, AgreesWithMemmove) {
  const OverlapCase c = GetParam();
  std::vector<uint8_t> ours(64);
  std::iota(ours.begin(), ours.end(), 1);
  std::vector<uint8_t> expected = ours;
  CopyMem(ours.data() + c.destination, ours.data() + c.source, c.length);
  std::memmove(expected.data() + c.destination, expected.data() + c.source, c.length);
  EXPECT_EQ(ours, expected);
}

INSTANTIATE_TEST_SUITE_P(Placements, CopyMemTest,
                         ::testing::Values(OverlapCase{0, 32, 20}, OverlapCase{32, 0, 20}, OverlapCase{0, 3, 29},
                                           OverlapCase{3, 0, 29}, OverlapCase{0, 8, 40}, OverlapCase{8, 0, 40},
                                           OverlapCase{1, 2, 17}, OverlapCase{2, 1, 17}, OverlapCase{5, 5, 10},
                                           OverlapCase{0, 1, 63}, OverlapCase{1, 0, 63}, OverlapCase{7, 0, 0},
                                           OverlapCase{0, 16, 7}));

class PoolTest : public DriverFixture {};

TEST_F(PoolTest, AllocateZeroedFillsWhatPlainAllocateLeaves) {
  // Fresh pool is not zero on a machine, and not in the simulation either.
  auto *plain = static_cast<uint8_t *>(PoolAllocate(16));
  auto *zeroed = static_cast<uint8_t *>(PoolAllocateZeroed(16));
  ASSERT_NE(plain, nullptr);
  ASSERT_NE(zeroed, nullptr);
  EXPECT_NE(std::vector<uint8_t>(plain, plain + 16), std::vector<uint8_t>(16, 0));
  EXPECT_EQ(std::vector<uint8_t>(zeroed, zeroed + 16), std::vector<uint8_t>(16, 0));
  PoolFree(plain);
  PoolFree(zeroed);
  EXPECT_EQ(Firmware().Pool().Statistics().outstandingBlocks, 0u);
}

TEST_F(PoolTest, AllocateCopyCopiesTheSource) {
  const uint8_t source[5] = {1, 2, 3, 4, 5};
  auto *copy = static_cast<uint8_t *>(PoolAllocateCopy(sizeof(source), source));
  ASSERT_NE(copy, nullptr);
  EXPECT_EQ(0, std::memcmp(copy, source, sizeof(source)));
  PoolFree(copy);
}

TEST_F(PoolTest, ReallocateShrinkCopiesTheNewSizeAndFreesTheOld) {
  auto *old = static_cast<uint8_t *>(PoolAllocate(12));
  std::iota(old, old + 12, 0x10);
  auto *grown = static_cast<uint8_t *>(PoolReallocate(12, 8, old));
  ASSERT_NE(grown, nullptr);
  EXPECT_EQ(std::vector<uint8_t>(grown, grown + 8),
            (std::vector<uint8_t>{0x10, 0x11, 0x12, 0x13, 0x14, 0x15, 0x16, 0x17}));
  EXPECT_EQ(Firmware().Pool().Statistics().outstandingBlocks, 1u);
  EXPECT_EQ(Firmware().Pool().Statistics().outstandingBytes, 8u);
  PoolFree(grown);
}

TEST_F(PoolTest, ReallocateGrowCopiesTheOldSizeAndZeroesTheRest) {
  auto *old = static_cast<uint8_t *>(PoolAllocate(8));
  std::iota(old, old + 8, 1);
  auto *grown = static_cast<uint8_t *>(PoolReallocate(8, 12, old));
  ASSERT_NE(grown, nullptr);
  EXPECT_EQ(std::vector<uint8_t>(grown, grown + 12), (std::vector<uint8_t>{1, 2, 3, 4, 5, 6, 7, 8, 0, 0, 0, 0}));
  EXPECT_EQ(Firmware().Pool().Statistics().outstandingBlocks, 1u);
  PoolFree(grown);
}

// The old block ends right before a page that cannot be read, so a copy of
// more than the old size faults, even where the zeroing behind it would
// overwrite what it copied.
TEST_F(PoolTest, ReallocateGrowReadsNothingPastTheOldBlock) {
  Firmware().Pool().PlacePoolBlocksBeforeGuardPages();
  for (const size_t oldSize : {size_t{8}, size_t{16}, size_t{4096}}) {
    auto *old = static_cast<uint8_t *>(PoolAllocate(oldSize));
    ASSERT_NE(old, nullptr);
    std::iota(old, old + oldSize, 1);
    auto *grown = static_cast<uint8_t *>(PoolReallocate(oldSize, oldSize + 24, old));
    ASSERT_NE(grown, nullptr);
    std::vector<uint8_t> expected(oldSize + 24, 0);
    std::iota(expected.begin(), expected.begin() + static_cast<std::ptrdiff_t>(oldSize), 1);
    EXPECT_EQ(std::vector<uint8_t>(grown, grown + oldSize + 24), expected) << oldSize;
    PoolFree(grown);
  }
}

TEST_F(PoolTest, ReallocateOfNullIsAFreshZeroedBuffer) {
  auto *fresh = static_cast<uint8_t *>(PoolReallocate(0, 4, nullptr));
  ASSERT_NE(fresh, nullptr);
  EXPECT_EQ(std::vector<uint8_t>(fresh, fresh + 4), std::vector<uint8_t>(4, 0));
  PoolFree(fresh);
}

TEST_F(PoolTest, FreeOfNullCallsNothing) {
  PoolFree(nullptr);
  EXPECT_EQ(Firmware().Pool().Statistics().frees, 0u);
  EXPECT_EQ(Firmware().Pool().Statistics().invalidFrees, 0u);
  EXPECT_TRUE(Firmware().Calls().empty());
}

class PoolFailureTest : public DriverFixture {
 protected:
  void SetUp() override {
    sim::Platform platform = sim::DefaultPlatform();
    platform.faults.failAllocations = {2};
    Start(platform);
  }
};

TEST_F(PoolFailureTest, FailedAllocationGivesNull) {
  void *first = PoolAllocate(4);
  EXPECT_NE(first, nullptr);
  EXPECT_EQ(PoolAllocateZeroed(4), nullptr);
  PoolFree(first);
}

TEST_F(PoolFailureTest, FailedReallocateKeepsTheOldBuffer) {
  auto *old = static_cast<uint8_t *>(PoolAllocate(4));
  std::memset(old, 0x5A, 4);
  EXPECT_EQ(PoolReallocate(4, 8, old), nullptr);
  EXPECT_EQ(Firmware().Pool().Statistics().outstandingBlocks, 1u);
  EXPECT_EQ(old[3], 0x5A);
  PoolFree(old);
}

// A driver-side copy one byte longer than the pool block it fills is found
// in every build, by the number of the allocation that made the block: in
// a plain build by the guard bytes behind the block when it is freed
// (which fails any test whose fixture expects a clean pool), under
// AddressSanitizer at the copy itself.
TEST(PoolOverrunTest, AOneByteOverrunIsNamedByItsAllocation) {
  host::LinkedDriver driver(sim::DefaultPlatform());
  void *before = PoolAllocate(4);
  auto *block = static_cast<uint8_t *>(PoolAllocate(8));
  ASSERT_NE(block, nullptr);
  const uint8_t source[9] = {1, 2, 3, 4, 5, 6, 7, 8, 9};
#if defined(__SANITIZE_ADDRESS__)
  EXPECT_DEATH(CopyMem(block, source, sizeof(source)), "use-after-poison");
  PoolFree(block);
  PoolFree(before);
  EXPECT_TRUE(driver.Left().Clean()) << driver.Left().Describe();
#else
  CopyMem(block, source, sizeof(source));
  PoolFree(block);
  PoolFree(before);
  const host::PoolLeft left = driver.Left();
  ASSERT_EQ(left.damagedBlocks.size(), 1u);
  EXPECT_EQ(left.damagedBlocks[0].allocation, 2u);
  EXPECT_FALSE(left.Clean());
  EXPECT_EQ(left.Describe(),
            "allocation 2 (8 bytes of boot-services data) overwritten after its end (found when it was freed)");
#endif
}

}  // namespace
