#include "host/loader/PeImage.h"

#include <sys/mman.h>

#include <cstring>
#include <sstream>

#include "host/sim/InputFile.h"
#include "host/sim/Text.h"

namespace loader {

namespace {

constexpr uint16_t kMachineAmd64 = 0x8664;
constexpr uint16_t kMagicPe32Plus = 0x20B;
constexpr uint16_t kSubsystemEfiBootServiceDriver = 11;
constexpr uint32_t kPageSize = 4096;
constexpr uint64_t kImageBaseAlignment = 64 << 10;
constexpr uint32_t kMinFileAlignment = 512;
constexpr uint32_t kMaxFileAlignment = 64 << 10;
// The end of the lower half of the canonical address space (47-bit).
constexpr uint64_t kLowerHalfEnd = uint64_t{1} << 47;
constexpr uint32_t kMaxImageSize = 64u << 20;
constexpr int kDirectoryImport = 1;
constexpr int kDirectoryBaseRelocation = 5;
constexpr uint16_t kRelocationAbsolute = 0;
constexpr uint16_t kRelocationDir64 = 10;

using sim::Hex;

// A size in hex with its noun: "0x200 bytes", "0x1 byte".
std::string HexSize(uint64_t size) { return Hex(size) + (size == 1 ? " byte" : " bytes"); }

// Reads little-endian fields at checked offsets of the file.
class Reader {
 public:
  explicit Reader(const std::vector<uint8_t> &bytes) : bytes_(bytes) {}
  bool Has(uint64_t offset, uint64_t length) const {
    return offset <= bytes_.size() && length <= bytes_.size() - offset;
  }
  uint64_t Read(uint64_t offset, unsigned length, const char *what) const {
    if (!Has(offset, length)) {
      throw ImageError(std::string("the file ends inside the ") + what + " (offset " + Hex(offset) + ")");
    }
    uint64_t value = 0;
    for (unsigned i = 0; i < length; i++) {
      value |= static_cast<uint64_t>(bytes_[offset + i]) << (8 * i);
    }
    return value;
  }

