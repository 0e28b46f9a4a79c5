// The loader refuses what is not a loadable driver image, with a clear
// one-line error and exit status 2 from boardinv, never a crash.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <functional>
#include <iterator>
#include <map>
#include <sstream>
#include <stdexcept>
#include <tuple>
#include <nlohmann/json.hpp>
#include <string>
#include <utility>
#include <vector>

#include "host/loader/PeImage.h"
#include "driver/inventory/Inventory.h"
#include "driver/platform/PlatformServices.h"

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
void Put64(std::vector<uint8_t> &bytes, size_t at, uint64_t value) { std::memcpy(&bytes[at], &value, 8); }

size_t PeOffset(const std::vector<uint8_t> &bytes) { return Le32(bytes, 0x3C); }
size_t OptionalHeader(const std::vector<uint8_t> &bytes) { return PeOffset(bytes) + 24; }
size_t SectionTable(const std::vector<uint8_t> &bytes) {
  const size_t pe = PeOffset(bytes);
  return pe + 24 + (bytes[pe + 20] | (bytes[pe + 21] << 8));
}
size_t SectionTableEnd(const std::vector<uint8_t> &bytes) {
  const size_t pe = PeOffset(bytes);
  return SectionTable(bytes) + 40 * (bytes[pe + 6] | (bytes[pe + 7] << 8));
}

