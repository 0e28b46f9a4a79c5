#include "driver/devpath/DevicePath.h"
#include "driver/firmware/Guids.h"
#include "driver/firmware/Hardware.h"
#include "driver/firmware/BoardHardware.h"
#include "driver/firmware/Protocol/PciIo.h"
#include "driver/inventory/Inventory.h"
#include "driver/inventory/RecordStaging.h"
#include "driver/base/Memory.h"
#include "driver/base/Tables.h"

// The Secondary Bus Number of a PCI-to-PCI bridge's configuration header.
static constexpr UINT32 SECONDARY_BUS_REGISTER = 0x19;
// The Vendor ID of a function that does not answer.
static constexpr UINT16 NO_DEVICE = 0xFFFF;

// Finds the root port that feeds the slot and, when a device answers on the
// port's secondary bus, marks the slot in use at the port's location. Any
// failure leaves the row as stored. The converted path is returned to the
// pool here; *Cursor is left pointing where the location call left it.
static VOID ProbeSlotDevice(SystemSlotEntry *Slot, EFI_DEVICE_PATH_PROTOCOL **Cursor) {
  EFI_DEVICE_PATH_PROTOCOL *Converted = ConvertTextToDevicePath(Slot->DevicePathText);
  *Cursor = Converted;
  if (Converted == nullptr) {
    return;
  }

  EFI_HANDLE Handle = nullptr;
  EFI_PCI_IO_PROTOCOL *PciIo = nullptr;
  UINTN Segment = 0;
  UINTN Bus = 0;
  UINTN Device = 0;
  UINTN Function = 0;
  UINT8 SecondaryBus = 0;
  EFI_STATUS Status = gBootServices->LocateDevicePath(&gEfiDevicePathProtocolGuid, Cursor, &Handle);
  if (!EFI_ERROR(Status)) {
    Status = gBootServices->OpenProtocol(Handle, &gEfiPciIoProtocolGuid, (VOID **)&PciIo, nullptr, nullptr,
                                         EFI_OPEN_PROTOCOL_BY_HANDLE_PROTOCOL);
  }
  // A location or bus number the port did not give is never used.
  if (!EFI_ERROR(Status)) {
    Status = PciIo->GetLocation(PciIo, &Segment, &Bus, &Device, &Function);
  }
  if (!EFI_ERROR(Status)) {
    Status = PciIo->Pci.Read(PciIo, EfiPciIoWidthUint8, SECONDARY_BUS_REGISTER, 1, &SecondaryBus);
  }
  if (!EFI_ERROR(Status)) {
    UINTN ProbeOffset = (UINTN)SecondaryBus * PCI_EXPRESS_BUS_STRIDE;
    if (ProbeOffset < PCI_EXPRESS_WINDOW_SIZE && MmioRead16(PCI_EXPRESS_BASE + ProbeOffset) != NO_DEVICE) {
      Slot->Formatted.SegmentGroupNum = (UINT16)Segment;
      Slot->Formatted.BusNum = (UINT8)Bus;
      Slot->Formatted.DevFuncNum = (UINT8)(Device * SLOT_FUNCTIONS_PER_DEVICE + Function);
      Slot->Formatted.CurrentUsage = SLOT_USAGE_IN_USE;
    }
  }
  PoolFree(Converted);
}

VOID InstallSystemSlots(SystemSlotEntry *Table, UINT8 Count) {
  if (Count == 0) {
    return;
  }
  EFI_DEVICE_PATH_PROTOCOL **Paths =
      (EFI_DEVICE_PATH_PROTOCOL **)PoolAllocateZeroed((UINTN)Count * sizeof(EFI_DEVICE_PATH_PROTOCOL *));
  if (Paths == nullptr) {
    return;
  }
  for (UINT8 Row = 0; Row < Count; Row++) {
    SystemSlotEntry *Slot = &Table[Row];
    ProbeSlotDevice(Slot, &Paths[Row]);

    // Formatted area, the designation, its terminator and the final one.
    UINTN DesignationLength = AsciiStrLen(Slot->Designation);
    UINT8 *Record = (UINT8 *)PoolAllocateZeroed(DesignationLength + sizeof(SMBIOS_TABLE_TYPE9) + 2);
    if (Record == nullptr) {
      continue;
    }
    CopyMem(Record, &Slot->Formatted, sizeof(SMBIOS_TABLE_TYPE9));
    CopyMem(Record + sizeof(SMBIOS_TABLE_TYPE9), Slot->Designation, DesignationLength);
    AddStagedRecord(Record);
    PoolFree(Record);
  }
  PoolFree(Paths);
}
