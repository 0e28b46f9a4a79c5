// The board family's connectors and M.2 slots. Connector rows are only
// read; slot rows are updated in place by PCI discovery, so every layout
// has its own copy of its slot rows.
#include "driver/inventory/Inventory.h"

static constexpr PortConnectorEntry Connector(const CHAR8 *Internal, UINT8 InternalType, const CHAR8 *External,
                                              UINT8 ExternalType, UINT8 PortType) {
  return {{SMBIOS_TYPE_PORT_CONNECTOR_INFORMATION, sizeof(SMBIOS_TABLE_TYPE8), STAGED_RECORD_HANDLE,
           INTERNAL_DESIGNATOR_STRING_NUMBER, InternalType, EXTERNAL_DESIGNATOR_STRING_NUMBER, ExternalType, PortType},
          Internal,
          External};
}

// Every slot: short, 3.3 V, PME# and hot-plug, segment 0, Available until
// probed.
static constexpr SystemSlotEntry Slot(const CHAR8 *Designation, UINT8 SlotType, UINT8 Width, UINT16 SlotId, UINT8 Bus,
                                      UINT8 DevFunc, const CHAR16 *DevicePathText) {
  return {{SMBIOS_TYPE_SYSTEM_SLOTS, sizeof(SMBIOS_TABLE_TYPE9), STAGED_RECORD_HANDLE, SLOT_DESIGNATION_STRING_NUMBER,
           SlotType, Width, SLOT_USAGE_AVAILABLE, SLOT_LENGTH_SHORT, SlotId, SLOT_CHARACTERISTICS_1_PROVIDES_3_3_VOLTS,
           SLOT_CHARACTERISTICS_2_PME_SIGNAL | SLOT_CHARACTERISTICS_2_HOT_PLUG, 0x0000, Bus, DevFunc},
          Designation,
          DevicePathText};
}

// The board's slots, as stored before any probe: bus and device/function
// are the rows' own until the probe finds a device.
static constexpr SystemSlotEntry SLOT_NVME1 = Slot("NVME1", SLOT_TYPE_M2_SOCKET_3_KEY_M, SLOT_DATA_BUS_WIDTH_X4, 1,
                                                   0x00, 0x09, u"PciRoot(0x0)/Pci(0x0,0x3)");
static constexpr SystemSlotEntry SLOT_NVME2 = Slot("NVME2", SLOT_TYPE_M2_SOCKET_3_KEY_M, SLOT_DATA_BUS_WIDTH_X4, 2,
                                                   0x00, 0x12, u"PciRoot(0x0)/Pci(0x3,0x7)");
static constexpr SystemSlotEntry SLOT_NVME0 = Slot("NVME0", SLOT_TYPE_M2_SOCKET_3_KEY_M, SLOT_DATA_BUS_WIDTH_X4, 0,
                                                   0x01, 0x13, u"PciRoot(0x0)/Pci(0x16,0x19)");
static constexpr SystemSlotEntry SLOT_WIFI = Slot("WI-FI", SLOT_TYPE_M2_SOCKET_1_SD_KEY_E, SLOT_DATA_BUS_WIDTH_X1, 3,
                                                  0x01, 0x13, u"PciRoot(0x0)/Pci(0x8,0x8)");

