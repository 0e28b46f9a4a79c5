// Device paths, the inside of the converter: the text readers, the
// parameter readers and node builders that the parsers share, the writers
// of node fields, the keyword table and the node parsers its rows name.
//
// devpath/DevicePath.h is the public side (the converter and the binary
// path operations) and is all that callers of the converter include. This
// header is for devpath/ itself and for the tests, fuzzers and tools that
// look inside the converter; it includes the public one.
#pragma once

#include "devpath/DevicePath.h"
#include "startup/Memory.h"

// The number of elements of an array.
template <typename Element, UINTN Count>
constexpr UINTN ArrayCount(const Element (&)[Count]) {
  return Count;
}

// ---------------------------------------------------------------------------
// Text readers. None allocates. A reader that refuses its text stores
// nothing; the scanners alone store all ones when a number overflows.

// The longest text a scanner reads, in characters.
static constexpr UINTN MAX_SCAN_LENGTH = 1000000;

BOOLEAN IsDecimalDigit(CHAR16 Char);
BOOLEAN IsHexDigit(CHAR16 Char);
// 0 to 15 for a hex digit; callers test for one first.
UINTN HexDigitValue(CHAR16 Char);
// Characters before the terminator, looking at no more than Maximum.
UINTN BoundedStrLen(const CHAR16 *Text, UINTN Maximum);

// White space and leading zeros skipped, digits up to the first other
// character. EFI_UNSUPPORTED with all ones and *EndPointer at the digit
// that overflowed; EFI_INVALID_PARAMETER, nothing stored, for a null
// argument or a text longer than MAX_SCAN_LENGTH.
EFI_STATUS ScanDecimal(const CHAR16 *Text, const CHAR16 **EndPointer, UINT64 *Value);
// As ScanDecimal, in hexadecimal with an optional "0x" or "0X".
EFI_STATUS ScanHex(const CHAR16 *Text, const CHAR16 **EndPointer, UINT64 *Value);

// The value ScanHex stores; 0 when it stores none.
UINT64 ParseHexValue(const CHAR16 *Text);
// The value ParseNumber returns, stored through Value.
VOID ParseNumber64(const CHAR16 *Text, UINT64 *Value);

// Count hex digits of Text into Count / 2 bytes, high half first.
EFI_STATUS HexTextToBytes(const CHAR16 *Text, UINTN Count, UINT8 *Buffer, UINTN BufferSize);
// XXXXXXXX-XXXX-XXXX-XXXX-XXXXXXXXXXXX, no braces.
EFI_STATUS ParseGuidText(const CHAR16 *Text, EFI_GUID *Guid);
// a.b.c.d with an optional /prefix (at most 32), which is checked only.
EFI_STATUS ParseIpv4Text(const CHAR16 *Text, EFI_IPv4_ADDRESS *Address);
// Groups of up to four hex digits, one "::", an optional /prefix (at most
// 128), which is checked only.
EFI_STATUS ParseIpv6Text(const CHAR16 *Text, EFI_IPv6_ADDRESS *Address);

// Whether Text is Word (8-bit text), whole and in the same case.
BOOLEAN TextIsWord(const CHAR16 *Text, const CHAR8 *Word);

// The position of the word that Text is (TextIsWord) in Words: 8-bit words,
// each zero-terminated, the list ended by an empty word ("A\0B\0", whose
// literal adds the last zero). The number of words when it is none.
UINTN WordIndex(const CHAR16 *Text, const CHAR8 *Words);

// ---------------------------------------------------------------------------
// Parameter readers and builders shared by the node parsers.

// The parameter at *Cursor, cut at the next "," (which becomes a
// terminator); never null, an empty text once the parameters are used up.
CHAR16 *NextParam(CHAR16 **Cursor);

// Decimal, or hexadecimal after "0x"/"0X"; 0 without digits, all ones on
// overflow.
UINT64 ParseNumber(const CHAR16 *Text);

// A node of Type whose subtype and hex data are the first two parameters.
EFI_DEVICE_PATH_PROTOCOL *ParseGenericNode(UINT8 Type, CHAR16 *ParamText);

// A file-path media node holding Text, terminator included; null
// (RefuseNodeTooLong) for a text too long for a node.
EFI_DEVICE_PATH_PROTOCOL *ParseFilePathNode(const CHAR16 *Text);

// A vendor node: GUID, then hex data, (n + 1) / 2 bytes for n digits.
EFI_DEVICE_PATH_PROTOCOL *ParseVendorNode(CHAR16 *ParamText, UINT8 Type, UINT8 SubType);

// An ACPI node whose _HID is PNP with ProductNumber; the parameter is _UID.
EFI_DEVICE_PATH_PROTOCOL *ParseAcpiHidNode(CHAR16 *ParamText, UINT16 ProductNumber);

// Compressed EISA ID: three letters, then a hex product number.
UINT32 EisaIdFromText(const CHAR16 *Text);

