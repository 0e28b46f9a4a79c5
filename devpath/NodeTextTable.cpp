// The keyword table of the text converter: every node keyword of the
// device-path text representation, with its parser and the data that
// parsers of one shape differ in.
//
// Where a row stands decides no conversion. A keyword claims a node text
// only when "(" follows it directly; no keyword holds "(" and none stands
// in two rows (KeywordsAreDistinct and NoKeywordHoldsAnOpeningParenthesis
// below), so at most one row claims any text: "Pci" never claims
// "PciRoot(0)", nor "Acpi" "AcpiEx(...)". A row's place decides only how
// many rows a text is compared with before its own.
//
// The rows are numbered all the same, because the table keeps one fixed
// order for its readers, which the table's tests hold as well: by node
// type, hardware and ACPI keywords in rows 1 to 19, messaging keywords for
// buses, storage and consoles in rows 20 to 41, network, USB class and
// wireless keywords in rows 42 to 70, media and BBS keywords in rows 71 to
// 85, and then "Sata", a messaging keyword, on its own in row 86.
// RowsStandWhereTheCommentsSay below holds the table to those numbers, so
// a row added or moved is added or moved in the comments too. A keyword
// without a row reads as a file name, like any unknown keyword.
#include "devpath/DevicePathParsers.h"

// The Type and SubType of a row whose parser reads them from the text:
// "Path" reads both, the generic rows ("HardwarePath", "AcpiPath", "Msg",
// "MediaPath", "BbsPath") the subtype. A text without them reads as 0.
static constexpr UINT8 TYPE_FROM_TEXT = 0;
static constexpr UINT8 SUBTYPE_FROM_TEXT = 0;

// The Preset of a row whose parser takes none.
static constexpr UINT16 NO_PRESET = 0;

// The product numbers of the PNP _HIDs that keywords fix (ParseAcpiHidRow).
static constexpr UINT16 PNP_PCI_BUS = 0x0A03;           // PNP0A03, "PciRoot"
static constexpr UINT16 PNP_PCI_EXPRESS_BUS = 0x0A08;   // PNP0A08, "PcieRoot"
static constexpr UINT16 PNP_FLOPPY_CONTROLLER = 0x0604; // PNP0604, "Floppy"
static constexpr UINT16 PNP_KEYBOARD = 0x0301;          // PNP0301, "Keyboard"
static constexpr UINT16 PNP_SERIAL_PORT = 0x0501;       // PNP0501, "Serial"
static constexpr UINT16 PNP_PARALLEL_PORT = 0x0401;     // PNP0401, "ParallelPort"

// A row whose parser needs no fields.
#define ROW_ONLY(Keyword, Parser, Type, SubType, Preset) {Keyword, Parser, Type, SubType, Preset, {}}
// A row of ParseFieldNode: a node laid out as Layout, whose fields the
// parameters fill in the order given.
#define FIELD_ROW(Keyword, Type, SubType, Layout, ...) \
  {Keyword, ParseFieldNode, Type, SubType, sizeof(Layout), {__VA_ARGS__}}
// A field of Layout and the reader of its parameter.
#define FIELD(Layout, Member, Reader) {offsetof(Layout, Member), sizeof(Layout::Member), Reader}

