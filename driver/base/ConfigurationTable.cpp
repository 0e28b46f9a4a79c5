#include "driver/firmware/Guids.h"
#include "driver/base/Tables.h"

VOID *gHobList = nullptr;

BOOLEAN CompareGuid(const EFI_GUID *Guid1, const EFI_GUID *Guid2) {
  UINT64 Left[2];
  UINT64 Right[2];
  __builtin_memcpy(Left, Guid1, sizeof(Left));
  __builtin_memcpy(Right, Guid2, sizeof(Right));
  return Left[0] == Right[0] && Left[1] == Right[1];
}

EFI_STATUS FindConfigurationTable(const EFI_GUID *Guid, VOID **Table) {
  *Table = nullptr;
  for (UINTN Index = 0; Index < gSystemTable->NumberOfTableEntries; Index++) {
    if (CompareGuid(&gSystemTable->ConfigurationTable[Index].VendorGuid, Guid)) {
      *Table = gSystemTable->ConfigurationTable[Index].VendorTable;
      return EFI_SUCCESS;
    }
  }
  return EFI_NOT_FOUND;
}

VOID *LocateHobList(VOID) {
  if (gHobList == nullptr) {
    FindConfigurationTable(&gEfiHobListGuid, &gHobList);
  }
  return gHobList;
}
