// Parsers of the messaging (type 3) node keywords for buses, storage and
// consoles, the SAS device-topology rule that "SAS" and "SasEx" share, and
// the big-endian writer of the 64-bit numbers that some messaging nodes
// store most significant byte first.
//
// Parsers take their parameters in text order with NextParam and report
// nothing: a parameter that cannot be read holds what its reader yields.
// Keyword-valued parameters match only whole, case-sensitive words; any
// other text is read as a number unless a parser says otherwise.
#include "devpath/DevicePathParsers.h"

#define MSG_VENDOR_HEADER_LENGTH 20  // header and GUID
#define SAS_NODE_LENGTH 44

// The fixed vendor GUIDs of vendor-defined messaging nodes, in the order of
// MESSAGING_VENDOR_GUID_INDEX.
static const EFI_GUID gMessagingVendorGuids[] = {
    // PC-ANSI terminal
    {0xE0C14753, 0xF9BE, 0x11D2, {0x9A, 0x0C, 0x00, 0x90, 0x27, 0x3F, 0xC1, 0x4D}},
    // VT-100 terminal
    {0xDFA66065, 0xB419, 0x11D3, {0x9A, 0x2D, 0x00, 0x90, 0x27, 0x3F, 0xC1, 0x4D}},
    // VT-100+ terminal
    {0x7BAEC70B, 0x57E0, 0x4C76, {0x8E, 0x87, 0x2F, 0x9E, 0x28, 0x08, 0x83, 0x43}},
    // VT-UTF8 terminal
    {0xAD15A0D6, 0x8BEC, 0x4ACF, {0xA0, 0x73, 0xD0, 0x1D, 0xE7, 0x7E, 0x2D, 0x88}},
    // Debug port
    {0xEBA4E8D2, 0x3858, 0x41EC, {0xA2, 0x81, 0x26, 0x47, 0xBA, 0x96, 0x60, 0xD0}},
    // UART flow control
    {0x37499A9D, 0x542F, 0x4C89, {0xA0, 0x26, 0x35, 0xDA, 0x14, 0x20, 0x94, 0xE4}},
    // Serial Attached SCSI device
    {0xD487DDB4, 0x008B, 0x11D9, {0xAF, 0xDC, 0x00, 0x10, 0x83, 0xFF, 0xCA, 0x4D}},
};
static_assert(sizeof(gMessagingVendorGuids) / sizeof(gMessagingVendorGuids[0]) == MSG_VENDOR_GUID_COUNT,
              "one GUID for each vendor GUID index");

// Keyword words of keyword-valued parameters; a word's position is its value.
static const CHAR16 *const gAtaChannelWords[] = {u"Primary", u"Secondary"};
static const CHAR16 *const gAtaDriveWords[] = {u"Master", u"Slave"};
static const CHAR16 *const gSasLocationWords[] = {u"Internal", u"External"};
static const CHAR16 *const gSasConnectionWords[] = {u"Direct", u"Expanded"};
// Flow control map values from 1.
static const CHAR16 *const gFlowControlWords[] = {u"Hardware", u"XonXoff"};

#define WORD_COUNT(Words) (sizeof(Words) / sizeof((Words)[0]))

VOID WriteLittleEndian(UINT8 *Destination, UINTN Width, UINT64 Value) {
  for (UINTN Index = 0; Index < Width; Index++) {
    Destination[Index] = (UINT8)(Value >> (8 * Index));
  }
}

VOID WriteBigEndian64(UINT8 *Destination, UINT64 Value) {
  for (UINTN Index = 8; Index > 0; Index--) {
    Destination[Index - 1] = (UINT8)Value;
    Value >>= 8;
  }
}

// The position of the word that Text is, whole and in the same case; Count
// when it is none of them.
static UINTN WordIndex(const CHAR16 *Text, const CHAR16 *const *Words, UINTN Count) {
  UINTN Index = 0;
  while (Index < Count && !TextIsWord(Text, Words[Index])) {
    Index++;
  }
  return Index;
}

// The position of the word that Text is, or else Text read as a number.
static UINT64 WordOrNumber(const CHAR16 *Text, const CHAR16 *const *Words, UINTN Count) {
  UINTN Index = WordIndex(Text, Words, Count);
  return Index < Count ? Index : ParseNumber(Text);
}

// A vendor-defined messaging node of Length bytes carrying a fixed GUID.
static EFI_DEVICE_PATH_PROTOCOL *CreateFixedVendorNode(UINTN GuidIndex, UINT16 Length) {
  EFI_DEVICE_PATH_PROTOCOL *Node = CreateDeviceNode(MESSAGING_DEVICE_PATH, MSG_VENDOR_DP, Length);
  if (Node != nullptr) {
    const UINT8 *Guid = (const UINT8 *)&gMessagingVendorGuids[GuidIndex];
    for (UINTN Index = 0; Index < sizeof(EFI_GUID); Index++) {
      NodeBytes(Node)[sizeof(EFI_DEVICE_PATH_PROTOCOL) + Index] = Guid[Index];
    }
  }
  return Node;
}

