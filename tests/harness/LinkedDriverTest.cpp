// host::LinkedDriver: the linked-in driver's module globals as at load for
// the life of a harness, its tables wired or left to the entry point, every
// global reset again at the end, and the pool the driver leaves reported.
#include <gtest/gtest-spi.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <map>
#include <utility>
#include <stdexcept>
#include <string>
#include <vector>

#include "driver/entry/DriverEntry.h"
#include "driver/firmware/Guids.h"
#include "host/boot/Boot.h"
#include "host/harness/DriverGlobals.h"
#include "host/harness/LinkedDriver.h"
#include "host/sim/SimFirmware.h"
#include "driver/inventory/Inventory.h"
#include "driver/platform/PlatformServices.h"
#include "driver/base/Memory.h"
#include "driver/base/Tables.h"
#include "tests/support/WriteUnwatched.h"

namespace {

using Bytes = std::vector<uint8_t>;

std::vector<Bytes> CopyOfGlobals() {
  std::vector<Bytes> copies;
  for (const host::ModuleGlobal &global : host::ModuleGlobals()) {
    const auto *start = static_cast<const uint8_t *>(global.address);
    copies.emplace_back(start, start + global.size);
  }
  return copies;
}

// This test's own copy of the globals at load, taken during static
// initialisation, before any driver code ran in this program.
const std::vector<Bytes> kLoadTime = CopyOfGlobals();

// The names of the globals whose bytes differ from the load-time copy.
std::vector<std::string> ChangedSinceLoad() {
  std::vector<std::string> changed;
  const std::vector<Bytes> now = CopyOfGlobals();
  for (size_t i = 0; i < now.size(); i++) {
    if (now[i] != kLoadTime[i]) {
      changed.push_back(host::ModuleGlobals()[i].name);
    }
  }
  return changed;
}

const std::vector<std::string> kNone;

// The default platform with a device behind NVME2's root port, so that the
// probe rewrites a slot row of Layout A.
sim::Platform WithDeviceBehindNvme2() {
  sim::Platform platform = sim::DefaultPlatform();
  sim::PciFunctionDescription device;
  device.vendorId = 0xC0DE;
  platform.pci.rootBridges[0].bridges[1].functions.push_back(device);
  return platform;
}

// The values each global has at load, spelled out.
void ExpectLoadTimeValues() {
  EXPECT_EQ(gSystemTable, nullptr);
  EXPECT_EQ(gBootServices, nullptr);
  EXPECT_EQ(gRuntimeServices, nullptr);
  EXPECT_EQ(gHobList, nullptr);
  EXPECT_EQ(gPcdProtocol, nullptr);
  EXPECT_EQ(gDebugPrintService, nullptr);
  EXPECT_EQ(gTscTicksPerSecond, 0u);
  EXPECT_EQ(gHeapListAnchor, nullptr);
  EXPECT_EQ(gSmbios, nullptr);
  EXPECT_EQ(gHeapBufferListInterface.Revision, uint64_t{HEAP_LIST_INTERFACE_REVISION});
  EXPECT_EQ(gHeapBufferListInterface.ListHead.Forward, nullptr);
  EXPECT_EQ(gHeapBufferListInterface.ListHead.Back, nullptr);
  const auto *snapshot = reinterpret_cast<const uint8_t *>(&gPlatformConfigSnapshot);
  EXPECT_EQ(Bytes(snapshot, snapshot + sizeof(gPlatformConfigSnapshot)), Bytes(sizeof(gPlatformConfigSnapshot), 0));
  // Each slot as built: Available, at its root port's stored location.
  const std::map<std::string, std::pair<int, int>> location = {
      {"NVME1", {0x00, 0x09}}, {"NVME2", {0x00, 0x12}}, {"NVME0", {0x01, 0x13}}, {"WI-FI", {0x01, 0x13}}};
  for (const BoardLayout *layout : {&gLayoutA, &gLayoutB, &gLayoutC}) {
    for (UINT8 row = 0; row < layout->SlotCount; row++) {
      const SystemSlotEntry &slot = layout->Slots[row];
      const std::string where = std::string(layout->Name) + " " + slot.Designation;
      EXPECT_EQ(slot.Formatted.CurrentUsage, SLOT_USAGE_AVAILABLE) << where;
      EXPECT_EQ(std::make_pair(int{slot.Formatted.BusNum}, int{slot.Formatted.DevFuncNum}), location.at(slot.Designation))
          << where;
    }
  }
}

TEST(LinkedDriverTest, TheListNamesEachGlobalOnceAndCoversItsBytes) {
  std::vector<std::string> names;
  for (const host::ModuleGlobal &global : host::ModuleGlobals()) {
    EXPECT_NE(global.address, nullptr) << global.name;
    EXPECT_GT(global.size, 0u) << global.name;
    names.push_back(global.name);
  }
  std::sort(names.begin(), names.end());
  EXPECT_EQ(std::adjacent_find(names.begin(), names.end()), names.end()) << "a global listed twice";
  // Exactly the three table pointers are wired.
  std::vector<std::string> tables;
  for (const host::ModuleGlobal &global : host::ModuleGlobals()) {
    if (global.firmwareTable) {
      tables.push_back(global.name);
    }
  }
  EXPECT_EQ(tables, (std::vector<std::string>{"gSystemTable", "gBootServices", "gRuntimeServices"}));
}

TEST(LinkedDriverTest, WiredTablesAreTheFirmwaresForItsLifeAndNullAfter) {
  {
    host::LinkedDriver driver(sim::DefaultPlatform());
    EFI_SYSTEM_TABLE *table = driver.Firmware().SystemTable();
    EXPECT_EQ(gSystemTable, table);
    EXPECT_EQ(gBootServices, table->BootServices);
    EXPECT_EQ(gRuntimeServices, table->RuntimeServices);
    EXPECT_NE(gBootServices, nullptr);
    EXPECT_NE(gRuntimeServices, nullptr);
  }
  EXPECT_EQ(gSystemTable, nullptr);
  EXPECT_EQ(gBootServices, nullptr);
  EXPECT_EQ(gRuntimeServices, nullptr);
  EXPECT_EQ(ChangedSinceLoad(), kNone);
}

TEST(LinkedDriverTest, TablesLeftToTheEntryPointStayNullUntilItStoresThem) {
  sim::SimFirmware firmware(sim::DefaultPlatform());
  host::LinkedDriver driver(firmware, host::LinkedDriver::Tables::kStoredByEntryPoint);
  EXPECT_EQ(gSystemTable, nullptr);
  EXPECT_EQ(gBootServices, nullptr);
  EXPECT_EQ(gRuntimeServices, nullptr);
  ASSERT_EQ(DriverEntry(firmware.ImageHandle(), firmware.SystemTable()), EFI_SUCCESS);
  EXPECT_EQ(gSystemTable, firmware.SystemTable());
  EXPECT_EQ(gBootServices, firmware.SystemTable()->BootServices);
}

// Every global scribbled over is back at its load-time value once a harness
// begins, whatever was there before.
TEST(LinkedDriverTest, EveryGlobalStartsAsAtLoad) {
  for (const host::ModuleGlobal &global : host::ModuleGlobals()) {
    std::memset(global.address, 0xA5, global.size);
  }
  host::LinkedDriver driver(sim::DefaultPlatform(), host::LinkedDriver::Tables::kStoredByEntryPoint);
  ASSERT_EQ(ChangedSinceLoad(), kNone);
  ExpectLoadTimeValues();
}

// A whole boot changes the globals of every part of the driver; the end of
// the harness puts every one of them back.
TEST(LinkedDriverTest, EveryGlobalABootChangedIsResetAtTheEnd) {
  {
    host::LinkedDriver driver(WithDeviceBehindNvme2(), host::LinkedDriver::Tables::kStoredByEntryPoint);
    sim::SimFirmware &firmware = driver.Firmware();
    ASSERT_EQ(DriverEntry(firmware.ImageHandle(), firmware.SystemTable()), EFI_SUCCESS);
    firmware.Events().SignalEventGroup(gEfiEndOfDxeEventGroupGuid);
    ASSERT_FALSE(firmware.Smbios().Records().empty());
    const std::vector<std::string> changed = ChangedSinceLoad();
    for (const char *name : {"gSystemTable", "gBootServices", "gRuntimeServices", "gHobList", "gPlatformConfigSnapshot",
                             "gPcdProtocol", "gHeapListAnchor", "gSmbios", "gLayoutASlots"}) {
      EXPECT_NE(std::find(changed.begin(), changed.end(), name), changed.end()) << name << " unchanged by the boot";
    }
    EXPECT_EQ(gLayoutA.Slots[1].Formatted.CurrentUsage, SLOT_USAGE_IN_USE);
  }
  ASSERT_EQ(ChangedSinceLoad(), kNone);
  ExpectLoadTimeValues();
}

// The boot runner wires the linked-in driver through the harness: after an
// in-process boot nothing of it is left in the globals.
TEST(LinkedDriverTest, AnInProcessBootLeavesTheGlobalsAsAtLoad) {
  const host::BootResult result = host::RunBoot(WithDeviceBehindNvme2());
  ASSERT_TRUE(result.installed);
  EXPECT_EQ(result.slots.at(1).record.at(7), SLOT_USAGE_IN_USE);
  ASSERT_EQ(ChangedSinceLoad(), kNone);
  ExpectLoadTimeValues();
}

TEST(LinkedDriverTest, OneHarnessAtATime) {
  sim::SimFirmware firmware(sim::DefaultPlatform());
  host::LinkedDriver first(firmware);
  EXPECT_THROW(host::LinkedDriver second(firmware), std::logic_error);
  EXPECT_EQ(gBootServices, firmware.SystemTable()->BootServices) << "the refused harness touched the globals";
}

TEST(LinkedDriverTest, AFirmwareTheCallerKeepsOutlivesTheHarness) {
  sim::SimFirmware firmware(sim::DefaultPlatform());
  {
    host::LinkedDriver driver(firmware);
    EXPECT_EQ(&driver.Firmware(), &firmware);
    PoolFree(PoolAllocate(8));
  }
  EXPECT_EQ(gBootServices, nullptr);
  EXPECT_EQ(firmware.Pool().Statistics().allocations, 1u);
  EXPECT_EQ(firmware.Pool().Statistics().frees, 1u);
}

TEST(LinkedDriverTest, NothingLeftIsClean) {
  host::LinkedDriver driver(sim::DefaultPlatform());
  PoolFree(PoolAllocate(24));
  EXPECT_TRUE(driver.Left().Clean());
  EXPECT_EQ(driver.Left().Describe(), "the pool is as the harness found it");
}

TEST(LinkedDriverTest, WhatTheDriverLeftIsCountedPerMemoryType) {
  host::LinkedDriver driver(sim::DefaultPlatform());
  void *kept = PoolAllocate(24);
  void *alsoKept = PoolAllocate(40);
  PoolFree(PoolAllocate(100));
  VOID *runtime = nullptr;
  ASSERT_EQ(gBootServices->AllocatePool(EfiRuntimeServicesData, 8, &runtime), EFI_SUCCESS);
  const host::PoolLeft left = driver.Left();
  EXPECT_FALSE(left.Clean());
  EXPECT_EQ(left.blocks, 3);
  EXPECT_EQ(left.bytes, 72);
  EXPECT_EQ(left.byType.at(EfiBootServicesData), std::make_pair(int64_t{2}, int64_t{64}));
  EXPECT_EQ(left.byType.at(EfiRuntimeServicesData), std::make_pair(int64_t{1}, int64_t{8}));
  EXPECT_EQ(left.invalidFrees, 0u);
  EXPECT_EQ(left.Describe(),
            "2 blocks (64 bytes) of boot services data not freed; 1 block (8 bytes) of runtime services data not freed");
  PoolFree(kept);
  PoolFree(alsoKept);
  PoolFree(runtime);
  EXPECT_TRUE(driver.Left().Clean());
}

// Blocks that were in the pool before the harness began are not the
// driver's; freeing one of them shows as more freed than allocated.
TEST(LinkedDriverTest, BlocksFromBeforeTheHarnessAreNotCounted) {
  sim::SimFirmware firmware(sim::DefaultPlatform());
  VOID *before = nullptr;
  ASSERT_EQ(firmware.Pool().AllocatePool(EfiBootServicesData, 16, &before), EFI_SUCCESS);
  host::LinkedDriver driver(firmware);
  EXPECT_TRUE(driver.Left().Clean());
  PoolFree(before);
  EXPECT_EQ(driver.Left().blocks, -1);
  EXPECT_EQ(driver.Left().Describe(), "1 block (16 bytes) of boot services data freed that the harness found allocated");
}

TEST(LinkedDriverTest, AFreeOfSomethingThePoolNeverGaveOutIsReported) {
  host::LinkedDriver driver(sim::DefaultPlatform());
  uint64_t notPool = 0;
  EXPECT_EQ(gBootServices->FreePool(&notPool), EFI_INVALID_PARAMETER);
  EXPECT_EQ(driver.Left().invalidFrees, 1u);
  EXPECT_EQ(driver.Left().Describe(), "1 free of a block the pool never gave out");
}

TEST(LinkedDriverTest, TheEndReportsALeakOnceWhenAskedTo) {
  std::vector<std::string> reports;
  {
    host::LinkedDriver driver(sim::DefaultPlatform());
    driver.ExpectPoolCleanAtEnd([&reports](const std::string &left) { reports.push_back(left); });
    PoolAllocate(32);
  }
  EXPECT_EQ(reports, std::vector<std::string>{"1 block (32 bytes) of boot services data not freed"});
  EXPECT_EQ(gBootServices, nullptr) << "the globals are reset before the report";
}

TEST(LinkedDriverTest, TheEndReportsNothingForACleanPool) {
  std::vector<std::string> reports;
  {
    host::LinkedDriver driver(sim::DefaultPlatform());
    driver.ExpectPoolCleanAtEnd([&reports](const std::string &left) { reports.push_back(left); });
    PoolFree(PoolAllocate(32));
  }
  EXPECT_EQ(reports, std::vector<std::string>{});
}

TEST(LinkedDriverTest, WithoutTheCheckALeakIsNotReported) {
  host::PoolLeft left;
  {
    host::LinkedDriver driver(sim::DefaultPlatform());
    PoolAllocate(32);
    left = driver.Left();
  }
  EXPECT_EQ(left.blocks, 1);
}

// A test that wires the driver as the in-process fixtures do fails on a
// leak.
TEST(LinkedDriverTest, ATestThatLeaksFails) {
  EXPECT_NONFATAL_FAILURE(
      {
        host::LinkedDriver driver(sim::DefaultPlatform());
        driver.ExpectPoolCleanAtEnd([](const std::string &left) { ADD_FAILURE() << "the pool after the test: " << left; });
        PoolAllocate(12);
      },
      "the pool after the test: 1 block (12 bytes) of boot services data not freed");
}

// Guard bytes the driver overwrote are reported at the end, whether the
// block was freed (FreePool found it) or is still held (the end's check
// finds it), by its allocation number; damage from before the harness
// began is not the driver's.
TEST(LinkedDriverTest, TheEndReportsOverwrittenGuardBytes) {
  sim::SimFirmware firmware(sim::DefaultPlatform());
  VOID *before = nullptr;
  ASSERT_EQ(firmware.Pool().AllocatePool(EfiBootServicesData, 4, &before), EFI_SUCCESS);
  WriteUnwatched(static_cast<uint8_t *>(before) + 4, 0);
  firmware.Pool().CheckPoolGuards();
  ASSERT_EQ(firmware.Pool().Statistics().damagedBlocks.size(), 1u);
  std::vector<std::string> reports;
  {
    host::LinkedDriver driver(firmware);
    driver.ExpectPoolCleanAtEnd([&reports](const std::string &left) { reports.push_back(left); });
    auto *held = static_cast<uint8_t *>(PoolAllocate(8));
    auto *freed = static_cast<uint8_t *>(PoolAllocate(5));
    WriteUnwatched(held + 8, 0);
    WriteUnwatched(freed + 5, 0);
    PoolFree(freed);
    PoolFree(before);
    EXPECT_EQ(driver.Left().damagedBlocks.size(), 2u);
    PoolFree(held);
  }
  EXPECT_EQ(reports, std::vector<std::string>{
                         "1 block (4 bytes) of boot services data freed that the harness found allocated; "
                         "allocation 3 (5 bytes of boot-services data) overwritten after its end (found when it was "
                         "freed); allocation 2 (8 bytes of boot-services data) overwritten after its end (found while "
                         "it was still allocated)"});
}

// A test that wires the driver as the in-process fixtures do fails when
// the driver writes one byte past a block, even when it frees the block.
TEST(LinkedDriverTest, ATestThatOverrunsABlockFails) {
  EXPECT_NONFATAL_FAILURE(
      {
        host::LinkedDriver driver(sim::DefaultPlatform());
        driver.ExpectPoolCleanAtEnd([](const std::string &left) { ADD_FAILURE() << "the pool after the test: " << left; });
        auto *block = static_cast<uint8_t *>(PoolAllocate(12));
        WriteUnwatched(block + 12, 0);
        PoolFree(block);
      },
      "the pool after the test: allocation 1 (12 bytes of boot-services data) overwritten after its end (found when "
      "it was freed)");
}

}  // namespace
