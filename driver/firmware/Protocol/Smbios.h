// The PI SMBIOS protocol: the driver adds its records through Add.
#pragma once

#include "driver/firmware/Uefi.h"

typedef UINT16 EFI_SMBIOS_HANDLE;
typedef UINT8 EFI_SMBIOS_TYPE;

// Asks Add to assign a fresh handle.
#define SMBIOS_HANDLE_PI_RESERVED 0xFFFE
#define SMBIOS_HANDLE_RESERVED 0xFFFF

typedef struct {
  UINT8 Type;
  UINT8 Length;
  UINT16 Handle;
} EFI_SMBIOS_TABLE_HEADER;
static_assert(sizeof(EFI_SMBIOS_TABLE_HEADER) == 4, "SMBIOS structure header");

struct EFI_SMBIOS_PROTOCOL;

typedef EFI_STATUS(EFIAPI *EFI_SMBIOS_ADD)(EFI_SMBIOS_PROTOCOL *This, EFI_HANDLE ProducerHandle,
                                           EFI_SMBIOS_HANDLE *SmbiosHandle, EFI_SMBIOS_TABLE_HEADER *Record);

struct EFI_SMBIOS_PROTOCOL {
  EFI_SMBIOS_ADD Add;
  VOID *UpdateString;
  VOID *Remove;
  VOID *GetNext;
  UINT8 MajorVersion;
  UINT8 MinorVersion;
};
static_assert(offsetof(EFI_SMBIOS_PROTOCOL, Add) == 0, "Add");
static_assert(offsetof(EFI_SMBIOS_PROTOCOL, MajorVersion) == 32, "MajorVersion");