// The offset of a section's entry in the section table.
size_t SectionEntry(const std::vector<uint8_t> &bytes, const char *name) {
  for (size_t at = SectionTable(bytes); at < SectionTableEnd(bytes); at += 40) {
    if (std::strncmp(reinterpret_cast<const char *>(&bytes[at]), name, 8) == 0) {
      return at;
    }
  }
  ADD_FAILURE() << "no section " << name;
  return 0;
}
// Fields of a section entry and of the optional header.
constexpr size_t kVirtualSize = 8, kVirtualAddress = 12, kRawSize = 16, kRawOffset = 20, kCharacteristics = 36;
constexpr size_t kEntryPoint = 16, kImageBase = 24, kFileAlignment = 36, kSizeOfHeaders = 60;
constexpr size_t kRelocationDirectory = 112 + 5 * 8;

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
                   [](std::vector<uint8_t> &b) { b[SectionTable(b) + 39] |= 0x80; }, "both writable and executable"},
        Corruption{"ImageBase in the top page",
                   [](std::vector<uint8_t> &b) { Put64(b, OptionalHeader(b) + kImageBase, 0xFFFFFFFFFFFFF000); },
                   "ImageBase 0xFFFFFFFFFFFFF000 is not a multiple of 64 KiB"},
        Corruption{"ImageBase 0x1000",
                   [](std::vector<uint8_t> &b) { Put64(b, OptionalHeader(b) + kImageBase, 0x1000); },
                   "ImageBase 0x1000 is not a multiple of 64 KiB"},
        Corruption{"ImageBase not canonical",
                   [](std::vector<uint8_t> &b) { Put64(b, OptionalHeader(b) + kImageBase, 0x0000800000000000); },
                   "ImageBase 0x800000000000 is not a canonical address"},
        Corruption{"ImageBase in the upper half",
                   [](std::vector<uint8_t> &b) { Put64(b, OptionalHeader(b) + kImageBase, 0xFFFF800000000000); },
                   "ImageBase 0xFFFF800000000000 with SizeOfImage 0x9000 does not lie in the lower half"},
        Corruption{"file alignment below 512",
                   [](std::vector<uint8_t> &b) { Put32(b, OptionalHeader(b) + kFileAlignment, 0x100); },
                   "file alignment 0x100 is not a power of two from 0x200 to 0x10000"},
        Corruption{"file alignment above the section alignment",
                   [](std::vector<uint8_t> &b) { Put32(b, OptionalHeader(b) + kFileAlignment, 0x2000); },
                   "file alignment 0x2000 is not a power of two from 0x200 to 0x10000 and at most the section "
                   "alignment (0x1000)"},
        Corruption{"section table outside the headers",
                   [](std::vector<uint8_t> &b) { Put32(b, OptionalHeader(b) + kSizeOfHeaders, 0x180); },
                   "the section table (0x148 to 0x1E8) does not lie inside the headers (0x180 bytes)"},
        Corruption{"code raw data at offset 0",
                   [](std::vector<uint8_t> &b) { Put32(b, SectionEntry(b, ".text") + kRawOffset, 0); },
                   "section .text: raw data of 0x3600 bytes at 0x0 has no file offset"},
        Corruption{"one section, cut in the section table",
                   [](std::vector<uint8_t> &b) {
                     b[PeOffset(b) + 6] = 1, b[PeOffset(b) + 7] = 0;
                     b.resize(SectionTable(b) + 20);
                   },
                   "the file ends inside the section table (1 section at 0x148, file of 348 bytes)"},
        Corruption{"code of one raw byte at offset 1",
                   [](std::vector<uint8_t> &b) {
                     Put32(b, SectionEntry(b, ".text") + kRawSize, 1);
                     Put32(b, SectionEntry(b, ".text") + kRawOffset, 1);
                   },
                   "section .text: raw data of 0x1 byte at 0x1 is not at a multiple of the file alignment 0x200"},
        Corruption{"code raw data at offset 1",
                   [](std::vector<uint8_t> &b) { Put32(b, SectionEntry(b, ".text") + kRawOffset, 1); },
                   "section .text: raw data of 0x3600 bytes at 0x1 is not at a multiple of the file alignment 0x200"},
        Corruption{"read-only data raw data not aligned",
                   [](std::vector<uint8_t> &b) { Put32(b, SectionEntry(b, ".rdata") + kRawOffset, 0x3810); },
                   "section .rdata: raw data of 0x1400 bytes at 0x3810 is not at a multiple of the file alignment"},
        Corruption{"code raw data inside the headers",
                   [](std::vector<uint8_t> &b) {
                     Put32(b, OptionalHeader(b) + kSizeOfHeaders, 0x400);
                     Put32(b, SectionEntry(b, ".text") + kRawOffset, 0x200);
                   },
                   "section .text: raw data of 0x3600 bytes at 0x200 overlaps the headers (0x400 bytes)"},
        Corruption{"read-only data of VirtualSize 1",
                   [](std::vector<uint8_t> &b) { Put32(b, SectionEntry(b, ".rdata") + kVirtualSize, 1); },
                   "(block at RVA 0x8000) does not lie inside a section's raw data"},
        Corruption{"read-only data without raw data",
                   [](std::vector<uint8_t> &b) { Put32(b, SectionEntry(b, ".rdata") + kRawSize, 0); },
                   "(block at RVA 0x8000) does not lie inside a section's raw data"},
        Corruption{"read-only data of one raw byte",
                   [](std::vector<uint8_t> &b) { Put32(b, SectionEntry(b, ".rdata") + kRawSize, 1); },
                   "(block at RVA 0x8000) does not lie inside a section's raw data"},
        Corruption{"read-only data without access",
                   [](std::vector<uint8_t> &b) { Put32(b, SectionEntry(b, ".rdata") + kCharacteristics, 0); },
                   "section .rdata is not readable (characteristics 0x0 without MEM_READ 0x40000000)"},
        Corruption{"relocation block page not 4 KiB-aligned",
                   [](std::vector<uint8_t> &b) { Put32(b, FirstRelocationBlock(b), 0x10); },
                   "relocation block at RVA 0x8000 has page RVA 0x10, not 4 KiB-aligned"},
        Corruption{"relocation into the headers",
                   [](std::vector<uint8_t> &b) { Put32(b, FirstRelocationBlock(b), 0); },
                   "(block at RVA 0x8000) does not lie inside a section's raw data"},
        Corruption{"relocation directory into the zero-filled tail",
                   [](std::vector<uint8_t> &b) { Put32(b, OptionalHeader(b) + kRelocationDirectory + 4, 0x2A0); },
                   "the relocation directory (0x2A0 bytes at RVA 0x8000) does not lie inside a section's raw data"},
        Corruption{"no relocation directory",
                   [](std::vector<uint8_t> &b) { Put64(b, OptionalHeader(b) + kRelocationDirectory, 0); },
                   "no base relocations and ImageBase 0x0 cannot be had"},
        Corruption{"entry point past the code's raw data",
                   [](std::vector<uint8_t> &b) {
                     const size_t text = SectionEntry(b, ".text");
                     Put32(b, OptionalHeader(b) + kEntryPoint,
                           Le32(b, text + kVirtualAddress) + std::min(Le32(b, text + kVirtualSize), Le32(b, text + kRawSize)));
                   },
                   "is not inside an executable section's raw data"}),
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