constexpr NODE_TEXT_ROW gNodeTextTable[] = {
    // Hardware and ACPI nodes: rows 1 to 19.
    ROW_ONLY(u"Path", ParsePathNode, TYPE_FROM_TEXT, SUBTYPE_FROM_TEXT, NO_PRESET),
    ROW_ONLY(u"HardwarePath", ParseGenericRow, HARDWARE_DEVICE_PATH, SUBTYPE_FROM_TEXT, NO_PRESET),
    // Pci(Device,Function): the node stores the function first.
    FIELD_ROW(u"Pci", HARDWARE_DEVICE_PATH, HW_PCI_DP, PCI_DEVICE_PATH, FIELD(PCI_DEVICE_PATH, Device, NumberField),
              FIELD(PCI_DEVICE_PATH, Function, NumberField)),
    FIELD_ROW(u"PcCard", HARDWARE_DEVICE_PATH, HW_PCCARD_DP, PCCARD_DEVICE_PATH,
              FIELD(PCCARD_DEVICE_PATH, FunctionNumber, NumberField)),
    // MemoryMapped(MemoryType,StartAddress,EndAddress)
    FIELD_ROW(u"MemoryMapped", HARDWARE_DEVICE_PATH, HW_MEMMAP_DP, MEMMAP_DEVICE_PATH,
              FIELD(MEMMAP_DEVICE_PATH, MemoryType, NumberField), FIELD(MEMMAP_DEVICE_PATH, StartingAddress, NumberField),
              FIELD(MEMMAP_DEVICE_PATH, EndingAddress, NumberField)),
    ROW_ONLY(u"VenHw", ParseVendorRow, HARDWARE_DEVICE_PATH, HW_VENDOR_DP, NO_PRESET),
    FIELD_ROW(u"Ctrl", HARDWARE_DEVICE_PATH, HW_CONTROLLER_DP, CONTROLLER_DEVICE_PATH,
              FIELD(CONTROLLER_DEVICE_PATH, ControllerNumber, NumberField)),
    // BMC(InterfaceType,BaseAddress): the address is hexadecimal, "0x" or not.
    FIELD_ROW(u"BMC", HARDWARE_DEVICE_PATH, HW_BMC_DP, BMC_DEVICE_PATH, FIELD(BMC_DEVICE_PATH, InterfaceType, NumberField),
              FIELD(BMC_DEVICE_PATH, BaseAddress, HexField)),
    ROW_ONLY(u"AcpiPath", ParseGenericRow, ACPI_DEVICE_PATH, SUBTYPE_FROM_TEXT, NO_PRESET),
    // Acpi(HID,UID)
    FIELD_ROW(u"Acpi", ACPI_DEVICE_PATH, ACPI_DP, ACPI_HID_DEVICE_PATH, FIELD(ACPI_HID_DEVICE_PATH, HID, EisaIdField),
              FIELD(ACPI_HID_DEVICE_PATH, UID, NumberField)),
    // Fixed PNP _HID, product number preset; the parameter is _UID.
    ROW_ONLY(u"PciRoot", ParseAcpiHidRow, ACPI_DEVICE_PATH, ACPI_DP, PNP_PCI_BUS),
    ROW_ONLY(u"PcieRoot", ParseAcpiHidRow, ACPI_DEVICE_PATH, ACPI_DP, PNP_PCI_EXPRESS_BUS),
    ROW_ONLY(u"Floppy", ParseAcpiHidRow, ACPI_DEVICE_PATH, ACPI_DP, PNP_FLOPPY_CONTROLLER),
    ROW_ONLY(u"Keyboard", ParseAcpiHidRow, ACPI_DEVICE_PATH, ACPI_DP, PNP_KEYBOARD),
    ROW_ONLY(u"Serial", ParseAcpiHidRow, ACPI_DEVICE_PATH, ACPI_DP, PNP_SERIAL_PORT),
    ROW_ONLY(u"ParallelPort", ParseAcpiHidRow, ACPI_DEVICE_PATH, ACPI_DP, PNP_PARALLEL_PORT),
    ROW_ONLY(u"AcpiEx", ParseAcpiExNode, ACPI_DEVICE_PATH, ACPI_EXTENDED_DP, NO_PRESET),
    ROW_ONLY(u"AcpiExp", ParseAcpiExpNode, ACPI_DEVICE_PATH, ACPI_EXTENDED_DP, NO_PRESET),
    ROW_ONLY(u"AcpiAdr", ParseAcpiAdrNode, ACPI_DEVICE_PATH, ACPI_ADR_DP, NO_PRESET),

    // Messaging nodes, buses, storage and consoles: rows 20 to 41.
    ROW_ONLY(u"Msg", ParseGenericRow, MESSAGING_DEVICE_PATH, SUBTYPE_FROM_TEXT, NO_PRESET),
    // Ata(Channel,Drive,Lun): channel and drive may be words.
    ROW_ONLY(u"Ata", ParseAtaNode, MESSAGING_DEVICE_PATH, MSG_ATAPI_DP, NO_PRESET),
    // Scsi(Pun,Lun)
    FIELD_ROW(u"Scsi", MESSAGING_DEVICE_PATH, MSG_SCSI_DP, SCSI_DEVICE_PATH, FIELD(SCSI_DEVICE_PATH, Pun, NumberField),
              FIELD(SCSI_DEVICE_PATH, Lun, NumberField)),
    // Fibre(WWN,Lun)
    FIELD_ROW(u"Fibre", MESSAGING_DEVICE_PATH, MSG_FIBRECHANNEL_DP, FIBRECHANNEL_DEVICE_PATH,
              FIELD(FIBRECHANNEL_DEVICE_PATH, WWN, NumberField), FIELD(FIBRECHANNEL_DEVICE_PATH, Lun, NumberField)),
    ROW_ONLY(u"FibreEx", ParseFibreExNode, MESSAGING_DEVICE_PATH, MSG_FIBRECHANNELEX_DP, NO_PRESET),
    // I1394(Guid): hexadecimal, "0x" or not.
    FIELD_ROW(u"I1394", MESSAGING_DEVICE_PATH, MSG_1394_DP, F1394_DEVICE_PATH, FIELD(F1394_DEVICE_PATH, Guid, HexField)),
    // USB(ParentPort,Interface)
    FIELD_ROW(u"USB", MESSAGING_DEVICE_PATH, MSG_USB_DP, USB_DEVICE_PATH,
              FIELD(USB_DEVICE_PATH, ParentPortNumber, NumberField), FIELD(USB_DEVICE_PATH, InterfaceNumber, NumberField)),
    FIELD_ROW(u"I2O", MESSAGING_DEVICE_PATH, MSG_I2O_DP, I2O_DEVICE_PATH, FIELD(I2O_DEVICE_PATH, Tid, NumberField)),
    ROW_ONLY(u"Infiniband", ParseInfinibandNode, MESSAGING_DEVICE_PATH, MSG_INFINIBAND_DP, NO_PRESET),
    ROW_ONLY(u"VenMsg", ParseVendorRow, MESSAGING_DEVICE_PATH, MSG_VENDOR_DP, NO_PRESET),
    // Vendor nodes of a fixed GUID, which the preset selects.
    ROW_ONLY(u"VenPcAnsi", ParseFixedVendorRow, MESSAGING_DEVICE_PATH, MSG_VENDOR_DP, MsgVendorPcAnsi),
    ROW_ONLY(u"VenVt100", ParseFixedVendorRow, MESSAGING_DEVICE_PATH, MSG_VENDOR_DP, MsgVendorVt100),
    ROW_ONLY(u"VenVt100Plus", ParseFixedVendorRow, MESSAGING_DEVICE_PATH, MSG_VENDOR_DP, MsgVendorVt100Plus),
    ROW_ONLY(u"VenUtf8", ParseFixedVendorRow, MESSAGING_DEVICE_PATH, MSG_VENDOR_DP, MsgVendorUtf8),
    ROW_ONLY(u"UartFlowCtrl", ParseUartFlowCtrlNode, MESSAGING_DEVICE_PATH, MSG_VENDOR_DP, MsgVendorUartFlowControl),
    ROW_ONLY(u"SAS", ParseSasNode, MESSAGING_DEVICE_PATH, MSG_VENDOR_DP, MsgVendorSas),
    ROW_ONLY(u"SasEx", ParseSasExNode, MESSAGING_DEVICE_PATH, MSG_SASEX_DP, NO_PRESET),
    // NVMe(NamespaceId,Eui64)
    ROW_ONLY(u"NVMe", ParseNvmeNode, MESSAGING_DEVICE_PATH, MSG_NVME_NAMESPACE_DP, NO_PRESET),
    // UFS(TargetId,Lun)
    FIELD_ROW(u"UFS", MESSAGING_DEVICE_PATH, MSG_UFS_DP, UFS_DEVICE_PATH, FIELD(UFS_DEVICE_PATH, Pun, NumberField),
              FIELD(UFS_DEVICE_PATH, Lun, NumberField)),
    FIELD_ROW(u"SD", MESSAGING_DEVICE_PATH, MSG_SD_DP, SD_DEVICE_PATH, FIELD(SD_DEVICE_PATH, SlotNumber, NumberField)),
    FIELD_ROW(u"eMMC", MESSAGING_DEVICE_PATH, MSG_EMMC_DP, EMMC_DEVICE_PATH, FIELD(EMMC_DEVICE_PATH, SlotNumber, NumberField)),
    ROW_ONLY(u"DebugPort", ParseFixedVendorRow, MESSAGING_DEVICE_PATH, MSG_VENDOR_DP, MsgVendorDebugPort),

    // Messaging nodes, network, USB classes and wireless: rows 42 to 70.
    ROW_ONLY(u"MAC", ParseMacAddressNode, MESSAGING_DEVICE_PATH, MSG_MAC_ADDR_DP, NO_PRESET),
    ROW_ONLY(u"IPv4", ParseIpv4Node, MESSAGING_DEVICE_PATH, MSG_IPv4_DP, NO_PRESET),
    ROW_ONLY(u"IPv6", ParseIpv6Node, MESSAGING_DEVICE_PATH, MSG_IPv6_DP, NO_PRESET),
    ROW_ONLY(u"Uart", ParseUartNode, MESSAGING_DEVICE_PATH, MSG_UART_DP, NO_PRESET),
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
    ROW_ONLY(u"UsbWwid", ParseUsbWwidNode, MESSAGING_DEVICE_PATH, MSG_USB_WWID_DP, NO_PRESET),
    FIELD_ROW(u"Unit", MESSAGING_DEVICE_PATH, MSG_DEVICE_LOGICAL_UNIT_DP, DEVICE_LOGICAL_UNIT_DEVICE_PATH,
              FIELD(DEVICE_LOGICAL_UNIT_DEVICE_PATH, Lun, NumberField)),
    ROW_ONLY(u"iSCSI", ParseIscsiNode, MESSAGING_DEVICE_PATH, MSG_ISCSI_DP, NO_PRESET),
    FIELD_ROW(u"Vlan", MESSAGING_DEVICE_PATH, MSG_VLAN_DP, VLAN_DEVICE_PATH, FIELD(VLAN_DEVICE_PATH, VlanId, NumberField)),
    ROW_ONLY(u"Dns", ParseDnsNode, MESSAGING_DEVICE_PATH, MSG_DNS_DP, NO_PRESET),
    ROW_ONLY(u"Uri", ParseUriNode, MESSAGING_DEVICE_PATH, MSG_URI_DP, NO_PRESET),
    // Bluetooth(Address), BluetoothLE(Address,AddressType)
    ROW_ONLY(u"Bluetooth", ParseBluetoothNode, MESSAGING_DEVICE_PATH, MSG_BLUETOOTH_DP, NO_PRESET),
    ROW_ONLY(u"Wi-Fi", ParseWiFiNode, MESSAGING_DEVICE_PATH, MSG_WIFI_DP, NO_PRESET),
    ROW_ONLY(u"BluetoothLE", ParseBluetoothLeNode, MESSAGING_DEVICE_PATH, MSG_BLUETOOTH_LE_DP, NO_PRESET),

    // Media and BBS nodes: rows 71 to 85.
    ROW_ONLY(u"MediaPath", ParseGenericRow, MEDIA_DEVICE_PATH, SUBTYPE_FROM_TEXT, NO_PRESET),
    ROW_ONLY(u"HD", ParseHardDriveNode, MEDIA_DEVICE_PATH, MEDIA_HARDDRIVE_DP, NO_PRESET),
    // CDROM(Entry,Start,Size)
    FIELD_ROW(u"CDROM", MEDIA_DEVICE_PATH, MEDIA_CDROM_DP, CDROM_DEVICE_PATH, FIELD(CDROM_DEVICE_PATH, BootEntry, NumberField),
              FIELD(CDROM_DEVICE_PATH, PartitionStart, NumberField), FIELD(CDROM_DEVICE_PATH, PartitionSize, NumberField)),
    ROW_ONLY(u"VenMedia", ParseVendorRow, MEDIA_DEVICE_PATH, MEDIA_VENDOR_DP, NO_PRESET),
    ROW_ONLY(u"Media", ParseGuidNode, MEDIA_DEVICE_PATH, MEDIA_PROTOCOL_DP, NO_PRESET),
    ROW_ONLY(u"Fv", ParseGuidNode, MEDIA_DEVICE_PATH, MEDIA_PIWG_FW_VOL_DP, NO_PRESET),
    ROW_ONLY(u"FvFile", ParseGuidNode, MEDIA_DEVICE_PATH, MEDIA_PIWG_FW_FILE_DP, NO_PRESET),
    // Offset(Start,End): the four bytes before them are reserved.
    FIELD_ROW(u"Offset", MEDIA_DEVICE_PATH, MEDIA_RELATIVE_OFFSET_RANGE_DP, MEDIA_RELATIVE_OFFSET_RANGE_DEVICE_PATH,
              FIELD(MEDIA_RELATIVE_OFFSET_RANGE_DEVICE_PATH, StartingOffset, NumberField),
              FIELD(MEDIA_RELATIVE_OFFSET_RANGE_DEVICE_PATH, EndingOffset, NumberField)),
    ROW_ONLY(u"RamDisk", ParseRamDiskNode, MEDIA_DEVICE_PATH, MEDIA_RAM_DISK_DP, NO_PRESET),
    // RAM disks of a fixed disk type, preset VIRTUAL_DISK_KIND.
    ROW_ONLY(u"VirtualDisk", ParseVirtualDiskNode, MEDIA_DEVICE_PATH, MEDIA_RAM_DISK_DP, VirtualDiskKind),
    ROW_ONLY(u"VirtualCD", ParseVirtualDiskNode, MEDIA_DEVICE_PATH, MEDIA_RAM_DISK_DP, VirtualCdKind),
    ROW_ONLY(u"PersistentVirtualDisk", ParseVirtualDiskNode, MEDIA_DEVICE_PATH, MEDIA_RAM_DISK_DP,
             PersistentVirtualDiskKind),
    ROW_ONLY(u"PersistentVirtualCD", ParseVirtualDiskNode, MEDIA_DEVICE_PATH, MEDIA_RAM_DISK_DP,
             PersistentVirtualCdKind),
    ROW_ONLY(u"BbsPath", ParseGenericRow, BBS_DEVICE_PATH, SUBTYPE_FROM_TEXT, NO_PRESET),
    ROW_ONLY(u"BBS", ParseBbsNode, BBS_DEVICE_PATH, BBS_BBS_DP, NO_PRESET),

    // Row 86, last: Sata(HbaPort,MultiplierPort,Lun).
    ROW_ONLY(u"Sata", ParseSataNode, MESSAGING_DEVICE_PATH, MSG_SATA_DP, NO_PRESET),

    ROW_ONLY(nullptr, nullptr, TYPE_FROM_TEXT, SUBTYPE_FROM_TEXT, NO_PRESET),
};

