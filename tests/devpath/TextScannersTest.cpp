// The text readers: numbers with their overflow and length limits, byte
// strings, GUIDs and IP addresses, and the rule that a reader that fails
// writes nothing.
#include <array>
#include <cstring>
#include <string>
#include <vector>

#include "tests/devpath/DevpathTestSupport.h"

namespace devpath_test {
namespace {

constexpr UINT64 kAllOnes = 0xFFFFFFFFFFFFFFFFULL;
constexpr UINT64 kUntouched = 0x5A5A5A5A5A5A5A5AULL;

struct ScanCase {
  std::u16string text;
  EFI_STATUS status;
  UINT64 value;
  size_t end;  // characters from the start of the text
};

TEST(ScanDecimal, ReadsDigitsUpToTheFirstOtherCharacter) {
  const std::vector<ScanCase> cases = {
      {u"18446744073709551615", EFI_SUCCESS, kAllOnes, 20},
      // One more overflows at its last digit.
      {u"18446744073709551616", EFI_UNSUPPORTED, kAllOnes, 19},
      {u"99999999999999999999999", EFI_UNSUPPORTED, kAllOnes, 19},
      {u" \t00a", EFI_SUCCESS, 0, 4},
      {u"", EFI_SUCCESS, 0, 0},
      {u"12x4", EFI_SUCCESS, 12, 2},
      {u"0x12", EFI_SUCCESS, 0, 1},
      {u"  007 8", EFI_SUCCESS, 7, 5},
      {u"-5", EFI_SUCCESS, 0, 0},
  };
  for (const auto &c : cases) {
    UINT64 value = kUntouched;
    const CHAR16 *end = nullptr;
    EXPECT_EQ(ScanDecimal(c.text.c_str(), &end, &value), c.status) << "text: " << std::string(c.text.begin(), c.text.end());
    EXPECT_EQ(value, c.value);
    EXPECT_EQ(end - c.text.c_str(), static_cast<ptrdiff_t>(c.end));
  }
}

TEST(ScanHex, ReadsAnOptionalPrefixAndHexDigits) {
  const std::vector<ScanCase> cases = {
      {u"0xFFFFFFFFFFFFFFFF", EFI_SUCCESS, kAllOnes, 18},
      {u"0x1FFFFFFFFFFFFFFFF", EFI_UNSUPPORTED, kAllOnes, 18},
      {u"0x0", EFI_SUCCESS, 0, 3},
      // An "x" that no "0" introduces: value 0, the end at the start.
      {u" x5", EFI_SUCCESS, 0, 0},
      {u"x5", EFI_SUCCESS, 0, 0},
      {u"\tx5", EFI_SUCCESS, 0, 0},
      {u"ff", EFI_SUCCESS, 0xFF, 2},
      {u"0XaB", EFI_SUCCESS, 0xAB, 4},
      {u"00x10", EFI_SUCCESS, 0x10, 5},
      {u" \t0x1g", EFI_SUCCESS, 1, 5},
      {u"0x", EFI_SUCCESS, 0, 2},
      {u"0xx1", EFI_SUCCESS, 0, 2},
      {u"", EFI_SUCCESS, 0, 0},
  };
  for (const auto &c : cases) {
    UINT64 value = kUntouched;
    const CHAR16 *end = nullptr;
    EXPECT_EQ(ScanHex(c.text.c_str(), &end, &value), c.status) << "text: " << std::string(c.text.begin(), c.text.end());
    EXPECT_EQ(value, c.value);
    EXPECT_EQ(end - c.text.c_str(), static_cast<ptrdiff_t>(c.end));
  }
}

TEST(Scanners, RefuseNullArgumentsAndOverlongTextsAndStoreNothing) {
  using Scanner = EFI_STATUS (*)(const CHAR16 *, const CHAR16 **, UINT64 *);
  // A text of exactly the limit is read; one character more is refused.
  const std::u16string atLimit(MAX_SCAN_LENGTH, u'0');
  const std::u16string overLimit(MAX_SCAN_LENGTH + 1, u'1');
  for (Scanner scan : {&ScanDecimal, &ScanHex}) {
    UINT64 value = kUntouched;
    const CHAR16 *end = u"unchanged";
    const CHAR16 *const before = end;
    EXPECT_EQ(scan(nullptr, &end, &value), EFI_INVALID_PARAMETER);
    EXPECT_EQ(scan(u"12", &end, nullptr), EFI_INVALID_PARAMETER);
    EXPECT_EQ(scan(overLimit.c_str(), &end, &value), EFI_INVALID_PARAMETER);
    EXPECT_EQ(value, kUntouched);
    EXPECT_EQ(end, before);
    EXPECT_EQ(scan(atLimit.c_str(), &end, &value), EFI_SUCCESS);
    EXPECT_EQ(value, 0u);
    EXPECT_EQ(end, atLimit.c_str() + MAX_SCAN_LENGTH);
    // The end pointer is optional.
    EXPECT_EQ(scan(u"10", nullptr, &value), EFI_SUCCESS);
  }
  EXPECT_EQ(ParseHexValue(overLimit.c_str()), 0u);
  EXPECT_EQ(ParseNumber(overLimit.c_str()), 0u);
}

TEST(BoundedStrLen, CountsUpToTheTerminatorOrTheMaximum) {
  EXPECT_EQ(BoundedStrLen(nullptr, 10), 0u);
  EXPECT_EQ(BoundedStrLen(u"abc", 0), 0u);
  EXPECT_EQ(BoundedStrLen(u"abc", 2), 2u);
  EXPECT_EQ(BoundedStrLen(u"abc", 3), 3u);
  EXPECT_EQ(BoundedStrLen(u"abc", 10), 3u);
  EXPECT_EQ(BoundedStrLen(u"", 10), 0u);
  // The maximum bounds the look: no terminator is needed among the first
  // Maximum characters.
  const std::array<CHAR16, 4> unterminated = {u'a', u'b', u'c', u'd'};
  EXPECT_EQ(BoundedStrLen(unterminated.data(), 4), 4u);
  const std::u16string over(MAX_SCAN_LENGTH + 1, u'7');
  EXPECT_EQ(BoundedStrLen(over.c_str(), MAX_SCAN_LENGTH + 1), static_cast<UINTN>(MAX_SCAN_LENGTH + 1));
}

TEST(HexDigitValue, GivesTheValueOfEveryHexDigit) {
  const std::u16string digits = u"0123456789abcdefABCDEF";
  const std::vector<UINTN> values = {0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 10, 11, 12, 13, 14, 15};
  for (size_t i = 0; i < digits.size(); i++) {
    EXPECT_TRUE(IsHexDigit(digits[i]));
    EXPECT_EQ(HexDigitValue(digits[i]), values[i]) << "digit " << static_cast<char>(digits[i]);
  }
  for (CHAR16 other : std::u16string(u"gG/:@`x \t")) {
    EXPECT_FALSE(IsHexDigit(other));
  }
}

TEST(ParseNumber, ReadsDecimalOrPrefixedHexadecimal) {
  const std::vector<std::pair<std::u16string, UINT64>> cases = {
      {u"0x19", 0x19},
      {u"0x0", 0},
      {u"  0x10", 0x10},
      {u"0X1f", 0x1F},
      {u"0xAbC", 0xABC},
      {u"25", 25},
      {u"0025", 25},
      {u"19", 19},
      {u"", 0},
      {u"x10", 0},
      {u" x10", 0},
      // The look-ahead stops at a tab, and the decimal reading at the "x".
      {u"\t0x10", 0},
      {u"\t25", 25},
      {u"123456789012345678901", kAllOnes},
      {u"0x10000000000000000", kAllOnes},
      {u"12ab", 12},
      {u"ab", 0},
      {u"0x", 0},
      {u"-1", 0},
  };
  for (const auto &[text, value] : cases) {
    EXPECT_EQ(ParseNumber(text.c_str()), value) << std::string(text.begin(), text.end());
    UINT64 stored = kUntouched;
    ParseNumber64(text.c_str(), &stored);
    EXPECT_EQ(stored, value) << std::string(text.begin(), text.end());
  }
  EXPECT_EQ(ParseNumber(nullptr), 0u);
}

TEST(ParseHexValue, ReadsHexadecimalWithOrWithoutPrefix) {
  const std::vector<std::pair<std::u16string, UINT64>> cases = {
      {u"100", 0x100}, {u"0x100", 0x100}, {u" 0XfF", 0xFF}, {u"x1", 0}, {u"", 0}, {u"FFFFFFFFFFFFFFFFF", kAllOnes},
  };
  for (const auto &[text, value] : cases) {
    EXPECT_EQ(ParseHexValue(text.c_str()), value) << std::string(text.begin(), text.end());
  }
}

TEST(HexTextToBytes, ConvertsPairsOfDigitsHighHalfFirst) {
  std::array<UINT8, 4> buffer;
  buffer.fill(0xEE);
  EXPECT_EQ(HexTextToBytes(u"aBcD", 4, buffer.data(), buffer.size()), EFI_SUCCESS);
  EXPECT_EQ(ToHex(Bytes(buffer.begin(), buffer.end())), "AB CD EE EE");
  buffer.fill(0xEE);
  EXPECT_EQ(HexTextToBytes(u"AbCd", 4, buffer.data(), 2), EFI_SUCCESS);
  EXPECT_EQ(ToHex(Bytes(buffer.begin(), buffer.end())), "AB CD EE EE");
  // Only Count characters are looked at.
  buffer.fill(0xEE);
  EXPECT_EQ(HexTextToBytes(u"0102zz", 4, buffer.data(), 4), EFI_SUCCESS);
  EXPECT_EQ(ToHex(Bytes(buffer.begin(), buffer.end())), "01 02 EE EE");
}

TEST(HexTextToBytes, RefusesAndWritesNothing) {
  struct Case {
    const CHAR16 *text;
    UINTN count;
    UINTN size;
    EFI_STATUS status;
  };
  const std::vector<Case> cases = {
      {u"abc", 3, 4, EFI_INVALID_PARAMETER},
      {u"abcd", 4, 1, EFI_BUFFER_TOO_SMALL},
      // The terminator is no digit: a text shorter than the count fails.
      {u"ab", 4, 4, EFI_UNSUPPORTED},
      {u"0g12", 4, 4, EFI_UNSUPPORTED},
      {u"", 0, 0, EFI_SUCCESS},
      {nullptr, 2, 4, EFI_INVALID_PARAMETER},
      {u"ab", MAX_SCAN_LENGTH + 2, 1000000, EFI_INVALID_PARAMETER},
  };
  for (const auto &c : cases) {
    std::array<UINT8, 4> buffer;
    buffer.fill(0xEE);
    EXPECT_EQ(HexTextToBytes(c.text, c.count, buffer.data(), c.size), c.status) << "count " << c.count;
    EXPECT_EQ(ToHex(Bytes(buffer.begin(), buffer.end())), "EE EE EE EE");
  }
  EXPECT_EQ(HexTextToBytes(u"ab", 2, nullptr, 1), EFI_INVALID_PARAMETER);
}

TEST(ParseGuidText, StoresTheRegistryFormInLittleEndianFields) {
  EFI_GUID guid;
  EXPECT_EQ(ParseGuidText(u"07AC0304-8AA0-4DD7-94AC-2A3DEAB5CB25", &guid), EFI_SUCCESS);
  const auto *bytes = reinterpret_cast<const uint8_t *>(&guid);
  EXPECT_EQ(ToHex(Bytes(bytes, bytes + 16)), "04 03 AC 07 A0 8A D7 4D 94 AC 2A 3D EA B5 CB 25");
  // Lower case reads alike; characters after the 36th are not looked at.
  EFI_GUID lower;
  EXPECT_EQ(ParseGuidText(u"07ac0304-8aa0-4dd7-94ac-2a3deab5cb25,trailing", &lower), EFI_SUCCESS);
  EXPECT_EQ(std::memcmp(&guid, &lower, sizeof(guid)), 0);
}

TEST(ParseGuidText, RefusesOtherFormsAndStoresNothing) {
  const std::vector<std::u16string> refused = {
      u"{07AC0304-8AA0-4DD7-94AC-2A3DEAB5CB25}",
      u"07AC03048AA0-4DD7-94AC-2A3DEAB5CB25",
      u"07AC0304-8AA04-DD7-94AC-2A3DEAB5CB25",
      u"07AC0304-8AA0-4DD7-94AC2A3DEAB5CB25-",
      u"07AC0304-8AA0-4DD7-94AC-2A3DEAB5CB2",
      u"07AC0304-8AA0-4DD7-94AC-2A3DEAB5CBG5",
      // Each "-" alone replaced: every group is hex, only the separator is
      // wrong.
      u"07AC0304_8AA0-4DD7-94AC-2A3DEAB5CB25",
      u"07AC0304-8AA0_4DD7-94AC-2A3DEAB5CB25",
      u"07AC0304-8AA0-4DD7_94AC-2A3DEAB5CB25",
      u"07AC0304-8AA0-4DD7-94AC_2A3DEAB5CB25",
      u"07AC0304",
      u"",
  };
  for (const auto &text : refused) {
    // Exactly the text's own characters, so that a read past the
    // terminator would be caught.
    std::vector<CHAR16> exact(text.begin(), text.end());
    exact.push_back(0);
    EFI_GUID guid;
    std::memset(&guid, 0xEE, sizeof(guid));
    EXPECT_EQ(ParseGuidText(exact.data(), &guid), EFI_UNSUPPORTED) << std::string(text.begin(), text.end());
    const auto *bytes = reinterpret_cast<const uint8_t *>(&guid);
    EXPECT_EQ(Bytes(bytes, bytes + 16), Bytes(16, 0xEE));
  }
  EFI_GUID guid;
  EXPECT_EQ(ParseGuidText(nullptr, &guid), EFI_INVALID_PARAMETER);
  EXPECT_EQ(ParseGuidText(u"07AC0304-8AA0-4DD7-94AC-2A3DEAB5CB25", nullptr), EFI_INVALID_PARAMETER);
}

struct AddressCase {
  std::u16string text;
  std::string bytes;  // empty: refused
};

TEST(ParseIpv4Text, ReadsFourComponentsAndChecksThePrefix) {
  const std::vector<AddressCase> cases = {
      {u"192.168.0.1", "C0 A8 00 01"},
      {u"192.168.0.1/24", "C0 A8 00 01"},
      {u"192.168.0.1/32", "C0 A8 00 01"},
      {u"192.168.0.1/33", ""},
      {u"192.168.0.1/", "C0 A8 00 01"},
      {u"192.168.0.1//8", "C0 A8 00 01"},
      {u"192.168.0.1 rest", "C0 A8 00 01"},
      {u"010.1.1.1", "0A 01 01 01"},
      {u"255.255.255.255", "FF FF FF FF"},
      {u"1.2.3", ""},
      {u"1.2.3.", ""},
      {u"256.1.1.1", ""},
      {u"1.2.3.256", ""},
      {u" 1.2.3.4", ""},
      {u"1.2. 3.4", ""},
      {u"1..2.3", ""},
      // Components are separated by dots and nothing else.
      {u"1-2-3-4", ""},
      {u"1.2.3:4", ""},
      {u"1,2.3.4", ""},
      {u"1.2 3.4", ""},
      {u"1.2.3.4/99999999999999999999", ""},
      {u"", ""},
  };
  for (const auto &c : cases) {
    EFI_IPv4_ADDRESS address;
    std::memset(&address, 0xEE, sizeof(address));
    const EFI_STATUS status = ParseIpv4Text(c.text.c_str(), &address);
    const std::string text(c.text.begin(), c.text.end());
    if (c.bytes.empty()) {
      EXPECT_EQ(status, EFI_UNSUPPORTED) << text;
      EXPECT_EQ(ToHex(Bytes(address.Addr, address.Addr + 4)), "EE EE EE EE") << text;
    } else {
      EXPECT_EQ(status, EFI_SUCCESS) << text;
      EXPECT_EQ(ToHex(Bytes(address.Addr, address.Addr + 4)), c.bytes) << text;
    }
  }
  EFI_IPv4_ADDRESS address;
  EXPECT_EQ(ParseIpv4Text(nullptr, &address), EFI_INVALID_PARAMETER);
  EXPECT_EQ(ParseIpv4Text(u"1.2.3.4", nullptr), EFI_INVALID_PARAMETER);
}

TEST(ParseIpv6Text, ReadsGroupsAndOneDoubleColon) {
  const std::vector<AddressCase> cases = {
      {u"::", "00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00"},
      {u"::1", "00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 01"},
      {u"1::", "00 01 00 00 00 00 00 00 00 00 00 00 00 00 00 00"},
      {u"fe80::1:2", "FE 80 00 00 00 00 00 00 00 00 00 00 00 01 00 02"},
      {u"1:2:3:4:5:6:7:8", "00 01 00 02 00 03 00 04 00 05 00 06 00 07 00 08"},
      {u"2001:DB8:0:0:8:800:200C:417A", "20 01 0D B8 00 00 00 00 00 08 08 00 20 0C 41 7A"},
      {u"1:2:3:4:5:6:7", ""},
      {u"1:2:3:4::5:6:7:8", ""},
      {u"1:2:3:4:5:6:7::", "00 01 00 02 00 03 00 04 00 05 00 06 00 07 00 00"},
      {u"00001::", ""},
      {u"0001::", "00 01 00 00 00 00 00 00 00 00 00 00 00 00 00 00"},
      {u"0x12::", "00 12 00 00 00 00 00 00 00 00 00 00 00 00 00 00"},
      {u":1", ""},
      {u"1:2:3:4:5:6:7:", ""},
      // After eight groups a trailing ":" is ignored.
      {u"1:2:3:4:5:6:7:8:", "00 01 00 02 00 03 00 04 00 05 00 06 00 07 00 08"},
      {u"::/64", "00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00"},
      {u"1::/128", "00 01 00 00 00 00 00 00 00 00 00 00 00 00 00 00"},
      {u"::/129", ""},
      {u"::/", ""},
      {u"::/x", ""},
      {u"1:2:3:4:5:6:7:8/64", "00 01 00 02 00 03 00 04 00 05 00 06 00 07 00 08"},
      {u"1:2:3:4:5:6:7:8/64:", "00 01 00 02 00 03 00 04 00 05 00 06 00 07 00 08"},
      {u"1::2::3", ""},
      // A third ":" right after a double colon ends the address.
      {u"1:::2", "00 01 00 00 00 00 00 00 00 00 00 00 00 00 00 00"},
      {u"1::2 rest", "00 01 00 00 00 00 00 00 00 00 00 00 00 00 00 02"},
      {u"", ""},
      {u"g::", ""},
      {u"1:g", ""},
  };
  for (const auto &c : cases) {
    EFI_IPv6_ADDRESS address;
    std::memset(&address, 0xEE, sizeof(address));
    const EFI_STATUS status = ParseIpv6Text(c.text.c_str(), &address);
    const std::string text(c.text.begin(), c.text.end());
    if (c.bytes.empty()) {
      EXPECT_EQ(status, EFI_UNSUPPORTED) << text;
      EXPECT_EQ(Bytes(address.Addr, address.Addr + 16), Bytes(16, 0xEE)) << text;
    } else {
      EXPECT_EQ(status, EFI_SUCCESS) << text;
      EXPECT_EQ(ToHex(Bytes(address.Addr, address.Addr + 16)), c.bytes) << text;
    }
  }
  EFI_IPv6_ADDRESS address;
  EXPECT_EQ(ParseIpv6Text(nullptr, &address), EFI_INVALID_PARAMETER);
  EXPECT_EQ(ParseIpv6Text(u"::", nullptr), EFI_INVALID_PARAMETER);
}

}  // namespace
}  // namespace devpath_test
