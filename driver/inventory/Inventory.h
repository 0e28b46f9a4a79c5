// The board connector inventory: variant selection, the static board
// layouts, and the SMBIOS records built from them at End-of-DXE.
#pragma once

#include "driver/firmware/Protocol/Smbios.h"
#include "driver/firmware/Uefi.h"

// SMBIOS structure types.
static constexpr UINT8 SMBIOS_TYPE_PORT_CONNECTOR_INFORMATION = 8;
static constexpr UINT8 SMBIOS_TYPE_SYSTEM_SLOTS = 9;

// A staged record's Handle until AddStagedRecord sets SMBIOS_HANDLE_PI_RESERVED.
static constexpr UINT16 STAGED_RECORD_HANDLE = 0x0000;

// String numbers of the records' strings: 1 is the first string of the set.
static constexpr UINT8 INTERNAL_DESIGNATOR_STRING_NUMBER = 1;
static constexpr UINT8 EXTERNAL_DESIGNATOR_STRING_NUMBER = 2;
static constexpr UINT8 SLOT_DESIGNATION_STRING_NUMBER = 1;

// Port Connector Information: connector types (internal and external).
static constexpr UINT8 PORT_CONNECTOR_TYPE_NONE = 0x00;
static constexpr UINT8 PORT_CONNECTOR_TYPE_RJ45 = 0x0B;
static constexpr UINT8 PORT_CONNECTOR_TYPE_ACCESS_BUS_USB = 0x12;
static constexpr UINT8 PORT_CONNECTOR_TYPE_USB_TYPE_C_RECEPTACLE = 0x23;
static constexpr UINT8 PORT_CONNECTOR_TYPE_OTHER = 0xFF;

// Port Connector Information: port types.
static constexpr UINT8 PORT_TYPE_SERIAL_16550_COMPATIBLE = 0x08;
static constexpr UINT8 PORT_TYPE_USB = 0x10;
static constexpr UINT8 PORT_TYPE_VIDEO_PORT = 0x1C;
static constexpr UINT8 PORT_TYPE_NETWORK_PORT = 0x1F;
static constexpr UINT8 PORT_TYPE_OTHER = 0xFF;

// System Slots: slot types.
static constexpr UINT8 SLOT_TYPE_M2_SOCKET_1_SD_KEY_E = 0x15;  // M.2 Socket 1-SD (Mechanical Key E)
static constexpr UINT8 SLOT_TYPE_M2_SOCKET_3_KEY_M = 0x17;     // M.2 Socket 3 (Mechanical Key M)

// System Slots: slot data bus widths.
static constexpr UINT8 SLOT_DATA_BUS_WIDTH_X1 = 0x08;  // 1x or x1
static constexpr UINT8 SLOT_DATA_BUS_WIDTH_X4 = 0x0A;  // 4x or x4

// System Slots: current usage.
static constexpr UINT8 SLOT_USAGE_AVAILABLE = 0x03;
static constexpr UINT8 SLOT_USAGE_IN_USE = 0x04;

// System Slots: slot lengths.
static constexpr UINT8 SLOT_LENGTH_SHORT = 0x03;

// System Slots: slot characteristics 1, bits.
static constexpr UINT8 SLOT_CHARACTERISTICS_1_PROVIDES_3_3_VOLTS = 1 << 2;

// System Slots: slot characteristics 2, bits.
static constexpr UINT8 SLOT_CHARACTERISTICS_2_PME_SIGNAL = 1 << 0;  // the PCI slot supports PME#
static constexpr UINT8 SLOT_CHARACTERISTICS_2_HOT_PLUG = 1 << 1;    // the slot supports hot-plug devices

// System Slots: the Device/Function Number holds the device number in bits
// 7..3 and the function number in bits 2..0.
static constexpr UINTN SLOT_FUNCTIONS_PER_DEVICE = 8;

#pragma pack(push, 1)
// SMBIOS Type 8, Port Connector Information.
typedef struct {
  UINT8 Type;    // SMBIOS_TYPE_PORT_CONNECTOR_INFORMATION
  UINT8 Length;  // of the formatted area
  UINT16 Handle;
  UINT8 InternalReferenceDesignator;  // a string number
  UINT8 InternalConnectorType;        // PORT_CONNECTOR_TYPE_...
  UINT8 ExternalReferenceDesignator;  // a string number
  UINT8 ExternalConnectorType;        // PORT_CONNECTOR_TYPE_...
  UINT8 PortType;                     // PORT_TYPE_...
} SMBIOS_TABLE_TYPE8;

// SMBIOS Type 9, System Slots, as laid out up to version 2.6.
typedef struct {
  UINT8 Type;    // SMBIOS_TYPE_SYSTEM_SLOTS
  UINT8 Length;  // of the formatted area
  UINT16 Handle;
  UINT8 SlotDesignation;       // a string number
  UINT8 SlotType;              // SLOT_TYPE_...
  UINT8 SlotDataBusWidth;      // SLOT_DATA_BUS_WIDTH_...
  UINT8 CurrentUsage;          // SLOT_USAGE_...
  UINT8 SlotLength;            // SLOT_LENGTH_...
  UINT16 SlotID;
  UINT8 SlotCharacteristics1;  // SLOT_CHARACTERISTICS_1_... bits
  UINT8 SlotCharacteristics2;  // SLOT_CHARACTERISTICS_2_... bits
  UINT16 SegmentGroupNum;
  UINT8 BusNum;
  UINT8 DevFuncNum;  // device number times SLOT_FUNCTIONS_PER_DEVICE, plus the function number
} SMBIOS_TABLE_TYPE9;
#pragma pack(pop)
static_assert(sizeof(SMBIOS_TABLE_TYPE8) == 9, "Type 8 formatted area");
static_assert(sizeof(SMBIOS_TABLE_TYPE9) == 17, "Type 9 formatted area");
static_assert(offsetof(SMBIOS_TABLE_TYPE9, SegmentGroupNum) == 13, "Segment Group Number");
static_assert(offsetof(SMBIOS_TABLE_TYPE9, DevFuncNum) == 16, "Device/Function Number");

// Byte-packed, 25 bytes a row: the layouts hold 46 connector rows, which
// would otherwise carry 7 bytes of padding each.
#pragma pack(push, 1)
typedef struct {
  SMBIOS_TABLE_TYPE8 Formatted;
  const CHAR8 *InternalDesignator;
  const CHAR8 *ExternalDesignator;
} PortConnectorEntry;
#pragma pack(pop)
static_assert(sizeof(PortConnectorEntry) == sizeof(SMBIOS_TABLE_TYPE8) + 2 * sizeof(const CHAR8 *),
              "connector rows without padding");

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

// Derives the variant code from the variant word. FALSE when the word is
// zero or names a kind the driver does not act on.
BOOLEAN SelectVariantCode(UINT32 NioTypeWord, UINT8 *VariantCode);

// The layout of a variant code, or null for a code that has none.
const BoardLayout *LayoutForVariant(UINT8 VariantCode);

VOID InstallPortConnectors(const PortConnectorEntry *Table, UINT8 Count);

// Probes each slot's root port over PCI and adds one Type 9 record per row,
// after every Type 8 record. Rows whose probe finds a device behind the port
// are updated in place to In use at the port's location.
VOID InstallSystemSlots(SystemSlotEntry *Table, UINT8 Count);
