// Parsers of the messaging keywords for network attachments, serial lines,
// USB devices by class or world-wide ID, logical units and wireless links,
// and the builders they share: the IP protocol reader and the USB class
// node builder.
//
// Parsers take their parameters in text order with NextParam and report
// nothing: a number that cannot be read holds what ParseNumber yields, an
// address that its scanner refuses leaves its field zero. Fields are
// little-endian and packed unless a parser says otherwise.
#include "devpath/DevicePathParsers.h"
#include "startup/Memory.h"

#define MAX_NODE_LENGTH 0xFFFF
#define HEADER_LENGTH 4

#define MAC_NODE_LENGTH 37
#define IPV4_NODE_LENGTH 27
#define IPV6_NODE_LENGTH 60
#define UART_NODE_LENGTH 19
#define USB_CLASS_NODE_LENGTH 11
#define USB_WWID_FIXED_LENGTH 10
#define ISCSI_FIXED_LENGTH 19  // header to the target name's zero byte
#define DNS_FIXED_LENGTH 5
#define DNS_SERVER_LENGTH 16
#define WIFI_NODE_LENGTH 36
#define WIFI_SSID_LENGTH 32
#define BLUETOOTH_ADDRESS_LENGTH 6

#define IP_PROTOCOL_TCP 6
#define IP_PROTOCOL_UDP 17
#define UART_DEFAULT_BAUD_RATE 115200
#define UART_DEFAULT_DATA_BITS 8

// iSCSI login options.
#define ISCSI_HEADER_DIGEST_CRC32C 0x0002
#define ISCSI_DATA_DIGEST_CRC32C 0x0008
#define ISCSI_AUTH_NONE 0x0800
#define ISCSI_AUTH_CHAP_UNI 0x1000


// The low 8 bits of Count characters of Text.
static VOID StoreNarrowText(UINT8 *Field, const CHAR16 *Text, UINTN Count) {
  for (UINTN Index = 0; Index < Count; Index++) {
    Field[Index] = (UINT8)Text[Index];
  }
}

UINT64 ParseIpProtocol(const CHAR16 *Text) {
  if (TextIsWord(Text, u"UDP")) {
    return IP_PROTOCOL_UDP;
  }
  if (TextIsWord(Text, u"TCP")) {
    return IP_PROTOCOL_TCP;
  }
  return ParseNumber(Text);
}

// MAC(Address,InterfaceType): 6 address bytes for interface types 0 and 1,
// 32 for any other; too few digits leave the whole address zero.
EFI_DEVICE_PATH_PROTOCOL *ParseMacAddressNode(CHAR16 *ParamText, const NODE_TEXT_ROW *) {
  CHAR16 *Cursor = ParamText;
  CHAR16 *AddressText = NextParam(&Cursor);
  UINT8 InterfaceType = (UINT8)ParseNumber(NextParam(&Cursor));
  EFI_DEVICE_PATH_PROTOCOL *Node = CreateDeviceNode(MESSAGING_DEVICE_PATH, MSG_MAC_ADDR_DP, MAC_NODE_LENGTH);
  if (Node == nullptr) {
    return nullptr;
  }
  UINTN AddressBytes = InterfaceType <= 1 ? 6 : 32;
  HexTextToBytes(AddressText, 2 * AddressBytes, NodeBytes(Node) + 4, AddressBytes);
  NodeBytes(Node)[36] = InterfaceType;
  return Node;
}

// IPv4(RemoteIp,Protocol,Type,LocalIp,GatewayIp,SubnetMask): the gateway
// and the mask are taken only when both are given.
EFI_DEVICE_PATH_PROTOCOL *ParseIpv4Node(CHAR16 *ParamText, const NODE_TEXT_ROW *) {
  CHAR16 *Cursor = ParamText;
  CHAR16 *RemoteText = NextParam(&Cursor);
  CHAR16 *ProtocolText = NextParam(&Cursor);
  CHAR16 *TypeText = NextParam(&Cursor);
  CHAR16 *LocalText = NextParam(&Cursor);
  CHAR16 *GatewayText = NextParam(&Cursor);
  CHAR16 *MaskText = NextParam(&Cursor);
  EFI_DEVICE_PATH_PROTOCOL *Node = CreateDeviceNode(MESSAGING_DEVICE_PATH, MSG_IPv4_DP, IPV4_NODE_LENGTH);
  if (Node == nullptr) {
    return nullptr;
  }
  UINT8 *Bytes = NodeBytes(Node);
  ParseIpv4Text(RemoteText, (EFI_IPv4_ADDRESS *)(Bytes + 8));
  WriteLittleEndian(Bytes + 16, 2, ParseIpProtocol(ProtocolText));
  Bytes[18] = TextIsWord(TypeText, u"Static") ? 1 : 0;
  ParseIpv4Text(LocalText, (EFI_IPv4_ADDRESS *)(Bytes + 4));
  if (*GatewayText != 0 && *MaskText != 0) {
    ParseIpv4Text(GatewayText, (EFI_IPv4_ADDRESS *)(Bytes + 19));
    ParseIpv4Text(MaskText, (EFI_IPv4_ADDRESS *)(Bytes + 23));
  }
  return Node;
}

