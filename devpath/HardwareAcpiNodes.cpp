// Parsers of the hardware (type 1) and ACPI (type 2) node keywords, of
// "Path", and the vendor, fixed-_HID ACPI and EISA ID builders that other
// node kinds share.
//
// Parsers take their parameters in text order with NextParam and report
// nothing: a parameter that cannot be read leaves its field zero or holds
// what the reader yields. Every field is little-endian and packed.
#include "devpath/DevicePathParsers.h"
#include "startup/Memory.h"

#define MAX_NODE_LENGTH 0xFFFF
#define VENDOR_NODE_HEADER_LENGTH 20  // header and GUID
#define ACPI_EX_FIXED_LENGTH 16       // header, _HID, _UID, _CID
#define PNP_EISA_LETTERS 0x41D0       // "PNP" compressed


EFI_DEVICE_PATH_PROTOCOL *ParseFieldNode(CHAR16 *ParamText, const NODE_TEXT_ROW *Row) {
  EFI_DEVICE_PATH_PROTOCOL *Node = CreateDeviceNode(Row->Type, Row->SubType, Row->Preset);
  if (Node == nullptr) {
    return nullptr;
  }
  CHAR16 *Cursor = ParamText;
  for (UINTN Index = 0; Index < NODE_FIELD_COUNT && Row->Fields[Index].Width != 0; Index++) {
    const NODE_FIELD *Field = &Row->Fields[Index];
    CHAR16 *Param = NextParam(&Cursor);
    UINT64 Value = Field->Reader == HexField      ? ParseHexValue(Param)
                   : Field->Reader == EisaIdField ? EisaIdFromText(Param)
                                                  : ParseNumber(Param);
    WriteLittleEndian(NodeBytes(Node) + Field->Offset, Field->Width, Value);
  }
  return Node;
}

EFI_DEVICE_PATH_PROTOCOL *ParseGenericRow(CHAR16 *ParamText, const NODE_TEXT_ROW *Row) {
  return ParseGenericNode(Row->Type, ParamText);
}

EFI_DEVICE_PATH_PROTOCOL *ParseVendorRow(CHAR16 *ParamText, const NODE_TEXT_ROW *Row) {
  return ParseVendorNode(ParamText, Row->Type, Row->SubType);
}

EFI_DEVICE_PATH_PROTOCOL *ParseAcpiHidRow(CHAR16 *ParamText, const NODE_TEXT_ROW *Row) {
  return ParseAcpiHidNode(ParamText, Row->Preset);
}

// Path(Type,SubType,Data): the type comes first, the rest is generic.
EFI_DEVICE_PATH_PROTOCOL *ParsePathNode(CHAR16 *ParamText, const NODE_TEXT_ROW *) {
  CHAR16 *Cursor = ParamText;
  UINT8 Type = (UINT8)ParseNumber(NextParam(&Cursor));
  return ParseGenericNode(Type, Cursor);
}

EFI_DEVICE_PATH_PROTOCOL *ParseVendorNode(CHAR16 *ParamText, UINT8 Type, UINT8 SubType) {
  CHAR16 *Cursor = ParamText;
  CHAR16 *GuidText = NextParam(&Cursor);
  CHAR16 *DataText = NextParam(&Cursor);
  // One byte per pair of digits, and one for an odd last digit.
  UINTN MaxBytes = MAX_NODE_LENGTH - VENDOR_NODE_HEADER_LENGTH;
  UINTN Bytes = (BoundedStrLen(DataText, 2 * (MaxBytes + 1)) + 1) / 2;
  if (Bytes > MaxBytes) {
    return nullptr;
  }
  EFI_DEVICE_PATH_PROTOCOL *Node = CreateDeviceNode(Type, SubType, (UINT16)(VENDOR_NODE_HEADER_LENGTH + Bytes));
  if (Node == nullptr) {
    return nullptr;
  }
  ParseGuidText(GuidText, (EFI_GUID *)(NodeBytes(Node) + sizeof(EFI_DEVICE_PATH_PROTOCOL)));
  // For an odd count the digits asked for include the terminator, so the
  // conversion is refused and the data stays zero, as for a non-hex digit.
  HexTextToBytes(DataText, 2 * Bytes, NodeBytes(Node) + VENDOR_NODE_HEADER_LENGTH, Bytes);
  return Node;
}

EFI_DEVICE_PATH_PROTOCOL *ParseAcpiHidNode(CHAR16 *ParamText, UINT16 ProductNumber) {
  CHAR16 *Cursor = ParamText;
  CHAR16 *UidText = NextParam(&Cursor);
  EFI_DEVICE_PATH_PROTOCOL *Node = CreateDeviceNode(ACPI_DEVICE_PATH, ACPI_DP, 12);
  if (Node != nullptr) {
    WriteLittleEndian(NodeBytes(Node) + 4, 4, ((UINT32)ProductNumber << 16) | PNP_EISA_LETTERS);
    WriteLittleEndian(NodeBytes(Node) + 8, 4, ParseNumber(UidText));
  }
  return Node;
}

