// UEFI load options as efivarfs stores them, built byte by byte: what the
// reader takes from them, the names of their attributes, and the sentence
// that names where a malformed one goes wrong.
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

TEST_F(LoadOptionTest, DescriptionsAsUtf8) {
  EXPECT_EQ(devtext::Utf8(u"Caf\u00E9 \u20AC"), "Caf\xC3\xA9 \xE2\x82\xAC");
  EXPECT_EQ(devtext::Utf8(std::u16string(1, char16_t(0xD800)) + u"x"), "\xEF\xBF\xBDx");
  EXPECT_EQ(Read(Option(1, u"\u00C9t\u00E9\n", PathBytes("Pci(0x0,0x0)"))).description, u"\u00C9t\u00E9\n");
}

TEST_F(LoadOptionTest, MalformedOptionsAreNamedWithTheirOffset) {
  const Bytes pci = PathBytes("Pci(0x0,0x0)");  // 10 bytes
  Bytes unterminated = Option(1, u"AB", {});
  unterminated.resize(unterminated.size() - 2);
  Bytes oddTail = unterminated;
  oddTail.push_back(0);
  Bytes twoThenHalf = pci;
  twoThenHalf.insert(twoThenHalf.end(), {0x01, 0x01});
  const std::vector<std::pair<Bytes, std::string>> cases = {
      {{}, "0 bytes: a load option in efivarfs starts with 4 bytes of variable attributes, then 4 of Attributes and 2 "
           "of FilePathListLength (10 bytes)"},
      {Bytes(9, 0), "9 bytes: a load option in efivarfs starts with 4 bytes of variable attributes, then 4 of "
                    "Attributes and 2 of FilePathListLength (10 bytes)"},
      {unterminated, "the description from offset 10 has no terminating NUL character before the end (offset 14)"},
      {oddTail, "the description from offset 10 has no terminating NUL character before the end (offset 15)"},
      {Option(1, u"A", pci, {}, 0), "FilePathListLength is 0: a load option holds at least one device path (offset 14)"},
      {Option(1, u"A", pci, {}, 11),
       "FilePathListLength 11 runs past the end: the file path list at offset 14 would end at offset 25, the option "
       "at 24"},
      {Option(1, u"A", pci, {0xAA}, 9),
       "device path 1 at offset 14 of the option (FilePathListLength 9): no end node: the bytes end at offset 9 "
       "inside or before a node header"},
      {Option(1, u"A", pci, {}, 5),
       "device path 1 at offset 14 of the option (FilePathListLength 5): the node at offset 0 has Length 6, which "
       "runs past the end of the bytes"},
      {Option(1, u"A", twoThenHalf),
       "device path 2 at offset 24 of the option (FilePathListLength 12): no end node: the bytes end at offset 2 "
       "inside or before a node header"},
      {Option(1, u"A", FromHex("04 04 08 00 41 00 42 00 7F FF 04 00")),
       "device path 1 at offset 14 of the option (FilePathListLength 12): the file-path node at offset 0 does not "
       "end in a zero character"},
  };
  for (const auto &[variable, problem] : cases) {
    EXPECT_EQ(Problem(variable), problem) << ToHex(variable);
  }
}

}  // namespace
}  // namespace devpath_test