// ---------------------------------------------------------------------------
// Nodes by their layouts (firmware/Protocol/DevicePath.h) and their fields
// by name. The layouts are packed, so a field may lie at any address: the
// writers below store byte by byte or copy with CopyMem, and nothing takes a
// pointer to a field's own type.

// Value into 8 bytes at Destination, most significant byte first, at any
// address: the byte order of FibreEx and SasEx names and of iSCSI LUNs.
VOID WriteBigEndian64(UINT8 *Destination, UINT64 Value);

// The low Width bytes of Value, little-endian, at any address: the byte
// order of every other node field. Inline, so that a write of a constant
// width compiles to plain byte stores.
inline VOID WriteLittleEndian(UINT8 *Destination, UINTN Width, UINT64 Value) {
  for (UINTN Index = 0; Index < Width; Index++) {
    Destination[Index] = (UINT8)(Value >> (8 * Index));
  }
}

// Nodes refused since load because they would not fit the 16-bit Length
// (zero at load, never reset). The conversions compare it, with
// gPoolRefusals, before and after their work: a node that cannot be
// represented makes them give null, as a refused allocation does, while a
// parser that gives null for its text alone (a Dns without servers) leaves
// both unchanged.
extern UINTN gNodesTooLong;

// Null, counted in gNodesTooLong: what a builder returns for a node longer
// than MAX_NODE_LENGTH.
EFI_DEVICE_PATH_PROTOCOL *RefuseNodeTooLong(VOID);

// A new zero-filled node of Length bytes with this header; null when the
// pool fails, and RefuseNodeTooLong for a Length above MAX_NODE_LENGTH.
EFI_DEVICE_PATH_PROTOCOL *CreateSizedNode(UINT8 Type, UINT8 SubType, UINTN Length);

// A new zero-filled node laid out as Layout, with Extra bytes of variable
// data after the fixed portion, as CreateSizedNode makes it. Extra need not
// be checked first: the caller keeps only sizeof(Layout) + Extra from
// overflowing.
template <typename Layout>
inline Layout *CreateNode(UINT8 Type, UINT8 SubType, UINTN Extra = 0) {
  return (Layout *)CreateSizedNode(Type, SubType, sizeof(Layout) + Extra);
}

// The first byte of a field.
template <typename Layout, typename Field>
inline UINT8 *FieldBytes(Layout *Node, Field Layout::*Member) {
  return (UINT8 *)&(Node->*Member);
}

// The first byte after a node's fixed portion, where its variable data
// starts.
template <typename Layout>
inline UINT8 *VariableBytes(Layout *Node) {
  return (UINT8 *)Node + sizeof(Layout);
}

// A number into a field: the field's width of low-order bytes of Value,
// little-endian.
template <typename Layout, typename Field>
inline VOID SetField(Layout *Node, Field Layout::*Member, UINT64 Value) {
  static_assert(sizeof(Field) <= sizeof(UINT64), "a numeric field");
  WriteLittleEndian(FieldBytes(Node, Member), sizeof(Field), Value);
}

// A number into an 8-byte field that holds it most significant byte first.
template <typename Layout, typename Field>
inline VOID SetBigEndianField(Layout *Node, Field Layout::*Member, UINT64 Value) {
  static_assert(sizeof(Field) == sizeof(UINT64), "an 8-byte field");
  WriteBigEndian64(FieldBytes(Node, Member), Value);
}

// The GUID of a GUID text (ParseGuidText) into the 16 bytes at Destination,
// at any address; a text that is no GUID leaves them as they were.
VOID WriteGuidText(UINT8 *Destination, const CHAR16 *Text);

// A 16-byte field from a GUID text, as WriteGuidText stores it.
template <typename Layout, typename Field>
inline VOID SetGuidField(Layout *Node, Field Layout::*Member, const CHAR16 *Text) {
  static_assert(sizeof(Field) == sizeof(EFI_GUID), "a GUID-sized field");
  WriteGuidText(FieldBytes(Node, Member), Text);
}

// ---------------------------------------------------------------------------
// The keyword table.
//
// A row names a keyword and its parser, with the data that rows of one
// shape differ in: node type and subtype, a preset value, and for nodes of
// fixed layout the fields that the parameters fill, in text order.

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
  UINT8 Parser;
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

// The row whose keyword claims NodeText (NodeTextKeyword says how), with
// *Open at the "(" after the keyword and *Close at the first ")" after
// that; null, and nothing stored, when no row claims it. Only the rows
// whose keyword starts with a letter of the same low five bits as the
// text's first character are compared.
const NODE_TEXT_ROW *FindNodeTextRow(const CHAR16 *NodeText, const CHAR16 **Open, const CHAR16 **Close);

