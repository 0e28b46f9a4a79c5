// The simulated platform's start-up services: the PCD protocols, the debug
// print service, another module's heap buffer list, the hand-off block list
// in the configuration table, and the settings of the hardware behind the
// fatal stop and the debug output backends.
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "firmware/BoardHardware.h"
#include "firmware/Guids.h"
#include "host/sim/SimFirmware.h"

namespace sim {

namespace {

SimFirmware *gOwner = nullptr;

SimFirmware &Owner() {
  if (gOwner == nullptr) {
    std::fprintf(stderr, "start-up service called without a simulated firmware\n");
    std::abort();
  }
  return *gOwner;
}

[[noreturn]] void EFIAPI UnexpectedStartupService() {
  std::fprintf(stderr, "the driver called a PCD or debug print service the simulation does not provide\n");
  std::abort();
}

void FillUnexpected(void *table, size_t size) {
  auto **slots = static_cast<void **>(table);
  for (size_t i = 0; i < size / sizeof(void *); i++) {
    slots[i] = reinterpret_cast<void *>(&UnexpectedStartupService);
  }
}

UINT8 EFIAPI ThunkPcdGet8(UINTN token) { return static_cast<UINT8>(Owner().PcdGet("Get8", token, 8)); }
UINT32 EFIAPI ThunkPcdGet32(UINTN token) { return static_cast<UINT32>(Owner().PcdGet("Get32", token, 32)); }
BOOLEAN EFIAPI ThunkPcdGetBool(UINTN token) { return static_cast<BOOLEAN>(Owner().PcdGet("GetBool", token, 1)); }
VOID EFIAPI ThunkDebugPrint(UINTN errorLevel, const CHAR8 *format, VA_LIST marker) {
  Owner().DebugPrint(errorLevel, format, FormatDebugMessage(format, marker));
}

}  // namespace

void SimFirmware::InstallStartupServices() {
  gOwner = this;

  // The platform's start-up services: PCD protocols, the debug print
  // service, another module's heap buffer list, the hand-off block list.
  if (platform_.protocols.pcd) {
    FillUnexpected(&pcd_, sizeof(pcd_));
    pcd_.Get8 = ThunkPcdGet8;
    pcd_.Get32 = ThunkPcdGet32;
    pcd_.GetBool = ThunkPcdGetBool;
    EFI_HANDLE handle = nullptr;
    InstallProtocol(&handle, gPcdProtocolGuid, &pcd_);
  }
  if (platform_.protocols.efiPcd) {
    FillUnexpected(efiPcd_, sizeof(efiPcd_));
    EFI_HANDLE handle = nullptr;
    InstallProtocol(&handle, gEfiPcdProtocolGuid, efiPcd_);
  }
  debugPrint_.Print = ThunkDebugPrint;
  if (platform_.protocols.debugPrint) {
    EFI_HANDLE handle = nullptr;
    InstallProtocol(&handle, gDebugPrintServiceGuid, &debugPrint_);
    debugPrintInstalled_ = true;
  }
  if (platform_.protocols.heapBufferList) {
    heapBufferList_.revision = 1;
    heapBufferList_.forward = &heapBufferList_.forward;
    heapBufferList_.back = &heapBufferList_.forward;
    EFI_HANDLE handle = nullptr;
    InstallProtocol(&handle, gHeapBufferListProtocolGuid, &heapBufferList_);
  }
  if (platform_.hobList.present) {
    hobList_ = BuildHobList(platform_.hobList);
    AppendZerosTheChainReaches(hobList_);
    AddConfigurationTable(gEfiHobListGuid, hobList_.data());
  }

  // The hardware behind the start-up services.
  for (size_t i = 0; i < platform_.cpu.pstates.size() && i < 8; i++) {
    hardware_.msrs[PSTATE_DEFINITION_MSR_FIRST + static_cast<uint32_t>(i)] = platform_.cpu.pstates[i];
  }
  hardware_.tsc = platform_.cpu.tscStart;
  hardware_.tscStep = platform_.cpu.tscStep;
  hardware_.stopOverrideAnswer = platform_.cpu.stopOverride;
  hardware_.stopDisplayLimit = platform_.cpu.stopDisplayValues;
  hardware_.platformRegisters.index = platform_.platformRegisters.index;
  hardware_.platformRegisters.registers = platform_.platformRegisters.registers;
  hardware_.AttachPlatformRegisters();
  if (platform_.uart.present) {
    hardware_.uart.lineStatus = platform_.uart.lineStatus;
    hardware_.uart.modemStatus = platform_.uart.modemStatus;
    hardware_.uart.lineStatusReadyOnRead = platform_.uart.lineStatusReadyOnRead;
    hardware_.uart.clearToSendOnRead = platform_.uart.clearToSendOnRead;
    hardware_.AttachUart();
  }
}

void SimFirmware::ReleaseStartupServices() {
  // A service called after its firmware is gone aborts with a message (in
  // Owner) instead of reaching freed memory, as the boot services do.
  if (gOwner == this) {
    gOwner = nullptr;
  }
}

uint64_t SimFirmware::PcdGet(const char *getter, UINTN token, unsigned width) {
  auto found = platform_.pcdTokens.find(token);
  uint64_t value = found == platform_.pcdTokens.end() ? 0 : found->second;
  if (width == 1) {
    value = value != 0 ? 1 : 0;
  } else if (width < 64) {
    value &= (1ULL << width) - 1;
  }
  pcdReads_.push_back({getter, token, value});
  return value;
}

void SimFirmware::DebugPrint(UINTN errorLevel, const CHAR8 *format, std::string text) {
  debugMessages_.push_back({errorLevel, format != nullptr ? format : "", std::move(text)});
}

}  // namespace sim
