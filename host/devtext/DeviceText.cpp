// Binary device paths to text. Each node kind has one writer of its
// keyword form below (KeywordTexts); whether that form is used is decided
// by converting it back with the driver's converter, never by a rule kept
// here, so a writer can only ever make the text less readable, not wrong.
#include "host/devtext/DeviceText.h"

#include <cstddef>
#include <cstdio>
#include <cstring>
#include <initializer_list>
#include <string>
#include <stdexcept>

#include "devpath/DevicePathParsers.h"
#include "host/sim/Text.h"
#include "startup/Memory.h"

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

uint16_t Le16(const uint8_t *bytes) { return static_cast<uint16_t>(bytes[0] | (bytes[1] << 8)); }

uint32_t Le32(const uint8_t *bytes) {
  return static_cast<uint32_t>(bytes[0]) | (static_cast<uint32_t>(bytes[1]) << 8) |
         (static_cast<uint32_t>(bytes[2]) << 16) | (static_cast<uint32_t>(bytes[3]) << 24);
}

// ---------------------------------------------------------------------------
// Writing a text. Texts are built in UCS-2, as the converter reads them.

std::u16string U(const std::string &ascii) { return std::u16string(ascii.begin(), ascii.end()); }

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

// A compressed EISA ID: three letters of five bits each (1 is "A"; the
// other values are the characters whose low five bits they are, "@" for 0)
// and four hex digits of the product number.
std::u16string EisaIdText(uint32_t id) {
  char text[16];
  std::snprintf(text, sizeof(text), "%c%c%c%04X", '@' + ((id >> 10) & 0x1F), '@' + ((id >> 5) & 0x1F),
                '@' + (id & 0x1F), id >> 16);
  return U(text);
}

// Single-byte characters as text, each byte a character.
std::u16string ByteText(const uint8_t *bytes, size_t count) { return std::u16string(bytes, bytes + count); }

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

// ---------------------------------------------------------------------------
// The keyword table, the one home of the keywords: a row found by its
// parser and node type (and subtype, for parsers that serve several).

// A row's parser and its keyword, as UCS-2 text.
NodeParser RowParser(const NODE_TEXT_ROW *row) { return gNodeTextTables.Parsers[row->Parser]; }

std::u16string RowKeyword(const NODE_TEXT_ROW *row) {
  const char *keyword = NodeTextRowKeyword(row);
  return std::u16string(keyword, keyword + std::strlen(keyword));
}

const NODE_TEXT_ROW *FindRow(NodeParser parser, uint8_t type, int subType) {
  for (const NODE_TEXT_ROW &row : gNodeTextTables.Rows) {
    if (RowParser(&row) == parser && row.Type == type && (subType < 0 || row.SubType == subType)) {
      return &row;
    }
  }
  return nullptr;
}

std::u16string Keyword(NodeParser parser, uint8_t type, int subType = -1) {
  const NODE_TEXT_ROW *row = FindRow(parser, type, subType);
  if (row == nullptr) {
    throw std::logic_error("the keyword table has no row for a node kind the formatter writes");
  }
  return RowKeyword(row);
}

// Vendor data after the GUID, when there is any: ",0102".
std::u16string VendorText(const std::u16string &keyword, const uint8_t *node, uint16_t length) {
  std::u16string text = keyword + u"(" + GuidText(AT(node, VENDOR_DEVICE_PATH, Guid));
  if (length > sizeof(VENDOR_DEVICE_PATH)) {
    text += u"," + HexData(node + sizeof(VENDOR_DEVICE_PATH), length - sizeof(VENDOR_DEVICE_PATH));
  }
  return text + u")";
}

// The four SAS topology parameters (device kind, location, connection,
// drive bay) that SasTopologyFromText reads back to Topology; a topology
// that no words say is given as a number in the device-kind place, which
// the rule reads whole.
std::u16string SasTopologyText(uint16_t topology) {
  const uint16_t information = topology & 0x000F;
  if (topology == 0) {
    return u"NoTopology,0,0,0";
  }
  if ((information == 1 && (topology >> 8) == 0) || information == 2) {
    const uint16_t connection = (topology >> 6) & 0x3;
    return std::u16string((topology & 0x0010) != 0 ? u"SATA" : u"SAS") + u"," +
           ((topology & 0x0020) != 0 ? u"External" : u"Internal") + u"," +
           (connection == 0 ? u"Direct" : connection == 1 ? u"Expanded" : Dec(connection)) + u"," +
           Dec(information == 2 ? (topology >> 8) + 1 : 0);
  }
  return Num(topology) + u",0,0,0";
}

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

