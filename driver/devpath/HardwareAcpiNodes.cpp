// Parsers of the hardware (type 1) and ACPI (type 2) node keywords, of
// "Path", and the vendor, fixed-_HID ACPI and EISA ID builders that other
// node kinds share.
//
// Parsers take their parameters in text order with NextParam and report
// nothing: a parameter that cannot be read leaves its field zero or holds
// what the reader yields. Every field is little-endian and packed.
#include "driver/devpath/DevicePathParsers.h"

EFI_DEVICE_PATH_PROTOCOL *ParseFieldNode(CHAR16 *ParamText, const NODE_TEXT_ROW *Row) {
  EFI_DEVICE_PATH_PROTOCOL *Node = CreateDeviceNode(Row->Type, Row->SubType, Row->Preset);
  if (Node == nullptr) {
    return nullptr;
  }
  CHAR16 *Cursor = ParamText;
  for (const NODE_FIELD *Field = &gNodeTextTables.Fields[Row->Fields]; Field->Width != 0; Field++) {
    CHAR16 *Param = NextParam(&Cursor);
    UINT8 *Destination = (UINT8 *)Node + Field->Offset;
    switch (Field->Reader) {
      case GuidField:
        WriteGuidText(Destination, Param);
        break;
      case HexBytesField:
        HexTextToBytes(Param, 2 * Field->Width, Destination, Field->Width);
        break;
      case BigEndianField:
        WriteBigEndian64(Destination, ParseNumber(Param));
        break;
      case NarrowTextField:
        for (UINTN Index = 0; Index < Field->Width && Param[Index] != 0; Index++) {
          Destination[Index] = (UINT8)Param[Index];
        }
        break;
      default:
        WriteLittleEndian(Destination, Field->Width,
                          Field->Reader == HexField                               ? ParseHexValue(Param)
                          : Field->Reader == EisaIdField                          ? EisaIdFromText(Param)
                          : Field->Reader == AllOnesIfEmptyField && *Param == 0 ? ~(UINT64)0
                                                                                  : ParseNumber(Param));
        break;
    }
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
  // One byte per pair of digits, and one for an odd last digit. One byte
  // more than fits is enough to refuse the node.
  UINTN Bytes = (BoundedStrLen(DataText, 2 * MAX_NODE_LENGTH) + 1) / 2;
  VENDOR_DEVICE_PATH *Node = CreateNode<VENDOR_DEVICE_PATH>(Type, SubType, Bytes);
  if (Node == nullptr) {
    return nullptr;
  }
  SetGuidField(Node, &VENDOR_DEVICE_PATH::Guid, GuidText);
  // For an odd count the digits asked for include the terminator, so the
  // conversion is refused and the data stays zero, as for a non-hex digit.
  HexTextToBytes(DataText, 2 * Bytes, VariableBytes(Node), Bytes);
  return &Node->Header;
}

EFI_DEVICE_PATH_PROTOCOL *ParseAcpiHidNode(CHAR16 *ParamText, UINT16 ProductNumber) {
  CHAR16 *Cursor = ParamText;
  CHAR16 *UidText = NextParam(&Cursor);
  ACPI_HID_DEVICE_PATH *Node = CreateNode<ACPI_HID_DEVICE_PATH>(ACPI_DEVICE_PATH, ACPI_DP);
  if (Node == nullptr) {
    return nullptr;
  }
  SetField(Node, &ACPI_HID_DEVICE_PATH::HID, ((UINT32)ProductNumber << EISA_PRODUCT_SHIFT) | PNP_EISA_LETTERS);
  SetField(Node, &ACPI_HID_DEVICE_PATH::UID, ParseNumber(UidText));
  return &Node->Header;
}

UINT32 EisaIdFromText(const CHAR16 *Text) {
  // Three letters of five bits each, taken as they stand. A shorter text
  // counts its missing letters, and the product number, as zero: nothing
  // past its terminator is read.
  UINT32 Letters = 0;
  for (UINTN Index = 0; Index < EISA_LETTER_COUNT; Index++) {
    Letters <<= EISA_LETTER_BITS;
    if (*Text != 0) {
      Letters |= *Text++ & EISA_LETTER_MASK;
    }
  }
  UINT64 Product = 0;
  ScanHex(Text, nullptr, &Product);
  return Letters | ((UINT32)(UINT16)Product << EISA_PRODUCT_SHIFT);
}

// An expanded ACPI node. Strings holds the three ID strings in node order
// (HID, UID, CID); each is stored as the low bytes of its characters and a
// zero byte. Null (RefuseNodeTooLong) when the node would exceed the 16-bit
// Length.
static constexpr UINTN ACPI_EX_STRING_COUNT = 3;

static EFI_DEVICE_PATH_PROTOCOL *BuildAcpiExNode(UINT32 Hid, UINT32 Cid, UINT32 Uid,
                                                 const CHAR16 *const Strings[ACPI_EX_STRING_COUNT]) {
  UINTN Length = sizeof(ACPI_EXTENDED_HID_DEVICE_PATH);
  for (UINTN Index = 0; Index < ACPI_EX_STRING_COUNT; Index++) {
    Length += BoundedStrLen(Strings[Index], MAX_NODE_LENGTH) + 1;
  }
  ACPI_EXTENDED_HID_DEVICE_PATH *Node = CreateNode<ACPI_EXTENDED_HID_DEVICE_PATH>(
      ACPI_DEVICE_PATH, ACPI_EXTENDED_DP, Length - sizeof(ACPI_EXTENDED_HID_DEVICE_PATH));
  if (Node == nullptr) {
    return nullptr;
  }
  SetField(Node, &ACPI_EXTENDED_HID_DEVICE_PATH::HID, Hid);
  SetField(Node, &ACPI_EXTENDED_HID_DEVICE_PATH::UID, Uid);
  SetField(Node, &ACPI_EXTENDED_HID_DEVICE_PATH::CID, Cid);
  UINT8 *Out = VariableBytes(Node);
  for (UINTN Index = 0; Index < ACPI_EX_STRING_COUNT; Index++) {
    for (const CHAR16 *Char = Strings[Index]; *Char != 0; Char++) {
      *Out++ = (UINT8)*Char;
    }
    Out++;  // the zero byte, from the zero-filled node
  }
  return &Node->Header;
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
  const CHAR16 *const Strings[ACPI_EX_STRING_COUNT] = {HidString, UidString, CidString};
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
  const CHAR16 *const Strings[ACPI_EX_STRING_COUNT] = {u"", UidString, u""};
  return BuildAcpiExNode(EisaIdFromText(HidText), Cid, 0, Strings);
}

// AcpiAdr(ADR,...): one 32-bit _ADR per parameter up to the first empty one;
// the node grows by one _ADR for each value after the first.
EFI_DEVICE_PATH_PROTOCOL *ParseAcpiAdrNode(CHAR16 *ParamText, const NODE_TEXT_ROW *) {
  constexpr UINTN AdrSize = sizeof(ACPI_ADR_DEVICE_PATH::ADR);
  UINTN Length = sizeof(ACPI_ADR_DEVICE_PATH);
  ACPI_ADR_DEVICE_PATH *Node = CreateNode<ACPI_ADR_DEVICE_PATH>(ACPI_DEVICE_PATH, ACPI_ADR_DP);
  CHAR16 *Cursor = ParamText;
  for (UINTN Index = 0; Node != nullptr; Index++) {
    CHAR16 *AdrText = NextParam(&Cursor);
    if (*AdrText == 0) {
      break;
    }
    if (Index > 0) {
      ACPI_ADR_DEVICE_PATH *Grown = Length + AdrSize > MAX_NODE_LENGTH
                                        ? (ACPI_ADR_DEVICE_PATH *)RefuseNodeTooLong()
                                        : (ACPI_ADR_DEVICE_PATH *)PoolReallocate(Length, Length + AdrSize, Node);
      if (Grown == nullptr) {
        PoolFree(Node);
        return nullptr;
      }
      Node = Grown;
      Length += AdrSize;
      SetDevicePathNodeLength(&Node->Header, (UINT16)Length);
    }
    // The first _ADR in its field, each further one after the one before.
    WriteLittleEndian(FieldBytes(Node, &ACPI_ADR_DEVICE_PATH::ADR) + AdrSize * Index, AdrSize, ParseNumber(AdrText));
  }
  return (EFI_DEVICE_PATH_PROTOCOL *)Node;
}
