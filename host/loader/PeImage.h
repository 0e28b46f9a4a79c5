// Loads the shipped driver binary into this process: reads and checks a
// PE32+ EFI boot-service driver, maps its sections into memory, applies its
// base relocations and hands out its entry point and its symbols.
#pragma once

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

struct Section {
  std::string name;
  uint32_t virtualAddress = 0;
  uint32_t virtualSize = 0;
  uint32_t rawOffset = 0;
  uint32_t rawSize = 0;
  uint32_t characteristics = 0;
};

// A checked image: every offset and size below lies inside the file or the
// image, and every relocation is one this loader applies.
struct PeImage {
  std::vector<uint8_t> file;
  uint64_t imageBase = 0;
  uint32_t sizeOfImage = 0;
  uint32_t sizeOfHeaders = 0;
  uint32_t sectionAlignment = 0;
  uint32_t entryPoint = 0;  // RVA
  std::vector<Section> sections;
  std::vector<uint32_t> dir64Relocations;  // RVAs of the 64-bit fields to move
};

// Checks a PE32+ image: machine AMD64, subsystem EFI boot-service driver,
// headers and sections inside the file, sections inside the image and
// 4 KiB-aligned, no imports, relocation blocks well-formed and pointing
// inside the image, entry point in executable code.
PeImage ParsePeImage(std::vector<uint8_t> file);
PeImage ReadPeImage(const std::string &path);

// The image mapped at a fresh address: sections copied, relocations applied,
// each section's pages protected as its flags say (code read and execute,
// data read and write, the rest read-only).
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
std::map<std::string, uint32_t> ReadSymbolMap(const std::string &path);

// The RVA of the one symbol whose decorated name begins with prefix.
uint32_t FindSymbol(const std::map<std::string, uint32_t> &symbols, const std::string &prefix,
                    const std::string &mapPath);

}  // namespace loader