static const PortConnectorEntry gLayoutAConnectors[] = {
    Connector("J28", PORT_CONNECTOR_TYPE_RJ45, "2.5 GbE 1", PORT_CONNECTOR_TYPE_RJ45, PORT_TYPE_NETWORK_PORT),
    Connector("J28", PORT_CONNECTOR_TYPE_RJ45, "2.5 GbE 2", PORT_CONNECTOR_TYPE_RJ45, PORT_TYPE_NETWORK_PORT),
    Connector("CON2", PORT_CONNECTOR_TYPE_ACCESS_BUS_USB,
              "5GB/s USB", PORT_CONNECTOR_TYPE_ACCESS_BUS_USB, PORT_TYPE_USB),
    Connector("CON3", PORT_CONNECTOR_TYPE_ACCESS_BUS_USB,
              "5GB/s USB", PORT_CONNECTOR_TYPE_ACCESS_BUS_USB, PORT_TYPE_USB),
    Connector("CON4", PORT_CONNECTOR_TYPE_ACCESS_BUS_USB,
              "5GB/s USB", PORT_CONNECTOR_TYPE_ACCESS_BUS_USB, PORT_TYPE_USB),
    Connector("CON1", PORT_CONNECTOR_TYPE_ACCESS_BUS_USB,
              "10GB/s USB", PORT_CONNECTOR_TYPE_ACCESS_BUS_USB, PORT_TYPE_USB),
    Connector("J13", PORT_CONNECTOR_TYPE_ACCESS_BUS_USB,
              "Console", PORT_CONNECTOR_TYPE_ACCESS_BUS_USB, PORT_TYPE_SERIAL_16550_COMPATIBLE),
    Connector("J127", PORT_CONNECTOR_TYPE_NONE, "DisplayPort", PORT_CONNECTOR_TYPE_OTHER, PORT_TYPE_VIDEO_PORT),
    Connector("J24", PORT_CONNECTOR_TYPE_NONE, "mini-DP 1", PORT_CONNECTOR_TYPE_OTHER, PORT_TYPE_VIDEO_PORT),
    Connector("J25", PORT_CONNECTOR_TYPE_NONE, "mini-DP 2", PORT_CONNECTOR_TYPE_OTHER, PORT_TYPE_VIDEO_PORT),
    Connector("J23", PORT_CONNECTOR_TYPE_NONE, "HDMI", PORT_CONNECTOR_TYPE_OTHER, PORT_TYPE_VIDEO_PORT),
    Connector("J91", PORT_CONNECTOR_TYPE_NONE, "NVME 0", PORT_CONNECTOR_TYPE_OTHER, PORT_TYPE_VIDEO_PORT),
    Connector("CON3", PORT_CONNECTOR_TYPE_NONE, "NVME 1", PORT_CONNECTOR_TYPE_OTHER, PORT_TYPE_VIDEO_PORT),
    Connector("CON2", PORT_CONNECTOR_TYPE_NONE, "NVME 2", PORT_CONNECTOR_TYPE_OTHER, PORT_TYPE_VIDEO_PORT),
    Connector("CJ21", PORT_CONNECTOR_TYPE_NONE, "LTE", PORT_CONNECTOR_TYPE_OTHER, PORT_TYPE_USB),
    Connector("CON5", PORT_CONNECTOR_TYPE_NONE, "WI-FI", PORT_CONNECTOR_TYPE_OTHER, PORT_TYPE_VIDEO_PORT),
    Connector("J40", PORT_CONNECTOR_TYPE_NONE, "SIM 1", PORT_CONNECTOR_TYPE_OTHER, PORT_TYPE_OTHER),
    Connector("J41", PORT_CONNECTOR_TYPE_NONE, "SIM 2", PORT_CONNECTOR_TYPE_OTHER, PORT_TYPE_OTHER),
    Connector("J123", PORT_CONNECTOR_TYPE_NONE, "Remote Power Button", PORT_CONNECTOR_TYPE_OTHER, PORT_TYPE_OTHER),
};

static const PortConnectorEntry gLayoutBConnectors[] = {
    Connector("CON9", PORT_CONNECTOR_TYPE_RJ45, "2.5 GbE 1", PORT_CONNECTOR_TYPE_RJ45, PORT_TYPE_NETWORK_PORT),
    Connector("CON9", PORT_CONNECTOR_TYPE_RJ45, "2.5 GbE 2", PORT_CONNECTOR_TYPE_RJ45, PORT_TYPE_NETWORK_PORT),
    Connector("CON9", PORT_CONNECTOR_TYPE_RJ45, "2.5 GbE 3", PORT_CONNECTOR_TYPE_RJ45, PORT_TYPE_NETWORK_PORT),
    Connector("CON9", PORT_CONNECTOR_TYPE_RJ45, "2.5 GbE 4", PORT_CONNECTOR_TYPE_RJ45, PORT_TYPE_NETWORK_PORT),
    Connector("CON1", PORT_CONNECTOR_TYPE_ACCESS_BUS_USB,
              "5GB/s USB", PORT_CONNECTOR_TYPE_ACCESS_BUS_USB, PORT_TYPE_USB),
    Connector("CON2", PORT_CONNECTOR_TYPE_ACCESS_BUS_USB,
              "5GB/s USB", PORT_CONNECTOR_TYPE_ACCESS_BUS_USB, PORT_TYPE_USB),
    Connector("CON3", PORT_CONNECTOR_TYPE_ACCESS_BUS_USB,
              "5GB/s USB", PORT_CONNECTOR_TYPE_ACCESS_BUS_USB, PORT_TYPE_USB),
    Connector("CON4", PORT_CONNECTOR_TYPE_ACCESS_BUS_USB,
              "10GB/s USB", PORT_CONNECTOR_TYPE_ACCESS_BUS_USB, PORT_TYPE_USB),
    Connector("J13", PORT_CONNECTOR_TYPE_ACCESS_BUS_USB,
              "Console", PORT_CONNECTOR_TYPE_ACCESS_BUS_USB, PORT_TYPE_SERIAL_16550_COMPATIBLE),
    Connector("J106", PORT_CONNECTOR_TYPE_USB_TYPE_C_RECEPTACLE,
              "USB-C", PORT_CONNECTOR_TYPE_USB_TYPE_C_RECEPTACLE, PORT_TYPE_VIDEO_PORT),
    Connector("J23", PORT_CONNECTOR_TYPE_OTHER, "HDMI", PORT_CONNECTOR_TYPE_OTHER, PORT_TYPE_VIDEO_PORT),
    Connector("J91", PORT_CONNECTOR_TYPE_OTHER, "NVME 0", PORT_CONNECTOR_TYPE_OTHER, PORT_TYPE_VIDEO_PORT),
    Connector("CON3", PORT_CONNECTOR_TYPE_OTHER, "NVME 1", PORT_CONNECTOR_TYPE_OTHER, PORT_TYPE_VIDEO_PORT),
    Connector("CON2", PORT_CONNECTOR_TYPE_OTHER, "NVME 2", PORT_CONNECTOR_TYPE_OTHER, PORT_TYPE_VIDEO_PORT),
    Connector("CJ21", PORT_CONNECTOR_TYPE_OTHER, "LTE", PORT_CONNECTOR_TYPE_OTHER, PORT_TYPE_USB),
    Connector("CON5", PORT_CONNECTOR_TYPE_OTHER, "WI-FI", PORT_CONNECTOR_TYPE_OTHER, PORT_TYPE_VIDEO_PORT),
    Connector("J40", PORT_CONNECTOR_TYPE_OTHER, "SIM 1", PORT_CONNECTOR_TYPE_OTHER, PORT_TYPE_OTHER),
    Connector("J41", PORT_CONNECTOR_TYPE_OTHER, "SIM 2", PORT_CONNECTOR_TYPE_OTHER, PORT_TYPE_OTHER),
    Connector("J123", PORT_CONNECTOR_TYPE_OTHER, "Remote Power Button", PORT_CONNECTOR_TYPE_OTHER, PORT_TYPE_OTHER),
};

