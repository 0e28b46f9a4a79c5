// The keyword table of the device-path text converter, and the values its
// keywords stand for, as read-only data: the rows (keyword, parser, node
// type and subtype, preset, fields), the vendor and disk-type GUIDs and the
// USB classes that presets select, the PNP product numbers, the words of
// keyword-valued parameters and the bit layouts they fill.
//
// The converter reads this data (NodeTextTable.cpp packs the rows, the node
// parsers take the rest), and so does the host's formatter of binary paths,
// which writes a node as the text its row reads back. Each value has this
// one home; nothing here is code.
#pragma once

#include "driver/devpath/DevicePath.h"

// ---------------------------------------------------------------------------
// The rows.
//
// A row names a keyword and its parser, with the data that rows of one
// shape differ in: node type and subtype, a preset value, and for nodes of
// fixed layout the fields that the parameters fill, in text order.

// The parsers the rows name, in the order of the table of parsers. The rows
// name a parser by its place here: constant evaluation compares these
// numbers, never the addresses of two functions.
#define NODE_PARSERS(X) \
  X(ParseFieldNode) \
  X(ParsePathNode) \
  X(ParseGenericRow) \
  X(ParseVendorRow) \
  X(ParseAcpiHidRow) \
  X(ParseAcpiExNode) \
  X(ParseAcpiExpNode) \
  X(ParseAcpiAdrNode) \
  X(ParseAtaNode) \
  X(ParseFixedVendorRow) \
  X(ParseUartFlowCtrlNode) \
  X(ParseSasNode) \
  X(ParseSasExNode) \
  X(ParseNvmeNode) \
  X(ParseMacAddressNode) \
  X(ParseIpv4Node) \
  X(ParseIpv6Node) \
  X(ParseUartNode) \
  X(ParseUsbClassRow) \
  X(ParseUsbWwidNode) \
  X(ParseIscsiNode) \
  X(ParseDnsNode) \
  X(ParseUriNode) \
  X(ParseHardDriveNode) \
  X(ParseVirtualDiskNode) \
  X(ParseBbsNode)
#define NODE_PARSER_ENUMERATOR(Parser) Parser##Id,
// A row's Parser: the place of its parser in NODE_PARSERS.
typedef enum { NODE_PARSERS(NODE_PARSER_ENUMERATOR) NODE_PARSER_IDS } NODE_PARSER_ID;
#undef NODE_PARSER_ENUMERATOR

typedef enum {
  NumberField,     // ParseNumber, little-endian (ParseNumber64 for 64-bit fields: same value)
  HexField,        // ParseHexValue, little-endian
  EisaIdField,     // EisaIdFromText, little-endian
  BigEndianField,  // ParseNumber into 8 bytes, most significant byte first
  GuidField,       // WriteGuidText into 16 bytes
  HexBytesField,   // HexTextToBytes: Width bytes from 2 * Width digits, or all zero
  AllOnesIfEmptyField,  // all ones for an empty text, else ParseNumber; little-endian
  NarrowTextField,      // the low bytes of up to Width characters, zero-padded
} NODE_FIELD_READER;

typedef struct {
  UINT8 Offset;  // from the start of the node
  UINT8 Width;   // bytes; 0 ends a row's fields
  UINT8 Reader;  // NODE_FIELD_READER
} NODE_FIELD;

struct NODE_TEXT_ROW;

// Takes the row's ParamText (writable, spent after the call) and returns a
// new node, or null: when the pool refuses (gPoolRefusals), when the node
// is too long (RefuseNodeTooLong), or, for a Dns without servers alone,
// for the text itself.
typedef EFI_DEVICE_PATH_PROTOCOL *(*NodeParser)(CHAR16 *ParamText, const NODE_TEXT_ROW *Row);

