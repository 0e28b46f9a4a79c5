// The messaging node parsers for buses, storage and consoles, byte for byte:
// fixed-layout nodes, keyword-valued parameters and their fallback to
// numbers, the fixed-GUID vendor nodes, SAS device topology, the NVMe
// EUI-64 and the SATA port multiplier default.
#include <string>
#include <vector>

#include "tests/devpath/DevpathTestSupport.h"

namespace devpath_test {
namespace {

const std::string kZero8 = "00 00 00 00 00 00 00 00";
const std::string kOnes8 = "FF FF FF FF FF FF FF FF";
const std::string kZeroGuid = kZero8 + " " + kZero8;
// Seventeen hex digits: more than 64 bits.
const std::u16string kOverflow = u"0xFFFFFFFFFFFFFFFFF";

// Fixed vendor GUIDs in node byte order.
const std::string kPcAnsiGuid = "53 47 C1 E0 BE F9 D2 11 9A 0C 00 90 27 3F C1 4D";
const std::string kVt100Guid = "65 60 A6 DF 19 B4 D3 11 9A 2D 00 90 27 3F C1 4D";
const std::string kVt100PlusGuid = "0B C7 AE 7B E0 57 76 4C 8E 87 2F 9E 28 08 83 43";
const std::string kUtf8Guid = "D6 A0 15 AD EC 8B CF 4A A0 73 D0 1D E7 7E 2D 88";
const std::string kDebugPortGuid = "D2 E8 A4 EB 58 38 EC 41 A2 81 26 47 BA 96 60 D0";
const std::string kFlowControlGuid = "9D 9A 49 37 2F 54 89 4C A0 26 35 DA 14 20 94 E4";
const std::string kSasGuid = "B4 DD 87 D4 8B 00 D9 11 AF DC 00 10 83 FF CA 4D";

const std::string kEnd = "7F FF 04 00";

using MessagingNodeTest = PoolTest;

TEST_F(MessagingNodeTest, DocumentedExamplesConvertAsWholePaths) {
  const std::vector<NodeCase> cases = {
      {u"Ata(Primary,Master,0)", "03 01 08 00 00 00 00 00"},
      {u"Ata(Secondary,Slave,3)", "03 01 08 00 01 01 03 00"},
      {u"Ata(primary,1,0)", "03 01 08 00 00 01 00 00"},
      {u"Scsi(1,2)", "03 02 08 00 01 00 02 00"},
      {u"Fibre(0x1234,0x1)", "03 03 18 00 00 00 00 00 34 12 00 00 00 00 00 00 01 00 00 00 00 00 00 00"},
      {u"FibreEx(0x1234,0x1)", "03 15 18 00 00 00 00 00 00 00 00 00 00 00 12 34 00 00 00 00 00 00 00 01"},
      {u"I1394(1234)", "03 04 10 00 00 00 00 00 34 12 00 00 00 00 00 00"},
      {u"Infiniband(1,,2,3,4)", "03 09 30 00 01 00 00 00 " + kZeroGuid +
                                    " 02 00 00 00 00 00 00 00 03 00 00 00 00 00 00 00 04 00 00 00 00 00 00 00"},
      {u"VenPcAnsi()", "03 0A 14 00 " + kPcAnsiGuid},
      {u"VenPcAnsi(anything)", "03 0A 14 00 " + kPcAnsiGuid},
      {u"UartFlowCtrl(XonXoff)", "03 0A 18 00 " + kFlowControlGuid + " 02 00 00 00"},
      {u"UartFlowCtrl(Hardware)", "03 0A 18 00 " + kFlowControlGuid + " 01 00 00 00"},
      {u"UartFlowCtrl(2)", "03 0A 18 00 " + kFlowControlGuid + " 00 00 00 00"},
      {u"UartFlowCtrl(xonxoff)", "03 0A 18 00 " + kFlowControlGuid + " 00 00 00 00"},
      {u"SAS(0x1234,0,1,SATA,External,Expanded,2,0)",
       "03 0A 2C 00 " + kSasGuid + " 00 00 00 00 34 12 00 00 00 00 00 00 " + kZero8 + " 72 01 01 00"},
      {u"SasEx(0x1234,0x1,0x2,SAS,Internal,Direct,0)",
       "03 16 18 00 00 00 00 00 00 00 12 34 00 00 00 00 00 00 00 01 01 00 02 00"},
      {u"SAS(0x1234)", "03 0A 2C 00 " + kSasGuid + " 00 00 00 00 34 12 00 00 00 00 00 00 " + kZero8 + " 00 00 00 00"},
      {u"NVMe(0x1,01-02-03-04-05-06-07-08)", "03 17 10 00 01 00 00 00 08 07 06 05 04 03 02 01"},
      {u"NVMe(1,AB)", "03 17 10 00 01 00 00 00 00 00 00 00 00 00 00 AB"},
      {u"Sata(0x1,,0x0)", "03 12 0A 00 01 00 FF FF 00 00"},
      {u"Sata(1)", "03 12 0A 00 01 00 FF FF 00 00"},
      {u"SD(0x100)", "03 1A 05 00 00"},
      {u"SD()", "03 1A 05 00 00"},
  };
  for (const auto &c : cases) {
    EXPECT_EQ(Path(c.text), c.bytes + " " + kEnd) << Name(c.text);
    EXPECT_EQ(Node(c.text), c.bytes) << Name(c.text);
  }
  EXPECT_EQ(Path(u"PciRoot(0x0)/Pci(0x1F,0x2)/Sata(0x0,0xFFFF,0x0)"),
            "02 01 0C 00 D0 41 03 0A 00 00 00 00 01 01 06 00 02 1F 03 12 0A 00 00 00 FF FF 00 00 " + kEnd);
  EXPECT_EQ(Path(u"Pci(0x14,0x0)/USB(0x1,0x0)/USB(0x2,0x1)/Scsi(0x0,0x0)"),
            "01 01 06 00 00 14 03 05 06 00 01 00 03 05 06 00 02 01 03 02 08 00 00 00 00 00 " + kEnd);
}

TEST_F(MessagingNodeTest, FixedLayoutNodesKeepTheLowBitsOfEachNumber) {
  ExpectNodes({
      {u"Scsi()", "03 02 08 00 00 00 00 00"},
      {u"Scsi(0x12345,70000)", "03 02 08 00 45 23 70 11"},
      {u"Scsi(" + kOverflow + u")", "03 02 08 00 FF FF 00 00"},
      {u"Scsi( 7,x)", "03 02 08 00 07 00 00 00"},
      {u"Fibre()", "03 03 18 00 00 00 00 00 " + kZero8 + " " + kZero8},
      {u"Fibre(18446744073709551615," + kOverflow + u")", "03 03 18 00 00 00 00 00 " + kOnes8 + " " + kOnes8},
      {u"Fibre(99999999999999999999,1,2)", "03 03 18 00 00 00 00 00 " + kOnes8 + " 01 00 00 00 00 00 00 00"},
      {u"I1394()", "03 04 10 00 00 00 00 00 " + kZero8},
      {u"I1394(0x1234)", "03 04 10 00 00 00 00 00 34 12 00 00 00 00 00 00"},
      {u"I1394(1234567890ABCDEF)", "03 04 10 00 00 00 00 00 EF CD AB 90 78 56 34 12"},
      {u"I1394(1FFFFFFFFFFFFFFFF)", "03 04 10 00 00 00 00 00 " + kOnes8},
      {u"USB(1,2)", "03 05 06 00 01 02"},
      {u"USB()", "03 05 06 00 00 00"},
      {u"USB(0x100,257)", "03 05 06 00 00 01"},
      {u"USB(" + kOverflow + u",3)", "03 05 06 00 FF 03"},
      {u"I2O(5)", "03 06 08 00 05 00 00 00"},
      {u"I2O()", "03 06 08 00 00 00 00 00"},
      {u"I2O(0x100000001)", "03 06 08 00 01 00 00 00"},
      {u"I2O(" + kOverflow + u")", "03 06 08 00 FF FF FF FF"},
      {u"UFS(1,2)", "03 19 06 00 01 02"},
      {u"UFS()", "03 19 06 00 00 00"},
      {u"UFS(0x101," + kOverflow + u")", "03 19 06 00 01 FF"},
      {u"SD(3)", "03 1A 05 00 03"},
      {u"SD(" + kOverflow + u")", "03 1A 05 00 FF"},
      {u"eMMC(4)", "03 1D 05 00 04"},
      {u"eMMC(0x1FF)", "03 1D 05 00 FF"},
      {u"eMMC()", "03 1D 05 00 00"},
  });
}

TEST_F(MessagingNodeTest, BigEndianNumbersStoreTheMostSignificantByteFirst) {
  ExpectNodes({
      {u"FibreEx()", "03 15 18 00 00 00 00 00 " + kZero8 + " " + kZero8},
      {u"FibreEx(0x0102030405060708,1)", "03 15 18 00 00 00 00 00 01 02 03 04 05 06 07 08 00 00 00 00 00 00 00 01"},
      {u"FibreEx(" + kOverflow + u",256)", "03 15 18 00 00 00 00 00 " + kOnes8 + " 00 00 00 00 00 00 01 00"},
      {u"SasEx(0x1234)", "03 16 18 00 00 00 00 00 00 00 12 34 " + kZero8 + " 00 00 00 00"},
      {u"SasEx()", "03 16 18 00 " + kZero8 + " " + kZero8 + " 00 00 00 00"},
      // A SasEx has no reserved parameter: an eighth is ignored.
      {u"SasEx(1,2,3,SATA,External,Expanded,2,99)",
       "03 16 18 00 00 00 00 00 00 00 00 01 00 00 00 00 00 00 00 02 72 01 03 00"},
      {u"SasEx(" + kOverflow + u"," + kOverflow + u"," + kOverflow + u"," + kOverflow + u")",
       "03 16 18 00 " + kOnes8 + " " + kOnes8 + " FF FF FF FF"},
  });

  // Any address, and nothing beside the eight bytes.
  UINT8 buffer[11] = {0xEE, 0xEE, 0xEE, 0xEE, 0xEE, 0xEE, 0xEE, 0xEE, 0xEE, 0xEE, 0xEE};
  WriteBigEndian64(buffer + 1, 0x8877665544332211ULL);
  EXPECT_EQ(ToHex(Bytes(buffer, buffer + 11)), "EE 88 77 66 55 44 33 22 11 EE EE");
}

TEST_F(MessagingNodeTest, KeywordParametersMatchWholeWordsInTheirCaseElseReadAsNumbers) {
  ExpectNodes({
      {u"Ata()", "03 01 08 00 00 00 00 00"},
      {u"Ata(0x1FF,2,0x12345)", "03 01 08 00 FF 02 45 23"},
      {u"Ata(" + kOverflow + u",1," + kOverflow + u")", "03 01 08 00 FF 01 FF FF"},
      // A word of the other parameter, a longer word, a space or another case
      // reads as a number: 0.
      {u"Ata(Secondary,Secondary,1)", "03 01 08 00 01 00 01 00"},
      {u"Ata(Slave,Slave,1)", "03 01 08 00 00 01 01 00"},
      {u"Ata(SecondaryX,Slaves,0)", "03 01 08 00 00 00 00 00"},
      {u"Ata( Secondary,Slave ,0)", "03 01 08 00 00 00 00 00"},
      {u"Ata(SECONDARY,slave,0)", "03 01 08 00 00 00 00 00"},
      {u"Ata(0x1,Slave)", "03 01 08 00 01 01 00 00"},
      // Flow control: the two words, and 0 for any other text.
      {u"UartFlowCtrl()", "03 0A 18 00 " + kFlowControlGuid + " 00 00 00 00"},
      {u"UartFlowCtrl(1)", "03 0A 18 00 " + kFlowControlGuid + " 00 00 00 00"},
      {u"UartFlowCtrl( Hardware)", "03 0A 18 00 " + kFlowControlGuid + " 00 00 00 00"},
      {u"UartFlowCtrl(XonXoffX)", "03 0A 18 00 " + kFlowControlGuid + " 00 00 00 00"},
      {u"UartFlowCtrl(Hardware,XonXoff)", "03 0A 18 00 " + kFlowControlGuid + " 01 00 00 00"},
      // Keywords themselves match only in their own case and with "(".
      {u"sata(1)", "04 04 14 00 73 00 61 00 74 00 61 00 28 00 31 00 29 00 00 00"},
      {u"SATA(1)", "04 04 14 00 53 00 41 00 54 00 41 00 28 00 31 00 29 00 00 00"},
      {u"Sata(1", "04 04 12 00 53 00 61 00 74 00 61 00 28 00 31 00 00 00"},
  });
}

TEST_F(MessagingNodeTest, FixedGuidVendorNodesIgnoreTheirParameters) {
  ExpectNodes({
      {u"VenVt100()", "03 0A 14 00 " + kVt100Guid},
      {u"VenVt100Plus()", "03 0A 14 00 " + kVt100PlusGuid},
      {u"VenUtf8()", "03 0A 14 00 " + kUtf8Guid},
      {u"DebugPort()", "03 0A 14 00 " + kDebugPortGuid},
      {u"VenVt100(1,2)", "03 0A 14 00 " + kVt100Guid},
      {u"DebugPort(" + kGuidText + u",0102)", "03 0A 14 00 " + kDebugPortGuid},
      // The same node as a vendor node written out.
      {u"VenMsg(E0C14753-F9BE-11D2-9A0C-0090273FC14D)", "03 0A 14 00 " + kPcAnsiGuid},
  });
}

TEST_F(MessagingNodeTest, GenericAndVendorNodesCarryTheirData) {
  ExpectNodes({
      {u"Msg(5,0102)", "03 05 06 00 01 02"},
      {u"Msg(0x10A,aBcD)", "03 0A 06 00 AB CD"},
      {u"Msg()", "03 00 04 00"},
      // Two digits a byte, an odd last one dropped; a non-hex digit leaves
      // the data zero.
      {u"Msg(1,123)", "03 01 05 00 12"},
      {u"Msg(1,12G4)", "03 01 06 00 00 00"},
      {u"VenMsg(" + kGuidText + u",0102)", "03 0A 16 00 " + kGuidBytes + " 01 02"},
      {u"VenMsg(" + kGuidText + u")", "03 0A 14 00 " + kGuidBytes},
      {u"VenMsg(" + kGuidText + u",123)", "03 0A 16 00 " + kGuidBytes + " 00 00"},
      {u"VenMsg({" + kGuidText + u"},01)", "03 0A 15 00 " + kZeroGuid + " 01"},
      {u"VenMsg()", "03 0A 14 00 " + kZeroGuid},
      {u"Infiniband()", "03 09 30 00 00 00 00 00 " + kZeroGuid + " " + kZero8 + " " + kZero8 + " " + kZero8},
      {u"Infiniband(0x100000001," + kGuidText + u",5,6,7,8)",
       "03 09 30 00 01 00 00 00 " + kGuidBytes +
           " 05 00 00 00 00 00 00 00 06 00 00 00 00 00 00 00 07 00 00 00 00 00 00 00"},
      // A GID in braces is refused and stays zero.
      {u"Infiniband(1,{" + kGuidText + u"}," + kOverflow + u")",
       "03 09 30 00 01 00 00 00 " + kZeroGuid + " " + kOnes8 + " " + kZero8 + " " + kZero8},
  });
}

TEST_F(MessagingNodeTest, DataTooLongForTheLengthFieldGivesNoNode) {
  // Msg: 4 + floor(n / 2) bytes; VenMsg: 20 + (n + 1) / 2 bytes.
  const auto msg = Owned(
      [&] { return ConvertTextToDeviceNode((u"Msg(1," + std::u16string(131063, u'a') + u")").c_str()); }, true);
  ASSERT_TRUE(msg);
  EXPECT_EQ(msg->size(), 65535u);
  EXPECT_EQ((*msg)[65534], 0xAA);
  EXPECT_EQ(Node(u"Msg(1," + std::u16string(131064, u'a') + u")"), "null");

  const auto vendor = Owned(
      [&] { return ConvertTextToDeviceNode((u"VenMsg(" + kGuidText + u"," + std::u16string(131030, u'1') + u")").c_str()); },
      true);
  ASSERT_TRUE(vendor);
  EXPECT_EQ(vendor->size(), 65535u);
  EXPECT_EQ(Node(u"VenMsg(" + kGuidText + u"," + std::u16string(131031, u'1') + u")"), "null");
}

TEST(SasTopologyFromText, PacksKindLocationConnectionAndBay) {
  struct TopologyCase {
    std::u16string kind, location, connection, bay;
    UINT16 topology;
  };
  const std::vector<TopologyCase> cases = {
      {u"SATA", u"External", u"Expanded", u"2", 0x0172},
      {u"SAS", u"Internal", u"Direct", u"0", 0x0001},
      {u"SAS", u"Internal", u"Direct", u"", 0x0001},
      {u"SAS", u"Internal", u"Direct", u"1", 0x0002},
      {u"SAS", u"Internal", u"Direct", u"256", 0xFF02},
      {u"SAS", u"Internal", u"Direct", u"257", 0x0002},
      {u"SAS", u"Internal", u"Direct", u"0x10000", 0x0001},
      {u"SAS", u"Internal", u"Direct", kOverflow, 0xFE02},
      {u"SATA", u"Internal", u"Direct", u"0", 0x0011},
      // Numbers keep bit 0 of the location and bits 0-1 of the connection.
      {u"SAS", u"3", u"3", u"0", 0x00E1},
      {u"SAS", u"2", u"4", u"0", 0x0001},
      {u"SAS", u"1", u"0x2", u"0", 0x00A1},
      // Other words, spaces and cases read as numbers.
      {u"SAS", u"external", u"Expanded ", u"0", 0x0001},
      {u"SAS", u"Expanded", u"External", u"0", 0x0001},
      {u"sata", u"External", u"Expanded", u"2", 0x0000},
      {u" SAS", u"External", u"Expanded", u"2", 0x0000},
      {u"SATA ", u"External", u"Expanded", u"2", 0x0000},
      {u"", u"External", u"Expanded", u"2", 0x0000},
      {u"0x1234", u"External", u"Expanded", u"2", 0x1234},
      {u"0x12345", u"", u"", u"", 0x2345},
      {kOverflow, u"", u"", u"", 0xFFFF},
  };
  for (const auto &c : cases) {
    EXPECT_EQ(SasTopologyFromText(c.kind.c_str(), c.location.c_str(), c.connection.c_str(), c.bay.c_str()), c.topology)
        << Name(c.kind) << "," << Name(c.location) << "," << Name(c.connection) << "," << Name(c.bay);
  }
  // Without topology, or with a number, the other three texts are not read.
  EXPECT_EQ(SasTopologyFromText(u"NoTopology", nullptr, nullptr, nullptr), 0);
  EXPECT_EQ(SasTopologyFromText(u"0x1234", nullptr, nullptr, nullptr), 0x1234);
}

TEST_F(MessagingNodeTest, SasNodesPlaceTopologyReservedAndPort) {
  const std::string head = "03 0A 2C 00 " + kSasGuid;
  const std::string addressAndLun = " 01 00 00 00 00 00 00 00 02 00 00 00 00 00 00 00";
  ExpectNodes({
      {u"SAS(1,2,3,NoTopology,External,Expanded,5,7)", head + " 07 00 00 00" + addressAndLun + " 00 00 03 00"},
      {u"SAS(1,2,3,0x1234,External,Expanded,5,0x100000009)", head + " 09 00 00 00" + addressAndLun + " 34 12 03 00"},
      {u"SAS(1,2,3,SAS,3,3,0,0)", head + " 00 00 00 00" + addressAndLun + " E1 00 03 00"},
      {u"SAS(1,2,3,SATA,Internal,Direct,1,0)", head + " 00 00 00 00" + addressAndLun + " 12 00 03 00"},
      {u"SAS(1,2,3,SAS,External,Direct,256,0)", head + " 00 00 00 00" + addressAndLun + " 22 FF 03 00"},
      {u"SAS(1,2,3,SAS,internal,expanded,257,0)", head + " 00 00 00 00" + addressAndLun + " 02 00 03 00"},
      {u"SAS(1,2,3,sata,External,Expanded,2,0)", head + " 00 00 00 00" + addressAndLun + " 00 00 03 00"},
      {u"SAS(1,2,0x10003,SAS,External,Expanded,0x10000,0)", head + " 00 00 00 00" + addressAndLun + " 61 00 03 00"},
      {u"SAS()", head + " 00 00 00 00 " + kZero8 + " " + kZero8 + " 00 00 00 00"},
      {u"SAS(" + kOverflow + u"," + kOverflow + u"," + kOverflow + u"," + kOverflow + u",,,," + kOverflow + u")",
       head + " FF FF FF FF " + kOnes8 + " " + kOnes8 + " FF FF FF FF"},
  });
}

TEST_F(MessagingNodeTest, NvmeEui64GroupsFillTheFieldFromItsLastByte) {
  ExpectNodes({
      {u"NVMe()", "03 17 10 00 00 00 00 00 " + kZero8},
      {u"NVMe(" + kOverflow + u")", "03 17 10 00 FF FF FF FF " + kZero8},
      {u"NVMe(0x100000002,1-2-3)", "03 17 10 00 02 00 00 00 00 00 00 00 00 03 02 01"},
      // A group keeps its low 8 bits and may carry "0x".
      {u"NVMe(1,123-ABCD-0x0F)", "03 17 10 00 01 00 00 00 00 00 00 00 00 0F CD 23"},
      {u"NVMe(1,1-2-3-4-5-6-7-8-9-10)", "03 17 10 00 01 00 00 00 08 07 06 05 04 03 02 01"},
      {u"NVMe(1,--5)", "03 17 10 00 01 00 00 00 00 00 00 00 00 05 00 00"},
      {u"NVMe(1,G1-2)", "03 17 10 00 01 00 00 00 00 00 00 00 00 00 02 00"},
      {u"NVMe(1,FFFFFFFFFFFFFFFFF-1)", "03 17 10 00 01 00 00 00 00 00 00 00 00 00 01 FF"},
      {u"NVMe(1,aa-bb,cc)", "03 17 10 00 01 00 00 00 00 00 00 00 00 00 BB AA"},
  });
}

TEST_F(MessagingNodeTest, SataMultiplierPortIsDirectOnlyWhenMissing) {
  ExpectNodes({
      {u"Sata()", "03 12 0A 00 00 00 FF FF 00 00"},
      {u"Sata(1,0,2)", "03 12 0A 00 01 00 00 00 02 00"},
      {u"Sata(1,0xFFFF,0)", "03 12 0A 00 01 00 FF FF 00 00"},
      {u"Sata(1, ,0)", "03 12 0A 00 01 00 00 00 00 00"},
      {u"Sata(1,x,2)", "03 12 0A 00 01 00 00 00 02 00"},
      {u"Sata(0x12345,0x10001," + kOverflow + u")", "03 12 0A 00 45 23 01 00 FF FF"},
  });
}

TEST(NodeTextTable, HoldsTheBusStorageAndConsoleKeywordsInTheirPlaces) {
  const std::vector<std::u16string> expected = {
      u"Msg",       u"Ata",       u"Scsi",         u"Fibre",   u"FibreEx",      u"I1394", u"USB",
      u"I2O",       u"Infiniband", u"VenMsg",      u"VenPcAnsi", u"VenVt100",   u"VenVt100Plus",
      u"VenUtf8",   u"UartFlowCtrl", u"SAS",       u"SasEx",   u"NVMe",         u"UFS",   u"SD",
      u"eMMC",      u"DebugPort",
  };
  std::vector<std::u16string> keywords;
  for (const NODE_TEXT_ROW *row : TableRows()) {
    keywords.emplace_back(RowKeyword(row));
  }
  // Rows 20 to 41, after the hardware and ACPI rows, and "Sata" last.
  ASSERT_GE(keywords.size(), 19 + expected.size() + 1);
  EXPECT_EQ(std::vector<std::u16string>(keywords.begin() + 19, keywords.begin() + 19 + expected.size()), expected);
  EXPECT_EQ(keywords.back(), u"Sata");
}

}  // namespace
}  // namespace devpath_test
