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
#include "driver/devpath/DevicePathParsers.h"
#include "driver/devpath/NodeTextTable.h"

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

// The parsers are listed, and numbered, in driver/devpath/NodeTextTable.h (NODE_PARSERS).
static_assert(NODE_PARSER_IDS == NODE_PARSER_COUNT, "NODE_PARSER_COUNT is not the number of parsers");

// A keyword row as written, before it is packed into the compact tables
// below (keyword text, parser index, fields).
static constexpr UINTN MAX_ROW_FIELDS = 6;
struct NODE_ROW_SOURCE {
  const char *Keyword;
  NODE_PARSER_ID Parser;
  UINT8 Type;
  UINT8 SubType;
  UINT16 Preset;
  NODE_FIELD Fields[MAX_ROW_FIELDS];
};

// A row whose parser needs no fields.
#define ROW_ONLY(Keyword, Parser, Type, SubType, Preset) {Keyword, Parser##Id, Type, SubType, Preset, {}}
// A row of ParseFieldNode: a node laid out as Layout, whose fields the
// parameters fill in the order given.
#define FIELD_ROW(Keyword, Type, SubType, Layout, ...) \
  {Keyword, ParseFieldNodeId, Type, SubType, sizeof(Layout), {__VA_ARGS__}}
// A field of Layout and the reader of its parameter.
#define FIELD(Layout, Member, Reader) {offsetof(Layout, Member), sizeof(Layout::Member), Reader}

