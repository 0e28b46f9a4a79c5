// The skipped-work attribution reads the typed log: each refused allocation
// is named from its service, status and place among the typed calls, and
// from the slots' typed probe results; the words come from the writers'
// Wording alone.
#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

#include "host/boot/Boot.h"
#include "host/boot/Explain.h"
#include "host/boot/Wording.h"
#include "host/sim/ServiceLog.h"
#include "driver/inventory/Inventory.h"

namespace {

using sim::Service;

// What each entry names: its kind and the row or slot it concerns.
std::vector<std::pair<host::SkippedWork::Kind, size_t>> Whats(const std::vector<host::SkippedWork> &skipped) {
  std::vector<std::pair<host::SkippedWork::Kind, size_t>> whats;
  for (const host::SkippedWork &work : skipped) {
    whats.emplace_back(work.kind, work.index);
  }
  return whats;
}

// Every allocation of a default boot refused in turn, in process: the
// refusal the report names carries that allocation's number, size and
// type, and is the call the log holds. Changing how every slot's probe
// ended (short of whether its path was converted) changes nothing it
// names.
TEST(SkippedWorkTest, EachRefusalIsNamedFromTypedCallsAlone) {
  const host::BootResult clean = host::RunBoot(sim::DefaultPlatform());
  ASSERT_TRUE(clean.skipped.empty());
  const uint64_t allocations = clean.pool.allocations;
  ASSERT_GT(allocations, 20u);
  bool sawUnconvertedPath = false;
  for (uint64_t k = 1; k <= allocations; k++) {
    SCOPED_TRACE("allocation " + std::to_string(k));
    sim::Platform platform = sim::DefaultPlatform();
    platform.faults.failAllocations = {k};
    const host::BootResult result = host::RunBoot(platform);
    ASSERT_EQ(result.skipped.size(), 1u);
    const sim::ServiceCall &refusal = result.skipped[0].refusal;
    EXPECT_EQ(refusal.service, Service::AllocatePool);
    EXPECT_EQ(refusal.status, EFI_OUT_OF_RESOURCES);
    EXPECT_EQ(refusal.allocation, k);
    EXPECT_GT(refusal.size, 0u);
    EXPECT_TRUE(refusal.memoryType == EfiBootServicesData || refusal.memoryType == EfiRuntimeServicesData);
    size_t logged = 0;
    for (const sim::ServiceCall &call : result.calls) {
      if (call.service == Service::AllocatePool) {
        logged++;
        EXPECT_EQ(call.allocation, k);
        EXPECT_EQ(call.size, refusal.size);
        EXPECT_EQ(call.memoryType, refusal.memoryType);
      }
    }
    EXPECT_EQ(logged, 1u);
    if (result.startup.parked) {
      continue;
    }

    const BoardLayout *layout = LayoutForVariant(*result.variantCode);
    ASSERT_NE(layout, nullptr);
    std::vector<host::SlotResult> reworded = result.slots;
    for (host::SlotResult &slot : reworded) {
      sawUnconvertedPath = sawUnconvertedPath || !slot.PathConverted();
      slot.probe = slot.PathConverted() ? host::SlotProbe::Stopped : host::SlotProbe::PathNotConverted;
      slot.endCall.reset();
    }
    EXPECT_EQ(Whats(host::DescribeSkipped(result.calls, layout, reworded, false)), Whats(result.skipped));
  }
  EXPECT_TRUE(sawUnconvertedPath) << "some refusal must cost a slot's path conversion";
}

// A hand-made log: the connector rows' Adds, then a refusal before the
// first slot's probe, whose path never reached LocateDevicePath: its typed
// result says so.
TEST(SkippedWorkTest, AnUnconvertedSlotPathIsReadFromTheTypedResult) {
  const BoardLayout &layout = gLayoutA;
  std::vector<sim::ServiceCall> calls;
  calls.push_back({Service::CreateEventEx, EFI_SUCCESS});
  calls.push_back({Service::GetVariable, EFI_SUCCESS});
  for (UINT8 row = 0; row < layout.ConnectorCount; row++) {
    sim::ServiceCall add{Service::SmbiosAdd, EFI_SUCCESS};
    add.recordType = SMBIOS_TYPE_PORT_CONNECTOR_INFORMATION;
    calls.push_back(add);
  }
  sim::ServiceCall refusal{Service::AllocatePool, EFI_OUT_OF_RESOURCES};
  refusal.allocation = 77;
  refusal.size = 24;
  refusal.memoryType = EfiBootServicesData;
  calls.push_back(refusal);
  sim::ServiceCall slotAdd{Service::SmbiosAdd, EFI_SUCCESS};
  slotAdd.recordType = SMBIOS_TYPE_SYSTEM_SLOTS;
  calls.push_back(slotAdd);

  host::BootResult result;
  result.workedLayout = &layout;
  result.slots.resize(1);
  result.slots[0].designation = "SLOT1";
  result.slots[0].recordAdded = true;
  result.skipped = host::DescribeSkipped(calls, &layout, result.slots, false);
  ASSERT_EQ(result.skipped.size(), 1u);
  EXPECT_EQ(result.skipped[0].kind, host::SkippedWork::Kind::SlotProbe);
  EXPECT_EQ(result.skipped[0].index, 0u);
  EXPECT_EQ(host::SkippedText(result, result.skipped[0]),
            "the PCI probe of slot SLOT1: its device path could not be built, so the stored row is used");
  EXPECT_EQ(result.skipped[0].refusal.allocation, 77u);
  EXPECT_EQ(host::RefusalText(result.skipped[0]), "allocation 77 (24 bytes of boot-services data) refused");
}

}  // namespace
