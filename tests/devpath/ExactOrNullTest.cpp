// A conversion is exact or null. With any one allocation refused (every
// allocation of the clean run in turn), ConvertTextToDevicePath and
// ConvertTextToDeviceNode give null or exactly the clean run's bytes, and
// leave the pool as they found it. A node too long for its 16-bit Length
// makes the whole path null, as it makes the node alone null.
#include <set>
#include <string>
#include <vector>

#include "driver/inventory/Inventory.h"
#include "tests/devpath/DevpathTestSupport.h"

namespace devpath_test {
namespace {

enum class Operation { kPath, kNode };

// One conversion on a fresh firmware, with allocation `refuse` alone
// refused (0: none).
struct Run {
  std::string result;  // hex, or "null"
  bool owned = true;   // a result is valid and exactly one block of its size
  uint64_t allocations = 0;
  uint64_t refused = 0;
  uint64_t leftBlocks = 0;
  uint64_t invalidFrees = 0;
};

Run Convert(const std::u16string &text, Operation operation, uint64_t refuse) {
  sim::Platform platform = sim::DefaultPlatform();
  if (refuse != 0) {
    platform.faults.failAllocations = {refuse};
  }
  host::LinkedDriver driver(platform);
  const sim::SimFirmware &firmware = driver.Firmware();
  EFI_DEVICE_PATH_PROTOCOL *result =
      operation == Operation::kPath ? ConvertTextToDevicePath(text.c_str()) : ConvertTextToDeviceNode(text.c_str());
  Run run;
  run.allocations = firmware.Pool().Statistics().allocations;
  run.refused = firmware.Pool().Statistics().failedAllocations;
  if (result == nullptr) {
    run.result = "null";
  } else {
    const uint64_t size = operation == Operation::kPath ? GetDevicePathSize(result) : DevicePathNodeLength(result);
    run.owned = size != 0 && firmware.Pool().Statistics().outstandingBlocks == 1 &&
                firmware.Pool().Statistics().outstandingBytes == size;
    const auto *bytes = reinterpret_cast<const uint8_t *>(result);
    run.result = ToHex(Bytes(bytes, bytes + size));
    PoolFree(result);
  }
  run.leftBlocks = firmware.Pool().Statistics().outstandingBlocks;
  run.invalidFrees = firmware.Pool().Statistics().invalidFrees;
  return run;
}

// The clean run gives the pinned bytes; then each of its allocations is
// refused alone.
void ExpectExactOrNull(const std::vector<NodeCase> &cases, Operation operation) {
  for (const auto &c : cases) {
    const Run clean = Convert(c.text, operation, 0);
    ASSERT_EQ(clean.result, c.bytes) << Name(c.text);
    EXPECT_TRUE(clean.owned) << Name(c.text);
    EXPECT_EQ(clean.leftBlocks, 0u) << Name(c.text);
    EXPECT_GE(clean.allocations, 1u) << Name(c.text);
    for (uint64_t k = 1; k <= clean.allocations; k++) {
      const Run run = Convert(c.text, operation, k);
      // The run is the clean one up to allocation k, so it makes that one.
      EXPECT_EQ(run.refused, 1u) << Name(c.text) << ": allocation " << k;
      EXPECT_TRUE(run.result == "null" || run.result == c.bytes)
          << Name(c.text) << ": allocation " << k << " refused gives " << run.result;
      EXPECT_TRUE(run.owned) << Name(c.text) << ": allocation " << k;
      EXPECT_EQ(run.leftBlocks, 0u) << Name(c.text) << ": allocation " << k;
      EXPECT_EQ(run.invalidFrees, 0u) << Name(c.text) << ": allocation " << k;
    }
  }
}

const std::u16string kGuid = u"07AC0304-8AA0-4DD7-94AC-2A3DEAB5CB25";
const std::string kGuidHex = "04 03 AC 07 A0 8A D7 4D 94 AC 2A 3D EA B5 CB 25";

// The four texts of the board layouts' slots.
const std::vector<NodeCase> kSlotPaths = {
    {u"PciRoot(0x0)/Pci(0x0,0x3)", "02 01 0C 00 D0 41 03 0A 00 00 00 00 01 01 06 00 03 00 7F FF 04 00"},
    {u"PciRoot(0x0)/Pci(0x3,0x7)", "02 01 0C 00 D0 41 03 0A 00 00 00 00 01 01 06 00 07 03 7F FF 04 00"},
    {u"PciRoot(0x0)/Pci(0x16,0x19)", "02 01 0C 00 D0 41 03 0A 00 00 00 00 01 01 06 00 19 16 7F FF 04 00"},
    {u"PciRoot(0x0)/Pci(0x8,0x8)", "02 01 0C 00 D0 41 03 0A 00 00 00 00 01 01 06 00 08 08 7F FF 04 00"},
};

TEST(ExactOrNull, TheSlotTextsAreTheLayouts) {
  std::set<std::u16string> layouts;
  for (const BoardLayout *layout : {&gLayoutA, &gLayoutB, &gLayoutC}) {
    for (UINTN i = 0; i < layout->SlotCount; i++) {
      layouts.insert(layout->Slots[i].DevicePathText);
    }
  }
  std::set<std::u16string> table;
  for (const auto &c : kSlotPaths) {
    table.insert(c.text);
  }
  EXPECT_EQ(layouts, table);
}

TEST(ExactOrNull, SlotPathsUnderEachSingleRefusal) { ExpectExactOrNull(kSlotPaths, Operation::kPath); }

TEST(ExactOrNull, PathsOfEachKeywordFamilyUnderEachSingleRefusal) {
  const std::vector<NodeCase> cases = {
      // Hardware.
      {u"Pci(0x1F,0x2)/PcCard(1)/MemoryMapped(11,0x1000,0x1FFF)/VenHw(" + kGuid + u",0102)/Ctrl(3)/BMC(1,0x100)",
       "01 01 06 00 02 1F 01 02 05 00 01 01 03 18 00 0B 00 00 00 00 10 00 00 00 00 00 00 FF 1F 00 00 00 00 00 00 "
       "01 04 16 00 " + kGuidHex + " 01 02 01 05 08 00 03 00 00 00 01 06 0D 00 01 00 01 00 00 00 00 00 00 "
       "7F FF 04 00"},
      // ACPI, AcpiAdr growing its node.
      {u"PciRoot(0x1)/PcieRoot(2)/Acpi(PNP0A03,0)/Floppy(0)/AcpiEx(PNP0A03,PNP0A08,1,A,B,C)/AcpiExp(PNP0A03,0,U)/"
       u"AcpiAdr(1,2,3)",
       "02 01 0C 00 D0 41 03 0A 01 00 00 00 02 01 0C 00 D0 41 08 0A 02 00 00 00 02 01 0C 00 D0 41 03 0A 00 00 00 00 "
       "02 01 0C 00 D0 41 04 06 00 00 00 00 "
       "02 02 16 00 D0 41 03 0A 01 00 00 00 D0 41 08 0A 41 00 43 00 42 00 "
       "02 02 14 00 D0 41 03 0A 00 00 00 00 00 00 00 00 00 55 00 00 "
       "02 03 10 00 01 00 00 00 02 00 00 00 03 00 00 00 7F FF 04 00"},
      // Messaging: buses, storage, consoles.
      {u"Ata(Primary,Master,0)/Scsi(1,2)/USB(1,2)/VenPcAnsi()/UartFlowCtrl(XonXoff)/"
       u"SAS(0x1234,0,1,SATA,External,Expanded,2,0)/NVMe(1,01-02-03-04-05-06-07-08)/Sata(0x1,,0x0)",
       "03 01 08 00 00 00 00 00 03 02 08 00 01 00 02 00 03 05 06 00 01 02 "
       "03 0A 14 00 53 47 C1 E0 BE F9 D2 11 9A 0C 00 90 27 3F C1 4D "
       "03 0A 18 00 9D 9A 49 37 2F 54 89 4C A0 26 35 DA 14 20 94 E4 02 00 00 00 "
       "03 0A 2C 00 B4 DD 87 D4 8B 00 D9 11 AF DC 00 10 83 FF CA 4D 00 00 00 00 34 12 00 00 00 00 00 00 "
       "00 00 00 00 00 00 00 00 72 01 01 00 "
       "03 17 10 00 01 00 00 00 08 07 06 05 04 03 02 01 03 12 0A 00 01 00 FF FF 00 00 7F FF 04 00"},
      // Messaging: network, USB classes, wireless; a Dns with servers.
      {u"MAC(001122334455,1)/IPv4(10.0.0.1,TCP,Static,10.0.0.2)/UsbHID(,,1,1)/UsbWwid(1,2,3,\"AB\")/"
       u"iSCSI(iqn,1,0x1,CRC32C,None,None,TCP)/Vlan(5)/Dns(10.0.0.1,10.0.0.2)/Uri(http://a/b)/Wi-Fi(ssid)",
       "03 0B 25 00 00 11 22 33 44 55 " + Zeros(26) + " 01 "
       "03 0C 1B 00 0A 00 00 02 0A 00 00 01 00 00 00 00 06 00 01 " + Zeros(8) + " "
       "03 0F 0B 00 FF FF FF FF 03 01 01 "
       "03 10 0E 00 03 00 01 00 02 00 41 00 42 00 "
       "03 13 16 00 00 00 02 08 00 00 00 00 00 00 00 01 01 00 69 71 6E 00 "
       "03 14 06 00 05 00 "
       "03 1F 25 00 00 0A 00 00 01 " + Zeros(12) + " 0A 00 00 02 " + Zeros(12) + " "
       "03 18 0E 00 68 74 74 70 3A 2F 2F 61 2F 62 "
       "03 1C 24 00 73 73 69 64 " + Zeros(28) + " 7F FF 04 00"},
      // Media.
      {u"HD(1,MBR,0xAB,0x22,0x100)/CDROM(1,2,3)/VenMedia(" + kGuid + u",01)/Fv(" + kGuid +
           u")/RamDisk(1,2,3," + kGuid + u")/VirtualDisk(0x100,0x1FF,0)",
       "04 01 2A 00 01 00 00 00 22 00 00 00 00 00 00 00 00 01 00 00 00 00 00 00 AB 00 00 00 " + Zeros(12) +
           " 01 01 04 02 18 00 01 00 00 00 02 00 00 00 00 00 00 00 03 00 00 00 00 00 00 00 "
           "04 03 15 00 " + kGuidHex + " 01 04 07 14 00 " + kGuidHex +
           " 04 09 26 00 01 00 00 00 00 00 00 00 02 00 00 00 00 00 00 00 " + kGuidHex +
           " 03 00 04 09 26 00 00 01 00 00 00 00 00 00 FF 01 00 00 00 00 00 00 "
           "5A 53 AB 77 FC 45 4B 62 55 60 F7 B2 81 D1 F9 6E 00 00 7F FF 04 00"},
      // BBS, and a BBS generic node.
      {u"BBS(HD,Disk,0)/BbsPath(1,0102)", "05 01 0D 00 02 00 00 00 44 69 73 6B 00 05 01 06 00 01 02 7F FF 04 00"},
      // File paths: a name, a keyword without "(", a keyword in other case.
      {u"\\EFI\\BOOT/Pci/hd(1)",
       "04 04 18 00 5C 00 45 00 46 00 49 00 5C 00 42 00 4F 00 4F 00 54 00 00 00 "
       "04 04 0C 00 50 00 63 00 69 00 00 00 04 04 10 00 68 00 64 00 28 00 31 00 29 00 00 00 7F FF 04 00"},
      // Generic nodes.
      {u"Path(1,1,0300)/HardwarePath(2,0102)/AcpiPath(1,AB)/Msg(5,0102)/MediaPath(9,01)",
       "01 01 06 00 03 00 01 02 06 00 01 02 02 01 05 00 AB 03 05 06 00 01 02 04 09 05 00 01 7F FF 04 00"},
      // Several instances.
      {u"Pci(1,2),Pci(3,4)", "01 01 06 00 02 01 7F 01 04 00 01 01 06 00 04 03 7F FF 04 00"},
      {u"PciRoot(0x0)/Pci(1,0),PciRoot(0x1)/Pci(2,0),",
       "02 01 0C 00 D0 41 03 0A 00 00 00 00 01 01 06 00 00 01 7F 01 04 00 "
       "02 01 0C 00 D0 41 03 0A 01 00 00 00 01 01 06 00 00 02 7F 01 04 00 7F FF 04 00"},
      // What the text itself gives keeps giving it: a Dns without servers
      // adds nothing, empty node texts add nothing, an unbalanced rest is
      // dropped, a surplus ")" ends an instance, and a node that makes no
      // valid path drops the path built so far.
      {u"Pci(1,2)/Dns()/Pci(3,4)", "01 01 06 00 02 01 01 01 06 00 04 03 7F FF 04 00"},
      {u"//Pci(1,2)//(/Pci(3,4)/", "01 01 06 00 02 01 01 01 06 00 04 03 7F FF 04 00"},
      {u"Pci(1,2)/Pci(3", "01 01 06 00 02 01 7F FF 04 00"},
      {u"Pci(1,2))/Pci(3,4)", "01 01 06 00 02 01 7F 01 04 00 7F FF 04 00"},
      {u"Pci(1,2)/Path(0x7F,0xFF,00)/Pci(3,4)", "01 01 06 00 04 03 7F FF 04 00"},
      {u"/,/", "7F FF 04 00"},
  };
  ExpectExactOrNull(cases, Operation::kPath);
}

TEST(ExactOrNull, NodesOfEachKeywordFamilyUnderEachSingleRefusal) {
  const std::vector<NodeCase> cases = {
      {u"Pci(0x1F,0x2)", "01 01 06 00 02 1F"},
      {u"PciRoot(0x0)", "02 01 0C 00 D0 41 03 0A 00 00 00 00"},
      {u"AcpiEx(PNP0A03,PNP0A08,1,A,B,C)", "02 02 16 00 D0 41 03 0A 01 00 00 00 D0 41 08 0A 41 00 43 00 42 00"},
      {u"AcpiAdr(1,2,3,4)", "02 03 14 00 01 00 00 00 02 00 00 00 03 00 00 00 04 00 00 00"},
      {u"VenHw(" + kGuid + u",0102)", "01 04 16 00 " + kGuidHex + " 01 02"},
      {u"Sata(0x1,,0x0)", "03 12 0A 00 01 00 FF FF 00 00"},
      {u"Dns(fe80::1,fe80::2)",
       "03 1F 25 00 01 FE 80 00 00 00 00 00 00 00 00 00 00 00 00 00 01 FE 80 00 00 00 00 00 00 00 00 00 00 00 00 00 02"},
      {u"Dns()", "null"},
      {u"UsbWwid(1,2,3,\"AB\")", "03 10 0E 00 03 00 01 00 02 00 41 00 42 00"},
      {u"Uri(http://a)", "03 18 0C 00 68 74 74 70 3A 2F 2F 61"},
      {u"HD(2,GPT," + kGuid + u",1,2)",
       "04 01 2A 00 02 00 00 00 01 00 00 00 00 00 00 00 02 00 00 00 00 00 00 00 " + kGuidHex + " 02 02"},
      {u"BBS(Network,PXE,0)", "05 01 0C 00 06 00 00 00 50 58 45 00"},
      {u"\\EFI\\BOOT", "04 04 18 00 5C 00 45 00 46 00 49 00 5C 00 42 00 4F 00 4F 00 54 00 00 00"},
      {u"Pci(", "04 04 0E 00 50 00 63 00 69 00 28 00 00 00"},
      {u"HardwarePath(1,0102)", "01 01 06 00 01 02"},
  };
  ExpectExactOrNull(cases, Operation::kNode);
}

// Hex of Count bytes of Value.
std::string Repeat(const std::string &value, size_t count) {
  std::string text;
  for (size_t i = 0; i < count; i++) {
    text += (i == 0 ? "" : " ") + value;
  }
  return text;
}

using OverLongTest = PoolTest;

TEST_F(OverLongTest, ANodeTooLongForItsLengthMakesThePathNull) {
  std::u16string dnsServers;
  for (int i = 0; i < 4096; i++) {
    dnsServers += u"10.0.0.1,";
  }
  std::u16string adrValues;
  for (int i = 0; i < 16383; i++) {
    adrValues += u"1,";
  }
  const std::string pci = "01 01 06 00 02 01";
  const std::vector<NodeCase> cases = {
      // A file-path node of 32,765 characters needs 65,536 bytes.
      {std::u16string(32765, u'A'), "null"},
      {u"PciRoot(0)/" + std::u16string(32765, u'A'), "null"},
      {std::u16string(32765, u'A') + u"/Pci(1,2)", "null"},
      {u"Pci(1,2)/" + std::u16string(32765, u'a') + u",Pci(3,4)", "null"},
      {u"Pci(1,2)/UsbWwid(1,2,3," + std::u16string(32763, u'S') + u")", "null"},
      {u"Pci(1,2)/UsbWwid(1,2,3,\"" + std::u16string(32763, u'S') + u"\")", "null"},
      {u"Pci(1,2)/iSCSI(" + std::u16string(65517, u'n') + u",1)", "null"},
      {u"Pci(1,2)/HardwarePath(1," + std::u16string(131064, u'f') + u")", "null"},
      {u"Pci(1,2)/Path(1,1," + std::u16string(131064, u'f') + u")", "null"},
      {u"Pci(1,2)/VenHw(" + kGuid + u"," + std::u16string(131031, u'1') + u")", "null"},
      {u"Pci(1,2)/VenMsg(" + kGuid + u"," + std::u16string(131031, u'1') + u")", "null"},
      {u"Pci(1,2)/AcpiEx(PNP0A03,0,0," + std::u16string(65516, u'S') + u",,S)", "null"},
      {u"Pci(1,2)/AcpiEx(PNP0A03,0,0," + std::u16string(65516, u'S') + u",,SSSSS)", "null"},
      {u"Pci(1,2)/AcpiExp(PNP0A03,0," + std::u16string(65521, u'S') + u")", "null"},
      {u"Pci(1,2)/AcpiAdr(" + adrValues + u")", "null"},
      {u"Pci(1,2)/Dns(" + dnsServers + u")", "null"},
      {u"Fv()/BBS(HD," + std::u16string(70000, u'D') + u",0)", "null"},
      // The longest nodes that fit are kept.
      {u"Pci(1,2)/" + std::u16string(32764, u'a'),
       pci + " 04 04 FE FF " + Repeat("61 00", 32764) + " 00 00 7F FF 04 00"},
      {u"Pci(1,2)/iSCSI(" + std::u16string(65516, u'n') + u",1)",
       pci + " 03 13 FF FF 00 00 00 00 " + Zeros(8) + " 01 00 " + Repeat("6E", 65516) + " 00 7F FF 04 00"},
      // The texts the node kinds cut themselves stay cut: a URI to 65,531
      // characters, an SSID to 32.
      {u"Pci(1,2)/Uri(" + std::u16string(70000, u'u') + u")", pci + " 03 18 FF FF " + Repeat("75", 65531) + " 7F FF 04 00"},
      {u"Pci(1,2)/Wi-Fi(" + std::u16string(40, u'w') + u")", pci + " 03 1C 24 00 " + Repeat("77", 32) + " 7F FF 04 00"},
  };
  for (const auto &c : cases) {
    const std::string path = Path(c.text);
    EXPECT_TRUE(path == c.bytes) << Name(c.text) << ": " << path.substr(0, 80);
  }
}

}  // namespace
}  // namespace devpath_test
