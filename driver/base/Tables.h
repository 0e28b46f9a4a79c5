// The driver's base library: the module globals for the firmware's tables and the
// configuration-table look-ups. The entry point and the start-up chain that
// fill them are in driver/entry/DriverEntry.h.
#pragma once

#include "driver/firmware/Uefi.h"

// The firmware's tables; null at load, stored by RunLibraryConstructors
// before anything else of the driver runs.
extern EFI_SYSTEM_TABLE *gSystemTable;
extern EFI_BOOT_SERVICES *gBootServices;
extern EFI_RUNTIME_SERVICES *gRuntimeServices;

// Scans the configuration table from its first row for Guid. Sets *Table to
// null first; on the first matching row stores its VendorTable.
EFI_STATUS FindConfigurationTable(const EFI_GUID *Guid, VOID **Table);

// The hand-off block list pointer that LocateHobList keeps; null at load.
extern VOID *gHobList;

// The hand-off block list, looked up in the configuration table on first
// use and cached once found; null while absent.
VOID *LocateHobList(VOID);

// Compares two GUIDs as two 64-bit halves; neither needs to be aligned.
BOOLEAN CompareGuid(const EFI_GUID *Guid1, const EFI_GUID *Guid2);
