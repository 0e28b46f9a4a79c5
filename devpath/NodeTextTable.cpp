// The keyword table of the text converter: every node keyword of the
// device-path text representation in its fixed place, with its parser and
// the data that parsers of one shape differ in.
//
// A keyword matches only when "(" follows it directly, so no keyword claims
// a longer one that it begins ("Pci" of "PciRoot", "Acpi" of "AcpiEx"), and
// the order of the rows decides nothing. A keyword without a row here reads
// as a file name, like any unknown keyword.
#include "devpath/DevicePathParsers.h"

#define ROW_ONLY(Keyword, Parser, Type, SubType, Preset) {Keyword, Parser, Type, SubType, Preset, {}}
#define FIELD(Offset, Width, Reader) {Offset, Width, Reader}

constexpr NODE_TEXT_ROW NodeTextTable[] = {
    // Hardware and ACPI nodes: rows 1 to 19.
    ROW_ONLY(u"Path", ParsePathNode, 0, 0, 0),
    ROW_ONLY(u"HardwarePath", ParseGenericRow, HARDWARE_DEVICE_PATH, 0, 0),
    // Pci(Device,Function): the node stores the function first.
    {u"Pci", ParseFieldNode, HARDWARE_DEVICE_PATH, 1, 6, {FIELD(5, 1, NumberField), FIELD(4, 1, NumberField)}},
    {u"PcCard", ParseFieldNode, HARDWARE_DEVICE_PATH, 2, 5, {FIELD(4, 1, NumberField)}},
    // MemoryMapped(MemoryType,StartAddress,EndAddress)
    {u"MemoryMapped",
     ParseFieldNode,
     HARDWARE_DEVICE_PATH,
     3,
     24,
     {FIELD(4, 4, NumberField), FIELD(8, 8, NumberField), FIELD(16, 8, NumberField)}},
    ROW_ONLY(u"VenHw", ParseVendorRow, HARDWARE_DEVICE_PATH, 4, 0),
    {u"Ctrl", ParseFieldNode, HARDWARE_DEVICE_PATH, 5, 8, {FIELD(4, 4, NumberField)}},
    // BMC(InterfaceType,BaseAddress): the address is hexadecimal, "0x" or not.
    {u"BMC", ParseFieldNode, HARDWARE_DEVICE_PATH, 6, 13, {FIELD(4, 1, NumberField), FIELD(5, 8, HexField)}},
    ROW_ONLY(u"AcpiPath", ParseGenericRow, ACPI_DEVICE_PATH, 0, 0),
    // Acpi(HID,UID)
    {u"Acpi", ParseFieldNode, ACPI_DEVICE_PATH, ACPI_DP, 12, {FIELD(4, 4, EisaIdField), FIELD(8, 4, NumberField)}},
    // Fixed PNP _HID, product number preset; the parameter is _UID.
    ROW_ONLY(u"PciRoot", ParseAcpiHidRow, ACPI_DEVICE_PATH, ACPI_DP, 0x0A03),
    ROW_ONLY(u"PcieRoot", ParseAcpiHidRow, ACPI_DEVICE_PATH, ACPI_DP, 0x0A08),
    ROW_ONLY(u"Floppy", ParseAcpiHidRow, ACPI_DEVICE_PATH, ACPI_DP, 0x0604),
    ROW_ONLY(u"Keyboard", ParseAcpiHidRow, ACPI_DEVICE_PATH, ACPI_DP, 0x0301),
    ROW_ONLY(u"Serial", ParseAcpiHidRow, ACPI_DEVICE_PATH, ACPI_DP, 0x0501),
    ROW_ONLY(u"ParallelPort", ParseAcpiHidRow, ACPI_DEVICE_PATH, ACPI_DP, 0x0401),
    ROW_ONLY(u"AcpiEx", ParseAcpiExNode, ACPI_DEVICE_PATH, ACPI_EXTENDED_DP, 0),
    ROW_ONLY(u"AcpiExp", ParseAcpiExpNode, ACPI_DEVICE_PATH, ACPI_EXTENDED_DP, 0),
    ROW_ONLY(u"AcpiAdr", ParseAcpiAdrNode, ACPI_DEVICE_PATH, ACPI_ADR_DP, 0),

    // Messaging nodes, buses, storage and consoles: rows 20 to 41.
    ROW_ONLY(u"Msg", ParseGenericRow, MESSAGING_DEVICE_PATH, 0, 0),
    // Ata(Channel,Drive,Lun): channel and drive may be words.
    ROW_ONLY(u"Ata", ParseAtaNode, MESSAGING_DEVICE_PATH, 1, 8),
    {u"Scsi", ParseFieldNode, MESSAGING_DEVICE_PATH, 2, 8, {FIELD(4, 2, NumberField), FIELD(6, 2, NumberField)}},
    // Fibre(WWN,Lun)
    {u"Fibre", ParseFieldNode, MESSAGING_DEVICE_PATH, 3, 24, {FIELD(8, 8, NumberField), FIELD(16, 8, NumberField)}},
    ROW_ONLY(u"FibreEx", ParseFibreExNode, MESSAGING_DEVICE_PATH, 0x15, 24),
    // I1394(Guid): hexadecimal, "0x" or not.
    {u"I1394", ParseFieldNode, MESSAGING_DEVICE_PATH, 4, 16, {FIELD(8, 8, HexField)}},
    // USB(ParentPort,Interface)
    {u"USB", ParseFieldNode, MESSAGING_DEVICE_PATH, 5, 6, {FIELD(4, 1, NumberField), FIELD(5, 1, NumberField)}},
    {u"I2O", ParseFieldNode, MESSAGING_DEVICE_PATH, 6, 8, {FIELD(4, 4, NumberField)}},
    ROW_ONLY(u"Infiniband", ParseInfinibandNode, MESSAGING_DEVICE_PATH, 9, 48),
    ROW_ONLY(u"VenMsg", ParseVendorRow, MESSAGING_DEVICE_PATH, MSG_VENDOR_DP, 0),
    // Vendor nodes of a fixed GUID, which the preset selects.
    ROW_ONLY(u"VenPcAnsi", ParseFixedVendorRow, MESSAGING_DEVICE_PATH, MSG_VENDOR_DP, MsgVendorPcAnsi),
    ROW_ONLY(u"VenVt100", ParseFixedVendorRow, MESSAGING_DEVICE_PATH, MSG_VENDOR_DP, MsgVendorVt100),
    ROW_ONLY(u"VenVt100Plus", ParseFixedVendorRow, MESSAGING_DEVICE_PATH, MSG_VENDOR_DP, MsgVendorVt100Plus),
    ROW_ONLY(u"VenUtf8", ParseFixedVendorRow, MESSAGING_DEVICE_PATH, MSG_VENDOR_DP, MsgVendorUtf8),
    ROW_ONLY(u"UartFlowCtrl", ParseUartFlowCtrlNode, MESSAGING_DEVICE_PATH, MSG_VENDOR_DP, MsgVendorUartFlowControl),
    ROW_ONLY(u"SAS", ParseSasNode, MESSAGING_DEVICE_PATH, MSG_VENDOR_DP, MsgVendorSas),
    ROW_ONLY(u"SasEx", ParseSasNode, MESSAGING_DEVICE_PATH, MSG_SASEX_DP, 24),
    // NVMe(NamespaceId,Eui64)
    ROW_ONLY(u"NVMe", ParseNvmeNode, MESSAGING_DEVICE_PATH, 0x17, 16),
    // UFS(TargetId,Lun)
    {u"UFS", ParseFieldNode, MESSAGING_DEVICE_PATH, 0x19, 6, {FIELD(4, 1, NumberField), FIELD(5, 1, NumberField)}},
    {u"SD", ParseFieldNode, MESSAGING_DEVICE_PATH, 0x1A, 5, {FIELD(4, 1, NumberField)}},
    {u"eMMC", ParseFieldNode, MESSAGING_DEVICE_PATH, 0x1D, 5, {FIELD(4, 1, NumberField)}},
    ROW_ONLY(u"DebugPort", ParseFixedVendorRow, MESSAGING_DEVICE_PATH, MSG_VENDOR_DP, MsgVendorDebugPort),

    // Messaging nodes, network, USB classes and wireless: rows 42 to 70.
    ROW_ONLY(u"MAC", ParseMacAddressNode, MESSAGING_DEVICE_PATH, MSG_MAC_ADDR_DP, 0),
    ROW_ONLY(u"IPv4", ParseIpv4Node, MESSAGING_DEVICE_PATH, MSG_IPv4_DP, 0),
    ROW_ONLY(u"IPv6", ParseIpv6Node, MESSAGING_DEVICE_PATH, MSG_IPv6_DP, 0),
    ROW_ONLY(u"Uart", ParseUartNode, MESSAGING_DEVICE_PATH, MSG_UART_DP, 0),
    // USB class nodes; the preset fixes the class, the subclass or neither.
    ROW_ONLY(u"UsbClass", ParseUsbClassRow, MESSAGING_DEVICE_PATH, MSG_USB_CLASS_DP, UsbClassAnyPreset),
    ROW_ONLY(u"UsbAudio", ParseUsbClassRow, MESSAGING_DEVICE_PATH, MSG_USB_CLASS_DP, UsbAudioPreset),
    ROW_ONLY(u"UsbCDCControl", ParseUsbClassRow, MESSAGING_DEVICE_PATH, MSG_USB_CLASS_DP, UsbCdcControlPreset),
    ROW_ONLY(u"UsbHID", ParseUsbClassRow, MESSAGING_DEVICE_PATH, MSG_USB_CLASS_DP, UsbHidPreset),
    ROW_ONLY(u"UsbImage", ParseUsbClassRow, MESSAGING_DEVICE_PATH, MSG_USB_CLASS_DP, UsbImagePreset),
    ROW_ONLY(u"UsbPrinter", ParseUsbClassRow, MESSAGING_DEVICE_PATH, MSG_USB_CLASS_DP, UsbPrinterPreset),
    ROW_ONLY(u"UsbMassStorage", ParseUsbClassRow, MESSAGING_DEVICE_PATH, MSG_USB_CLASS_DP, UsbMassStoragePreset),
    ROW_ONLY(u"UsbHub", ParseUsbClassRow, MESSAGING_DEVICE_PATH, MSG_USB_CLASS_DP, UsbHubPreset),
    ROW_ONLY(u"UsbCDCData", ParseUsbClassRow, MESSAGING_DEVICE_PATH, MSG_USB_CLASS_DP, UsbCdcDataPreset),
    ROW_ONLY(u"UsbSmartCard", ParseUsbClassRow, MESSAGING_DEVICE_PATH, MSG_USB_CLASS_DP, UsbSmartCardPreset),
    ROW_ONLY(u"UsbVideo", ParseUsbClassRow, MESSAGING_DEVICE_PATH, MSG_USB_CLASS_DP, UsbVideoPreset),
    ROW_ONLY(u"UsbDiagnostic", ParseUsbClassRow, MESSAGING_DEVICE_PATH, MSG_USB_CLASS_DP, UsbDiagnosticPreset),
    ROW_ONLY(u"UsbWireless", ParseUsbClassRow, MESSAGING_DEVICE_PATH, MSG_USB_CLASS_DP, UsbWirelessPreset),
    ROW_ONLY(u"UsbDeviceFirmwareUpdate", ParseUsbClassRow, MESSAGING_DEVICE_PATH, MSG_USB_CLASS_DP,
             UsbDeviceFirmwareUpdatePreset),
    ROW_ONLY(u"UsbIrdaBridge", ParseUsbClassRow, MESSAGING_DEVICE_PATH, MSG_USB_CLASS_DP, UsbIrdaBridgePreset),
    ROW_ONLY(u"UsbTestAndMeasurement", ParseUsbClassRow, MESSAGING_DEVICE_PATH, MSG_USB_CLASS_DP,
             UsbTestAndMeasurementPreset),
    ROW_ONLY(u"UsbWwid", ParseUsbWwidNode, MESSAGING_DEVICE_PATH, MSG_USB_WWID_DP, 0),
    {u"Unit", ParseFieldNode, MESSAGING_DEVICE_PATH, MSG_DEVICE_LOGICAL_UNIT_DP, 5, {FIELD(4, 1, NumberField)}},
    ROW_ONLY(u"iSCSI", ParseIscsiNode, MESSAGING_DEVICE_PATH, MSG_ISCSI_DP, 0),
    {u"Vlan", ParseFieldNode, MESSAGING_DEVICE_PATH, MSG_VLAN_DP, 6, {FIELD(4, 2, NumberField)}},
    ROW_ONLY(u"Dns", ParseDnsNode, MESSAGING_DEVICE_PATH, MSG_DNS_DP, 0),
    ROW_ONLY(u"Uri", ParseUriNode, MESSAGING_DEVICE_PATH, MSG_URI_DP, 0),
    // Bluetooth(Address), BluetoothLE(Address,AddressType): preset node length.
    ROW_ONLY(u"Bluetooth", ParseBluetoothNode, MESSAGING_DEVICE_PATH, MSG_BLUETOOTH_DP, 10),
    ROW_ONLY(u"Wi-Fi", ParseWiFiNode, MESSAGING_DEVICE_PATH, MSG_WIFI_DP, 0),
    ROW_ONLY(u"BluetoothLE", ParseBluetoothNode, MESSAGING_DEVICE_PATH, MSG_BLUETOOTH_LE_DP, 11),

    // Media and BBS nodes: rows 71 to 85.
    ROW_ONLY(u"MediaPath", ParseGenericRow, MEDIA_DEVICE_PATH, 0, 0),
    ROW_ONLY(u"HD", ParseHardDriveNode, MEDIA_DEVICE_PATH, 1, 0),
    // CDROM(Entry,Start,Size)
    {u"CDROM",
     ParseFieldNode,
     MEDIA_DEVICE_PATH,
     2,
     24,
     {FIELD(4, 4, NumberField), FIELD(8, 8, NumberField), FIELD(16, 8, NumberField)}},
    ROW_ONLY(u"VenMedia", ParseVendorRow, MEDIA_DEVICE_PATH, 3, 0),
    ROW_ONLY(u"Media", ParseGuidNode, MEDIA_DEVICE_PATH, 5, 0),
    ROW_ONLY(u"Fv", ParseGuidNode, MEDIA_DEVICE_PATH, 7, 0),
    ROW_ONLY(u"FvFile", ParseGuidNode, MEDIA_DEVICE_PATH, 6, 0),
    // Offset(Start,End): the four bytes before them are reserved.
    {u"Offset", ParseFieldNode, MEDIA_DEVICE_PATH, 8, 24, {FIELD(8, 8, NumberField), FIELD(16, 8, NumberField)}},
    ROW_ONLY(u"RamDisk", ParseRamDiskNode, MEDIA_DEVICE_PATH, 9, 0),
    // RAM disks of a fixed disk type, preset VIRTUAL_DISK_KIND.
    ROW_ONLY(u"VirtualDisk", ParseVirtualDiskNode, MEDIA_DEVICE_PATH, 9, VirtualDiskKind),
    ROW_ONLY(u"VirtualCD", ParseVirtualDiskNode, MEDIA_DEVICE_PATH, 9, VirtualCdKind),
    ROW_ONLY(u"PersistentVirtualDisk", ParseVirtualDiskNode, MEDIA_DEVICE_PATH, 9, PersistentVirtualDiskKind),
    ROW_ONLY(u"PersistentVirtualCD", ParseVirtualDiskNode, MEDIA_DEVICE_PATH, 9, PersistentVirtualCdKind),
    ROW_ONLY(u"BbsPath", ParseGenericRow, BBS_DEVICE_PATH, 0, 0),
    ROW_ONLY(u"BBS", ParseBbsNode, BBS_DEVICE_PATH, 1, 0),

    // Row 86, last: Sata(HbaPort,MultiplierPort,Lun).
    ROW_ONLY(u"Sata", ParseSataNode, MESSAGING_DEVICE_PATH, 0x12, 10),

    ROW_ONLY(nullptr, nullptr, 0, 0, 0),
};

// Every field of a fixed-layout row lies inside its node.
static constexpr BOOLEAN FieldsFitTheirNodes() {
  for (const NODE_TEXT_ROW &Row : NodeTextTable) {
    for (const NODE_FIELD &Field : Row.Fields) {
      if (Field.Width != 0 && (Row.Parser != ParseFieldNode || Field.Offset + Field.Width > Row.Preset ||
                               Field.Offset < sizeof(EFI_DEVICE_PATH_PROTOCOL))) {
        return FALSE;
      }
    }
  }
  return TRUE;
}
static_assert(FieldsFitTheirNodes(), "a field lies outside its node");
