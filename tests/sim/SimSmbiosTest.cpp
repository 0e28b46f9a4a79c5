// The simulated SMBIOS table (sim::SmbiosTable): Add as PI firmware's
// protocol behaves, reading a record no further than the pool block or the
// bound that holds it, and the table as a dump file.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "driver/firmware/Guids.h"
#include "host/sim/SimFirmware.h"

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

// Add serves only through the instance the firmware installed: called with
// another This (here a copy of the instance) it refuses and stores nothing.
TEST(SimSmbiosTest, RefusesAnotherThis) {
  SimFirmware fw(sim::DefaultPlatform());
  EFI_SMBIOS_PROTOCOL *smbios = Smbios(fw);
  EFI_SMBIOS_PROTOCOL copy = *smbios;
  std::vector<uint8_t> record = Type8("J1", "A");
  uint16_t handle = SMBIOS_HANDLE_PI_RESERVED;
  EXPECT_EQ(Add(&copy, record, &handle), EFI_INVALID_PARAMETER);
  EXPECT_EQ(handle, SMBIOS_HANDLE_PI_RESERVED);
  EXPECT_TRUE(fw.Smbios().Records().empty());
  EXPECT_EQ(fw.Calls().back().service, sim::Service::SmbiosAdd);
  EXPECT_EQ(fw.Calls().back().status, EFI_INVALID_PARAMETER);
  EXPECT_EQ(Add(smbios, record, &handle), EFI_SUCCESS);
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

}  // namespace