// IPv6(RemoteIp,Protocol,Origin,LocalIp,PrefixLength,GatewayIp): the
// gateway and the prefix length are taken only when both are given.
EFI_DEVICE_PATH_PROTOCOL *ParseIpv6Node(CHAR16 *ParamText, const NODE_TEXT_ROW *) {
  CHAR16 *Cursor = ParamText;
  CHAR16 *RemoteText = NextParam(&Cursor);
  CHAR16 *ProtocolText = NextParam(&Cursor);
  CHAR16 *OriginText = NextParam(&Cursor);
  CHAR16 *LocalText = NextParam(&Cursor);
  CHAR16 *PrefixText = NextParam(&Cursor);
  CHAR16 *GatewayText = NextParam(&Cursor);
  EFI_DEVICE_PATH_PROTOCOL *Node = CreateDeviceNode(MESSAGING_DEVICE_PATH, MSG_IPv6_DP, IPV6_NODE_LENGTH);
  if (Node == nullptr) {
    return nullptr;
  }
  UINT8 *Bytes = NodeBytes(Node);
  ParseIpv6Text(RemoteText, (EFI_IPv6_ADDRESS *)(Bytes + 20));
  WriteLittleEndian(Bytes + 40, 2, ParseIpProtocol(ProtocolText));
  Bytes[42] = TextIsWord(OriginText, u"Static") ? 0 : TextIsWord(OriginText, u"StatelessAutoConfigure") ? 1 : 2;
  ParseIpv6Text(LocalText, (EFI_IPv6_ADDRESS *)(Bytes + 4));
  if (*GatewayText != 0 && *PrefixText != 0) {
    ParseIpv6Text(GatewayText, (EFI_IPv6_ADDRESS *)(Bytes + 44));
    Bytes[43] = (UINT8)ParseNumber(PrefixText);
  }
  return Node;
}

// Parity by its first letter and stop bits by the whole word, each in the
// order of its values from 0; a text that none of them fits is a number.
static const CHAR16 gUartParityLetters[] = u"DNEOMS";
static const CHAR16 *const gUartStopBitsWords[] = {u"D", u"1", u"1.5", u"2"};

// Uart(BaudRate,DataBits,Parity,StopBits)
EFI_DEVICE_PATH_PROTOCOL *ParseUartNode(CHAR16 *ParamText, const NODE_TEXT_ROW *) {
  CHAR16 *Cursor = ParamText;
  CHAR16 *BaudText = NextParam(&Cursor);
  CHAR16 *DataBitsText = NextParam(&Cursor);
  CHAR16 *ParityText = NextParam(&Cursor);
  CHAR16 *StopBitsText = NextParam(&Cursor);
  EFI_DEVICE_PATH_PROTOCOL *Node = CreateDeviceNode(MESSAGING_DEVICE_PATH, MSG_UART_DP, UART_NODE_LENGTH);
  if (Node == nullptr) {
    return nullptr;
  }
  UINT8 *Bytes = NodeBytes(Node);
  WriteLittleEndian(Bytes + 8, 8, TextIsWord(BaudText, u"DEFAULT") ? UART_DEFAULT_BAUD_RATE : ParseNumber(BaudText));
  Bytes[16] = TextIsWord(DataBitsText, u"DEFAULT") ? UART_DEFAULT_DATA_BITS : (UINT8)ParseNumber(DataBitsText);
  Bytes[17] = (UINT8)ParseNumber(ParityText);
  for (UINT8 Value = 0; gUartParityLetters[Value] != 0; Value++) {
    if (*ParityText == gUartParityLetters[Value]) {
      Bytes[17] = Value;
    }
  }
  Bytes[18] = (UINT8)ParseNumber(StopBitsText);
  for (UINT8 Value = 0; Value < sizeof(gUartStopBitsWords) / sizeof(gUartStopBitsWords[0]); Value++) {
    if (TextIsWord(StopBitsText, gUartStopBitsWords[Value])) {
      Bytes[18] = Value;
    }
  }
  return Node;
}

