// Loads the shipped driver binary into this process: reads and checks a
// PE32+ EFI boot-service driver, maps its sections into memory, applies its
// base relocations and hands out its entry point and its symbols.
#pragma once

#include <algorithm>
#include <cstdint>
#include <map>
#include <stdexcept>
#include <string>
#include <vector>

namespace loader {

// A file that is not a loadable image; the message says why, on one line.
class ImageError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// Section flags.
constexpr uint32_t kScnMemExecute = 0x20000000;
constexpr uint32_t kScnMemRead = 0x40000000;
constexpr uint32_t kScnMemWrite = 0x80000000;

struct Section {
  std::string name;
  uint32_t virtualAddress = 0;
  uint32_t virtualSize = 0;
  uint32_t rawOffset = 0;
  uint32_t rawSize = 0;
  uint32_t characteristics = 0;

  // Its size in memory: VirtualSize, or SizeOfRawData where VirtualSize is 0.
  uint32_t MemorySize() const { return virtualSize != 0 ? virtualSize : rawSize; }
  // The bytes of it that come from the file, from its start; the rest of
  // its memory reads as zeros.
  uint32_t InitialisedSize() const { return std::min(rawSize, MemorySize()); }
  bool Readable() const { return (characteristics & kScnMemRead) != 0; }
  bool Writable() const { return (characteristics & kScnMemWrite) != 0; }
  bool Executable() const { return (characteristics & kScnMemExecute) != 0; }
};

// A checked image: every offset and size below lies inside the file or the
// image, and every relocation is one this loader applies.
struct PeImage {
  std::vector<uint8_t> file;
  uint64_t imageBase = 0;
  uint32_t sizeOfImage = 0;
  uint32_t sizeOfHeaders = 0;
  uint32_t sectionAlignment = 0;
  uint32_t fileAlignment = 0;
  uint32_t entryPoint = 0;  // RVA
  std::vector<Section> sections;
  bool hasRelocations = false;             // a base relocation directory: the image can be moved
  std::vector<uint32_t> dir64Relocations;  // RVAs of the 64-bit fields to move

  // The section whose memory holds [rva, rva + size), if any.
  const Section *SectionHolding(uint64_t rva, uint64_t size) const;
};

// Checks a PE32+ image as a firmware loader does before it runs one:
// - machine AMD64, optional header PE32+, subsystem EFI boot-service driver;
// - ImageBase a multiple of 64 KiB, canonical, and the whole image in the
//   lower half of the address space; SectionAlignment a power of two of at
//   least 4 KiB; FileAlignment a power of two from 512 bytes to 64 KiB and
//   not above SectionAlignment;
// - headers, section table and each section's raw data inside the file, the
//   section table inside the headers, raw data at a multiple of
//   FileAlignment and after the headers;
// - sections 4 KiB-aligned inside the image, not overlapping, readable, and
//   never both writable and executable;
// - no imports; the entry point inside the raw data of an executable section;
// - the relocation directory inside a section's raw data, each block's page
//   4 KiB-aligned, every entry DIR64 or padding, every DIR64 field (8 bytes)
//   inside one section's raw data (not in its zero-filled tail, not in the
//   headers); without relocations, a nonzero ImageBase (the image can only
//   run there).
// Throws ImageError naming what is wrong, with offsets and RVAs in hex.
PeImage ParsePeImage(std::vector<uint8_t> file);
// Reads the file (up to sim::kImageFileLimit bytes) and checks it; errors
// begin with the path.
PeImage ReadPeImage(const std::string &path);

// The image mapped into this process: sections copied (the bytes their raw
// data gives, zeros after), relocations applied, each section's pages
// protected as its flags say (code read and execute, data read and write,
// the rest read-only). An image with relocations goes at a fresh address;
// one without goes at its ImageBase or not at all (ImageError when that
// range is taken).
class MappedImage {
 public:
  explicit MappedImage(const PeImage &image);
  ~MappedImage();
  MappedImage(const MappedImage &) = delete;
  MappedImage &operator=(const MappedImage &) = delete;

  uint8_t *Base() const { return base_; }
  uint32_t Size() const { return size_; }
  void *At(uint32_t rva) const { return base_ + rva; }
  void *EntryPoint() const { return base_ + entryPoint_; }
  bool Contains(uint64_t address) const {
    return address >= reinterpret_cast<uint64_t>(base_) && address - reinterpret_cast<uint64_t>(base_) < size_;
  }

 private:
  uint8_t *base_ = nullptr;
  uint32_t size_ = 0;
  uint32_t entryPoint_ = 0;
};

// The public symbols of the linker's map file: decorated name to RVA.
// Reads up to sim::kSymbolMapLimit bytes; a file that cannot be read, or
// that holds no public symbols, throws ImageError naming the map.
std::map<std::string, uint32_t> ReadSymbolMap(const std::string &path);

// The RVA of the one symbol whose decorated name begins with prefix;
// ImageError when there is none or more than one.
uint32_t FindSymbol(const std::map<std::string, uint32_t> &symbols, const std::string &prefix,
                    const std::string &mapPath);

// What a symbol must be to be used as such.
enum class SymbolKind {
  Code,  // inside the raw data of an executable section
  Data,  // inside a writable, not executable section (its zero-filled tail included)
};

// The RVA of the one symbol whose decorated name begins with prefix,
// checked to lie, with `size` bytes from it, inside one section of the
// image of the given kind. Throws ImageError naming the map and the symbol
// when it is missing, ambiguous or lies elsewhere: then the map is not this
// image's.
uint32_t FindSymbolIn(const PeImage &image, const std::map<std::string, uint32_t> &symbols, const std::string &prefix,
                      SymbolKind kind, uint32_t size, const std::string &mapPath);

}  // namespace loader
