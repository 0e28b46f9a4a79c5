#include "host/harness/LinkedDriver.h"

#include <cstring>
#include <stdexcept>

#include "driver/firmware/Guids.h"
#include "host/harness/DriverGlobals.h"
#include "driver/inventory/Inventory.h"
#include "driver/platform/PlatformServices.h"
#include "driver/base/Tables.h"

namespace host {

namespace {

// The harness alive in this process: the driver has one set of globals.
const LinkedDriver *gActive = nullptr;

std::string Counted(int64_t blocks, int64_t bytes) {
  return std::to_string(blocks) + (blocks == 1 ? " block (" : " blocks (") + std::to_string(bytes) +
         (bytes == 1 ? " byte)" : " bytes)");
}

std::string MemoryTypeText(EFI_MEMORY_TYPE type) {
  return type == EfiBootServicesData      ? "boot services data"
         : type == EfiRuntimeServicesData ? "runtime services data"
                                          : "memory type " + std::to_string(type);
}

}  // namespace

std::string PoolLeft::Describe() const {
  if (Clean()) {
    return "the pool is as the harness found it";
  }
  std::string text;
  auto add = [&text](const std::string &part) { text += (text.empty() ? "" : "; ") + part; };
  for (const auto &[type, left] : byType) {
    if (left.first > 0 || (left.first == 0 && left.second > 0)) {
      add(Counted(left.first, left.second) + " of " + MemoryTypeText(type) + " not freed");
    } else {
      add(Counted(-left.first, -left.second) + " of " + MemoryTypeText(type) +
          " freed that the harness found allocated");
    }
  }
  if (invalidFrees != 0) {
    add(std::to_string(invalidFrees) + (invalidFrees == 1 ? " free" : " frees") + " of a block the pool never gave out");
  }
  for (const sim::DamagedPoolBlock &block : damagedBlocks) {
    add(sim::DamagedPoolBlockText(block));
  }
  return text;
}

LinkedDriver::LinkedDriver(sim::SimFirmware &firmware, Tables tables) : firmware_(firmware) { Begin(tables); }

LinkedDriver::LinkedDriver(const sim::Platform &platform, Tables tables)
    : owned_(std::make_unique<sim::SimFirmware>(platform)), firmware_(*owned_) {
  Begin(tables);
}

void LinkedDriver::Begin(Tables tables) {
  if (gActive != nullptr) {
    throw std::logic_error("host::LinkedDriver: another harness holds the driver's module globals");
  }
  gActive = this;
  ResetModuleGlobals();
  if (tables == Tables::kWired) {
    gSystemTable = firmware_.SystemTable();
    gBootServices = gSystemTable->BootServices;
    gRuntimeServices = gSystemTable->RuntimeServices;
  }
  atStart_ = firmware_.Pool().Statistics();
}

LinkedDriver::~LinkedDriver() {
  ResetModuleGlobals();
  gActive = nullptr;
  if (report_) {
    const PoolLeft left = Left();
    if (!left.Clean()) {
      report_(left.Describe());
    }
  }
}

PoolLeft LinkedDriver::Left() const {
  firmware_.Pool().CheckPoolGuards();
  const sim::PoolStatistics &now = firmware_.Pool().Statistics();
  PoolLeft left;
  left.damagedBlocks.assign(now.damagedBlocks.begin() + static_cast<std::ptrdiff_t>(atStart_.damagedBlocks.size()),
                            now.damagedBlocks.end());
  left.blocks = static_cast<int64_t>(now.outstandingBlocks) - static_cast<int64_t>(atStart_.outstandingBlocks);
  left.bytes = static_cast<int64_t>(now.outstandingBytes) - static_cast<int64_t>(atStart_.outstandingBytes);
  left.invalidFrees = now.invalidFrees - atStart_.invalidFrees;
  for (size_t type = 0; type < now.outstandingByType.size(); type++) {
    const auto &held = now.outstandingByType[type];
    const auto &before = atStart_.outstandingByType[type];
    const std::pair<int64_t, int64_t> delta{static_cast<int64_t>(held.first) - static_cast<int64_t>(before.first),
                                            static_cast<int64_t>(held.second) - static_cast<int64_t>(before.second)};
    if (delta.first != 0 || delta.second != 0) {
      left.byType[static_cast<EFI_MEMORY_TYPE>(type)] = delta;
    }
  }
  return left;
}

void LinkedDriver::ExpectPoolCleanAtEnd(std::function<void(const std::string &message)> report) {
  report_ = std::move(report);
}

void LinkedDriver::UseSmbios(EFI_SMBIOS_PROTOCOL *protocol) { gSmbios = protocol; }

EFI_STATUS LinkedDriver::LocateSmbios() {
  return firmware_.SystemTable()->BootServices->LocateProtocol(&gEfiSmbiosProtocolGuid, nullptr,
                                                               reinterpret_cast<VOID **>(&gSmbios));
}

void LinkedDriver::SetStopPolicy(bool on) { gPlatformConfigSnapshot.FatalStopEnabled = on ? 1 : 0; }

void LinkedDriver::FillConfigSnapshot(uint8_t byte) {
  std::memset(&gPlatformConfigSnapshot, byte, sizeof(gPlatformConfigSnapshot));
}

void LinkedDriver::InstallEmptyHeapList() {
  gHeapBufferListInterface.ListHead.Forward = &gHeapBufferListInterface.ListHead;
  gHeapBufferListInterface.ListHead.Back = &gHeapBufferListInterface.ListHead;
  gHeapListAnchor = &gHeapBufferListInterface.ListHead;
}

void LinkedDriver::ForgetTscFrequency() { gTscTicksPerSecond = 0; }

}  // namespace host
