// The shipped driver binary in this process: loaded and checked against its
// symbol map, run under the loader's traps, and its device-path functions
// called directly.
#include <memory>

#include "host/boot/DriverState.h"
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
  const uint32_t snapshot = loader::FindSymbolIn(file, symbols, "?gPlatformConfigSnapshot@@", loader::SymbolKind::Data,
                                                 sizeof(PLATFORM_CONFIG_SNAPSHOT), mapPath);
  const uint32_t tsc =
      loader::FindSymbolIn(file, symbols, "?gTscTicksPerSecond@@", loader::SymbolKind::Data, sizeof(UINT64), mapPath);
  const uint32_t anchor = loader::FindSymbolIn(file, symbols, "?gHeapListAnchor@@", loader::SymbolKind::Data,
                                               sizeof(HEAP_LIST_ENTRY *), mapPath);

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
  image->state.snapshot = static_cast<const PLATFORM_CONFIG_SNAPSHOT *>(image->mapped->At(snapshot));
  image->state.tscTicksPerSecond = static_cast<const UINT64 *>(image->mapped->At(tsc));
  image->state.heapListAnchor = static_cast<HEAP_LIST_ENTRY *const *>(image->mapped->At(anchor));
  image->state.memory = image->mapped->Base();
  image->state.memorySize = image->mapped->Size();
  return image;
}

void DriverImageDeleter::operator()(DriverImage *image) const { delete image; }

std::unique_ptr<loader::MachineTraps> TrapsFor(const DriverImage &image) {
  return std::make_unique<loader::MachineTraps>(image.file, *image.mapped, image.codeSymbols,
                                                loader::RewriteForcedByEnvironment(),
                                                loader::CpuSecondsLimitFromEnvironment());
}

struct ImageDevicePathFunctions::Functions {
  using Convert = EFI_DEVICE_PATH_PROTOCOL *(EFIAPI *)(const CHAR16 *);
  using Size = UINT64(EFIAPI *)(const EFI_DEVICE_PATH_PROTOCOL *);
  using SizeWithin = UINT64(EFIAPI *)(const EFI_DEVICE_PATH_PROTOCOL *, UINT64, DEVICE_PATH_WALK *);
  Convert path = nullptr;
  Convert node = nullptr;
  Size size = nullptr;
  SizeWithin sizeWithin = nullptr;
  std::unique_ptr<loader::MachineTraps> traps;

  // Runs the image's code with the traps armed.
  template <typename Call>
  auto Run(Call call) const {
    traps->Arm();
    auto result = call();
    traps->Disarm();
    return result;
  }
};

ImageDevicePathFunctions::ImageDevicePathFunctions(DriverImage &image, sim::SimFirmware &firmware)
    : functions_(std::make_unique<Functions>()) {
  auto find = [&](const char *prefix, loader::SymbolKind kind, uint32_t size) {
    return image.mapped->At(loader::FindSymbolIn(image.file, image.symbols, prefix, kind, size, image.mapPath));
  };
  auto code = [&](const char *prefix) { return find(prefix, loader::SymbolKind::Code, 1); };
  functions_->path = reinterpret_cast<Functions::Convert>(code("?ConvertTextToDevicePath@@"));
  functions_->node = reinterpret_cast<Functions::Convert>(code("?ConvertTextToDeviceNode@@"));
  functions_->size = reinterpret_cast<Functions::Size>(code("?GetDevicePathSize@@"));
  functions_->sizeWithin = reinterpret_cast<Functions::SizeWithin>(code("?GetDevicePathSizeWithin@@"));
  auto *bootServices =
      static_cast<EFI_BOOT_SERVICES **>(find("?gBootServices@@", loader::SymbolKind::Data, sizeof(void *)));
  auto *systemTable =
      static_cast<EFI_SYSTEM_TABLE **>(find("?gSystemTable@@", loader::SymbolKind::Data, sizeof(void *)));
  firmware.Pool().PlacePoolBlocksBeforeGuardPages();
  *systemTable = firmware.SystemTable();
  *bootServices = firmware.SystemTable()->BootServices;
  functions_->traps = TrapsFor(image);
}

ImageDevicePathFunctions::~ImageDevicePathFunctions() = default;

EFI_DEVICE_PATH_PROTOCOL *ImageDevicePathFunctions::ConvertTextToDevicePath(const CHAR16 *text) const {
  return functions_->Run([&] { return functions_->path(text); });
}

EFI_DEVICE_PATH_PROTOCOL *ImageDevicePathFunctions::ConvertTextToDeviceNode(const CHAR16 *text) const {
  return functions_->Run([&] { return functions_->node(text); });
}

UINT64 ImageDevicePathFunctions::GetDevicePathSize(const EFI_DEVICE_PATH_PROTOCOL *path) const {
  return functions_->Run([&] { return functions_->size(path); });
}

UINT64 ImageDevicePathFunctions::GetDevicePathSizeWithin(const EFI_DEVICE_PATH_PROTOCOL *path, UINT64 limit,
                                                         DEVICE_PATH_WALK *walk) const {
  return functions_->Run([&] { return functions_->sizeWithin(path, limit, walk); });
}

}  // namespace host
