// The hardware and ACPI node parsers, byte for byte, and the builders they
// share: vendor nodes, fixed-_HID ACPI nodes and EISA IDs.
#include <string>
#include <vector>

#include "tests/devpath/DevpathTestSupport.h"

namespace devpath_test {
namespace {

const std::string kZeroGuid = "00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00";

using HardwareNodeTest = PoolTest;

TEST_F(HardwareNodeTest, ConvertsHardwareNodes) {
  const std::vector<NodeCase> cases = {
      // Pci(Device,Function): function at offset 4, device at 5, no range check.
      {u"Pci(0x16,0x19)", "01 01 06 00 19 16"},
      {u"Pci(0x8)", "01 01 06 00 00 08"},
      {u"Pci()", "01 01 06 00 00 00"},
      {u"Pci(0x100,0x3)", "01 01 06 00 03 00"},
      {u"Pci( 1, 2,3)", "01 01 06 00 02 01"},
      {u"Pci(0xFFFFFFFFFFFFFFFFF,1)", "01 01 06 00 01 FF"},
      {u"PcCard(3)", "01 02 05 00 03"},
      {u"PcCard(0x1FF)", "01 02 05 00 FF"},
      {u"MemoryMapped(11,0x1000,0x1FFF)",
       "01 03 18 00 0B 00 00 00 00 10 00 00 00 00 00 00 FF 1F 00 00 00 00 00 00"},
      {u"MemoryMapped(0x100000001,18446744073709551615,0x)",
       "01 03 18 00 01 00 00 00 FF FF FF FF FF FF FF FF 00 00 00 00 00 00 00 00"},
      {u"Ctrl(5)", "01 05 08 00 05 00 00 00"},
      {u"Ctrl(0xFFFFFFFFFFFFFFFFF)", "01 05 08 00 FF FF FF FF"},
      {u"Ctrl(FFFFFFFFFFFFFFFFF)", "01 05 08 00 00 00 00 00"},
      // BMC(InterfaceType,BaseAddress): the address is hexadecimal.
      {u"BMC(1,100)", "01 06 0D 00 01 00 01 00 00 00 00 00 00"},
      {u"BMC(0x2,0x1234567890ABCDEF)", "01 06 0D 00 02 EF CD AB 90 78 56 34 12"},
      {u"BMC(10,x100)", "01 06 0D 00 0A 00 00 00 00 00 00 00 00"},
      {u"Path(1,1,0300)", "01 01 06 00 03 00"},
      {u"HardwarePath(1,0300)", "01 01 06 00 03 00"},
  };
  for (const auto &c : cases) {
    EXPECT_EQ(Node(c.text), c.bytes) << Name(c.text);
  }
}

TEST_F(HardwareNodeTest, ConvertsVendorNodes) {
  const std::vector<NodeCase> cases = {
      {u"VenHw(" + kGuidText + u",0102)", "01 04 16 00 " + kGuidBytes + " 01 02"},
      {u"VenHw(" + kGuidText + u",aBcD)", "01 04 16 00 " + kGuidBytes + " AB CD"},
      // An odd count of digits rounds the data up and leaves it zero.
      {u"VenHw(" + kGuidText + u",123)", "01 04 16 00 " + kGuidBytes + " 00 00"},
      {u"VenHw(" + kGuidText + u",a)", "01 04 15 00 " + kGuidBytes + " 00"},
      {u"VenHw(" + kGuidText + u",12G4)", "01 04 16 00 " + kGuidBytes + " 00 00"},
      {u"VenHw(" + kGuidText + u")", "01 04 14 00 " + kGuidBytes},
      {u"VenHw(" + kGuidText + u",)", "01 04 14 00 " + kGuidBytes},
      // A GUID that is not complete stays zero.
      {u"VenHw({" + kGuidText + u"},01)", "01 04 15 00 " + kZeroGuid + " 01"},
      {u"VenHw(07AC0304,01)", "01 04 15 00 " + kZeroGuid + " 01"},
      {u"VenHw()", "01 04 14 00 " + kZeroGuid},
  };
  for (const auto &c : cases) {
    EXPECT_EQ(Node(c.text), c.bytes) << Name(c.text);
  }
  std::u16string params = kGuidText + u",FF";
  EXPECT_EQ(ToHex(*Owned([&] { return ParseVendorNode(params.data(), 3, 10); }, true)),
            "03 0A 15 00 " + kGuidBytes + " FF");
}

TEST_F(HardwareNodeTest, ConvertsAcpiNodes) {
  const std::vector<NodeCase> cases = {
      {u"PciRoot(0x0)", "02 01 0C 00 D0 41 03 0A 00 00 00 00"},
      {u"PciRoot()", "02 01 0C 00 D0 41 03 0A 00 00 00 00"},
      {u"PciRoot(0x100000001)", "02 01 0C 00 D0 41 03 0A 01 00 00 00"},
      {u"PcieRoot(1)", "02 01 0C 00 D0 41 08 0A 01 00 00 00"},
      {u"Floppy(0)", "02 01 0C 00 D0 41 04 06 00 00 00 00"},
      {u"Keyboard(0x2)", "02 01 0C 00 D0 41 01 03 02 00 00 00"},
      {u"Serial(1)", "02 01 0C 00 D0 41 01 05 01 00 00 00"},
      {u"ParallelPort(0)", "02 01 0C 00 D0 41 01 04 00 00 00 00"},
      {u"Acpi(PNP0A03,0)", "02 01 0C 00 D0 41 03 0A 00 00 00 00"},
      {u"Acpi(pnp0a03,0)", "02 01 0C 00 D0 41 03 0A 00 00 00 00"},
      {u"Acpi(PNP0501,2)", "02 01 0C 00 D0 41 01 05 02 00 00 00"},
      {u"Acpi(HWP0002,0x10)", "02 01 0C 00 F0 22 02 00 10 00 00 00"},
      // A HID written as a number: its first three characters are letters.
      {u"Acpi(0x0A0341D0,0)", "02 01 0C 00 10 43 D0 41 00 00 00 00"},
      // Short HID texts: missing letters and product number count as zero.
      {u"Acpi(,5)", "02 01 0C 00 00 00 00 00 05 00 00 00"},
      {u"Acpi(PN,5)", "02 01 0C 00 C0 41 00 00 05 00 00 00"},
      {u"Acpi(PNP,5)", "02 01 0C 00 D0 41 00 00 05 00 00 00"},
      // Strings in the node order HID, UID, CID.
      {u"AcpiEx(PNP0A03,PNP0A08,1,A,B,C)", "02 02 16 00 D0 41 03 0A 01 00 00 00 D0 41 08 0A 41 00 43 00 42 00"},
      {u"AcpiEx(PNP0A03,0,0,,,)", "02 02 13 00 D0 41 03 0A 00 00 00 00 00 40 00 00 00 00 00"},
      {u"AcpiEx(PNP0A03,PNP0A08,0x10,HID0, ,UID)",
       "02 02 1B 00 D0 41 03 0A 10 00 00 00 D0 41 08 0A 48 49 44 30 00 55 49 44 00 20 00"},
      {u"AcpiEx(PNP0A03,PNP0A08,0,\u0141,,)", "02 02 14 00 D0 41 03 0A 00 00 00 00 D0 41 08 0A 41 00 00 00"},
      {u"AcpiExp(PNP0A03,0,AB)", "02 02 15 00 D0 41 03 0A 00 00 00 00 00 00 00 00 00 41 42 00 00"},
      {u"AcpiExp(PNP0A03,PNP0A08,AB)", "02 02 15 00 D0 41 03 0A 00 00 00 00 D0 41 08 0A 00 41 42 00 00"},
      {u"AcpiExp(PNP0A03,,)", "02 02 13 00 D0 41 03 0A 00 00 00 00 00 00 00 00 00 00 00"},
      {u"AcpiAdr(1,2)", "02 03 0C 00 01 00 00 00 02 00 00 00"},
      {u"AcpiAdr(1,,2)", "02 03 08 00 01 00 00 00"},
      {u"AcpiAdr()", "02 03 08 00 00 00 00 00"},
      {u"AcpiAdr(0x80010100)", "02 03 08 00 00 01 01 80"},
      {u"AcpiAdr(1,2,0x100000003)", "02 03 10 00 01 00 00 00 02 00 00 00 03 00 00 00"},
  };
  for (const auto &c : cases) {
    EXPECT_EQ(Node(c.text), c.bytes) << Name(c.text);
  }
  std::u16string params = u"7";
  EXPECT_EQ(ToHex(*Owned([&] { return ParseAcpiHidNode(params.data(), 0x1234); }, true)),
            "02 01 0C 00 D0 41 34 12 07 00 00 00");
}

TEST(EisaIdFromText, CompressesThreeLettersAndAProductNumber) {
  const std::vector<std::pair<std::u16string, UINT32>> cases = {
      {u"PNP0A03", 0x0A0341D0}, {u"pnp0a03", 0x0A0341D0}, {u"PNP 0A03", 0x0A0341D0}, {u"PNP0x0A03", 0x0A0341D0},
      {u"PNP", 0x000041D0},     {u"PN", 0x000041C0},      {u"P", 0x00004000},       {u"", 0},
      {u"PNP12345", 0x234541D0}, {u"PNPxyz", 0x000041D0},
  };
  for (const auto &[text, id] : cases) {
    // Exactly the text's own characters: a read past the terminator of a
    // short text would be caught by the sanitizer build.
    std::vector<CHAR16> exact(text.begin(), text.end());
    exact.push_back(0);
    EXPECT_EQ(EisaIdFromText(exact.data()), id) << Name(text);
  }
}

TEST_F(HardwareNodeTest, NodesTooLongForTheLengthFieldAreRefused) {
  // Vendor data: 20 + (n + 1) / 2 bytes must fit in 16 bits.
  const auto vendor = Owned(
      [&] { return ConvertTextToDeviceNode((u"VenHw(" + kGuidText + u"," + std::u16string(131030, u'1') + u")").c_str()); },
      true);
  ASSERT_TRUE(vendor);
  EXPECT_EQ(vendor->size(), 65535u);
  EXPECT_EQ((*vendor)[65534], 0x11);
  EXPECT_EQ(Node(u"VenHw(" + kGuidText + u"," + std::u16string(131031, u'1') + u")"), "null");

  // AcpiEx: 19 bytes and the three strings.
  const std::u16string strings(65516, u'S');
  const auto acpiEx = Owned(
      [&] { return ConvertTextToDeviceNode((u"AcpiEx(PNP0A03,0,0," + strings + u",,)").c_str()); }, true);
  ASSERT_TRUE(acpiEx);
  EXPECT_EQ(acpiEx->size(), 65535u);
  // One byte over is 65,536, which a 16-bit Length holds as 0; a few bytes
  // over it would hold as a small Length (4, 20) that the strings overrun.
  for (const size_t over : {1, 5, 21}) {
    const std::u16string more(over, u'S');
    EXPECT_EQ(Node(u"AcpiEx(PNP0A03,0,0," + strings + u",," + more + u")"), "null") << over;
    EXPECT_EQ(Node(u"AcpiEx(PNP0A03,0,0," + strings + more + u",,)"), "null") << over;
    EXPECT_EQ(Node(u"AcpiExp(PNP0A03,0," + strings + more + u")"), "null") << over;
  }

  // AcpiAdr: 4 bytes for each value, 16382 at most.
  std::u16string values;
  for (int i = 0; i < 16382; i++) {
    values += u"1,";
  }
  const auto adr = Owned([&] { return ConvertTextToDeviceNode((u"AcpiAdr(" + values + u")").c_str()); }, true);
  ASSERT_TRUE(adr);
  EXPECT_EQ(adr->size(), 65532u);
  EXPECT_EQ(Node(u"AcpiAdr(" + values + u"1)"), "null");
}

}  // namespace
}  // namespace devpath_test
