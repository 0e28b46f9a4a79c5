#include "firmware/Guids.h"
#include "platform/PlatformServices.h"
#include "startup/Memory.h"
#include "startup/Startup.h"

PLATFORM_CONFIG_SNAPSHOT gPlatformConfigSnapshot = {};
PCD_PROTOCOL *gPcdProtocol = nullptr;

namespace {
const CHAR8 kConstructorName[] = "VexCfgPcdBufLibDxeConstructor";
}  // namespace

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
    WriteDebugMessage(DEBUG_ERROR, "[%a] LocateProtocol: gPcdProtocolGuid, Status: %r\n", kConstructorName, Status);
    return;
  }
  VOID *PiPcd = nullptr;
  Status = gBootServices->LocateProtocol(&gEfiPcdProtocolGuid, nullptr, &PiPcd);
  if (EFI_ERROR(Status)) {
    WriteDebugMessage(DEBUG_ERROR, "[%a] LocateProtocol: gEfiPcdProtocolGuid, Status: %r\n", kConstructorName,
                      Status);
    return;
  }

  // Field by field, in byte order; the tokens are read through the kept
  // protocol pointer, in the order 625, 567, 628, 626, 576, 575, 627.
  gPlatformConfigSnapshot.Preset0[0] = 0x01;
  gPlatformConfigSnapshot.Preset0[1] = 0x03;
  gPlatformConfigSnapshot.Preset0[2] = 0x80;
  gPlatformConfigSnapshot.Preset0[3] = 0x00;
  gPlatformConfigSnapshot.FatalStopEnabled = 1;
  gPlatformConfigSnapshot.Preset5 = 0;
  gPlatformConfigSnapshot.Pcd625 = LocatePcdProtocolOnce()->GetBool(PCD_TOKEN_625);
  gPlatformConfigSnapshot.Pcd567 = LocatePcdProtocolOnce()->Get8(PCD_TOKEN_567);
  gPlatformConfigSnapshot.Preset8[0] = 0x02;
  gPlatformConfigSnapshot.Preset8[1] = 0x02;
  gPlatformConfigSnapshot.Preset10 = 2;
  gPlatformConfigSnapshot.Pcd628 = LocatePcdProtocolOnce()->Get32(PCD_TOKEN_628);
  gPlatformConfigSnapshot.Pcd626 = LocatePcdProtocolOnce()->GetBool(PCD_TOKEN_626);
  gPlatformConfigSnapshot.Pcd576 = LocatePcdProtocolOnce()->Get32(PCD_TOKEN_576);
  gPlatformConfigSnapshot.Pcd575 = LocatePcdProtocolOnce()->Get32(PCD_TOKEN_575);
  gPlatformConfigSnapshot.Pcd627 = LocatePcdProtocolOnce()->Get8(PCD_TOKEN_627);
  gPlatformConfigSnapshot.Preset25 = 2;
}
