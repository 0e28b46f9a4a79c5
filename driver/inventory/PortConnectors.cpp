#include "driver/inventory/Inventory.h"
#include "driver/inventory/RecordStaging.h"
#include "driver/base/Memory.h"

VOID InstallPortConnectors(const PortConnectorEntry *Table, UINT8 Count) {
  if (Count == 0) {
    return;
  }
  for (UINT8 Row = 0; Row < Count; Row++) {
    const PortConnectorEntry *Entry = &Table[Row];
    UINTN InternalLength = AsciiStrLen(Entry->InternalDesignator);
    UINTN ExternalLength = AsciiStrLen(Entry->ExternalDesignator);

    // Formatted area, one terminator per string and the final terminator;
    // the zero fill provides all three.
    UINTN RecordSize = InternalLength + ExternalLength + sizeof(SMBIOS_TABLE_TYPE8) + 3;
    UINT8 *Record = (UINT8 *)PoolAllocateZeroed(RecordSize);
    if (Record == nullptr) {
      // Without a staging buffer this row cannot be added; the others can.
      continue;
    }

    CopyMem(Record, &Entry->Formatted, sizeof(SMBIOS_TABLE_TYPE8));
    CopyMem(Record + sizeof(SMBIOS_TABLE_TYPE8), Entry->InternalDesignator, InternalLength);
    if (Entry->Formatted.ExternalReferenceDesignator == EXTERNAL_DESIGNATOR_STRING_NUMBER) {
      CopyMem(Record + sizeof(SMBIOS_TABLE_TYPE8) + InternalLength + 1, Entry->ExternalDesignator, ExternalLength);
    }

    AddStagedRecord(Record);
    PoolFree(Record);
  }
}