// The presets of the USB class keywords, in USB_CLASS_PRESET_INDEX order.
static constexpr UsbClassPreset gUsbClassPresets[] = {
    {TRUE, 0, TRUE, 0},          // UsbClass
    {FALSE, 0x01, TRUE, 0},      // UsbAudio
    {FALSE, 0x02, TRUE, 0},      // UsbCDCControl
    {FALSE, 0x03, TRUE, 0},      // UsbHID
    {FALSE, 0x06, TRUE, 0},      // UsbImage
    {FALSE, 0x07, TRUE, 0},      // UsbPrinter
    {FALSE, 0x08, TRUE, 0},      // UsbMassStorage
    {FALSE, 0x09, TRUE, 0},      // UsbHub
    {FALSE, 0x0A, TRUE, 0},      // UsbCDCData
    {FALSE, 0x0B, TRUE, 0},      // UsbSmartCard
    {FALSE, 0x0E, TRUE, 0},      // UsbVideo
    {FALSE, 0xDC, TRUE, 0},      // UsbDiagnostic
    {FALSE, 0xE0, TRUE, 0},      // UsbWireless
    {FALSE, 0xFE, FALSE, 0x01},  // UsbDeviceFirmwareUpdate
    {FALSE, 0xFE, FALSE, 0x02},  // UsbIrdaBridge
    {FALSE, 0xFE, FALSE, 0x03},  // UsbTestAndMeasurement
};
static_assert(sizeof(gUsbClassPresets) / sizeof(gUsbClassPresets[0]) == USB_CLASS_PRESET_COUNT,
              "one preset for each USB class keyword");

// A USB ID, class or protocol: all ones when its text is empty.
static UINT64 UsbValueOrAllOnes(const CHAR16 *Text) { return *Text == 0 ? ~(UINT64)0 : ParseNumber(Text); }

EFI_DEVICE_PATH_PROTOCOL *ParseUsbClassNode(CHAR16 *ParamText, const UsbClassPreset *Preset) {
  EFI_DEVICE_PATH_PROTOCOL *Node = CreateDeviceNode(MESSAGING_DEVICE_PATH, MSG_USB_CLASS_DP, USB_CLASS_NODE_LENGTH);
  if (Node == nullptr) {
    return nullptr;
  }
  UINT8 *Bytes = NodeBytes(Node);
  CHAR16 *Cursor = ParamText;
  CHAR16 *VendorText = NextParam(&Cursor);
  CHAR16 *ProductText = NextParam(&Cursor);
  Bytes[8] = Preset->ClassFromText ? (UINT8)UsbValueOrAllOnes(NextParam(&Cursor)) : Preset->Class;
  Bytes[9] = Preset->SubClassFromText ? (UINT8)UsbValueOrAllOnes(NextParam(&Cursor)) : Preset->SubClass;
  CHAR16 *ProtocolText = NextParam(&Cursor);
  WriteLittleEndian(Bytes + 4, 2, UsbValueOrAllOnes(VendorText));
  WriteLittleEndian(Bytes + 6, 2, UsbValueOrAllOnes(ProductText));
  Bytes[10] = (UINT8)UsbValueOrAllOnes(ProtocolText);
  return Node;
}

EFI_DEVICE_PATH_PROTOCOL *ParseUsbClassRow(CHAR16 *ParamText, const NODE_TEXT_ROW *Row) {
  return ParseUsbClassNode(ParamText, &gUsbClassPresets[Row->Preset]);
}

