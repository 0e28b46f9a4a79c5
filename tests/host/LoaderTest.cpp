// The loader refuses what is not a loadable driver image, with a clear
// one-line error and exit status 2 from boardinv, never a crash.
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstring>
#include <fstream>
#include <functional>
#include <iterator>
#include <string>
#include <vector>

#include "host/loader/PeImage.h"

namespace {

std::vector<uint8_t> BuiltImage() {
  std::ifstream in(BOARDINV_EFI_IMAGE, std::ios::binary);
  return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

uint32_t Le32(const std::vector<uint8_t> &bytes, size_t at) {
  uint32_t value;
  std::memcpy(&value, &bytes[at], 4);
  return value;
}

void Put32(std::vector<uint8_t> &bytes, size_t at, uint32_t value) { std::memcpy(&bytes[at], &value, 4); }

size_t PeOffset(const std::vector<uint8_t> &bytes) { return Le32(bytes, 0x3C); }
size_t SectionTable(const std::vector<uint8_t> &bytes) {
  const size_t pe = PeOffset(bytes);
  return pe + 24 + (bytes[pe + 20] | (bytes[pe + 21] << 8));
}

// The file offset of the first relocation block.
size_t FirstRelocationBlock(const std::vector<uint8_t> &bytes) {
  const size_t pe = PeOffset(bytes);
  const uint32_t rva = Le32(bytes, pe + 24 + 112 + 5 * 8);
  const size_t table = SectionTable(bytes);
  const unsigned count = bytes[pe + 6] | (bytes[pe + 7] << 8);
  for (unsigned i = 0; i < count; i++) {
    const size_t at = table + 40 * i;
    const uint32_t va = Le32(bytes, at + 12);
    if (rva >= va && rva < va + Le32(bytes, at + 16)) {
      return Le32(bytes, at + 20) + (rva - va);
    }
  }
  return 0;
}

struct Corruption {
  const char *what;
  std::function<void(std::vector<uint8_t> &)> apply;
  const char *message;
};

class CorruptImageTest : public ::testing::TestWithParam<Corruption> {};

TEST_P(CorruptImageTest, IsRefusedWithAClearErrorByTheLoaderAndTheTool) {
  std::vector<uint8_t> image = BuiltImage();
  ASSERT_GT(image.size(), 1024u) << "build the efi preset first";
  ASSERT_NO_THROW(loader::ParsePeImage(image)) << "the built image itself loads";
  GetParam().apply(image);
  try {
    loader::ParsePeImage(image);
    FAIL() << "accepted";
  } catch (const loader::ImageError &error) {
    EXPECT_NE(std::string(error.what()).find(GetParam().message), std::string::npos) << error.what();
  }

  const std::string path = testing::TempDir() + "corrupt." + std::to_string(getpid()) + ".efi";
  std::ofstream(path, std::ios::binary).write(reinterpret_cast<const char *>(image.data()),
                                               static_cast<std::streamsize>(image.size()));
  const std::string err = path + ".err";
  const int status = std::system((std::string(BOARDINV_TOOL) + " boot --efi " + path + " >/dev/null 2>" + err).c_str());
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 2);
  std::ifstream in(err);
  const std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  EXPECT_EQ(text.rfind("boardinv: ", 0), 0u) << text;
  EXPECT_EQ(text.find('\n'), text.size() - 1) << text;
  EXPECT_NE(text.find(GetParam().message), std::string::npos) << text;
}

INSTANTIATE_TEST_SUITE_P(
    Images, CorruptImageTest,
    ::testing::Values(
        Corruption{"cut in the section table",
                   [](std::vector<uint8_t> &b) { b.resize(SectionTable(b) + 40 + 20); },
                   "the file ends inside the section table"},
        Corruption{"relocation outside the image",
                   [](std::vector<uint8_t> &b) { Put32(b, FirstRelocationBlock(b), 0x7FFFF000); },
                   "points outside the image"},
        Corruption{"relocation block of bad size",
                   [](std::vector<uint8_t> &b) { Put32(b, FirstRelocationBlock(b) + 4, 3); },
                   "has a bad size"},
        Corruption{"wrong machine", [](std::vector<uint8_t> &b) { b[PeOffset(b) + 4] = 0x4C, b[PeOffset(b) + 5] = 0x01; },
                   "machine 0x14C is not AMD64"},
        Corruption{"application subsystem",
                   [](std::vector<uint8_t> &b) { b[PeOffset(b) + 24 + 68] = 10; },
                   "subsystem 10 is not an EFI boot-service driver"},
        Corruption{"PE32, not PE32+", [](std::vector<uint8_t> &b) { b[PeOffset(b) + 24] = 0x0B, b[PeOffset(b) + 25] = 0x01; },
                   "is not PE32+"},
        Corruption{"not an image", [](std::vector<uint8_t> &b) { b[0] = 'X'; }, "no MZ signature"},
        Corruption{"truncated header", [](std::vector<uint8_t> &b) { b.resize(0x30); }, "the file ends inside"},
        Corruption{"section past the end of the file",
                   [](std::vector<uint8_t> &b) { b.resize(b.size() - 100); }, "runs past the end of the file"},
        Corruption{"writable code",
                   [](std::vector<uint8_t> &b) { b[SectionTable(b) + 39] |= 0x80; }, "both writable and executable"}),
    [](const ::testing::TestParamInfo<Corruption> &info) {
      std::string name;
      for (const char *c = info.param.what; *c; c++) {
        name += std::isalnum(static_cast<unsigned char>(*c)) ? *c : '_';
      }
      return name;
    });

TEST(LoaderTest, MapsSectionsAndAppliesRelocations) {
  const loader::PeImage image = loader::ParsePeImage(BuiltImage());
  ASSERT_FALSE(image.dir64Relocations.empty());
  loader::MappedImage mapped(image);
  const uint64_t delta = reinterpret_cast<uint64_t>(mapped.Base()) - image.imageBase;
  for (uint32_t target : image.dir64Relocations) {
    uint64_t linked = 0;
    uint64_t moved = 0;
    for (const loader::Section &section : image.sections) {
      if (target >= section.virtualAddress && target + 8 <= section.virtualAddress + section.rawSize) {
        std::memcpy(&linked, &image.file[section.rawOffset + (target - section.virtualAddress)], 8);
      }
    }
    std::memcpy(&moved, mapped.At(target), 8);
    EXPECT_EQ(moved, linked + delta) << "relocation at " << target;
  }
}

}  // namespace
