// The PCI I/O protocol: the slot probe uses GetLocation and Pci.Read.
#pragma once

#include "driver/firmware/Uefi.h"

typedef enum {
  EfiPciIoWidthUint8,
  EfiPciIoWidthUint16,
  EfiPciIoWidthUint32,
  EfiPciIoWidthUint64,
  EfiPciIoWidthFifoUint8,
  EfiPciIoWidthFifoUint16,
  EfiPciIoWidthFifoUint32,
  EfiPciIoWidthFifoUint64,
  EfiPciIoWidthFillUint8,
  EfiPciIoWidthFillUint16,
  EfiPciIoWidthFillUint32,
  EfiPciIoWidthFillUint64,
  EfiPciIoWidthMaximum
} EFI_PCI_IO_PROTOCOL_WIDTH;

struct EFI_PCI_IO_PROTOCOL;

typedef EFI_STATUS(EFIAPI *EFI_PCI_IO_PROTOCOL_CONFIG)(EFI_PCI_IO_PROTOCOL *This, EFI_PCI_IO_PROTOCOL_WIDTH Width,
                                                       UINT32 Offset, UINTN Count, VOID *Buffer);
typedef EFI_STATUS(EFIAPI *EFI_PCI_IO_PROTOCOL_GET_LOCATION)(EFI_PCI_IO_PROTOCOL *This, UINTN *SegmentNumber,
                                                             UINTN *BusNumber, UINTN *DeviceNumber,
                                                             UINTN *FunctionNumber);

typedef struct {
  VOID *Read;
  VOID *Write;
} EFI_PCI_IO_PROTOCOL_ACCESS;

typedef struct {
  EFI_PCI_IO_PROTOCOL_CONFIG Read;
  EFI_PCI_IO_PROTOCOL_CONFIG Write;
} EFI_PCI_IO_PROTOCOL_CONFIG_ACCESS;

struct EFI_PCI_IO_PROTOCOL {
  VOID *PollMem;
  VOID *PollIo;
  EFI_PCI_IO_PROTOCOL_ACCESS Mem;
  EFI_PCI_IO_PROTOCOL_ACCESS Io;
  EFI_PCI_IO_PROTOCOL_CONFIG_ACCESS Pci;
  VOID *CopyMem;
  VOID *Map;
  VOID *Unmap;
  VOID *AllocateBuffer;
  VOID *FreeBuffer;
  VOID *Flush;
  EFI_PCI_IO_PROTOCOL_GET_LOCATION GetLocation;
  VOID *Attributes;
  VOID *GetBarAttributes;
  VOID *SetBarAttributes;
  UINT64 RomSize;
  VOID *RomImage;
};
static_assert(offsetof(EFI_PCI_IO_PROTOCOL, Pci) == 48, "Pci.Read");
static_assert(offsetof(EFI_PCI_IO_PROTOCOL, GetLocation) == 112, "GetLocation");
static_assert(sizeof(EFI_PCI_IO_PROTOCOL) == 160, "EFI_PCI_IO_PROTOCOL size");
