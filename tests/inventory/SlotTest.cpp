// The slot probe against the simulated PCI topology, one exit at a time.
#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "driver/firmware/Guids.h"
#include "host/boot/Boot.h"
#include "host/sim/PciModel.h"
#include "driver/inventory/Inventory.h"
#include "driver/base/Tables.h"
#include "tests/support/DriverFixture.h"

namespace {

struct SlotCase {
  const char *what;
  const char16_t *path;
  std::function<void(sim::PciTopology &)> topology;
  uint8_t usage;
  uint16_t segment;
  uint8_t bus;
  uint8_t devFn;
};

// A slot row as stored: Available at bus 0x01, device/function 0x13.
SystemSlotEntry StoredRow(const char16_t *path) {
  SystemSlotEntry row = gLayoutC.Slots[0];
  row.Formatted.CurrentUsage = SLOT_USAGE_AVAILABLE;
  row.Formatted.SegmentGroupNum = 0;
  row.Formatted.BusNum = 0x01;
  row.Formatted.DevFuncNum = 0x13;
  row.Designation = "SLOT";
  row.DevicePathText = path;
  return row;
}

class SlotProbeTest : public DriverFixture, public ::testing::WithParamInterface<SlotCase> {
 protected:
  void SetUp() override {
    sim::Platform platform = sim::DefaultPlatform();
    if (GetParam().topology) {
      GetParam().topology(platform.pci);
    }
    Start(platform);
    ASSERT_EQ(Driver().LocateSmbios(), EFI_SUCCESS);
  }
};

TEST_P(SlotProbeTest, UpdatesTheRowOnlyWhenADeviceAnswersBehindThePort) {
  const SlotCase &c = GetParam();
  SystemSlotEntry row = StoredRow(c.path);
  InstallSystemSlots(&row, 1);
  // Copies: the fields of the packed row are not aligned for a reference.
  const uint8_t usage = row.Formatted.CurrentUsage;
  const uint16_t segment = row.Formatted.SegmentGroupNum;
  const uint8_t bus = row.Formatted.BusNum;
  const uint8_t devFn = row.Formatted.DevFuncNum;
  EXPECT_EQ(usage, c.usage);
  EXPECT_EQ(segment, c.segment);
  EXPECT_EQ(bus, c.bus);
  EXPECT_EQ(devFn, c.devFn);
  // The record is added either way, carrying the row as it now stands.
  ASSERT_EQ(Firmware().Smbios().Records().size(), 1u);
  const std::vector<uint8_t> &stored = Firmware().Smbios().Records()[0].bytes;
  ASSERT_EQ(stored.size(), 17u + 4u + 2u);
  EXPECT_EQ(0, std::memcmp(stored.data() + 4, reinterpret_cast<const uint8_t *>(&row.Formatted) + 4, 13));
  EXPECT_EQ(std::string(reinterpret_cast<const char *>(stored.data()) + 17), "SLOT");
  EXPECT_EQ(Firmware().Pool().Statistics().outstandingBlocks, 0u)
      << "path, cursor array and staging buffer are returned";
}

void AddDeviceBehindNvme2(sim::PciTopology &topology) {
  topology.rootBridges[0].bridges[1].functions.push_back({0, 0, 0xC0DE, 0x0B00, 0x028000, false, false});
}

INSTANTIATE_TEST_SUITE_P(
    Exits, SlotProbeTest,
    ::testing::Values(
        SlotCase{"device found", u"PciRoot(0x0)/Pci(0x0,0x3)", nullptr, SLOT_USAGE_IN_USE, 0, 0x00, 0x03},
        SlotCase{"secondary bus empty", u"PciRoot(0x0)/Pci(0x3,0x7)", nullptr, SLOT_USAGE_AVAILABLE, 0, 0x01, 0x13},
        SlotCase{"device behind the second port", u"PciRoot(0x0)/Pci(0x3,0x7)", AddDeviceBehindNvme2,
                 SLOT_USAGE_IN_USE, 0, 0x00, 0x1F},
        SlotCase{"root bridge has no PCI I/O", u"PciRoot(0x0)/Pci(0x16,0x19)", nullptr, SLOT_USAGE_AVAILABLE, 0,
                 0x01, 0x13},
        SlotCase{"no handle at all", u"PciRoot(0x0)/Pci(0x0,0x3)",
                 [](sim::PciTopology &t) { t.rootBridges.clear(); }, SLOT_USAGE_AVAILABLE, 0, 0x01, 0x13},
        SlotCase{"other root bridge", u"PciRoot(0x1)/Pci(0x0,0x3)", nullptr, SLOT_USAGE_AVAILABLE, 0, 0x01, 0x13},
        SlotCase{"text converts to nothing", u"", nullptr, SLOT_USAGE_AVAILABLE, 0, 0x01, 0x13},
        SlotCase{"GetLocation fails", u"PciRoot(0x0)/Pci(0x0,0x3)",
                 [](sim::PciTopology &t) { t.rootBridges[0].bridges[0].self.failGetLocation = true; },
                 SLOT_USAGE_AVAILABLE, 0, 0x01, 0x13},
        SlotCase{"Pci.Read fails", u"PciRoot(0x0)/Pci(0x0,0x3)",
                 [](sim::PciTopology &t) { t.rootBridges[0].bridges[0].self.failPciRead = true; },
                 SLOT_USAGE_AVAILABLE, 0, 0x01, 0x13},
        SlotCase{"port on the last bus",
                 u"PciRoot(0x7)/Pci(0x1F,0x7)",
                 [](sim::PciTopology &t) {
                   // The probe reads bus 0xFF, the highest the window holds.
                   sim::PciRootBridgeDescription root;
                   root.uid = 7;
                   root.segment = 0;
                   root.bus = 0x80;
                   sim::PciBridgeDescription port;
                   port.self = {0x1F, 0x7, 0x1022, 0x1483, 0x060400, false, false};
                   port.secondaryBus = 0xFF;
                   port.subordinateBus = 0xFF;
                   port.functions.push_back({0, 0, 0xC0DE, 0x0A54, 0x010802, false, false});
                   root.bridges.push_back(port);
                   t.rootBridges.push_back(root);
                 },
                 SLOT_USAGE_IN_USE, 0, 0x80, 0xFF}),
    [](const ::testing::TestParamInfo<SlotCase> &info) {
      std::string name;
      for (const char *c = info.param.what; *c; c++) {
        name += std::isalnum(static_cast<unsigned char>(*c)) ? *c : '_';
      }
      return name;
    });

class SlotStagingTest : public DriverFixture {};

TEST_F(SlotStagingTest, CountZeroTakesNoPool) {
  SystemSlotEntry row = StoredRow(u"PciRoot(0x0)/Pci(0x0,0x3)");
  InstallSystemSlots(&row, 0);
  EXPECT_EQ(Firmware().Pool().Statistics().allocations, 0u);
}

// Updating one layout's rows never shows in another's.
TEST_F(SlotStagingTest, LayoutsKeepTheirOwnRows) {
  ASSERT_EQ(Driver().LocateSmbios(), EFI_SUCCESS);
  std::vector<SystemSlotEntry> savedB(gLayoutB.Slots, gLayoutB.Slots + gLayoutB.SlotCount);
  InstallSystemSlots(gLayoutA.Slots, gLayoutA.SlotCount);
  EXPECT_EQ(uint8_t{gLayoutA.Slots[0].Formatted.CurrentUsage}, SLOT_USAGE_IN_USE);
  EXPECT_EQ(0, std::memcmp(gLayoutB.Slots, savedB.data(), savedB.size() * sizeof(SystemSlotEntry)));
  EXPECT_EQ(uint8_t{gLayoutC.Slots[0].Formatted.CurrentUsage}, SLOT_USAGE_AVAILABLE);
  // The harness puts layout A's rows back as loaded at the end of the test.
}

}  // namespace
