// The simulated firmware must behave as PI firmware does where the driver
// relies on it; these tests hold it to that.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "firmware/Guids.h"
#include "firmware/Protocol/DevicePath.h"
#include "host/sim/SimFirmware.h"
#include "tests/support/WriteUnwatched.h"

namespace {

using sim::SimFirmware;

EFI_BOOT_SERVICES *Bs(SimFirmware &fw) { return fw.SystemTable()->BootServices; }

EFI_SMBIOS_PROTOCOL *Smbios(SimFirmware &fw) {
  void *interface = nullptr;
  EXPECT_EQ(Bs(fw)->LocateProtocol(&gEfiSmbiosProtocolGuid, nullptr, &interface), EFI_SUCCESS);
  return static_cast<EFI_SMBIOS_PROTOCOL *>(interface);
}

std::vector<uint8_t> Type8(const char *internal, const char *external) {
  std::vector<uint8_t> record = {8, 9, 0xFE, 0xFF, 1, 0x0B, 2, 0x0B, 0x1F};
  record.insert(record.end(), internal, internal + std::strlen(internal) + 1);
  record.insert(record.end(), external, external + std::strlen(external) + 1);
  record.push_back(0);
  return record;
}

EFI_STATUS Add(EFI_SMBIOS_PROTOCOL *smbios, std::vector<uint8_t> &record, uint16_t *handle) {
  return smbios->Add(smbios, nullptr, handle, reinterpret_cast<EFI_SMBIOS_TABLE_HEADER *>(record.data()));
}

TEST(SimSmbiosTest, AddAssignsHandlesAndKeepsInsertionOrder) {
  SimFirmware fw(sim::DefaultPlatform());
  EFI_SMBIOS_PROTOCOL *smbios = Smbios(fw);
  std::vector<uint8_t> first = Type8("J1", "A");
  std::vector<uint8_t> second = Type8("J2", "B");
  uint16_t handle1 = SMBIOS_HANDLE_PI_RESERVED;
  uint16_t handle2 = SMBIOS_HANDLE_PI_RESERVED;
  ASSERT_EQ(Add(smbios, first, &handle1), EFI_SUCCESS);
  ASSERT_EQ(Add(smbios, second, &handle2), EFI_SUCCESS);
  EXPECT_NE(handle1, handle2);
  EXPECT_NE(handle1, SMBIOS_HANDLE_PI_RESERVED);
  ASSERT_EQ(fw.Smbios().Records().size(), 2u);
  EXPECT_EQ(fw.Smbios().Records()[0].handle, handle1);
  EXPECT_EQ(fw.Smbios().Records()[1].handle, handle2);
  // The stored copy carries the assigned handle; the caller's buffer is not
  // the table's, so only the handle pointer is written back.
  std::vector<uint8_t> expected = Type8("J1", "A");
  expected[2] = static_cast<uint8_t>(handle1);
  expected[3] = static_cast<uint8_t>(handle1 >> 8);
  EXPECT_EQ(fw.Smbios().Records()[0].bytes, expected);
}

TEST(SimSmbiosTest, RecordIsMeasuredToTheEndOfItsStringSet) {
  SimFirmware fw(sim::DefaultPlatform());
  EFI_SMBIOS_PROTOCOL *smbios = Smbios(fw);
  std::vector<uint8_t> withSpare = Type8("J28", "");  // string 2 empty: the set ends after string 1
  withSpare.resize(withSpare.size() + 6, 0);           // spare staging bytes
  uint16_t handle = SMBIOS_HANDLE_PI_RESERVED;
  ASSERT_EQ(Add(smbios, withSpare, &handle), EFI_SUCCESS);
  EXPECT_EQ(fw.Smbios().Records()[0].bytes.size(), 9u + 4u + 1u);

  std::vector<uint8_t> noStrings = {127, 4, 0xFE, 0xFF, 0, 0, 0xAA};
  handle = SMBIOS_HANDLE_PI_RESERVED;
  ASSERT_EQ(Add(smbios, noStrings, &handle), EFI_SUCCESS);
  EXPECT_EQ(fw.Smbios().Records()[1].bytes.size(), 6u);
}

TEST(SimSmbiosTest, RefusesWhatRealFirmwareRefuses) {
  SimFirmware fw(sim::DefaultPlatform());
  EFI_SMBIOS_PROTOCOL *smbios = Smbios(fw);
  std::vector<uint8_t> record = Type8("J1", "A");
  uint16_t handle = 7;
  ASSERT_EQ(Add(smbios, record, &handle), EFI_SUCCESS);
  EXPECT_EQ(handle, 7) << "a handle the caller chooses is kept";
  handle = 7;
  EXPECT_EQ(Add(smbios, record, &handle), EFI_ALREADY_STARTED);
  handle = SMBIOS_HANDLE_RESERVED;
  EXPECT_EQ(Add(smbios, record, &handle), EFI_INVALID_PARAMETER);
  std::vector<uint8_t> shortHeader = {8, 3, 0xFE, 0xFF, 0, 0};
  handle = SMBIOS_HANDLE_PI_RESERVED;
  EXPECT_EQ(Add(smbios, shortHeader, &handle), EFI_INVALID_PARAMETER);
  EXPECT_EQ(smbios->Add(smbios, nullptr, nullptr, reinterpret_cast<EFI_SMBIOS_TABLE_HEADER *>(record.data())),
            EFI_INVALID_PARAMETER);
  EXPECT_EQ(fw.Smbios().Records().size(), 1u);
}

// A record the driver stages in a pool block is read no further than the
// end of that block: a record whose formatted area or string set would run
// past it is refused, saying why, and nothing of the bytes behind the
// block reaches the table.
struct RecordCase {
  const char *name;
  std::vector<uint8_t> bytes;  // laid into a pool block of exactly this size
  size_t at;                   // where in the block the record starts
  EFI_STATUS status;
  const char *detail;  // the logged call's detail
};

class SimSmbiosBoundsTest : public ::testing::TestWithParam<RecordCase> {};

TEST_P(SimSmbiosBoundsTest, ReadsNoFurtherThanItsPoolBlock) {
  const RecordCase &c = GetParam();
  SimFirmware fw(sim::DefaultPlatform());
  EFI_SMBIOS_PROTOCOL *smbios = Smbios(fw);
  void *block = nullptr;
  ASSERT_EQ(Bs(fw)->AllocatePool(EfiBootServicesData, c.bytes.size(), &block), EFI_SUCCESS);
  std::memcpy(block, c.bytes.data(), c.bytes.size());
  uint16_t handle = SMBIOS_HANDLE_PI_RESERVED;
  EXPECT_EQ(smbios->Add(smbios, nullptr, &handle,
                        reinterpret_cast<EFI_SMBIOS_TABLE_HEADER *>(static_cast<uint8_t *>(block) + c.at)),
            c.status);
  const sim::ServiceCall &call = fw.Calls().back();
  EXPECT_EQ(call.service, sim::Service::SmbiosAdd);
  EXPECT_EQ(call.status, c.status);
  EXPECT_EQ(sim::FormatServiceCall(call).detail, c.detail);
  EXPECT_EQ(call.recordProblem.has_value(), c.status != EFI_SUCCESS);
  EXPECT_EQ(fw.Smbios().Records().size(), c.status == EFI_SUCCESS ? 1u : 0u);
  ASSERT_EQ(Bs(fw)->FreePool(block), EFI_SUCCESS);
  EXPECT_TRUE(fw.Pool().Statistics().damagedBlocks.empty());
}

std::vector<uint8_t> Bytes(std::vector<uint8_t> head, const std::string &tail) {
  head.insert(head.end(), tail.begin(), tail.end());
  return head;
}

const std::vector<uint8_t> kType8Head = {8, 9, 0xFE, 0xFF, 1, 0x0B, 2, 0x0B, 0x1F};

INSTANTIATE_TEST_SUITE_P(
    Records, SimSmbiosBoundsTest,
    ::testing::Values(
        RecordCase{"fits_to_the_last_byte", Type8("J1", "A"), 0, EFI_SUCCESS, "Type 8"},
        RecordCase{"length_past_the_block", {8, 0x20, 0xFE, 0xFF, 1, 0x0B, 2, 0x0B}, 0, EFI_INVALID_PARAMETER,
                   "Type 8: its formatted area (Length 0x20) runs past the end of its pool block (allocation 1, 8 "
                   "bytes of boot-services data)"},
        RecordCase{"length_one_past_the_block", Bytes(kType8Head, std::string("\0", 1)), 0, EFI_INVALID_PARAMETER,
                   "Type 8: its string set runs past the end of its pool block (allocation 1, 10 bytes of "
                   "boot-services data) without a double zero"},
        RecordCase{"string_set_unterminated_at_the_block_end", Bytes(kType8Head, std::string("J1\0AB", 5)), 0,
                   EFI_INVALID_PARAMETER,
                   "Type 8: its string set runs past the end of its pool block (allocation 1, 14 bytes of "
                   "boot-services data) without a double zero"},
        RecordCase{"single_zero_at_the_block_end", Bytes(kType8Head, std::string("J1\0", 3)), 0,
                   EFI_INVALID_PARAMETER,
                   "Type 8: its string set runs past the end of its pool block (allocation 1, 12 bytes of "
                   "boot-services data) without a double zero"},
        RecordCase{"record_inside_the_block", Bytes({0, 0, 0, 0, 127, 4, 0xFE, 0xFF}, std::string("\0\0", 2)), 4,
                   EFI_SUCCESS, "Type 127"},
        RecordCase{"record_inside_the_block_running_past", {0, 0, 0, 0, 127, 8, 0xFE, 0xFF, 0, 0}, 4,
                   EFI_INVALID_PARAMETER,
                   "Type 127: its formatted area (Length 0x08) runs past the end of its pool block (allocation 1, "
                   "10 bytes of boot-services data, the record at offset 4)"},
        RecordCase{"header_past_the_block", {8, 9, 0xFE}, 0, EFI_INVALID_PARAMETER,
                   "Type 8: its 4-byte header runs past the end of its pool block (allocation 1, 3 bytes of "
                   "boot-services data)"},
        RecordCase{"at_the_block_end", {0, 0, 0, 0}, 4, EFI_INVALID_PARAMETER,
                   "Type 0: its 4-byte header runs past the end of its pool block (allocation 1, 4 bytes of "
                   "boot-services data, the record at offset 4)"},
        RecordCase{"length_below_the_header", {8, 3, 0xFE, 0xFF, 0, 0}, 0, EFI_INVALID_PARAMETER,
                   "Type 8: its Length 0x03 is below 4, the size of its header"}),
    [](const ::testing::TestParamInfo<RecordCase> &info) { return std::string(info.param.name); });

// A record outside the pool is read up to the documented bound from its
// start, and refused when its string set does not end within it.
TEST(SimSmbiosTest, ARecordOutsideThePoolIsReadUpToTheBound) {
  SimFirmware fw(sim::DefaultPlatform());
  EFI_SMBIOS_PROTOCOL *smbios = Smbios(fw);
  std::vector<uint8_t> record(sim::kSmbiosRecordBound, 'A');
  std::copy(kType8Head.begin(), kType8Head.end(), record.begin());
  uint16_t handle = SMBIOS_HANDLE_PI_RESERVED;
  EXPECT_EQ(Add(smbios, record, &handle), EFI_INVALID_PARAMETER);
  EXPECT_EQ(sim::FormatServiceCall(fw.Calls().back()).detail,
            "Type 8: its string set has no double zero within the 65535 bytes read of a record outside the pool");
  record[sim::kSmbiosRecordBound - 2] = 0;
  record[sim::kSmbiosRecordBound - 1] = 0;
  EXPECT_EQ(Add(smbios, record, &handle), EFI_SUCCESS) << "a double zero at the bound's last two bytes";
  EXPECT_EQ(fw.Smbios().Records().at(0).bytes.size(), sim::kSmbiosRecordBound);
}

TEST(SimSmbiosTest, MissingWhenThePlatformHasNone) {
  sim::Platform platform = sim::DefaultPlatform();
  platform.protocols.smbios = false;
  SimFirmware fw(platform);
  void *interface = reinterpret_cast<void *>(1);
  EXPECT_EQ(Bs(fw)->LocateProtocol(&gEfiSmbiosProtocolGuid, nullptr, &interface), EFI_NOT_FOUND);
  EXPECT_EQ(interface, nullptr);
}

TEST(SimSmbiosTest, DumpHasAValidEntryPointAndAnEndRecord) {
  const std::vector<sim::SmbiosRecord> records = {{1, {8, 9, 1, 0, 1, 0, 2, 0, 0xFF, 'A', 0, 'B', 0, 0}}};
  const std::vector<uint8_t> dump = sim::BuildSmbiosDump(records);
  ASSERT_EQ(dump.size(), 0x20u + 14u + 6u);
  EXPECT_EQ(std::string(dump.begin(), dump.begin() + 5), "_SM3_");
  uint8_t sum = 0;
  for (size_t i = 0; i < dump[6]; i++) {
    sum = static_cast<uint8_t>(sum + dump[i]);
  }
  EXPECT_EQ(sum, 0);
  uint64_t address = 0;
  uint32_t maxSize = 0;
  std::memcpy(&address, &dump[16], 8);
  std::memcpy(&maxSize, &dump[12], 4);
  EXPECT_EQ(address, 0x20u);
  EXPECT_EQ(maxSize, 20u);
  EXPECT_EQ(std::vector<uint8_t>(dump.end() - 6, dump.end()), (std::vector<uint8_t>{127, 4, 2, 0, 0, 0}));
}

struct VariableCase {
  const char *what;
  UINTN bufferSize;
  bool passData;
  EFI_STATUS status;
  UINTN sizeAfter;
};

class SimVariableTest : public ::testing::TestWithParam<VariableCase> {};

// The stored variable is 8 bytes.
TEST_P(SimVariableTest, GetVariableSemantics) {
  const VariableCase c = GetParam();
  sim::Platform platform = sim::DefaultPlatform();
  platform.variables[0].data = {1, 2, 3, 4, 5, 6, 7, 8};
  SimFirmware fw(platform);
  uint8_t buffer[16] = {};
  UINTN size = c.bufferSize;
  UINT32 attributes = 0;
  EFI_STATUS status = fw.SystemTable()->RuntimeServices->GetVariable(u"NioTypeProtected", &gNioTypeVariableGuid,
                                                                     &attributes, &size,
                                                                     c.passData ? buffer : nullptr);
  EXPECT_EQ(status, c.status);
  EXPECT_EQ(size, c.sizeAfter);
  if (status == EFI_SUCCESS) {
    EXPECT_EQ(buffer[7], 8);
    EXPECT_EQ(attributes, 0x7u);
  } else {
    EXPECT_EQ(buffer[0], 0) << "no data on failure";
  }
}

INSTANTIATE_TEST_SUITE_P(Sizes, SimVariableTest,
                         ::testing::Values(VariableCase{"too small", 4, true, EFI_BUFFER_TOO_SMALL, 8},
                                           VariableCase{"exact", 8, true, EFI_SUCCESS, 8},
                                           VariableCase{"larger", 16, true, EFI_SUCCESS, 8},
                                           VariableCase{"size query", 0, false, EFI_BUFFER_TOO_SMALL, 8},
                                           VariableCase{"no buffer", 8, false, EFI_INVALID_PARAMETER, 8}));

TEST(SimVariableTest2, MissingVariableAndOtherGuid) {
  sim::Platform platform = sim::DefaultPlatform();
  SimFirmware fw(platform);
  UINT32 word = 0;
  UINTN size = 4;
  EXPECT_EQ(fw.SystemTable()->RuntimeServices->GetVariable(u"Other", &gNioTypeVariableGuid, nullptr, &size, &word),
            EFI_NOT_FOUND);
  EXPECT_EQ(fw.SystemTable()->RuntimeServices->GetVariable(u"NioTypeProtected", &gEfiHobListGuid, nullptr, &size,
                                                           &word),
            EFI_NOT_FOUND);
  EXPECT_EQ(fw.SystemTable()->RuntimeServices->GetVariable(u"NioTypeProtected", &gNioTypeVariableGuid, nullptr,
                                                           nullptr, &word),
            EFI_INVALID_PARAMETER);
  EXPECT_EQ(word, 0u);
}

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

// Calls a debug print service with no arguments after the format.
void EFIAPI CallPrintWith(DEBUG_PRINT_SERVICE_PRINT print, ...) {
  VA_LIST marker;
  VA_START(marker, print);
  print(0x80000000, "late", marker);
  VA_END(marker);
}
void CallPrint(DEBUG_PRINT_SERVICE_PRINT print) { CallPrintWith(print, 0); }

// A start-up service reached after its firmware is gone (the driver kept a
// PCD or debug print interface past the boot) aborts with a message, as a
// boot service does, instead of reaching the freed firmware.
TEST(SimStartupServicesDeathTest, AServiceCalledAfterItsFirmwareIsGoneAborts) {
  sim::Platform platform = sim::DefaultPlatform();
  platform.protocols.debugPrint = true;
  auto fw = std::make_unique<SimFirmware>(platform);
  void *pcd = nullptr;
  void *debugPrint = nullptr;
  ASSERT_EQ(Bs(*fw)->LocateProtocol(&gPcdProtocolGuid, nullptr, &pcd), EFI_SUCCESS);
  ASSERT_EQ(Bs(*fw)->LocateProtocol(&gDebugPrintServiceGuid, nullptr, &debugPrint), EFI_SUCCESS);
  // The services' entry points, as a driver would have kept them.
  const PCD_PROTOCOL services = *static_cast<PCD_PROTOCOL *>(pcd);
  const auto print = static_cast<DEBUG_PRINT_SERVICE *>(debugPrint)->Print;
  EXPECT_EQ(services.Get8(567), 0x37) << "while the firmware lives";
  fw.reset();
  const char *message = "start-up service called without a simulated firmware";
  EXPECT_DEATH(services.Get8(567), message);
  EXPECT_DEATH(services.Get32(628), message);
  EXPECT_DEATH(services.GetBool(625), message);
  EXPECT_DEATH(CallPrint(print), message);
}

struct Notified {
  EFI_EVENT event;
  void *context;
};
std::vector<Notified> gNotified;

VOID EFIAPI RecordNotify(EFI_EVENT event, VOID *context) { gNotified.push_back({event, context}); }

TEST(SimEventTest, GroupSignalNotifiesOpenMembersOnceWithTheirEvent) {
  SimFirmware fw(sim::DefaultPlatform());
  EFI_BOOT_SERVICES *bs = Bs(fw);
  gNotified.clear();
  int context = 0;
  EFI_EVENT member = nullptr;
  EFI_EVENT closedMember = nullptr;
  EFI_EVENT otherGroup = nullptr;
  ASSERT_EQ(bs->CreateEventEx(EVT_NOTIFY_SIGNAL, TPL_CALLBACK, RecordNotify, &context, &gEfiEndOfDxeEventGroupGuid,
                              &member),
            EFI_SUCCESS);
  ASSERT_EQ(bs->CreateEventEx(EVT_NOTIFY_SIGNAL, TPL_CALLBACK, RecordNotify, nullptr, &gEfiEndOfDxeEventGroupGuid,
                              &closedMember),
            EFI_SUCCESS);
  ASSERT_EQ(bs->CreateEventEx(EVT_NOTIFY_SIGNAL, TPL_CALLBACK, RecordNotify, nullptr, &gEfiHobListGuid, &otherGroup),
            EFI_SUCCESS);
  EXPECT_EQ(bs->CloseEvent(closedMember), EFI_SUCCESS);
  EXPECT_EQ(bs->CloseEvent(closedMember), EFI_INVALID_PARAMETER);
  fw.Events().SignalEventGroup(gEfiEndOfDxeEventGroupGuid);
  ASSERT_EQ(gNotified.size(), 1u);
  EXPECT_EQ(gNotified[0].event, member);
  EXPECT_EQ(gNotified[0].context, &context);
  EXPECT_EQ(bs->CreateEventEx(EVT_NOTIFY_SIGNAL, TPL_CALLBACK, nullptr, nullptr, &gEfiHobListGuid, &otherGroup),
            EFI_INVALID_PARAMETER);
}

// The platform's CreateEventEx fault: an error creates no event and leaves
// the caller's variable alone; a warning creates the event and is returned.
TEST(SimEventTest, ThePlatformsCreateEventStatusIsReturned) {
  for (EFI_STATUS status : std::vector<EFI_STATUS>{EFI_OUT_OF_RESOURCES, EFI_UNSUPPORTED, 1 /* a warning */}) {
    sim::Platform platform = sim::DefaultPlatform();
    platform.faults.failCreateEvent = status;
    SimFirmware fw(platform);
    gNotified.clear();
    EFI_EVENT event = reinterpret_cast<EFI_EVENT>(0x1234);
    EXPECT_EQ(Bs(fw)->CreateEventEx(EVT_NOTIFY_SIGNAL, TPL_CALLBACK, RecordNotify, nullptr,
                                    &gEfiEndOfDxeEventGroupGuid, &event),
              status);
    EXPECT_EQ(fw.Calls().back().status, status);
    fw.Events().SignalEventGroup(gEfiEndOfDxeEventGroupGuid);
    if (EFI_ERROR(status)) {
      EXPECT_EQ(event, reinterpret_cast<EFI_EVENT>(0x1234));
      EXPECT_TRUE(fw.Events().States().empty());
      EXPECT_TRUE(gNotified.empty());
    } else {
      ASSERT_EQ(fw.Events().States().size(), 1u);
      ASSERT_EQ(gNotified.size(), 1u);
      EXPECT_EQ(gNotified[0].event, event);
    }
  }
}

// Nodes: a 12-byte ACPI node, 6-byte PCI nodes, the end node.
std::vector<uint8_t> Path(std::initializer_list<std::vector<uint8_t>> nodes) {
  std::vector<uint8_t> path;
  for (const auto &node : nodes) {
    path.insert(path.end(), node.begin(), node.end());
  }
  path.insert(path.end(), {0x7F, 0xFF, 0x04, 0x00});
  return path;
}
const std::vector<uint8_t> kRoot = {0x02, 0x01, 0x0C, 0x00, 0xD0, 0x41, 0x03, 0x0A, 0, 0, 0, 0};
const std::vector<uint8_t> kPort = {0x01, 0x01, 0x06, 0x00, 0x03, 0x00};
const std::vector<uint8_t> kDevice = {0x01, 0x01, 0x06, 0x00, 0x00, 0x00};

TEST(SimDevicePathTest, LongestMatchWinsAndTheCursorMovesPastIt) {
  sim::Platform platform = sim::DefaultPlatform();
  platform.pci.rootBridges.clear();  // only the handles made here
  SimFirmware fw(platform);
  std::vector<uint8_t> rootPath = Path({kRoot});
  std::vector<uint8_t> portPath = Path({kRoot, kPort});
  int rootIo = 0;
  int portIo = 0;
  EFI_HANDLE root = nullptr;
  EFI_HANDLE port = nullptr;
  EFI_HANDLE bare = nullptr;
  fw.Protocols().InstallProtocol(&root, gEfiDevicePathProtocolGuid, rootPath.data());
  fw.Protocols().InstallProtocol(&root, gEfiPciIoProtocolGuid, &rootIo);
  fw.Protocols().InstallProtocol(&port, gEfiDevicePathProtocolGuid, portPath.data());
  fw.Protocols().InstallProtocol(&port, gEfiPciIoProtocolGuid, &portIo);
  // A handle with the longest path but without the protocol asked for.
  std::vector<uint8_t> deepPath = Path({kRoot, kPort, kDevice});
  fw.Protocols().InstallProtocol(&bare, gEfiDevicePathProtocolGuid, deepPath.data());

  std::vector<uint8_t> wanted = Path({kRoot, kPort, kDevice});
  auto *cursor = reinterpret_cast<EFI_DEVICE_PATH_PROTOCOL *>(wanted.data());
  EFI_HANDLE found = nullptr;
  EFI_BOOT_SERVICES *bs = Bs(fw);
  ASSERT_EQ(bs->LocateDevicePath(&gEfiPciIoProtocolGuid, &cursor, &found), EFI_SUCCESS);
  EXPECT_EQ(found, port);
  EXPECT_EQ(reinterpret_cast<uint8_t *>(cursor), wanted.data() + kRoot.size() + kPort.size());

  std::vector<uint8_t> elsewhere = Path({kPort});
  cursor = reinterpret_cast<EFI_DEVICE_PATH_PROTOCOL *>(elsewhere.data());
  EXPECT_EQ(bs->LocateDevicePath(&gEfiPciIoProtocolGuid, &cursor, &found), EFI_NOT_FOUND);
  EXPECT_EQ(reinterpret_cast<uint8_t *>(cursor), elsewhere.data());

  void *interface = nullptr;
  EXPECT_EQ(bs->OpenProtocol(port, &gEfiPciIoProtocolGuid, &interface, nullptr, nullptr,
                             EFI_OPEN_PROTOCOL_BY_HANDLE_PROTOCOL),
            EFI_SUCCESS);
  EXPECT_EQ(interface, &portIo);
  EXPECT_EQ(bs->OpenProtocol(bare, &gEfiPciIoProtocolGuid, &interface, nullptr, nullptr,
                             EFI_OPEN_PROTOCOL_BY_HANDLE_PROTOCOL),
            EFI_UNSUPPORTED);
}

}  // namespace
