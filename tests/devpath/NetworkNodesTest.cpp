// The network, USB class and wireless messaging node parsers, byte for
// byte, and the builders they share: the IP protocol reader and the USB
// class node builder.
#include <string>
#include <vector>

#include "tests/devpath/DevpathTestSupport.h"

namespace devpath_test {
namespace {

const std::string kMacHeader = "03 0B 25 00 ";
const std::string kIpv4Header = "03 0C 1B 00 ";
const std::string kIpv6Header = "03 0D 3C 00 ";
const std::string kLoopback6 = "00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 01";
const std::string kTwo6 = "00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 02";
const std::string kFe80One = "FE 80 00 00 00 00 00 00 00 00 00 00 00 00 00 01";

using NetworkNodeTest = PoolTest;

TEST_F(NetworkNodeTest, ConvertsHardwareAddresses) {
  const std::string mac64 = "00112233445566778899AABBCCDDEEFF00112233445566778899AABBCCDDEEFF";
  const std::string mac64Bytes =
      "00 11 22 33 44 55 66 77 88 99 AA BB CC DD EE FF 00 11 22 33 44 55 66 77 88 99 AA BB CC DD EE FF";
  ExpectNodes({
      {u"MAC(001122334455,0x1)", kMacHeader + "00 11 22 33 44 55 " + Zeros(26) + " 01"},
      {u"MAC(aabbccddeeff)", kMacHeader + "AA BB CC DD EE FF " + Zeros(26) + " 00"},
      // The interface type is kept to its low 8 bits before it is tested.
      {u"MAC(001122334455,0x101)", kMacHeader + "00 11 22 33 44 55 " + Zeros(26) + " 01"},
      // Digits beyond the twelve asked for are ignored.
      {u"MAC(00112233445566,1)", kMacHeader + "00 11 22 33 44 55 " + Zeros(26) + " 01"},
      // Too few digits, or a character that is not one, leave the whole address zero.
      {u"MAC(0011223344,1)", kMacHeader + Zeros(32) + " 01"},
      {u"MAC(00112233445G,1)", kMacHeader + Zeros(32) + " 01"},
      {u"MAC(,1)", kMacHeader + Zeros(32) + " 01"},
      {u"MAC()", kMacHeader + Zeros(33)},
      // Other interface types take 64 digits into 32 bytes.
      {u"MAC(001122334455,2)", kMacHeader + Zeros(32) + " 02"},
      {u"MAC(" + U16(mac64) + u",0x18)", kMacHeader + mac64Bytes + " 18"},
      {u"MAC(" + U16(mac64.substr(2)) + u",0x18)", kMacHeader + Zeros(32) + " 18"},
      {u"Bluetooth(001122334455)", "03 1B 0A 00 00 11 22 33 44 55"},
      {u"Bluetooth(0011223344556677)", "03 1B 0A 00 00 11 22 33 44 55"},
      {u"Bluetooth(00112233445)", "03 1B 0A 00 00 00 00 00 00 00"},
      {u"Bluetooth(00:11:22:33:44:55)", "03 1B 0A 00 00 00 00 00 00 00"},
      {u"Bluetooth()", "03 1B 0A 00 00 00 00 00 00 00"},
      {u"BluetoothLE(001122334455,1)", "03 1E 0B 00 00 11 22 33 44 55 01"},
      {u"BluetoothLE(001122334455)", "03 1E 0B 00 00 11 22 33 44 55 00"},
      {u"BluetoothLE(0011,0x1FF)", "03 1E 0B 00 00 00 00 00 00 00 FF"},
  });
}

TEST_F(NetworkNodeTest, ConvertsIpv4Nodes) {
  ExpectNodes({
      {u"IPv4(192.168.0.1,TCP,Static,192.168.0.2,192.168.0.254,255.255.255.0)",
       kIpv4Header + "C0 A8 00 02 C0 A8 00 01 00 00 00 00 06 00 01 C0 A8 00 FE FF FF FF 00"},
      // The gateway and the mask are taken only together.
      {u"IPv4(192.168.0.1,TCP,Static,192.168.0.2,192.168.0.254)",
       kIpv4Header + "C0 A8 00 02 C0 A8 00 01 00 00 00 00 06 00 01 00 00 00 00 00 00 00 00"},
      {u"IPv4(192.168.0.1,TCP,Static,192.168.0.2,,255.255.255.0)",
       kIpv4Header + "C0 A8 00 02 C0 A8 00 01 00 00 00 00 06 00 01 00 00 00 00 00 00 00 00"},
      // Protocol: a keyword or a number; any other word reads as a number.
      {u"IPv4(10.0.0.1,47)", kIpv4Header + "00 00 00 00 0A 00 00 01 00 00 00 00 2F 00 00 00 00 00 00 00 00 00 00"},
      {u"IPv4(10.0.0.1,UDP)", kIpv4Header + "00 00 00 00 0A 00 00 01 00 00 00 00 11 00 00 00 00 00 00 00 00 00 00"},
      {u"IPv4(10.0.0.1,0x10011)", kIpv4Header + "00 00 00 00 0A 00 00 01 00 00 00 00 11 00 00 00 00 00 00 00 00 00 00"},
      {u"IPv4(10.0.0.1,udp)", kIpv4Header + "00 00 00 00 0A 00 00 01 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00"},
      // Type: only the whole word Static sets the flag.
      {u"IPv4(10.0.0.1,6,DHCP)", kIpv4Header + "00 00 00 00 0A 00 00 01 00 00 00 00 06 00 00 00 00 00 00 00 00 00 00"},
      {u"IPv4(10.0.0.1,6,static)",
       kIpv4Header + "00 00 00 00 0A 00 00 01 00 00 00 00 06 00 00 00 00 00 00 00 00 00 00"},
      {u"IPv4(10.0.0.1,6,Static )",
       kIpv4Header + "00 00 00 00 0A 00 00 01 00 00 00 00 06 00 00 00 00 00 00 00 00 00 00"},
      // A prefix length is accepted and not stored; a refused address stays zero.
      {u"IPv4(10.0.0.1/24,6,Static,10.0.0.300,10.0.0.254,255.255.255)",
       kIpv4Header + "00 00 00 00 0A 00 00 01 00 00 00 00 06 00 01 0A 00 00 FE 00 00 00 00"},
      {u"IPv4()", kIpv4Header + Zeros(23)},
  });
}

TEST_F(NetworkNodeTest, ConvertsIpv6Nodes) {
  const std::string tail = " 00 00 00 00 ";
  ExpectNodes({
      {u"IPv6(::1,UDP,StatelessAutoConfigure,::2,64,fe80::1)",
       kIpv6Header + kTwo6 + " " + kLoopback6 + tail + "11 00 01 40 " + kFe80One},
      // Origin: Static 0, StatelessAutoConfigure 1, anything else 2.
      {u"IPv6(::1,TCP,Static,::2)", kIpv6Header + kTwo6 + " " + kLoopback6 + tail + "06 00 00 00 " + Zeros(16)},
      {u"IPv6(::1,TCP,,::2)", kIpv6Header + kTwo6 + " " + kLoopback6 + tail + "06 00 02 00 " + Zeros(16)},
      {u"IPv6(::1,TCP,static,::2)", kIpv6Header + kTwo6 + " " + kLoopback6 + tail + "06 00 02 00 " + Zeros(16)},
      {u"IPv6(::1,TCP,1,::2)", kIpv6Header + kTwo6 + " " + kLoopback6 + tail + "06 00 02 00 " + Zeros(16)},
      // The prefix length and the gateway are taken only together.
      {u"IPv6(::1,TCP,Static,::2,64)", kIpv6Header + kTwo6 + " " + kLoopback6 + tail + "06 00 00 00 " + Zeros(16)},
      {u"IPv6(::1,TCP,Static,::2,,fe80::1)",
       kIpv6Header + kTwo6 + " " + kLoopback6 + tail + "06 00 00 00 " + Zeros(16)},
      {u"IPv6(::1,TCP,Static,::2,0x180,fe80::1/64)",
       kIpv6Header + kTwo6 + " " + kLoopback6 + tail + "06 00 00 80 " + kFe80One},
      // Refused addresses stay zero.
      {u"IPv6(1::2::3,0x2F,Static,10.0.0.1)",
       kIpv6Header + Zeros(16) + " " + Zeros(16) + tail + "2F 00 00 00 " + Zeros(16)},
      {u"IPv6()", kIpv6Header + Zeros(38) + " 02 " + Zeros(17)},
  });
}

TEST_F(NetworkNodeTest, ConvertsUartNodes) {
  const std::string header = "03 0E 13 00 00 00 00 00 ";
  const std::string baud9600 = header + "80 25 00 00 00 00 00 00 ";
  ExpectNodes({
      {u"Uart(DEFAULT,DEFAULT,N,1)", header + "00 C2 01 00 00 00 00 00 08 01 01"},
      {u"Uart(9600,7,Even,1.5)", baud9600 + "07 02 02"},
      {u"Uart(0,8,D,D)", header + "00 00 00 00 00 00 00 00 08 00 00"},
      {u"Uart()", header + Zeros(11)},
      // An empty or lower-case default is a number, not the default.
      {u"Uart(,,,)", header + Zeros(11)},
      {u"Uart(default,default)", header + Zeros(11)},
      {u"Uart(0x1C200,0x108)", header + "00 C2 01 00 00 00 00 00 08 00 00"},
      // Parity by its first character alone; any other text is a number.
      {u"Uart(9600,7,Default,2)", baud9600 + "07 00 03"},
      {u"Uart(9600,7,None,2)", baud9600 + "07 01 03"},
      {u"Uart(9600,7,E,2)", baud9600 + "07 02 03"},
      {u"Uart(9600,7,Odd,2)", baud9600 + "07 03 03"},
      {u"Uart(9600,7,M,2)", baud9600 + "07 04 03"},
      {u"Uart(9600,7,Space,2)", baud9600 + "07 05 03"},
      {u"Uart(9600,7,n,2)", baud9600 + "07 00 03"},
      {u"Uart(9600,7,4,2)", baud9600 + "07 04 03"},
      {u"Uart(9600,7, N,2)", baud9600 + "07 00 03"},
      // Stop bits by the whole text; any other text is a number.
      {u"Uart(9600,7,N,1.0)", baud9600 + "07 01 01"},
      {u"Uart(9600,7,N,3)", baud9600 + "07 01 03"},
      {u"Uart(9600,7,N,Default)", baud9600 + "07 01 00"},
      {u"Uart(9600,7,N,1.50)", baud9600 + "07 01 01"},
  });
}

TEST_F(NetworkNodeTest, ConvertsUsbClassNodes) {
  ExpectNodes({
      {u"UsbClass(0x046D,,3,1,2)", "03 0F 0B 00 6D 04 FF FF 03 01 02"},
      {u"UsbClass(0x046D,0xC52B,0,0,0)", "03 0F 0B 00 6D 04 2B C5 00 00 00"},
      {u"UsbClass()", "03 0F 0B 00 FF FF FF FF FF FF FF"},
      {u"UsbClass(,,,,)", "03 0F 0B 00 FF FF FF FF FF FF FF"},
      // Values keep their low bits; an overflow reads as all ones.
      {u"UsbClass(0x1046D,70000,0x1FE,0xFFFFFFFFFFFFFFFFF,x)", "03 0F 0B 00 6D 04 70 11 FE FF 00"},
      {u"UsbHID(,,1,1)", "03 0F 0B 00 FF FF FF FF 03 01 01"},
      {u"UsbDeviceFirmwareUpdate(0x1234,0x5678,)", "03 0F 0B 00 34 12 78 56 FE 01 FF"},
      // Each keyword's fixed class, then the subclass and protocol of the text.
      {u"UsbAudio(1,2,3,4)", "03 0F 0B 00 01 00 02 00 01 03 04"},
      {u"UsbCDCControl(1,2,3,4)", "03 0F 0B 00 01 00 02 00 02 03 04"},
      {u"UsbHID(1,2,3,4)", "03 0F 0B 00 01 00 02 00 03 03 04"},
      {u"UsbImage(1,2,3,4)", "03 0F 0B 00 01 00 02 00 06 03 04"},
      {u"UsbPrinter(1,2,3,4)", "03 0F 0B 00 01 00 02 00 07 03 04"},
      {u"UsbMassStorage(1,2,3,4)", "03 0F 0B 00 01 00 02 00 08 03 04"},
      {u"UsbHub(1,2,3,4)", "03 0F 0B 00 01 00 02 00 09 03 04"},
      {u"UsbCDCData(1,2,3,4)", "03 0F 0B 00 01 00 02 00 0A 03 04"},
      {u"UsbSmartCard(1,2,3,4)", "03 0F 0B 00 01 00 02 00 0B 03 04"},
      {u"UsbVideo(1,2,3,4)", "03 0F 0B 00 01 00 02 00 0E 03 04"},
      {u"UsbDiagnostic(1,2,3,4)", "03 0F 0B 00 01 00 02 00 DC 03 04"},
      {u"UsbWireless(1,2,3,4)", "03 0F 0B 00 01 00 02 00 E0 03 04"},
      {u"UsbWireless(1,2)", "03 0F 0B 00 01 00 02 00 E0 FF FF"},
      // The last three fix the subclass too: the third parameter is the protocol.
      {u"UsbDeviceFirmwareUpdate(1,2,3,4)", "03 0F 0B 00 01 00 02 00 FE 01 03"},
      {u"UsbIrdaBridge(1,2,3,4)", "03 0F 0B 00 01 00 02 00 FE 02 03"},
      {u"UsbTestAndMeasurement(1,2,3,4)", "03 0F 0B 00 01 00 02 00 FE 03 03"},
      {u"UsbTestAndMeasurement()", "03 0F 0B 00 FF FF FF FF FE 03 FF"},
  });
  // The builder with a preset of no keyword: class from the text, subclass fixed.
  const UsbClassPreset preset = {TRUE, 0, FALSE, 0x42};
  std::u16string params = u"1,2,0x11,3";
  EXPECT_EQ(ToHex(*Owned([&] { return ParseUsbClassNode(params.data(), &preset); }, true)),
            "03 0F 0B 00 01 00 02 00 11 42 03");
}

TEST_F(NetworkNodeTest, ConvertsUsbWwidNodes) {
  ExpectNodes({
      {u"UsbWwid(0x1234,0x5678,0,\"AB\")", "03 10 0E 00 00 00 34 12 78 56 41 00 42 00"},
      {u"UsbWwid(0x1234,0x5678,0,AB)", "03 10 0E 00 00 00 34 12 78 56 41 00 42 00"},
      {u"UsbWwid(0x1234,0x5678,0,\"\")", "03 10 0A 00 00 00 34 12 78 56"},
      {u"UsbWwid(0x1234,0x5678,0,\")", "03 10 0C 00 00 00 34 12 78 56 22 00"},
      // Marks only at one end, or inside, are part of the serial number.
      {u"UsbWwid(1,2,3,\"A)", "03 10 0E 00 03 00 01 00 02 00 22 00 41 00"},
      {u"UsbWwid(1,2,3,A\"B)", "03 10 10 00 03 00 01 00 02 00 41 00 22 00 42 00"},
      {u"UsbWwid(1,2,3,\"\"\")", "03 10 0C 00 03 00 01 00 02 00 22 00"},
      // The serial number ends at a comma; characters keep all 16 bits.
      {u"UsbWwid(1,2,3,\"A,B\")", "03 10 0E 00 03 00 01 00 02 00 22 00 41 00"},
      {u"UsbWwid(1,2,0x10003,\u0141 )", "03 10 0E 00 03 00 01 00 02 00 41 01 20 00"},
      {u"UsbWwid()", "03 10 0A 00 00 00 00 00 00 00"},
  });
}

TEST_F(NetworkNodeTest, ConvertsUnitAndVlanNodes) {
  ExpectNodes({
      {u"Unit(3)", "03 11 05 00 03"},
      {u"Unit(0x103)", "03 11 05 00 03"},
      {u"Unit()", "03 11 05 00 00"},
      {u"Unit(99999999999999999999999)", "03 11 05 00 FF"},
      {u"Vlan(100)", "03 14 06 00 64 00"},
      {u"Vlan(0x10FFF,5)", "03 14 06 00 FF 0F"},
      {u"Vlan(x)", "03 14 06 00 00 00"},
  });
}

TEST_F(NetworkNodeTest, ConvertsIscsiNodes) {
  ExpectNodes({
      {u"iSCSI(iqn,1,0x1,CRC32C,None,CHAP_UNI,TCP)",
       "03 13 16 00 00 00 02 10 00 00 00 00 00 00 00 01 01 00 69 71 6E 00"},
      {u"iSCSI()", "03 13 13 00 " + Zeros(15)},
      // Protocol: empty or TCP is 0, any other text 1.
      {u"iSCSI(iqn,1,0x1,CRC32C,None,CHAP_UNI,)", "03 13 16 00 00 00 02 10 00 00 00 00 00 00 00 01 01 00 69 71 6E 00"},
      {u"iSCSI(iqn,1,0x1,CRC32C,None,CHAP_UNI,UDP)",
       "03 13 16 00 01 00 02 10 00 00 00 00 00 00 00 01 01 00 69 71 6E 00"},
      {u"iSCSI(iqn,1,0x1,CRC32C,None,CHAP_UNI,0)", "03 13 16 00 01 00 02 10 00 00 00 00 00 00 00 01 01 00 69 71 6E 00"},
      // Login options: each digest, and authentication None or CHAP_UNI.
      {u"iSCSI(t,0,0,None,CRC32C,None)", "03 13 14 00 00 00 08 08 00 00 00 00 00 00 00 00 00 00 74 00"},
      {u"iSCSI(t,0,0,CRC32C,CRC32C,CHAP_BI)", "03 13 14 00 00 00 0A 00 00 00 00 00 00 00 00 00 00 00 74 00"},
      {u"iSCSI(t,0,0,CRC32,crc32c,none)", "03 13 14 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 74 00"},
      // The LUN is stored most significant byte first; the tag keeps 16 bits.
      {u"iSCSI(t,0x12345,0x0102030405060708)", "03 13 14 00 00 00 00 00 01 02 03 04 05 06 07 08 45 23 74 00"},
      {u"iSCSI(t,,99999999999999999999999)", "03 13 14 00 00 00 00 00 FF FF FF FF FF FF FF FF 00 00 74 00"},
      // The name's characters keep their low 8 bits.
      {u"iSCSI(iqn.2001-04.com.example:\u0141)",
       "03 13 2C 00 " + Zeros(14) + " 69 71 6E 2E 32 30 30 31 2D 30 34 2E 63 6F 6D 2E 65 78 61 6D 70 6C 65 3A 41 00"},
  });
}

TEST_F(NetworkNodeTest, ConvertsDnsNodes) {
  const std::string ten1 = "0A 00 00 01 " + Zeros(12);
  const std::string ten2 = "0A 00 00 02 " + Zeros(12);
  ExpectNodes({
      {u"Dns(10.0.0.1,10.0.0.2)", "03 1F 25 00 00 " + ten1 + " " + ten2},
      {u"Dns(fe80::1)", "03 1F 15 00 01 " + kFe80One},
      {u"Dns()", "null"},
      // Counting: a trailing comma adds nothing; an empty parameter between commas counts.
      {u"Dns(10.0.0.1,)", "03 1F 15 00 00 " + ten1},
      {u"Dns(10.0.0.1,,10.0.0.2)", "03 1F 35 00 00 " + ten1 + " " + Zeros(16) + " " + ten2},
      {u"Dns(,)", "03 1F 15 00 00 " + Zeros(16)},
      {u"Dns(,,)", "03 1F 25 00 00 " + Zeros(32)},
      // The first "." or ":" of the whole text decides for every server.
      {u"Dns(10.0.0.1,fe80::1)", "03 1F 25 00 00 " + ten1 + " " + Zeros(16)},
      {u"Dns(fe80::1,10.0.0.1)", "03 1F 25 00 01 " + kFe80One + " " + Zeros(16)},
      {u"Dns(,fe80::1)", "03 1F 25 00 01 " + Zeros(16) + " " + kFe80One},
      {u"Dns(server)", "03 1F 15 00 00 " + Zeros(16)},
  });
}

TEST_F(NetworkNodeTest, ConvertsUriAndWiFiNodes) {
  const std::string ssid32 = "0123456789abcdefghijklmnopqrstuv";
  const std::string ssid32Bytes =
      "30 31 32 33 34 35 36 37 38 39 61 62 63 64 65 66 67 68 69 6A 6B 6C 6D 6E 6F 70 71 72 73 74 75 76";
  ExpectNodes({
      {u"Uri(abc)", "03 18 07 00 61 62 63"},
      {u"Uri(abc,def)", "03 18 07 00 61 62 63"},
      {u"Uri()", "03 18 04 00"},
      {u"Uri(a\u0141)", "03 18 06 00 61 41"},
      {u"Wi-Fi(Lab)", "03 1C 24 00 4C 61 62 " + Zeros(29)},
      {u"Wi-Fi()", "03 1C 24 00 " + Zeros(32)},
      {u"Wi-Fi(Lab,Other)", "03 1C 24 00 4C 61 62 " + Zeros(29)},
      {u"Wi-Fi(" + U16(ssid32) + u")", "03 1C 24 00 " + ssid32Bytes},
      {u"Wi-Fi(" + U16(ssid32) + u"wxyz01234)", "03 1C 24 00 " + ssid32Bytes},
  });
}

TEST_F(NetworkNodeTest, ConvertsWholePaths) {
  // Separators inside the parentheses of a URI or an address stay in the node.
  EXPECT_EQ(Path(u"PciRoot(0x0)/Pci(0x1C,0x0)/MAC(001122334455,0x1)/IPv4(10.0.0.1)/Uri(http://h/a,b)"),
            "02 01 0C 00 D0 41 03 0A 00 00 00 00 01 01 06 00 00 1C " + kMacHeader + "00 11 22 33 44 55 " + Zeros(26) +
                " 01 " + kIpv4Header + "00 00 00 00 0A 00 00 01 " + Zeros(15) +
                " 03 18 0E 00 68 74 74 70 3A 2F 2F 68 2F 61 7F FF 04 00");
  EXPECT_EQ(Path(u"Dns()/Vlan(1)"), "03 14 06 00 01 00 7F FF 04 00");
  EXPECT_EQ(Path(u"Uart(DEFAULT,DEFAULT,N,1),UsbHID(,,1,1)"),
            "03 0E 13 00 00 00 00 00 00 C2 01 00 00 00 00 00 08 01 01 7F 01 04 00 "
            "03 0F 0B 00 FF FF FF FF 03 01 01 7F FF 04 00");
  // Letter case and a space before "(" make a file-path node, as for any word.
  EXPECT_EQ(Node(u"ipv4(1.2.3.4)"),
            "04 04 20 00 69 00 70 00 76 00 34 00 28 00 31 00 2E 00 32 00 2E 00 33 00 2E 00 34 00 29 00 00 00");
  EXPECT_EQ(Node(u"Unit (1)"), "04 04 16 00 55 00 6E 00 69 00 74 00 20 00 28 00 31 00 29 00 00 00");
}

TEST(ParseIpProtocol, ReadsKeywordsOrNumbers) {
  const std::vector<std::pair<std::u16string, UINT64>> cases = {
      {u"UDP", 17},  {u"TCP", 6}, {u"47", 47},
      {u"0x2F", 47}, {u"", 0},    {u"tcp", 0},
      {u"TCP ", 0},  {u" 6", 6},  {u"99999999999999999999999", ~0ull},
  };
  for (const auto &[text, value] : cases) {
    EXPECT_EQ(ParseIpProtocol(text.c_str()), value) << Name(text);
  }
}

TEST_F(NetworkNodeTest, NodesTooLongForTheLengthFieldAreRefused) {
  // iSCSI: 19 bytes and the target name.
  const auto iscsi =
      Owned([&] { return ConvertTextToDeviceNode((u"iSCSI(" + std::u16string(65516, u'n') + u",1)").c_str()); }, true);
  ASSERT_TRUE(iscsi);
  EXPECT_EQ(iscsi->size(), 65535u);
  EXPECT_EQ((*iscsi)[65533], 'n');
  EXPECT_EQ((*iscsi)[65534], 0);
  EXPECT_EQ(Node(u"iSCSI(" + std::u16string(65517, u'n') + u",1)"), "null");

  // UsbWwid: 10 bytes and 2 for each serial character; the marks do not count.
  const std::u16string serial(32762, u'S');
  const auto wwid = Owned([&] { return ConvertTextToDeviceNode((u"UsbWwid(1,2,3," + serial + u")").c_str()); }, true);
  ASSERT_TRUE(wwid);
  EXPECT_EQ(wwid->size(), 65534u);
  const auto quoted =
      Owned([&] { return ConvertTextToDeviceNode((u"UsbWwid(1,2,3,\"" + serial + u"\")").c_str()); }, true);
  ASSERT_TRUE(quoted);
  EXPECT_EQ(*quoted, *wwid);
  EXPECT_EQ(Node(u"UsbWwid(1,2,3," + serial + u"S)"), "null");
  EXPECT_EQ(Node(u"UsbWwid(1,2,3,\"" + serial + u"S\")"), "null");
  EXPECT_EQ(Node(u"UsbWwid(1,2,3,\"" + serial + u"\"S)"), "null");

  // Dns: 5 bytes and 16 for each server, 4095 at most.
  std::u16string servers;
  for (int i = 0; i < 4095; i++) {
    servers += u"10.0.0.1,";
  }
  const auto dns = Owned([&] { return ConvertTextToDeviceNode((u"Dns(" + servers + u")").c_str()); }, true);
  ASSERT_TRUE(dns);
  EXPECT_EQ(dns->size(), 65525u);
  EXPECT_EQ(ToHex(Bytes(dns->end() - 16, dns->end())), "0A 00 00 01 " + Zeros(12));
  EXPECT_EQ(Node(u"Dns(" + servers + u",)"), "null");

  // Uri: cut to 65531 characters, so the node is at most 65535 bytes.
  const auto uri =
      Owned([&] { return ConvertTextToDeviceNode((u"Uri(" + std::u16string(70000, u'u') + u")").c_str()); }, true);
  ASSERT_TRUE(uri);
  EXPECT_EQ(uri->size(), 65535u);
  EXPECT_EQ(uri->back(), 'u');
}

}  // namespace
}  // namespace devpath_test
