// Hand-off block headers of the PI specification, as far as the driver reads them.
#pragma once

#include "driver/firmware/Uefi.h"

#define EFI_HOB_TYPE_GUID_EXTENSION 0x0004
#define EFI_HOB_TYPE_UNUSED 0xFFFE
#define EFI_HOB_TYPE_END_OF_HOB_LIST 0xFFFF

typedef struct {
  UINT16 HobType;
  UINT16 HobLength;
  UINT32 Reserved;
} EFI_HOB_GENERIC_HEADER;
static_assert(sizeof(EFI_HOB_GENERIC_HEADER) == 8, "HOB header");

typedef struct {
  EFI_HOB_GENERIC_HEADER Header;
  EFI_GUID Name;
  // Data follows.
} EFI_HOB_GUID_TYPE;
static_assert(sizeof(EFI_HOB_GUID_TYPE) == 24, "GUID extension HOB header");