static const PortConnectorEntry gLayoutCConnectors[] = {
    Connector("CON9", PORT_CONNECTOR_TYPE_RJ45, "2.5 GbE 1", PORT_CONNECTOR_TYPE_RJ45, PORT_TYPE_NETWORK_PORT),
    Connector("CON9", PORT_CONNECTOR_TYPE_RJ45, "2.5 GbE 2", PORT_CONNECTOR_TYPE_RJ45, PORT_TYPE_NETWORK_PORT),
    Connector("CON4", PORT_CONNECTOR_TYPE_ACCESS_BUS_USB,
              "5GB/s USB", PORT_CONNECTOR_TYPE_ACCESS_BUS_USB, PORT_TYPE_USB),
    Connector("CON5", PORT_CONNECTOR_TYPE_ACCESS_BUS_USB,
              "10GB/s USB", PORT_CONNECTOR_TYPE_ACCESS_BUS_USB, PORT_TYPE_USB),
    Connector("J13", PORT_CONNECTOR_TYPE_ACCESS_BUS_USB,
              "Console", PORT_CONNECTOR_TYPE_ACCESS_BUS_USB, PORT_TYPE_SERIAL_16550_COMPATIBLE),
    Connector("J3", PORT_CONNECTOR_TYPE_NONE, "mini-DP 1", PORT_CONNECTOR_TYPE_OTHER, PORT_TYPE_VIDEO_PORT),
    Connector("J10", PORT_CONNECTOR_TYPE_NONE, "mini-DP 2", PORT_CONNECTOR_TYPE_OTHER, PORT_TYPE_VIDEO_PORT),
    Connector("J91", PORT_CONNECTOR_TYPE_NONE, "NVME 0", PORT_CONNECTOR_TYPE_OTHER, PORT_TYPE_VIDEO_PORT),
};

static SystemSlotEntry gLayoutASlots[] = {SLOT_NVME1, SLOT_NVME2, SLOT_NVME0, SLOT_WIFI};
static SystemSlotEntry gLayoutBSlots[] = {SLOT_NVME1, SLOT_NVME2, SLOT_NVME0, SLOT_WIFI};
static SystemSlotEntry gLayoutCSlots[] = {SLOT_NVME0};

// The rows of a table, as the 8-bit count a layout holds.
template <typename T, UINTN N>
static constexpr UINT8 RowCount(T (&)[N]) {
  static_assert(N <= 0xFF, "row counts are 8-bit");
  return (UINT8)N;
}

const BoardLayout gLayoutA = {"Layout A", gLayoutAConnectors, RowCount(gLayoutAConnectors), gLayoutASlots,
                              RowCount(gLayoutASlots)};
const BoardLayout gLayoutB = {"Layout B", gLayoutBConnectors, RowCount(gLayoutBConnectors), gLayoutBSlots,
                              RowCount(gLayoutBSlots)};
const BoardLayout gLayoutC = {"Layout C", gLayoutCConnectors, RowCount(gLayoutCConnectors), gLayoutCSlots,
                              RowCount(gLayoutCSlots)};