// A keyword row, as compact data: its keyword as an offset into the
// keyword texts (8-bit, zero-terminated), its parser as an index among the
// parsers, and the data that rows of one shape differ in.
struct NODE_TEXT_ROW {
  UINT16 Keyword;
  // ParseFieldNode: the node length, the size of its layout.
  // ParseAcpiHidRow: the PNP product number of the _HID.
  // ParseFixedVendorRow, ParseUartFlowCtrlNode, ParseSasNode for "SAS": the
  // MESSAGING_VENDOR_GUID_INDEX of the vendor GUID.
  // ParseVirtualDiskNode: the VIRTUAL_DISK_KIND.
  // ParseUsbClassRow: the USB_CLASS_PRESET_INDEX.
  // Every other parser: 0 (NO_PRESET in the table), unused.
  UINT16 Preset;
  UINT8 Parser;  // NODE_PARSER_ID
  UINT8 Type;
  UINT8 SubType;
  // ParseFieldNode: the index among the fields of the first field the
  // parameters fill, in text order, up to a field of Width 0.
  UINT8 Fields;
};

// The sizes of the packed keyword tables; NodeTextTable.cpp checks each
// against the rows it packs.
static constexpr UINTN NODE_TEXT_ROW_COUNT = 86;
static constexpr UINTN NODE_KEYWORD_BYTES = 715;
static constexpr UINTN NODE_FIELD_ENTRIES = 79;
static constexpr UINTN NODE_PARSER_COUNT = 26;
// Keywords fall into buckets by the low five bits of their first letter.
static constexpr UINTN NODE_KEYWORD_BUCKETS = 32;
static constexpr UINT8 NO_NODE_TEXT_ROW = 0xFF;

// The keyword table, packed: the keyword rows in their fixed order
// (NodeTextTable.cpp says which), the fields of the ParseFieldNode rows, the
// parsers the rows name, the keyword texts the rows point into, and the
// chains of rows by bucket that FindNodeTextRow follows.
typedef struct {
  NODE_TEXT_ROW Rows[NODE_TEXT_ROW_COUNT];
  NODE_FIELD Fields[NODE_FIELD_ENTRIES];
  NodeParser Parsers[NODE_PARSER_COUNT];
  UINT8 FirstRow[NODE_KEYWORD_BUCKETS];     // of each bucket; NO_NODE_TEXT_ROW for none
  UINT8 NextRow[NODE_TEXT_ROW_COUNT];       // of the row's bucket; NO_NODE_TEXT_ROW after the last
  CHAR8 Keywords[NODE_KEYWORD_BYTES];       // each zero-terminated
} NODE_TEXT_TABLES;

extern const NODE_TEXT_TABLES gNodeTextTables;

// A row's keyword, 8-bit text.
inline const CHAR8 *NodeTextRowKeyword(const NODE_TEXT_ROW *Row) { return &gNodeTextTables.Keywords[Row->Keyword]; }

// The first of a ParseFieldNode row's fields, which run up to one of
// Width 0.
inline const NODE_FIELD *NodeTextRowFields(const NODE_TEXT_ROW *Row) { return &gNodeTextTables.Fields[Row->Fields]; }

// The row whose keyword claims NodeText (NodeTextKeyword says how), with
// *Open at the "(" after the keyword and *Close at the first ")" after
// that; null, and nothing stored, when no row claims it. Only the rows
// whose keyword starts with a letter of the same low five bits as the
// text's first character are compared.
const NODE_TEXT_ROW *FindNodeTextRow(const CHAR16 *NodeText, const CHAR16 **Open, const CHAR16 **Close);

// ---------------------------------------------------------------------------
// What the presets select.

// The fixed-GUID rows ("VenPcAnsi" to "DebugPort", "UartFlowCtrl", "SAS")
// hold the index of their vendor GUID in Preset.
typedef enum {
  MsgVendorPcAnsi,
  MsgVendorVt100,
  MsgVendorVt100Plus,
  MsgVendorUtf8,
  MsgVendorDebugPort,
  MsgVendorUartFlowControl,
  MsgVendorSas,
  MSG_VENDOR_GUID_COUNT
} MESSAGING_VENDOR_GUID_INDEX;

// The fixed vendor GUIDs of vendor-defined messaging nodes, in the order of
// MESSAGING_VENDOR_GUID_INDEX (MessagingNodes.cpp).
extern const EFI_GUID gMessagingVendorGuids[MSG_VENDOR_GUID_COUNT];

