// The simulated pool (sim::Pool) must behave as PI firmware's pool does
// where the driver relies on it, and find what a caller does wrong with its
// blocks; these tests hold it to that.
#include <gtest/gtest.h>

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "host/sim/SimFirmware.h"
#include "tests/support/WriteUnwatched.h"

namespace {

using sim::SimFirmware;

EFI_BOOT_SERVICES *Bs(SimFirmware &fw) { return fw.SystemTable()->BootServices; }

TEST(SimPoolTest, AccountsByTypeAndCatchesBadFrees) {
  sim::Platform platform = sim::DefaultPlatform();
  platform.faults.failAllocations = {3};
  platform.faults.failAllocationsFrom = 5;
  SimFirmware fw(platform);
  EFI_BOOT_SERVICES *bs = Bs(fw);
  void *blocks[6] = {};
  EFI_STATUS statuses[6];
  for (int i = 0; i < 6; i++) {
    statuses[i] = bs->AllocatePool(i % 2 ? EfiRuntimeServicesData : EfiBootServicesData, 10 + i, &blocks[i]);
  }
  EXPECT_EQ(statuses[0], EFI_SUCCESS);
  EXPECT_EQ(statuses[1], EFI_SUCCESS);
  EXPECT_EQ(statuses[2], EFI_OUT_OF_RESOURCES);
  EXPECT_EQ(statuses[3], EFI_SUCCESS);
  EXPECT_EQ(statuses[4], EFI_OUT_OF_RESOURCES);
  EXPECT_EQ(statuses[5], EFI_OUT_OF_RESOURCES);
  const sim::PoolStatistics &pool = fw.Pool().Statistics();
  EXPECT_EQ(pool.allocations, 6u);
  EXPECT_EQ(pool.failedAllocations, 3u);
  EXPECT_EQ(pool.outstandingBlocks, 3u);
  EXPECT_EQ(pool.outstandingBytes, 10u + 11u + 13u);
  EXPECT_EQ(pool.outstandingByType.at(EfiBootServicesData), std::make_pair(uint64_t{1}, uint64_t{10}));
  EXPECT_EQ(pool.outstandingByType.at(EfiRuntimeServicesData), std::make_pair(uint64_t{2}, uint64_t{24}));

  EXPECT_EQ(bs->FreePool(blocks[0]), EFI_SUCCESS);
  EXPECT_EQ(bs->FreePool(blocks[0]), EFI_INVALID_PARAMETER) << "double free";
  EXPECT_EQ(bs->FreePool(nullptr), EFI_INVALID_PARAMETER);
  EXPECT_EQ(fw.Pool().Statistics().invalidFrees, 1u);
  EXPECT_EQ(fw.Pool().Statistics().outstandingBlocks, 2u);
  EXPECT_EQ(fw.Pool().Statistics().outstandingByType.at(EfiBootServicesData), std::make_pair(uint64_t{0}, uint64_t{0}));
}

// The pool stands on its own: made from the faults and a log, without a
// firmware, it serves and counts, refuses by allocation number and logs the
// refusal and the bad free in that log; a block left live goes back to the
// host with the pool.
TEST(SimPoolTest, ServesWithoutAFirmware) {
  sim::FaultInjection faults;
  faults.failAllocations = {2};
  sim::ServiceLog log;
  sim::Pool pool(faults, log);
  void *first = nullptr;
  void *refused = nullptr;
  void *kept = nullptr;
  ASSERT_EQ(pool.AllocatePool(EfiBootServicesData, 5, &first), EFI_SUCCESS);
  EXPECT_EQ(pool.AllocatePool(EfiBootServicesData, 6, &refused), EFI_OUT_OF_RESOURCES);
  ASSERT_EQ(pool.AllocatePool(EfiRuntimeServicesData, 7, &kept), EFI_SUCCESS);
  EXPECT_EQ(pool.PoolBlockType(kept), EfiRuntimeServicesData);
  EXPECT_EQ(pool.FreePool(first), EFI_SUCCESS);
  int local = 0;
  EXPECT_EQ(pool.FreePool(&local), EFI_INVALID_PARAMETER);
  ASSERT_EQ(log.Calls().size(), 2u);
  EXPECT_EQ(log.Calls()[0].service, sim::Service::AllocatePool);
  EXPECT_EQ(log.Calls()[0].allocation, 2u);
  EXPECT_EQ(log.Calls()[0].size, 6u);
  EXPECT_EQ(log.Calls()[1].service, sim::Service::FreePool);
  EXPECT_EQ(log.Calls()[1].buffer, reinterpret_cast<uintptr_t>(&local));
  const sim::PoolStatistics &statistics = pool.Statistics();
  EXPECT_EQ(statistics.allocations, 3u);
  EXPECT_EQ(statistics.failedAllocations, 1u);
  EXPECT_EQ(statistics.frees, 1u);
  EXPECT_EQ(statistics.invalidFrees, 1u);
  EXPECT_EQ(statistics.outstandingBlocks, 1u);
  EXPECT_EQ(statistics.outstandingBytes, 7u);
}

// PoolHolds answers for any range inside one live block, nothing else:
// not across the end, not before the start, not after the free.
TEST(SimPoolTest, HoldsExactlyTheRangesInsideLiveBlocks) {
  SimFirmware fw(sim::DefaultPlatform());
  EFI_BOOT_SERVICES *bs = Bs(fw);
  void *a = nullptr;
  void *b = nullptr;
  ASSERT_EQ(bs->AllocatePool(EfiBootServicesData, 48, &a), EFI_SUCCESS);
  ASSERT_EQ(bs->AllocatePool(EfiRuntimeServicesData, 8, &b), EFI_SUCCESS);
  const auto *start = static_cast<const uint8_t *>(a);
  struct Range {
    const void *p;
    size_t n;
    bool held;
  };
  const Range ranges[] = {
      {start, 48, true},          {start, 0, true},      {start + 16, 32, true},  {start + 47, 1, true},
      {start + 48, 0, true},      {start, 49, false},    {start + 40, 16, false}, {start + 48, 1, false},
      {start - 1, 1, false},      {start - 1, 2, false}, {b, 8, true},            {b, 9, false},
      {nullptr, 0, false},        {&fw, 1, false},       {start + 8, SIZE_MAX, false},
  };
  for (const Range &range : ranges) {
    EXPECT_EQ(fw.Pool().PoolHolds(range.p, range.n), range.held)
        << "offset " << static_cast<const uint8_t *>(range.p) - start << ", " << range.n << " bytes";
  }
  ASSERT_EQ(bs->FreePool(a), EFI_SUCCESS);
  EXPECT_FALSE(fw.Pool().PoolHolds(start, 1)) << "a freed block";
  EXPECT_TRUE(fw.Pool().PoolHolds(b, 8));
}

struct GuardCase {
  const char *name;
  bool guardPages;
  size_t size;
  ptrdiff_t offset;      // of the byte written, from the block's start
  bool whileAllocated;   // found by CheckPoolGuards before the free, else by FreePool
  bool afterEnd;         // expected damage; neither: none
  bool beforeStart;
};

class SimPoolGuardTest : public ::testing::TestWithParam<GuardCase> {};

// A byte written just outside a block is found once, with the number of the
// allocation that made the block (refused calls count too); a byte inside
// is not damage.
TEST_P(SimPoolGuardTest, DamageNamesTheAllocation) {
  const GuardCase &c = GetParam();
  sim::Platform platform = sim::DefaultPlatform();
  platform.faults.failAllocations = {2};
  SimFirmware fw(platform);
  if (c.guardPages) {
    fw.Pool().PlacePoolBlocksBeforeGuardPages();
  }
  EFI_BOOT_SERVICES *bs = Bs(fw);
  void *first = nullptr;
  void *refused = nullptr;
  void *block = nullptr;
  ASSERT_EQ(bs->AllocatePool(EfiBootServicesData, 8, &first), EFI_SUCCESS);
  ASSERT_EQ(bs->AllocatePool(EfiBootServicesData, 8, &refused), EFI_OUT_OF_RESOURCES);
  ASSERT_EQ(bs->AllocatePool(EfiRuntimeServicesData, c.size, &block), EFI_SUCCESS);
  auto *bytes = static_cast<uint8_t *>(block);
  WriteUnwatched(bytes + c.offset, 0x42);
  if (c.whileAllocated) {
    fw.Pool().CheckPoolGuards();
    fw.Pool().CheckPoolGuards();  // found once
  }
  ASSERT_EQ(bs->FreePool(block), EFI_SUCCESS);
  ASSERT_EQ(bs->FreePool(first), EFI_SUCCESS);
  fw.Pool().CheckPoolGuards();
  const std::vector<sim::DamagedPoolBlock> &damaged = fw.Pool().Statistics().damagedBlocks;
  if (!c.afterEnd && !c.beforeStart) {
    EXPECT_TRUE(damaged.empty()) << sim::DamagedPoolBlockText(damaged.front());
    return;
  }
  ASSERT_EQ(damaged.size(), 1u);
  EXPECT_EQ(damaged[0].allocation, 3u);
  EXPECT_EQ(damaged[0].size, c.size);
  EXPECT_EQ(damaged[0].type, EfiRuntimeServicesData);
  EXPECT_EQ(damaged[0].afterEnd, c.afterEnd);
  EXPECT_EQ(damaged[0].beforeStart, c.beforeStart);
  EXPECT_EQ(damaged[0].foundAtFree, !c.whileAllocated);
  EXPECT_EQ(fw.Pool().Statistics().outstandingBlocks, 0u) << "a damaged block is freed all the same";
}

INSTANTIATE_TEST_SUITE_P(
    Writes, SimPoolGuardTest,
    ::testing::Values(GuardCase{"one_past_the_end", false, 13, 13, false, true, false},
                      GuardCase{"one_past_an_aligned_end", false, 16, 16, false, true, false},
                      GuardCase{"last_guard_byte", false, 16, 16 + 15, false, true, false},
                      GuardCase{"one_past_the_end_of_one_byte", false, 1, 1, true, true, false},
                      GuardCase{"one_past_the_end_while_allocated", false, 13, 13, true, true, false},
                      GuardCase{"one_before_the_start", false, 13, -1, false, false, true},
                      GuardCase{"start_of_the_front_guard", false, 13, -24, true, false, true},
                      GuardCase{"last_byte_of_the_block", false, 13, 12, true, false, false},
                      GuardCase{"first_byte_of_the_block", false, 13, 0, false, false, false},
                      // Before a guard page the bytes up to the 8-byte end
                      // are guard bytes; past it the page faults.
                      GuardCase{"guard_page_slack", true, 13, 13, false, true, false},
                      GuardCase{"guard_page_last_slack_byte", true, 13, 15, true, true, false},
                      GuardCase{"guard_page_one_before_the_start", true, 13, -1, false, false, true},
                      GuardCase{"guard_page_last_byte", true, 13, 12, false, false, false}),
    [](const ::testing::TestParamInfo<GuardCase> &info) { return std::string(info.param.name); });

TEST(SimPoolTest, DamageIsNamedInOneText) {
  EXPECT_EQ(sim::DamagedPoolBlockText({7, 13, EfiBootServicesData, true, false, true}),
            "allocation 7 (13 bytes of boot-services data) overwritten after its end (found when it was freed)");
  EXPECT_EQ(sim::DamagedPoolBlockText({1, 1, EfiRuntimeServicesData, false, true, false}),
            "allocation 1 (1 byte of runtime-services data) overwritten before its start (found while it was still "
            "allocated)");
  EXPECT_EQ(sim::DamagedPoolBlockText({2, 8, EfiBootServicesData, true, true, true}),
            "allocation 2 (8 bytes of boot-services data) overwritten before its start and after its end (found when "
            "it was freed)");
}

// Under AddressSanitizer the pool's header and guard bytes are poisoned
// while the caller holds the block: an instrumented write there is stopped
// at the instruction that makes it.
TEST(SimPoolDeathTest, TheSanitizerStopsAWriteIntoTheGuardBytes) {
#if defined(__SANITIZE_ADDRESS__)
  SimFirmware fw(sim::DefaultPlatform());
  void *block = nullptr;
  ASSERT_EQ(Bs(fw)->AllocatePool(EfiBootServicesData, 13, &block), EFI_SUCCESS);
  auto *bytes = static_cast<volatile uint8_t *>(block);
  bytes[12] = 1;
  EXPECT_DEATH(bytes[13] = 1, "use-after-poison");
  EXPECT_DEATH(bytes[-1] = 1, "use-after-poison");
  ASSERT_EQ(Bs(fw)->FreePool(block), EFI_SUCCESS);
#else
  GTEST_SKIP() << "without AddressSanitizer the guard bytes alone find the write (SimPoolGuardTest)";
#endif
}

// PoolBlockAt names the block a pointer is in, or at whose end it points.
TEST(SimPoolTest, BlockAtAnyByteOfABlockAndAtItsEnd) {
  sim::Platform platform = sim::DefaultPlatform();
  SimFirmware fw(platform);
  void *a = nullptr;
  void *b = nullptr;
  ASSERT_EQ(Bs(fw)->AllocatePool(EfiBootServicesData, 24, &a), EFI_SUCCESS);
  ASSERT_EQ(Bs(fw)->AllocatePool(EfiRuntimeServicesData, 5, &b), EFI_SUCCESS);
  const auto *start = static_cast<const uint8_t *>(a);
  for (ptrdiff_t offset : {0, 1, 23, 24}) {
    const std::optional<sim::PoolBlockInfo> block = fw.Pool().PoolBlockAt(start + offset);
    ASSERT_TRUE(block) << offset;
    EXPECT_EQ(block->start, start);
    EXPECT_EQ(block->size, 24u);
    EXPECT_EQ(block->type, EfiBootServicesData);
    EXPECT_EQ(block->allocation, 1u);
  }
  EXPECT_FALSE(fw.Pool().PoolBlockAt(start - 1));
  EXPECT_FALSE(fw.Pool().PoolBlockAt(start + 25));
  ASSERT_TRUE(fw.Pool().PoolBlockAt(static_cast<uint8_t *>(b) + 2));
  EXPECT_EQ(fw.Pool().PoolBlockAt(static_cast<uint8_t *>(b) + 2)->allocation, 2u);
  ASSERT_EQ(Bs(fw)->FreePool(a), EFI_SUCCESS);
  EXPECT_FALSE(fw.Pool().PoolBlockAt(start));
  ASSERT_EQ(Bs(fw)->FreePool(b), EFI_SUCCESS);
}

// With guard pages, a block is usable to its end and an access one byte past
// its end (rounded up to 8, as pool blocks align) faults on the spot; so
// does any access after the block is freed.
TEST(SimPoolDeathTest, GuardPagesFaultJustPastEachBlock) {
  for (size_t size : {size_t{1}, size_t{8}, size_t{13}, size_t{4096}, size_t{5000}}) {
    SimFirmware fw(sim::DefaultPlatform());
    fw.Pool().PlacePoolBlocksBeforeGuardPages();
    EFI_BOOT_SERVICES *bs = Bs(fw);
    void *block = nullptr;
    ASSERT_EQ(bs->AllocatePool(EfiBootServicesData, size, &block), EFI_SUCCESS);
    auto *bytes = static_cast<volatile uint8_t *>(block);
    EXPECT_EQ(reinterpret_cast<uintptr_t>(block) % 8, 0u);
    EXPECT_EQ(bytes[0], 0xAF) << "filled like any pool block";
    bytes[0] = 1;
    bytes[size - 1] = 2;
    EXPECT_TRUE(fw.Pool().PoolHolds(block, size));
    const size_t end = (size + 7) / 8 * 8;
    EXPECT_DEATH(bytes[end] = 3, "") << size << " bytes";
    ASSERT_EQ(bs->FreePool(block), EFI_SUCCESS);
    EXPECT_DEATH(bytes[0] = 4, "") << "after the free, " << size << " bytes";
  }
}

}  // namespace
