// The writers of the keyword table's rows other than ParseFieldNode's
// (NodeValues.cpp writes those), one per parser, in the table's order:
// each reads the node through its layout (driver/firmware/Protocol/
// DevicePath.h) and takes the values that presets fix, the words of
// keyword-valued parameters and the bit layouts from the table's header.
// The words below are the formatter's own: conventional texts of values
// that the converter reads from any text other than its words.
#include <cstddef>
#include <cstring>
#include <string>

#include "host/devtext/NodeValues.h"
#include "host/sim/Text.h"

namespace devtext::detail {

namespace {

// The formatter's own words: the converter reads the value from any text
// but its words, and these are the texts conventionally written for it.
constexpr char16_t kNoFlowControl[] = u"None";                    // UartFlowCtrl, map 0
constexpr char16_t kDhcpAddress[] = u"DHCP";                      // IPv4, not static
constexpr char16_t kStatefulOrigin[] = u"StatefulAutoConfigure";  // IPv6, origin 2
constexpr char16_t kNoDigest[] = u"None";                         // iSCSI digests
constexpr char16_t kChapBi[] = u"CHAP_BI";                        // iSCSI, neither authentication word
constexpr char16_t kIscsiOtherProtocol[] = u"UDP";                // iSCSI, ISCSI_PROTOCOL_OTHER

// ---------------------------------------------------------------------------
// The writers of the other parsers' rows, in the table's order.

// VenHw, VenMsg, VenMedia: the GUID, then the vendor data after it when
// there is any (",0102").
std::u16string VendorText(const std::u16string &keyword, const uint8_t *node, uint16_t length) {
  std::u16string text = keyword + u"(" + GuidText(AT(node, VENDOR_DEVICE_PATH, Guid));
  if (length > sizeof(VENDOR_DEVICE_PATH)) {
    text += u"," + HexData(node + sizeof(VENDOR_DEVICE_PATH), length - sizeof(VENDOR_DEVICE_PATH));
  }
  return text + u")";
}

std::u16string WriteVendorRow(const RowForm &form, const uint8_t *node, uint16_t length) {
  return length >= sizeof(VENDOR_DEVICE_PATH) ? VendorText(form.keyword, node, length) : u"";
}

// PciRoot ... ParallelPort: the Acpi row's fields but the _HID, which is
// the PNP _HID of the preset's product number.
std::u16string WriteAcpiHidRow(const RowForm &form, const uint8_t *node, uint16_t length) {
  const NODE_FIELD *hid = FieldOfReader(form, EisaIdField);
  const uint64_t pnpHid = (static_cast<uint64_t>(form.row->Preset) << EISA_PRODUCT_SHIFT) | PNP_EISA_LETTERS;
  if (length != form.fieldsLength || LittleEndian(node + hid->Offset, hid->Width) != pnpHid) {
    return u"";
  }
  return FieldsText(form, node, length, [hid](const NODE_FIELD &field) { return &field == hid; });
}

// _HIDSTR, _UIDSTR and _CIDSTR of an expanded ACPI node, each ended by a
// zero byte, filling the node; false when they do not.
bool AcpiExStrings(const uint8_t *node, uint16_t length, std::u16string (&strings)[3]) {
  size_t at = sizeof(ACPI_EXTENDED_HID_DEVICE_PATH);
  for (std::u16string &string : strings) {
    const void *zero = at < length ? std::memchr(node + at, 0, length - at) : nullptr;
    if (zero == nullptr) {
      return false;
    }
    const size_t end = static_cast<const uint8_t *>(zero) - node;
    string = ByteText(node + at, end - at);
    at = end + 1;
  }
  return true;
}

// AcpiExp says a node without _UID and without _HIDSTR and _CIDSTR; AcpiEx
// every other one.
bool IsAcpiExp(const ACPI_EXTENDED_HID_DEVICE_PATH &acpi, const std::u16string (&strings)[3]) {
  return acpi.UID == 0 && strings[0].empty() && strings[2].empty();
}

std::u16string WriteAcpiExRow(const RowForm &form, const uint8_t *node, uint16_t length) {
  ACPI_EXTENDED_HID_DEVICE_PATH acpi;
  std::u16string strings[3];
  if (!Read(node, length, acpi) || !AcpiExStrings(node, length, strings) || IsAcpiExp(acpi, strings)) {
    return u"";
  }
  return Call(form.keyword,
              {EisaIdText(acpi.HID), EisaIdText(acpi.CID), Num(acpi.UID), strings[0], strings[2], strings[1]});
}

// AcpiExp(HID,CID,UIDSTR): a CID of 0 is written "0", which reads as none.
std::u16string WriteAcpiExpRow(const RowForm &form, const uint8_t *node, uint16_t length) {
  ACPI_EXTENDED_HID_DEVICE_PATH acpi;
  std::u16string strings[3];
  if (!Read(node, length, acpi) || !AcpiExStrings(node, length, strings) || !IsAcpiExp(acpi, strings)) {
    return u"";
  }
  return Call(form.keyword, {EisaIdText(acpi.HID), acpi.CID == 0 ? u"0" : EisaIdText(acpi.CID), strings[1]});
}

// AcpiAdr: every _ADR of the node.
std::u16string WriteAcpiAdrRow(const RowForm &form, const uint8_t *node, uint16_t length) {
  constexpr size_t kAdrSize = sizeof(ACPI_ADR_DEVICE_PATH::ADR);
  const size_t first = offsetof(ACPI_ADR_DEVICE_PATH, ADR);
  if (length < sizeof(ACPI_ADR_DEVICE_PATH) || (length - first) % kAdrSize != 0) {
    return u"";
  }
  std::u16string text = form.keyword + u"(";
  for (size_t at = first; at < length; at += kAdrSize) {
    text += (at == first ? u"" : u",") + Num(LittleEndian(node + at, kAdrSize));
  }
  return text + u")";
}

std::u16string WriteAtaRow(const RowForm &form, const uint8_t *node, uint16_t length) {
  ATAPI_DEVICE_PATH ata;
  if (!Read(node, length, ata)) {
    return u"";
  }
  return Call(form.keyword, {WordOrNum(gAtaChannelWords, ata.PrimarySecondary),
                             WordOrNum(gAtaDriveWords, ata.SlaveMaster), Num(ata.Lun)});
}

// Whether the node carries the vendor GUID of a fixed-GUID row's preset.
bool HasPresetGuid(const RowForm &form, const uint8_t *node, uint16_t length) {
  return length >= sizeof(VENDOR_DEVICE_PATH) &&
         std::memcmp(AT(node, VENDOR_DEVICE_PATH, Guid), &gMessagingVendorGuids[form.row->Preset], sizeof(EFI_GUID)) ==
             0;
}

// VenPcAnsi ... DebugPort: the GUID alone, no vendor data.
std::u16string WriteFixedVendorRow(const RowForm &form, const uint8_t *node, uint16_t length) {
  return length == sizeof(VENDOR_DEVICE_PATH) && HasPresetGuid(form, node, length) ? Call(form.keyword, {}) : u"";
}

std::u16string WriteUartFlowCtrlRow(const RowForm &form, const uint8_t *node, uint16_t length) {
  UART_FLOW_CONTROL_DEVICE_PATH flow;
  if (!HasPresetGuid(form, node, length) || !Read(node, length, flow)) {
    return u"";
  }
  const CHAR8 *word = flow.FlowControlMap != 0 ? WordAt(gFlowControlWords, flow.FlowControlMap - 1) : nullptr;
  return Call(form.keyword, {word != nullptr ? U(word) : kNoFlowControl});
}

// The four SAS topology parameters (device kind, location, connection,
// drive bay) that SasTopologyFromText reads back to topology; a topology
// that no words say is given as a number in the device-kind place, which
// the rule reads whole.
std::u16string SasTopologyText(uint16_t topology) {
  if (topology == SAS_TOPOLOGY_NONE) {
    return U(SAS_NO_TOPOLOGY_WORD) + u",0,0,0";
  }
  const uint16_t information = topology & SAS_TOPOLOGY_INFORMATION_MASK;
  const uint16_t bay = topology >> SAS_TOPOLOGY_BAY_SHIFT;
  if ((information == SAS_TOPOLOGY_ONE_BYTE && bay == 0) || information == SAS_TOPOLOGY_TWO_BYTES) {
    const uint64_t location = (topology >> SAS_TOPOLOGY_LOCATION_SHIFT) & SAS_TOPOLOGY_LOCATION_MASK;
    const uint64_t connection = (topology >> SAS_TOPOLOGY_CONNECTION_SHIFT) & SAS_TOPOLOGY_CONNECTION_MASK;
    const CHAR8 *connectionWord = WordAt(gSasConnectionWords, connection);
    return U((topology & SAS_TOPOLOGY_SATA_DEVICE) != 0 ? SAS_DEVICE_SATA_WORD : SAS_DEVICE_SAS_WORD) + u"," +
           U(WordAt(gSasLocationWords, location)) + u"," +
           (connectionWord != nullptr ? U(connectionWord) : Dec(connection)) + u"," +
           Dec(information == SAS_TOPOLOGY_TWO_BYTES ? bay + 1 : 0);
  }
  return Num(topology) + u",0,0,0";
}

std::u16string WriteSasRow(const RowForm &form, const uint8_t *node, uint16_t length) {
  SAS_DEVICE_PATH sas;
  if (!HasPresetGuid(form, node, length) || !Read(node, length, sas)) {
    return u"";
  }
  return Call(form.keyword, {Num(sas.SasAddress), Num(sas.Lun), Num(sas.RelativeTargetPort),
                             SasTopologyText(sas.DeviceTopology), Num(sas.Reserved)});
}

std::u16string WriteSasExRow(const RowForm &form, const uint8_t *node, uint16_t length) {
  SASEX_DEVICE_PATH sas;
  if (!Read(node, length, sas)) {
    return u"";
  }
  return Call(form.keyword, {Num(BigEndian64(sas.SasAddress)), Num(BigEndian64(sas.Lun)),
                             Num(sas.RelativeTargetPort), SasTopologyText(sas.DeviceTopology)});
}

// NVMe(NamespaceId,Eui64): the first group of the text is the field's last
// byte.
std::u16string WriteNvmeRow(const RowForm &form, const uint8_t *node, uint16_t length) {
  NVME_NAMESPACE_DEVICE_PATH nvme;
  if (!Read(node, length, nvme)) {
    return u"";
  }
  const uint8_t *eui = AT(node, NVME_NAMESPACE_DEVICE_PATH, NamespaceUuid);
  std::u16string groups;
  for (size_t k = sizeof(nvme.NamespaceUuid); k-- > 0;) {
    groups += U(sim::HexBytes(eui + k, 1, "")) + (k != 0 ? u"-" : u"");
  }
  return Call(form.keyword, {Num(nvme.NamespaceId), groups});
}

// MAC(Address,InterfaceType): as many address bytes as the interface type
// takes.
std::u16string WriteMacAddressRow(const RowForm &form, const uint8_t *node, uint16_t length) {
  MAC_ADDR_DEVICE_PATH mac;
  if (!Read(node, length, mac)) {
    return u"";
  }
  const size_t used = mac.IfType <= ETHERNET_INTERFACE_TYPE ? ETHERNET_ADDRESS_SIZE : sizeof(mac.MacAddress.Addr);
  return Call(form.keyword, {HexData(AT(node, MAC_ADDR_DEVICE_PATH, MacAddress), used), Num(mac.IfType)});
}

std::u16string IpProtocolText(uint16_t protocol) {
  return protocol == IP_PROTOCOL_TCP   ? U(IP_PROTOCOL_TCP_WORD)
         : protocol == IP_PROTOCOL_UDP ? U(IP_PROTOCOL_UDP_WORD)
                                       : Dec(protocol);
}

// IPv4(Remote,Protocol,Type,Local[,Gateway,Mask]): the last two only when
// either is set.
std::u16string WriteIpv4Row(const RowForm &form, const uint8_t *node, uint16_t length) {
  IPv4_DEVICE_PATH ip;
  if (!Read(node, length, ip)) {
    return u"";
  }
  const uint8_t *gateway = AT(node, IPv4_DEVICE_PATH, GatewayIpAddress);
  const uint8_t *mask = AT(node, IPv4_DEVICE_PATH, SubnetMask);
  std::u16string text = form.keyword + u"(" + Ipv4Text(AT(node, IPv4_DEVICE_PATH, RemoteIpAddress)) + u"," +
                        IpProtocolText(ip.Protocol) + u"," +
                        (ip.StaticIpAddress ? U(IPV4_STATIC_WORD) : kDhcpAddress) + u"," +
                        Ipv4Text(AT(node, IPv4_DEVICE_PATH, LocalIpAddress));
  if (Le32(gateway) != 0 || Le32(mask) != 0) {
    text += u"," + Ipv4Text(gateway) + u"," + Ipv4Text(mask);
  }
  return text + u")";
}

// IPv6(Remote,Protocol,Origin,Local[,PrefixLength,Gateway]): the last two
// only when either is set. An origin no word names is left empty.
std::u16string WriteIpv6Row(const RowForm &form, const uint8_t *node, uint16_t length) {
  IPv6_DEVICE_PATH ip;
  if (!Read(node, length, ip)) {
    return u"";
  }
  const uint8_t origin = ip.IpAddressOrigin;
  const std::u16string originText = origin == IPV6_ORIGIN_STATIC                         ? U(IPV6_ORIGIN_STATIC_WORD)
                                    : origin == IPV6_ORIGIN_STATELESS_AUTO_CONFIGURATION ? U(IPV6_ORIGIN_STATELESS_WORD)
                                    : origin == IPV6_ORIGIN_STATEFUL_AUTO_CONFIGURATION  ? kStatefulOrigin
                                                                                          : u"";
  const uint8_t *gateway = AT(node, IPv6_DEVICE_PATH, GatewayIpAddress);
  std::u16string text = form.keyword + u"(" + Ipv6Text(AT(node, IPv6_DEVICE_PATH, RemoteIpAddress)) + u"," +
                        IpProtocolText(ip.Protocol) + u"," + originText + u"," +
                        Ipv6Text(AT(node, IPv6_DEVICE_PATH, LocalIpAddress));
  static const uint8_t kZero[sizeof(ip.GatewayIpAddress)] = {};
  if (ip.PrefixLength != 0 || std::memcmp(gateway, kZero, sizeof(kZero)) != 0) {
    text += u"," + Dec(ip.PrefixLength) + u"," + Ipv6Text(gateway);
  }
  return text + u")";
}

// Uart(BaudRate,DataBits,Parity,StopBits): parity by its letter and stop
// bits by their word where one names them.
std::u16string WriteUartRow(const RowForm &form, const uint8_t *node, uint16_t length) {
  UART_DEVICE_PATH uart;
  if (!Read(node, length, uart)) {
    return u"";
  }
  const std::u16string parity = uart.Parity < std::strlen(gUartParityLetters)
                                    ? std::u16string(1, static_cast<char16_t>(gUartParityLetters[uart.Parity]))
                                    : Num(uart.Parity);
  return Call(form.keyword,
              {Dec(uart.BaudRate), Dec(uart.DataBits), parity, WordOrNum(gUartStopBitsWords, uart.StopBits)});
}

// UsbClass and the keywords that fix the class, or the class and
// subclass: the IDs, the values the preset leaves to the text, the
// protocol; empty for a node of a class or subclass the preset does not
// fix.
std::u16string WriteUsbClassRow(const RowForm &form, const uint8_t *node, uint16_t length) {
  const UsbClassPreset &preset = gUsbClassPresets[form.row->Preset];
  USB_CLASS_DEVICE_PATH usb;
  if (!Read(node, length, usb) || (!preset.ClassFromText && usb.DeviceClass != preset.Class) ||
      (!preset.SubClassFromText && usb.DeviceSubClass != preset.SubClass)) {
    return u"";
  }
  std::u16string text = form.keyword + u"(" + Num(usb.VendorId) + u"," + Num(usb.ProductId) + u",";
  if (preset.ClassFromText) {
    text += Num(usb.DeviceClass) + u",";
  }
  if (preset.SubClassFromText) {
    text += Num(usb.DeviceSubClass) + u",";
  }
  return text + Num(usb.DeviceProtocol) + u")";
}

// UsbWwid(VendorId,ProductId,InterfaceNumber,"SerialNumber")
std::u16string WriteUsbWwidRow(const RowForm &form, const uint8_t *node, uint16_t length) {
  USB_WWID_DEVICE_PATH wwid;
  if (!Read(node, length, wwid) || (length - sizeof(wwid)) % sizeof(char16_t) != 0) {
    return u"";
  }
  std::u16string serial;
  for (size_t at = sizeof(wwid); at < length; at += sizeof(char16_t)) {
    serial += static_cast<char16_t>(Le16(node + at));
  }
  return Call(form.keyword,
              {Num(wwid.VendorId), Num(wwid.ProductId), Num(wwid.InterfaceNumber), u"\"" + serial + u"\""});
}

// iSCSI(Name,Tag,Lun,HeaderDigest,DataDigest,Authentication,Protocol): the
// name and its zero byte fill the node.
std::u16string WriteIscsiRow(const RowForm &form, const uint8_t *node, uint16_t length) {
  ISCSI_DEVICE_PATH iscsi;
  if (!Read(node, length, iscsi) || length == sizeof(iscsi) || node[length - 1] != 0) {
    return u"";
  }
  const uint16_t login = iscsi.LoginOption;
  auto digest = [login](uint16_t bit) { return (login & bit) != 0 ? U(ISCSI_DIGEST_CRC32C_WORD) : kNoDigest; };
  const std::u16string authentication =
      (login & ISCSI_LOGIN_OPTION_AUTHMETHOD_NONE) != 0 ? U(ISCSI_AUTHENTICATION_NONE_WORD)
      : (login & ISCSI_LOGIN_OPTION_CHAP_UNI) != 0      ? U(ISCSI_AUTHENTICATION_CHAP_UNI_WORD)
                                                        : kChapBi;
  return Call(form.keyword, {ByteText(node + sizeof(iscsi), length - sizeof(iscsi) - 1),
                             Num(iscsi.TargetPortalGroupTag), Num(BigEndian64(iscsi.Lun)),
                             digest(ISCSI_LOGIN_OPTION_HEADER_DIGEST_CRC32C),
                             digest(ISCSI_LOGIN_OPTION_DATA_DIGEST_CRC32C), authentication,
                             iscsi.NetworkProtocol == ISCSI_PROTOCOL_TCP ? U(ISCSI_PROTOCOL_TCP_WORD)
                                                                         : kIscsiOtherProtocol});
}

// Dns(Server,...): every server of the node, IPv4 or IPv6 alike.
std::u16string WriteDnsRow(const RowForm &form, const uint8_t *node, uint16_t length) {
  DNS_DEVICE_PATH dns;
  constexpr size_t kSlot = sizeof(EFI_IP_ADDRESS);
  if (!Read(node, length, dns) || length == sizeof(dns) || (length - sizeof(dns)) % kSlot != 0) {
    return u"";
  }
  std::u16string text = form.keyword + u"(";
  for (size_t at = sizeof(dns); at < length; at += kSlot) {
    text += (at == sizeof(dns) ? u"" : u",") + (dns.IsIPv6 ? Ipv6Text(node + at) : Ipv4Text(node + at));
  }
  return text + u")";
}

std::u16string WriteUriRow(const RowForm &form, const uint8_t *node, uint16_t length) {
  return Call(form.keyword, {ByteText(node + sizeof(URI_DEVICE_PATH), length - sizeof(URI_DEVICE_PATH))});
}

// HD(Partition,Format,Signature,Start,Size): a signature type that no
// partition format names is given as a number, with no signature.
std::u16string WriteHardDriveRow(const RowForm &form, const uint8_t *node, uint16_t length) {
  HARDDRIVE_DEVICE_PATH hd;
  if (!Read(node, length, hd)) {
    return u"";
  }
  std::u16string format, signature;
  if (hd.MBRType == MBR_TYPE_PCAT && hd.SignatureType == SIGNATURE_TYPE_MBR) {
    format = U(HARD_DRIVE_MBR_WORD);
    signature = U(sim::Hex(Le32(hd.Signature), 8));
  } else if (hd.MBRType == MBR_TYPE_EFI_PARTITION_TABLE_HEADER && hd.SignatureType == SIGNATURE_TYPE_GUID) {
    format = U(HARD_DRIVE_GPT_WORD);
    signature = GuidText(hd.Signature);
  } else {
    format = Dec(hd.SignatureType);
    signature = u"0";
  }
  return Call(form.keyword,
              {Dec(hd.PartitionNumber), format, signature, Num(hd.PartitionStart), Num(hd.PartitionSize)});
}

// VirtualDisk ... PersistentVirtualCD: the RamDisk row's fields but the
// disk type, which is the GUID of the preset's kind.
std::u16string WriteVirtualDiskRow(const RowForm &form, const uint8_t *node, uint16_t length) {
  const NODE_FIELD *type = FieldOfReader(form, GuidField);
  if (length != form.fieldsLength ||
      std::memcmp(node + type->Offset, &gVirtualDiskTypeGuids[form.row->Preset], sizeof(EFI_GUID)) != 0) {
    return u"";
  }
  return FieldsText(form, node, length, [type](const NODE_FIELD &field) { return &field == type; });
}

// BBS(Type,Description,Flags): the description and its zero byte fill the
// node.
std::u16string WriteBbsRow(const RowForm &form, const uint8_t *node, uint16_t length) {
  BBS_BBS_DEVICE_PATH bbs;
  if (!Read(node, length, bbs) || length == sizeof(bbs) || node[length - 1] != 0) {
    return u"";
  }
  // Device types are counted from 1.
  const CHAR8 *type = bbs.DeviceType != 0 ? WordAt(gBbsDeviceTypeWords, bbs.DeviceType - 1) : nullptr;
  return Call(form.keyword, {type != nullptr ? U(type) : Num(bbs.DeviceType),
                             ByteText(node + sizeof(bbs), length - sizeof(bbs) - 1), Num(bbs.StatusFlag)});
}

// The writer of each parser's rows. The rows of the generic forms ("Path",
// "HardwarePath" ...) have none: they say any node of their type and are
// written last (GenericText).
struct ParserWriter {
  NODE_PARSER_ID parser;
  RowWriter write;
};
constexpr ParserWriter kWriters[] = {
    {ParseFieldNodeId, WriteFieldRow},
    {ParsePathNodeId, nullptr},
    {ParseGenericRowId, nullptr},
    {ParseVendorRowId, WriteVendorRow},
    {ParseAcpiHidRowId, WriteAcpiHidRow},
    {ParseAcpiExNodeId, WriteAcpiExRow},
    {ParseAcpiExpNodeId, WriteAcpiExpRow},
    {ParseAcpiAdrNodeId, WriteAcpiAdrRow},
    {ParseAtaNodeId, WriteAtaRow},
    {ParseFixedVendorRowId, WriteFixedVendorRow},
    {ParseUartFlowCtrlNodeId, WriteUartFlowCtrlRow},
    {ParseSasNodeId, WriteSasRow},
    {ParseSasExNodeId, WriteSasExRow},
    {ParseNvmeNodeId, WriteNvmeRow},
    {ParseMacAddressNodeId, WriteMacAddressRow},
    {ParseIpv4NodeId, WriteIpv4Row},
    {ParseIpv6NodeId, WriteIpv6Row},
    {ParseUartNodeId, WriteUartRow},
    {ParseUsbClassRowId, WriteUsbClassRow},
    {ParseUsbWwidNodeId, WriteUsbWwidRow},
    {ParseIscsiNodeId, WriteIscsiRow},
    {ParseDnsNodeId, WriteDnsRow},
    {ParseUriNodeId, WriteUriRow},
    {ParseHardDriveNodeId, WriteHardDriveRow},
    {ParseVirtualDiskNodeId, WriteVirtualDiskRow},
    {ParseBbsNodeId, WriteBbsRow},
};

// Every parser of the table stands in kWriters once, in its place.
constexpr bool EachParserHasItsWriter() {
  size_t place = 0;
  for (const ParserWriter &entry : kWriters) {
    if (entry.parser != place++) {
      return false;
    }
  }
  return place == NODE_PARSER_IDS;
}
static_assert(EachParserHasItsWriter(), "kWriters does not list the parsers of NODE_PARSERS in their order");

}  // namespace

RowWriter WriterOfParser(NODE_PARSER_ID parser) { return kWriters[parser].write; }

}  // namespace devtext::detail
