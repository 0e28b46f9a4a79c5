// The board connector inventory: variant selection, the static board
// layouts, and the SMBIOS records built from them at End-of-DXE.
#pragma once

#include "firmware/Protocol/Smbios.h"
#include "firmware/Uefi.h"

#pragma pack(push, 1)
// SMBIOS Type 8, Port Connector Information.
typedef struct {
  UINT8 Type;
  UINT8 Length;
  UINT16 Handle;
  UINT8 InternalReferenceDesignator;
  UINT8 InternalConnectorType;
  UINT8 ExternalReferenceDesignator;
  UINT8 ExternalConnectorType;
  UINT8 PortType;
} SMBIOS_TABLE_TYPE8;

// SMBIOS Type 9, System Slots, as laid out up to version 2.6.
typedef struct {
  UINT8 Type;
  UINT8 Length;
  UINT16 Handle;
  UINT8 SlotDesignation;
  UINT8 SlotType;
  UINT8 SlotDataBusWidth;
  UINT8 CurrentUsage;
  UINT8 SlotLength;
  UINT16 SlotID;
  UINT8 SlotCharacteristics1;
  UINT8 SlotCharacteristics2;
  UINT16 SegmentGroupNum;
  UINT8 BusNum;
  UINT8 DevFuncNum;
} SMBIOS_TABLE_TYPE9;
#pragma pack(pop)
static_assert(sizeof(SMBIOS_TABLE_TYPE8) == 9, "Type 8 formatted area");
static_assert(sizeof(SMBIOS_TABLE_TYPE9) == 17, "Type 9 formatted area");
static_assert(offsetof(SMBIOS_TABLE_TYPE9, SegmentGroupNum) == 13, "Segment Group Number");
static_assert(offsetof(SMBIOS_TABLE_TYPE9, DevFuncNum) == 16, "Device/Function Number");

#define SMBIOS_TYPE_PORT_CONNECTOR_INFORMATION 8
#define SMBIOS_TYPE_SYSTEM_SLOTS 9

// String number of the External Reference Designator in every connector row.
#define EXTERNAL_DESIGNATOR_STRING_NUMBER 2

#define SLOT_USAGE_AVAILABLE 0x03
#define SLOT_USAGE_IN_USE 0x04

typedef struct {
  SMBIOS_TABLE_TYPE8 Formatted;
  const CHAR8 *InternalDesignator;
  const CHAR8 *ExternalDesignator;
} PortConnectorEntry;

typedef struct {
  SMBIOS_TABLE_TYPE9 Formatted;
  const CHAR8 *Designation;
  const CHAR16 *DevicePathText;
} SystemSlotEntry;

typedef struct {
  const CHAR8 *Name;
  const PortConnectorEntry *Connectors;
  UINT8 ConnectorCount;
  SystemSlotEntry *Slots;
  UINT8 SlotCount;
} BoardLayout;

extern const BoardLayout gLayoutA;
extern const BoardLayout gLayoutB;
extern const BoardLayout gLayoutC;

// The SMBIOS protocol located at End-of-DXE; read by the record builders.
extern EFI_SMBIOS_PROTOCOL *gSmbios;

// The name and vendor GUID of the variable that holds the variant word.
extern const CHAR16 gNioTypeVariableName[];

VOID EFIAPI OnEndOfDxe(EFI_EVENT Event, VOID *Context);

// Derives the variant code from the variant word. False when the word is
// zero or names a kind the driver does not act on.
BOOLEAN SelectVariantCode(UINT32 NioTypeWord, UINT8 *VariantCode);

// The layout of a variant code, or null for a code that has none.
const BoardLayout *LayoutForVariant(UINT8 VariantCode);

VOID InstallPortConnectors(const PortConnectorEntry *Table, UINT8 Count);

// Probes each slot's root port over PCI and adds one Type 9 record per row,
// after every Type 8 record. Rows whose probe finds a device behind the port
// are updated in place to In use at the port's location.
VOID InstallSystemSlots(SystemSlotEntry *Table, UINT8 Count);
