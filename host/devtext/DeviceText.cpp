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
//
// The formatter's files: NodeValues.cpp (values and fields as text),
// RowWriters.cpp (the writers of the other parsers' rows) and this one (the
// rows chosen and tried for a node, and whole paths).
#include "host/devtext/DeviceText.h"

#include <algorithm>
#include <cstddef>
#include <cstdio>
#include <cstring>
#include <stdexcept>
#include <string>

#include "host/devtext/NodeValues.h"
#include "host/sim/Text.h"
#include "driver/base/Memory.h"

namespace devtext {

using namespace detail;

namespace {


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
    form.write = WriterOfParser(static_cast<NODE_PARSER_ID>(row.Parser));
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