// UsbWwid(VendorId,ProductId,InterfaceNumber,"SerialNumber"): the quotation
// marks are optional. Null for a serial number too long for the node.
EFI_DEVICE_PATH_PROTOCOL *ParseUsbWwidNode(CHAR16 *ParamText, const NODE_TEXT_ROW *) {
  CHAR16 *Cursor = ParamText;
  CHAR16 *VendorText = NextParam(&Cursor);
  CHAR16 *ProductText = NextParam(&Cursor);
  CHAR16 *InterfaceText = NextParam(&Cursor);
  CHAR16 *Serial = NextParam(&Cursor);
  const UINTN MaxSerial = (MAX_NODE_LENGTH - USB_WWID_FIXED_LENGTH) / 2;
  // Up to two quotation marks more than fit may still make a node.
  UINTN Length = BoundedStrLen(Serial, MaxSerial + 3);
  if (Length > MaxSerial + 2) {
    return nullptr;
  }
  if (Length >= 2 && Serial[0] == u'"' && Serial[Length - 1] == u'"') {
    Serial[Length - 1] = 0;
    Serial++;
    Length -= 2;
  }
  if (Length > MaxSerial) {
    return nullptr;
  }
  EFI_DEVICE_PATH_PROTOCOL *Node =
      CreateDeviceNode(MESSAGING_DEVICE_PATH, MSG_USB_WWID_DP, (UINT16)(USB_WWID_FIXED_LENGTH + 2 * Length));
  if (Node == nullptr) {
    return nullptr;
  }
  UINT8 *Bytes = NodeBytes(Node);
  WriteLittleEndian(Bytes + 6, 2, ParseNumber(VendorText));
  WriteLittleEndian(Bytes + 8, 2, ParseNumber(ProductText));
  WriteLittleEndian(Bytes + 4, 2, ParseNumber(InterfaceText));
  for (UINTN Index = 0; Index < Length; Index++) {
    WriteLittleEndian(Bytes + USB_WWID_FIXED_LENGTH + 2 * Index, 2, Serial[Index]);
  }
  return Node;
}

// iSCSI(TargetName,PortalGroupTag,Lun,HeaderDigest,DataDigest,
// Authentication,Protocol). Null for a target name too long for the node.
EFI_DEVICE_PATH_PROTOCOL *ParseIscsiNode(CHAR16 *ParamText, const NODE_TEXT_ROW *) {
  CHAR16 *Cursor = ParamText;
  CHAR16 *NameText = NextParam(&Cursor);
  CHAR16 *TagText = NextParam(&Cursor);
  CHAR16 *LunText = NextParam(&Cursor);
  CHAR16 *HeaderDigestText = NextParam(&Cursor);
  CHAR16 *DataDigestText = NextParam(&Cursor);
  CHAR16 *AuthenticationText = NextParam(&Cursor);
  CHAR16 *ProtocolText = NextParam(&Cursor);
  const UINTN MaxName = MAX_NODE_LENGTH - ISCSI_FIXED_LENGTH;
  UINTN NameLength = BoundedStrLen(NameText, MaxName + 1);
  if (NameLength > MaxName) {
    return nullptr;
  }
  EFI_DEVICE_PATH_PROTOCOL *Node =
      CreateDeviceNode(MESSAGING_DEVICE_PATH, MSG_ISCSI_DP, (UINT16)(ISCSI_FIXED_LENGTH + NameLength));
  if (Node == nullptr) {
    return nullptr;
  }
  UINT8 *Bytes = NodeBytes(Node);
  StoreNarrowText(Bytes + 18, NameText, NameLength);  // and the zero byte of the zero-filled node
  WriteLittleEndian(Bytes + 16, 2, ParseNumber(TagText));
  UINT64 Lun = 0;
  ParseNumber64(LunText, &Lun);
  WriteBigEndian64(Bytes + 8, Lun);
  UINT16 Options = 0;
  if (TextIsWord(HeaderDigestText, u"CRC32C")) {
    Options |= ISCSI_HEADER_DIGEST_CRC32C;
  }
  if (TextIsWord(DataDigestText, u"CRC32C")) {
    Options |= ISCSI_DATA_DIGEST_CRC32C;
  }
  if (TextIsWord(AuthenticationText, u"None")) {
    Options |= ISCSI_AUTH_NONE;
  } else if (TextIsWord(AuthenticationText, u"CHAP_UNI")) {
    Options |= ISCSI_AUTH_CHAP_UNI;
  }
  WriteLittleEndian(Bytes + 6, 2, Options);
  WriteLittleEndian(Bytes + 4, 2, (*ProtocolText == 0 || TextIsWord(ProtocolText, u"TCP")) ? 0 : 1);
  return Node;
}

