// The debug print service reads what the driver hands it (the format, %a
// and %s texts, %g GUIDs) no further than the memory that holds it: the
// live pool block, the loaded driver image, or at most kDebugTextBound
// bytes. A text without its zero there is shown up to that point with a
// marker; well-formed texts are shown as they are.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "driver/firmware/Guids.h"
#include "host/sim/SimFirmware.h"

namespace {

using sim::SimFirmware;

// Calls the service with one pointer argument after the format.
void EFIAPI CallPrint(DEBUG_PRINT_SERVICE_PRINT print, const CHAR8 *format, ...) {
  VA_LIST marker;
  VA_START(marker, format);
  print(0x40, format, marker);
  VA_END(marker);
}

DEBUG_PRINT_SERVICE_PRINT PrintOf(SimFirmware &fw) {
  void *interface = nullptr;
  EXPECT_EQ(fw.SystemTable()->BootServices->LocateProtocol(&gDebugPrintServiceGuid, nullptr, &interface),
            EFI_SUCCESS);
  return static_cast<DEBUG_PRINT_SERVICE *>(interface)->Print;
}

// Where a case puts its bytes.
enum class Place {
  kPool,   // a pool block of exactly these bytes
  kImage,  // a buffer made the driver's image, the bytes at its end
  kHeap,   // this program's heap, outside everything the service knows
};

struct FormatCase {
  const char *name;
  Place place;
  std::vector<uint8_t> bytes;  // the argument's (or, with format null, the format's) bytes
  const char *format;          // null: the bytes are the format
  size_t offset;               // the pointer handed: this far into the bytes
  std::string formatSeen;     // the message's format as kept
  std::string text;            // the message's text
};

std::vector<uint8_t> Bytes(const std::string &text) { return {text.begin(), text.end()}; }

std::vector<uint8_t> Wide(const std::u16string &text) {
  std::vector<uint8_t> bytes(text.size() * 2);
  std::memcpy(bytes.data(), text.data(), bytes.size());
  return bytes;
}

class DebugPrintFormatTest : public ::testing::TestWithParam<FormatCase> {};

TEST_P(DebugPrintFormatTest, ReadsNoFurtherThanWhatHoldsIt) {
  const FormatCase &c = GetParam();
  sim::Platform platform = sim::DefaultPlatform();
  platform.protocols.debugPrint = true;
  SimFirmware fw(platform);
  std::vector<uint8_t> image;
  const uint8_t *at = nullptr;
  void *block = nullptr;
  switch (c.place) {
    case Place::kPool:
      ASSERT_EQ(fw.SystemTable()->BootServices->AllocatePool(EfiBootServicesData, c.bytes.size(), &block),
                EFI_SUCCESS);
      std::memcpy(block, c.bytes.data(), c.bytes.size());
      at = static_cast<const uint8_t *>(block);
      break;
    case Place::kImage:
      image.assign(64, 'i');
      image.insert(image.end(), c.bytes.begin(), c.bytes.end());
      fw.DebugPrint().SetDriverImage(image.data(), image.size());
      at = image.data() + 64;
      break;
    case Place::kHeap:
      image = c.bytes;
      at = image.data();
      break;
  }
  const auto *pointer = reinterpret_cast<const CHAR8 *>(at + c.offset);
  if (c.format == nullptr) {
    CallPrint(PrintOf(fw), pointer, 5);
  } else {
    CallPrint(PrintOf(fw), c.format, pointer);
  }
  ASSERT_EQ(fw.DebugPrint().Messages().size(), 1u);
  const sim::DebugMessage &message = fw.DebugPrint().Messages()[0];
  EXPECT_EQ(message.format, c.formatSeen);
  EXPECT_EQ(message.text, c.text);
  if (block != nullptr) {
    EXPECT_EQ(fw.SystemTable()->BootServices->FreePool(block), EFI_SUCCESS);
  }
  EXPECT_TRUE(fw.Pool().Statistics().damagedBlocks.empty());
}

const std::string kPastBlock = "<no NUL before the end of its pool block>";
const std::string kManyAs(sim::kDebugTextBound + 100, 'A');

INSTANTIATE_TEST_SUITE_P(
    Texts, DebugPrintFormatTest,
    ::testing::Values(
        FormatCase{"a_text_ended_in_its_block", Place::kPool, Bytes(std::string("abc\0", 4)), "[%a]", 0, "[%a]",
                   "[abc]"},
        FormatCase{"a_text_without_nul_at_the_end_of_its_block", Place::kPool, Bytes("abc"), "[%a]", 0, "[%a]",
                   "[abc" + kPastBlock + "]"},
        FormatCase{"a_text_at_the_end_of_its_block", Place::kPool, Bytes("abc"), "[%a]", 3, "[%a]",
                   "[" + kPastBlock + "]"},
        FormatCase{"a_precision_cuts_the_text_not_the_marker", Place::kPool, Bytes("abc"), "[%.2a]", 0, "[%.2a]",
                   "[ab" + kPastBlock + "]"},
        FormatCase{"s_text_ended_in_its_block", Place::kPool, Wide(std::u16string(u"w\u00e9\0", 3)), "[%s]", 0,
                   "[%s]", "[w?]"},
        FormatCase{"s_text_without_nul_at_the_end_of_its_block", Place::kPool, Wide(u"wide"), "[%s]", 0, "[%s]",
                   "[wide" + kPastBlock + "]"},
        FormatCase{"s_text_with_half_a_character_left", Place::kPool, Bytes("abc"), "[%s]", 0, "[%s]",
                   "[?" + kPastBlock + "]"},
        FormatCase{"format_without_nul_at_the_end_of_its_block", Place::kPool, Bytes("x=%d"), nullptr, 0,
                   "x=%d" + kPastBlock, "x=5" + kPastBlock},
        FormatCase{"guid_past_the_end_of_its_block", Place::kPool, std::vector<uint8_t>(15, 0xAB), "%g", 0, "%g",
                   "<GUID past the end of its pool block>"},
        FormatCase{"guid_in_its_block", Place::kPool, std::vector<uint8_t>(16, 0x11), "%g", 0, "%g",
                   "11111111-1111-1111-1111-111111111111"},
        FormatCase{"a_text_without_nul_at_the_end_of_the_image", Place::kImage, Bytes("tail"), "%a", 0, "%a",
                   "tail<no NUL before the end of the driver's image>"},
        FormatCase{"format_ended_in_the_image", Place::kImage, Bytes(std::string("n=%d\0", 5)), nullptr, 0, "n=%d",
                   "n=5"},
        FormatCase{"a_text_elsewhere_is_read_up_to_the_bound", Place::kHeap, Bytes(kManyAs), "%a", 0, "%a",
                   kManyAs.substr(0, sim::kDebugTextBound) + "<no NUL before the end of the " +
                       std::to_string(sim::kDebugTextBound) + " bytes read>"}),
    [](const ::testing::TestParamInfo<FormatCase> &info) { return std::string(info.param.name); });

// The driver's own texts in this program's data are read to their zero.
TEST(DebugPrintFormatTest, StaticTextsOfTheProgramAreShownWhole) {
  sim::Platform platform = sim::DefaultPlatform();
  platform.protocols.debugPrint = true;
  SimFirmware fw(platform);
  static const char kName[] = "PlatformConfigSnapshotConstructor";
  CallPrint(PrintOf(fw), "[%a] done\n", kName);
  ASSERT_EQ(fw.DebugPrint().Messages().size(), 1u);
  EXPECT_EQ(fw.DebugPrint().Messages()[0].format, "[%a] done\n");
  EXPECT_EQ(fw.DebugPrint().Messages()[0].text, "[PlatformConfigSnapshotConstructor] done\n");
}

}  // namespace
