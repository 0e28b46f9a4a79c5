// What a boot runs: the driver linked into this program or a loaded image,
// seen through the same few pointers (the entry point and the module
// globals the report reads), and the traps under which an image runs.
#pragma once

#include <cstddef>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "driver/entry/DriverEntry.h"
#include "host/boot/Boot.h"
#include "host/loader/MachineTraps.h"
#include "host/loader/PeImage.h"
#include "driver/platform/PlatformServices.h"
#include "driver/base/Memory.h"
#include "driver/base/Tables.h"

namespace host {

// The driver's own module globals that the report reads, and its entry
// point: those of the driver linked into this program, or those inside a
// loaded image. The globals pointed at here are those host::ModuleGlobals()
// marks readByReport (host/harness/DriverGlobals.h): a loaded image's are
// found in its map through that list.
struct DriverState {
  EFI_STATUS(EFIAPI *entry)(EFI_HANDLE, EFI_SYSTEM_TABLE *) = DriverEntry;
  const PLATFORM_CONFIG_SNAPSHOT *snapshot = &gPlatformConfigSnapshot;
  const UINT64 *tscTicksPerSecond = &gTscTicksPerSecond;
  HEAP_LIST_ENTRY *const *heapListAnchor = &gHeapListAnchor;
  // The driver's own memory that the list it leaves may lead into: the
  // whole loaded image, or, for the driver linked into this program, the
  // interface whose list head it installs (its other module globals are
  // never a list's).
  const void *memory = &gHeapBufferListInterface;
  size_t memorySize = sizeof(gHeapBufferListInterface);
  // The list interface the driver installs as its own.
  const HEAP_BUFFER_LIST_INTERFACE *listInterface = &gHeapBufferListInterface;
  // For a loaded image: the mapped image (addresses in it are named by
  // their offset), and the map through which the globals above were found
  // (a map that does not describe what the image did is named as such).
  const loader::MappedImage *image = nullptr;
  std::string mapPath;
};

struct DriverImage {
  loader::PeImage file;
  std::unique_ptr<loader::MappedImage> mapped;
  std::map<std::string, uint32_t> symbols;  // the map's public symbols
  std::vector<uint32_t> codeSymbols;        // RVAs of those in executable sections
  std::string mapPath;
  DriverState state;
};

// The traps under which the image's code runs, as the environment asks.
std::unique_ptr<loader::MachineTraps> TrapsFor(const DriverImage &image);

}  // namespace host