// Every field of a fixed-layout row lies inside its node.
static constexpr BOOLEAN FieldsFitTheirNodes() {
  for (const NODE_TEXT_ROW &Row : gNodeTextTable) {
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

// Whether the row numbered Number (from 1) holds Keyword.
static constexpr BOOLEAN RowHolds(UINTN Number, const CHAR16 *Keyword) {
  const CHAR16 *Text = gNodeTextTable[Number - 1].Keyword;
  if (Text == nullptr) {
    return FALSE;
  }
  for (; *Keyword != 0; Text++, Keyword++) {
    if (*Text != *Keyword) {
      return FALSE;
    }
  }
  return *Text == 0;
}

// The row numbers of the comments above: the first and last row of each
// group, and "Sata" in row 86, the last before the closing row.
static constexpr BOOLEAN RowsStandWhereTheCommentsSay() {
  constexpr struct {
    UINTN Number;
    const CHAR16 *Keyword;
  } Marks[] = {{1, u"Path"},         {19, u"AcpiAdr"},     {20, u"Msg"},       {41, u"DebugPort"}, {42, u"MAC"},
               {70, u"BluetoothLE"}, {71, u"MediaPath"}, {85, u"BBS"},       {86, u"Sata"}};
  for (const auto &Mark : Marks) {
    if (!RowHolds(Mark.Number, Mark.Keyword)) {
      return FALSE;
    }
  }
  return TRUE;
}
static_assert(RowsStandWhereTheCommentsSay(), "the row numbers in the comments and the rows disagree");
static_assert(ArrayCount(gNodeTextTable) == 86 + 1, "86 keyword rows and the closing row");

// Whether two keywords are the same text.
static constexpr BOOLEAN SameKeyword(const CHAR16 *Left, const CHAR16 *Right) {
  for (; *Left != 0 && *Left == *Right; Left++, Right++) {
  }
  return *Left == *Right;
}

// No keyword stands in two rows. With "(" required right after a keyword,
// which no keyword holds, at most one row claims any node text.
static constexpr BOOLEAN KeywordsAreDistinct() {
  for (UINTN First = 0; gNodeTextTable[First].Keyword != nullptr; First++) {
    for (UINTN Second = First + 1; gNodeTextTable[Second].Keyword != nullptr; Second++) {
      if (SameKeyword(gNodeTextTable[First].Keyword, gNodeTextTable[Second].Keyword)) {
        return FALSE;
      }
    }
  }
  return TRUE;
}
static_assert(KeywordsAreDistinct(), "a keyword stands in two rows");

// Whether a keyword holds "(" anywhere.
static constexpr BOOLEAN NoKeywordHoldsAnOpeningParenthesis() {
  for (const NODE_TEXT_ROW &Row : gNodeTextTable) {
    for (const CHAR16 *Text = Row.Keyword; Text != nullptr && *Text != 0; Text++) {
      if (*Text == u'(') {
        return FALSE;
      }
    }
  }
  return TRUE;
}
static_assert(NoKeywordHoldsAnOpeningParenthesis(), "a keyword holds \"(\"");

// The table looked up by text, for tools that name the keyword that made a
// node (devpath/DevicePath.h).
const CHAR16 *NodeTextKeyword(const CHAR16 *NodeText) {
  const CHAR16 *Open;
  const CHAR16 *Close;
  const NODE_TEXT_ROW *Row = FindNodeTextRow(NodeText, &Open, &Close);
  return Row != nullptr ? Row->Keyword : nullptr;
}
