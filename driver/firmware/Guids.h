// The GUIDs through which the driver meets the firmware and other modules.
#pragma once

#include "driver/firmware/Uefi.h"

extern const EFI_GUID gEfiHobListGuid;
extern const EFI_GUID gEfiEndOfDxeEventGroupGuid;
extern const EFI_GUID gEfiSmbiosProtocolGuid;
extern const EFI_GUID gEfiDevicePathProtocolGuid;
extern const EFI_GUID gEfiPciIoProtocolGuid;
extern const EFI_GUID gPcdProtocolGuid;
extern const EFI_GUID gEfiPcdProtocolGuid;
extern const EFI_GUID gDebugPrintServiceGuid;
extern const EFI_GUID gNioTypeVariableGuid;
extern const EFI_GUID gHeapHandOffGuid;
extern const EFI_GUID gHeapBufferListProtocolGuid;