Formatter::Formatter(NodeConverter convert) : convert_(std::move(convert)) {
  auto probe = [&](const NODE_TEXT_ROW &row, const std::u16string &parameters) {
    const std::u16string text = RowKeyword(&row) + u"(" + parameters + u")";
    std::optional<Bytes> node = convert_(text);
    if (!node || node->size() < sizeof(EFI_DEVICE_PATH_PROTOCOL)) {
      throw std::runtime_error("the converter gives no node for " + sim::Narrow(text));
    }
    return *node;
  };
  auto guidAt = [](const Bytes &node, size_t offset, const std::u16string &keyword) {
    FixedGuidRow row{keyword, {}};
    if (node.size() < offset + 16) {
      throw std::runtime_error("the converter's node for " + sim::Narrow(keyword) + " holds no GUID");
    }
    std::memcpy(row.guid, node.data() + offset, 16);
    return row;
  };
  for (const NODE_TEXT_ROW &entry : gNodeTextTables.Rows) {
    const NODE_TEXT_ROW *row = &entry;
    if (RowParser(row) == ParseFixedVendorRow) {
      messagingVendors_.push_back(guidAt(probe(*row, u""), offsetof(VENDOR_DEVICE_PATH, Guid), RowKeyword(row)));
    } else if (RowParser(row) == ParseUartFlowCtrlNode) {
      flowControl_ = guidAt(probe(*row, u""), offsetof(UART_FLOW_CONTROL_DEVICE_PATH, Guid), RowKeyword(row));
    } else if (RowParser(row) == ParseSasNode) {
      sas_ = guidAt(probe(*row, u""), offsetof(SAS_DEVICE_PATH, Guid), RowKeyword(row));
    } else if (RowParser(row) == ParseVirtualDiskNode) {
      virtualDisks_.push_back(guidAt(probe(*row, u"0,0,0"), offsetof(MEDIA_RAM_DISK_DEVICE_PATH, TypeGuid), RowKeyword(row)));
    } else if (RowParser(row) == ParseAcpiHidRow) {
      const Bytes node = probe(*row, u"0");
      ACPI_HID_DEVICE_PATH acpi;
      if (!Read(node.data(), static_cast<uint16_t>(node.size()), acpi)) {
        throw std::runtime_error("the converter's node for " + sim::Narrow(RowKeyword(row)) + " is too short");
      }
      acpiHids_.push_back({RowKeyword(row), acpi.HID});
    } else if (RowParser(row) == ParseUsbClassRow) {
      // Three distinct values after the IDs: where the first lands says
      // whether the keyword leaves the class (or only the subclass) to the
      // text.
      const Bytes node = probe(*row, u"0x1,0x1,0x33,0x44,0x55");
      USB_CLASS_DEVICE_PATH usb;
      if (!Read(node.data(), static_cast<uint16_t>(node.size()), usb)) {
        throw std::runtime_error("the converter's node for " + sim::Narrow(RowKeyword(row)) + " is too short");
      }
      const bool classFromText = usb.DeviceClass == 0x33;
      const bool subClassFromText = classFromText || usb.DeviceSubClass == 0x33;
      usbClasses_.push_back(
          {RowKeyword(row), classFromText ? -1 : usb.DeviceClass, subClassFromText ? -1 : usb.DeviceSubClass});
    }
  }
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

std::string Formatter::GenericText(const uint8_t *node, uint16_t length) const {
  const std::u16string data = HexData(node + sizeof(EFI_DEVICE_PATH_PROTOCOL), length - sizeof(EFI_DEVICE_PATH_PROTOCOL));
  const uint8_t type = node[0];
  std::u16string text;
  if (const NODE_TEXT_ROW *row = FindRow(ParseGenericRow, type, -1)) {
    text = Call(RowKeyword(row), {Num(node[1]), data});
  } else {
    text = Call(Keyword(ParsePathNode, 0), {Num(type), Num(node[1]), data});
  }
  return std::string(text.begin(), text.end());
}

std::string Formatter::NodeToText(const uint8_t *node, uint16_t length) const {
  std::u16string text = KeywordText(node, length);
  if (ReadsBack(text, node, length)) {
    return std::string(text.begin(), text.end());
  }
  text = GeneralText(node, length);
  if (ReadsBack(text, node, length)) {
    return std::string(text.begin(), text.end());
  }
  return GenericText(node, length);
}

// The keyword form of a node: the conventional text of its kind, in the
// parameter order the converter reads. Empty when the node's kind has none
// or the node is too short for its layout.
std::u16string Formatter::KeywordText(const uint8_t *node, uint16_t length) const {
  const uint8_t type = node[0];
  const uint8_t subType = node[1];
  switch (type) {
    case HARDWARE_DEVICE_PATH:
      switch (subType) {
        case HW_PCI_DP: {
          PCI_DEVICE_PATH pci;
          if (Read(node, length, pci)) {
            return Call(Keyword(ParseFieldNode, type, subType), {Num(pci.Device), Num(pci.Function)});
          }
          break;
        }
        case HW_PCCARD_DP: {
          PCCARD_DEVICE_PATH card;
          if (Read(node, length, card)) {
            return Call(Keyword(ParseFieldNode, type, subType), {Num(card.FunctionNumber)});
          }
          break;
        }
        case HW_MEMMAP_DP: {
          MEMMAP_DEVICE_PATH map;
          if (Read(node, length, map)) {
            return Call(Keyword(ParseFieldNode, type, subType),
                        {Num(map.MemoryType), Num(map.StartingAddress), Num(map.EndingAddress)});
          }
          break;
        }
        case HW_VENDOR_DP:
          if (length >= sizeof(VENDOR_DEVICE_PATH)) {
            return VendorText(Keyword(ParseVendorRow, type), node, length);
          }
          break;
        case HW_CONTROLLER_DP: {
          CONTROLLER_DEVICE_PATH controller;
          if (Read(node, length, controller)) {
            return Call(Keyword(ParseFieldNode, type, subType), {Num(controller.ControllerNumber)});
          }
          break;
        }
        case HW_BMC_DP: {
          BMC_DEVICE_PATH bmc;
          if (Read(node, length, bmc)) {
            return Call(Keyword(ParseFieldNode, type, subType), {Num(bmc.InterfaceType), Num(bmc.BaseAddress)});
          }
          break;
        }
      }
      break;

    case ACPI_DEVICE_PATH:
      switch (subType) {
        case ACPI_DP: {
          ACPI_HID_DEVICE_PATH acpi;
          if (!Read(node, length, acpi)) {
            break;
          }
          for (const AcpiHidRow &row : acpiHids_) {
            if (row.hid == acpi.HID) {
              return Call(row.keyword, {Num(acpi.UID)});
            }
          }
          return Call(Keyword(ParseFieldNode, type, subType), {EisaIdText(acpi.HID), Num(acpi.UID)});
        }
        case ACPI_EXTENDED_DP: {
          ACPI_EXTENDED_HID_DEVICE_PATH acpi;
          if (!Read(node, length, acpi)) {
            break;
          }
          // _HIDSTR, _UIDSTR, _CIDSTR, each ended by a zero byte, filling
          // the node.
          std::u16string strings[3];
          size_t at = sizeof(acpi);
          for (std::u16string &string : strings) {
            const void *zero = at < length ? std::memchr(node + at, 0, length - at) : nullptr;
            if (zero == nullptr) {
              return u"";
            }
            const size_t end = static_cast<const uint8_t *>(zero) - node;
            string = ByteText(node + at, end - at);
            at = end + 1;
          }
          if (acpi.UID == 0 && strings[0].empty() && strings[2].empty()) {
            return Call(Keyword(ParseAcpiExpNode, type),
                        {EisaIdText(acpi.HID), acpi.CID == 0 ? u"0" : EisaIdText(acpi.CID), strings[1]});
          }
          return Call(Keyword(ParseAcpiExNode, type), {EisaIdText(acpi.HID), EisaIdText(acpi.CID), Num(acpi.UID),
                                                       strings[0], strings[2], strings[1]});
        }
        case ACPI_ADR_DP: {
          if (length < sizeof(ACPI_ADR_DEVICE_PATH) || (length - sizeof(EFI_DEVICE_PATH_PROTOCOL)) % 4 != 0) {
            break;
          }
          std::u16string text = Keyword(ParseAcpiAdrNode, type) + u"(";
          for (size_t at = sizeof(EFI_DEVICE_PATH_PROTOCOL); at < length; at += 4) {
            text += (at == sizeof(EFI_DEVICE_PATH_PROTOCOL) ? u"" : u",") + Num(Le32(node + at));
          }
          return text + u")";
        }
      }
      break;

    case MESSAGING_DEVICE_PATH:
      return MessagingText(node, length);

    case MEDIA_DEVICE_PATH:
      return MediaText(node, length);

    case BBS_DEVICE_PATH: {
      BBS_BBS_DEVICE_PATH bbs;
      if (subType != BBS_BBS_DP || !Read(node, length, bbs) || length == sizeof(bbs) || node[length - 1] != 0) {
        break;
      }
      static const char16_t *const kDeviceTypes[] = {u"Floppy", u"HD", u"CDROM", u"PCMCIA", u"USB", u"Network"};
      const std::u16string deviceType =
          bbs.DeviceType >= 1 && bbs.DeviceType <= 6 ? kDeviceTypes[bbs.DeviceType - 1] : Num(bbs.DeviceType);
      return Call(Keyword(ParseBbsNode, type),
                  {deviceType, ByteText(node + sizeof(bbs), length - sizeof(bbs) - 1), Num(bbs.StatusFlag)});
    }
  }
  return u"";
}


std::u16string Formatter::MessagingText(const uint8_t *node, uint16_t length) const {
  const uint8_t type = node[0];
  const uint8_t subType = node[1];
  switch (subType) {
    case MSG_ATAPI_DP: {
      ATAPI_DEVICE_PATH ata;
      if (Read(node, length, ata)) {
        return Call(Keyword(ParseAtaNode, type),
                    {ata.PrimarySecondary == 0 ? u"Primary" : ata.PrimarySecondary == 1 ? u"Secondary" : Num(ata.PrimarySecondary),
                     ata.SlaveMaster == 0 ? u"Master" : ata.SlaveMaster == 1 ? u"Slave" : Num(ata.SlaveMaster),
                     Num(ata.Lun)});
      }
      break;
    }
    case MSG_SCSI_DP: {
      SCSI_DEVICE_PATH scsi;
      if (Read(node, length, scsi)) {
        return Call(Keyword(ParseFieldNode, type, subType), {Num(scsi.Pun), Num(scsi.Lun)});
      }
      break;
    }
    case MSG_FIBRECHANNEL_DP: {
      FIBRECHANNEL_DEVICE_PATH fibre;
      if (Read(node, length, fibre)) {
        return Call(Keyword(ParseFieldNode, type, subType), {Num(fibre.WWN), Num(fibre.Lun)});
      }
      break;
    }
    case MSG_FIBRECHANNELEX_DP:
      if (length >= sizeof(FIBRECHANNELEX_DEVICE_PATH)) {
        return Call(Keyword(ParseFieldNode, type, MSG_FIBRECHANNELEX_DP), {Num(BigEndian64(AT(node, FIBRECHANNELEX_DEVICE_PATH, WWN))),
                                                      Num(BigEndian64(AT(node, FIBRECHANNELEX_DEVICE_PATH, Lun)))});
      }
      break;
    case MSG_1394_DP: {
      F1394_DEVICE_PATH f1394;
      if (Read(node, length, f1394)) {
        return Call(Keyword(ParseFieldNode, type, subType), {Num(f1394.Guid)});
      }
      break;
    }
    case MSG_USB_DP: {
      USB_DEVICE_PATH usb;
      if (Read(node, length, usb)) {
        return Call(Keyword(ParseFieldNode, type, subType), {Num(usb.ParentPortNumber), Num(usb.InterfaceNumber)});
      }
      break;
    }
    case MSG_I2O_DP: {
      I2O_DEVICE_PATH i2o;
      if (Read(node, length, i2o)) {
        return Call(Keyword(ParseFieldNode, type, subType), {Num(i2o.Tid)});
      }
      break;
    }
    case MSG_INFINIBAND_DP: {
      INFINIBAND_DEVICE_PATH ib;
      if (Read(node, length, ib)) {
        return Call(Keyword(ParseFieldNode, type, MSG_INFINIBAND_DP),
                    {Num(ib.ResourceFlags), GuidText(AT(node, INFINIBAND_DEVICE_PATH, PortGid)), Num(ib.ServiceId),
                     Num(ib.TargetPortId), Num(ib.DeviceId)});
      }
      break;
    }
    case MSG_VENDOR_DP: {
      if (length < sizeof(VENDOR_DEVICE_PATH)) {
        break;
      }
      const uint8_t *guid = AT(node, VENDOR_DEVICE_PATH, Guid);
      UART_FLOW_CONTROL_DEVICE_PATH flow;
      if (std::memcmp(guid, flowControl_.guid, 16) == 0 && Read(node, length, flow)) {
        const uint32_t map = flow.FlowControlMap;
        return Call(flowControl_.keyword, {map == 2 ? u"XonXoff" : map == 1 ? u"Hardware" : u"None"});
      }
      SAS_DEVICE_PATH sas;
      if (std::memcmp(guid, sas_.guid, 16) == 0 && Read(node, length, sas)) {
        return Call(sas_.keyword, {Num(sas.SasAddress), Num(sas.Lun), Num(sas.RelativeTargetPort),
                                   SasTopologyText(sas.DeviceTopology), Num(sas.Reserved)});
      }
      for (const FixedGuidRow &row : messagingVendors_) {
        if (std::memcmp(guid, row.guid, 16) == 0 && length == sizeof(VENDOR_DEVICE_PATH)) {
          return Call(row.keyword, {});
        }
      }
      return VendorText(Keyword(ParseVendorRow, type), node, length);
    }
    case MSG_MAC_ADDR_DP: {
      MAC_ADDR_DEVICE_PATH mac;
      if (Read(node, length, mac)) {
        // Interface types 0 and 1 (Ethernet) use the first six bytes.
        const size_t used = mac.IfType <= 1 ? 6 : 32;
        return Call(Keyword(ParseMacAddressNode, type),
                    {HexData(AT(node, MAC_ADDR_DEVICE_PATH, MacAddress), used), Num(mac.IfType)});
      }
      break;
    }
    case MSG_IPv4_DP: {
      IPv4_DEVICE_PATH ip;
      if (!Read(node, length, ip)) {
        break;
      }
      const std::u16string protocol = ip.Protocol == 6 ? u"TCP" : ip.Protocol == 17 ? u"UDP" : Dec(ip.Protocol);
      const uint8_t *gateway = AT(node, IPv4_DEVICE_PATH, GatewayIpAddress);
      const uint8_t *mask = AT(node, IPv4_DEVICE_PATH, SubnetMask);
      std::u16string text = Keyword(ParseIpv4Node, type) + u"(" + Ipv4Text(AT(node, IPv4_DEVICE_PATH, RemoteIpAddress)) +
                            u"," + protocol + u"," + (ip.StaticIpAddress ? u"Static" : u"DHCP") + u"," +
                            Ipv4Text(AT(node, IPv4_DEVICE_PATH, LocalIpAddress));
      if (Le32(gateway) != 0 || Le32(mask) != 0) {
        text += u"," + Ipv4Text(gateway) + u"," + Ipv4Text(mask);
      }
      return text + u")";
    }
    case MSG_IPv6_DP: {
      IPv6_DEVICE_PATH ip;
      if (!Read(node, length, ip)) {
        break;
      }
      static const char16_t *const kOrigins[] = {u"Static", u"StatelessAutoConfigure", u"StatefulAutoConfigure"};
      const std::u16string protocol = ip.Protocol == 6 ? u"TCP" : ip.Protocol == 17 ? u"UDP" : Dec(ip.Protocol);
      const uint8_t *gateway = AT(node, IPv6_DEVICE_PATH, GatewayIpAddress);
      std::u16string text = Keyword(ParseIpv6Node, type) + u"(" + Ipv6Text(AT(node, IPv6_DEVICE_PATH, RemoteIpAddress)) +
                            u"," + protocol + u"," + (ip.IpAddressOrigin <= 2 ? kOrigins[ip.IpAddressOrigin] : u"") +
                            u"," + Ipv6Text(AT(node, IPv6_DEVICE_PATH, LocalIpAddress));
      static const uint8_t kZero[16] = {};
      if (ip.PrefixLength != 0 || std::memcmp(gateway, kZero, 16) != 0) {
        text += u"," + Dec(ip.PrefixLength) + u"," + Ipv6Text(gateway);
      }
      return text + u")";
    }
    case MSG_UART_DP: {
      UART_DEVICE_PATH uart;
      if (!Read(node, length, uart)) {
        break;
      }
      static const char16_t *const kParities[] = {u"D", u"N", u"E", u"O", u"M", u"S"};
      static const char16_t *const kStopBits[] = {u"D", u"1", u"1.5", u"2"};
      return Call(Keyword(ParseUartNode, type),
                  {Dec(uart.BaudRate), Dec(uart.DataBits), uart.Parity <= 5 ? kParities[uart.Parity] : Num(uart.Parity),
                   uart.StopBits <= 3 ? kStopBits[uart.StopBits] : Num(uart.StopBits)});
    }
    case MSG_USB_CLASS_DP: {
      USB_CLASS_DEVICE_PATH usb;
      if (!Read(node, length, usb)) {
        break;
      }
      for (const UsbClassRow &row : usbClasses_) {
        if (row.fixedClass == usb.DeviceClass && row.fixedSubClass == usb.DeviceSubClass) {
          return Call(row.keyword, {Num(usb.VendorId), Num(usb.ProductId), Num(usb.DeviceProtocol)});
        }
      }
      for (const UsbClassRow &row : usbClasses_) {
        if (row.fixedClass == usb.DeviceClass && row.fixedSubClass < 0) {
          return Call(row.keyword,
                      {Num(usb.VendorId), Num(usb.ProductId), Num(usb.DeviceSubClass), Num(usb.DeviceProtocol)});
        }
      }
      return GeneralText(node, length);
    }
    case MSG_USB_WWID_DP: {
      USB_WWID_DEVICE_PATH wwid;
      if (!Read(node, length, wwid) || (length - sizeof(wwid)) % 2 != 0) {
        break;
      }
      std::u16string serial;
      for (size_t at = sizeof(wwid); at < length; at += 2) {
        serial += static_cast<char16_t>(Le16(node + at));
      }
      return Call(Keyword(ParseUsbWwidNode, type),
                  {Num(wwid.VendorId), Num(wwid.ProductId), Num(wwid.InterfaceNumber), u"\"" + serial + u"\""});
    }
    case MSG_DEVICE_LOGICAL_UNIT_DP: {
      DEVICE_LOGICAL_UNIT_DEVICE_PATH unit;
      if (Read(node, length, unit)) {
        return Call(Keyword(ParseFieldNode, type, subType), {Num(unit.Lun)});
      }
      break;
    }
    case MSG_SATA_DP: {
      SATA_DEVICE_PATH sata;
      if (Read(node, length, sata)) {
        return Call(Keyword(ParseFieldNode, type, MSG_SATA_DP),
                    {Num(sata.HBAPortNumber), Num(sata.PortMultiplierPortNumber), Num(sata.Lun)});
      }
      break;
    }
    case MSG_ISCSI_DP: {
      ISCSI_DEVICE_PATH iscsi;
      if (!Read(node, length, iscsi) || length == sizeof(iscsi) || node[length - 1] != 0) {
        break;
      }
      const uint16_t login = iscsi.LoginOption;
      const std::u16string authentication = (login & ISCSI_LOGIN_OPTION_AUTHMETHOD_NONE) != 0 ? u"None"
                                            : (login & ISCSI_LOGIN_OPTION_CHAP_UNI) != 0      ? u"CHAP_UNI"
                                                                                              : u"CHAP_BI";
      return Call(Keyword(ParseIscsiNode, type),
                  {ByteText(node + sizeof(iscsi), length - sizeof(iscsi) - 1), Num(iscsi.TargetPortalGroupTag),
                   Num(BigEndian64(AT(node, ISCSI_DEVICE_PATH, Lun))),
                   (login & ISCSI_LOGIN_OPTION_HEADER_DIGEST_CRC32C) != 0 ? u"CRC32C" : u"None",
                   (login & ISCSI_LOGIN_OPTION_DATA_DIGEST_CRC32C) != 0 ? u"CRC32C" : u"None", authentication,
                   iscsi.NetworkProtocol == 0 ? u"TCP" : u"UDP"});
    }
    case MSG_VLAN_DP: {
      VLAN_DEVICE_PATH vlan;
      if (Read(node, length, vlan)) {
        return Call(Keyword(ParseFieldNode, type, subType), {Dec(vlan.VlanId)});
      }
      break;
    }
    case MSG_SASEX_DP: {
      SASEX_DEVICE_PATH sas;
      if (Read(node, length, sas)) {
        return Call(Keyword(ParseSasExNode, type),
                    {Num(BigEndian64(AT(node, SASEX_DEVICE_PATH, SasAddress))),
                     Num(BigEndian64(AT(node, SASEX_DEVICE_PATH, Lun))), Num(sas.RelativeTargetPort),
                     SasTopologyText(sas.DeviceTopology)});
      }
      break;
    }
    case MSG_NVME_NAMESPACE_DP: {
      NVME_NAMESPACE_DEVICE_PATH nvme;
      if (!Read(node, length, nvme)) {
        break;
      }
      // The first group of the text is the field's last byte.
      const uint8_t *eui = AT(node, NVME_NAMESPACE_DEVICE_PATH, NamespaceUuid);
      std::u16string groups;
      for (int k = 7; k >= 0; k--) {
        groups += U(sim::HexBytes(eui + k, 1, "")) + (k != 0 ? u"-" : u"");
      }
      return Call(Keyword(ParseNvmeNode, type), {Num(nvme.NamespaceId), groups});
    }
    case MSG_URI_DP:
      return Call(Keyword(ParseUriNode, type),
                  {ByteText(node + sizeof(URI_DEVICE_PATH), length - sizeof(URI_DEVICE_PATH))});
    case MSG_UFS_DP: {
      UFS_DEVICE_PATH ufs;
      if (Read(node, length, ufs)) {
        return Call(Keyword(ParseFieldNode, type, subType), {Num(ufs.Pun), Num(ufs.Lun)});
      }
      break;
    }
    case MSG_SD_DP:
    case MSG_EMMC_DP: {
      SD_DEVICE_PATH slot;
      if (Read(node, length, slot)) {
        return Call(Keyword(ParseFieldNode, type, subType), {Num(slot.SlotNumber)});
      }
      break;
    }
    case MSG_BLUETOOTH_DP:
      if (length >= sizeof(BLUETOOTH_DEVICE_PATH)) {
        return Call(Keyword(ParseFieldNode, type, MSG_BLUETOOTH_DP), {HexData(AT(node, BLUETOOTH_DEVICE_PATH, Address), 6)});
      }
      break;
    case MSG_BLUETOOTH_LE_DP: {
      BLUETOOTH_LE_DEVICE_PATH le;
      if (Read(node, length, le)) {
        return Call(Keyword(ParseFieldNode, type, MSG_BLUETOOTH_LE_DP),
                    {HexData(AT(node, BLUETOOTH_LE_DEVICE_PATH, Address), 6), Num(le.AddressType)});
      }
      break;
    }
    case MSG_WIFI_DP:
      if (length >= sizeof(WIFI_DEVICE_PATH)) {
        const uint8_t *ssid = AT(node, WIFI_DEVICE_PATH, SSId);
        const void *zero = std::memchr(ssid, 0, 32);
        return Call(Keyword(ParseFieldNode, type, MSG_WIFI_DP),
                    {ByteText(ssid, zero != nullptr ? static_cast<const uint8_t *>(zero) - ssid : 32)});
      }
      break;
    case MSG_DNS_DP: {
      DNS_DEVICE_PATH dns;
      if (!Read(node, length, dns) || length == sizeof(dns) || (length - sizeof(dns)) % 16 != 0) {
        break;
      }
      std::u16string text = Keyword(ParseDnsNode, type) + u"(";
      for (size_t at = sizeof(dns); at < length; at += 16) {
        text += (at == sizeof(dns) ? u"" : u",") + (dns.IsIPv6 ? Ipv6Text(node + at) : Ipv4Text(node + at));
      }
      return text + u")";
    }
  }
  return u"";
}

std::u16string Formatter::MediaText(const uint8_t *node, uint16_t length) const {
  const uint8_t type = node[0];
  const uint8_t subType = node[1];
  switch (subType) {
    case MEDIA_HARDDRIVE_DP: {
      HARDDRIVE_DEVICE_PATH hd;
      if (!Read(node, length, hd)) {
        break;
      }
      const uint8_t *signature = AT(node, HARDDRIVE_DEVICE_PATH, Signature);
      std::u16string format, signatureText;
      if (hd.MBRType == MBR_TYPE_PCAT && hd.SignatureType == SIGNATURE_TYPE_MBR) {
        format = u"MBR";
        signatureText = U(sim::Hex(Le32(signature), 8));
      } else if (hd.MBRType == MBR_TYPE_EFI_PARTITION_TABLE_HEADER && hd.SignatureType == SIGNATURE_TYPE_GUID) {
        format = u"GPT";
        signatureText = GuidText(signature);
      } else {
        // A signature type by number: no partition format, no signature.
        format = Dec(hd.SignatureType);
        signatureText = u"0";
      }
      return Call(Keyword(ParseHardDriveNode, type),
                  {Dec(hd.PartitionNumber), format, signatureText, Num(hd.PartitionStart), Num(hd.PartitionSize)});
    }
    case MEDIA_CDROM_DP: {
      CDROM_DEVICE_PATH cd;
      if (Read(node, length, cd)) {
        return Call(Keyword(ParseFieldNode, type, subType),
                    {Num(cd.BootEntry), Num(cd.PartitionStart), Num(cd.PartitionSize)});
      }
      break;
    }
    case MEDIA_VENDOR_DP:
      if (length >= sizeof(VENDOR_DEVICE_PATH)) {
        return VendorText(Keyword(ParseVendorRow, type), node, length);
      }
      break;
    case MEDIA_FILEPATH_DP: {
      // The name and its terminator, filling the node.
      if (length < sizeof(FILEPATH_DEVICE_PATH) + 2 || (length - sizeof(FILEPATH_DEVICE_PATH)) % 2 != 0 ||
          Le16(node + length - 2) != 0) {
        break;
      }
      std::u16string name;
      for (size_t at = sizeof(FILEPATH_DEVICE_PATH); at + 2 < length; at += 2) {
        name += static_cast<char16_t>(Le16(node + at));
      }
      return name;
    }
    case MEDIA_PROTOCOL_DP:
    case MEDIA_PIWG_FW_FILE_DP:
    case MEDIA_PIWG_FW_VOL_DP:
      if (length >= sizeof(MEDIA_PROTOCOL_DEVICE_PATH)) {
        return Call(Keyword(ParseFieldNode, type, subType), {GuidText(AT(node, MEDIA_PROTOCOL_DEVICE_PATH, Protocol))});
      }
      break;
    case MEDIA_RELATIVE_OFFSET_RANGE_DP: {
      MEDIA_RELATIVE_OFFSET_RANGE_DEVICE_PATH offset;
      if (Read(node, length, offset)) {
        return Call(Keyword(ParseFieldNode, type, subType), {Num(offset.StartingOffset), Num(offset.EndingOffset)});
      }
      break;
    }
    case MEDIA_RAM_DISK_DP: {
      MEDIA_RAM_DISK_DEVICE_PATH disk;
      if (!Read(node, length, disk)) {
        break;
      }
      for (const FixedGuidRow &row : virtualDisks_) {
        if (std::memcmp(AT(node, MEDIA_RAM_DISK_DEVICE_PATH, TypeGuid), row.guid, 16) == 0) {
          return Call(row.keyword, {Num(disk.StartingAddress), Num(disk.EndingAddress), Num(disk.Instance)});
        }
      }
      return GeneralText(node, length);
    }
  }
  return u"";
}

std::u16string Formatter::GeneralText(const uint8_t *node, uint16_t length) const {
  const uint8_t type = node[0];
  const uint8_t subType = node[1];
  if (type == MESSAGING_DEVICE_PATH && subType == MSG_VENDOR_DP && length >= sizeof(VENDOR_DEVICE_PATH)) {
    return VendorText(Keyword(ParseVendorRow, type), node, length);
  }
  USB_CLASS_DEVICE_PATH usb;
  if (type == MESSAGING_DEVICE_PATH && subType == MSG_USB_CLASS_DP && Read(node, length, usb)) {
    for (const UsbClassRow &row : usbClasses_) {
      if (row.fixedClass < 0) {
        return Call(row.keyword, {Num(usb.VendorId), Num(usb.ProductId), Num(usb.DeviceClass),
                                  Num(usb.DeviceSubClass), Num(usb.DeviceProtocol)});
      }
    }
  }
  ACPI_HID_DEVICE_PATH acpi;
  if (type == ACPI_DEVICE_PATH && subType == ACPI_DP && Read(node, length, acpi)) {
    return Call(Keyword(ParseFieldNode, type, subType), {EisaIdText(acpi.HID), Num(acpi.UID)});
  }
  MEDIA_RAM_DISK_DEVICE_PATH disk;
  if (type == MEDIA_DEVICE_PATH && subType == MEDIA_RAM_DISK_DP && Read(node, length, disk)) {
    return Call(Keyword(ParseFieldNode, type, MEDIA_RAM_DISK_DP), {Num(disk.StartingAddress), Num(disk.EndingAddress),
                                                  Num(disk.Instance),
                                                  GuidText(AT(node, MEDIA_RAM_DISK_DEVICE_PATH, TypeGuid))});
  }
  return u"";
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