static constexpr NODE_ROW_SOURCE kRowSource[] = {
    // Hardware and ACPI nodes: rows 1 to 19.
    ROW_ONLY("Path", ParsePathNode, TYPE_FROM_TEXT, SUBTYPE_FROM_TEXT, NO_PRESET),
    ROW_ONLY("HardwarePath", ParseGenericRow, HARDWARE_DEVICE_PATH, SUBTYPE_FROM_TEXT, NO_PRESET),
    // Pci(Device,Function): the node stores the function first.
    FIELD_ROW("Pci", HARDWARE_DEVICE_PATH, HW_PCI_DP, PCI_DEVICE_PATH, FIELD(PCI_DEVICE_PATH, Device, NumberField),
              FIELD(PCI_DEVICE_PATH, Function, NumberField)),
    FIELD_ROW("PcCard", HARDWARE_DEVICE_PATH, HW_PCCARD_DP, PCCARD_DEVICE_PATH,
              FIELD(PCCARD_DEVICE_PATH, FunctionNumber, NumberField)),
    // MemoryMapped(MemoryType,StartAddress,EndAddress)
    FIELD_ROW("MemoryMapped", HARDWARE_DEVICE_PATH, HW_MEMMAP_DP, MEMMAP_DEVICE_PATH,
              FIELD(MEMMAP_DEVICE_PATH, MemoryType, NumberField), FIELD(MEMMAP_DEVICE_PATH, StartingAddress, NumberField),
              FIELD(MEMMAP_DEVICE_PATH, EndingAddress, NumberField)),
    ROW_ONLY("VenHw", ParseVendorRow, HARDWARE_DEVICE_PATH, HW_VENDOR_DP, NO_PRESET),
    FIELD_ROW("Ctrl", HARDWARE_DEVICE_PATH, HW_CONTROLLER_DP, CONTROLLER_DEVICE_PATH,
              FIELD(CONTROLLER_DEVICE_PATH, ControllerNumber, NumberField)),
    // BMC(InterfaceType,BaseAddress): the address is hexadecimal, "0x" or not.
    FIELD_ROW("BMC", HARDWARE_DEVICE_PATH, HW_BMC_DP, BMC_DEVICE_PATH, FIELD(BMC_DEVICE_PATH, InterfaceType, NumberField),
              FIELD(BMC_DEVICE_PATH, BaseAddress, HexField)),
    ROW_ONLY("AcpiPath", ParseGenericRow, ACPI_DEVICE_PATH, SUBTYPE_FROM_TEXT, NO_PRESET),
    // Acpi(HID,UID)
    FIELD_ROW("Acpi", ACPI_DEVICE_PATH, ACPI_DP, ACPI_HID_DEVICE_PATH, FIELD(ACPI_HID_DEVICE_PATH, HID, EisaIdField),
              FIELD(ACPI_HID_DEVICE_PATH, UID, NumberField)),
    // Fixed PNP _HID, product number preset; the parameter is _UID.
    ROW_ONLY("PciRoot", ParseAcpiHidRow, ACPI_DEVICE_PATH, ACPI_DP, PNP_PCI_BUS),
    ROW_ONLY("PcieRoot", ParseAcpiHidRow, ACPI_DEVICE_PATH, ACPI_DP, PNP_PCI_EXPRESS_BUS),
    ROW_ONLY("Floppy", ParseAcpiHidRow, ACPI_DEVICE_PATH, ACPI_DP, PNP_FLOPPY_CONTROLLER),
    ROW_ONLY("Keyboard", ParseAcpiHidRow, ACPI_DEVICE_PATH, ACPI_DP, PNP_KEYBOARD),
    ROW_ONLY("Serial", ParseAcpiHidRow, ACPI_DEVICE_PATH, ACPI_DP, PNP_SERIAL_PORT),
    ROW_ONLY("ParallelPort", ParseAcpiHidRow, ACPI_DEVICE_PATH, ACPI_DP, PNP_PARALLEL_PORT),
    ROW_ONLY("AcpiEx", ParseAcpiExNode, ACPI_DEVICE_PATH, ACPI_EXTENDED_DP, NO_PRESET),
    ROW_ONLY("AcpiExp", ParseAcpiExpNode, ACPI_DEVICE_PATH, ACPI_EXTENDED_DP, NO_PRESET),
    ROW_ONLY("AcpiAdr", ParseAcpiAdrNode, ACPI_DEVICE_PATH, ACPI_ADR_DP, NO_PRESET),

    // Messaging nodes, buses, storage and consoles: rows 20 to 41.
    ROW_ONLY("Msg", ParseGenericRow, MESSAGING_DEVICE_PATH, SUBTYPE_FROM_TEXT, NO_PRESET),
    // Ata(Channel,Drive,Lun): channel and drive may be words.
    ROW_ONLY("Ata", ParseAtaNode, MESSAGING_DEVICE_PATH, MSG_ATAPI_DP, NO_PRESET),
    // Scsi(Pun,Lun)
    FIELD_ROW("Scsi", MESSAGING_DEVICE_PATH, MSG_SCSI_DP, SCSI_DEVICE_PATH, FIELD(SCSI_DEVICE_PATH, Pun, NumberField),
              FIELD(SCSI_DEVICE_PATH, Lun, NumberField)),
    // Fibre(WWN,Lun)
    FIELD_ROW("Fibre", MESSAGING_DEVICE_PATH, MSG_FIBRECHANNEL_DP, FIBRECHANNEL_DEVICE_PATH,
              FIELD(FIBRECHANNEL_DEVICE_PATH, WWN, NumberField), FIELD(FIBRECHANNEL_DEVICE_PATH, Lun, NumberField)),
    // FibreEx(WWN,Lun): both most significant byte first.
    FIELD_ROW("FibreEx", MESSAGING_DEVICE_PATH, MSG_FIBRECHANNELEX_DP, FIBRECHANNELEX_DEVICE_PATH,
              FIELD(FIBRECHANNELEX_DEVICE_PATH, WWN, BigEndianField),
              FIELD(FIBRECHANNELEX_DEVICE_PATH, Lun, BigEndianField)),
    // I1394(Guid): hexadecimal, "0x" or not.
    FIELD_ROW("I1394", MESSAGING_DEVICE_PATH, MSG_1394_DP, F1394_DEVICE_PATH, FIELD(F1394_DEVICE_PATH, Guid, HexField)),
    // USB(ParentPort,Interface)
    FIELD_ROW("USB", MESSAGING_DEVICE_PATH, MSG_USB_DP, USB_DEVICE_PATH,
              FIELD(USB_DEVICE_PATH, ParentPortNumber, NumberField), FIELD(USB_DEVICE_PATH, InterfaceNumber, NumberField)),
    FIELD_ROW("I2O", MESSAGING_DEVICE_PATH, MSG_I2O_DP, I2O_DEVICE_PATH, FIELD(I2O_DEVICE_PATH, Tid, NumberField)),
    // Infiniband(Flags,PortGid,ServiceId,TargetPortId,DeviceId): the port GID
    // is written as a GUID text.
    FIELD_ROW("Infiniband", MESSAGING_DEVICE_PATH, MSG_INFINIBAND_DP, INFINIBAND_DEVICE_PATH,
              FIELD(INFINIBAND_DEVICE_PATH, ResourceFlags, NumberField),
              FIELD(INFINIBAND_DEVICE_PATH, PortGid, GuidField), FIELD(INFINIBAND_DEVICE_PATH, ServiceId, NumberField),
              FIELD(INFINIBAND_DEVICE_PATH, TargetPortId, NumberField),
              FIELD(INFINIBAND_DEVICE_PATH, DeviceId, NumberField)),
    ROW_ONLY("VenMsg", ParseVendorRow, MESSAGING_DEVICE_PATH, MSG_VENDOR_DP, NO_PRESET),
    // Vendor nodes of a fixed GUID, which the preset selects.
    ROW_ONLY("VenPcAnsi", ParseFixedVendorRow, MESSAGING_DEVICE_PATH, MSG_VENDOR_DP, MsgVendorPcAnsi),
    ROW_ONLY("VenVt100", ParseFixedVendorRow, MESSAGING_DEVICE_PATH, MSG_VENDOR_DP, MsgVendorVt100),
    ROW_ONLY("VenVt100Plus", ParseFixedVendorRow, MESSAGING_DEVICE_PATH, MSG_VENDOR_DP, MsgVendorVt100Plus),
    ROW_ONLY("VenUtf8", ParseFixedVendorRow, MESSAGING_DEVICE_PATH, MSG_VENDOR_DP, MsgVendorUtf8),
    ROW_ONLY("UartFlowCtrl", ParseUartFlowCtrlNode, MESSAGING_DEVICE_PATH, MSG_VENDOR_DP, MsgVendorUartFlowControl),
    ROW_ONLY("SAS", ParseSasNode, MESSAGING_DEVICE_PATH, MSG_VENDOR_DP, MsgVendorSas),
    ROW_ONLY("SasEx", ParseSasExNode, MESSAGING_DEVICE_PATH, MSG_SASEX_DP, NO_PRESET),
    // NVMe(NamespaceId,Eui64)
    ROW_ONLY("NVMe", ParseNvmeNode, MESSAGING_DEVICE_PATH, MSG_NVME_NAMESPACE_DP, NO_PRESET),
    // UFS(TargetId,Lun)
    FIELD_ROW("UFS", MESSAGING_DEVICE_PATH, MSG_UFS_DP, UFS_DEVICE_PATH, FIELD(UFS_DEVICE_PATH, Pun, NumberField),
              FIELD(UFS_DEVICE_PATH, Lun, NumberField)),
    FIELD_ROW("SD", MESSAGING_DEVICE_PATH, MSG_SD_DP, SD_DEVICE_PATH, FIELD(SD_DEVICE_PATH, SlotNumber, NumberField)),
    FIELD_ROW("eMMC", MESSAGING_DEVICE_PATH, MSG_EMMC_DP, EMMC_DEVICE_PATH, FIELD(EMMC_DEVICE_PATH, SlotNumber, NumberField)),
    ROW_ONLY("DebugPort", ParseFixedVendorRow, MESSAGING_DEVICE_PATH, MSG_VENDOR_DP, MsgVendorDebugPort),

    // Messaging nodes, network, USB classes and wireless: rows 42 to 70.
    ROW_ONLY("MAC", ParseMacAddressNode, MESSAGING_DEVICE_PATH, MSG_MAC_ADDR_DP, NO_PRESET),
    ROW_ONLY("IPv4", ParseIpv4Node, MESSAGING_DEVICE_PATH, MSG_IPv4_DP, NO_PRESET),
    ROW_ONLY("IPv6", ParseIpv6Node, MESSAGING_DEVICE_PATH, MSG_IPv6_DP, NO_PRESET),
    ROW_ONLY("Uart", ParseUartNode, MESSAGING_DEVICE_PATH, MSG_UART_DP, NO_PRESET),
    // USB class nodes; the preset fixes the class, the subclass or neither.
    ROW_ONLY("UsbClass", ParseUsbClassRow, MESSAGING_DEVICE_PATH, MSG_USB_CLASS_DP, UsbClassAnyPreset),
    ROW_ONLY("UsbAudio", ParseUsbClassRow, MESSAGING_DEVICE_PATH, MSG_USB_CLASS_DP, UsbAudioPreset),
    ROW_ONLY("UsbCDCControl", ParseUsbClassRow, MESSAGING_DEVICE_PATH, MSG_USB_CLASS_DP, UsbCdcControlPreset),
    ROW_ONLY("UsbHID", ParseUsbClassRow, MESSAGING_DEVICE_PATH, MSG_USB_CLASS_DP, UsbHidPreset),
    ROW_ONLY("UsbImage", ParseUsbClassRow, MESSAGING_DEVICE_PATH, MSG_USB_CLASS_DP, UsbImagePreset),
    ROW_ONLY("UsbPrinter", ParseUsbClassRow, MESSAGING_DEVICE_PATH, MSG_USB_CLASS_DP, UsbPrinterPreset),
    ROW_ONLY("UsbMassStorage", ParseUsbClassRow, MESSAGING_DEVICE_PATH, MSG_USB_CLASS_DP, UsbMassStoragePreset),
    ROW_ONLY("UsbHub", ParseUsbClassRow, MESSAGING_DEVICE_PATH, MSG_USB_CLASS_DP, UsbHubPreset),
    ROW_ONLY("UsbCDCData", ParseUsbClassRow, MESSAGING_DEVICE_PATH, MSG_USB_CLASS_DP, UsbCdcDataPreset),
    ROW_ONLY("UsbSmartCard", ParseUsbClassRow, MESSAGING_DEVICE_PATH, MSG_USB_CLASS_DP, UsbSmartCardPreset),
    ROW_ONLY("UsbVideo", ParseUsbClassRow, MESSAGING_DEVICE_PATH, MSG_USB_CLASS_DP, UsbVideoPreset),
    ROW_ONLY("UsbDiagnostic", ParseUsbClassRow, MESSAGING_DEVICE_PATH, MSG_USB_CLASS_DP, UsbDiagnosticPreset),
    ROW_ONLY("UsbWireless", ParseUsbClassRow, MESSAGING_DEVICE_PATH, MSG_USB_CLASS_DP, UsbWirelessPreset),
    ROW_ONLY("UsbDeviceFirmwareUpdate", ParseUsbClassRow, MESSAGING_DEVICE_PATH, MSG_USB_CLASS_DP,
             UsbDeviceFirmwareUpdatePreset),
    ROW_ONLY("UsbIrdaBridge", ParseUsbClassRow, MESSAGING_DEVICE_PATH, MSG_USB_CLASS_DP, UsbIrdaBridgePreset),
    ROW_ONLY("UsbTestAndMeasurement", ParseUsbClassRow, MESSAGING_DEVICE_PATH, MSG_USB_CLASS_DP,
             UsbTestAndMeasurementPreset),
    ROW_ONLY("UsbWwid", ParseUsbWwidNode, MESSAGING_DEVICE_PATH, MSG_USB_WWID_DP, NO_PRESET),
    FIELD_ROW("Unit", MESSAGING_DEVICE_PATH, MSG_DEVICE_LOGICAL_UNIT_DP, DEVICE_LOGICAL_UNIT_DEVICE_PATH,
              FIELD(DEVICE_LOGICAL_UNIT_DEVICE_PATH, Lun, NumberField)),
    ROW_ONLY("iSCSI", ParseIscsiNode, MESSAGING_DEVICE_PATH, MSG_ISCSI_DP, NO_PRESET),
    FIELD_ROW("Vlan", MESSAGING_DEVICE_PATH, MSG_VLAN_DP, VLAN_DEVICE_PATH, FIELD(VLAN_DEVICE_PATH, VlanId, NumberField)),
    ROW_ONLY("Dns", ParseDnsNode, MESSAGING_DEVICE_PATH, MSG_DNS_DP, NO_PRESET),
    ROW_ONLY("Uri", ParseUriNode, MESSAGING_DEVICE_PATH, MSG_URI_DP, NO_PRESET),
    // Bluetooth(Address), BluetoothLE(Address,AddressType)
    // 12 hex digits into the 6 address bytes in text order, all zero when
    // there are fewer.
    FIELD_ROW("Bluetooth", MESSAGING_DEVICE_PATH, MSG_BLUETOOTH_DP, BLUETOOTH_DEVICE_PATH,
              FIELD(BLUETOOTH_DEVICE_PATH, Address, HexBytesField)),
    // Wi-Fi(SSID): the first 32 characters, zero-padded, no terminator of
    // its own.
    FIELD_ROW("Wi-Fi", MESSAGING_DEVICE_PATH, MSG_WIFI_DP, WIFI_DEVICE_PATH,
              FIELD(WIFI_DEVICE_PATH, SSId, NarrowTextField)),
    FIELD_ROW("BluetoothLE", MESSAGING_DEVICE_PATH, MSG_BLUETOOTH_LE_DP, BLUETOOTH_LE_DEVICE_PATH,
              FIELD(BLUETOOTH_LE_DEVICE_PATH, Address, HexBytesField),
              FIELD(BLUETOOTH_LE_DEVICE_PATH, AddressType, NumberField)),

    // Media and BBS nodes: rows 71 to 85.
    ROW_ONLY("MediaPath", ParseGenericRow, MEDIA_DEVICE_PATH, SUBTYPE_FROM_TEXT, NO_PRESET),
    ROW_ONLY("HD", ParseHardDriveNode, MEDIA_DEVICE_PATH, MEDIA_HARDDRIVE_DP, NO_PRESET),
    // CDROM(Entry,Start,Size)
    FIELD_ROW("CDROM", MEDIA_DEVICE_PATH, MEDIA_CDROM_DP, CDROM_DEVICE_PATH, FIELD(CDROM_DEVICE_PATH, BootEntry, NumberField),
              FIELD(CDROM_DEVICE_PATH, PartitionStart, NumberField), FIELD(CDROM_DEVICE_PATH, PartitionSize, NumberField)),
    ROW_ONLY("VenMedia", ParseVendorRow, MEDIA_DEVICE_PATH, MEDIA_VENDOR_DP, NO_PRESET),
    // Media(Guid), Fv(Guid), FvFile(Guid): a node of one GUID.
    FIELD_ROW("Media", MEDIA_DEVICE_PATH, MEDIA_PROTOCOL_DP, MEDIA_PROTOCOL_DEVICE_PATH,
              FIELD(MEDIA_PROTOCOL_DEVICE_PATH, Protocol, GuidField)),
    FIELD_ROW("Fv", MEDIA_DEVICE_PATH, MEDIA_PIWG_FW_VOL_DP, MEDIA_FW_VOL_DEVICE_PATH,
              FIELD(MEDIA_FW_VOL_DEVICE_PATH, FvName, GuidField)),
    FIELD_ROW("FvFile", MEDIA_DEVICE_PATH, MEDIA_PIWG_FW_FILE_DP, MEDIA_FW_VOL_FILEPATH_DEVICE_PATH,
              FIELD(MEDIA_FW_VOL_FILEPATH_DEVICE_PATH, FvFileName, GuidField)),
    // Offset(Start,End): the four bytes before them are reserved.
    FIELD_ROW("Offset", MEDIA_DEVICE_PATH, MEDIA_RELATIVE_OFFSET_RANGE_DP, MEDIA_RELATIVE_OFFSET_RANGE_DEVICE_PATH,
              FIELD(MEDIA_RELATIVE_OFFSET_RANGE_DEVICE_PATH, StartingOffset, NumberField),
              FIELD(MEDIA_RELATIVE_OFFSET_RANGE_DEVICE_PATH, EndingOffset, NumberField)),
    // RamDisk(Start,End,Instance,TypeGuid)
    FIELD_ROW("RamDisk", MEDIA_DEVICE_PATH, MEDIA_RAM_DISK_DP, MEDIA_RAM_DISK_DEVICE_PATH,
              FIELD(MEDIA_RAM_DISK_DEVICE_PATH, StartingAddress, NumberField),
              FIELD(MEDIA_RAM_DISK_DEVICE_PATH, EndingAddress, NumberField),
              FIELD(MEDIA_RAM_DISK_DEVICE_PATH, Instance, NumberField),
              FIELD(MEDIA_RAM_DISK_DEVICE_PATH, TypeGuid, GuidField)),
    // RAM disks of a fixed disk type, preset VIRTUAL_DISK_KIND.
    ROW_ONLY("VirtualDisk", ParseVirtualDiskNode, MEDIA_DEVICE_PATH, MEDIA_RAM_DISK_DP, VirtualDiskKind),
    ROW_ONLY("VirtualCD", ParseVirtualDiskNode, MEDIA_DEVICE_PATH, MEDIA_RAM_DISK_DP, VirtualCdKind),
    ROW_ONLY("PersistentVirtualDisk", ParseVirtualDiskNode, MEDIA_DEVICE_PATH, MEDIA_RAM_DISK_DP,
             PersistentVirtualDiskKind),
    ROW_ONLY("PersistentVirtualCD", ParseVirtualDiskNode, MEDIA_DEVICE_PATH, MEDIA_RAM_DISK_DP,
             PersistentVirtualCdKind),
    ROW_ONLY("BbsPath", ParseGenericRow, BBS_DEVICE_PATH, SUBTYPE_FROM_TEXT, NO_PRESET),
    ROW_ONLY("BBS", ParseBbsNode, BBS_DEVICE_PATH, BBS_BBS_DP, NO_PRESET),

    // Row 86, last: Sata(HbaPort,MultiplierPort,Lun). No multiplier port
    // text means the device is attached directly: 0xFFFF.
    FIELD_ROW("Sata", MESSAGING_DEVICE_PATH, MSG_SATA_DP, SATA_DEVICE_PATH,
              FIELD(SATA_DEVICE_PATH, HBAPortNumber, NumberField),
              FIELD(SATA_DEVICE_PATH, PortMultiplierPortNumber, AllOnesIfEmptyField),
              FIELD(SATA_DEVICE_PATH, Lun, NumberField)),
};

