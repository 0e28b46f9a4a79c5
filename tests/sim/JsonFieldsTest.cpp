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
  const nlohmann::json value = nlohmann::json::parse(c.json);
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

}  // namespace
