// The formatter of binary device paths: the text of every keyword, the
// generic forms where a keyword's text cannot say a node, instances, the
// path of no nodes, and invalid paths named by their offset. Every text
// expected here is also converted back by the driver's converter.
#include <set>
#include <string>
#include <vector>

#include "host/sim/Text.h"
#include "tests/devpath/DevpathTestSupport.h"
#include "tests/support/DeviceTextLaw.h"

namespace devpath_test {
namespace {

struct TextCase {
  std::string bytes;  // hex
  std::string text;
};

// One row per keyword of the converter's table, in the table's order: the
// bytes of a node and the text the formatter writes for them.
const std::vector<TextCase> kKeywordTexts = {
    {"06 01 06 00 01 02",
     R"(Path(0x6,0x1,0102))"},
    {"01 20 06 00 01 02",
     R"(HardwarePath(0x20,0102))"},
    {"01 01 06 00 02 1F",
     R"(Pci(0x1F,0x2))"},
    {"01 02 05 00 01",
     R"(PcCard(0x1))"},
    {"01 03 18 00 0B 00 00 00 00 00 D0 FE 00 00 00 00 FF 03 D0 FE 00 00 00 00",
     R"(MemoryMapped(0xB,0xFED00000,0xFED003FF))"},
    {"01 04 19 00 78 56 34 12 BC 9A F0 DE 12 34 56 78 9A BC DE F0 01 02 03 04 05",
     R"(VenHw(12345678-9ABC-DEF0-1234-56789ABCDEF0,0102030405))"},
    {"01 05 08 00 02 00 00 00",
     R"(Ctrl(0x2))"},
    {"01 06 0D 00 01 A2 0C 00 00 00 00 00 00",
     R"(BMC(0x1,0xCA2))"},
    {"02 09 06 00 01 02",
     R"(AcpiPath(0x9,0102))"},
    {"02 01 0C 00 F0 22 02 00 01 00 00 00",
     R"(Acpi(HWP0002,0x1))"},
    {"02 01 0C 00 D0 41 03 0A 00 00 00 00",
     R"(PciRoot(0x0))"},
    {"02 01 0C 00 D0 41 08 0A 01 00 00 00",
     R"(PcieRoot(0x1))"},
    {"02 01 0C 00 D0 41 04 06 00 00 00 00",
     R"(Floppy(0x0))"},
    {"02 01 0C 00 D0 41 01 03 00 00 00 00",
     R"(Keyboard(0x0))"},
    {"02 01 0C 00 D0 41 01 05 01 00 00 00",
     R"(Serial(0x1))"},
    {"02 01 0C 00 D0 41 01 04 00 00 00 00",
     R"(ParallelPort(0x0))"},
    {"02 02 1B 00 D0 41 08 0A 00 00 00 00 D0 41 03 0A 50 43 49 52 4F 4F 54 00 30 00 00",
     R"(AcpiEx(PNP0A08,PNP0A03,0x0,PCIROOT,,0))"},
    {"02 02 19 00 D0 41 08 0A 00 00 00 00 D0 41 03 0A 00 56 45 4E 44 4F 52 00 00",
     R"(AcpiExp(PNP0A08,PNP0A03,VENDOR))"},
    {"02 03 0C 00 00 01 01 80 00 02 01 80",
     R"(AcpiAdr(0x80010100,0x80010200))"},
    {"03 07 06 00 01 02",
     R"(Msg(0x7,0102))"},
    {"03 01 08 00 01 01 03 00",
     R"(Ata(Secondary,Slave,0x3))"},
    {"03 02 08 00 01 00 00 00",
     R"(Scsi(0x1,0x0))"},
    {"03 03 18 00 00 00 00 00 88 77 66 55 44 33 22 11 00 00 00 00 00 00 00 00",
     R"(Fibre(0x1122334455667788,0x0))"},
    {"03 15 18 00 00 00 00 00 00 11 22 33 44 55 66 77 00 01 02 03 04 05 06 07",
     R"(FibreEx(0x11223344556677,0x1020304050607))"},
    {"03 04 10 00 00 00 00 00 EF CD AB 89 67 45 23 01",
     R"(I1394(0x123456789ABCDEF))"},
    {"03 05 06 00 01 00",
     R"(USB(0x1,0x0))"},
    {"03 06 08 00 05 00 00 00",
     R"(I2O(0x5))"},
    {"03 09 30 00 01 00 00 00 78 56 34 12 BC 9A F0 DE 12 34 56 78 9A BC DE F0 02 00 00 00 00 00 00 00 03 00 00 00 00 00 00 00 04 00 00 00 00 00 00 00",
     R"(Infiniband(0x1,12345678-9ABC-DEF0-1234-56789ABCDEF0,0x2,0x3,0x4))"},
    {"03 0A 15 00 78 56 34 12 BC 9A F0 DE 12 34 56 78 9A BC DE F0 01",
     R"(VenMsg(12345678-9ABC-DEF0-1234-56789ABCDEF0,01))"},
    {"03 0A 14 00 53 47 C1 E0 BE F9 D2 11 9A 0C 00 90 27 3F C1 4D",
     R"(VenPcAnsi())"},
    {"03 0A 14 00 65 60 A6 DF 19 B4 D3 11 9A 2D 00 90 27 3F C1 4D",
     R"(VenVt100())"},
    {"03 0A 14 00 0B C7 AE 7B E0 57 76 4C 8E 87 2F 9E 28 08 83 43",
     R"(VenVt100Plus())"},
    {"03 0A 14 00 D6 A0 15 AD EC 8B CF 4A A0 73 D0 1D E7 7E 2D 88",
     R"(VenUtf8())"},
    {"03 0A 18 00 9D 9A 49 37 2F 54 89 4C A0 26 35 DA 14 20 94 E4 02 00 00 00",
     R"(UartFlowCtrl(XonXoff))"},
    {"03 0A 2C 00 B4 DD 87 D4 8B 00 D9 11 AF DC 00 10 83 FF CA 4D 00 00 00 00 D4 C3 B2 A1 00 C5 00 50 00 00 00 00 00 00 00 00 72 04 01 00",
     R"(SAS(0x5000C500A1B2C3D4,0x0,0x1,SATA,External,Expanded,5,0x0))"},
    {"03 16 18 00 50 00 C5 00 A1 B2 C3 D4 00 00 00 00 00 00 00 00 01 00 01 00",
     R"(SasEx(0x5000C500A1B2C3D4,0x0,0x1,SAS,Internal,Direct,0))"},
    {"03 17 10 00 01 00 00 00 08 07 06 05 04 03 02 01",
     R"(NVMe(0x1,01-02-03-04-05-06-07-08))"},
    {"03 19 06 00 00 01",
     R"(UFS(0x0,0x1))"},
    {"03 1A 05 00 00",
     R"(SD(0x0))"},
    {"03 1D 05 00 01",
     R"(eMMC(0x1))"},
    {"03 0A 14 00 D2 E8 A4 EB 58 38 EC 41 A2 81 26 47 BA 96 60 D0",
     R"(DebugPort())"},
    {"03 0B 25 00 00 11 22 33 44 55 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 01",
     R"(MAC(001122334455,0x1))"},
    {"03 0C 1B 00 C0 A8 00 02 C0 A8 00 01 00 00 00 00 06 00 01 C0 A8 00 FE FF FF FF 00",
     R"(IPv4(192.168.0.1,TCP,Static,192.168.0.2,192.168.0.254,255.255.255.0))"},
    {"03 0D 3C 00 FE 80 00 00 00 00 00 00 00 00 00 00 00 00 00 02 FE 80 00 00 00 00 00 00 00 00 00 00 00 00 00 01 00 00 00 00 11 00 01 40 FE 80 00 00 00 00 00 00 00 00 00 00 00 00 00 FE",
     R"(IPv6(fe80::1,UDP,StatelessAutoConfigure,fe80::2,64,fe80::fe))"},
    {"03 0E 13 00 00 00 00 00 00 C2 01 00 00 00 00 00 08 01 01",
     R"(Uart(115200,8,N,1))"},
    {"03 0F 0B 00 6D 04 2B C5 FF 01 02",
     R"(UsbClass(0x46D,0xC52B,0xFF,0x1,0x2))"},
    {"03 0F 0B 00 01 00 02 00 01 01 00",
     R"(UsbAudio(0x1,0x2,0x1,0x0))"},
    {"03 0F 0B 00 01 00 02 00 02 02 00",
     R"(UsbCDCControl(0x1,0x2,0x2,0x0))"},
    {"03 0F 0B 00 6D 04 2B C5 03 01 01",
     R"(UsbHID(0x46D,0xC52B,0x1,0x1))"},
    {"03 0F 0B 00 A9 04 01 00 06 01 01",
     R"(UsbImage(0x4A9,0x1,0x1,0x1))"},
    {"03 0F 0B 00 F0 03 02 00 07 01 02",
     R"(UsbPrinter(0x3F0,0x2,0x1,0x2))"},
    {"03 0F 0B 00 81 07 81 55 08 06 50",
     R"(UsbMassStorage(0x781,0x5581,0x6,0x50))"},
    {"03 0F 0B 00 6B 1D 03 00 09 00 03",
     R"(UsbHub(0x1D6B,0x3,0x0,0x3))"},
    {"03 0F 0B 00 01 00 02 00 0A 00 00",
     R"(UsbCDCData(0x1,0x2,0x0,0x0))"},
    {"03 0F 0B 00 01 00 02 00 0B 00 00",
     R"(UsbSmartCard(0x1,0x2,0x0,0x0))"},
    {"03 0F 0B 00 6D 04 5E 08 0E 01 00",
     R"(UsbVideo(0x46D,0x85E,0x1,0x0))"},
    {"03 0F 0B 00 01 00 02 00 DC 01 01",
     R"(UsbDiagnostic(0x1,0x2,0x1,0x1))"},
    {"03 0F 0B 00 87 80 26 00 E0 01 01",
     R"(UsbWireless(0x8087,0x26,0x1,0x1))"},
    {"03 0F 0B 00 01 00 02 00 FE 01 01",
     R"(UsbDeviceFirmwareUpdate(0x1,0x2,0x1))"},
    {"03 0F 0B 00 01 00 02 00 FE 02 00",
     R"(UsbIrdaBridge(0x1,0x2,0x0))"},
    {"03 0F 0B 00 01 00 02 00 FE 03 01",
     R"(UsbTestAndMeasurement(0x1,0x2,0x1))"},
    {"03 10 1A 00 00 00 81 07 81 55 34 00 43 00 35 00 33 00 30 00 30 00 30 00 31 00",
     R"(UsbWwid(0x781,0x5581,0x0,"4C530001"))"},
    {"03 11 05 00 03",
     R"(Unit(0x3))"},
    {"03 13 2F 00 00 00 02 10 00 00 00 00 00 00 00 00 01 00 69 71 6E 2E 32 30 30 34 2D 30 35 2E 63 6F 6D 2E 65 78 61 6D 70 6C 65 3A 64 69 73 6B 00",
     R"(iSCSI(iqn.2004-05.com.example:disk,0x1,0x0,CRC32C,None,CHAP_UNI,TCP))"},
    {"03 14 06 00 64 00",
     R"(Vlan(100))"},
    {"03 1F 25 00 00 0A 00 00 01 00 00 00 00 00 00 00 00 00 00 00 00 0A 00 00 02 00 00 00 00 00 00 00 00 00 00 00 00",
     R"(Dns(10.0.0.1,10.0.0.2))"},
    {"03 18 27 00 68 74 74 70 3A 2F 2F 62 6F 6F 74 2E 65 78 61 6D 70 6C 65 2F 65 66 69 2F 62 6F 6F 74 78 36 34 2E 65 66 69",
     R"(Uri(http://boot.example/efi/bootx64.efi))"},
    {"03 1B 0A 00 00 11 22 33 44 55",
     R"(Bluetooth(001122334455))"},
    {"03 1C 24 00 4C 61 62 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00",
     R"(Wi-Fi(Lab))"},
    {"03 1E 0B 00 00 11 22 33 44 55 01",
     R"(BluetoothLE(001122334455,0x1))"},
    {"04 20 06 00 01 02",
     R"(MediaPath(0x20,0102))"},
    {"04 01 2A 00 01 00 00 00 00 08 00 00 00 00 00 00 00 00 10 00 00 00 00 00 78 56 34 12 BC 9A F0 DE 12 34 56 78 9A BC DE F0 02 02",
     R"(HD(1,GPT,12345678-9ABC-DEF0-1234-56789ABCDEF0,0x800,0x100000))"},
    {"04 02 18 00 00 00 00 00 00 08 00 00 00 00 00 00 00 10 00 00 00 00 00 00",
     R"(CDROM(0x0,0x800,0x1000))"},
    {"04 03 15 00 78 56 34 12 BC 9A F0 DE 12 34 56 78 9A BC DE F0 01",
     R"(VenMedia(12345678-9ABC-DEF0-1234-56789ABCDEF0,01))"},
    {"04 05 14 00 78 56 34 12 BC 9A F0 DE 12 34 56 78 9A BC DE F0",
     R"(Media(12345678-9ABC-DEF0-1234-56789ABCDEF0))"},
    {"04 07 14 00 78 56 34 12 BC 9A F0 DE 12 34 56 78 9A BC DE F0",
     R"(Fv(12345678-9ABC-DEF0-1234-56789ABCDEF0))"},
    {"04 06 14 00 78 56 34 12 BC 9A F0 DE 12 34 56 78 9A BC DE F0",
     R"(FvFile(12345678-9ABC-DEF0-1234-56789ABCDEF0))"},
    {"04 08 18 00 00 00 00 00 00 01 00 00 00 00 00 00 FF 01 00 00 00 00 00 00",
     R"(Offset(0x100,0x1FF))"},
    {"04 09 26 00 00 10 00 00 00 00 00 00 FF 1F 00 00 00 00 00 00 78 56 34 12 BC 9A F0 DE 12 34 56 78 9A BC DE F0 00 00",
     R"(RamDisk(0x1000,0x1FFF,0x0,12345678-9ABC-DEF0-1234-56789ABCDEF0))"},
    {"04 09 26 00 00 01 00 00 00 00 00 00 FF 01 00 00 00 00 00 00 5A 53 AB 77 FC 45 4B 62 55 60 F7 B2 81 D1 F9 6E 00 00",
     R"(VirtualDisk(0x100,0x1FF,0x0))"},
    {"04 09 26 00 00 01 00 00 00 00 00 00 FF 01 00 00 00 00 00 00 30 BD 5A 3D 75 41 CE 87 6D 64 D2 AD E5 23 C4 BB 01 00",
     R"(VirtualCD(0x100,0x1FF,0x1))"},
    {"04 09 26 00 00 01 00 00 00 00 00 00 FF 01 00 00 00 00 00 00 C9 02 EA 5C 07 4D D3 69 26 9F 44 96 FB E0 96 F9 00 00",
     R"(PersistentVirtualDisk(0x100,0x1FF,0x0))"},
    {"04 09 26 00 00 01 00 00 00 00 00 00 FF 01 00 00 00 00 00 00 88 81 01 08 CD 42 48 BB 10 0F 53 87 D5 3D ED 3D 00 00",
     R"(PersistentVirtualCD(0x100,0x1FF,0x0))"},
    {"05 02 06 00 01 02",
     R"(BbsPath(0x2,0102))"},
    {"05 01 0D 00 02 00 00 00 44 69 73 6B 00",
     R"(BBS(HD,Disk,0x0))"},
    {"03 12 0A 00 01 00 FF FF 00 00",
     R"(Sata(0x1,0xFFFF,0x0))"},
};

class DeviceTextTest : public PoolTest {
 protected:
  const devtext::Formatter &formatter_ = law::LinkedFormatter();

