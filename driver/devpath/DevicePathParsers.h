// Device paths, the inside of the converter: the text readers, the
// parameter readers and node builders that the parsers share, the writers
// of node fields and the node parsers that the keyword table's rows name.
//
// driver/devpath/DevicePath.h is the public side (the converter and the binary
// path operations) and is all that callers of the converter include.
// driver/devpath/NodeTextTable.h is the keyword table and the values its keywords
// stand for, read-only data that the host's formatter reads as well. This
// header is for driver/devpath/ itself and for the tests, fuzzers and tools that
// look inside the converter; it includes the other two.
#pragma once

#include "driver/devpath/DevicePath.h"
#include "driver/devpath/NodeTextTable.h"
#include "driver/base/Memory.h"

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
// Nodes by their layouts (driver/firmware/Protocol/DevicePath.h) and their fields
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
// The node parsers that the rows of the keyword table (driver/devpath/NodeTextTable.h)
// name.

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

// Row parsers of the messaging keywords for buses, storage and consoles.
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