static_assert(ArrayCount(kRowSource) == NODE_TEXT_ROW_COUNT, "86 keyword rows");

// Every field of a fixed-layout row lies inside its node, and the readers
// that write a fixed number of bytes get fields of that width.
static constexpr BOOLEAN FieldsFitTheirNodes() {
  for (const NODE_ROW_SOURCE &Row : kRowSource) {
    for (const NODE_FIELD &Field : Row.Fields) {
      if (Field.Width != 0 && (Row.Parser != ParseFieldNodeId || Field.Offset + Field.Width > Row.Preset ||
                               Field.Offset < sizeof(EFI_DEVICE_PATH_PROTOCOL) ||
                               (Field.Reader == BigEndianField && Field.Width != sizeof(UINT64)) ||
                               (Field.Reader == GuidField && Field.Width != sizeof(EFI_GUID)) ||
                               (Field.Reader != GuidField && Field.Reader != HexBytesField &&
                                Field.Reader != NarrowTextField && Field.Width > sizeof(UINT64)))) {
        return FALSE;
      }
    }
  }
  return TRUE;
}
static_assert(FieldsFitTheirNodes(), "a field lies outside its node or does not suit its reader");

// Whether two texts are the same.
static constexpr BOOLEAN SameKeyword(const char *Left, const char *Right) {
  for (; *Left != 0 && *Left == *Right; Left++, Right++) {
  }
  return *Left == *Right;
}

