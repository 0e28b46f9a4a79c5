// The media and BBS node parsers, byte for byte, and the keyword table as a
// whole: its keywords in their fixed order, each giving a node of its row's
// kind.
#include <algorithm>
#include <cstddef>
#include <string>
#include <vector>

#include "tests/devpath/DevpathTestSupport.h"

namespace devpath_test {
namespace {

const std::string kOnes = "FF FF FF FF FF FF FF FF";

using MediaNodeTest = PoolTest;

// Offsets 4 partition, 8 start, 16 size, 24 signature, 40 format, 41
// signature type.
TEST_F(MediaNodeTest, HardDriveTypeWordsDecideFormatAndSignature) {
  const std::string mbr = "04 01 2A 00 01 00 00 00 22 " + Zeros(7) + " 00 01 " + Zeros(6);
  const std::vector<NodeCase> cases = {
      {u"HD(1,MBR,0xAB,0x22,0x100)", mbr + " AB " + Zeros(15) + " 01 01"},
      // The MBR signature keeps its low 32 bits.
      {u"HD(1,MBR,0x1CAFEF00D,0x22,0x100)", mbr + " 0D F0 FE CA " + Zeros(12) + " 01 01"},
      {u"HD(1,MBR,,0x22,0x100)", mbr + " " + Zeros(16) + " 01 01"},
      {u"HD(2,GPT," + kGuidText + u",0x800,0x100000)",
       "04 01 2A 00 02 00 00 00 00 08 " + Zeros(6) + " 00 00 10 " + Zeros(5) + " " + kGuidBytes + " 02 02"},
      // A GUID that is not complete leaves the signature zero, not the format.
      {u"HD(2,GPT,07AC0304-8AA0-4DD7-94AC,0x800,0x100000)",
       "04 01 2A 00 02 00 00 00 00 08 " + Zeros(6) + " 00 00 10 " + Zeros(5) + " " + Zeros(16) + " 02 02"},
      {u"HD(2,GPT,{" + kGuidText + u"},1,2)",
       "04 01 2A 00 02 00 00 00 01 " + Zeros(7) + " 02 " + Zeros(7) + " " + Zeros(16) + " 02 02"},
      // Any other type is a number: the signature type alone, no format and
      // no signature, the Signature parameter still taking its place.
      {u"HD(1,2,5,0x22,0x100)", mbr + " " + Zeros(16) + " 00 02"},
      {u"HD(1,0x102,5)", "04 01 2A 00 01 " + Zeros(35) + " 00 02"},
      {u"HD(1,mbr,5,0x22,0x100)", mbr + " " + Zeros(16) + " 00 00"},
      {u"HD(1,gpt," + kGuidText + u")", "04 01 2A 00 01 " + Zeros(37)},
      {u"HD(1, MBR,5)", "04 01 2A 00 01 " + Zeros(37)},
      {u"HD(1,MBR ,5)", "04 01 2A 00 01 " + Zeros(37)},
      // Numbers: low 32 bits of the partition, 64-bit start and size.
      {u"HD(0x100000003,MBR,1,99999999999999999999999,0xFFFFFFFFFFFFFFFF)",
       "04 01 2A 00 03 00 00 00 " + kOnes + " " + kOnes + " 01 " + Zeros(15) + " 01 01"},
      {u"HD()", "04 01 2A 00 " + Zeros(38)},
      {u"HD(1,MBR,0xAB,0x22,0x100,7,8)", mbr + " AB " + Zeros(15) + " 01 01"},
  };
  ExpectNodes(cases);
}

TEST_F(MediaNodeTest, ConvertsFixedLayoutMediaNodes) {
  const std::vector<NodeCase> cases = {
      // CDROM(Entry,Start,Size)
      {u"CDROM(3)", "04 02 18 00 03 00 00 00 " + Zeros(16)},
      {u"CDROM(0x1,0x100,0x2000)", "04 02 18 00 01 00 00 00 00 01 " + Zeros(6) + " 00 20 " + Zeros(6)},
      {u"CDROM(0x100000002,0xFFFFFFFFFFFFFFFFF,18446744073709551615)",
       "04 02 18 00 02 00 00 00 " + kOnes + " " + kOnes},
      {u"CDROM()", "04 02 18 00 " + Zeros(20)},
      {u"CDROM(x5,Boot,5)", "04 02 18 00 " + Zeros(12) + " 05 " + Zeros(7)},
      // Offset(Start,End), after four reserved bytes.
      {u"Offset(0x100,0x1FF)", "04 08 18 00 00 00 00 00 00 01 " + Zeros(6) + " FF 01 " + Zeros(6)},
      {u"Offset(0xFFFFFFFFFFFFFFFFF,1)", "04 08 18 00 00 00 00 00 " + kOnes + " 01 " + Zeros(7)},
      {u"Offset()", "04 08 18 00 " + Zeros(20)},
      // A GUID in each of Media, FvFile and Fv; an incomplete one is zero.
      {u"Media(" + kGuidText + u")", "04 05 14 00 " + kGuidBytes},
      {u"FvFile(" + kGuidText + u")", "04 06 14 00 " + kGuidBytes},
      {u"Fv(" + kGuidText + u",1)", "04 07 14 00 " + kGuidBytes},
      {u"Fv(07ac0304-8aa0-4dd7-94ac-2a3deab5cb25)", "04 07 14 00 " + kGuidBytes},
      {u"Fv()", "04 07 14 00 " + Zeros(16)},
      {u"FvFile({" + kGuidText + u"})", "04 06 14 00 " + Zeros(16)},
      {u"Media(07AC0304-8AA0-4DD7-94AC-2A3DEAB5CB2)", "04 05 14 00 " + Zeros(16)},
  };
  ExpectNodes(cases);
}

// Offsets 4 start, 12 end, 20 disk type GUID, 36 instance.
TEST_F(MediaNodeTest, RamDisksTakeTheirTypeFromTheTextOrTheKeyword) {
  const std::string range = "04 09 26 00 00 01 " + Zeros(6) + " FF 01 " + Zeros(6);
  const std::vector<NodeCase> cases = {
      {u"VirtualDisk(0x100,0x1FF,0)", range + " 5A 53 AB 77 FC 45 4B 62 55 60 F7 B2 81 D1 F9 6E 00 00"},
      {u"VirtualCD(0x100,0x1FF,2)", range + " 30 BD 5A 3D 75 41 CE 87 6D 64 D2 AD E5 23 C4 BB 02 00"},
      {u"PersistentVirtualDisk(0x100,0x1FF,0x10003)",
       range + " C9 02 EA 5C 07 4D D3 69 26 9F 44 96 FB E0 96 F9 03 00"},
      {u"PersistentVirtualCD(0x100,0x1FF,0xFFFF)", range + " 88 81 01 08 CD 42 48 BB 10 0F 53 87 D5 3D ED 3D FF FF"},
      // A fourth parameter does not replace the keyword's disk type.
      {u"VirtualDisk(0x100,0x1FF,0," + kGuidText + u")",
       range + " 5A 53 AB 77 FC 45 4B 62 55 60 F7 B2 81 D1 F9 6E 00 00"},
      {u"VirtualCD()", "04 09 26 00 " + Zeros(16) + " 30 BD 5A 3D 75 41 CE 87 6D 64 D2 AD E5 23 C4 BB 00 00"},
      {u"RamDisk(0x100,0x1FF,1," + kGuidText + u")", range + " " + kGuidBytes + " 01 00"},
      {u"RamDisk(0x100,0x1FF,1,VirtualDisk)", range + " " + Zeros(16) + " 01 00"},
      {u"RamDisk(0x100,0x1FF,1,07AC0304-8AA0-4DD7)", range + " " + Zeros(16) + " 01 00"},
      {u"RamDisk(0x100,0x1FF)", range + " " + Zeros(18)},
      {u"RamDisk(99999999999999999999,,0x12345)", "04 09 26 00 " + kOnes + " " + Zeros(24) + " 45 23"},
  };
  ExpectNodes(cases);
}

TEST_F(MediaNodeTest, ConvertsVendorAndGenericNodes) {
  const std::vector<NodeCase> cases = {
      {u"VenMedia(" + kGuidText + u",0102)", "04 03 16 00 " + kGuidBytes + " 01 02"},
      {u"VenMedia(" + kGuidText + u")", "04 03 14 00 " + kGuidBytes},
      {u"VenMedia(,AB)", "04 03 15 00 " + Zeros(16) + " AB"},
      // Subtype by ParseNumber, then floor(n / 2) data bytes.
      {u"MediaPath(1,0102)", "04 01 06 00 01 02"},
      {u"MediaPath(0x10,ABC)", "04 10 05 00 AB"},
      {u"MediaPath(0x109,A G1)", "04 09 06 00 00 00"},
      {u"MediaPath()", "04 00 04 00"},
      {u"BbsPath(1,0200)", "05 01 06 00 02 00"},
      {u"BbsPath(x1,FF)", "05 00 05 00 FF"},
      {u"BbsPath()", "05 00 04 00"},
  };
  ExpectNodes(cases);
}

// Offsets 4 device type, 6 status flags, 8 description and a zero byte.
TEST_F(MediaNodeTest, BbsDeviceTypesAreWordsOrNumbers) {
  const std::vector<NodeCase> cases = {
      {u"BBS(HD,Disk,0)", "05 01 0D 00 02 00 00 00 44 69 73 6B 00"},
      {u"BBS(7,,0x100)", "05 01 09 00 07 00 00 01 00"},
      {u"BBS(Floppy,A,1)", "05 01 0A 00 01 00 01 00 41 00"},
      {u"BBS(CDROM,,)", "05 01 09 00 03 00 00 00 00"},
      {u"BBS(PCMCIA,,)", "05 01 09 00 04 00 00 00 00"},
      {u"BBS(USB,,)", "05 01 09 00 05 00 00 00 00"},
      {u"BBS(Network,PXE,0xFFFF1)", "05 01 0C 00 06 00 F1 FF 50 58 45 00"},
      // Words in other case, with spaces, or only beginning with a word are
      // numbers: 0 for letters.
      {u"BBS(hd,X,0)", "05 01 0A 00 00 00 00 00 58 00"},
      {u"BBS( HD,X,0)", "05 01 0A 00 00 00 00 00 58 00"},
      {u"BBS(HDD,X,0)", "05 01 0A 00 00 00 00 00 58 00"},
      {u"BBS(Net,X,0)", "05 01 0A 00 00 00 00 00 58 00"},
      {u"BBS(0x10006,X,0)", "05 01 0A 00 06 00 00 00 58 00"},
      // One byte per character, its low 8 bits; spaces are kept.
      {u"BBS(2,\u0141b c,3)", "05 01 0D 00 02 00 03 00 41 62 20 63 00"},
      {u"BBS()", "05 01 09 00 00 00 00 00 00"},
      {u"BBS(HD,Disk,0,9)", "05 01 0D 00 02 00 00 00 44 69 73 6B 00"},
  };
  ExpectNodes(cases);
}

TEST_F(MediaNodeTest, BbsDescriptionsTooLongForTheLengthFieldAreRefused) {
  // 9 + n bytes must fit in 16 bits: n = 65526 is the longest description.
  const auto longest =
      Owned([&] { return ConvertTextToDeviceNode((u"BBS(HD," + std::u16string(65526, u'D') + u",0)").c_str()); }, true);
  ASSERT_TRUE(longest);
  ASSERT_EQ(longest->size(), 65535u);
  EXPECT_EQ(ToHex(Bytes(longest->begin(), longest->begin() + 9)), "05 01 FF FF 02 00 00 00 44");
  EXPECT_EQ((*longest)[65533], 0x44);
  EXPECT_EQ((*longest)[65534], 0x00);
  EXPECT_EQ(Node(u"BBS(HD," + std::u16string(65527, u'D') + u",0)"), "null");
  // In a path the refused node makes the whole path null.
  EXPECT_EQ(Path(u"Fv()/BBS(HD," + std::u16string(70000, u'D') + u",0)"), "null");
}

TEST_F(MediaNodeTest, KeywordsMatchOnlyExactlyAndDirectlyBeforeTheParenthesis) {
  // Other case, a space, or a missing ")" makes a file-path node of the
  // whole node text; a keyword that begins a longer one claims nothing.
  const std::vector<NodeCase> cases = {
      {u"hd(1)", "04 04 10 00 68 00 64 00 28 00 31 00 29 00 00 00"},
      {u"Bbs(1)", "04 04 12 00 42 00 62 00 73 00 28 00 31 00 29 00 00 00"},
      {u"Fv (1)", "04 04 12 00 46 00 76 00 20 00 28 00 31 00 29 00 00 00"},
      {u"Fv(1", "04 04 0E 00 46 00 76 00 28 00 31 00 00 00"},
      {u"FvFile()", "04 06 14 00 " + Zeros(16)},
      {u"Media()", "04 05 14 00 " + Zeros(16)},
      {u"MediaPath(5)", "04 05 04 00"},
      {u"VirtualDisk()", "04 09 26 00 " + Zeros(16) + " 5A 53 AB 77 FC 45 4B 62 55 60 F7 B2 81 D1 F9 6E 00 00"},
  };
  ExpectNodes(cases);
}

// What `boardinv devpath` prints for each example: the path, end node
// included.
TEST_F(MediaNodeTest, ExamplesConvertAsWholePaths) {
  const std::vector<NodeCase> cases = {
      {u"HD(1,MBR,0xAB,0x22,0x100)",
       "04 01 2A 00 01 00 00 00 22 " + Zeros(7) + " 00 01 " + Zeros(6) + " AB " + Zeros(15) + " 01 01 7F FF 04 00"},
      {u"HD(1,mbr,5)", "04 01 2A 00 01 " + Zeros(37) + " 7F FF 04 00"},
      {u"HD(1,2,5)", "04 01 2A 00 01 " + Zeros(36) + " 02 7F FF 04 00"},
      {u"CDROM(3)", "04 02 18 00 03 " + Zeros(19) + " 7F FF 04 00"},
      {u"Offset(0x100,0x1FF)",
       "04 08 18 00 00 00 00 00 00 01 " + Zeros(6) + " FF 01 " + Zeros(6) + " 7F FF 04 00"},
      {u"VirtualDisk(0x100,0x1FF,0)", "04 09 26 00 00 01 " + Zeros(6) + " FF 01 " + Zeros(6) +
                                          " 5A 53 AB 77 FC 45 4B 62 55 60 F7 B2 81 D1 F9 6E 00 00 7F FF 04 00"},
      {u"RamDisk(0,0,0,1)", "04 09 26 00 " + Zeros(34) + " 7F FF 04 00"},
      {u"BBS(HD,Disk,0)", "05 01 0D 00 02 00 00 00 44 69 73 6B 00 7F FF 04 00"},
      {u"BBS(7,,0x100)", "05 01 09 00 07 00 00 01 00 7F FF 04 00"},
      {u"BBS(hd,X,0)", "05 01 0A 00 00 00 00 00 58 00 7F FF 04 00"},
      {u"Fv()", "04 07 14 00 " + Zeros(16) + " 7F FF 04 00"},
      // A boot entry: a partition, then a file on it.
      {u"PciRoot(0x0)/Pci(0x1,0x0)/HD(1,GPT," + kGuidText + u",0x800,0x100000)/\\EFI",
       "02 01 0C 00 D0 41 03 0A 00 00 00 00 01 01 06 00 00 01 04 01 2A 00 01 00 00 00 00 08 " + Zeros(6) +
           " 00 00 10 " + Zeros(5) + " " + kGuidBytes + " 02 02 04 04 0E 00 5C 00 45 00 46 00 49 00 00 00 7F FF 04 00"},
      {u"Fv(" + kGuidText + u")/FvFile(" + kGuidText + u")",
       "04 07 14 00 " + kGuidBytes + " 04 06 14 00 " + kGuidBytes + " 7F FF 04 00"},
  };
  ExpectPaths(cases);
}

// The keywords of the device-path text representation in their fixed order.
const std::vector<std::u16string> kKeywordOrder = {
    u"Path", u"HardwarePath", u"Pci", u"PcCard", u"MemoryMapped", u"VenHw", u"Ctrl", u"BMC", u"AcpiPath", u"Acpi",
    u"PciRoot", u"PcieRoot", u"Floppy", u"Keyboard", u"Serial", u"ParallelPort", u"AcpiEx", u"AcpiExp", u"AcpiAdr",
    // Messaging: buses, storage and consoles.
    u"Msg", u"Ata", u"Scsi", u"Fibre", u"FibreEx", u"I1394", u"USB", u"I2O", u"Infiniband", u"VenMsg", u"VenPcAnsi",
    u"VenVt100", u"VenVt100Plus", u"VenUtf8", u"UartFlowCtrl", u"SAS", u"SasEx", u"NVMe", u"UFS", u"SD", u"eMMC",
    u"DebugPort",
    // Messaging: network, USB classes and wireless.
    u"MAC", u"IPv4", u"IPv6", u"Uart", u"UsbClass", u"UsbAudio", u"UsbCDCControl", u"UsbHID", u"UsbImage",
    u"UsbPrinter", u"UsbMassStorage", u"UsbHub", u"UsbCDCData", u"UsbSmartCard", u"UsbVideo", u"UsbDiagnostic",
    u"UsbWireless", u"UsbDeviceFirmwareUpdate", u"UsbIrdaBridge", u"UsbTestAndMeasurement", u"UsbWwid", u"Unit",
    u"iSCSI", u"Vlan", u"Dns", u"Uri", u"Bluetooth", u"Wi-Fi", u"BluetoothLE",
    // Media and BBS.
    u"MediaPath", u"HD", u"CDROM", u"VenMedia", u"Media", u"Fv", u"FvFile", u"Offset", u"RamDisk", u"VirtualDisk",
    u"VirtualCD", u"PersistentVirtualDisk", u"PersistentVirtualCD", u"BbsPath", u"BBS",
    // Last.
    u"Sata",
};

std::vector<std::u16string> TableKeywords() {
  std::vector<std::u16string> keywords;
  for (const NODE_TEXT_ROW *row : TableRows()) {
    EXPECT_NE(gNodeTextTables.Parsers[row->Parser], nullptr) << Name(RowKeyword(row));
    keywords.emplace_back(RowKeyword(row));
  }
  return keywords;
}

TEST(NodeTextTable, HoldsItsKeywordsInTheFixedOrder) {
  ASSERT_EQ(kKeywordOrder.size(), 86u);
  // Each row's keyword stands after the previous row's in the fixed order,
  // so the rows present keep their places and none is repeated.
  size_t next = 0;
  for (const auto &keyword : TableKeywords()) {
    size_t place = next;
    while (place < kKeywordOrder.size() && kKeywordOrder[place] != keyword) {
      place++;
    }
    ASSERT_LT(place, kKeywordOrder.size()) << Name(keyword) << " is unknown or out of order";
    next = place + 1;
  }
  // The media and BBS rows are all there, in one run.
  const auto keywords = TableKeywords();
  const auto first = std::find(keywords.begin(), keywords.end(), u"MediaPath");
  ASSERT_NE(first, keywords.end());
  EXPECT_EQ(std::vector<std::u16string>(first, first + std::min<std::ptrdiff_t>(15, keywords.end() - first)),
            std::vector<std::u16string>(kKeywordOrder.begin() + 70, kKeywordOrder.begin() + 85));
}

TEST(NodeTextTable, HoldsEveryKeywordOfTheTextRepresentation) {
  const auto keywords = TableKeywords();
  std::string missing;
  for (const auto &keyword : kKeywordOrder) {
    if (std::find(keywords.begin(), keywords.end(), keyword) == keywords.end()) {
      missing += " " + Name(keyword);
    }
  }
  EXPECT_EQ(missing, "") << "keywords that would read as file names";
  EXPECT_EQ(keywords, kKeywordOrder);
}

TEST_F(MediaNodeTest, EveryKeywordWithEmptyParametersGivesItsRowsNodeKind) {
  // With no parameters every subtype taken from the text is 0, the row's
  // own value for such rows, and "Path" makes type 0. A DNS node needs a
  // server: without one there is no node.
  for (const NODE_TEXT_ROW *row : TableRows()) {
    const std::u16string keyword = RowKeyword(row);
    if (keyword == u"Dns") {
      EXPECT_EQ(Node(u"Dns()"), "null");
    }
    const std::u16string text = keyword + (keyword == u"Dns" ? u"(0.0.0.0)" : u"()");
    const auto node = Owned([&] { return ConvertTextToDeviceNode(text.c_str()); }, true);
    ASSERT_TRUE(node) << Name(text);
    EXPECT_EQ((*node)[0], row->Type) << Name(text);
    EXPECT_EQ((*node)[1], row->SubType) << Name(text);
  }
}

}  // namespace
}  // namespace devpath_test
