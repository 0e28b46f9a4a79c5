// Binary device paths to text. A node is written as the text of a row of
// the driver's keyword table (driver/devpath/NodeTextTable.h), and only a text
// that the driver's converter reads back to exactly the node is used: so a
// writer can only ever make the text less readable, not wrong.
//
// The table says what a text holds. A ParseFieldNode row lists its fields
// (offset, width, reader), and one writer writes every such row: the
// keyword, then each field as its reader reads it back. The rows of the
// other parsers each have a writer of their own (the writer is chosen by
// the row's parser, once, when the formatter is made), which reads the
// node through its layout (driver/firmware/Protocol/DevicePath.h) and takes the
// values that presets fix, the words of keyword-valued parameters and the
// bit layouts from the table's header. The words below are the formatter's
// own: conventional texts of values that the converter reads from any text
// other than its words.
#include "host/devtext/DeviceText.h"

#include <algorithm>
#include <cstddef>
#include <cstdio>
#include <cstring>
#include <initializer_list>
#include <stdexcept>
#include <string>

#include "host/sim/Text.h"
#include "driver/base/Memory.h"

static_assert(__BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__, "node fields are read as the host's own numbers");

namespace devtext {

namespace {

// ---------------------------------------------------------------------------
// Reading a node.

// The node's fixed portion as its layout, when the node is long enough to
// hold it. The layouts are packed, and the host is little-endian like the
// nodes, so the copy's members read as the node's fields.
template <typename Layout>
bool Read(const uint8_t *node, uint16_t length, Layout &out) {
  if (length < sizeof(Layout)) {
    return false;
  }
  std::memcpy(&out, node, sizeof(Layout));
  return true;
}

// The first byte of a field of the node laid out as Layout (for GUIDs and
// byte arrays, which are read where they lie).
#define AT(node, Layout, Member) ((node) + offsetof(Layout, Member))

uint64_t BigEndian64(const uint8_t *bytes) {
  uint64_t value = 0;
  for (int i = 0; i < 8; i++) {
    value = (value << 8) | bytes[i];
  }
  return value;
}

// The little-endian number of width bytes (at most 8).
uint64_t LittleEndian(const uint8_t *bytes, size_t width) {
  uint64_t value = 0;
  for (size_t i = width; i-- > 0;) {
    value = (value << 8) | bytes[i];
  }
  return value;
}

uint16_t Le16(const uint8_t *bytes) { return static_cast<uint16_t>(LittleEndian(bytes, 2)); }
uint32_t Le32(const uint8_t *bytes) { return static_cast<uint32_t>(LittleEndian(bytes, 4)); }

// ---------------------------------------------------------------------------
// Writing a text. Texts are built in UCS-2, as the converter reads them.

std::u16string U(const std::string &ascii) { return std::u16string(ascii.begin(), ascii.end()); }
std::u16string U(const char *ascii) { return std::u16string(ascii, ascii + std::strlen(ascii)); }

// A number as ParseNumber reads it: "0x" and upper-case hex digits.
std::u16string Num(uint64_t value) { return U(sim::Hex(value)); }

std::u16string Dec(uint64_t value) { return U(std::to_string(value)); }

// Hex digit pairs, no separator: the data of vendor and generic nodes.
std::u16string HexData(const uint8_t *bytes, size_t count) { return U(sim::HexBytes(bytes, count, "")); }

// The registry form ParseGuidText reads: Data1, Data2 and Data3 as numbers
// (stored little-endian), then the eight bytes of Data4 in order.
std::u16string GuidText(const uint8_t *bytes) {
  char text[37];
  std::snprintf(text, sizeof(text), "%08X-%04X-%04X-%02X%02X-%02X%02X%02X%02X%02X%02X", Le32(bytes), Le16(bytes + 4),
                Le16(bytes + 6), bytes[8], bytes[9], bytes[10], bytes[11], bytes[12], bytes[13], bytes[14],
                bytes[15]);
  return U(text);
}

std::u16string Ipv4Text(const uint8_t *bytes) {
  return Dec(bytes[0]) + u"." + Dec(bytes[1]) + u"." + Dec(bytes[2]) + u"." + Dec(bytes[3]);
}

// Eight groups, the longest run of two or more zero groups (the first of
// equal runs) written "::", lower-case digits.
std::u16string Ipv6Text(const uint8_t *bytes) {
  uint16_t groups[8];
  for (int i = 0; i < 8; i++) {
    groups[i] = static_cast<uint16_t>((bytes[2 * i] << 8) | bytes[2 * i + 1]);
  }
  int bestStart = -1, bestLength = 1;
  for (int i = 0; i < 8;) {
    int j = i;
    while (j < 8 && groups[j] == 0) {
      j++;
    }
    if (j - i > bestLength) {
      bestStart = i;
      bestLength = j - i;
    }
    i = j == i ? i + 1 : j;
  }
  std::string text;
  for (int i = 0; i < 8; i++) {
    if (i == bestStart) {
      text += "::";
      i += bestLength - 1;
      continue;
    }
    if (!text.empty() && text.back() != ':') {
      text += ':';
    }
    char group[8];
    std::snprintf(group, sizeof(group), "%x", groups[i]);
    text += group;
  }
  return U(text);
}

// A compressed EISA ID as EisaIdFromText reads it: three letters of
// EISA_LETTER_BITS each, the first the highest (1 is "A"; the other values
// are the characters whose low bits they are, "@" for 0), then four hex
// digits of the product number.
std::u16string EisaIdText(uint32_t id) {
  std::u16string text;
  for (size_t letter = EISA_LETTER_COUNT; letter-- > 0;) {
    text += static_cast<char16_t>(u'@' + ((id >> (letter * EISA_LETTER_BITS)) & EISA_LETTER_MASK));
  }
  char product[8];
  std::snprintf(product, sizeof(product), "%04X", id >> EISA_PRODUCT_SHIFT);
  return text + U(product);
}

// Single-byte characters as text, each byte a character.
std::u16string ByteText(const uint8_t *bytes, size_t count) { return std::u16string(bytes, bytes + count); }

// The word at index of a word list (WordIndex's form), or null when the
// list holds fewer words.
const CHAR8 *WordAt(const CHAR8 *words, uint64_t index) {
  for (; *words != 0; words += std::strlen(words) + 1, index--) {
    if (index == 0) {
      return words;
    }
  }
  return nullptr;
}

// The word of a value in a word list, else the value as a number: what
// the converter reads back for a parameter that is a word or a number.
std::u16string WordOrNum(const CHAR8 *words, uint64_t value) {
  const CHAR8 *word = WordAt(words, value);
  return word != nullptr ? U(word) : Num(value);
}

// The parameters joined into Keyword(...).
std::u16string Call(const std::u16string &keyword, std::initializer_list<std::u16string> parameters) {
  std::u16string text = keyword + u"(";
  bool first = true;
  for (const std::u16string &parameter : parameters) {
    text += first ? u"" : u",";
    text += parameter;
    first = false;
  }
  return text + u")";
}

// The formatter's own words: the converter reads the value from any text
// but its words, and these are the texts conventionally written for it.
constexpr char16_t kNoFlowControl[] = u"None";                    // UartFlowCtrl, map 0
constexpr char16_t kDhcpAddress[] = u"DHCP";                      // IPv4, not static
constexpr char16_t kStatefulOrigin[] = u"StatefulAutoConfigure";  // IPv6, origin 2
constexpr char16_t kNoDigest[] = u"None";                         // iSCSI digests
constexpr char16_t kChapBi[] = u"CHAP_BI";                        // iSCSI, neither authentication word
constexpr char16_t kIscsiOtherProtocol[] = u"UDP";                // iSCSI, ISCSI_PROTOCOL_OTHER

// ---------------------------------------------------------------------------
// The writer of ParseFieldNode rows: a field as its reader reads it back.

std::u16string FieldText(const NODE_FIELD &field, const uint8_t *node, bool decimal) {
  const uint8_t *at = node + field.Offset;
  switch (field.Reader) {
    case EisaIdField:
      return EisaIdText(static_cast<uint32_t>(LittleEndian(at, field.Width)));
    case BigEndianField:
      return Num(BigEndian64(at));
    case GuidField:
      return GuidText(at);
    case HexBytesField:
      return HexData(at, field.Width);
    case NarrowTextField: {
      // Up to the first zero byte, which pads the field.
      const void *zero = std::memchr(at, 0, field.Width);
      return ByteText(at, zero != nullptr ? static_cast<const uint8_t *>(zero) - at : field.Width);
    }
    default:  // NumberField, HexField, AllOnesIfEmptyField: all read "0x" hexadecimal
      return decimal ? Dec(LittleEndian(at, field.Width)) : Num(LittleEndian(at, field.Width));
  }
}

// Keyword(field,...) of the fields, but those that Skip names; empty for
// a node of another length than the fields' layout.
template <typename Skip>
std::u16string FieldsText(const RowForm &form, const uint8_t *node, uint16_t length, Skip skip) {
  if (length != form.fieldsLength) {
    return u"";
  }
  std::u16string text = form.keyword + u"(";
  bool first = true;
  for (const NODE_FIELD *field = form.fields; field->Width != 0; field++) {
    if (!skip(*field)) {
      text += first ? u"" : u",";
      text += FieldText(*field, node, form.decimal);
      first = false;
    }
  }
  return text + u")";
}

std::u16string WriteFieldRow(const RowForm &form, const uint8_t *node, uint16_t length) {
  return FieldsText(form, node, length, [](const NODE_FIELD &) { return false; });
}

// The field of form's layout that reader fills; null for none.
const NODE_FIELD *FieldOfReader(const RowForm &form, NODE_FIELD_READER reader) {
  for (const NODE_FIELD *field = form.fields; field != nullptr && field->Width != 0; field++) {
    if (field->Reader == reader) {
      return field;
    }
  }
  return nullptr;
}

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

// How many values a row's preset fixes: a node of its kind is tried with
// the rows that fix more first, so that the kind's general row ("Acpi",
// "VenMsg", "UsbClass", "RamDisk", "AcpiEx") comes last. Two rows that fix
// as many never say the same node.
int ValuesFixed(const NODE_TEXT_ROW &row) {
  switch (row.Parser) {
    case ParseFieldNodeId:
    case ParseVendorRowId:
    case ParseAcpiExNodeId:
      return 0;
    case ParseUsbClassRowId: {
      const UsbClassPreset &preset = gUsbClassPresets[row.Preset];
      return (preset.ClassFromText ? 0 : 1) + (preset.SubClassFromText ? 0 : 1);
    }
    default:
      return 1;
  }
}

// Node kinds whose numbers are conventionally written in decimal: a VLAN
// ID.
bool DecimalKind(uint8_t type, uint8_t subType) { return type == MESSAGING_DEVICE_PATH && subType == MSG_VLAN_DP; }

// The text of a file-path node: its name, which no keyword claims. Empty
// unless the name and its terminator fill the node.
std::u16string FilePathText(const uint8_t *node, uint16_t length) {
  if (length < sizeof(FILEPATH_DEVICE_PATH) + 2 || (length - sizeof(FILEPATH_DEVICE_PATH)) % 2 != 0 ||
      Le16(node + length - 2) != 0) {
    return u"";
  }
  std::u16string name;
  for (size_t at = sizeof(FILEPATH_DEVICE_PATH); at + 2 < length; at += 2) {
    name += static_cast<char16_t>(Le16(node + at));
  }
  return name;
}

// Node kinds by (type << 8) | subtype; the keyword rows are all of types
// below kRowTypes.
constexpr size_t kRowTypes = 8;
constexpr size_t kKinds = kRowTypes << 8;

}  // namespace

// ---------------------------------------------------------------------------

NodeConverter LinkedNodeConverter() {
  return [](const std::u16string &text) -> std::optional<Bytes> {
    EFI_DEVICE_PATH_PROTOCOL *node = ConvertTextToDeviceNode(text.c_str());
    if (node == nullptr) {
      return std::nullopt;
    }
    const auto *start = reinterpret_cast<const uint8_t *>(node);
    Bytes bytes(start, start + DevicePathNodeLength(node));
    PoolFree(node);
    return bytes;
  };
}

std::string WalkProblem(const uint8_t *bytes, size_t size, const DEVICE_PATH_WALK &walk) {
  const size_t at = walk.Offset;
  auto length = [&] { return std::to_string(Le16(bytes + at + 2)); };
  switch (walk.Fault) {
    case DevicePathValid:
      return "";
    case DevicePathNull:
      return "there are no bytes";
    case DevicePathNoEndNode:
      return "no end node: the bytes end at offset " + std::to_string(size) + " inside or before a node header";
    case DevicePathEndNodeLength:
      return "the end node at offset " + std::to_string(at) + " has Length " + length() + ", not 4";
    case DevicePathNodeTooShort:
      return "the node at offset " + std::to_string(at) + " has Length " + length() + ", below 4";
    case DevicePathNodePastLimit:
      return "the node at offset " + std::to_string(at) + " has Length " + length() +
             ", which runs past the end of the bytes";
    case DevicePathFileNameUnterminated:
      return "the file-path node at offset " + std::to_string(at) + " does not end in a zero character";
  }
  return "the walk ended for a reason it does not name";
}

Formatter::Formatter(NodeConverter convert) : convert_(std::move(convert)), genericRows_(256, NO_NODE_TEXT_ROW) {
  rows_.resize(NODE_TEXT_ROW_COUNT);
  // The ParseFieldNode row of each node kind, whose fields the rows that
  // fix one of them write.
  std::vector<uint8_t> fieldRows(kKinds, NO_NODE_TEXT_ROW);
  for (size_t index = 0; index < NODE_TEXT_ROW_COUNT; index++) {
    const NODE_TEXT_ROW &row = gNodeTextTables.Rows[index];
    if (row.Type >= kRowTypes) {
      throw std::logic_error("a keyword row of a node type the formatter keeps no kinds of");
    }
    if (row.Parser == ParseFieldNodeId) {
      fieldRows[(row.Type << 8) | row.SubType] = static_cast<uint8_t>(index);
    }
  }
  std::vector<uint8_t> order;
  for (size_t index = 0; index < NODE_TEXT_ROW_COUNT; index++) {
    const NODE_TEXT_ROW &row = gNodeTextTables.Rows[index];
    RowForm &form = rows_[index];
    form.row = &row;
    form.keyword = U(NodeTextRowKeyword(&row));
    form.write = kWriters[row.Parser].write;
    form.decimal = DecimalKind(row.Type, row.SubType);
    const uint8_t kindFieldRow = fieldRows[(row.Type << 8) | row.SubType];
    const NODE_TEXT_ROW *fieldRow = row.Parser == ParseFieldNodeId     ? &row
                                    : kindFieldRow != NO_NODE_TEXT_ROW ? &gNodeTextTables.Rows[kindFieldRow]
                                                                       : nullptr;
    if (fieldRow != nullptr) {
      form.fields = NodeTextRowFields(fieldRow);
      form.fieldsLength = fieldRow->Preset;
    }
    if ((row.Parser == ParseAcpiHidRowId && FieldOfReader(form, EisaIdField) == nullptr) ||
        (row.Parser == ParseVirtualDiskNodeId && FieldOfReader(form, GuidField) == nullptr)) {
      throw std::logic_error("the keyword table has no field row for a row whose preset fixes a field: " +
                             std::string(NodeTextRowKeyword(&row)));
    }
    if (row.Parser == ParseGenericRowId) {
      genericRows_[row.Type] = static_cast<uint8_t>(index);
    } else if (row.Parser == ParsePathNodeId) {
      pathRow_ = static_cast<uint8_t>(index);
    } else {
      order.push_back(static_cast<uint8_t>(index));
    }
  }
  if (pathRow_ == NO_NODE_TEXT_ROW) {
    throw std::logic_error("the keyword table has no row of ParsePathNode");
  }
  std::stable_sort(order.begin(), order.end(), [](uint8_t left, uint8_t right) {
    return ValuesFixed(gNodeTextTables.Rows[left]) > ValuesFixed(gNodeTextTables.Rows[right]);
  });
  kinds_.resize(kKinds);
  for (uint8_t index : order) {
    const NODE_TEXT_ROW &row = gNodeTextTables.Rows[index];
    kinds_[(row.Type << 8) | row.SubType].push_back(index);
  }
}

const std::vector<uint8_t> &Formatter::RowsOfKind(uint8_t type, uint8_t subType) const {
  static const std::vector<uint8_t> kNone;
  return type < kRowTypes ? kinds_[(type << 8) | subType] : kNone;
}

std::string Formatter::GenericText(const uint8_t *node, uint16_t length) const {
  const size_t header = sizeof(EFI_DEVICE_PATH_PROTOCOL);
  const std::u16string data = HexData(node + header, length - header);
  const uint8_t type = node[0];
  const uint8_t generic = genericRows_[type];
  const std::u16string text = generic != NO_NODE_TEXT_ROW
                                  ? Call(rows_[generic].keyword, {Num(node[1]), data})
                                  : Call(rows_[pathRow_].keyword, {Num(type), Num(node[1]), data});
  return std::string(text.begin(), text.end());
}

// The first text that reads back: of the rows of the node's kind, in their
// order, or the file name of a file-path node; otherwise the generic form.
std::string Formatter::NodeToText(const uint8_t *node, uint16_t length) const {
  for (uint8_t index : RowsOfKind(node[0], node[1])) {
    const RowForm &form = rows_[index];
    const std::u16string text = form.write(form, node, length);
    if (ReadsBack(text, node, length)) {
      return std::string(text.begin(), text.end());
    }
  }
  if (node[0] == MEDIA_DEVICE_PATH && node[1] == MEDIA_FILEPATH_DP) {
    const std::u16string name = FilePathText(node, length);
    if (ReadsBack(name, node, length)) {
      return std::string(name.begin(), name.end());
    }
  }
  return GenericText(node, length);
}

bool Formatter::ReadsBack(const std::u16string &text, const uint8_t *node, uint16_t length) const {
  if (text.empty()) {
    return false;
  }
  for (char16_t c : text) {
    if (c < 0x20 || c > 0x7E) {
      return false;
    }
  }
  // In a path the converter cuts the text into node texts first: this one
  // must come out whole, wherever it stands.
  std::u16string copy = text;
  CHAR16 *cursor = copy.data();
  BOOLEAN instanceEnd = FALSE;
  const CHAR16 *cut = CutNodeText(&cursor, &instanceEnd);
  if (cut != copy.data() || *cursor != 0 || std::char_traits<char16_t>::length(cut) != text.size()) {
    return false;
  }
  const std::optional<Bytes> bytes = convert_(text);
  return bytes && bytes->size() == length && std::memcmp(bytes->data(), node, length) == 0;
}

PathText Formatter::Path(const uint8_t *bytes, size_t size) const {
  PathText result;
  DEVICE_PATH_WALK walk = {};
  const uint64_t pathSize =
      size == 0 ? 0 : GetDevicePathSizeWithin(reinterpret_cast<const EFI_DEVICE_PATH_PROTOCOL *>(bytes), size, &walk);
  if (pathSize == 0) {
    result.error = size == 0 ? "there are no bytes" : WalkProblem(bytes, size, walk);
    return result;
  }
  result.size = pathSize;
  // A node of the current instance has been written: an instance end of
  // Length 4 after it is written ",". One with nothing before it in its
  // instance (which "," cannot say: the converter skips a leading ",") is
  // written as the node it is.
  bool inInstance = false;
  for (size_t offset = 0; offset < pathSize;) {
    const uint8_t *node = bytes + offset;
    const uint16_t length = Le16(node + 2);
    result.nodes.push_back({offset, node[0], node[1], length, NodeToText(node, length)});
    const bool end = node[0] == END_DEVICE_PATH_TYPE;
    if (end && node[1] == END_ENTIRE_DEVICE_PATH_SUBTYPE) {
      if (offset == 0) {
        result.text = result.nodes.back().text;  // the path of no nodes
      }
      break;
    }
    if (end && node[1] == END_INSTANCE_DEVICE_PATH_SUBTYPE && length == sizeof(EFI_DEVICE_PATH_PROTOCOL) &&
        inInstance) {
      result.text += ",";
      inInstance = false;
    } else {
      if (inInstance) {
        result.text += "/";
      }
      result.text += result.nodes.back().text;
      inInstance = true;
    }
    offset += length;
  }
  return result;
}

PathText Formatter::Node(const uint8_t *bytes, size_t size) const {
  PathText result;
  if (size < sizeof(EFI_DEVICE_PATH_PROTOCOL)) {
    result.error = size == 0 ? "there are no bytes"
                             : "the bytes end at offset " + std::to_string(size) + " inside the node's header";
    return result;
  }
  const uint16_t length = Le16(bytes + 2);
  if (length < sizeof(EFI_DEVICE_PATH_PROTOCOL)) {
    result.error = "the node at offset 0 has Length " + std::to_string(length) + ", below 4";
  } else if (length > size) {
    result.error = "the node at offset 0 has Length " + std::to_string(length) + ", which runs past the end of the bytes";
  } else if (length < size) {
    result.error = "the node at offset 0 has Length " + std::to_string(length) + ", and " +
                   sim::Counted(size - length, "byte follows", "bytes follow") + " it at offset " +
                   std::to_string(length) + ": one node is formatted alone";
  }
  if (!result.error.empty()) {
    return result;
  }
  result.size = length;
  result.nodes.push_back({0, bytes[0], bytes[1], length, NodeToText(bytes, length)});
  result.text = result.nodes.back().text;
  return result;
}

}  // namespace devtext