// Dns(Server,...): one 16-byte slot per parameter; the first "." or ":" of
// the text makes every server IPv4 or IPv6. Null for no server, or for more
// servers than the node can hold.
EFI_DEVICE_PATH_PROTOCOL *ParseDnsNode(CHAR16 *ParamText, const NODE_TEXT_ROW *) {
  UINTN TextLength = BoundedStrLen(ParamText, ~(UINTN)0);
  CHAR16 *Copy = (CHAR16 *)PoolAllocateCopy((TextLength + 1) * sizeof(CHAR16), ParamText);
  if (Copy == nullptr) {
    return nullptr;
  }
  UINTN Count = 0;
  for (CHAR16 *Cursor = Copy; *Cursor != 0; Count++) {
    NextParam(&Cursor);
  }
  PoolFree(Copy);
  const UINTN MaxServers = (MAX_NODE_LENGTH - DNS_FIXED_LENGTH) / DNS_SERVER_LENGTH;
  if (Count == 0 || Count > MaxServers) {
    return nullptr;
  }
  EFI_DEVICE_PATH_PROTOCOL *Node =
      CreateDeviceNode(MESSAGING_DEVICE_PATH, MSG_DNS_DP, (UINT16)(DNS_FIXED_LENGTH + DNS_SERVER_LENGTH * Count));
  if (Node == nullptr) {
    return nullptr;
  }
  UINT8 *Bytes = NodeBytes(Node);
  BOOLEAN IsIpv6 = FALSE;
  for (const CHAR16 *Char = ParamText; *Char != 0; Char++) {
    if (*Char == u'.' || *Char == u':') {
      IsIpv6 = *Char == u':';
      break;
    }
  }
  Bytes[4] = IsIpv6;
  CHAR16 *Cursor = ParamText;
  for (UINTN Index = 0; Index < Count; Index++) {
    UINT8 *Slot = Bytes + DNS_FIXED_LENGTH + DNS_SERVER_LENGTH * Index;
    CHAR16 *ServerText = NextParam(&Cursor);
    if (IsIpv6) {
      ParseIpv6Text(ServerText, (EFI_IPv6_ADDRESS *)Slot);
    } else {
      ParseIpv4Text(ServerText, (EFI_IPv4_ADDRESS *)Slot);
    }
  }
  return Node;
}

// Uri(Uri): up to the first ",", cut so that the node length fits.
EFI_DEVICE_PATH_PROTOCOL *ParseUriNode(CHAR16 *ParamText, const NODE_TEXT_ROW *) {
  CHAR16 *Cursor = ParamText;
  CHAR16 *UriText = NextParam(&Cursor);
  UINTN Length = BoundedStrLen(UriText, MAX_NODE_LENGTH - HEADER_LENGTH);
  EFI_DEVICE_PATH_PROTOCOL *Node =
      CreateDeviceNode(MESSAGING_DEVICE_PATH, MSG_URI_DP, (UINT16)(HEADER_LENGTH + Length));
  if (Node != nullptr) {
    StoreNarrowText(NodeBytes(Node) + HEADER_LENGTH, UriText, Length);
  }
  return Node;
}

// Wi-Fi(SSID): the first 32 characters, zero-padded, no terminator of its
// own.
EFI_DEVICE_PATH_PROTOCOL *ParseWiFiNode(CHAR16 *ParamText, const NODE_TEXT_ROW *) {
  CHAR16 *Cursor = ParamText;
  CHAR16 *Ssid = NextParam(&Cursor);
  EFI_DEVICE_PATH_PROTOCOL *Node = CreateDeviceNode(MESSAGING_DEVICE_PATH, MSG_WIFI_DP, WIFI_NODE_LENGTH);
  if (Node != nullptr) {
    StoreNarrowText(NodeBytes(Node) + HEADER_LENGTH, Ssid, BoundedStrLen(Ssid, WIFI_SSID_LENGTH));
  }
  return Node;
}

// Bluetooth(Address) and BluetoothLE(Address,AddressType): 12 hex digits
// into 6 bytes in text order, all zero when there are fewer; the LE node
// adds the address type behind the address.
EFI_DEVICE_PATH_PROTOCOL *ParseBluetoothNode(CHAR16 *ParamText, const NODE_TEXT_ROW *Row) {
  CHAR16 *Cursor = ParamText;
  CHAR16 *AddressText = NextParam(&Cursor);
  EFI_DEVICE_PATH_PROTOCOL *Node = CreateDeviceNode(Row->Type, Row->SubType, Row->Preset);
  if (Node == nullptr) {
    return nullptr;
  }
  UINT8 *Bytes = NodeBytes(Node);
  HexTextToBytes(AddressText, 2 * BLUETOOTH_ADDRESS_LENGTH, Bytes + 4, BLUETOOTH_ADDRESS_LENGTH);
  if (Row->SubType == MSG_BLUETOOTH_LE_DP) {
    Bytes[4 + BLUETOOTH_ADDRESS_LENGTH] = (UINT8)ParseNumber(NextParam(&Cursor));
  }
  return Node;
}
