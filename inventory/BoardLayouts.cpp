// The board family's connectors and M.2 slots. Connector rows are only
// read; slot rows are updated in place by PCI discovery, so every layout
// has its own copy of its slot rows.
#include "inventory/Inventory.h"

namespace {

// Connector types.
constexpr UINT8 kNone = 0x00;
constexpr UINT8 kRj45 = 0x0B;
constexpr UINT8 kAccessBusUsb = 0x12;
constexpr UINT8 kUsbTypeC = 0x23;
constexpr UINT8 kOther = 0xFF;
// Port types.
constexpr UINT8 kSerial16550 = 0x08;
constexpr UINT8 kUsbPort = 0x10;
constexpr UINT8 kVideoPort = 0x1C;
constexpr UINT8 kNetworkPort = 0x1F;
constexpr UINT8 kOtherPort = 0xFF;
// Slot types and widths.
constexpr UINT8 kM2Socket3KeyM = 0x17;
constexpr UINT8 kM2Socket1SdKeyE = 0x15;
constexpr UINT8 kWidthX1 = 0x08;
constexpr UINT8 kWidthX4 = 0x0A;

constexpr PortConnectorEntry Connector(const CHAR8 *Internal, UINT8 InternalType, const CHAR8 *External,
                                       UINT8 ExternalType, UINT8 PortType) {
  return {{SMBIOS_TYPE_PORT_CONNECTOR_INFORMATION, sizeof(SMBIOS_TABLE_TYPE8), 0x0000, 1, InternalType,
           EXTERNAL_DESIGNATOR_STRING_NUMBER, ExternalType, PortType},
          Internal,
          External};
}

// Every slot: short, 3.3 V, PME# and hot-plug, segment 0, Available until probed.
constexpr SystemSlotEntry Slot(const CHAR8 *Designation, UINT8 SlotType, UINT8 Width, UINT16 SlotId, UINT8 Bus,
                               UINT8 DevFunc, const CHAR16 *DevicePathText) {
  return {{SMBIOS_TYPE_SYSTEM_SLOTS, sizeof(SMBIOS_TABLE_TYPE9), 0x0000, 1, SlotType, Width, SLOT_USAGE_AVAILABLE,
           0x03, SlotId, 0x04, 0x03, 0x0000, Bus, DevFunc},
          Designation,
          DevicePathText};
}

#define SLOT_NVME1 Slot("NVME1", kM2Socket3KeyM, kWidthX4, 1, 0x00, 0x09, u"PciRoot(0x0)/Pci(0x0,0x3)")
#define SLOT_NVME2 Slot("NVME2", kM2Socket3KeyM, kWidthX4, 2, 0x00, 0x12, u"PciRoot(0x0)/Pci(0x3,0x7)")
#define SLOT_NVME0 Slot("NVME0", kM2Socket3KeyM, kWidthX4, 0, 0x01, 0x13, u"PciRoot(0x0)/Pci(0x16,0x19)")
#define SLOT_WIFI Slot("WI-FI", kM2Socket1SdKeyE, kWidthX1, 3, 0x01, 0x13, u"PciRoot(0x0)/Pci(0x8,0x8)")

const PortConnectorEntry gLayoutAConnectors[] = {
    Connector("J28", kRj45, "2.5 GbE 1", kRj45, kNetworkPort),
    Connector("J28", kRj45, "2.5 GbE 2", kRj45, kNetworkPort),
    Connector("CON2", kAccessBusUsb, "5GB/s USB", kAccessBusUsb, kUsbPort),
    Connector("CON3", kAccessBusUsb, "5GB/s USB", kAccessBusUsb, kUsbPort),
    Connector("CON4", kAccessBusUsb, "5GB/s USB", kAccessBusUsb, kUsbPort),
    Connector("CON1", kAccessBusUsb, "10GB/s USB", kAccessBusUsb, kUsbPort),
    Connector("J13", kAccessBusUsb, "Console", kAccessBusUsb, kSerial16550),
    Connector("J127", kNone, "DisplayPort", kOther, kVideoPort),
    Connector("J24", kNone, "mini-DP 1", kOther, kVideoPort),
    Connector("J25", kNone, "mini-DP 2", kOther, kVideoPort),
    Connector("J23", kNone, "HDMI", kOther, kVideoPort),
    Connector("J91", kNone, "NVME 0", kOther, kVideoPort),
    Connector("CON3", kNone, "NVME 1", kOther, kVideoPort),
    Connector("CON2", kNone, "NVME 2", kOther, kVideoPort),
    Connector("CJ21", kNone, "LTE", kOther, kUsbPort),
    Connector("CON5", kNone, "WI-FI", kOther, kVideoPort),
    Connector("J40", kNone, "SIM 1", kOther, kOtherPort),
    Connector("J41", kNone, "SIM 2", kOther, kOtherPort),
    Connector("J123", kNone, "Remote Power Button", kOther, kOtherPort),
};

const PortConnectorEntry gLayoutBConnectors[] = {
    Connector("CON9", kRj45, "2.5 GbE 1", kRj45, kNetworkPort),
    Connector("CON9", kRj45, "2.5 GbE 2", kRj45, kNetworkPort),
    Connector("CON9", kRj45, "2.5 GbE 3", kRj45, kNetworkPort),
    Connector("CON9", kRj45, "2.5 GbE 4", kRj45, kNetworkPort),
    Connector("CON1", kAccessBusUsb, "5GB/s USB", kAccessBusUsb, kUsbPort),
    Connector("CON2", kAccessBusUsb, "5GB/s USB", kAccessBusUsb, kUsbPort),
    Connector("CON3", kAccessBusUsb, "5GB/s USB", kAccessBusUsb, kUsbPort),
    Connector("CON4", kAccessBusUsb, "10GB/s USB", kAccessBusUsb, kUsbPort),
    Connector("J13", kAccessBusUsb, "Console", kAccessBusUsb, kSerial16550),
    Connector("J106", kUsbTypeC, "USB-C", kUsbTypeC, kVideoPort),
    Connector("J23", kOther, "HDMI", kOther, kVideoPort),
    Connector("J91", kOther, "NVME 0", kOther, kVideoPort),
    Connector("CON3", kOther, "NVME 1", kOther, kVideoPort),
    Connector("CON2", kOther, "NVME 2", kOther, kVideoPort),
    Connector("CJ21", kOther, "LTE", kOther, kUsbPort),
    Connector("CON5", kOther, "WI-FI", kOther, kVideoPort),
    Connector("J40", kOther, "SIM 1", kOther, kOtherPort),
    Connector("J41", kOther, "SIM 2", kOther, kOtherPort),
    Connector("J123", kOther, "Remote Power Button", kOther, kOtherPort),
};

const PortConnectorEntry gLayoutCConnectors[] = {
    Connector("CON9", kRj45, "2.5 GbE 1", kRj45, kNetworkPort),
    Connector("CON9", kRj45, "2.5 GbE 2", kRj45, kNetworkPort),
    Connector("CON4", kAccessBusUsb, "5GB/s USB", kAccessBusUsb, kUsbPort),
    Connector("CON5", kAccessBusUsb, "10GB/s USB", kAccessBusUsb, kUsbPort),
    Connector("J13", kAccessBusUsb, "Console", kAccessBusUsb, kSerial16550),
    Connector("J3", kNone, "mini-DP 1", kOther, kVideoPort),
    Connector("J10", kNone, "mini-DP 2", kOther, kVideoPort),
    Connector("J91", kNone, "NVME 0", kOther, kVideoPort),
};

SystemSlotEntry gLayoutASlots[] = {SLOT_NVME1, SLOT_NVME2, SLOT_NVME0, SLOT_WIFI};
SystemSlotEntry gLayoutBSlots[] = {SLOT_NVME1, SLOT_NVME2, SLOT_NVME0, SLOT_WIFI};
SystemSlotEntry gLayoutCSlots[] = {SLOT_NVME0};

template <typename T, UINTN N>
constexpr UINT8 RowCount(T (&)[N]) {
  static_assert(N <= 0xFF, "row counts are 8-bit");
  return (UINT8)N;
}

}  // namespace

const BoardLayout gLayoutA = {"Layout A", gLayoutAConnectors, RowCount(gLayoutAConnectors), gLayoutASlots,
                              RowCount(gLayoutASlots)};
const BoardLayout gLayoutB = {"Layout B", gLayoutBConnectors, RowCount(gLayoutBConnectors), gLayoutBSlots,
                              RowCount(gLayoutBSlots)};
const BoardLayout gLayoutC = {"Layout C", gLayoutCConnectors, RowCount(gLayoutCConnectors), gLayoutCSlots,
                              RowCount(gLayoutCSlots)};
