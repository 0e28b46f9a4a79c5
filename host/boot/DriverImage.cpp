// The shipped driver binary in this process: loaded and checked against its
// symbol map, run under the loader's traps, and its device-path functions
// called directly.
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

#include "host/boot/DriverState.h"
#include "host/harness/DriverGlobals.h"
#include "host/sim/Text.h"

namespace host {

using sim::Hex;

DriverImagePtr LoadDriverImage(const std::string &path) {
  DriverImagePtr image(new DriverImage);
  image->file = loader::ReadPeImage(path);
  const loader::PeImage &file = image->file;
  std::string mapPath = path;
  const size_t dot = mapPath.find_last_of("./");
  if (dot != std::string::npos && mapPath[dot] == '.') {
    mapPath.erase(dot);
  }
  mapPath += ".map";
  const std::map<std::string, uint32_t> symbols = loader::ReadSymbolMap(mapPath);

  // The map must be this image's: its entry point where the image has it,
  // every public symbol inside a section, and the globals the report reads
  // in writable data, whole.
  const uint32_t entry = loader::FindSymbolIn(file, symbols, "DriverEntry", loader::SymbolKind::Code, 1, mapPath);
  if (entry != file.entryPoint) {
    throw loader::ImageError(mapPath + ": DriverEntry at RVA " + Hex(entry) + " is not the image's entry point " +
                             Hex(file.entryPoint) + ": the map is not this image's");
  }
  for (const auto &[name, rva] : symbols) {
    if (file.SectionHolding(rva, 0) == nullptr) {
      throw loader::ImageError(mapPath + ": symbol " + name + " at RVA " + Hex(rva) +
                               " lies in no section of the image: the map is not this image's");
    }
  }
  // The globals the report reads are those the harness's list marks so,
  // each found under its name, in the list's order.
  std::vector<std::pair<const void *, uint32_t>> reported;  // the linked-in driver's copy, the image's RVA
  for (const ModuleGlobal &global : ModuleGlobals()) {
    if (global.readByReport) {
      const uint32_t rva = loader::FindSymbolIn(file, symbols, MapNamePrefix(global), loader::SymbolKind::Data,
                                                static_cast<uint32_t>(global.size), mapPath);
      reported.emplace_back(global.address, rva);
    }
  }

  image->codeSymbols = loader::CodeSymbols(file, symbols);
  image->symbols = symbols;
  image->mapPath = mapPath;
  try {
    image->mapped = std::make_unique<loader::MappedImage>(file);
  } catch (const loader::ImageError &error) {
    throw loader::ImageError(path + ": " + error.what());
  }
  image->state.entry = reinterpret_cast<EFI_STATUS(EFIAPI *)(EFI_HANDLE, EFI_SYSTEM_TABLE *)>(
      image->mapped->EntryPoint());
  // Each global the linked-in driver's state points at, moved to the
  // image's copy of it.
  const DriverState linked;
  auto inImage = [&](const void *global) {
    for (const auto &[address, rva] : reported) {
      if (address == global) {
        return image->mapped->At(rva);
      }
    }
    throw std::logic_error("host::LoadDriverImage: the report reads a global that the list does not mark as read");
  };
  image->state.snapshot = static_cast<const PLATFORM_CONFIG_SNAPSHOT *>(inImage(linked.snapshot));
  image->state.tscTicksPerSecond = static_cast<const UINT64 *>(inImage(linked.tscTicksPerSecond));
  image->state.heapListAnchor = static_cast<HEAP_LIST_ENTRY *const *>(inImage(linked.heapListAnchor));
  image->state.memory = image->mapped->Base();
  image->state.memorySize = image->mapped->Size();
  image->state.listInterface = static_cast<const HEAP_BUFFER_LIST_INTERFACE *>(inImage(linked.listInterface));
  image->state.image = image->mapped.get();
  image->state.mapPath = mapPath;
  return image;
}

void DriverImageDeleter::operator()(DriverImage *image) const { delete image; }

std::unique_ptr<loader::MachineTraps> TrapsFor(const DriverImage &image) {
  return std::make_unique<loader::MachineTraps>(image.file, *image.mapped, image.codeSymbols,
                                                loader::RewriteForcedByEnvironment(),
                                                loader::CpuSecondsLimitFromEnvironment());
}

namespace {

// Why a walk ended, in words.
std::string WalkVerdict(const DEVICE_PATH_WALK &walk) {
  const std::string at = " at offset " + std::to_string(walk.Offset);
  switch (walk.Fault) {
    case DevicePathValid:
      return "a valid path whose end node is" + at;
    case DevicePathNull:
      return "no path";
    case DevicePathNoEndNode:
      return "no end node: the bytes end inside or before the node header" + at;
    case DevicePathEndNodeLength:
      return "an end node of a Length other than 4" + at;
    case DevicePathNodeTooShort:
      return "a node of a Length below 4" + at;
    case DevicePathNodePastLimit:
      return "a node whose Length runs past the end of the bytes" + at;
    case DevicePathFileNameUnterminated:
      return "a file-path node without its terminating zero" + at;
  }
  return "an ending the walk does not have (" + std::to_string(static_cast<int64_t>(walk.Fault)) + ")" + at;
}

std::string Bytes(uint64_t count) { return sim::Counted(count, "byte", "bytes"); }

// "pool allocation 3 (24 bytes)".
std::string BlockText(const sim::PoolBlockInfo &block) {
  return "pool allocation " + std::to_string(block.allocation) + " (" + Bytes(block.size) + ")";
}

}  // namespace

struct ImageDevicePathFunctions::Functions {
  using Convert = EFI_DEVICE_PATH_PROTOCOL *(EFIAPI *)(const CHAR16 *);
  using Size = UINT64(EFIAPI *)(const EFI_DEVICE_PATH_PROTOCOL *);
  using SizeWithin = UINT64(EFIAPI *)(const EFI_DEVICE_PATH_PROTOCOL *, UINT64, DEVICE_PATH_WALK *);
  Convert path = nullptr;
  Convert node = nullptr;
  Size size = nullptr;
  SizeWithin sizeWithin = nullptr;
  sim::SimFirmware *firmware = nullptr;
  const loader::MappedImage *image = nullptr;
  std::unique_ptr<loader::MachineTraps> traps;

