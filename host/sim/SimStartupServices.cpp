// The simulated platform's start-up services as the driver reaches them: the
// PCD protocols and the debug print service wired to their services
// (SimPcd.h, SimDebugPrint.h), another module's heap buffer list, the
// hand-off block list in the configuration table, and the settings of the
// hardware behind the fatal stop and the debug output backends.
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "driver/firmware/BoardHardware.h"
#include "driver/firmware/Guids.h"
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

UINT8 EFIAPI ThunkPcdGet8(UINTN token) { return static_cast<UINT8>(Owner().Pcd().Get("Get8", token, 8)); }
UINT32 EFIAPI ThunkPcdGet32(UINTN token) { return static_cast<UINT32>(Owner().Pcd().Get("Get32", token, 32)); }
BOOLEAN EFIAPI ThunkPcdGetBool(UINTN token) { return static_cast<BOOLEAN>(Owner().Pcd().Get("GetBool", token, 1)); }
VOID EFIAPI ThunkDebugPrint(UINTN errorLevel, const CHAR8 *format, VA_LIST marker) {
  Owner().DebugPrint().Print(errorLevel, format, marker);
}

}  // namespace

void SimFirmware::InstallStartupServices() {
  gOwner = this;

  // The platform's start-up services: PCD protocols, the debug print
  // service, another module's heap buffer list, the hand-off block list.
  if (platform_.protocols.pcd) {
    FillUnexpected(&pcdProtocol_, sizeof(pcdProtocol_));
    pcdProtocol_.Get8 = ThunkPcdGet8;
    pcdProtocol_.Get32 = ThunkPcdGet32;
    pcdProtocol_.GetBool = ThunkPcdGetBool;
    EFI_HANDLE handle = nullptr;
    protocols_.InstallProtocol(&handle, gPcdProtocolGuid, &pcdProtocol_);
  }
  if (platform_.protocols.efiPcd) {
    FillUnexpected(efiPcdProtocol_, sizeof(efiPcdProtocol_));
    EFI_HANDLE handle = nullptr;
    protocols_.InstallProtocol(&handle, gEfiPcdProtocolGuid, efiPcdProtocol_);
  }
  debugPrintProtocol_.Print = ThunkDebugPrint;
  debugPrint_.InstallIfPresent();
  if (platform_.protocols.heapBufferList) {
    heapBufferList_.revision = 1;
    heapBufferList_.forward = &heapBufferList_.forward;
    heapBufferList_.back = &heapBufferList_.forward;
    EFI_HANDLE handle = nullptr;
    protocols_.InstallProtocol(&handle, gHeapBufferListProtocolGuid, &heapBufferList_);
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

}  // namespace sim