// The disk types of the virtual-disk keywords: the preset of their rows.
typedef enum {
  VirtualDiskKind,
  VirtualCdKind,
  PersistentVirtualDiskKind,
  PersistentVirtualCdKind,
  VirtualDiskKinds
} VIRTUAL_DISK_KIND;

// Disk-type GUIDs of the virtual-disk keywords, in the order of
// VIRTUAL_DISK_KIND, as the node stores them (MediaNodes.cpp).
extern const EFI_GUID gVirtualDiskTypeGuids[VirtualDiskKinds];

// What a USB class keyword fixes: the device class and subclass, each
// either a value or read from the text.
typedef struct {
  BOOLEAN ClassFromText;
  UINT8 Class;  // when ClassFromText is clear
  BOOLEAN SubClassFromText;
  UINT8 SubClass;  // when SubClassFromText is clear
} UsbClassPreset;

// "UsbClass" and the fifteen keywords that fix the class: the preset of
// their rows, an index among the USB class presets.
typedef enum {
  UsbClassAnyPreset,
  UsbAudioPreset,
  UsbCdcControlPreset,
  UsbHidPreset,
  UsbImagePreset,
  UsbPrinterPreset,
  UsbMassStoragePreset,
  UsbHubPreset,
  UsbCdcDataPreset,
  UsbSmartCardPreset,
  UsbVideoPreset,
  UsbDiagnosticPreset,
  UsbWirelessPreset,
  UsbDeviceFirmwareUpdatePreset,
  UsbIrdaBridgePreset,
  UsbTestAndMeasurementPreset,
  USB_CLASS_PRESET_COUNT,
} USB_CLASS_PRESET_INDEX;

// The presets of the USB class keywords, in USB_CLASS_PRESET_INDEX order
// (NetworkNodes.cpp).
extern const UsbClassPreset gUsbClassPresets[USB_CLASS_PRESET_COUNT];

// "PNP" as the three letters of a compressed EISA ID: the low 16 bits of
// every PNP _HID. The fixed-_HID rows ("PciRoot" ...) hold the product
// number, the high 16 bits.
static constexpr UINT32 PNP_EISA_LETTERS = 0x41D0;
// Bits of one letter of a compressed EISA ID, and the letters it holds.
static constexpr UINTN EISA_LETTER_BITS = 5;
static constexpr CHAR16 EISA_LETTER_MASK = 0x1F;
static constexpr UINTN EISA_LETTER_COUNT = 3;
// Where the product number stands in a compressed EISA ID.
static constexpr UINTN EISA_PRODUCT_SHIFT = 16;

// ---------------------------------------------------------------------------
// Words of keyword-valued parameters, compared whole and case-sensitive.
//
// A word list (WordIndex) holds 8-bit words, each zero-terminated, ended by
// an empty word; a word's position is its value, or its value less one
// where the comment says "from 1". A single word is a constant that points
// at its text.

// Ata: the channel and the drive (MessagingNodes.cpp); any other text is a
// number.
extern const CHAR8 gAtaChannelWords[];  // "Primary", "Secondary"
extern const CHAR8 gAtaDriveWords[];    // "Master", "Slave"
// UartFlowCtrl: flow control map values from 1; any other text is 0.
extern const CHAR8 gFlowControlWords[];  // "Hardware", "XonXoff"

// SAS and SasEx: the device topology from a device kind, a location, a
// connection and a drive bay. A device kind other than the three words is
// the whole topology as a number.
static constexpr const CHAR8 *SAS_NO_TOPOLOGY_WORD = "NoTopology";
static constexpr const CHAR8 *SAS_DEVICE_SAS_WORD = "SAS";
static constexpr const CHAR8 *SAS_DEVICE_SATA_WORD = "SATA";
extern const CHAR8 gSasLocationWords[];    // "Internal", "External"; any other text a number
extern const CHAR8 gSasConnectionWords[];  // "Direct", "Expanded"; any other text a number

