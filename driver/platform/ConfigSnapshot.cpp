#include "driver/firmware/Guids.h"
#include "driver/platform/ConfigSnapshot.h"
#include "driver/platform/DebugMessage.h"
#include "driver/base/Memory.h"
#include "driver/base/Tables.h"

PLATFORM_CONFIG_SNAPSHOT gPlatformConfigSnapshot = {};
PCD_PROTOCOL *gPcdProtocol = nullptr;

// The constructor's name, as its messages give it.
static const CHAR8 CONSTRUCTOR_NAME[] = "VexCfgPcdBufLibDxeConstructor";

PCD_PROTOCOL *LocatePcdProtocolOnce(VOID) {
  if (gPcdProtocol == nullptr) {
    // A failed look-up leaves the cache null; the next call tries again.
    gBootServices->LocateProtocol(&gPcdProtocolGuid, nullptr, (VOID **)&gPcdProtocol);
  }
  return gPcdProtocol;
}

VOID VexCfgPcdBufLibDxeConstructor(VOID) {
  ZeroMem(&gPlatformConfigSnapshot, sizeof(gPlatformConfigSnapshot));

  VOID *Pcd = nullptr;
  EFI_STATUS Status = gBootServices->LocateProtocol(&gPcdProtocolGuid, nullptr, &Pcd);
  if (EFI_ERROR(Status)) {
    WriteDebugMessage(DEBUG_ERROR, "[%a] LocateProtocol: gPcdProtocolGuid, Status: %r\n", CONSTRUCTOR_NAME, Status);
    return;
  }
  VOID *PiPcd = nullptr;
  Status = gBootServices->LocateProtocol(&gEfiPcdProtocolGuid, nullptr, &PiPcd);
  if (EFI_ERROR(Status)) {
    WriteDebugMessage(DEBUG_ERROR, "[%a] LocateProtocol: gEfiPcdProtocolGuid, Status: %r\n", CONSTRUCTOR_NAME,
                      Status);
    return;
  }

  // Field by field, in byte order; the tokens are read through the kept
  // protocol pointer, in the order 625, 567, 628, 626, 576, 575, 627.
  gPlatformConfigSnapshot.Preset0[0] = SNAPSHOT_PRESET0_BYTE0;
  gPlatformConfigSnapshot.Preset0[1] = SNAPSHOT_PRESET0_BYTE1;
  gPlatformConfigSnapshot.Preset0[2] = SNAPSHOT_PRESET0_BYTE2;
  gPlatformConfigSnapshot.Preset0[3] = SNAPSHOT_PRESET0_BYTE3;
  gPlatformConfigSnapshot.FatalStopEnabled = FATAL_STOP_POLICY_ON;
  gPlatformConfigSnapshot.Preset5 = SNAPSHOT_PRESET5;
  gPlatformConfigSnapshot.Pcd625 = LocatePcdProtocolOnce()->GetBool(PCD_TOKEN_625);
  gPlatformConfigSnapshot.Pcd567 = LocatePcdProtocolOnce()->Get8(PCD_TOKEN_567);
  gPlatformConfigSnapshot.Preset8[0] = SNAPSHOT_PRESET8_BYTE0;
  gPlatformConfigSnapshot.Preset8[1] = SNAPSHOT_PRESET8_BYTE1;
  gPlatformConfigSnapshot.Preset10 = SNAPSHOT_PRESET10;
  gPlatformConfigSnapshot.Pcd628 = LocatePcdProtocolOnce()->Get32(PCD_TOKEN_628);
  gPlatformConfigSnapshot.Pcd626 = LocatePcdProtocolOnce()->GetBool(PCD_TOKEN_626);
  gPlatformConfigSnapshot.Pcd576 = LocatePcdProtocolOnce()->Get32(PCD_TOKEN_576);
  gPlatformConfigSnapshot.Pcd575 = LocatePcdProtocolOnce()->Get32(PCD_TOKEN_575);
  gPlatformConfigSnapshot.Pcd627 = LocatePcdProtocolOnce()->Get8(PCD_TOKEN_627);
  gPlatformConfigSnapshot.Preset25 = SNAPSHOT_PRESET25;
}
