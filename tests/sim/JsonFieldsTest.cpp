// Numbers in platform descriptions and on the command line: decimal, or
// hexadecimal after 0x, whole, in range; never octal.
#include <gtest/gtest.h>

#include <cstdint>
#include <nlohmann/json.hpp>
#include <optional>
#include <string>

#include "host/sim/JsonFields.h"
#include "host/sim/Platform.h"

namespace {

struct TextCase {
  std::string text;
  uint64_t max;
  std::optional<uint64_t> value;  // none: refused
};

class ParseUnsignedTextTest : public ::testing::TestWithParam<TextCase> {};

TEST_P(ParseUnsignedTextTest, ReadsDecimalAndHexOnly) {
  const TextCase &c = GetParam();
  uint64_t value = 12345;
  const bool parsed = sim::ParseUnsignedText(c.text, c.max, value);
  ASSERT_EQ(parsed, c.value.has_value()) << '"' << c.text << '"';
  if (parsed) {
    EXPECT_EQ(value, *c.value) << '"' << c.text << '"';
  } else {
    EXPECT_EQ(value, 12345u) << "a refused text leaves the output alone";
  }
}

INSTANTIATE_TEST_SUITE_P(
    Texts, ParseUnsignedTextTest,
    ::testing::Values(TextCase{"0", 0xFF, 0}, TextCase{"512", 0xFFFF, 512},
                      // A leading zero is decimal, not octal.
                      TextCase{"0512", 0xFFFF, 512}, TextCase{"0777", 0xFFFF, 777}, TextCase{"08", 0xFF, 8},
                      TextCase{"0625", 0xFFFF, 625}, TextCase{"0x1F", 0xFF, 0x1F}, TextCase{"0X1f", 0xFF, 0x1F},
                      TextCase{"0x0000FF", 0xFF, 0xFF}, TextCase{"255", 0xFF, 0xFF}, TextCase{"256", 0xFF, std::nullopt},
                      TextCase{"0x100", 0xFF, std::nullopt}, TextCase{"4294967295", 0xFFFFFFFF, 0xFFFFFFFF},
                      TextCase{"4294967296", 0xFFFFFFFF, std::nullopt},
                      TextCase{"18446744073709551615", UINT64_MAX, UINT64_MAX},
                      TextCase{"18446744073709551616", UINT64_MAX, std::nullopt},
                      TextCase{"0xFFFFFFFFFFFFFFFF", UINT64_MAX, UINT64_MAX},
                      TextCase{"0x10000000000000000", UINT64_MAX, std::nullopt}, TextCase{"", 0xFF, std::nullopt},
                      TextCase{"0x", 0xFF, std::nullopt}, TextCase{"-1", 0xFF, std::nullopt},
                      TextCase{"+1", 0xFF, std::nullopt}, TextCase{" 1", 0xFF, std::nullopt},
                      TextCase{"1 ", 0xFF, std::nullopt}, TextCase{"1e2", 0xFFFF, std::nullopt},
                      TextCase{"0x1G", 0xFF, std::nullopt}, TextCase{"12ab", 0xFFFF, std::nullopt},
                      TextCase{"0b101", 0xFF, std::nullopt}));

struct JsonCase {
  std::string json;
  uint64_t max;
  std::optional<uint64_t> value;
  std::string error;  // the message after "field: " when refused
};

class ReadUnsignedFieldTest : public ::testing::TestWithParam<JsonCase> {};

TEST_P(ReadUnsignedFieldTest, AcceptsWholeNumbersInRange) {
  const JsonCase &c = GetParam();
  // As a platform description holds it: numbers other than plain digits
  // kept as their text.
  const nlohmann::json value = sim::ParseJsonDocument(c.json);
  if (c.value) {
    EXPECT_EQ(sim::ReadUnsignedField(value, "field", c.max), *c.value) << c.json;
    return;
  }
  try {
    sim::ReadUnsignedField(value, "field", c.max);
    ADD_FAILURE() << c.json << " was accepted";
  } catch (const sim::PlatformError &error) {
    EXPECT_EQ(std::string(error.what()), "field: " + c.error) << c.json;
  }
}

INSTANTIATE_TEST_SUITE_P(
    Values, ReadUnsignedFieldTest,
    ::testing::Values(JsonCase{"512", 0xFFFF, 512, ""}, JsonCase{"512.0", 0xFFFF, 512, ""},
                      JsonCase{"5e2", 0xFFFF, 500, ""}, JsonCase{"\"0512\"", 0xFFFF, 512, ""},
                      JsonCase{"\"0x200\"", 0xFFFF, 0x200, ""}, JsonCase{"18446744073709551615", UINT64_MAX, UINT64_MAX, ""},
                      JsonCase{"65535", 0xFFFF, 0xFFFF, ""},
                      JsonCase{"65536", 0xFFFF, std::nullopt, "out of range (at most 0xFFFF)"},
                      JsonCase{"65536.0", 0xFFFF, std::nullopt, "out of range (at most 0xFFFF)"},
                      JsonCase{"1e300", 0xFFFFFFFF, std::nullopt, "out of range (at most 0xFFFFFFFF)"},
                      JsonCase{"18446744073709551616", UINT64_MAX, std::nullopt,
                               "out of range (at most 0xFFFFFFFFFFFFFFFF)"},
                      JsonCase{"0.5", 0xFF, std::nullopt, "must be a whole number"},
                      JsonCase{"512.25", 0xFFFF, std::nullopt, "must be a whole number"},
                      JsonCase{"-1", 0xFF, std::nullopt, "must not be negative"},
                      JsonCase{"-1.5", 0xFF, std::nullopt, "must not be negative"},
                      JsonCase{"\"08x\"", 0xFF, std::nullopt, "not a number: \"08x\""},
                      JsonCase{"\"0x1FF\"", 0xFF, std::nullopt, "out of range (at most 0xFF)"},
                      JsonCase{"true", 0xFF, std::nullopt, "must be a number or a numeric text"},
                      JsonCase{"null", 0xFF, std::nullopt, "must be a number or a numeric text"}));

// Read exactly from the number's text, however many digits it has: no
// number is rounded on its way in, none is too large to be refused.
INSTANTIATE_TEST_SUITE_P(
    ExactValues, ReadUnsignedFieldTest,
    ::testing::Values(
        // Beyond 2^53, where a double would round.
        JsonCase{"9007199254740993", UINT64_MAX, 9007199254740993ULL, ""},
        JsonCase{"9007199254740993.0", UINT64_MAX, 9007199254740993ULL, ""},
        JsonCase{"9007199254740993e0", UINT64_MAX, 9007199254740993ULL, ""},
        JsonCase{"9007199254740993E+0", UINT64_MAX, 9007199254740993ULL, ""},
        JsonCase{"90071992547409930e-1", UINT64_MAX, 9007199254740993ULL, ""},
        JsonCase{"0.9007199254740993e16", UINT64_MAX, 9007199254740993ULL, ""},
        JsonCase{"9007199254740993.5", UINT64_MAX, std::nullopt, "must be a whole number"},
        JsonCase{"9007199254740993.0000000000000000000001", UINT64_MAX, std::nullopt, "must be a whole number"},
        JsonCase{"18446744073709551615.0", UINT64_MAX, UINT64_MAX, ""},
        JsonCase{"1.8446744073709551615e19", UINT64_MAX, UINT64_MAX, ""},
        JsonCase{"4294967295.000", 0xFFFFFFFF, 0xFFFFFFFF, ""},
        JsonCase{"0.00000000000000000000000000512e29", 0xFFFF, 512, ""},
        JsonCase{"512000000000000000000000000000e-27", 0xFFFF, 512, ""},
        JsonCase{"0.0", 0xFF, 0, ""}, JsonCase{"0e0", 0xFF, 0, ""}, JsonCase{"0E-7", 0xFF, 0, ""},
        JsonCase{"0e99999999999999999999999", 0xFF, 0, ""},
        JsonCase{"0.000e-99999999999999999999", 0xFF, 0, ""},
        // 2^64 and beyond, in every spelling.
        JsonCase{"18446744073709551616", UINT64_MAX, std::nullopt, "out of range (at most 0xFFFFFFFFFFFFFFFF)"},
        JsonCase{"18446744073709551616.0", UINT64_MAX, std::nullopt, "out of range (at most 0xFFFFFFFFFFFFFFFF)"},
        JsonCase{"1.8446744073709551616e19", UINT64_MAX, std::nullopt,
                 "out of range (at most 0xFFFFFFFFFFFFFFFF)"},
        JsonCase{"18446744073709551615.5", UINT64_MAX, std::nullopt, "out of range (at most 0xFFFFFFFFFFFFFFFF)"},
        JsonCase{"100000000000000000000", UINT64_MAX, std::nullopt, "out of range (at most 0xFFFFFFFFFFFFFFFF)"},
        JsonCase{"1e20", UINT64_MAX, std::nullopt, "out of range (at most 0xFFFFFFFFFFFFFFFF)"},
        JsonCase{"1e308", UINT64_MAX, std::nullopt, "out of range (at most 0xFFFFFFFFFFFFFFFF)"},
        JsonCase{"1e400", 0xFF, std::nullopt, "out of range (at most 0xFF)"},
        JsonCase{"1E400", 0xFF, std::nullopt, "out of range (at most 0xFF)"},
        JsonCase{"123.456e99999999999999999999", 0xFF, std::nullopt, "out of range (at most 0xFF)"},
        JsonCase{"1" + std::string(400, '0'), 0xFF, std::nullopt, "out of range (at most 0xFF)"},
        JsonCase{"255.5", 0xFF, std::nullopt, "out of range (at most 0xFF)"},
        JsonCase{"254.5", 0xFF, std::nullopt, "must be a whole number"},
        JsonCase{"1e-400", 0xFF, std::nullopt, "must be a whole number"},
        JsonCase{"5e-99999999999999999999", 0xFF, std::nullopt, "must be a whole number"},
        // A minus sign is refused on every number, zero included.
        JsonCase{"-0", 0xFF, std::nullopt, "must not be negative"},
        JsonCase{"-0.0", 0xFF, std::nullopt, "must not be negative"},
        JsonCase{"-0e0", 0xFF, std::nullopt, "must not be negative"},
        JsonCase{"-0E+5", 0xFF, std::nullopt, "must not be negative"},
        JsonCase{"-1e400", 0xFF, std::nullopt, "must not be negative"},
        JsonCase{"-1" + std::string(400, '0'), 0xFF, std::nullopt, "must not be negative"},
        JsonCase{"-9223372036854775809", 0xFF, std::nullopt, "must not be negative"}));

// What a document holds where a number was written: digits alone as an
// unsigned number, the rest as text (so that 1e400 does not stop the
// parser and 9007199254740993.0 keeps its last digit).
TEST(ParseJsonDocumentTest, KeepsNumbersOtherThanDigitsAsTheirText) {
  const nlohmann::json document =
      sim::ParseJsonDocument(R"({"a": 5, "b": [9007199254740993.0, -0, 1e400, -1e400, "5"], "c": {"d": 1.5}})");
  EXPECT_TRUE(document["a"].is_number_unsigned());
  EXPECT_TRUE(document["b"][4].is_string());
  auto text = [](const nlohmann::json &value) {
    EXPECT_TRUE(value.is_binary());
    return std::string(value.get_binary().begin(), value.get_binary().end());
  };
  EXPECT_EQ(text(document["b"][0]), "9007199254740993.0");
  EXPECT_EQ(text(document["b"][1]), "-0");
  EXPECT_EQ(text(document["b"][2]), "1e300") << "as far out of range, and the parser can hold it";
  EXPECT_EQ(text(document["b"][3]), "-1e300");
  EXPECT_EQ(text(document["c"]["d"]), "1.5");
}

}  // namespace