// Without relocations an image runs at its ImageBase or nowhere: a free
// base is taken as it is, a taken one is refused.
TEST(LoaderTest, ImageWithoutRelocationsIsMappedAtItsBaseOrRefused) {
  std::vector<uint8_t> bytes = BuiltImage();
  ASSERT_GT(bytes.size(), 1024u) << "build the efi preset first";
  Put64(bytes, OptionalHeader(bytes) + kRelocationDirectory, 0);
  const size_t size = Le32(bytes, OptionalHeader(bytes) + 56);

  // An address that is free now: mapped once to find it, then given back.
  void *probe = mmap(nullptr, size + (64 << 10), PROT_NONE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
  ASSERT_NE(probe, MAP_FAILED);
  const uint64_t base = (reinterpret_cast<uint64_t>(probe) + 0xFFFF) & ~uint64_t{0xFFFF};
  munmap(probe, size + (64 << 10));
  Put64(bytes, OptionalHeader(bytes) + kImageBase, base);
  const loader::PeImage image = loader::ParsePeImage(bytes);
  EXPECT_FALSE(image.hasRelocations);
  {
    loader::MappedImage mapped(image);
    EXPECT_EQ(reinterpret_cast<uint64_t>(mapped.Base()), base);
    EXPECT_EQ(std::memcmp(mapped.At(image.entryPoint), &image.file[image.sections[0].rawOffset + image.entryPoint -
                                                                     image.sections[0].virtualAddress],
                          16),
              0);
    // Now the base is taken.
    try {
      loader::MappedImage again(image);
      FAIL() << "mapped twice at " << std::hex << base;
    } catch (const loader::ImageError &error) {
      char expected[96];
      std::snprintf(expected, sizeof(expected), "no base relocations and ImageBase 0x%llX is not free",
                    static_cast<unsigned long long>(base));
      EXPECT_STREQ(error.what(), expected);
    }
  }
}

// What a run of boardinv came to: the raw wait status and what it wrote.
struct ToolRun {
  int status;
  std::string out;
  std::string err;
};

std::string Slurp(const std::string &path) {
  std::ifstream in(path, std::ios::binary);
  return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

ToolRun RunTool(const std::vector<std::string> &arguments) {
  const std::string stem = testing::TempDir() + "loader-run." + std::to_string(getpid());
  const pid_t child = fork();
  if (child == 0) {
    const int out = open((stem + ".out").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    const int err = open((stem + ".err").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    if (out < 0 || err < 0 || dup2(out, 1) < 0 || dup2(err, 2) < 0) {
      _exit(126);
    }
    std::vector<char *> argv = {const_cast<char *>(BOARDINV_TOOL)};
    for (const std::string &argument : arguments) {
      argv.push_back(const_cast<char *>(argument.c_str()));
    }
    argv.push_back(nullptr);
    execv(BOARDINV_TOOL, argv.data());
    _exit(127);
  }
  int status = 0;
  waitpid(child, &status, 0);
  ToolRun run{status, Slurp(stem + ".out"), Slurp(stem + ".err")};
  std::remove((stem + ".out").c_str());
  std::remove((stem + ".err").c_str());
  return run;
}

// A directory of this process's own holding a copy of the image and its
// map, as the link leaves them.
struct ImageCopy {
  std::string directory = testing::TempDir() + "loader-image." + std::to_string(getpid());
  std::string image = directory + "/BoardInventory.efi";
  std::string map = directory + "/BoardInventory.map";

  ImageCopy() { mkdir(directory.c_str(), 0755); }
  ~ImageCopy() {
    std::remove(image.c_str());
    std::remove(map.c_str());
    rmdir(directory.c_str());
  }
  void Write(const std::vector<uint8_t> &bytes) const {
    std::ofstream(image, std::ios::binary | std::ios::trunc)
        .write(reinterpret_cast<const char *>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
  }
  void WriteMap(const std::string &text) const { std::ofstream(map, std::ios::trunc) << text; }
};

std::string BuiltMap() {
  std::string path = BOARDINV_EFI_IMAGE;
  path.replace(path.size() - 4, 4, ".map");
  return Slurp(path);
}

// The checked lookup finds code in code and data in writable data, and
// refuses a symbol of the other kind, a prefix that names two symbols and
// a name the map lacks.
TEST(LoaderTest, FindSymbolInChecksTheKindOfSection) {
  const loader::PeImage image = loader::ParsePeImage(BuiltImage());
  std::string mapPath = BOARDINV_EFI_IMAGE;
  mapPath.replace(mapPath.size() - 4, 4, ".map");
  const std::map<std::string, uint32_t> symbols = loader::ReadSymbolMap(mapPath);
  using loader::SymbolKind;
  struct Lookup {
    const char *prefix;
    SymbolKind kind;
    uint32_t size;
    const char *refusal;  // null: found
  };
  const Lookup lookups[] = {
      {"?ConvertTextToDevicePath@@", SymbolKind::Code, 1, nullptr},
      {"?ConvertTextToDeviceNode@@", SymbolKind::Code, 1, nullptr},
      {"?GetDevicePathSize@@", SymbolKind::Code, 1, nullptr},
      {"?GetDevicePathSizeWithin@@", SymbolKind::Code, 1, nullptr},
      {"?gBootServices@@", SymbolKind::Data, 8, nullptr},
      {"?gSystemTable@@", SymbolKind::Data, 8, nullptr},
      {"?gBootServices@@", SymbolKind::Code, 8, "does not lie inside the raw data of an executable section"},
      {"?GetDevicePathSize@@", SymbolKind::Data, 1, "does not lie inside a writable, not executable section"},
      {"?gEfiHobListGuid@@", SymbolKind::Data, 16, "does not lie inside a writable, not executable section"},
      {"?ConvertTextToDevice", SymbolKind::Code, 1, "more than one symbol begins with ?ConvertTextToDevice"},
      {"?NoSuchFunction@@", SymbolKind::Code, 1, "no symbol ?NoSuchFunction@@..."},
  };
  for (const Lookup &lookup : lookups) {
    SCOPED_TRACE(lookup.prefix);
    if (lookup.refusal == nullptr) {
      const uint32_t rva = loader::FindSymbolIn(image, symbols, lookup.prefix, lookup.kind, lookup.size, mapPath);
      EXPECT_EQ(rva, loader::FindSymbol(symbols, lookup.prefix, mapPath));
      continue;
    }
    try {
      loader::FindSymbolIn(image, symbols, lookup.prefix, lookup.kind, lookup.size, mapPath);
      ADD_FAILURE() << "found";
    } catch (const loader::ImageError &error) {
      EXPECT_EQ(std::string(error.what()).rfind(mapPath + ": ", 0), 0u) << error.what();
      EXPECT_NE(std::string(error.what()).find(lookup.refusal), std::string::npos) << error.what();
    }
  }
}

// The image linked for another base and stripped of its relocations (its
// 64-bit fields moved in the file, the directory removed) runs where it
// was linked to, and reports as the driver linked into the tool does.
TEST(LoaderTest, ImageWithoutRelocationsBootsAtItsImageBase) {
#if defined(__SANITIZE_ADDRESS__)
  GTEST_SKIP() << "the loaded image does not run under the sanitizers";
#else
  std::vector<uint8_t> bytes = BuiltImage();
  ASSERT_GT(bytes.size(), 1024u) << "build the efi preset first";
  const loader::PeImage image = loader::ParsePeImage(bytes);
  ASSERT_EQ(image.imageBase, 0u);
  constexpr uint64_t kBase = uint64_t{1} << 32;  // above the hardware windows, below a program's own mappings
  for (uint32_t target : image.dir64Relocations) {
    for (const loader::Section &section : image.sections) {
      if (target >= section.virtualAddress && target + 8 <= section.virtualAddress + section.InitialisedSize()) {
        const size_t at = section.rawOffset + (target - section.virtualAddress);
        uint64_t value;
        std::memcpy(&value, &bytes[at], 8);
        Put64(bytes, at, value + kBase);
      }
    }
  }
  Put64(bytes, OptionalHeader(bytes) + kImageBase, kBase);
  Put64(bytes, OptionalHeader(bytes) + kRelocationDirectory, 0);
  const ImageCopy copy;
  copy.Write(bytes);
  copy.WriteMap(BuiltMap());
  const ToolRun loaded = RunTool({"boot", "--efi", copy.image, "--format", "json"});
  ASSERT_TRUE(WIFEXITED(loaded.status)) << loaded.err;
  ASSERT_EQ(WEXITSTATUS(loaded.status), 0) << loaded.err;
  const ToolRun linked = RunTool({"boot", "--format", "json"});
  ASSERT_EQ(WEXITSTATUS(linked.status), 0) << linked.err;
  EXPECT_EQ(loaded.out, linked.out);
#endif
}

// Whether two images load alike: every field the loader acts on is equal.
bool LoadsAlike(const loader::PeImage &a, const loader::PeImage &b) {
  auto fields = [](const loader::PeImage &image) {
    return std::tie(image.imageBase, image.sizeOfImage, image.sizeOfHeaders, image.sectionAlignment,
                    image.fileAlignment, image.entryPoint, image.hasRelocations, image.dir64Relocations);
  };
  auto section = [](const loader::Section &s) {
    return std::tie(s.name, s.virtualAddress, s.virtualSize, s.rawOffset, s.rawSize, s.characteristics);
  };
  return fields(a) == fields(b) && std::equal(a.sections.begin(), a.sections.end(), b.sections.begin(),
                                              b.sections.end(), [&](const loader::Section &x, const loader::Section &y) {
                                                return section(x) == section(y);
                                              });
}

// Whatever single byte of the headers is damaged, boardinv either boots
// the image or refuses it with one line; a corrupted image never kills it.
// Every header byte up to the end of the section table is flipped, and a
// fixed pseudo-random set of other damage to the same bytes is tried.
TEST(LoaderSweepTest, DamagedHeaderBytesNeverKillTheTool) {
  const std::vector<uint8_t> built = BuiltImage();
  ASSERT_GT(built.size(), 1024u) << "build the efi preset first";
  std::vector<std::pair<size_t, uint8_t>> damage;
  for (size_t at = 0; at < SectionTableEnd(built); at++) {
    if (at < 0x40 || at >= PeOffset(built)) {  // the DOS stub's program is never read
      damage.push_back({at, 0xFF});
    }
  }
  uint32_t state = 0x2545F491;
  for (int i = 0; i < 150; i++) {
    state = state * 1664525 + 1013904223;
    const size_t at = PeOffset(built) + (state >> 8) % (SectionTableEnd(built) - PeOffset(built));
    damage.push_back({at, static_cast<uint8_t>(1 + (state >> 24) % 255)});
  }

  // In this process: every parse ends in an image or an ImageError, and
  // an accepted image maps (the sanitizers watch the parser's reads). Damage
  // the loader reads past (a field it does not use) leaves an image loaded
  // exactly as the built one, which boots as the built one does: of those,
  // only a sample goes to the tool below.
  const loader::PeImage original = loader::ParsePeImage(built);
  std::vector<std::pair<size_t, uint8_t>> toBoot;
  int unchanged = 0;
  for (const auto &[at, mask] : damage) {
    std::vector<uint8_t> bytes = built;
    bytes[at] ^= mask;
    try {
      const loader::PeImage image = loader::ParsePeImage(bytes);
      if (image.hasRelocations) {
        loader::MappedImage mapped(image);
      }
      if (LoadsAlike(image, original) && unchanged++ % 16 != 0) {
        continue;
      }
    } catch (const loader::ImageError &) {
    }
    toBoot.push_back({at, mask});
  }
  EXPECT_GT(unchanged, 0);
#if defined(__SANITIZE_ADDRESS__)
  GTEST_SKIP() << "the loaded image does not run under the sanitizers; the parses above ran";
#else
  const ImageCopy copy;
  copy.WriteMap(BuiltMap());
  int booted = 0;
  int refused = 0;
  for (const auto &[at, mask] : toBoot) {
    std::vector<uint8_t> bytes = built;
    bytes[at] ^= mask;
    copy.Write(bytes);
    const ToolRun run = RunTool({"boot", "--efi", copy.image});
    SCOPED_TRACE(testing::Message() << "byte " << std::hex << at << " ^ " << unsigned{mask});
    ASSERT_FALSE(WIFSIGNALED(run.status)) << "killed by signal " << WTERMSIG(run.status) << "\n" << run.err;
    ASSERT_TRUE(WIFEXITED(run.status));
    const int status = WEXITSTATUS(run.status);
    EXPECT_TRUE(status == 0 || status == 1 || status == 2 || status == 3) << status;
    if (status == 2 || status == 3) {
      EXPECT_EQ(run.err.rfind("boardinv: ", 0), 0u) << run.err;
      EXPECT_EQ(run.err.find('\n'), run.err.size() - 1) << run.err;
    }
    booted += status == 0;
    refused += status == 2;
  }
  // Both kinds occur: the damage reaches fields that matter and some that do not.
  EXPECT_GT(booted, 0);
  EXPECT_GT(refused, 0);
#endif
}

// A map that is not the image's is refused before the boot, or, where it
// is plausible (a global moved to another place in writable data), named
// after it: the report reads the driver's globals through the map, and a map
// whose globals do not describe what the image did (its anchor is not the
// head of the list the driver installed) is bad input, exit status 2, one
// line naming the map. The driver is not blamed (no pool blocks held beyond
// a list that was not read), and nothing shows a number of the host's own
// memory: addresses are image offsets or pool allocations.
struct Layout {
  std::map<std::string, uint32_t> symbols;
  loader::PeImage image;
  uint32_t Rva(const std::string &prefix) const { return loader::FindSymbol(symbols, prefix, "map"); }
  const loader::Section &Named(const std::string &name) const {
    for (const loader::Section &section : image.sections) {
      if (section.name == name) {
        return section;
      }
    }
    throw std::runtime_error("no section " + name);
  }
  // The 64-bit word the file holds at an RVA of initialised data: for a
  // relocated pointer of this image (ImageBase 0), the RVA it points to.
  uint64_t Word(uint32_t rva) const {
    for (const loader::Section &section : image.sections) {
      if (rva >= section.virtualAddress && rva + 8 <= section.virtualAddress + section.InitialisedSize()) {
        uint64_t value;
        std::memcpy(&value, &image.file[section.rawOffset + (rva - section.virtualAddress)], 8);
        return value;
      }
    }
    throw std::runtime_error("no initialised data at that RVA");
  }
};

std::string ImageOffset(uint64_t rva) {
  char text[32];
  std::snprintf(text, sizeof(text), "image+0x%llX", static_cast<unsigned long long>(rva));
  return text;
}

struct MapCase {
  const char *what;
  const char *symbol;                               // the decorated name moved; none: a map without symbols
  std::function<uint32_t(const Layout &)> moveTo;  // its new RVA
  bool refused;  // before the boot (nothing on standard output); else named after it, with the report
  // Refused: a part of the one line. Named: what the line says between the
  // map's path and ": the map does not match the image".
  std::function<std::string(const Layout &)> message;
};

class MapMismatchTest : public ::testing::TestWithParam<MapCase> {};

// Moves a symbol of the map to another RVA: the line whose second field
// (after "SSSS:OOOOOOOO") begins with the name gets the RVA as its third.
std::string MoveSymbol(const std::string &map, const std::string &symbol, uint32_t rva) {
  std::istringstream in(map);
  std::string out;
  std::string line;
  int moved = 0;
  while (std::getline(in, line)) {
    std::istringstream fields(line);
    std::string address, name, value;
    if (fields >> address >> name >> value && address.size() == 13 && address[4] == ':' &&
        name.compare(0, symbol.size(), symbol) == 0 && value.size() == 16) {
      char text[17];
      std::snprintf(text, sizeof(text), "%016X", rva);
      line.replace(line.find(value, line.find(name) + name.size()), 16, text);
      moved++;
    }
    out += line + "\n";
  }
  EXPECT_EQ(moved, 1) << symbol;
  return out;
}

// Whether text shows a number that can only be an address of this
// program's own memory (more than 8 hex digits: above 4 GiB).
bool ShowsAHostAddress(const std::string &text) {
  for (size_t at = text.find("0x"); at != std::string::npos; at = text.find("0x", at + 2)) {
    size_t digits = 0;
    while (at + 2 + digits < text.size() && std::isxdigit(static_cast<unsigned char>(text[at + 2 + digits]))) {
      digits++;
    }
    if (digits > 8) {
      return true;
    }
  }
  return false;
}

TEST_P(MapMismatchTest, IsRefusedOrNamedWithoutBlamingTheDriver) {
#if defined(__SANITIZE_ADDRESS__)
  if (!GetParam().refused) {
    GTEST_SKIP() << "the loaded image does not run under the sanitizers";
  }
#endif
  const std::vector<uint8_t> built = BuiltImage();
  ASSERT_GT(built.size(), 1024u) << "build the efi preset first";
  std::string path = BOARDINV_EFI_IMAGE;
  const Layout layout{loader::ReadSymbolMap(path.replace(path.size() - 4, 4, ".map")), loader::ParsePeImage(built)};
  const ImageCopy copy;
  copy.Write(built);
  copy.WriteMap(GetParam().symbol != nullptr
                    ? MoveSymbol(BuiltMap(), GetParam().symbol, GetParam().moveTo(layout))
                    : std::string("no symbols here\n"));
  const std::string message = GetParam().message(layout);
  const ToolRun run = RunTool({"boot", "--efi", copy.image, "--format", "json"});
  ASSERT_FALSE(WIFSIGNALED(run.status)) << "killed by signal " << WTERMSIG(run.status) << "\n" << run.err;
  ASSERT_TRUE(WIFEXITED(run.status));
  ASSERT_EQ(WEXITSTATUS(run.status), 2) << run.err;
  EXPECT_FALSE(ShowsAHostAddress(run.err)) << run.err;
  EXPECT_FALSE(ShowsAHostAddress(run.out)) << run.out;
  if (GetParam().refused) {
    EXPECT_EQ(run.err.rfind("boardinv: " + copy.map + ": ", 0), 0u) << run.err;
    EXPECT_EQ(run.err.find('\n'), run.err.size() - 1) << run.err;
    EXPECT_NE(run.err.find(message), std::string::npos) << run.err;
    EXPECT_TRUE(run.out.empty()) << run.out;
    return;
  }
  const std::string problem = copy.map + ": " + message + ": the map does not match the image";
  EXPECT_EQ(run.err, "boardinv: " + problem + "\n");
  const nlohmann::json list = nlohmann::json::parse(run.out)["startup"]["heap_buffer_list"];
  EXPECT_EQ(list.value("map_problem", ""), problem) << list.dump();
  EXPECT_TRUE(list["nodes"].empty()) << "not read through the map";
  EXPECT_TRUE(list["links_consistent"].get<bool>()) << list.dump();

  // The text report says it where the list would be.
  const ToolRun text = RunTool({"boot", "--efi", copy.image});
  EXPECT_EQ(WEXITSTATUS(text.status), 2);
  EXPECT_NE(text.out.find("  Heap buffer list: installed (InstallProtocolInterface: Success), not read: " + problem +
                          "\n"),
            std::string::npos)
      << text.out;
  EXPECT_FALSE(ShowsAHostAddress(text.out)) << text.out;
}

const char *const kAnchor = "?gHeapListAnchor@@";
const char *const kInterface = "?gHeapBufferListInterface@@";

// The message of a refusal, the same for any layout.
std::function<std::string(const Layout &)> Says(const char *text) {
  return [text](const Layout &) { return std::string(text); };
}

// What the line says of an anchor that points elsewhere than the head of
// the driver's own list.
std::string AnchorPointsTo(const Layout &l, uint32_t anchor, const std::string &target) {
  return "gHeapListAnchor at " + ImageOffset(anchor) + " points to " + target +
         ", not to the head of the driver's own list (" +
         ImageOffset(l.Rva(kInterface) + offsetof(HEAP_BUFFER_LIST_INTERFACE, ListHead)) + ")";
}

INSTANTIATE_TEST_SUITE_P(
    Maps, MapMismatchTest,
    ::testing::Values(
        MapCase{"entry moved", "DriverEntry", [](const Layout &l) { return l.image.entryPoint + 4; }, true,
                Says("is not the image's entry point")},
        MapCase{"entry in data", "DriverEntry", [](const Layout &l) { return l.Named(".data").virtualAddress; }, true,
                Says("does not lie inside the raw data of an executable section")},
        MapCase{"anchor in code", kAnchor, [](const Layout &l) { return l.image.entryPoint; }, true,
                Says("does not lie inside a writable, not executable section")},
        MapCase{"anchor in read-only data", kAnchor, [](const Layout &l) { return l.Rva("?gEfiHobListGuid@@"); },
                true, Says("does not lie inside a writable, not executable section")},
        MapCase{"interface in read-only data", kInterface,
                [](const Layout &l) { return l.Rva("?gEfiHobListGuid@@"); }, true,
                Says("does not lie inside a writable, not executable section")},
        MapCase{"snapshot running out of its section", "?gPlatformConfigSnapshot@@",
                [](const Layout &l) {
                  const loader::Section &data = l.Named(".data");
                  return data.virtualAddress + data.virtualSize - 8;
                },
                true, Says("does not lie inside a writable, not executable section")},
        MapCase{"symbol between sections", "?CpuidWithSi@@",
                [](const Layout &l) {
                  const loader::Section &text = l.Named(".text");
                  return text.virtualAddress + text.virtualSize + 1;
                },
                true, Says("lies in no section of the image: the map is not this image's")},
        MapCase{"no public symbols", nullptr, nullptr, true,
                Says("no public symbols: not the linker's map of the image")},
        // Stale but plausible: the anchor read from elsewhere in writable
        // data. 8 bytes back it reads the timer-frequency cache before it,
        // zero on this platform (8 bytes on is past the last global: refused).
        MapCase{"anchor moved 8 bytes back", kAnchor, [](const Layout &l) { return l.Rva(kAnchor) - 8; }, false,
                [](const Layout &l) {
                  return "gHeapListAnchor at " + ImageOffset(l.Rva(kAnchor) - 8) +
                         " holds null, but the driver installed a heap buffer list";
                }},
        MapCase{"anchor moved 8 bytes on", kAnchor, [](const Layout &l) { return l.Rva(kAnchor) + 8; }, true,
                Says("does not lie inside a writable, not executable section")},
        // The table pointer: into the simulated firmware, host memory.
        MapCase{"anchor at the system table pointer", kAnchor, [](const Layout &l) { return l.Rva("?gSystemTable@@"); },
                false, [](const Layout &l) { return AnchorPointsTo(l, l.Rva("?gSystemTable@@"), "host memory"); }},
        MapCase{"anchor at the interface revision", kAnchor, [](const Layout &l) { return l.Rva(kInterface); }, false,
                [](const Layout &l) { return AnchorPointsTo(l, l.Rva(kInterface), "0x1"); }},
        // A slot row's designation: a pointer to text in the image.
        MapCase{"anchor at a text pointer", kAnchor,
                [](const Layout &l) {
                  return l.Rva("gLayoutASlots") + static_cast<uint32_t>(offsetof(SystemSlotEntry, Designation));
                },
                false,
                [](const Layout &l) {
                  const uint32_t at = l.Rva("gLayoutASlots") + static_cast<uint32_t>(offsetof(SystemSlotEntry, Designation));
                  return AnchorPointsTo(l, at, ImageOffset(l.Word(at)));
                }},
        // The list head itself taken for the anchor: it points to the first
        // node, the first pool block the driver allocated (32 bytes of
        // links and header, 16 of payload).
        MapCase{"anchor at the installed list head", kAnchor,
                [](const Layout &l) {
                  return l.Rva(kInterface) + static_cast<uint32_t>(offsetof(HEAP_BUFFER_LIST_INTERFACE, ListHead));
                },
                false,
                [](const Layout &l) {
                  return AnchorPointsTo(
                      l, l.Rva(kInterface) + static_cast<uint32_t>(offsetof(HEAP_BUFFER_LIST_INTERFACE, ListHead)),
                      "pool allocation 1+0x0 (of 48 bytes)");
                }},
        // The interface named 8 bytes on: the driver installed the one it
        // has, and the map's is not it.
        MapCase{"interface moved by 8", kInterface, [](const Layout &l) { return l.Rva(kInterface) + 8; }, false,
                [](const Layout &l) {
                  return "the driver installed its heap buffer list interface at " + ImageOffset(l.Rva(kInterface)) +
                         ", not at gHeapBufferListInterface at " + ImageOffset(l.Rva(kInterface) + 8);
                }}),
    [](const ::testing::TestParamInfo<MapCase> &info) {
      std::string name;
      for (const char *c = info.param.what; *c; c++) {
        name += std::isalnum(static_cast<unsigned char>(*c)) ? *c : '_';
      }
      return name;
    });

}  // namespace