  devtext::PathText FormatNode(const std::string &hex) {
    const Bytes bytes = FromHex(hex);
    return formatter_.Node(bytes.data(), bytes.size());
  }

  // A path exactly as given: the vector holds no byte more, so that a read
  // past the bytes is caught by the sanitizers.
  devtext::PathText FormatPath(const std::string &hex) {
    const Bytes bytes = FromHex(hex);
    return formatter_.Path(bytes.data(), bytes.size());
  }
};

// The keyword of a text: what stands before its "(".
std::string KeywordOf(const std::string &text) { return text.substr(0, text.find('(')); }

TEST_F(DeviceTextTest, EveryKeywordHasItsText) {
  for (const TextCase &c : kKeywordTexts) {
    const devtext::PathText node = FormatNode(c.bytes);
    ASSERT_TRUE(node.Valid()) << c.text << ": " << node.error;
    EXPECT_EQ(node.text, c.text) << c.bytes;
    EXPECT_EQ(Node(U16(c.text)), c.bytes) << "the expected text itself converts back";
  }
}

TEST_F(DeviceTextTest, TheTableHoldsEachKeywordOnceInTheConvertersOrder) {
  std::vector<std::string> keywords;
  for (const NODE_TEXT_ROW &row : gNodeTextTables.Rows) {
    keywords.push_back(NodeTextRowKeyword(&row));
  }
  ASSERT_EQ(keywords.size(), 86u);
  ASSERT_EQ(kKeywordTexts.size(), keywords.size());
  for (size_t i = 0; i < keywords.size(); i++) {
    EXPECT_EQ(KeywordOf(kKeywordTexts[i].text), keywords[i]) << "row " << i + 1;
  }
}

// Every fixed-layout row of the converter's table is written from the
// fields the table declares, whatever values they hold: a node of the
// row's length whose field bytes all differ (bit 7 clear, so that an EISA
// ID keeps the bit no text sets; letters for a text field, whose last byte
// pads it) is written with the row's keyword and converts back. A row
// added to the table is written without a writer of its own.
TEST_F(DeviceTextTest, EveryFieldRowIsWrittenFromTheFieldsItDeclares) {
  size_t fieldRows = 0;
  for (const NODE_TEXT_ROW *row : TableRows()) {
    if (row->Parser != ParseFieldNodeId) {
      continue;
    }
    fieldRows++;
    Bytes node(row->Preset, 0);
    node[0] = row->Type;
    node[1] = row->SubType;
    node[2] = static_cast<uint8_t>(row->Preset);
    node[3] = static_cast<uint8_t>(row->Preset >> 8);
    for (const NODE_FIELD *field = NodeTextRowFields(row); field->Width != 0; field++) {
      for (size_t i = 0; i < field->Width; i++) {
        node[field->Offset + i] = field->Reader != NarrowTextField ? static_cast<uint8_t>(0x13 * (field->Offset + i) & 0x7F)
                                  : i + 1 < field->Width          ? static_cast<uint8_t>('a' + i % 26)
                                                                   : 0;
      }
    }
    const devtext::PathText text = formatter_.Node(node.data(), node.size());
    ASSERT_TRUE(text.Valid()) << NodeTextRowKeyword(row) << ": " << text.error;
    EXPECT_EQ(KeywordOf(text.text), NodeTextRowKeyword(row)) << text.text;
    EXPECT_EQ(Node(U16(text.text)), ToHex(node)) << text.text;
  }
  EXPECT_GT(fieldRows, 0u);
}

// Nodes that the keyword form of their kind cannot say, or says only with
// the general keyword: what the formatter writes instead.
TEST_F(DeviceTextTest, NodesTheirKeywordCannotSayAreWrittenGenerically) {
  const std::vector<TextCase> cases = {
      // A PCI node one byte too long, and one too short for its fields.
      {"01 01 07 00 03 00 FF", "HardwarePath(0x1,0300FF)"},
      {"01 01 05 00 03", "HardwarePath(0x1,03)"},
      // A type no keyword names.
      {"06 01 06 00 01 02", "Path(0x6,0x1,0102)"},
      {"00 00 04 00", "Path(0x0,0x0,)"},
      // End nodes, as one node.
      {"7F FF 04 00", "Path(0x7F,0xFF,)"},
      {"7F 01 04 00", "Path(0x7F,0x1,)"},
      // A flow control map that no word names: the general vendor keyword.
      {"03 0A 18 00 9D 9A 49 37 2F 54 89 4C A0 26 35 DA 14 20 94 E4 03 00 00 00",
       "VenMsg(37499A9D-542F-4C89-A026-35DA142094E4,03000000)"},
      {"03 0A 18 00 9D 9A 49 37 2F 54 89 4C A0 26 35 DA 14 20 94 E4 00 00 00 00", "UartFlowCtrl(None)"},
      // A terminal GUID with vendor data.
      {"03 0A 15 00 53 47 C1 E0 BE F9 D2 11 9A 0C 00 90 27 3F C1 4D 01",
       "VenMsg(E0C14753-F9BE-11D2-9A0C-0090273FC14D,01)"},
      // A messaging vendor node shorter than its GUID.
      {"03 0A 08 00 53 47 C1 E0", "Msg(0xA,5347C1E0)"},
      // IPv4 with a local port, which the text does not give.
      {"03 0C 1B 00 C0 A8 00 02 C0 A8 00 01 50 00 00 00 06 00 01 00 00 00 00 00 00 00 00",
       "Msg(0xC,C0A80002C0A80001500000000600010000000000000000)"},
      // IPv4 without gateway and mask; IPv6 without prefix and gateway.
      {"03 0C 1B 00 00 00 00 00 C0 A8 00 01 00 00 00 00 11 00 00 00 00 00 00 00 00 00 00",
       "IPv4(192.168.0.1,UDP,DHCP,0.0.0.0)"},
      {"03 0D 3C 00 " + Zeros(15) + " 01 " + Zeros(16) + " 00 00 00 00 06 00 00 00 " + Zeros(16),
       "IPv6(::,TCP,Static,::1)"},
      // Uart fields beyond the words.
      {"03 0E 13 00 00 00 00 00 80 25 00 00 00 00 00 00 07 06 09", "Uart(9600,7,0x6,0x9)"},
      {"03 0E 13 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00", "Uart(0,0,D,D)"},
      // A USB class no keyword fixes, and a class keyword's subclass that
      // another keyword fixes.
      {"03 0F 0B 00 FF FF FF FF FE 04 FF", "UsbClass(0xFFFF,0xFFFF,0xFE,0x4,0xFF)"},
      // SAS topologies the words cannot say.
      {"03 16 18 00 " + Zeros(16) + " 03 00 00 00", "SasEx(0x0,0x0,0x0,0x3,0,0,0)"},
      {"03 16 18 00 " + Zeros(16) + " 01 02 00 00", "SasEx(0x0,0x0,0x0,0x201,0,0,0)"},
      {"03 16 18 00 " + Zeros(16) + " 00 00 00 00", "SasEx(0x0,0x0,0x0,NoTopology,0,0,0)"},
      {"03 16 18 00 " + Zeros(16) + " D2 FF 00 00", "SasEx(0x0,0x0,0x0,SATA,Internal,3,256)"},
      // A MAC address with bytes past the six of Ethernet.
      {"03 0B 25 00 00 11 22 33 44 55 66 " + Zeros(25) + " 01",
       "Msg(0xB,0011223344556600000000000000000000000000000000000000000000000000" "01)"},
      // An SSID with bytes after its end.
      {"03 1C 24 00 4C 61 62 00 41 " + Zeros(27), "Msg(0x1C,4C616200410000000000000000000000000000000000000000000000000000" "00)"},
      // An iSCSI name with a comma, which would end its parameter.
      {"03 13 15 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 61 2C 00", "Msg(0x13,0000000000000000000000000000612C00)"},
      // Expanded ACPI: no _UID and no HID and CID strings is AcpiExp; a
      // _HID with bit 15 set, which no EISA ID text gives, is generic.
      {"02 02 13 00 D0 41 03 0A 00 00 00 00 00 00 00 00 00 00 00", "AcpiExp(PNP0A03,0,)"},
      {"02 02 13 00 00 80 00 00 00 00 00 00 00 00 00 00 00 00 00", "AcpiPath(0x2,008000000000000000000000000000)"},
      {"02 01 0C 00 00 00 00 00 05 00 00 00", "Acpi(@@@0000,0x5)"},
      // File names: one that a keyword would claim, one with a separator,
      // one of other letters, an empty one.
      {"04 04 16 00 50 00 63 00 69 00 28 00 30 00 2C 00 30 00 29 00 00 00", "MediaPath(0x4,500063006900280030002C00300029000000)"},
      {"04 04 0A 00 61 00 2F 00 00 00", "MediaPath(0x4,61002F000000)"},
      {"04 04 08 00 E9 00 00 00", "MediaPath(0x4,E9000000)"},
      {"04 04 06 00 00 00", "MediaPath(0x4,0000)"},
      {"04 04 0C 00 5C 00 61 00 20 00 62 00", "MediaPath(0x4,5C00610020006200)"},
      // HD by signature type number, and an MBR signature.
      {"04 01 2A 00 01 00 00 00 " + Zeros(16) + " " + Zeros(16) + " 00 03", "HD(1,3,0,0x0,0x0)"},
      {"04 01 2A 00 02 00 00 00 00 08 00 00 00 00 00 00 00 10 00 00 00 00 00 00 EF BE AD DE " + Zeros(12) + " 01 01",
       "HD(2,MBR,0xDEADBEEF,0x800,0x1000)"},
      // BBS with a device type no word names.
      {"05 01 09 00 07 00 00 01 00", "BBS(0x7,,0x100)"},
  };
  for (const TextCase &c : cases) {
    const devtext::PathText node = FormatNode(c.bytes);
    ASSERT_TRUE(node.Valid()) << c.bytes << ": " << node.error;
    EXPECT_EQ(node.text, c.text) << c.bytes;
  }
}

// Whole paths: nodes joined by "/", instances by ",", and what "," cannot
// say written as the instance end it is.
TEST_F(DeviceTextTest, PathsAndInstances) {
  const std::string root = "02 01 0C 00 D0 41 03 0A 00 00 00 00";
  const std::string pci37 = "01 01 06 00 07 03";
  const std::string end = "7F FF 04 00";
  const std::string instance = "7F 01 04 00";
  const std::vector<TextCase> cases = {
      {root + " " + pci37 + " " + end, "PciRoot(0x0)/Pci(0x3,0x7)"},
      {root + " " + pci37 + " " + instance + " " + root + " 01 01 06 00 00 1C " + end,
       "PciRoot(0x0)/Pci(0x3,0x7),PciRoot(0x0)/Pci(0x1C,0x0)"},
      {pci37 + " " + instance + " " + end, "Pci(0x3,0x7),"},
      {instance + " " + pci37 + " " + end, "Path(0x7F,0x1,)/Pci(0x3,0x7)"},
      {pci37 + " " + instance + " " + instance + " " + pci37 + " " + end, "Pci(0x3,0x7),Path(0x7F,0x1,)/Pci(0x3,0x7)"},
      {"7F 01 06 00 AB CD " + pci37 + " " + end, "Path(0x7F,0x1,ABCD)/Pci(0x3,0x7)"},
      {end, "Path(0x7F,0xFF,)"},
      {instance + " " + end, "Path(0x7F,0x1,)"},
  };
  for (const TextCase &c : cases) {
    const devtext::PathText path = FormatPath(c.bytes);
    ASSERT_TRUE(path.Valid()) << c.bytes << ": " << path.error;
    EXPECT_EQ(path.text, c.text) << c.bytes;
    EXPECT_EQ(Path(U16(path.text)), c.bytes) << c.text;
  }
}

TEST_F(DeviceTextTest, APathEndsAtItsEndNodeAndListsEveryNode) {
  const devtext::PathText path = FormatPath("02 01 0C 00 D0 41 03 0A 00 00 00 00 7F 01 04 00 01 01 06 00 00 1F 7F FF 04 00 EE EE");
  ASSERT_TRUE(path.Valid());
  EXPECT_EQ(path.size, 26u) << "the bytes after the end node are not the path's";
  ASSERT_EQ(path.nodes.size(), 4u);
  const std::vector<std::tuple<size_t, uint8_t, uint8_t, uint16_t, std::string>> expected = {
      {0, 2, 1, 12, "PciRoot(0x0)"},
      {12, 0x7F, 1, 4, "Path(0x7F,0x1,)"},
      {16, 1, 1, 6, "Pci(0x1F,0x0)"},
      {22, 0x7F, 0xFF, 4, "Path(0x7F,0xFF,)"},
  };
  for (size_t i = 0; i < expected.size(); i++) {
    const devtext::NodeText &node = path.nodes[i];
    EXPECT_EQ(std::make_tuple(node.offset, node.type, node.subType, node.length, node.text), expected[i]) << i;
  }
  EXPECT_EQ(path.text, "PciRoot(0x0),Pci(0x1F,0x0)");
}

// An invalid path is named by the offset where the driver's walk ended,
// and nothing past the bytes is read.
TEST_F(DeviceTextTest, InvalidPathsNameTheOffset) {
  const std::vector<TextCase> cases = {
      {"", "there are no bytes"},
      {"01 01", "no end node: the bytes end at offset 2 inside or before a node header"},
      {"01 01 06 00 07 03", "no end node: the bytes end at offset 6 inside or before a node header"},
      {"01 01 06 00 07 03 7F FF", "no end node: the bytes end at offset 8 inside or before a node header"},
      {"01 01 02 00 7F FF 04 00", "the node at offset 0 has Length 2, below 4"},
      {"01 01 06 00 07 03 03 0A 40 00 7F FF 04 00", "the node at offset 6 has Length 64, which runs past the end of the bytes"},
      {"01 01 06 00 07 03 7F FF 05 00 00", "the end node at offset 6 has Length 5, not 4"},
      {"04 04 08 00 41 00 42 00 7F FF 04 00", "the file-path node at offset 0 does not end in a zero character"},
  };
  for (const TextCase &c : cases) {
    const devtext::PathText path = FormatPath(c.bytes);
    EXPECT_FALSE(path.Valid()) << c.bytes;
    EXPECT_EQ(path.error, c.text) << c.bytes;
    EXPECT_EQ(path.text, "");
    EXPECT_TRUE(path.nodes.empty());
  }
}

TEST_F(DeviceTextTest, OneNodeIsExactlyTheBytesGiven) {
  const std::vector<TextCase> cases = {
      {"", "there are no bytes"},
      {"01 01 06", "the bytes end at offset 3 inside the node's header"},
      {"01 01 03 00", "the node at offset 0 has Length 3, below 4"},
      {"01 01 07 00 07 03", "the node at offset 0 has Length 7, which runs past the end of the bytes"},
      {"01 01 06 00 07 03 7F", "the node at offset 0 has Length 6, and 1 byte follows it at offset 6: one node is formatted alone"},
      {"01 01 06 00 07 03 7F FF 04 00",
       "the node at offset 0 has Length 6, and 4 bytes follow it at offset 6: one node is formatted alone"},
  };
  for (const TextCase &c : cases) {
    EXPECT_EQ(FormatNode(c.bytes).error, c.text) << c.bytes;
  }
  // A file-path node whose name is not terminated has a text as a node.
  EXPECT_EQ(FormatNode("04 04 08 00 41 00 42 00").text, "MediaPath(0x4,41004200)");
}

}  // namespace
}  // namespace devpath_test