// Whether the row numbered Number (from 1) holds Keyword.
static constexpr BOOLEAN RowHolds(UINTN Number, const char *Keyword) {
  return SameKeyword(kRowSource[Number - 1].Keyword, Keyword);
}

// The row numbers of the comments above: the first and last row of each
// group, and "Sata" in row 86, the last.
static constexpr BOOLEAN RowsStandWhereTheCommentsSay() {
  constexpr struct {
    UINTN Number;
    const char *Keyword;
  } Marks[] = {{1, "Path"},         {19, "AcpiAdr"},     {20, "Msg"},       {41, "DebugPort"}, {42, "MAC"},
               {70, "BluetoothLE"}, {71, "MediaPath"}, {85, "BBS"},       {86, "Sata"}};
  for (const auto &Mark : Marks) {
    if (!RowHolds(Mark.Number, Mark.Keyword)) {
      return FALSE;
    }
  }
  return TRUE;
}
static_assert(RowsStandWhereTheCommentsSay(), "the row numbers in the comments and the rows disagree");

// No keyword stands in two rows. With "(" required right after a keyword,
// which no keyword holds, at most one row claims any node text.
static constexpr BOOLEAN KeywordsAreDistinct() {
  for (UINTN First = 0; First < NODE_TEXT_ROW_COUNT; First++) {
    for (UINTN Second = First + 1; Second < NODE_TEXT_ROW_COUNT; Second++) {
      if (SameKeyword(kRowSource[First].Keyword, kRowSource[Second].Keyword)) {
        return FALSE;
      }
    }
  }
  return TRUE;
}
static_assert(KeywordsAreDistinct(), "a keyword stands in two rows");

