// UEFI load options as efivarfs stores them, built byte by byte: what the
// reader takes from them, the names of their attributes, and the sentence
// that names where a malformed one goes wrong.
#include <algorithm>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "host/devtext/LoadOption.h"
#include "tests/devpath/DevpathTestSupport.h"
#include "tests/support/DeviceTextLaw.h"

namespace devpath_test {
namespace {

void Put16(Bytes &bytes, uint16_t value) { bytes.insert(bytes.end(), {uint8_t(value), uint8_t(value >> 8)}); }
void Put32(Bytes &bytes, uint32_t value) {
  Put16(bytes, static_cast<uint16_t>(value));
  Put16(bytes, static_cast<uint16_t>(value >> 16));
}

// efivarfs attributes, Attributes, FilePathListLength (the paths' size
// unless given), the description and its NUL, the paths, the optional data.
Bytes Option(uint32_t attributes, const std::u16string &description, const Bytes &paths, const Bytes &optional = {},
             int filePathListLength = -1, uint32_t variableAttributes = 7) {
  Bytes bytes;
  Put32(bytes, variableAttributes);
  Put32(bytes, attributes);
  Put16(bytes, static_cast<uint16_t>(filePathListLength >= 0 ? filePathListLength : paths.size()));
  for (char16_t unit : description) {
    Put16(bytes, unit);
  }
  Put16(bytes, 0);
  bytes.insert(bytes.end(), paths.begin(), paths.end());
  bytes.insert(bytes.end(), optional.begin(), optional.end());
  return bytes;
}

// HD(1,GPT,...)/\EFI\BOOT\BOOTX64.EFI as a path.
const std::string kGuid = "12345678-9ABC-DEF0-1234-56789ABCDEF0";
const std::string kBootText = "HD(1,GPT," + kGuid + ",0x800,0x100000)/\\EFI\\BOOT\\BOOTX64.EFI";

class LoadOptionTest : public PoolTest {
 protected:
  Bytes PathBytes(const std::string &text) { return FromHex(Path(U16(text))); }

  devtext::LoadOption Read(const Bytes &variable) { return devtext::ReadLoadOption(variable, law::LinkedFormatter()); }

