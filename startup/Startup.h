// Driver start-up: the module globals for the firmware's tables, the entry
// point, the start-up chain and the configuration-table look-ups.
#pragma once

#include "firmware/Uefi.h"

extern EFI_SYSTEM_TABLE *gSystemTable;
extern EFI_BOOT_SERVICES *gBootServices;
extern EFI_RUNTIME_SERVICES *gRuntimeServices;

extern "C" EFI_STATUS EFIAPI DriverEntry(EFI_HANDLE ImageHandle, EFI_SYSTEM_TABLE *SystemTable);

EFI_STATUS RunLibraryConstructors(EFI_HANDLE ImageHandle, EFI_SYSTEM_TABLE *SystemTable);

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
