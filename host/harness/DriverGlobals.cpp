#include "host/harness/DriverGlobals.h"

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "driver/devpath/DevicePathParsers.h"
#include "driver/inventory/Inventory.h"
#include "driver/platform/PlatformServices.h"
#include "driver/base/Tables.h"

namespace host {

namespace {

// The slot rows of a layout, which the probe rewrites in place.
ModuleGlobal SlotRows(const char *name, const BoardLayout &layout) {
  return {name, layout.Slots, layout.SlotCount * sizeof(SystemSlotEntry), false, false};
}

// What the host does with a global besides resetting it.
enum class Use { kReset, kFirmwareTable, kReadByReport };

template <typename T>
ModuleGlobal Global(const char *name, T &global, Use use = Use::kReset) {
  return {name, &global, sizeof(global), use == Use::kFirmwareTable, use == Use::kReadByReport};
}

const std::vector<ModuleGlobal> &List() {
  static const std::vector<ModuleGlobal> list = {
      // driver/base/
      Global("gSystemTable", gSystemTable, Use::kFirmwareTable),
      Global("gBootServices", gBootServices, Use::kFirmwareTable),
      Global("gRuntimeServices", gRuntimeServices, Use::kFirmwareTable),
      Global("gHobList", gHobList),
      Global("gPoolRefusals", gPoolRefusals),
      // driver/devpath/
      Global("gNodesTooLong", gNodesTooLong),
      // driver/platform/
      // (those the report reads in the order a loaded image's map is
      // checked for them)
      Global("gPlatformConfigSnapshot", gPlatformConfigSnapshot, Use::kReadByReport),
      Global("gPcdProtocol", gPcdProtocol),
      Global("gDebugPrintService", gDebugPrintService),
      Global("gTscTicksPerSecond", gTscTicksPerSecond, Use::kReadByReport),
      Global("gHeapListAnchor", gHeapListAnchor, Use::kReadByReport),
      Global("gHeapBufferListInterface", gHeapBufferListInterface, Use::kReadByReport),
      // driver/inventory/
      Global("gSmbios", gSmbios),
      SlotRows("gLayoutASlots", gLayoutA),
      SlotRows("gLayoutBSlots", gLayoutB),
      SlotRows("gLayoutCSlots", gLayoutC),
  };
  return list;
}

// The bytes of each global as the image holds them at load. The driver has
// no static constructors (all its data is constant-initialised), so its
// globals hold their load-time values until driver code runs; the copy is
// taken during this program's static initialisation, before any did.
const std::vector<std::vector<uint8_t>> &LoadTimeBytes() {
  static const std::vector<std::vector<uint8_t>> bytes = [] {
    if (gSystemTable != nullptr || gBootServices != nullptr) {
      std::fprintf(stderr, "host::ModuleGlobals: driver code ran before the load-time values were taken\n");
      std::abort();
    }
    std::vector<std::vector<uint8_t>> copies;
    for (const ModuleGlobal &global : List()) {
      const auto *start = static_cast<const uint8_t *>(global.address);
      copies.emplace_back(start, start + global.size);
    }
    return copies;
  }();
  return bytes;
}

[[maybe_unused]] const bool gLoadTimeBytesTaken = !LoadTimeBytes().empty();

}  // namespace

std::span<const ModuleGlobal> ModuleGlobals() { return List(); }

const ModuleGlobal *ModuleGlobalAt(const void *address) {
  for (const ModuleGlobal &global : List()) {
    if (global.address == address) {
      return &global;
    }
  }
  return nullptr;
}

std::string MapNamePrefix(const ModuleGlobal &global) { return std::string("?") + global.name + "@@"; }

void ResetModuleGlobals() {
  const std::vector<ModuleGlobal> &list = List();
  const std::vector<std::vector<uint8_t>> &bytes = LoadTimeBytes();
  for (size_t i = 0; i < list.size(); i++) {
    std::memcpy(list[i].address, bytes[i].data(), bytes[i].size());
  }
}

}  // namespace host