// Keywords are printable ASCII (so that their 8-bit text compares with
// UCS-2 text character by character), not empty, and hold no "(".
static constexpr BOOLEAN KeywordsArePlainAscii() {
  for (const NODE_ROW_SOURCE &Row : kRowSource) {
    if (Row.Keyword[0] == 0) {
      return FALSE;
    }
    for (const char *Text = Row.Keyword; *Text != 0; Text++) {
      if (*Text <= ' ' || *Text > '~' || *Text == '(') {
        return FALSE;
      }
    }
  }
  return TRUE;
}
static_assert(KeywordsArePlainAscii(), "a keyword is empty, not plain ASCII or holds \"(\"");

// ---------------------------------------------------------------------------
// The compact tables, packed from kRowSource when the driver is compiled.

static constexpr UINTN KeywordTextLength(const char *Text) {
  UINTN Length = 0;
  while (Text[Length] != 0) {
    Length++;
  }
  return Length;
}

// The keyword texts one after the other, each with its zero.
static constexpr UINTN KeywordBytes() {
  UINTN Bytes = 0;
  for (const NODE_ROW_SOURCE &Row : kRowSource) {
    Bytes += KeywordTextLength(Row.Keyword) + 1;
  }
  return Bytes;
}

// Every parser of the list is named by a row.
static constexpr BOOLEAN EveryParserHasARow() {
  for (UINTN Parser = 0; Parser < NODE_PARSER_IDS; Parser++) {
    BOOLEAN Named = FALSE;
    for (const NODE_ROW_SOURCE &Row : kRowSource) {
      Named = Named || Row.Parser == Parser;
    }
    if (!Named) {
      return FALSE;
    }
  }
  return TRUE;
}
static_assert(EveryParserHasARow(), "a parser of the list is named by no row");

