// The conversion frame: splitting a path text into node texts, instances,
// keyword matching, the file-path fallback, the parameter splitter and the
// generic node builder, and the limits of the 16-bit node length.
#include <string>
#include <vector>

#include "tests/devpath/DevpathTestSupport.h"

namespace devpath_test {
namespace {

using TextCase = NodeCase;

using FrameTest = PoolTest;

TEST_F(FrameTest, ConvertsPathTexts) {
  const std::vector<TextCase> cases = {
      // The slot texts of the board layouts.
      {u"PciRoot(0x0)/Pci(0x0,0x3)", "02 01 0C 00 D0 41 03 0A 00 00 00 00 01 01 06 00 03 00 7F FF 04 00"},
      {u"PciRoot(0x0)/Pci(0x3,0x7)", "02 01 0C 00 D0 41 03 0A 00 00 00 00 01 01 06 00 07 03 7F FF 04 00"},
      {u"PciRoot(0x0)/Pci(0x16,0x19)", "02 01 0C 00 D0 41 03 0A 00 00 00 00 01 01 06 00 19 16 7F FF 04 00"},
      {u"PciRoot(0x0)/Pci(0x8,0x8)", "02 01 0C 00 D0 41 03 0A 00 00 00 00 01 01 06 00 08 08 7F FF 04 00"},
      // Separators before, between and after nodes add nothing.
      {u"/", "7F FF 04 00"},
      {u"//,,()/", "7F FF 04 00"},
      {u"Pci(1,2)/", "01 01 06 00 02 01 7F FF 04 00"},
      {u"/Pci(1,2)", "01 01 06 00 02 01 7F FF 04 00"},
      {u"Pci(1,2)//Pci(3,4)", "01 01 06 00 02 01 01 01 06 00 04 03 7F FF 04 00"},
      {u"Pci(1,2)/(/Pci(3,4)", "01 01 06 00 02 01 01 01 06 00 04 03 7F FF 04 00"},
      // A "," at depth 0 ends an instance.
      {u"Pci(1,2),Pci(3,4)", "01 01 06 00 02 01 7F 01 04 00 01 01 06 00 04 03 7F FF 04 00"},
      {u"Pci(1,2),", "01 01 06 00 02 01 7F 01 04 00 7F FF 04 00"},
      {u"Pci(1,2),,Pci(3,4)", "01 01 06 00 02 01 7F 01 04 00 01 01 06 00 04 03 7F FF 04 00"},
      // Unbalanced to the end: the node and what follows are dropped.
      {u"Pci(1,2)/Pci(3", "01 01 06 00 02 01 7F FF 04 00"},
      {u"Pci(3", "7F FF 04 00"},
      {u"Pci(1,2)/Pci(3,4))", "01 01 06 00 02 01 7F FF 04 00"},
      // A surplus ")" takes the count below zero: the "," inside the second
      // node is at count 0 and ends an instance; "4)" ends at -1.
      {u"Pci(1,2))/Pci(3,4)", "01 01 06 00 02 01 7F 01 04 00 7F FF 04 00"},
      // Characters after the ")" of a node are ignored.
      {u"Pci(1,2)x/Pci(3,4)", "01 01 06 00 02 01 01 01 06 00 04 03 7F FF 04 00"},
      // "/" and "," inside parentheses do not split.
      {u"A(b/c)", "04 04 12 00 41 00 28 00 62 00 2F 00 63 00 29 00 00 00 7F FF 04 00"},
      {u"A(b,c)", "04 04 12 00 41 00 28 00 62 00 2C 00 63 00 29 00 00 00 7F FF 04 00"},
      // Keywords are case-sensitive; a leading space is part of the text.
      {u"pciroot(0x0)",
       "04 04 1E 00 70 00 63 00 69 00 72 00 6F 00 6F 00 74 00 28 00 30 00 78 00 30 00 29 00 00 00 7F FF 04 00"},
      {u" PciRoot(0x0)",
       "04 04 20 00 20 00 50 00 63 00 69 00 52 00 6F 00 6F 00 74 00 28 00 30 00 78 00 30 00 29 00 00 00 7F FF 04 00"},
      {u"\\EFI\\BOOT", "04 04 18 00 5C 00 45 00 46 00 49 00 5C 00 42 00 4F 00 4F 00 54 00 00 00 7F FF 04 00"},
      // A node made by "Path" is appended like any other: an end node of
      // Length 4 adds nothing, an instance end splits the path.
      {u"Pci(1,2)/Path(0x7F,0xFF)/Pci(3,4)", "01 01 06 00 02 01 01 01 06 00 04 03 7F FF 04 00"},
      {u"Pci(1,2)/Path(0x7F,0x01)/Pci(3,4)", "01 01 06 00 02 01 7F 01 04 00 01 01 06 00 04 03 7F FF 04 00"},
      // A node that makes no valid path (an end node of Length 5, a file
      // name without terminator) is refused by the append: the path built
      // so far goes with it and the next node starts afresh.
      {u"Pci(1,2)/Path(0x7F,0xFF,00)/Pci(3,4)", "01 01 06 00 04 03 7F FF 04 00"},
      {u"Pci(1,2)/Path(4,4,41)", "null"},
      {u"Pci(1,2)/Path(4,4,4142)", "null"},
      {u"", "null"},
  };
  for (const auto &c : cases) {
    EXPECT_EQ(Path(c.text), c.bytes) << Name(c.text);
  }
  EXPECT_EQ(ConvertTextToDevicePath(nullptr), nullptr);
}

TEST_F(FrameTest, ConvertsNodeTexts) {
  const std::vector<TextCase> cases = {
      // "Pci" does not claim "PciRoot(": the "(" must follow the keyword.
      {u"PciRoot(0x0)", "02 01 0C 00 D0 41 03 0A 00 00 00 00"},
      {u"Pci(1,2)", "01 01 06 00 02 01"},
      {u"Pci(1,2)junk", "01 01 06 00 02 01"},
      // The parameters end at the first ")"; the node text is not split.
      {u"Pci(1,2),Pci(3,4)", "01 01 06 00 02 01"},
      {u"Pci(1,(2)", "01 01 06 00 00 01"},
      // No ")" after the "(", a space before it, no parentheses, an unknown
      // keyword: the whole text names a file.
      {u"Pci(1,2", "04 04 14 00 50 00 63 00 69 00 28 00 31 00 2C 00 32 00 00 00"},
      {u"Pci (1)", "04 04 14 00 50 00 63 00 69 00 20 00 28 00 31 00 29 00 00 00"},
      {u"Pci", "04 04 0C 00 50 00 63 00 69 00 00 00"},
      {u"Foo(1)", "04 04 12 00 46 00 6F 00 6F 00 28 00 31 00 29 00 00 00"},
      {u"PCI(1,2)", "04 04 16 00 50 00 43 00 49 00 28 00 31 00 2C 00 32 00 29 00 00 00"},
      {u"", "null"},
  };
  for (const auto &c : cases) {
    EXPECT_EQ(Node(c.text), c.bytes) << Name(c.text);
  }
  EXPECT_EQ(ConvertTextToDeviceNode(nullptr), nullptr);
}

TEST_F(FrameTest, KeywordsInAnotherLetterCaseReadAsFileNames) {
  // Every keyword has a row; written in another case it has none.
  for (const std::u16string keyword : {u"mac", u"IPV4", u"hd", u"FV", u"Bbs"}) {
    const std::u16string text = keyword + u"(1)";
    const auto bytes = Owned([&] { return ConvertTextToDeviceNode(text.c_str()); }, true);
    ASSERT_TRUE(bytes);
    EXPECT_EQ((*bytes)[0], 0x04);
    EXPECT_EQ((*bytes)[1], 0x04);
    EXPECT_EQ(bytes->size(), 4 + 2 * (text.size() + 1)) << Name(text);
  }
}

TEST(NodeTextTable, HoldsTheHardwareAndAcpiKeywordsInOrder) {
  const std::vector<std::u16string> expected = {
      u"Path",     u"HardwarePath", u"Pci",    u"PcCard",   u"MemoryMapped", u"VenHw",  u"Ctrl",
      u"BMC",      u"AcpiPath",     u"Acpi",   u"PciRoot",  u"PcieRoot",     u"Floppy", u"Keyboard",
      u"Serial",   u"ParallelPort", u"AcpiEx", u"AcpiExp",  u"AcpiAdr",
  };
  std::vector<std::u16string> keywords;
  for (const NODE_TEXT_ROW *row : TableRows()) {
    ASSERT_NE(RowKeyword(row), u"");
    ASSERT_LT(row->Parser, NODE_PARSER_COUNT);
    keywords.emplace_back(RowKeyword(row));
  }
  EXPECT_EQ(keywords.size(), NODE_TEXT_ROW_COUNT);
  // The rows of the other node kinds follow them.
  ASSERT_GE(keywords.size(), expected.size());
  keywords.resize(expected.size());
  EXPECT_EQ(keywords, expected);
}

// The node texts CutNodeText cuts out of a whole text, each with "," after
// it when a "," ended it, and "|dropped" when it refused an unbalanced rest.
std::vector<std::u16string> Cuts(const std::u16string &text) {
  std::u16string working = text;
  std::vector<std::u16string> cuts;
  CHAR16 *cursor = working.data();
  while (*cursor != 0) {
    BOOLEAN instanceEnd = 7;
    CHAR16 *const before = cursor;
    const CHAR16 *node = CutNodeText(&cursor, &instanceEnd);
    if (node == nullptr) {
      EXPECT_EQ(cursor, before);
      EXPECT_EQ(instanceEnd, 7);
      cuts.emplace_back(u"|dropped");
      break;
    }
    EXPECT_TRUE(instanceEnd == TRUE || instanceEnd == FALSE);
    cuts.emplace_back(std::u16string(node) + (instanceEnd ? u"," : u""));
  }
  return cuts;
}

TEST(CutNodeText, CutsWhereTheConverterCuts) {
  using Texts = std::vector<std::u16string>;
  EXPECT_EQ(Cuts(u"PciRoot(0x0)/Pci(0x1F,0x2)"), (Texts{u"PciRoot(0x0)", u"Pci(0x1F,0x2)"}));
  // "," at depth 0 ends an instance; inside parentheses it separates parameters.
  EXPECT_EQ(Cuts(u"Pci(1,2),Pci(3,4)/Ctrl(0)"), (Texts{u"Pci(1,2),", u"Pci(3,4)", u"Ctrl(0)"}));
  // Separators before a node are skipped, "(" and ")" included; a text that
  // ends in a separator gives an empty last node text.
  EXPECT_EQ(Cuts(u"//(Pci(1,2)"), (Texts{u"Pci(1,2)"}));
  EXPECT_EQ(Cuts(u"Pci(1,2)/"), (Texts{u"Pci(1,2)"}));
  EXPECT_EQ(Cuts(u"Pci(1,2)//"), (Texts{u"Pci(1,2)", u""}));
  EXPECT_EQ(Cuts(u"/"), (Texts{u""}));
  // A file name is a node text like any other.
  EXPECT_EQ(Cuts(u"HD(1,MBR,0x1,0x2,0x3)/\\EFI\\boot.efi"), (Texts{u"HD(1,MBR,0x1,0x2,0x3)", u"\\EFI\\boot.efi"}));
  // An unbalanced rest is refused and left as it was; what came before stays cut.
  EXPECT_EQ(Cuts(u"Pci(1,2)/Pci(3,4"), (Texts{u"Pci(1,2)", u"|dropped"}));
  EXPECT_EQ(Cuts(u"Pci(1,(2)"), (Texts{u"|dropped"}));
  // A surplus ")" takes the count below zero: "/" and "," no longer cut
  // until a "(" brings it back, and a text ending below zero is dropped.
  EXPECT_EQ(Cuts(u"a)b/c(d/e"), (Texts{u"a)b/c(d", u"e"}));
  EXPECT_EQ(Cuts(u"a)b/c"), (Texts{u"|dropped"}));
}

TEST_F(FrameTest, CutNodeTextCutsTheTextsThatConvertToThePathsNodes) {
  // The path of a text is its node texts converted one by one.
  for (const std::u16string text : {u"PciRoot(0x0)/Pci(0x1F,0x2)/Sata(0x0,0xFFFF,0x0)",
                                    u"Pci(1,2),Pci(3,4)/MAC(001122334455,0x1)/IPv4(192.168.0.1)",
                                    u"VenHw(12345678-1234-5678-9ABC-DEF012345678,0102)/\\file"}) {
    std::string joined;
    for (const auto &cut : Cuts(text)) {
      const bool instanceEnd = !cut.empty() && cut.back() == u',';
      const std::u16string node = instanceEnd ? cut.substr(0, cut.size() - 1) : cut;
      EFI_DEVICE_PATH_PROTOCOL *converted = ConvertTextToDeviceNode(node.c_str());
      ASSERT_NE(converted, nullptr) << Name(node);
      joined += (joined.empty() ? "" : " ") + ToHex(NodeBytes(converted));
      PoolFree(converted);
      if (instanceEnd) {
        joined += " 7F 01 04 00";
      }
    }
    EXPECT_EQ(Path(text), joined + " 7F FF 04 00") << Name(text);
  }
}

TEST(NodeTextKeyword, NamesTheKeywordWhoseRowConvertsTheText) {
  const std::vector<std::pair<std::u16string, const char *>> cases = {
      {u"Pci(0x1,0x2)", "Pci"},
      {u"PciRoot(0x0)", "PciRoot"},
      {u"AcpiExp(PNP0A03,0,)", "AcpiExp"},
      {u"AcpiEx(PNP0A03,0,0,,,)", "AcpiEx"},
      {u"Sata(0,0,0)", "Sata"},
      {u"Pci()", "Pci"},
      // ")" anywhere after the "(".
      {u"Pci(1,2", nullptr},
      {u"Pci(1)x)", "Pci"},
      // "(" directly after the keyword, the whole keyword, the same case.
      {u"Pci (1,2)", nullptr},
      {u"Pc(1,2)", nullptr},
      {u"pci(1,2)", nullptr},
      {u"Pcix(1,2)", nullptr},
      {u"Pci", nullptr},
      {u"\\EFI\\boot.efi", nullptr},
      {u"", nullptr},
  };
  for (const auto &[text, keyword] : cases) {
    const CHAR8 *found = NodeTextKeyword(text.c_str());
    EXPECT_EQ(found == nullptr ? std::string("null") : std::string(found), keyword == nullptr ? "null" : keyword)
        << Name(text);
  }
  // Every row's keyword names itself, and only it.
  for (const NODE_TEXT_ROW *row : TableRows()) {
    const std::u16string text = RowKeyword(row) + u"()";
    EXPECT_EQ(NodeTextKeyword(text.c_str()), NodeTextRowKeyword(row)) << Name(text);
  }
}

TEST(NextParam, SplitsAtCommasAndThenGivesEmptyTexts) {
  std::u16string text = u"a,,bc";
  CHAR16 *cursor = text.data();
  std::vector<std::u16string> params;
  for (int i = 0; i < 5; i++) {
    params.emplace_back(NextParam(&cursor));
  }
  EXPECT_EQ(params, (std::vector<std::u16string>{u"a", u"", u"bc", u"", u""}));

  std::u16string empty;
  CHAR16 *start = empty.data();
  cursor = start;
  EXPECT_EQ(NextParam(&cursor), start);
  EXPECT_EQ(cursor, start);

  // Nothing is trimmed, and nothing nests.
  std::u16string spaced = u" 1 ,(2,3)";
  cursor = spaced.data();
  EXPECT_EQ(std::u16string(NextParam(&cursor)), u" 1 ");
  EXPECT_EQ(std::u16string(NextParam(&cursor)), u"(2");
  EXPECT_EQ(std::u16string(NextParam(&cursor)), u"3)");
}

TEST_F(FrameTest, GenericNodesTakeWholeBytesOfHexData) {
  const std::vector<TextCase> cases = {
      {u"HardwarePath(5,ABC)", "01 05 05 00 AB"},
      {u"HardwarePath(5,AG)", "01 05 05 00 00"},
      {u"HardwarePath(5,A)", "01 05 04 00"},
      {u"HardwarePath(0x105,0102)", "01 05 06 00 01 02"},
      {u"HardwarePath(1)", "01 01 04 00"},
      {u"HardwarePath()", "01 00 04 00"},
      {u"AcpiPath(1,D041030A00000000)", "02 01 0C 00 D0 41 03 0A 00 00 00 00"},
      {u"AcpiPath(3,01000000,ignored)", "02 03 08 00 01 00 00 00"},
      {u"Path(1,1,0300)", "01 01 06 00 03 00"},
      {u"Path(0x101,1,0300)", "01 01 06 00 03 00"},
      {u"Path(0x20,0x30,fFfF)", "20 30 06 00 FF FF"},
      {u"Path()", "00 00 04 00"},
  };
  for (const auto &c : cases) {
    EXPECT_EQ(Node(c.text), c.bytes) << Name(c.text);
  }
  std::u16string params = u"0x0B,0102,extra";
  EXPECT_EQ(ToHex(*Owned([&] { return ParseGenericNode(3, params.data()); }, true)), "03 0B 06 00 01 02");
}

TEST_F(FrameTest, NodesTooLongForTheLengthFieldAreRefused) {
  // A file-path node of n characters needs 4 + 2 * (n + 1) bytes.
  const std::u16string longest(32764, u'a');
  const auto file = Owned([&] { return ConvertTextToDeviceNode(longest.c_str()); }, true);
  ASSERT_TRUE(file);
  EXPECT_EQ(file->size(), 65534u);
  const std::u16string tooLong(32765, u'a');
  EXPECT_EQ(Node(tooLong), "null");
  // In a path a refused node makes the whole path null.
  EXPECT_EQ(Path(u"Pci(1,2)/" + tooLong), "null");

  // Generic data: at most 65531 bytes.
  const auto generic = Owned(
      [&] { return ConvertTextToDeviceNode((u"HardwarePath(1," + std::u16string(131063, u'f') + u")").c_str()); },
      true);
  ASSERT_TRUE(generic);
  EXPECT_EQ(generic->size(), 65535u);
  EXPECT_EQ((*generic)[65534], 0xFF);
  EXPECT_EQ(Node(u"HardwarePath(1," + std::u16string(131064, u'f') + u")"), "null");
  EXPECT_EQ(ParseFilePathNode(nullptr), nullptr);
}

}  // namespace
}  // namespace devpath_test