UINT32 EisaIdFromText(const CHAR16 *Text) {
  // Three letters of five bits each, taken as they stand. A shorter text
  // counts its missing letters, and the product number, as zero: nothing
  // past its terminator is read.
  UINT32 Letters = 0;
  for (UINTN Index = 0; Index < 3; Index++) {
    Letters <<= 5;
    if (*Text != 0) {
      Letters |= *Text++ & 0x1F;
    }
  }
  UINT64 Product = 0;
  ScanHex(Text, nullptr, &Product);
  return Letters | ((UINT32)(UINT16)Product << 16);
}

// An expanded ACPI node. Strings holds the three ID strings in node order
// (HID, UID, CID); each is stored as the low bytes of its characters and a
// zero byte. Null when the node would exceed the 16-bit Length.
static EFI_DEVICE_PATH_PROTOCOL *BuildAcpiExNode(UINT32 Hid, UINT32 Cid, UINT32 Uid, const CHAR16 *const Strings[3]) {
  UINTN Length = ACPI_EX_FIXED_LENGTH;
  for (UINTN Index = 0; Index < 3; Index++) {
    Length += BoundedStrLen(Strings[Index], MAX_NODE_LENGTH) + 1;
  }
  if (Length > MAX_NODE_LENGTH) {
    return nullptr;
  }
  EFI_DEVICE_PATH_PROTOCOL *Node = CreateDeviceNode(ACPI_DEVICE_PATH, ACPI_EXTENDED_DP, (UINT16)Length);
  if (Node == nullptr) {
    return nullptr;
  }
  WriteLittleEndian(NodeBytes(Node) + 4, 4, Hid);
  WriteLittleEndian(NodeBytes(Node) + 8, 4, Uid);
  WriteLittleEndian(NodeBytes(Node) + 12, 4, Cid);
  UINT8 *Out = NodeBytes(Node) + ACPI_EX_FIXED_LENGTH;
  for (UINTN Index = 0; Index < 3; Index++) {
    for (const CHAR16 *Char = Strings[Index]; *Char != 0; Char++) {
      *Out++ = (UINT8)*Char;
    }
    Out++;  // the zero byte, from the zero-filled node
  }
  return Node;
}

// AcpiEx(HID,CID,UID,HIDSTR,CIDSTR,UIDSTR)
EFI_DEVICE_PATH_PROTOCOL *ParseAcpiExNode(CHAR16 *ParamText, const NODE_TEXT_ROW *) {
  CHAR16 *Cursor = ParamText;
  CHAR16 *HidText = NextParam(&Cursor);
  CHAR16 *CidText = NextParam(&Cursor);
  CHAR16 *UidText = NextParam(&Cursor);
  CHAR16 *HidString = NextParam(&Cursor);
  CHAR16 *CidString = NextParam(&Cursor);
  CHAR16 *UidString = NextParam(&Cursor);
  const CHAR16 *const Strings[3] = {HidString, UidString, CidString};
  return BuildAcpiExNode(EisaIdFromText(HidText), EisaIdFromText(CidText), (UINT32)ParseNumber(UidText), Strings);
}

// AcpiExp(HID,CID,UIDSTR): no _UID and empty HID and CID strings; a CID
// that is empty or starts with the digit zero is no CID.
EFI_DEVICE_PATH_PROTOCOL *ParseAcpiExpNode(CHAR16 *ParamText, const NODE_TEXT_ROW *) {
  CHAR16 *Cursor = ParamText;
  CHAR16 *HidText = NextParam(&Cursor);
  CHAR16 *CidText = NextParam(&Cursor);
  CHAR16 *UidString = NextParam(&Cursor);
  UINT32 Cid = (*CidText == 0 || *CidText == u'0') ? 0 : EisaIdFromText(CidText);
  const CHAR16 *const Strings[3] = {u"", UidString, u""};
  return BuildAcpiExNode(EisaIdFromText(HidText), Cid, 0, Strings);
}

// AcpiAdr(ADR,...): one 32-bit _ADR per parameter up to the first empty one;
// the node grows by 4 bytes for each value after the first.
EFI_DEVICE_PATH_PROTOCOL *ParseAcpiAdrNode(CHAR16 *ParamText, const NODE_TEXT_ROW *) {
  UINTN Length = 8;
  EFI_DEVICE_PATH_PROTOCOL *Node = CreateDeviceNode(ACPI_DEVICE_PATH, ACPI_ADR_DP, (UINT16)Length);
  CHAR16 *Cursor = ParamText;
  for (UINTN Index = 0; Node != nullptr; Index++) {
    CHAR16 *AdrText = NextParam(&Cursor);
    if (*AdrText == 0) {
      break;
    }
    if (Index > 0) {
      EFI_DEVICE_PATH_PROTOCOL *Grown =
          Length + 4 > MAX_NODE_LENGTH ? nullptr : (EFI_DEVICE_PATH_PROTOCOL *)PoolReallocate(Length, Length + 4, Node);
      if (Grown == nullptr) {
        PoolFree(Node);
        return nullptr;
      }
      Node = Grown;
      Length += 4;
      SetDevicePathNodeLength(Node, (UINT16)Length);
    }
    WriteLittleEndian(NodeBytes(Node) + 4 + 4 * Index, 4, ParseNumber(AdrText));
  }
  return Node;
}
