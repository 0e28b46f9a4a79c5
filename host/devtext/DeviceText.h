// Binary device paths to text, losslessly: the inverse of the driver's
// converter. Every node is written as the text of a row of the driver's
// keyword table (driver/devpath/NodeTextTable.h) when the converter reads that
// text back to exactly the node's bytes, and otherwise in the generic form
// of its type (HardwarePath, AcpiPath, Msg, MediaPath, BbsPath, or Path for
// any other type), which always reads back exactly. So the text of a valid
// path converts back to the same bytes, instances and all.
//
// The text is printable ASCII throughout: a node whose keyword form would
// hold any other character (a file name of other letters, a control
// character) is written generically, so the text needs no escaping
// anywhere and survives line-based input.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "driver/devpath/NodeTextTable.h"

namespace devtext {

using Bytes = std::vector<uint8_t>;

// Converts the text of one node back to its bytes, as ConvertTextToDeviceNode
// does; nullopt when it gives no node. The formatter checks each keyword
// form with it.
using NodeConverter = std::function<std::optional<Bytes>(const std::u16string &nodeText)>;

// The driver's ConvertTextToDeviceNode, linked into this program. It
// allocates from the pool, so a host::LinkedDriver must be alive while it
// is called.
NodeConverter LinkedNodeConverter();

// Why the bytes at the start of a buffer are no valid path, as the driver's
// bounded walk (GetDevicePathSizeWithin) found it: one sentence naming the
// offset ("the node at offset 12 has Length 2, below 4"). Empty for a valid
// walk.
std::string WalkProblem(const uint8_t *bytes, size_t size, const DEVICE_PATH_WALK &walk);

// One node of a formatted path.
struct NodeText {
  size_t offset = 0;  // from the start of the path
  uint8_t type = 0;
  uint8_t subType = 0;
  uint16_t length = 0;
  // The node's own text, which ConvertTextToDeviceNode converts back to
  // exactly the node (end nodes in the generic form, Path(0x7F,...)).
  std::string text;
};

// A formatted path, or why there is none.
struct PathText {
  std::string error;  // empty when the path is valid
  size_t size = 0;    // bytes of the path, end node included (0 on error)
  // The path's text: node texts joined by "/", instances by ",". Converting
  // it with ConvertTextToDevicePath gives back the path's bytes.
  std::string text;
  std::vector<NodeText> nodes;  // every node, end nodes included
  bool Valid() const { return error.empty(); }
};

// A keyword row of the driver's table as the formatter writes it.
struct RowForm;
// Writes a node as the text of one row (RowForm::row); empty when the row
// cannot say the node: a preset of another value, a node too short for the
// row's layout, a node the row's form does not fit.
using RowWriter = std::u16string (*)(const RowForm &form, const uint8_t *node, uint16_t length);

struct RowForm {
  const NODE_TEXT_ROW *row = nullptr;
  std::u16string keyword;
  RowWriter write = nullptr;  // chosen by the row's parser; null for the generic rows
  // The fields of the row, or, for a row whose preset fixes one field of a
  // fixed layout ("PciRoot", "VirtualDisk"), of the ParseFieldNode row of
  // its node kind ("Acpi", "RamDisk"); and that layout's size, the node's
  // whole Length.
  const NODE_FIELD *fields = nullptr;
  uint16_t fieldsLength = 0;
  bool decimal = false;  // numbers in decimal rather than "0x" hexadecimal
};

class Formatter {
 public:
  // Takes the keyword rows, and the values their presets fix, from the
  // driver's keyword table; convert reads each keyword text back.
  explicit Formatter(NodeConverter convert);

  // The text of the valid path at the start of bytes, reading nothing past
  // bytes + size; for an invalid one, an error naming the offset. Bytes
  // after the end node are not read (size of the result says where the
  // path ends).
  PathText Path(const uint8_t *bytes, size_t size) const;

  // The text of one node, which must be exactly the size bytes given.
  PathText Node(const uint8_t *bytes, size_t size) const;

  // The text of a whole node of length bytes (at least 4) at node.
  std::string NodeToText(const uint8_t *node, uint16_t length) const;

  // The generic form of any node: Path(type,subtype,hex), or the type's
  // own generic keyword.
  std::string GenericText(const uint8_t *node, uint16_t length) const;

 private:
  bool ReadsBack(const std::u16string &text, const uint8_t *node, uint16_t length) const;
  // The rows that may say a node of this type and subtype, in the order
  // they are tried: rows whose preset fixes a value before the kind's
  // general row.
  const std::vector<uint8_t> &RowsOfKind(uint8_t type, uint8_t subType) const;

  NodeConverter convert_;
  std::vector<RowForm> rows_;                // by row index
  std::vector<std::vector<uint8_t>> kinds_;  // row indices, by (type << 8) | subtype
  // The rows of the generic forms: "HardwarePath" ... "BbsPath" by type
  // (NO_NODE_TEXT_ROW for a type without one), and "Path".
  std::vector<uint8_t> genericRows_;
  uint8_t pathRow_ = NO_NODE_TEXT_ROW;
};

}  // namespace devtext