// The fields of the ParseFieldNode rows, each row's closed by a field of
// Width 0.
static constexpr UINTN RowFieldCount(const NODE_ROW_SOURCE &Row) {
  UINTN Count = 0;
  while (Count < MAX_ROW_FIELDS && Row.Fields[Count].Width != 0) {
    Count++;
  }
  return Count;
}

static constexpr UINTN FieldEntries() {
  UINTN Entries = 0;
  for (const NODE_ROW_SOURCE &Row : kRowSource) {
    Entries += Row.Parser == ParseFieldNodeId ? RowFieldCount(Row) + 1 : 0;
  }
  return Entries;
}

static_assert(KeywordBytes() == NODE_KEYWORD_BYTES, "NODE_KEYWORD_BYTES is not the size of the keyword texts");
static_assert(FieldEntries() == NODE_FIELD_ENTRIES, "NODE_FIELD_ENTRIES is not the number of field entries");

static constexpr NODE_TEXT_TABLES PackTables() {
#define PARSER_POINTER(Parser) Parser,
  NODE_TEXT_TABLES Tables = {{}, {}, {NODE_PARSERS(PARSER_POINTER)}, {}, {}, {}};
#undef PARSER_POINTER
  UINTN Keyword = 0;
  UINTN Field = 0;
  for (UINT8 &First : Tables.FirstRow) {
    First = NO_NODE_TEXT_ROW;
  }
  for (UINTN Index = NODE_TEXT_ROW_COUNT; Index-- > 0;) {
    UINTN Bucket = (UINT8)kRowSource[Index].Keyword[0] % NODE_KEYWORD_BUCKETS;
    Tables.NextRow[Index] = Tables.FirstRow[Bucket];
    Tables.FirstRow[Bucket] = (UINT8)Index;
  }
  for (UINTN Index = 0; Index < NODE_TEXT_ROW_COUNT; Index++) {
    const NODE_ROW_SOURCE &Source = kRowSource[Index];
    NODE_TEXT_ROW &Row = Tables.Rows[Index];
    Row.Keyword = (UINT16)Keyword;
    for (const char *Text = Source.Keyword; *Text != 0; Text++) {
      Tables.Keywords[Keyword++] = *Text;
    }
    Tables.Keywords[Keyword++] = 0;
    Row.Preset = Source.Preset;
    Row.Parser = (UINT8)Source.Parser;
    Row.Type = Source.Type;
    Row.SubType = Source.SubType;
    if (Source.Parser == ParseFieldNodeId) {
      Row.Fields = (UINT8)Field;
      for (UINTN Count = 0; Count < RowFieldCount(Source); Count++) {
        Tables.Fields[Field++] = Source.Fields[Count];
      }
      Tables.Fields[Field++] = {0, 0, 0};
    }
  }
  return Tables;
}