 private:
  const std::vector<uint8_t> &bytes_;
};

bool PowerOfTwo(uint64_t value) { return value != 0 && (value & (value - 1)) == 0; }

// The section whose bytes from the file hold [rva, rva + size).
const Section *InitialisedHolder(const PeImage &image, uint64_t rva, uint64_t size) {
  for (const Section &section : image.sections) {
    if (rva >= section.virtualAddress && rva + size <= uint64_t{section.virtualAddress} + section.InitialisedSize()) {
      return &section;
    }
  }
  return nullptr;
}

}  // namespace

const Section *PeImage::SectionHolding(uint64_t rva, uint64_t size) const {
  for (const Section &section : sections) {
    if (rva >= section.virtualAddress && rva + size <= uint64_t{section.virtualAddress} + section.MemorySize()) {
      return &section;
    }
  }
  return nullptr;
}

PeImage ParsePeImage(std::vector<uint8_t> bytes) {
  PeImage image;
  Reader file(bytes);
  if (file.Read(0, 2, "DOS header") != 0x5A4D) {
    throw ImageError("not a PE image: no MZ signature");
  }
  const uint64_t pe = file.Read(0x3C, 4, "DOS header");
  if (file.Read(pe, 4, "PE signature") != 0x00004550) {
    throw ImageError("not a PE image: no PE signature at " + Hex(pe));
  }
  const uint64_t machine = file.Read(pe + 4, 2, "file header");
  if (machine != kMachineAmd64) {
    throw ImageError("machine " + Hex(machine) + " is not AMD64 (0x8664)");
  }
  const uint64_t sectionCount = file.Read(pe + 6, 2, "file header");
  const uint64_t optionalSize = file.Read(pe + 20, 2, "file header");
  const uint64_t optional = pe + 24;
  if (optionalSize < 112) {
    throw ImageError("optional header of " + sim::Counted(optionalSize, "byte", "bytes") + " is too short for PE32+");
  }
  if (!file.Has(optional, optionalSize)) {
    throw ImageError("the file ends inside the optional header");
  }
  if (file.Read(optional, 2, "optional header") != kMagicPe32Plus) {
    throw ImageError("optional header magic " + Hex(file.Read(optional, 2, "optional header")) +
                     " is not PE32+ (0x20B)");
  }
  const uint64_t subsystem = file.Read(optional + 68, 2, "optional header");
  if (subsystem != kSubsystemEfiBootServiceDriver) {
    throw ImageError("subsystem " + std::to_string(subsystem) + " is not an EFI boot-service driver (11)");
  }
  image.entryPoint = static_cast<uint32_t>(file.Read(optional + 16, 4, "optional header"));
  image.imageBase = file.Read(optional + 24, 8, "optional header");
  image.sectionAlignment = static_cast<uint32_t>(file.Read(optional + 32, 4, "optional header"));
  image.fileAlignment = static_cast<uint32_t>(file.Read(optional + 36, 4, "optional header"));
  image.sizeOfImage = static_cast<uint32_t>(file.Read(optional + 56, 4, "optional header"));
  image.sizeOfHeaders = static_cast<uint32_t>(file.Read(optional + 60, 4, "optional header"));
  const uint64_t directoryCount = file.Read(optional + 108, 4, "optional header");
  if (directoryCount > (optionalSize - 112) / 8) {
    throw ImageError("the optional header is too short for its " + std::to_string(directoryCount) +
                     " data directories");
  }
  if (image.sectionAlignment < kPageSize || !PowerOfTwo(image.sectionAlignment)) {
    throw ImageError("section alignment " + Hex(image.sectionAlignment) + " is not a power of two of at least 4 KiB");
  }
  // Raw data is aligned to a power of two from 512 bytes to 64 KiB, never
  // coarser than the sections in memory.
  if (image.fileAlignment < kMinFileAlignment || image.fileAlignment > kMaxFileAlignment ||
      !PowerOfTwo(image.fileAlignment) || image.fileAlignment > image.sectionAlignment) {
    throw ImageError("file alignment " + Hex(image.fileAlignment) +
                     " is not a power of two from 0x200 to 0x10000 and at most the section alignment (" +
                     Hex(image.sectionAlignment) + ")");
  }
  if (image.sizeOfImage == 0 || image.sizeOfImage > kMaxImageSize) {
    throw ImageError("image size " + Hex(image.sizeOfImage) + " is out of range");
  }
  // Where the image wants to be: 64 KiB-aligned, canonical (bits 63 to 47
  // all equal), and, with its whole size, in the lower half where a
  // program's memory is.
  if (image.imageBase % kImageBaseAlignment != 0) {
    throw ImageError("ImageBase " + Hex(image.imageBase) + " is not a multiple of 64 KiB");
  }
  const uint64_t top = image.imageBase >> 47;
  if (top != 0 && top != (uint64_t{1} << 17) - 1) {
    throw ImageError("ImageBase " + Hex(image.imageBase) + " is not a canonical address");
  }
  if (image.imageBase >= kLowerHalfEnd || image.sizeOfImage > kLowerHalfEnd - image.imageBase) {
    throw ImageError("ImageBase " + Hex(image.imageBase) + " with SizeOfImage " + Hex(image.sizeOfImage) +
                     " does not lie in the lower half of the address space (below " + Hex(kLowerHalfEnd) + ")");
  }
  auto directory = [&](int index, uint32_t &rva, uint32_t &size) {
    rva = size = 0;
    if (static_cast<uint64_t>(index) < directoryCount) {
      rva = static_cast<uint32_t>(file.Read(optional + 112 + 8 * index, 4, "data directories"));
      size = static_cast<uint32_t>(file.Read(optional + 116 + 8 * index, 4, "data directories"));
    }
  };

  const uint64_t table = optional + optionalSize;
  if (!file.Has(table, sectionCount * 40)) {
    throw ImageError("the file ends inside the section table (" + sim::Counted(sectionCount, "section", "sections") +
                     " at " + Hex(table) + ", file of " + sim::Counted(bytes.size(), "byte", "bytes") + ")");
  }
  if (image.sizeOfHeaders > image.sizeOfImage || !file.Has(0, image.sizeOfHeaders)) {
    throw ImageError("headers of " + HexSize(image.sizeOfHeaders) + " do not fit the file and the image");
  }
  if (table + sectionCount * 40 > image.sizeOfHeaders) {
    throw ImageError("the section table (" + Hex(table) + " to " + Hex(table + sectionCount * 40) +
                     ") does not lie inside the headers (" + HexSize(image.sizeOfHeaders) + ")");
  }
  for (uint64_t i = 0; i < sectionCount; i++) {
    const uint64_t at = table + 40 * i;
    Section section;
    char name[9] = {};
    std::memcpy(name, &bytes[at], 8);
    section.name = name;
    section.virtualSize = static_cast<uint32_t>(file.Read(at + 8, 4, "section table"));
    section.virtualAddress = static_cast<uint32_t>(file.Read(at + 12, 4, "section table"));
    section.rawSize = static_cast<uint32_t>(file.Read(at + 16, 4, "section table"));
    section.rawOffset = static_cast<uint32_t>(file.Read(at + 20, 4, "section table"));
    section.characteristics = static_cast<uint32_t>(file.Read(at + 36, 4, "section table"));
    const uint64_t span = std::max(section.virtualSize, section.rawSize);
    if (section.virtualAddress % kPageSize != 0 || section.virtualAddress < image.sizeOfHeaders ||
        section.virtualAddress + span > image.sizeOfImage) {
      throw ImageError("section " + section.name + " at " + Hex(section.virtualAddress) + " (" + HexSize(span) +
                       ") does not lie page-aligned inside the image");
    }
    if (!section.Readable()) {
      throw ImageError("section " + section.name + " is not readable (characteristics " +
                       Hex(section.characteristics) + " without MEM_READ " + Hex(kScnMemRead) + ")");
    }
    if (section.rawSize != 0) {
      const std::string raw = "section " + section.name + ": raw data of " + HexSize(section.rawSize) + " at " +
                              Hex(section.rawOffset);
      if (section.rawOffset == 0) {
        throw ImageError(raw + " has no file offset");
      }
      if (section.rawOffset % image.fileAlignment != 0) {
        throw ImageError(raw + " is not at a multiple of the file alignment " + Hex(image.fileAlignment));
      }
      if (section.rawOffset < image.sizeOfHeaders) {
        throw ImageError(raw + " overlaps the headers (" + HexSize(image.sizeOfHeaders) + ")");
      }
      if (!file.Has(section.rawOffset, section.rawSize)) {
        throw ImageError("section " + section.name + " runs past the end of the file (raw data of " +
                         HexSize(section.rawSize) + " at " + Hex(section.rawOffset) + ", file of " +
                         HexSize(bytes.size()) + ")");
      }
    }
    if (section.Writable() && section.Executable()) {
      throw ImageError("section " + section.name + " is both writable and executable");
    }
    for (const Section &other : image.sections) {
      if (section.virtualAddress < other.virtualAddress + std::max(other.virtualSize, other.rawSize) &&
          other.virtualAddress < section.virtualAddress + span) {
        throw ImageError("sections " + other.name + " and " + section.name + " overlap");
      }
    }
    image.sections.push_back(section);
  }
  // The first instruction comes from the file, in code.
  const Section *entry = InitialisedHolder(image, image.entryPoint, 1);
  if (entry == nullptr || !entry->Executable()) {
    throw ImageError("entry point " + Hex(image.entryPoint) +
                     " is not inside an executable section's raw data");
  }

  uint32_t importRva = 0;
  uint32_t importSize = 0;
  directory(kDirectoryImport, importRva, importSize);
  if (importRva != 0 || importSize != 0) {
    throw ImageError("the image imports from other modules; a driver can import nothing");
  }

  // The relocation directory, read from the raw data of the section that
  // holds it.
  uint32_t relocRva = 0;
  uint32_t relocSize = 0;
  directory(kDirectoryBaseRelocation, relocRva, relocSize);
  image.hasRelocations = relocSize != 0;
  if (image.hasRelocations) {
    if (static_cast<uint64_t>(relocRva) + relocSize > image.sizeOfImage) {
      throw ImageError("the relocation directory lies outside the image");
    }
    const Section *holder = InitialisedHolder(image, relocRva, relocSize);
    if (holder == nullptr) {
      throw ImageError("the relocation directory (" + HexSize(relocSize) + " at RVA " + Hex(relocRva) +
                       ") does not lie inside a section's raw data");
    }
    const uint8_t *start = bytes.data() + holder->rawOffset + (relocRva - holder->virtualAddress);
    const std::vector<uint8_t> relocations(start, start + relocSize);
    Reader blocks(relocations);
    uint64_t at = 0;
    while (at < relocations.size()) {
      if (!blocks.Has(at, 8)) {
        throw ImageError("relocation block at RVA " + Hex(relocRva + at) +
                         " is cut by the end of the relocation directory");
      }
      const uint64_t page = blocks.Read(at, 4, "relocation block");
      const uint64_t blockSize = blocks.Read(at + 4, 4, "relocation block");
      if (blockSize < 8 || blockSize % 2 != 0 || !blocks.Has(at, blockSize)) {
        throw ImageError("relocation block at " + Hex(relocRva + at) + " has a bad size (" + Hex(blockSize) + ")");
      }
      if (page % kPageSize != 0) {
        throw ImageError("relocation block at RVA " + Hex(relocRva + at) + " has page RVA " + Hex(page) +
                         ", not 4 KiB-aligned");
      }
      for (uint64_t entry = at + 8; entry < at + blockSize; entry += 2) {
        const uint64_t value = blocks.Read(entry, 2, "relocation block");
        const uint16_t type = static_cast<uint16_t>(value >> 12);
        const uint64_t target = page + (value & 0xFFF);
        if (type == kRelocationAbsolute) {
          continue;
        }
        if (type != kRelocationDir64) {
          throw ImageError("relocation type " + std::to_string(type) + " at " + Hex(target) + " is not supported");
        }
        if (target + 8 > image.sizeOfImage) {
          throw ImageError("relocation block at " + Hex(relocRva + at) + " points outside the image (" +
                           Hex(target) + ")");
        }
        // The field to move comes from the file: a relocation into a
        // section's zero-filled tail, or between sections, is corruption.
        if (InitialisedHolder(image, target, 8) == nullptr) {
          throw ImageError("relocation at RVA " + Hex(target) + " (block at RVA " + Hex(relocRva + at) +
                           ") does not lie inside a section's raw data");
        }
        image.dir64Relocations.push_back(static_cast<uint32_t>(target));
      }
      at += blockSize;
    }
  } else if (image.imageBase == 0) {
    // Address 0 is never an image's: without relocations it cannot run.
    throw ImageError("no base relocations and ImageBase 0x0 cannot be had");
  }
  image.file = std::move(bytes);
  return image;
}

PeImage ReadPeImage(const std::string &path) {
  std::vector<uint8_t> bytes;
  try {
    bytes = sim::ReadInputFile("driver image", path, sim::kImageFileLimit);
  } catch (const sim::FileError &error) {
    throw ImageError(error.what());
  }
  try {
    return ParsePeImage(std::move(bytes));
  } catch (const ImageError &error) {
    throw ImageError(path + ": " + error.what());
  }
}

MappedImage::MappedImage(const PeImage &image) : size_(image.sizeOfImage), entryPoint_(image.entryPoint) {
  void *memory = MAP_FAILED;
  if (image.hasRelocations) {
    memory = mmap(nullptr, size_, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (memory == MAP_FAILED) {
      throw ImageError("cannot map " + sim::Counted(size_, "byte", "bytes") + " for the image");
    }
  } else {
    // Without relocations the image runs at its ImageBase or nowhere.
    void *const wanted = reinterpret_cast<void *>(image.imageBase);
    if (image.imageBase != 0) {
      memory = mmap(wanted, size_, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS | MAP_FIXED_NOREPLACE, -1, 0);
    }
    if (memory != MAP_FAILED && memory != wanted) {
      // A kernel that takes the address as a hint only.
      munmap(memory, size_);
      memory = MAP_FAILED;
    }
    if (memory == MAP_FAILED) {
      throw ImageError("no base relocations and ImageBase " + Hex(image.imageBase) + " is not free");
    }
  }
  base_ = static_cast<uint8_t *>(memory);
  std::memcpy(base_, image.file.data(), image.sizeOfHeaders);
  for (const Section &section : image.sections) {
    std::memcpy(base_ + section.virtualAddress, image.file.data() + section.rawOffset, section.InitialisedSize());
  }
  const uint64_t delta = reinterpret_cast<uint64_t>(base_) - image.imageBase;
  for (uint32_t target : image.dir64Relocations) {
    uint64_t value;
    std::memcpy(&value, base_ + target, 8);
    value += delta;
    std::memcpy(base_ + target, &value, 8);
  }
  // Headers read-only; each section's pages as its flags say.
  mprotect(base_, image.sizeOfHeaders == 0 ? kPageSize : (image.sizeOfHeaders + kPageSize - 1) / kPageSize * kPageSize,
           PROT_READ);
  for (const Section &section : image.sections) {
    const uint32_t span = std::max(section.virtualSize, section.rawSize);
    const uint32_t length = (span + kPageSize - 1) / kPageSize * kPageSize;
    int protection = 0;
    protection |= section.Readable() ? PROT_READ : 0;
    protection |= section.Writable() ? PROT_WRITE : 0;
    protection |= section.Executable() ? PROT_EXEC : 0;
    if (length != 0) {
      mprotect(base_ + section.virtualAddress, length, protection);
    }
  }
}

MappedImage::~MappedImage() { munmap(base_, size_); }

std::map<std::string, uint32_t> ReadSymbolMap(const std::string &path) {
  std::vector<uint8_t> bytes;
  try {
    bytes = sim::ReadInputFile("symbol map", path, sim::kSymbolMapLimit);
  } catch (const sim::FileError &error) {
    throw ImageError(error.what());
  }
  // Public symbols: "SSSS:OOOOOOOO  Name  RvaPlusBase  Object", ImageBase 0.
  std::map<std::string, uint32_t> symbols;
  std::istringstream in(std::string(bytes.begin(), bytes.end()));
  std::string line;
  while (std::getline(in, line)) {
    std::istringstream fields(line);
    std::string address, name, rva;
    if (!(fields >> address >> name >> rva) || address.size() != 13 || address[4] != ':' || rva.size() != 16) {
      continue;
    }
    try {
      symbols[name] = static_cast<uint32_t>(std::stoull(rva, nullptr, 16));
    } catch (const std::exception &) {
    }
  }
  if (symbols.empty()) {
    throw ImageError(path + ": no public symbols: not the linker's map of the image");
  }
  return symbols;
}

uint32_t FindSymbol(const std::map<std::string, uint32_t> &symbols, const std::string &prefix,
                    const std::string &mapPath) {
  auto begins = [&prefix](const std::string &name) { return name.compare(0, prefix.size(), prefix) == 0; };
  auto found = symbols.lower_bound(prefix);
  if (found == symbols.end() || !begins(found->first)) {
    throw ImageError(mapPath + ": no symbol " + prefix + "...");
  }
  if (auto next = std::next(found); next != symbols.end() && begins(next->first)) {
    throw ImageError(mapPath + ": more than one symbol begins with " + prefix + " (" + found->first + ", " +
                     next->first + ")");
  }
  return found->second;
}

uint32_t FindSymbolIn(const PeImage &image, const std::map<std::string, uint32_t> &symbols, const std::string &prefix,
                      SymbolKind kind, uint32_t size, const std::string &mapPath) {
  const uint32_t rva = FindSymbol(symbols, prefix, mapPath);
  const uint64_t length = std::max<uint32_t>(size, 1);
  for (const Section &section : image.sections) {
    const bool fits = kind == SymbolKind::Code ? section.Executable() : section.Writable() && !section.Executable();
    const uint32_t extent = kind == SymbolKind::Code ? section.InitialisedSize() : section.MemorySize();
    if (fits && rva >= section.virtualAddress && rva + length <= uint64_t{section.virtualAddress} + extent) {
      return rva;
    }
  }
  throw ImageError(mapPath + ": symbol " + prefix + "... at RVA " + Hex(rva) + " (" + HexSize(length) +
                   ") does not lie inside " +
                   (kind == SymbolKind::Code ? "the raw data of an executable section"
                                             : "a writable, not executable section") +
                   " of the image: the map is not this image's");
}

}  // namespace loader