  // Runs the image's code with the traps armed.
  template <typename Call>
  auto Run(Call call) const {
    traps->Arm();
    auto result = call();
    traps->Disarm();
    return result;
  }

  std::string Name(const void *address) const { return loader::NameAddress(address, image, firmware); }
};

ImageDevicePathFunctions::ImageDevicePathFunctions(DriverImage &image, sim::SimFirmware &firmware)
    : functions_(std::make_unique<Functions>()) {
  auto find = [&](const std::string &prefix, loader::SymbolKind kind, uint32_t size) {
    return image.mapped->At(loader::FindSymbolIn(image.file, image.symbols, prefix, kind, size, image.mapPath));
  };
  auto code = [&](const char *prefix) { return find(prefix, loader::SymbolKind::Code, 1); };
  functions_->path = reinterpret_cast<Functions::Convert>(code("?ConvertTextToDevicePath@@"));
  functions_->node = reinterpret_cast<Functions::Convert>(code("?ConvertTextToDeviceNode@@"));
  functions_->size = reinterpret_cast<Functions::Size>(code("?GetDevicePathSize@@"));
  functions_->sizeWithin = reinterpret_cast<Functions::SizeWithin>(code("?GetDevicePathSizeWithin@@"));
  // The image's copy of a table pointer of the harness's list.
  auto table = [&](const void *linked) {
    const ModuleGlobal *global = ModuleGlobalAt(linked);
    if (global == nullptr || !global->firmwareTable) {
      throw std::logic_error("host::ImageDevicePathFunctions: a table pointer the list does not mark as one");
    }
    return find(MapNamePrefix(*global), loader::SymbolKind::Data, static_cast<uint32_t>(global->size));
  };
  auto *bootServices = static_cast<EFI_BOOT_SERVICES **>(table(&gBootServices));
  auto *systemTable = static_cast<EFI_SYSTEM_TABLE **>(table(&gSystemTable));
  firmware.Pool().PlacePoolBlocksBeforeGuardPages();
  *systemTable = firmware.SystemTable();
  *bootServices = firmware.SystemTable()->BootServices;
  functions_->firmware = &firmware;
  functions_->image = image.mapped.get();
  functions_->traps = TrapsFor(image);
  functions_->traps->NamePoolBlocksOf(&firmware);
}

ImageDevicePathFunctions::~ImageDevicePathFunctions() { functions_->traps->NamePoolBlocksOf(nullptr); }

std::optional<std::vector<uint8_t>> ImageDevicePathFunctions::Convert(const CHAR16 *text, bool node) const {
  const Functions &f = *functions_;
  const std::string function = node ? "ConvertTextToDeviceNode" : "ConvertTextToDevicePath";
  EFI_DEVICE_PATH_PROTOCOL *result = f.Run([&] { return node ? f.node(text) : f.path(text); });
  if (result == nullptr) {
    return std::nullopt;
  }
  // Where the answer lies, before a byte of it is read.
  if (static_cast<const void *>(result) == static_cast<const void *>(text)) {
    loader::EndWithDriverFault(function + " returned the text it was given, not a pool block");
  }
  const std::optional<sim::PoolBlockInfo> block = f.firmware->Pool().PoolBlockAt(result);
  if (!block) {
    loader::EndWithDriverFault(function + " returned a pointer outside the pool (" + f.Name(result) + ")");
  }
  if (reinterpret_cast<const uint8_t *>(result) != block->start) {
    loader::EndWithDriverFault(function + " returned a pointer into " + f.Name(result) +
                               ", not the start of a pool block");
  }
  uint64_t size = 0;
  if (node) {
    if (block->size < sizeof(EFI_DEVICE_PATH_PROTOCOL)) {
      loader::EndWithDriverFault(function + " returned " + BlockText(*block) + ", too small for a node header");
    }
    size = DevicePathNodeLength(result);
    if (size < sizeof(EFI_DEVICE_PATH_PROTOCOL) || size > block->size) {
      loader::EndWithDriverFault(function + " returned a node of Length " + std::to_string(size) +
                                 ", which does not fit its block, " + BlockText(*block));
    }
  } else {
    // The host's own walk, which reads nothing past the block.
    DEVICE_PATH_WALK walk = {};
    size = ::GetDevicePathSizeWithin(result, block->size, &walk);
    if (size == 0) {
      loader::EndWithDriverFault(function + " returned a path that is not whole within its block, " +
                                 BlockText(*block) + ": " + WalkVerdict(walk));
    }
    const UINT64 told = f.Run([&] { return f.size(result); });
    if (told != size) {
      loader::EndWithDriverFault("GetDevicePathSize returned " + std::to_string(told) + " for the path of " +
                                 Bytes(size) + " that " + function + " returned");
    }
  }
  const auto *start = reinterpret_cast<const uint8_t *>(result);
  std::vector<uint8_t> bytes(start, start + size);
  f.firmware->Pool().FreePool(result);
  return bytes;
}

UINT64 ImageDevicePathFunctions::GetDevicePathSize(const EFI_DEVICE_PATH_PROTOCOL *path, UINT64 size) const {
  const Functions &f = *functions_;
  DEVICE_PATH_WALK walk = {};
  const UINT64 expected = ::GetDevicePathSizeWithin(path, size, &walk);
  if (expected == 0) {
    // Not a path within the bytes: the image's walk, which has no limit,
    // would read past them.
    return 0;
  }
  const UINT64 told = f.Run([&] { return f.size(path); });
  if (told != expected) {
    loader::EndWithDriverFault("GetDevicePathSize returned " + std::to_string(told) + " for a valid path of " +
                               Bytes(expected));
  }
  return told;
}

UINT64 ImageDevicePathFunctions::GetDevicePathSizeWithin(const EFI_DEVICE_PATH_PROTOCOL *path, UINT64 limit,
                                                         DEVICE_PATH_WALK *walk) const {
  const Functions &f = *functions_;
  DEVICE_PATH_WALK expectedWalk = {};
  const UINT64 expected = ::GetDevicePathSizeWithin(path, limit, &expectedWalk);
  DEVICE_PATH_WALK told = {};
  const UINT64 size = f.Run([&] { return f.sizeWithin(path, limit, &told); });
  if (size != expected || told.Fault != expectedWalk.Fault || told.Offset != expectedWalk.Offset) {
    loader::EndWithDriverFault("GetDevicePathSizeWithin returned " + std::to_string(size) + " (" + WalkVerdict(told) +
                               ") for " + Bytes(limit) + " whose walk gives " + std::to_string(expected) + " (" +
                               WalkVerdict(expectedWalk) + ")");
  }
  if (walk != nullptr) {
    *walk = told;
  }
  return size;
}

}  // namespace host
