// How the inventory hands a staged record to the SMBIOS table.
#pragma once

#include "driver/firmware/Uefi.h"

// Record is a staged record: its formatted area, then its string set. Sets
// the Handle field to 0xFFFE and adds the record through gSmbios, passing
// the Handle field itself as the in/out handle, so that the handle the
// table assigns lands in the staged record. The status is not examined:
// a record that cannot be added is simply missing.
VOID AddStagedRecord(UINT8 *Record);