// The SAS device topology: bits 0-3 say how much topology information
// there is, bit 4 the SATA device, bit 5 the external location, bits 6-7 the
// expanded connection; the high byte holds the drive bay number less one.
static constexpr UINT16 SAS_TOPOLOGY_NONE = 0x0000;
static constexpr UINT16 SAS_TOPOLOGY_ONE_BYTE = 0x0001;
static constexpr UINT16 SAS_TOPOLOGY_TWO_BYTES = 0x0002;
static constexpr UINT16 SAS_TOPOLOGY_INFORMATION_MASK = 0x000F;
static constexpr UINT16 SAS_TOPOLOGY_SATA_DEVICE = 0x0010;
static constexpr UINTN SAS_TOPOLOGY_LOCATION_SHIFT = 5;
static constexpr UINT64 SAS_TOPOLOGY_LOCATION_MASK = 0x1;
static constexpr UINTN SAS_TOPOLOGY_CONNECTION_SHIFT = 6;
static constexpr UINT64 SAS_TOPOLOGY_CONNECTION_MASK = 0x3;
static constexpr UINTN SAS_TOPOLOGY_BAY_SHIFT = 8;

// A MAC address has 6 bytes for interface types up to Ethernet's (0 and 1);
// for every other type it takes the whole address field.
static constexpr UINTN ETHERNET_INTERFACE_TYPE = 1;
static constexpr UINTN ETHERNET_ADDRESS_SIZE = 6;

// IP protocols by word (IPv4, IPv6); any other text is a number.
static constexpr const CHAR8 *IP_PROTOCOL_TCP_WORD = "TCP";
static constexpr const CHAR8 *IP_PROTOCOL_UDP_WORD = "UDP";
static constexpr UINT64 IP_PROTOCOL_TCP = 6;
static constexpr UINT64 IP_PROTOCOL_UDP = 17;

// IPv4: a static address; any other text is one from DHCP.
static constexpr const CHAR8 *IPV4_STATIC_WORD = "Static";

// IPv6: the address origins the words name; any other text is stateful.
static constexpr const CHAR8 *IPV6_ORIGIN_STATIC_WORD = "Static";
static constexpr const CHAR8 *IPV6_ORIGIN_STATELESS_WORD = "StatelessAutoConfigure";
static constexpr UINT8 IPV6_ORIGIN_STATIC = 0;
static constexpr UINT8 IPV6_ORIGIN_STATELESS_AUTO_CONFIGURATION = 1;
static constexpr UINT8 IPV6_ORIGIN_STATEFUL_AUTO_CONFIGURATION = 2;

// Uart: parity by its first letter, in the order of its values from 0, and
// stop bits by the whole word, likewise; any other text is a number.
extern const CHAR8 gUartParityLetters[];  // "DNEOMS"
extern const CHAR8 gUartStopBitsWords[];  // "D", "1", "1.5", "2"

// iSCSI: the login options the words set (the bits are ISCSI_LOGIN_OPTION_*)
// and the network protocol. A digest other than the word is none, an
// authentication other than the two words is CHAP_BI, and a protocol text
// other than the word (or empty) is ISCSI_PROTOCOL_OTHER.
static constexpr const CHAR8 *ISCSI_DIGEST_CRC32C_WORD = "CRC32C";
static constexpr const CHAR8 *ISCSI_AUTHENTICATION_NONE_WORD = "None";
static constexpr const CHAR8 *ISCSI_AUTHENTICATION_CHAP_UNI_WORD = "CHAP_UNI";
static constexpr const CHAR8 *ISCSI_PROTOCOL_TCP_WORD = "TCP";
static constexpr UINT16 ISCSI_PROTOCOL_TCP = 0;
static constexpr UINT16 ISCSI_PROTOCOL_OTHER = 1;

// HD: the partition formats; any other text is the signature type as a
// number.
static constexpr const CHAR8 *HARD_DRIVE_MBR_WORD = "MBR";
static constexpr const CHAR8 *HARD_DRIVE_GPT_WORD = "GPT";

// BBS: device types from 1 (MediaNodes.cpp); any other text is a number.
extern const CHAR8 gBbsDeviceTypeWords[];  // "Floppy", "HD", "CDROM", "PCMCIA", "USB", "Network"
