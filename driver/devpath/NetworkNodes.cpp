// Parsers of the messaging keywords for network attachments, serial lines,
// USB devices by class or world-wide ID, logical units and wireless links,
// and the builders they share: the IP protocol reader and the USB class
// node builder.
//
// Parsers take their parameters in text order with NextParam and report
// nothing: a number that cannot be read holds what ParseNumber yields, an
// address that its scanner refuses leaves its field zero. Fields are
// little-endian and packed unless a parser says otherwise.
#include "driver/devpath/DevicePathParsers.h"

// What "DEFAULT" stands for in a Uart node text.
static constexpr UINT64 UART_DEFAULT_BAUD_RATE = 115200;
static constexpr UINT64 UART_DEFAULT_DATA_BITS = 8;

// The low 8 bits of Count characters of Text.
static VOID StoreNarrowText(UINT8 *Field, const CHAR16 *Text, UINTN Count) {
  for (UINTN Index = 0; Index < Count; Index++) {
    Field[Index] = (UINT8)Text[Index];
  }
}

UINT64 ParseIpProtocol(const CHAR16 *Text) {
  if (TextIsWord(Text, IP_PROTOCOL_UDP_WORD)) {
    return IP_PROTOCOL_UDP;
  }
  if (TextIsWord(Text, IP_PROTOCOL_TCP_WORD)) {
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
  MAC_ADDR_DEVICE_PATH *Node = CreateNode<MAC_ADDR_DEVICE_PATH>(MESSAGING_DEVICE_PATH, MSG_MAC_ADDR_DP);
  if (Node == nullptr) {
    return nullptr;
  }
  UINTN AddressBytes =
      InterfaceType <= ETHERNET_INTERFACE_TYPE ? ETHERNET_ADDRESS_SIZE : sizeof(Node->MacAddress.Addr);
  HexTextToBytes(AddressText, 2 * AddressBytes, Node->MacAddress.Addr, AddressBytes);
  SetField(Node, &MAC_ADDR_DEVICE_PATH::IfType, InterfaceType);
  return &Node->Header;
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
  IPv4_DEVICE_PATH *Node = CreateNode<IPv4_DEVICE_PATH>(MESSAGING_DEVICE_PATH, MSG_IPv4_DP);
  if (Node == nullptr) {
    return nullptr;
  }
  ParseIpv4Text(RemoteText, &Node->RemoteIpAddress);
  SetField(Node, &IPv4_DEVICE_PATH::Protocol, ParseIpProtocol(ProtocolText));
  SetField(Node, &IPv4_DEVICE_PATH::StaticIpAddress, TextIsWord(TypeText, IPV4_STATIC_WORD) ? TRUE : FALSE);
  ParseIpv4Text(LocalText, &Node->LocalIpAddress);
  if (*GatewayText != 0 && *MaskText != 0) {
    ParseIpv4Text(GatewayText, &Node->GatewayIpAddress);
    ParseIpv4Text(MaskText, &Node->SubnetMask);
  }
  return &Node->Header;
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
  IPv6_DEVICE_PATH *Node = CreateNode<IPv6_DEVICE_PATH>(MESSAGING_DEVICE_PATH, MSG_IPv6_DP);
  if (Node == nullptr) {
    return nullptr;
  }
  ParseIpv6Text(RemoteText, &Node->RemoteIpAddress);
  SetField(Node, &IPv6_DEVICE_PATH::Protocol, ParseIpProtocol(ProtocolText));
  // Any origin word but the first two reads as stateful.
  SetField(Node, &IPv6_DEVICE_PATH::IpAddressOrigin,
           TextIsWord(OriginText, IPV6_ORIGIN_STATIC_WORD)      ? IPV6_ORIGIN_STATIC
           : TextIsWord(OriginText, IPV6_ORIGIN_STATELESS_WORD) ? IPV6_ORIGIN_STATELESS_AUTO_CONFIGURATION
                                                                 : IPV6_ORIGIN_STATEFUL_AUTO_CONFIGURATION);
  ParseIpv6Text(LocalText, &Node->LocalIpAddress);
  if (*GatewayText != 0 && *PrefixText != 0) {
    ParseIpv6Text(GatewayText, &Node->GatewayIpAddress);
    SetField(Node, &IPv6_DEVICE_PATH::PrefixLength, ParseNumber(PrefixText));
  }
  return &Node->Header;
}

// Parity by its first letter and stop bits by the whole word, each in the
// order of its values from 0; a text that none of them fits is a number.
const CHAR8 gUartParityLetters[] = "DNEOMS";
const CHAR8 gUartStopBitsWords[] = "D\0001\0001.5\0002\0";
static constexpr UINTN UART_STOP_BITS_WORDS = 4;

// Uart(BaudRate,DataBits,Parity,StopBits)
EFI_DEVICE_PATH_PROTOCOL *ParseUartNode(CHAR16 *ParamText, const NODE_TEXT_ROW *) {
  CHAR16 *Cursor = ParamText;
  CHAR16 *BaudText = NextParam(&Cursor);
  CHAR16 *DataBitsText = NextParam(&Cursor);
  CHAR16 *ParityText = NextParam(&Cursor);
  CHAR16 *StopBitsText = NextParam(&Cursor);
  UART_DEVICE_PATH *Node = CreateNode<UART_DEVICE_PATH>(MESSAGING_DEVICE_PATH, MSG_UART_DP);
  if (Node == nullptr) {
    return nullptr;
  }
  SetField(Node, &UART_DEVICE_PATH::BaudRate,
           TextIsWord(BaudText, "DEFAULT") ? UART_DEFAULT_BAUD_RATE : ParseNumber(BaudText));
  SetField(Node, &UART_DEVICE_PATH::DataBits,
           TextIsWord(DataBitsText, "DEFAULT") ? UART_DEFAULT_DATA_BITS : ParseNumber(DataBitsText));
  UINT64 Parity = ParseNumber(ParityText);
  for (UINT8 Value = 0; gUartParityLetters[Value] != 0; Value++) {
    if (*ParityText == (UINT8)gUartParityLetters[Value]) {
      Parity = Value;
    }
  }
  SetField(Node, &UART_DEVICE_PATH::Parity, Parity);
  UINTN StopBits = WordIndex(StopBitsText, gUartStopBitsWords);
  SetField(Node, &UART_DEVICE_PATH::StopBits, StopBits < UART_STOP_BITS_WORDS ? StopBits : ParseNumber(StopBitsText));
  return &Node->Header;
}

// USB class codes, and the subclasses of the application-specific class,
// that the USB class keywords fix.
static constexpr UINT8 USB_CLASS_AUDIO = 0x01;
static constexpr UINT8 USB_CLASS_CDC_CONTROL = 0x02;
static constexpr UINT8 USB_CLASS_HID = 0x03;
static constexpr UINT8 USB_CLASS_IMAGE = 0x06;
static constexpr UINT8 USB_CLASS_PRINTER = 0x07;
static constexpr UINT8 USB_CLASS_MASS_STORAGE = 0x08;
static constexpr UINT8 USB_CLASS_HUB = 0x09;
static constexpr UINT8 USB_CLASS_CDC_DATA = 0x0A;
static constexpr UINT8 USB_CLASS_SMART_CARD = 0x0B;
static constexpr UINT8 USB_CLASS_VIDEO = 0x0E;
static constexpr UINT8 USB_CLASS_DIAGNOSTIC = 0xDC;
static constexpr UINT8 USB_CLASS_WIRELESS = 0xE0;
static constexpr UINT8 USB_CLASS_APPLICATION_SPECIFIC = 0xFE;
static constexpr UINT8 USB_SUBCLASS_DEVICE_FIRMWARE_UPDATE = 0x01;
static constexpr UINT8 USB_SUBCLASS_IRDA_BRIDGE = 0x02;
static constexpr UINT8 USB_SUBCLASS_TEST_AND_MEASUREMENT = 0x03;

// The presets of the USB class keywords, in USB_CLASS_PRESET_INDEX order.
constexpr UsbClassPreset gUsbClassPresets[] = {
    {TRUE, 0, TRUE, 0},                                 // UsbClass
    {FALSE, USB_CLASS_AUDIO, TRUE, 0},                  // UsbAudio
    {FALSE, USB_CLASS_CDC_CONTROL, TRUE, 0},            // UsbCDCControl
    {FALSE, USB_CLASS_HID, TRUE, 0},                    // UsbHID
    {FALSE, USB_CLASS_IMAGE, TRUE, 0},                  // UsbImage
    {FALSE, USB_CLASS_PRINTER, TRUE, 0},                // UsbPrinter
    {FALSE, USB_CLASS_MASS_STORAGE, TRUE, 0},           // UsbMassStorage
    {FALSE, USB_CLASS_HUB, TRUE, 0},                    // UsbHub
    {FALSE, USB_CLASS_CDC_DATA, TRUE, 0},               // UsbCDCData
    {FALSE, USB_CLASS_SMART_CARD, TRUE, 0},             // UsbSmartCard
    {FALSE, USB_CLASS_VIDEO, TRUE, 0},                  // UsbVideo
    {FALSE, USB_CLASS_DIAGNOSTIC, TRUE, 0},             // UsbDiagnostic
    {FALSE, USB_CLASS_WIRELESS, TRUE, 0},               // UsbWireless
    {FALSE, USB_CLASS_APPLICATION_SPECIFIC, FALSE, USB_SUBCLASS_DEVICE_FIRMWARE_UPDATE},  // UsbDeviceFirmwareUpdate
    {FALSE, USB_CLASS_APPLICATION_SPECIFIC, FALSE, USB_SUBCLASS_IRDA_BRIDGE},             // UsbIrdaBridge
    {FALSE, USB_CLASS_APPLICATION_SPECIFIC, FALSE, USB_SUBCLASS_TEST_AND_MEASUREMENT},    // UsbTestAndMeasurement
};
static_assert(ArrayCount(gUsbClassPresets) == USB_CLASS_PRESET_COUNT,
              "one preset for each USB class keyword");

// A USB ID, class or protocol: all ones when its text is empty.
static UINT64 UsbValueOrAllOnes(const CHAR16 *Text) { return *Text == 0 ? ~(UINT64)0 : ParseNumber(Text); }

EFI_DEVICE_PATH_PROTOCOL *ParseUsbClassNode(CHAR16 *ParamText, const UsbClassPreset *Preset) {
  USB_CLASS_DEVICE_PATH *Node = CreateNode<USB_CLASS_DEVICE_PATH>(MESSAGING_DEVICE_PATH, MSG_USB_CLASS_DP);
  if (Node == nullptr) {
    return nullptr;
  }
  CHAR16 *Cursor = ParamText;
  CHAR16 *VendorText = NextParam(&Cursor);
  CHAR16 *ProductText = NextParam(&Cursor);
  SetField(Node, &USB_CLASS_DEVICE_PATH::DeviceClass,
           Preset->ClassFromText ? UsbValueOrAllOnes(NextParam(&Cursor)) : Preset->Class);
  SetField(Node, &USB_CLASS_DEVICE_PATH::DeviceSubClass,
           Preset->SubClassFromText ? UsbValueOrAllOnes(NextParam(&Cursor)) : Preset->SubClass);
  CHAR16 *ProtocolText = NextParam(&Cursor);
  SetField(Node, &USB_CLASS_DEVICE_PATH::VendorId, UsbValueOrAllOnes(VendorText));
  SetField(Node, &USB_CLASS_DEVICE_PATH::ProductId, UsbValueOrAllOnes(ProductText));
  SetField(Node, &USB_CLASS_DEVICE_PATH::DeviceProtocol, UsbValueOrAllOnes(ProtocolText));
  return &Node->Header;
}

EFI_DEVICE_PATH_PROTOCOL *ParseUsbClassRow(CHAR16 *ParamText, const NODE_TEXT_ROW *Row) {
  return ParseUsbClassNode(ParamText, &gUsbClassPresets[Row->Preset]);
}

// UsbWwid(VendorId,ProductId,InterfaceNumber,"SerialNumber"): the quotation
// marks are optional. Null (RefuseNodeTooLong) for a serial number too long
// for the node.
EFI_DEVICE_PATH_PROTOCOL *ParseUsbWwidNode(CHAR16 *ParamText, const NODE_TEXT_ROW *) {
  CHAR16 *Cursor = ParamText;
  CHAR16 *VendorText = NextParam(&Cursor);
  CHAR16 *ProductText = NextParam(&Cursor);
  CHAR16 *InterfaceText = NextParam(&Cursor);
  CHAR16 *Serial = NextParam(&Cursor);
  // Up to two quotation marks more than fit may still make a node. A
  // serial number cut at this bound is too long, marks or not.
  UINTN Length = BoundedStrLen(Serial, MAX_NODE_LENGTH / sizeof(CHAR16) + 2);
  if (Length >= 2 && Serial[0] == u'"' && Serial[Length - 1] == u'"') {
    Serial[Length - 1] = 0;
    Serial++;
    Length -= 2;
  }
  USB_WWID_DEVICE_PATH *Node =
      CreateNode<USB_WWID_DEVICE_PATH>(MESSAGING_DEVICE_PATH, MSG_USB_WWID_DP, sizeof(CHAR16) * Length);
  if (Node == nullptr) {
    return nullptr;
  }
  SetField(Node, &USB_WWID_DEVICE_PATH::VendorId, ParseNumber(VendorText));
  SetField(Node, &USB_WWID_DEVICE_PATH::ProductId, ParseNumber(ProductText));
  SetField(Node, &USB_WWID_DEVICE_PATH::InterfaceNumber, ParseNumber(InterfaceText));
  for (UINTN Index = 0; Index < Length; Index++) {
    WriteLittleEndian(VariableBytes(Node) + sizeof(CHAR16) * Index, sizeof(CHAR16), Serial[Index]);
  }
  return &Node->Header;
}

// iSCSI(TargetName,PortalGroupTag,Lun,HeaderDigest,DataDigest,
// Authentication,Protocol). Null (RefuseNodeTooLong) for a target name too
// long for the node.
EFI_DEVICE_PATH_PROTOCOL *ParseIscsiNode(CHAR16 *ParamText, const NODE_TEXT_ROW *) {
  CHAR16 *Cursor = ParamText;
  CHAR16 *NameText = NextParam(&Cursor);
  CHAR16 *TagText = NextParam(&Cursor);
  CHAR16 *LunText = NextParam(&Cursor);
  CHAR16 *HeaderDigestText = NextParam(&Cursor);
  CHAR16 *DataDigestText = NextParam(&Cursor);
  CHAR16 *AuthenticationText = NextParam(&Cursor);
  CHAR16 *ProtocolText = NextParam(&Cursor);
  // The name and its zero byte follow the fixed portion.
  // One character more than fits is enough to refuse the node.
  UINTN NameLength = BoundedStrLen(NameText, MAX_NODE_LENGTH);
  ISCSI_DEVICE_PATH *Node = CreateNode<ISCSI_DEVICE_PATH>(MESSAGING_DEVICE_PATH, MSG_ISCSI_DP, NameLength + 1);
  if (Node == nullptr) {
    return nullptr;
  }
  StoreNarrowText(VariableBytes(Node), NameText, NameLength);  // and the zero byte of the zero-filled node
  SetField(Node, &ISCSI_DEVICE_PATH::TargetPortalGroupTag, ParseNumber(TagText));
  UINT64 Lun = 0;
  ParseNumber64(LunText, &Lun);
  SetBigEndianField(Node, &ISCSI_DEVICE_PATH::Lun, Lun);
  UINT16 Options = 0;
  if (TextIsWord(HeaderDigestText, ISCSI_DIGEST_CRC32C_WORD)) {
    Options |= ISCSI_LOGIN_OPTION_HEADER_DIGEST_CRC32C;
  }
  if (TextIsWord(DataDigestText, ISCSI_DIGEST_CRC32C_WORD)) {
    Options |= ISCSI_LOGIN_OPTION_DATA_DIGEST_CRC32C;
  }
  if (TextIsWord(AuthenticationText, ISCSI_AUTHENTICATION_NONE_WORD)) {
    Options |= ISCSI_LOGIN_OPTION_AUTHMETHOD_NONE;
  } else if (TextIsWord(AuthenticationText, ISCSI_AUTHENTICATION_CHAP_UNI_WORD)) {
    Options |= ISCSI_LOGIN_OPTION_CHAP_UNI;
  }
  SetField(Node, &ISCSI_DEVICE_PATH::LoginOption, Options);
  SetField(Node, &ISCSI_DEVICE_PATH::NetworkProtocol,
           (*ProtocolText == 0 || TextIsWord(ProtocolText, ISCSI_PROTOCOL_TCP_WORD)) ? ISCSI_PROTOCOL_TCP
                                                                                     : ISCSI_PROTOCOL_OTHER);
  return &Node->Header;
}

// Dns(Server,...): one 16-byte slot per parameter; the first "." or ":" of
// the text makes every server IPv4 or IPv6. Null for no server (the text's
// own answer), and (RefuseNodeTooLong) for more servers than the node can
// hold.
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
  if (Count == 0) {
    return nullptr;
  }
  DNS_DEVICE_PATH *Node = CreateNode<DNS_DEVICE_PATH>(MESSAGING_DEVICE_PATH, MSG_DNS_DP, sizeof(EFI_IP_ADDRESS) * Count);
  if (Node == nullptr) {
    return nullptr;
  }
  BOOLEAN IsIpv6 = FALSE;
  for (const CHAR16 *Char = ParamText; *Char != 0; Char++) {
    if (*Char == u'.' || *Char == u':') {
      IsIpv6 = *Char == u':';
      break;
    }
  }
  SetField(Node, &DNS_DEVICE_PATH::IsIPv6, IsIpv6);
  // The servers in EFI_IP_ADDRESS slots, each read into an address type of
  // alignment 1, since the slots lie at odd addresses.
  CHAR16 *Cursor = ParamText;
  for (UINTN Index = 0; Index < Count; Index++) {
    UINT8 *Slot = VariableBytes(Node) + sizeof(EFI_IP_ADDRESS) * Index;
    CHAR16 *ServerText = NextParam(&Cursor);
    if (IsIpv6) {
      ParseIpv6Text(ServerText, (EFI_IPv6_ADDRESS *)Slot);
    } else {
      ParseIpv4Text(ServerText, (EFI_IPv4_ADDRESS *)Slot);
    }
  }
  return &Node->Header;
}

// Uri(Uri): up to the first ",", cut so that the node length fits.
EFI_DEVICE_PATH_PROTOCOL *ParseUriNode(CHAR16 *ParamText, const NODE_TEXT_ROW *) {
  CHAR16 *Cursor = ParamText;
  CHAR16 *UriText = NextParam(&Cursor);
  UINTN Length = BoundedStrLen(UriText, MAX_NODE_LENGTH - sizeof(URI_DEVICE_PATH));
  URI_DEVICE_PATH *Node = CreateNode<URI_DEVICE_PATH>(MESSAGING_DEVICE_PATH, MSG_URI_DP, Length);
  if (Node == nullptr) {
    return nullptr;
  }
  StoreNarrowText(VariableBytes(Node), UriText, Length);
  return &Node->Header;
}

