#include <gtest/gtest.h>

#include <cstring>
#include <optional>
#include <string>
#include <vector>

#include "driver/inventory/Inventory.h"
#include "driver/base/Tables.h"
#include "tests/support/DriverFixture.h"

namespace {

struct VariantCase {
  uint32_t word;
  std::optional<uint8_t> code;
  const BoardLayout *layout;
};

class VariantTest : public ::testing::TestWithParam<VariantCase> {};

TEST_P(VariantTest, WordSelectsCodeAndLayout) {
  const VariantCase c = GetParam();
  UINT8 code = 0xEE;
  const bool selected = SelectVariantCode(c.word, &code);
  ASSERT_EQ(selected, c.code.has_value());
  if (c.code) {
    EXPECT_EQ(code, *c.code);
    EXPECT_EQ(LayoutForVariant(code), c.layout);
  } else {
    EXPECT_EQ(code, 0xEE) << "no code is written for a word without one";
  }
}

INSTANTIATE_TEST_SUITE_P(
    Words, VariantTest,
    ::testing::Values(VariantCase{0x00000000, std::nullopt, nullptr},
                      VariantCase{0x00000100, 0x01, nullptr},  // kind 1: no layout
                      VariantCase{0x00000101, 0x11, nullptr},
                      VariantCase{0x00000102, 0x01, nullptr},  // kind 1 ignores the second flag
                      VariantCase{0x00000103, 0x11, nullptr},
                      VariantCase{0x00000200, 0x21, &gLayoutA},
                      VariantCase{0x00000201, 0x31, &gLayoutC},
                      VariantCase{0x00000202, 0x22, &gLayoutB},
                      VariantCase{0x00000203, 0x32, &gLayoutB},
                      VariantCase{0xFFFF0203, 0x32, &gLayoutB},  // bits 16-31 ignored
                      VariantCase{0xFFFF02FC, 0x21, &gLayoutA},  // bits 2-7 ignored
                      VariantCase{0x00000300, std::nullopt, nullptr},
                      VariantCase{0x00000001, std::nullopt, nullptr},  // kind 0, but not zero
                      VariantCase{0x0000FF00, std::nullopt, nullptr},
                      // The kind is the whole of bits 8-15: kinds 0x12 and
                      // 0x21 are neither 2 nor 1, whatever their low half.
                      VariantCase{0x00001200, std::nullopt, nullptr},
                      VariantCase{0x00001203, std::nullopt, nullptr},
                      VariantCase{0x00002100, std::nullopt, nullptr},
                      VariantCase{0x00002101, std::nullopt, nullptr}));

TEST(LayoutTest, CountsAndSeparateSlotStorage) {
  EXPECT_EQ(gLayoutA.ConnectorCount, 19);
  EXPECT_EQ(gLayoutB.ConnectorCount, 19);
  EXPECT_EQ(gLayoutC.ConnectorCount, 8);
  EXPECT_EQ(gLayoutA.SlotCount, 4);
  EXPECT_EQ(gLayoutB.SlotCount, 4);
  EXPECT_EQ(gLayoutC.SlotCount, 1);
  // Slot rows are updated in place: no two layouts may share one.
  EXPECT_NE(gLayoutA.Slots, gLayoutB.Slots);
  for (int i = 0; i < 4; i++) {
    EXPECT_NE(&gLayoutA.Slots[i], gLayoutC.Slots);
    EXPECT_NE(&gLayoutB.Slots[i], gLayoutC.Slots);
  }
  EXPECT_STREQ(gLayoutC.Slots[0].Designation, "NVME0");
}

TEST(LayoutTest, SlotRowsAsStored) {
  struct Expected {
    const char *designation;
    uint8_t slotType, width;
    uint16_t id;
    uint8_t bus, devFn;
    std::u16string path;
  };
  const Expected expected[] = {
      {"NVME1", 0x17, 0x0A, 1, 0x00, 0x09, u"PciRoot(0x0)/Pci(0x0,0x3)"},
      {"NVME2", 0x17, 0x0A, 2, 0x00, 0x12, u"PciRoot(0x0)/Pci(0x3,0x7)"},
      {"NVME0", 0x17, 0x0A, 0, 0x01, 0x13, u"PciRoot(0x0)/Pci(0x16,0x19)"},
      {"WI-FI", 0x15, 0x08, 3, 0x01, 0x13, u"PciRoot(0x0)/Pci(0x8,0x8)"},
  };
  for (const BoardLayout *layout : {&gLayoutA, &gLayoutB}) {
    for (int i = 0; i < 4; i++) {
      const SystemSlotEntry &slot = layout->Slots[i];
      const Expected &e = expected[i];
      SCOPED_TRACE(std::string(layout->Name) + " " + e.designation);
      const uint8_t formatted[17] = {9,    0x11, 0,    0, 1,   e.slotType, e.width, 0x03, 0x03, uint8_t(e.id),
                                     0,    0x04, 0x03, 0, 0,   e.bus,      e.devFn};
      EXPECT_EQ(0, std::memcmp(&slot.Formatted, formatted, sizeof(formatted)));
      EXPECT_STREQ(slot.Designation, e.designation);
      EXPECT_EQ(std::u16string(slot.DevicePathText), e.path);
    }
  }
}

// A stand-in SMBIOS protocol that records exactly what Add was given.
struct AddCall {
  EFI_HANDLE producer;
  bool handlePointsIntoRecord;
  uint16_t handleAtCall;
  std::vector<uint8_t> staged;
};

struct RecordingSmbios {
  EFI_SMBIOS_PROTOCOL protocol;
  std::vector<AddCall> calls;
  std::vector<size_t> stagedSizes;  // bytes to capture per call, in order
  EFI_STATUS answer = EFI_SUCCESS;
};

RecordingSmbios *gRecording = nullptr;

EFI_STATUS EFIAPI RecordAdd(EFI_SMBIOS_PROTOCOL *self, EFI_HANDLE producer, EFI_SMBIOS_HANDLE *handle,
                            EFI_SMBIOS_TABLE_HEADER *record) {
  EXPECT_EQ(self, &gRecording->protocol);
  auto *bytes = reinterpret_cast<uint8_t *>(record);
  const size_t size = gRecording->stagedSizes.at(gRecording->calls.size());
  gRecording->calls.push_back({producer, reinterpret_cast<uint8_t *>(handle) == bytes + 2, *handle,
                               std::vector<uint8_t>(bytes, bytes + size)});
  *handle = 0x0042;
  return gRecording->answer;
}

class PortConnectorTest : public DriverFixture {
 protected:
  void SetUp() override {
    DriverFixture::SetUp();
    recording_.protocol.Add = RecordAdd;
    gRecording = &recording_;
    Driver().UseSmbios(&recording_.protocol);
  }
  void TearDown() override {
    Driver().UseSmbios(nullptr);
    gRecording = nullptr;
    DriverFixture::TearDown();
  }
  RecordingSmbios recording_{};
};

std::vector<uint8_t> Bytes(std::initializer_list<int> values) { return std::vector<uint8_t>(values.begin(), values.end()); }

std::vector<uint8_t> Text(const char *text) { return std::vector<uint8_t>(text, text + std::strlen(text)); }

std::vector<uint8_t> Join(std::initializer_list<std::vector<uint8_t>> parts) {
  std::vector<uint8_t> all;
  for (const auto &part : parts) {
    all.insert(all.end(), part.begin(), part.end());
  }
  return all;
}

TEST_F(PortConnectorTest, StagesFormattedAreaAndStringsWithReservedHandle) {
  recording_.stagedSizes = {3 + 9 + 12};
  InstallPortConnectors(gLayoutA.Connectors, 1);
  ASSERT_EQ(recording_.calls.size(), 1u);
  const AddCall &call = recording_.calls[0];
  EXPECT_EQ(call.producer, nullptr);
  EXPECT_TRUE(call.handlePointsIntoRecord);
  EXPECT_EQ(call.handleAtCall, SMBIOS_HANDLE_PI_RESERVED);
  EXPECT_EQ(call.staged, Join({Bytes({0x08, 0x09, 0xFE, 0xFF, 0x01, 0x0B, 0x02, 0x0B, 0x1F}), Text("J28"), Bytes({0}),
                               Text("2.5 GbE 1"), Bytes({0, 0})}));
  EXPECT_EQ(Firmware().Pool().Statistics().outstandingBlocks, 0u) << "the staging buffer goes back to the pool";
}

TEST_F(PortConnectorTest, ExternalDesignatorOnlyWhenItsStringNumberIsTwo) {
  PortConnectorEntry rows[2] = {gLayoutA.Connectors[0], gLayoutA.Connectors[0]};
  rows[0].Formatted.ExternalReferenceDesignator = 0;
  rows[1].Formatted.ExternalReferenceDesignator = 3;
  recording_.stagedSizes = {24, 24};
  InstallPortConnectors(rows, 2);
  ASSERT_EQ(recording_.calls.size(), 2u);
  // Only the internal designator; the set ends after it, and the B bytes
  // measured for the external designator stay zero.
  for (int i = 0; i < 2; i++) {
    EXPECT_EQ(recording_.calls[i].staged,
              Join({Bytes({0x08, 0x09, 0xFE, 0xFF, 0x01, 0x0B, i == 0 ? 0 : 3, 0x0B, 0x1F}), Text("J28"),
                    std::vector<uint8_t>(12, 0)}));
  }
}

TEST_F(PortConnectorTest, EveryRowIsAddedInOrderEvenWhenAddFails) {
  recording_.answer = EFI_OUT_OF_RESOURCES;
  for (int i = 0; i < gLayoutC.ConnectorCount; i++) {
    const PortConnectorEntry &row = gLayoutC.Connectors[i];
    recording_.stagedSizes.push_back(std::strlen(row.InternalDesignator) + std::strlen(row.ExternalDesignator) + 12);
  }
  InstallPortConnectors(gLayoutC.Connectors, gLayoutC.ConnectorCount);
  ASSERT_EQ(recording_.calls.size(), 8u);
  for (int i = 0; i < 8; i++) {
    const std::vector<uint8_t> &staged = recording_.calls[i].staged;
    // The rows are byte-packed: the designator is read by value, never bound
    // to a reference at its unaligned place.
    const std::string internal = gLayoutC.Connectors[i].InternalDesignator;
    EXPECT_EQ(std::string(reinterpret_cast<const char *>(staged.data()) + 9), internal);
  }
  EXPECT_EQ(Firmware().Pool().Statistics().outstandingBlocks, 0u);
}

TEST_F(PortConnectorTest, CountZeroTouchesNothing) {
  InstallPortConnectors(gLayoutA.Connectors, 0);
  EXPECT_TRUE(recording_.calls.empty());
  EXPECT_EQ(Firmware().Pool().Statistics().allocations, 0u);
}

class PortConnectorFailureTest : public PortConnectorTest {
 protected:
  void SetUp() override {
    sim::Platform platform = sim::DefaultPlatform();
    platform.faults.failAllocations = {2};
    Start(platform);
    recording_.protocol.Add = RecordAdd;
    gRecording = &recording_;
    Driver().UseSmbios(&recording_.protocol);
  }
};

TEST_F(PortConnectorFailureTest, RowWithoutStagingBufferIsSkipped) {
  recording_.stagedSizes = {24, 24};
  InstallPortConnectors(gLayoutA.Connectors, 3);
  ASSERT_EQ(recording_.calls.size(), 2u);
  EXPECT_EQ(recording_.calls[0].staged[9 + 4 + 8], '1');  // "2.5 GbE 1"
  EXPECT_EQ(recording_.calls[1].staged[9], 'C');          // "CON2": row 2 was skipped
  EXPECT_EQ(Firmware().Pool().Statistics().outstandingBlocks, 0u);
}

}  // namespace
