// The report's decoding of a Type 9 record: the slot characteristics, bit
// by bit, and the PCI bus address, each as dmidecode shows them.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "host/boot/Report.h"
#include "host/boot/SmbiosNames.h"

namespace {

using nlohmann::json;

struct CharacteristicsCase {
  uint8_t first;
  uint8_t second;
  std::vector<std::string> lines;
};

class SlotCharacteristicsTest : public ::testing::TestWithParam<CharacteristicsCase> {};

TEST_P(SlotCharacteristicsTest, OneLinePerBitInBitOrder) {
  EXPECT_EQ(host::SlotCharacteristicsText(GetParam().first, GetParam().second), GetParam().lines);
}

INSTANTIATE_TEST_SUITE_P(
    Bits, SlotCharacteristicsTest,
    ::testing::Values(
        // The board's M.2 slots.
        CharacteristicsCase{0x04, 0x03,
                            {"3.3 V is provided", "PME signal is supported", "Hot-plug devices are supported"}},
        // Bit 0 of the first byte: nothing else is read.
        CharacteristicsCase{0x01, 0x00, {"Unknown"}},
        CharacteristicsCase{0xFF, 0xFF, {"Unknown"}},
        CharacteristicsCase{0x00, 0x00, {"None"}},
        CharacteristicsCase{0xFE, 0x00,
                            {"5.0 V is provided", "3.3 V is provided", "Opening is shared", "PC Card-16 is supported",
                             "Cardbus is supported", "Zoom Video is supported", "Modem ring resume is supported"}},
        CharacteristicsCase{0x00, 0xFF,
                            {"PME signal is supported", "Hot-plug devices are supported", "SMBus signal is supported",
                             "PCIe slot bifurcation is supported", "Async/surprise removal is supported",
                             "Flexbus slot, CXL 1.0 capable", "Flexbus slot, CXL 2.0 capable",
                             "Flexbus slot, CXL 3.0 capable"}},
        CharacteristicsCase{0x02, 0x04, {"5.0 V is provided", "SMBus signal is supported"}},
        CharacteristicsCase{0x80, 0x80, {"Modem ring resume is supported", "Flexbus slot, CXL 3.0 capable"}}));

struct AddressCase {
  uint16_t segment;
  uint8_t bus;
  uint8_t deviceFunction;
  std::string address;
};

class BusAddressTest : public ::testing::TestWithParam<AddressCase> {};

TEST_P(BusAddressTest, SegmentBusDeviceFunctionInLowerCaseHex) {
  EXPECT_EQ(host::PciBusAddress(GetParam().segment, GetParam().bus, GetParam().deviceFunction), GetParam().address);
}

INSTANTIATE_TEST_SUITE_P(Addresses, BusAddressTest,
                         ::testing::Values(AddressCase{0x0000, 0x00, 0x03, "0000:00:00.3"},
                                           AddressCase{0x0000, 0x00, 0x12, "0000:00:02.2"},
                                           AddressCase{0x0000, 0x01, 0x13, "0000:01:02.3"},
                                           AddressCase{0x1234, 0xAB, 0xFF, "1234:ab:1f.7"},
                                           AddressCase{0xFFFF, 0xFF, 0xFE, "ffff:ff:1f.6"},
                                           // Not on PCI.
                                           AddressCase{0xFFFF, 0xFF, 0xFF, ""}));

// The decoded fields sit beside the stored bytes they come from.
TEST(SmbiosDecodeTest, SlotRecordCarriesItsCharacteristicsAndBusAddress) {
  const std::vector<uint8_t> record = {0x09, 0x11, 0x14, 0x00, 0x01, 0x17, 0x0A, 0x04, 0x03, 0x01, 0x00, 0x06,
                                       0x01, 0x34, 0x12, 0x05, 0x1A, 'N',  'V',  'M',  'E',  '1',  0x00, 0x00};
  const json fields = host::DecodeSmbiosRecord(record);
  EXPECT_EQ(fields["slot_characteristics_1"], "0x06");
  EXPECT_EQ(fields["slot_characteristics_2"], "0x01");
  EXPECT_EQ(fields["slot_characteristics"],
            json({"5.0 V is provided", "3.3 V is provided", "PME signal is supported"}));
  EXPECT_EQ(fields["segment_group_number"], "0x1234");
  EXPECT_EQ(fields["bus_address"], "1234:05:03.2");

  std::vector<uint8_t> offPci = record;
  offPci[13] = offPci[14] = offPci[15] = offPci[16] = 0xFF;
  EXPECT_TRUE(host::DecodeSmbiosRecord(offPci)["bus_address"].is_null());
}

}  // namespace
