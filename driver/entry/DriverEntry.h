// The driver's composition root: the entry point and the start-up chain, the
// one part of the driver that knows all the others (driver/base/, driver/platform/,
// driver/inventory/).
#pragma once

#include "driver/firmware/Uefi.h"

extern "C" EFI_STATUS EFIAPI DriverEntry(EFI_HANDLE ImageHandle, EFI_SYSTEM_TABLE *SystemTable);

EFI_STATUS RunLibraryConstructors(EFI_HANDLE ImageHandle, EFI_SYSTEM_TABLE *SystemTable);
