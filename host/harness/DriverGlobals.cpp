#include "host/harness/DriverGlobals.h"

#include <algorithm>
#include <cstring>
#include <vector>

#include "inventory/Inventory.h"
#include "platform/PlatformServices.h"
#include "startup/Startup.h"

namespace host {

namespace {

// The slot rows as the image holds them at load. The tables are constant
// data until the first boot, so reading them during static initialisation
// gets their load-time values.
const std::vector<SystemSlotEntry> gLoadTimeSlotsA(gLayoutA.Slots, gLayoutA.Slots + gLayoutA.SlotCount);
const std::vector<SystemSlotEntry> gLoadTimeSlotsB(gLayoutB.Slots, gLayoutB.Slots + gLayoutB.SlotCount);
const std::vector<SystemSlotEntry> gLoadTimeSlotsC(gLayoutC.Slots, gLayoutC.Slots + gLayoutC.SlotCount);

}  // namespace

void ResetInventoryModuleGlobals() {
  gSmbios = nullptr;
  std::copy(gLoadTimeSlotsA.begin(), gLoadTimeSlotsA.end(), gLayoutA.Slots);
  std::copy(gLoadTimeSlotsB.begin(), gLoadTimeSlotsB.end(), gLayoutB.Slots);
  std::copy(gLoadTimeSlotsC.begin(), gLoadTimeSlotsC.end(), gLayoutC.Slots);
}

void ResetStartupModuleGlobals() {
  gHobList = nullptr;
  gPcdProtocol = nullptr;
  gDebugPrintService = nullptr;
  gTscTicksPerSecond = 0;
  std::memset(&gPlatformConfigSnapshot, 0, sizeof(gPlatformConfigSnapshot));
  gHeapBufferListInterface = {HEAP_LIST_INTERFACE_REVISION, {nullptr, nullptr}};
  gHeapListAnchor = nullptr;
}

}  // namespace host
