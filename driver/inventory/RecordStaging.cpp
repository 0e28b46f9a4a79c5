#include "driver/inventory/RecordStaging.h"

#include "driver/inventory/Inventory.h"

VOID AddStagedRecord(UINT8 *Record) {
  EFI_SMBIOS_TABLE_HEADER *Header = (EFI_SMBIOS_TABLE_HEADER *)Record;
  Header->Handle = SMBIOS_HANDLE_PI_RESERVED;
  gSmbios->Add(gSmbios, nullptr, &Header->Handle, Header);
}
