// Parsers of the messaging (type 3) node keywords for buses, storage and
// consoles, the SAS device-topology rule that "SAS" and "SasEx" share, and
// the big-endian writer of the 64-bit numbers that some messaging nodes
// store most significant byte first.
//
// Parsers take their parameters in text order with NextParam and report
// nothing: a parameter that cannot be read holds what its reader yields.
// Keyword-valued parameters match only whole, case-sensitive words; any
// other text is read as a number unless a parser says otherwise.
#include "driver/devpath/DevicePathParsers.h"

// Keyword words of keyword-valued parameters (WordIndex lists); a word's
// position is its value. These tables and the GUIDs below are exported
// (driver/devpath/NodeTextTable.h); they stand in the order in which the image
// has always held them.
const CHAR8 gAtaChannelWords[] = "Primary\0Secondary\0";
const CHAR8 gAtaDriveWords[] = "Master\0Slave\0";
// Flow control map values from 1.
const CHAR8 gFlowControlWords[] = "Hardware\0XonXoff\0";
const CHAR8 gSasLocationWords[] = "Internal\0External\0";
const CHAR8 gSasConnectionWords[] = "Direct\0Expanded\0";
// Each of the lists above holds two words.
static constexpr UINTN TWO_WORDS = 2;

// The fixed vendor GUIDs of vendor-defined messaging nodes, in the order of
// MESSAGING_VENDOR_GUID_INDEX.
const EFI_GUID gMessagingVendorGuids[] = {
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
static_assert(ArrayCount(gMessagingVendorGuids) == MSG_VENDOR_GUID_COUNT,
              "one GUID for each vendor GUID index");

// EUI-64 groups in an NVMe namespace text.
static constexpr UINTN NVME_EUI64_GROUPS = sizeof(NVME_NAMESPACE_DEVICE_PATH::NamespaceUuid);

VOID WriteBigEndian64(UINT8 *Destination, UINT64 Value) {
  for (UINTN Index = sizeof(UINT64); Index > 0; Index--) {
    Destination[Index - 1] = (UINT8)Value;
    Value >>= 8;
  }
}

// The position of the word that Text is among the two of Words, or else
// Text read as a number.
static UINT64 WordOrNumber(const CHAR16 *Text, const CHAR8 *Words) {
  UINTN Index = WordIndex(Text, Words);
  return Index < TWO_WORDS ? Index : ParseNumber(Text);
}

// A vendor-defined messaging node of Length bytes carrying a fixed GUID.
static VENDOR_DEVICE_PATH *CreateFixedVendorNode(UINTN GuidIndex, UINTN Length) {
  VENDOR_DEVICE_PATH *Node =
      CreateNode<VENDOR_DEVICE_PATH>(MESSAGING_DEVICE_PATH, MSG_VENDOR_DP, Length - sizeof(VENDOR_DEVICE_PATH));
  if (Node != nullptr) {
    CopyMem(FieldBytes(Node, &VENDOR_DEVICE_PATH::Guid), &gMessagingVendorGuids[GuidIndex], sizeof(EFI_GUID));
  }
  return Node;
}

// The same, laid out as Layout: a node that begins as a vendor node.
template <typename Layout>
static Layout *CreateFixedVendorNode(UINTN GuidIndex) {
  static_assert(offsetof(Layout, Guid) == offsetof(VENDOR_DEVICE_PATH, Guid), "a vendor node");
  return (Layout *)CreateFixedVendorNode(GuidIndex, sizeof(Layout));
}

EFI_DEVICE_PATH_PROTOCOL *ParseFixedVendorRow(CHAR16 *, const NODE_TEXT_ROW *Row) {
  return (EFI_DEVICE_PATH_PROTOCOL *)CreateFixedVendorNode<VENDOR_DEVICE_PATH>(Row->Preset);
}

// Ata(Channel,Drive,Lun)
EFI_DEVICE_PATH_PROTOCOL *ParseAtaNode(CHAR16 *ParamText, const NODE_TEXT_ROW *Row) {
  CHAR16 *Cursor = ParamText;
  CHAR16 *ChannelText = NextParam(&Cursor);
  CHAR16 *DriveText = NextParam(&Cursor);
  CHAR16 *LunText = NextParam(&Cursor);
  ATAPI_DEVICE_PATH *Node = CreateNode<ATAPI_DEVICE_PATH>(Row->Type, Row->SubType);
  if (Node == nullptr) {
    return nullptr;
  }
  SetField(Node, &ATAPI_DEVICE_PATH::PrimarySecondary,
           WordOrNumber(ChannelText, gAtaChannelWords));
  SetField(Node, &ATAPI_DEVICE_PATH::SlaveMaster, WordOrNumber(DriveText, gAtaDriveWords));
  SetField(Node, &ATAPI_DEVICE_PATH::Lun, ParseNumber(LunText));
  return &Node->Header;
}

// UartFlowCtrl(Map): only the two words give a map; any other text gives 0.
EFI_DEVICE_PATH_PROTOCOL *ParseUartFlowCtrlNode(CHAR16 *ParamText, const NODE_TEXT_ROW *Row) {
  CHAR16 *Cursor = ParamText;
  CHAR16 *MapText = NextParam(&Cursor);
  UART_FLOW_CONTROL_DEVICE_PATH *Node = CreateFixedVendorNode<UART_FLOW_CONTROL_DEVICE_PATH>(Row->Preset);
  if (Node == nullptr) {
    return nullptr;
  }
  UINTN Index = WordIndex(MapText, gFlowControlWords);
  SetField(Node, &UART_FLOW_CONTROL_DEVICE_PATH::FlowControlMap, Index < TWO_WORDS ? Index + 1 : 0);
  return &Node->Header;
}

UINT16 SasTopologyFromText(const CHAR16 *DeviceKind, const CHAR16 *Location, const CHAR16 *Connection,
                           const CHAR16 *DriveBay) {
  if (TextIsWord(DeviceKind, SAS_NO_TOPOLOGY_WORD)) {
    return SAS_TOPOLOGY_NONE;
  }
  BOOLEAN Sata = TextIsWord(DeviceKind, SAS_DEVICE_SATA_WORD);
  if (!Sata && !TextIsWord(DeviceKind, SAS_DEVICE_SAS_WORD)) {
    return (UINT16)ParseNumber(DeviceKind);
  }
  // One byte of topology for bay 0, two with the bay above.
  UINT16 Bay = (UINT16)ParseNumber(DriveBay);
  UINT16 Topology = Bay == 0 ? SAS_TOPOLOGY_ONE_BYTE
                             : (UINT16)(SAS_TOPOLOGY_TWO_BYTES | (UINT8)(Bay - 1) << SAS_TOPOLOGY_BAY_SHIFT);
  if (Sata) {
    Topology |= SAS_TOPOLOGY_SATA_DEVICE;
  }
  UINT64 LocationValue = WordOrNumber(Location, gSasLocationWords);
  UINT64 ConnectionValue = WordOrNumber(Connection, gSasConnectionWords);
  Topology |= (UINT16)((LocationValue & SAS_TOPOLOGY_LOCATION_MASK) << SAS_TOPOLOGY_LOCATION_SHIFT);
  Topology |= (UINT16)((ConnectionValue & SAS_TOPOLOGY_CONNECTION_MASK) << SAS_TOPOLOGY_CONNECTION_SHIFT);
  return Topology;
}

// What SAS and SasEx read from their first seven parameters, in text order:
// Address,Lun,RTP,Kind,Location,Connection,Bay.
typedef struct {
  UINT64 Address;
  UINT64 Lun;
  UINT64 RelativeTargetPort;
  UINT16 DeviceTopology;
} SAS_VALUES;

static VOID ReadSasValues(CHAR16 **Cursor, SAS_VALUES *Values) {
  CHAR16 *AddressText = NextParam(Cursor);
  CHAR16 *LunText = NextParam(Cursor);
  CHAR16 *PortText = NextParam(Cursor);
  CHAR16 *KindText = NextParam(Cursor);
  CHAR16 *LocationText = NextParam(Cursor);
  CHAR16 *ConnectionText = NextParam(Cursor);
  CHAR16 *BayText = NextParam(Cursor);
  ParseNumber64(AddressText, &Values->Address);
  ParseNumber64(LunText, &Values->Lun);
  Values->RelativeTargetPort = ParseNumber(PortText);
  Values->DeviceTopology = SasTopologyFromText(KindText, LocationText, ConnectionText, BayText);
}

// SAS(Address,Lun,RTP,Kind,Location,Connection,Bay,Reserved): a vendor node,
// numbers little-endian.
EFI_DEVICE_PATH_PROTOCOL *ParseSasNode(CHAR16 *ParamText, const NODE_TEXT_ROW *Row) {
  CHAR16 *Cursor = ParamText;
  SAS_VALUES Values;
  ReadSasValues(&Cursor, &Values);
  CHAR16 *ReservedText = NextParam(&Cursor);
  SAS_DEVICE_PATH *Node = CreateFixedVendorNode<SAS_DEVICE_PATH>(Row->Preset);
  if (Node == nullptr) {
    return nullptr;
  }
  SetField(Node, &SAS_DEVICE_PATH::Reserved, ParseNumber(ReservedText));
  SetField(Node, &SAS_DEVICE_PATH::SasAddress, Values.Address);
  SetField(Node, &SAS_DEVICE_PATH::Lun, Values.Lun);
  SetField(Node, &SAS_DEVICE_PATH::DeviceTopology, Values.DeviceTopology);
  SetField(Node, &SAS_DEVICE_PATH::RelativeTargetPort, Values.RelativeTargetPort);
  return &Node->Header;
}

// SasEx(Address,Lun,RTP,Kind,Location,Connection,Bay): address and unit
// number most significant byte first.
EFI_DEVICE_PATH_PROTOCOL *ParseSasExNode(CHAR16 *ParamText, const NODE_TEXT_ROW *Row) {
  CHAR16 *Cursor = ParamText;
  SAS_VALUES Values;
  ReadSasValues(&Cursor, &Values);
  SASEX_DEVICE_PATH *Node = CreateNode<SASEX_DEVICE_PATH>(Row->Type, Row->SubType);
  if (Node == nullptr) {
    return nullptr;
  }
  SetBigEndianField(Node, &SASEX_DEVICE_PATH::SasAddress, Values.Address);
  SetBigEndianField(Node, &SASEX_DEVICE_PATH::Lun, Values.Lun);
  SetField(Node, &SASEX_DEVICE_PATH::DeviceTopology, Values.DeviceTopology);
  SetField(Node, &SASEX_DEVICE_PATH::RelativeTargetPort, Values.RelativeTargetPort);
  return &Node->Header;
}

// NVMe(NamespaceId,Eui64): the EUI-64 groups, "-" between them, fill the
// field from its last byte, so that it reads as a little-endian number in
// text order.
EFI_DEVICE_PATH_PROTOCOL *ParseNvmeNode(CHAR16 *ParamText, const NODE_TEXT_ROW *Row) {
  CHAR16 *Cursor = ParamText;
  CHAR16 *NamespaceText = NextParam(&Cursor);
  CHAR16 *Group = NextParam(&Cursor);
  NVME_NAMESPACE_DEVICE_PATH *Node = CreateNode<NVME_NAMESPACE_DEVICE_PATH>(Row->Type, Row->SubType);
  if (Node == nullptr) {
    return nullptr;
  }
  SetField(Node, &NVME_NAMESPACE_DEVICE_PATH::NamespaceId, ParseNumber(NamespaceText));
  // Each group is one byte of the number, the first the most significant:
  // the groups fill the field from its last byte.
  UINT8 *Eui64 = FieldBytes(Node, &NVME_NAMESPACE_DEVICE_PATH::NamespaceUuid);
  for (UINTN Index = 0; Index < NVME_EUI64_GROUPS; Index++) {
    CHAR16 *Next = Group;
    while (*Next != 0 && *Next != u'-') {
      Next++;
    }
    if (*Next == u'-') {
      *Next++ = 0;
    }
    UINT64 Value = 0;
    ScanHex(Group, nullptr, &Value);
    Eui64[NVME_EUI64_GROUPS - 1 - Index] = (UINT8)Value;
    Group = Next;
  }
  return &Node->Header;
}