// Row parsers of the hardware and ACPI keywords.
EFI_DEVICE_PATH_PROTOCOL *ParseFieldNode(CHAR16 *ParamText, const NODE_TEXT_ROW *Row);
EFI_DEVICE_PATH_PROTOCOL *ParseGenericRow(CHAR16 *ParamText, const NODE_TEXT_ROW *Row);
EFI_DEVICE_PATH_PROTOCOL *ParseVendorRow(CHAR16 *ParamText, const NODE_TEXT_ROW *Row);
EFI_DEVICE_PATH_PROTOCOL *ParseAcpiHidRow(CHAR16 *ParamText, const NODE_TEXT_ROW *Row);
EFI_DEVICE_PATH_PROTOCOL *ParsePathNode(CHAR16 *ParamText, const NODE_TEXT_ROW *Row);
EFI_DEVICE_PATH_PROTOCOL *ParseAcpiExNode(CHAR16 *ParamText, const NODE_TEXT_ROW *Row);
EFI_DEVICE_PATH_PROTOCOL *ParseAcpiExpNode(CHAR16 *ParamText, const NODE_TEXT_ROW *Row);
EFI_DEVICE_PATH_PROTOCOL *ParseAcpiAdrNode(CHAR16 *ParamText, const NODE_TEXT_ROW *Row);

// Row parsers of the network, USB class and wireless messaging keywords.

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

// 17 for "UDP", 6 for "TCP", otherwise ParseNumber of Text.
UINT64 ParseIpProtocol(const CHAR16 *Text);
// A USB class node: vendor ID, product ID, the class and subclass that the
// preset leaves to the text, protocol; an empty value reads as all ones.
EFI_DEVICE_PATH_PROTOCOL *ParseUsbClassNode(CHAR16 *ParamText, const UsbClassPreset *Preset);

EFI_DEVICE_PATH_PROTOCOL *ParseMacAddressNode(CHAR16 *ParamText, const NODE_TEXT_ROW *Row);
EFI_DEVICE_PATH_PROTOCOL *ParseIpv4Node(CHAR16 *ParamText, const NODE_TEXT_ROW *Row);
EFI_DEVICE_PATH_PROTOCOL *ParseIpv6Node(CHAR16 *ParamText, const NODE_TEXT_ROW *Row);
EFI_DEVICE_PATH_PROTOCOL *ParseUartNode(CHAR16 *ParamText, const NODE_TEXT_ROW *Row);
EFI_DEVICE_PATH_PROTOCOL *ParseUsbClassRow(CHAR16 *ParamText, const NODE_TEXT_ROW *Row);
EFI_DEVICE_PATH_PROTOCOL *ParseUsbWwidNode(CHAR16 *ParamText, const NODE_TEXT_ROW *Row);
EFI_DEVICE_PATH_PROTOCOL *ParseIscsiNode(CHAR16 *ParamText, const NODE_TEXT_ROW *Row);
EFI_DEVICE_PATH_PROTOCOL *ParseDnsNode(CHAR16 *ParamText, const NODE_TEXT_ROW *Row);
EFI_DEVICE_PATH_PROTOCOL *ParseUriNode(CHAR16 *ParamText, const NODE_TEXT_ROW *Row);

// Row parsers of the media and BBS keywords.
EFI_DEVICE_PATH_PROTOCOL *ParseHardDriveNode(CHAR16 *ParamText, const NODE_TEXT_ROW *Row);
EFI_DEVICE_PATH_PROTOCOL *ParseVirtualDiskNode(CHAR16 *ParamText, const NODE_TEXT_ROW *Row);
EFI_DEVICE_PATH_PROTOCOL *ParseBbsNode(CHAR16 *ParamText, const NODE_TEXT_ROW *Row);

// The disk types of the virtual-disk keywords: the preset of their rows.
typedef enum {
  VirtualDiskKind,
  VirtualCdKind,
  PersistentVirtualDiskKind,
  PersistentVirtualCdKind,
  VirtualDiskKinds
} VIRTUAL_DISK_KIND;

// Row parsers of the messaging keywords for buses, storage and consoles.
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

EFI_DEVICE_PATH_PROTOCOL *ParseFixedVendorRow(CHAR16 *ParamText, const NODE_TEXT_ROW *Row);
EFI_DEVICE_PATH_PROTOCOL *ParseAtaNode(CHAR16 *ParamText, const NODE_TEXT_ROW *Row);
EFI_DEVICE_PATH_PROTOCOL *ParseUartFlowCtrlNode(CHAR16 *ParamText, const NODE_TEXT_ROW *Row);
EFI_DEVICE_PATH_PROTOCOL *ParseSasNode(CHAR16 *ParamText, const NODE_TEXT_ROW *Row);
EFI_DEVICE_PATH_PROTOCOL *ParseSasExNode(CHAR16 *ParamText, const NODE_TEXT_ROW *Row);
EFI_DEVICE_PATH_PROTOCOL *ParseNvmeNode(CHAR16 *ParamText, const NODE_TEXT_ROW *Row);

// The SAS device topology of a device kind ("NoTopology", "SAS", "SATA" or a
// number), a location ("Internal", "External" or a number), a connection
// ("Direct", "Expanded" or a number) and a drive bay number.
UINT16 SasTopologyFromText(const CHAR16 *DeviceKind, const CHAR16 *Location, const CHAR16 *Connection,
                           const CHAR16 *DriveBay);
