// The host's formatters of numbers, bytes and text from input.
#include <gtest/gtest.h>

#include <string>

#include "host/sim/Text.h"

namespace {

struct EscapeCase {
  std::string text;
  std::string shown;
};

class EscapedTest : public ::testing::TestWithParam<EscapeCase> {};

TEST_P(EscapedTest, LeavesOnlyPrintableAscii) {
  const std::string shown = sim::Escaped(GetParam().text);
  EXPECT_EQ(shown, GetParam().shown);
  for (const char c : shown) {
    EXPECT_TRUE(c >= 0x20 && c < 0x7F) << "byte " << static_cast<int>(static_cast<unsigned char>(c));
  }
}

INSTANTIATE_TEST_SUITE_P(
    Texts, EscapedTest,
    ::testing::Values(EscapeCase{"kind 2 board (0x200)", "kind 2 board (0x200)"}, EscapeCase{"", ""},
                      EscapeCase{"a\nOutcome: forged", "a\\nOutcome: forged"}, EscapeCase{"\r\t", "\\r\\t"},
                      EscapeCase{"\x1B[31mred", "\\x1B[31mred"}, EscapeCase{std::string("a\0b", 3), "a\\x00b"},
                      EscapeCase{"\x7F", "\\x7F"}, EscapeCase{"caf\xC3\xA9", "caf\\xC3\\xA9"},
                      EscapeCase{"back\\slash ~", "back\\slash ~"},
                      // What a terminal takes for a control or reorders the
                      // line with: C1 controls (CSI, U+009B), a right-to-left
                      // override (U+202E); and text that is not UTF-8.
                      EscapeCase{"a\xC2\x9B" "2J", "a\\xC2\\x9B2J"}, EscapeCase{"\xC2\x85next", "\\xC2\\x85next"},
                      EscapeCase{"abc\xE2\x80\xAE" "fed", "abc\\xE2\\x80\\xAEfed"},
                      EscapeCase{"\xF0\x9F\x98\x80", "\\xF0\\x9F\\x98\\x80"}, EscapeCase{"\x9B", "\\x9B"},
                      EscapeCase{"\xFF\xFE", "\\xFF\\xFE"}, EscapeCase{"\xC3", "\\xC3"},
                      EscapeCase{"\xED\xA0\x80", "\\xED\\xA0\\x80"}, EscapeCase{"\x7F\x80", "\\x7F\\x80"},
                      EscapeCase{"\x01\x08\x0B\x0C\x1F", "\\x01\\x08\\x0B\\x0C\\x1F"}));

TEST(CountedTest, NounInTheRightNumber) {
  EXPECT_EQ(sim::Counted(0, "block", "blocks"), "0 blocks");
  EXPECT_EQ(sim::Counted(1, "block", "blocks"), "1 block");
  EXPECT_EQ(sim::Counted(2, "invalid free", "invalid frees"), "2 invalid frees");
  EXPECT_EQ(sim::Counted(18446744073709551615ull, "byte", "bytes"), "18446744073709551615 bytes");
}

TEST(HexTest, DigitsAreAMinimum) {
  EXPECT_EQ(sim::Hex(0x1F), "0x1F");
  EXPECT_EQ(sim::Hex(0x1F, 4), "0x001F");
  EXPECT_EQ(sim::Hex(0x12345, 2), "0x12345");
  EXPECT_EQ(sim::Hex(0xFFFFFFFFFFFFFFFFull), "0xFFFFFFFFFFFFFFFF");
}

}  // namespace
