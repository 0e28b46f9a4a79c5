// In-process boots one after another: each meets the driver's data as a
// freshly loaded image holds it, since the harness resets every module
// global (the slot rows the probe rewrites in place among them).
#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

#include "host/boot/Boot.h"
#include "driver/inventory/Inventory.h"

namespace {

// The probe updates the chosen layout's rows in place, as the image's data.
// A later in-process boot must meet them as a freshly loaded image does.
TEST(RepeatedBootTest, EachInProcessBootMeetsTheRowsAsLoaded) {
  sim::Platform withDevice = sim::DefaultPlatform();
  sim::PciFunctionDescription device;
  device.vendorId = 0xC0DE;
  withDevice.pci.rootBridges[0].bridges[1].functions.push_back(device);  // behind NVME2's port
  auto nvme2Record = [](const host::BootResult &result) {
    EXPECT_EQ(result.slots.at(1).designation, "NVME2");
    return result.slots.at(1).record;
  };
  const std::vector<uint8_t> first = nvme2Record(host::RunBoot(sim::DefaultPlatform()));
  ASSERT_EQ(first.at(7), SLOT_USAGE_AVAILABLE);
  EXPECT_EQ(nvme2Record(host::RunBoot(withDevice)).at(7), SLOT_USAGE_IN_USE);
  EXPECT_EQ(nvme2Record(host::RunBoot(sim::DefaultPlatform())), first);
}

}  // namespace