EFI_DEVICE_PATH_PROTOCOL *ParseFixedVendorRow(CHAR16 *, const NODE_TEXT_ROW *Row) {
  return CreateFixedVendorNode(Row->Preset, MSG_VENDOR_HEADER_LENGTH);
}

// Ata(Channel,Drive,Lun)
EFI_DEVICE_PATH_PROTOCOL *ParseAtaNode(CHAR16 *ParamText, const NODE_TEXT_ROW *Row) {
  CHAR16 *Cursor = ParamText;
  CHAR16 *ChannelText = NextParam(&Cursor);
  CHAR16 *DriveText = NextParam(&Cursor);
  CHAR16 *LunText = NextParam(&Cursor);
  EFI_DEVICE_PATH_PROTOCOL *Node = CreateDeviceNode(Row->Type, Row->SubType, Row->Preset);
  if (Node != nullptr) {
    NodeBytes(Node)[4] = (UINT8)WordOrNumber(ChannelText, gAtaChannelWords, WORD_COUNT(gAtaChannelWords));
    NodeBytes(Node)[5] = (UINT8)WordOrNumber(DriveText, gAtaDriveWords, WORD_COUNT(gAtaDriveWords));
    WriteLittleEndian(NodeBytes(Node) + 6, 2, ParseNumber(LunText));
  }
  return Node;
}

// FibreEx(WWN,Lun): both most significant byte first.
EFI_DEVICE_PATH_PROTOCOL *ParseFibreExNode(CHAR16 *ParamText, const NODE_TEXT_ROW *Row) {
  CHAR16 *Cursor = ParamText;
  CHAR16 *NameText = NextParam(&Cursor);
  CHAR16 *LunText = NextParam(&Cursor);
  EFI_DEVICE_PATH_PROTOCOL *Node = CreateDeviceNode(Row->Type, Row->SubType, Row->Preset);
  if (Node != nullptr) {
    UINT64 Value;
    ParseNumber64(NameText, &Value);
    WriteBigEndian64(NodeBytes(Node) + 8, Value);
    ParseNumber64(LunText, &Value);
    WriteBigEndian64(NodeBytes(Node) + 16, Value);
  }
  return Node;
}

// Infiniband(Flags,PortGid,ServiceId,TargetPortId,DeviceId): the port GID
// is written as a GUID text.
EFI_DEVICE_PATH_PROTOCOL *ParseInfinibandNode(CHAR16 *ParamText, const NODE_TEXT_ROW *Row) {
  CHAR16 *Cursor = ParamText;
  CHAR16 *FlagsText = NextParam(&Cursor);
  CHAR16 *GidText = NextParam(&Cursor);
  EFI_DEVICE_PATH_PROTOCOL *Node = CreateDeviceNode(Row->Type, Row->SubType, Row->Preset);
  if (Node != nullptr) {
    WriteLittleEndian(NodeBytes(Node) + 4, 4, ParseNumber(FlagsText));
    ParseGuidText(GidText, (EFI_GUID *)(NodeBytes(Node) + 8));
    for (UINTN Offset = 24; Offset < 48; Offset += 8) {
      WriteLittleEndian(NodeBytes(Node) + Offset, 8, ParseNumber(NextParam(&Cursor)));
    }
  }
  return Node;
}

// UartFlowCtrl(Map): only the two words give a map; any other text gives 0.
EFI_DEVICE_PATH_PROTOCOL *ParseUartFlowCtrlNode(CHAR16 *ParamText, const NODE_TEXT_ROW *Row) {
  CHAR16 *Cursor = ParamText;
  CHAR16 *MapText = NextParam(&Cursor);
  EFI_DEVICE_PATH_PROTOCOL *Node = CreateFixedVendorNode(Row->Preset, MSG_VENDOR_HEADER_LENGTH + 4);
  if (Node != nullptr) {
    UINTN Index = WordIndex(MapText, gFlowControlWords, WORD_COUNT(gFlowControlWords));
    WriteLittleEndian(NodeBytes(Node) + MSG_VENDOR_HEADER_LENGTH, 4, Index < WORD_COUNT(gFlowControlWords) ? Index + 1 : 0);
  }
  return Node;
}

UINT16 SasTopologyFromText(const CHAR16 *DeviceKind, const CHAR16 *Location, const CHAR16 *Connection,
                           const CHAR16 *DriveBay) {
  if (TextIsWord(DeviceKind, u"NoTopology")) {
    return 0;
  }
  BOOLEAN Sata = TextIsWord(DeviceKind, u"SATA");
  if (!Sata && !TextIsWord(DeviceKind, u"SAS")) {
    return (UINT16)ParseNumber(DeviceKind);
  }
  // Bits 0-3: one byte of topology for bay 0, two with the bay above.
  UINT16 Bay = (UINT16)ParseNumber(DriveBay);
  UINT16 Topology = Bay == 0 ? 0x0001 : (UINT16)(0x0002 | (UINT8)(Bay - 1) << 8);
  if (Sata) {
    Topology |= 0x0010;
  }
  Topology |= (UINT16)((WordOrNumber(Location, gSasLocationWords, WORD_COUNT(gSasLocationWords)) & 0x1) << 5);
  Topology |= (UINT16)((WordOrNumber(Connection, gSasConnectionWords, WORD_COUNT(gSasConnectionWords)) & 0x3) << 6);
  return Topology;
}