  std::string Problem(const Bytes &variable) {
    try {
      Read(variable);
    } catch (const devtext::LoadOptionError &error) {
      return error.what();
    }
    return "read without a problem";
  }
};

TEST_F(LoadOptionTest, ABootEntry) {
  const Bytes path = PathBytes(kBootText);
  const Bytes variable = Option(0x00000001, u"Linux Boot Manager", path);
  const devtext::LoadOption option = Read(variable);
  EXPECT_EQ(option.variableAttributes, 7u);
  EXPECT_EQ(option.attributes, 1u);
  EXPECT_EQ(option.description, u"Linux Boot Manager");
  EXPECT_EQ(option.filePathListLength, path.size());
  EXPECT_EQ(option.filePathListOffset, 10u + 2 * 19);
  ASSERT_EQ(option.paths.size(), 1u);
  EXPECT_EQ(option.paths[0].offset, 48u);
  EXPECT_EQ(option.paths[0].bytes, path);
  EXPECT_EQ(option.paths[0].text.text, kBootText);
  EXPECT_EQ(option.optionalDataOffset, variable.size());
  EXPECT_TRUE(option.optionalData.empty());
}

TEST_F(LoadOptionTest, SeveralPathsAndOptionalData) {
  const Bytes first = PathBytes("PciRoot(0x0)/Pci(0x1F,0x2)/Sata(0x0,0xFFFF,0x0)");
  const Bytes second = PathBytes("MAC(001122334455,0x1)/IPv4(0.0.0.0,TCP,DHCP,0.0.0.0)");
  Bytes paths = first;
  paths.insert(paths.end(), second.begin(), second.end());
  const Bytes optional = {'W', 'I', 'N', 'D', 'O', 'W', 'S', 0};
  const Bytes variable = Option(0x0000010B, u"", paths, optional);
  const devtext::LoadOption option = Read(variable);
  EXPECT_EQ(option.description, u"");
  ASSERT_EQ(option.paths.size(), 2u);
  EXPECT_EQ(option.paths[0].offset, 12u);
  EXPECT_EQ(option.paths[0].text.text, "PciRoot(0x0)/Pci(0x1F,0x2)/Sata(0x0,0xFFFF,0x0)");
  EXPECT_EQ(option.paths[1].offset, 12u + first.size());
  EXPECT_EQ(option.paths[1].text.text, "MAC(001122334455,0x1)/IPv4(0.0.0.0,TCP,DHCP,0.0.0.0)");
  EXPECT_EQ(option.optionalData, optional);
  EXPECT_EQ(option.optionalDataOffset, 12u + paths.size());
}

TEST_F(LoadOptionTest, AttributeNames) {
  const std::vector<std::pair<uint32_t, std::vector<std::string>>> cases = {
      {0x00000000, {"CATEGORY_BOOT"}},
      {0x00000001, {"ACTIVE", "CATEGORY_BOOT"}},
      {0x0000010B, {"ACTIVE", "FORCE_RECONNECT", "HIDDEN", "CATEGORY_APP"}},
      {0x00000200, {"CATEGORY 0x0200"}},
      {0x80000005, {"ACTIVE", "CATEGORY_BOOT", "0x80000004"}},
  };
  for (const auto &[attributes, names] : cases) {
    EXPECT_EQ(devtext::LoadOptionAttributeNames(attributes), names) << attributes;
  }
  EXPECT_EQ(devtext::VariableAttributeNames(0x07),
            (std::vector<std::string>{"NON_VOLATILE", "BOOTSERVICE_ACCESS", "RUNTIME_ACCESS"}));
  EXPECT_EQ(devtext::VariableAttributeNames(0x0100), (std::vector<std::string>{"0x00000100"}));
}

// Each unit on its own, a surrogate in the three bytes of its number, so
// that no unit is lost or changed; JSON exact unit for unit, escaped as
// nlohmann::json escapes where it can, every surrogate as its own \u
// escape.
TEST_F(LoadOptionTest, DescriptionsAsUtf8AndAsJson) {
  struct Case {
    std::u16string description;
    std::string utf8;
    std::string json;
  };
  const std::u16string lone = std::u16string(1, char16_t(0xD800)) + u"x";
  const std::u16string pair = {char16_t(0xD83D), char16_t(0xDE00)};
  const std::u16string lowFirst = {char16_t(0xDC00), char16_t(0xD800)};
  const std::vector<Case> cases = {
      {u"Linux Boot Manager", "Linux Boot Manager", "\"Linux Boot Manager\""},
      {u"", "", "\"\""},
      {u"Caf\u00E9 \u20AC \uFFFF", "Caf\xC3\xA9 \xE2\x82\xAC \xEF\xBF\xBF", "\"Caf\xC3\xA9 \xE2\x82\xAC \xEF\xBF\xBF\""},
      {u"\"\\/\b\f\n\r\t\x01\x1B\x1F\x7F", "\"\\/\b\f\n\r\t\x01\x1B\x1F\x7F",
       "\"\\\"\\\\/\\b\\f\\n\\r\\t\\u0001\\u001b\\u001f\x7F\""},
      {std::u16string(1, char16_t(0x9B)) + u"\u202E", "\xC2\x9B\xE2\x80\xAE", "\"\xC2\x9B\xE2\x80\xAE\""},
      {lone, "\xED\xA0\x80x", "\"\\ud800x\""},
      {pair, "\xED\xA0\xBD\xED\xB8\x80", "\"\\ud83d\\ude00\""},
      {lowFirst, "\xED\xB0\x80\xED\xA0\x80", "\"\\udc00\\ud800\""},
  };
  for (const Case &c : cases) {
    EXPECT_EQ(devtext::Utf8(c.description), c.utf8) << c.json;
    EXPECT_EQ(devtext::JsonString(c.description), c.json);
    const bool surrogates = std::any_of(c.description.begin(), c.description.end(),
                                        [](char16_t unit) { return unit >= 0xD800 && unit <= 0xDFFF; });
    if (!surrogates) {
      // Where nlohmann::json can write the text, exactly as it does.
      EXPECT_EQ(devtext::JsonString(c.description), nlohmann::json(c.utf8).dump()) << c.json;
    }
  }
  EXPECT_EQ(Read(Option(1, u"\u00C9t\u00E9\n", PathBytes("Pci(0x0,0x0)"))).description, u"\u00C9t\u00E9\n");
  EXPECT_EQ(Read(Option(1, lone, PathBytes("Pci(0x0,0x0)"))).description, lone);
}

TEST_F(LoadOptionTest, MalformedOptionsAreNamedWithTheirOffset) {
  const Bytes pci = PathBytes("Pci(0x0,0x0)");  // 10 bytes
  Bytes unterminated = Option(1, u"AB", {});
  unterminated.resize(unterminated.size() - 2);
  Bytes oddTail = unterminated;
  oddTail.push_back(0);
  Bytes twoThenHalf = pci;
  twoThenHalf.insert(twoThenHalf.end(), {0x01, 0x01});
  // Every place is a byte of the variable, counted from the start of the
  // efivarfs file (its 4 bytes of attributes included).
  const std::vector<std::pair<Bytes, std::string>> cases = {
      {{}, "0 bytes: a load option in efivarfs starts with 4 bytes of variable attributes, then 4 of Attributes and 2 "
           "of FilePathListLength (10 bytes)"},
      {Bytes(9, 0), "9 bytes: a load option in efivarfs starts with 4 bytes of variable attributes, then 4 of "
                    "Attributes and 2 of FilePathListLength (10 bytes)"},
      {unterminated, "the description from byte 10 of the variable has no terminating NUL character before the "
                     "variable ends at byte 14"},
      {oddTail, "the description from byte 10 of the variable has no terminating NUL character before the variable "
                "ends at byte 15"},
      {Option(1, u"A", pci, {}, 0), "FilePathListLength is 0: a load option holds at least one device path (the file "
                                    "path list would start at byte 14 of the variable)"},
      {Option(1, u"A", pci, {}, 11),
       "FilePathListLength 11 runs past the end: the file path list from byte 14 of the variable would end at byte 25 "
       "of the variable, which ends at byte 24"},
      {Option(1, u"A", pci, {0xAA}, 9),
       "device path 1 at byte 14 of the variable (FilePathListLength 9): no end node: the file path list ends at byte "
       "23 of the variable inside or before a node header"},
      {Option(1, u"A", pci, {}, 5),
       "device path 1 at byte 14 of the variable (FilePathListLength 5): the node at byte 14 of the variable has "
       "Length 6, which runs past the end of the file path list at byte 19 of the variable"},
      {Option(1, u"A", twoThenHalf),
       "device path 2 at byte 24 of the variable (FilePathListLength 12): no end node: the file path list ends at "
       "byte 26 of the variable inside or before a node header"},
      {Option(1, u"A", FromHex("04 04 08 00 41 00 42 00 7F FF 04 00")),
       "device path 1 at byte 14 of the variable (FilePathListLength 12): the file-path node at byte 14 of the "
       "variable does not end in a zero character"},
      {Option(1, u"A", FromHex("01 01 02 00 7F FF 04 00")),
       "device path 1 at byte 14 of the variable (FilePathListLength 8): the node at byte 14 of the variable has "
       "Length 2, below 4"},
      {Option(1, u"AB", FromHex("01 01 06 00 02 01 7F FF 05 00 00")),
       "device path 1 at byte 16 of the variable (FilePathListLength 11): the end node at byte 22 of the variable "
       "has Length 5, not 4"},
  };
  for (const auto &[variable, problem] : cases) {
    EXPECT_EQ(Problem(variable), problem) << ToHex(variable);
  }
}

}  // namespace
}  // namespace devpath_test