constexpr NODE_TEXT_TABLES gNodeTextTables = PackTables();

// The keyword at the start of Text with "(" right after it: the "(", or
// null. The keyword's 8-bit characters compare with Text's UCS-2 ones.
static const CHAR16 *MatchKeyword(const CHAR16 *Text, const CHAR8 *Keyword) {
  for (; *Keyword != 0; Keyword++, Text++) {
    if (*Text != (UINT8)*Keyword) {
      return nullptr;
    }
  }
  return *Text == u'(' ? Text : nullptr;
}

const NODE_TEXT_ROW *FindNodeTextRow(const CHAR16 *NodeText, const CHAR16 **Open, const CHAR16 **Close) {
  for (UINTN Index = gNodeTextTables.FirstRow[*NodeText % NODE_KEYWORD_BUCKETS]; Index != NO_NODE_TEXT_ROW;
       Index = gNodeTextTables.NextRow[Index]) {
    const NODE_TEXT_ROW *Row = &gNodeTextTables.Rows[Index];
    const CHAR16 *RowOpen = MatchKeyword(NodeText, NodeTextRowKeyword(Row));
    if (RowOpen == nullptr) {
      continue;
    }
    const CHAR16 *RowClose = RowOpen + 1;
    while (*RowClose != 0 && *RowClose != u')') {
      RowClose++;
    }
    if (*RowClose == 0) {
      continue;
    }
    *Open = RowOpen;
    *Close = RowClose;
    return Row;
  }
  return nullptr;
}

// The table looked up by text, for tools that name the keyword that made a
// node (driver/devpath/DevicePath.h).
const CHAR8 *NodeTextKeyword(const CHAR16 *NodeText) {
  const CHAR16 *Open;
  const CHAR16 *Close;
  const NODE_TEXT_ROW *Row = FindNodeTextRow(NodeText, &Open, &Close);
  return Row != nullptr ? NodeTextRowKeyword(Row) : nullptr;
}