// SAS(Address,Lun,RTP,Kind,Location,Connection,Bay,Reserved): a vendor node,
//   numbers little-endian.
// SasEx(Address,Lun,RTP,Kind,Location,Connection,Bay): numbers most
//   significant byte first.
// Both store address, logical unit, topology and relative target port in
// that order.
EFI_DEVICE_PATH_PROTOCOL *ParseSasNode(CHAR16 *ParamText, const NODE_TEXT_ROW *Row) {
  CHAR16 *Cursor = ParamText;
  CHAR16 *AddressText = NextParam(&Cursor);
  CHAR16 *LunText = NextParam(&Cursor);
  CHAR16 *PortText = NextParam(&Cursor);
  CHAR16 *KindText = NextParam(&Cursor);
  CHAR16 *LocationText = NextParam(&Cursor);
  CHAR16 *ConnectionText = NextParam(&Cursor);
  CHAR16 *BayText = NextParam(&Cursor);
  CHAR16 *ReservedText = NextParam(&Cursor);
  BOOLEAN Extended = Row->SubType == MSG_SASEX_DP;
  EFI_DEVICE_PATH_PROTOCOL *Node = Extended ? CreateDeviceNode(Row->Type, Row->SubType, Row->Preset)
                                            : CreateFixedVendorNode(Row->Preset, SAS_NODE_LENGTH);
  if (Node == nullptr) {
    return nullptr;
  }
  UINT8 *Fields = NodeBytes(Node) + (Extended ? 4 : 24);
  UINT64 Address;
  UINT64 Lun;
  ParseNumber64(AddressText, &Address);
  ParseNumber64(LunText, &Lun);
  if (Extended) {
    WriteBigEndian64(Fields, Address);
    WriteBigEndian64(Fields + 8, Lun);
  } else {
    WriteLittleEndian(NodeBytes(Node) + MSG_VENDOR_HEADER_LENGTH, 4, ParseNumber(ReservedText));
    WriteLittleEndian(Fields, 8, Address);
    WriteLittleEndian(Fields + 8, 8, Lun);
  }
  WriteLittleEndian(Fields + 16, 2, SasTopologyFromText(KindText, LocationText, ConnectionText, BayText));
  WriteLittleEndian(Fields + 18, 2, ParseNumber(PortText));
  return Node;
}

// NVMe(NamespaceId,Eui64): the EUI-64 groups, "-" between them, fill the
// field from its last byte, so that it reads as a little-endian number in
// text order.
EFI_DEVICE_PATH_PROTOCOL *ParseNvmeNode(CHAR16 *ParamText, const NODE_TEXT_ROW *Row) {
  CHAR16 *Cursor = ParamText;
  CHAR16 *NamespaceText = NextParam(&Cursor);
  CHAR16 *Group = NextParam(&Cursor);
  EFI_DEVICE_PATH_PROTOCOL *Node = CreateDeviceNode(Row->Type, Row->SubType, Row->Preset);
  if (Node == nullptr) {
    return nullptr;
  }
  WriteLittleEndian(NodeBytes(Node) + 4, 4, ParseNumber(NamespaceText));
  for (UINTN Index = 0; Index < 8; Index++) {
    CHAR16 *Next = Group;
    while (*Next != 0 && *Next != u'-') {
      Next++;
    }
    if (*Next == u'-') {
      *Next++ = 0;
    }
    UINT64 Value = 0;
    ScanHex(Group, nullptr, &Value);
    NodeBytes(Node)[15 - Index] = (UINT8)Value;
    Group = Next;
  }
  return Node;
}

// Sata(HbaPort,MultiplierPort,Lun): no multiplier port text means the
// device is attached directly, 0xFFFF.
EFI_DEVICE_PATH_PROTOCOL *ParseSataNode(CHAR16 *ParamText, const NODE_TEXT_ROW *Row) {
  CHAR16 *Cursor = ParamText;
  CHAR16 *HbaText = NextParam(&Cursor);
  CHAR16 *MultiplierText = NextParam(&Cursor);
  CHAR16 *LunText = NextParam(&Cursor);
  EFI_DEVICE_PATH_PROTOCOL *Node = CreateDeviceNode(Row->Type, Row->SubType, Row->Preset);
  if (Node != nullptr) {
    WriteLittleEndian(NodeBytes(Node) + 4, 2, ParseNumber(HbaText));
    WriteLittleEndian(NodeBytes(Node) + 6, 2, *MultiplierText == 0 ? 0xFFFF : ParseNumber(MultiplierText));
    WriteLittleEndian(NodeBytes(Node) + 8, 2, ParseNumber(LunText));
  }
  return Node;
}
