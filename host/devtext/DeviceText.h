// Binary device paths to text, losslessly: the inverse of the driver's
// converter. Every node is written in the keyword form of the device-path
// text representation when the converter reads that text back to exactly
// the node's bytes, and otherwise in the generic form of its type
// (HardwarePath, AcpiPath, Msg, MediaPath, BbsPath, or Path for any other
// type), which always reads back exactly. So the text of a valid path
// converts back to the same bytes, instances and all.
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

#include "devpath/DevicePath.h"

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

class Formatter {
 public:
  // Learns what the keywords with fixed values fix (vendor GUIDs, disk
  // types, USB classes, PNP IDs) by converting each keyword once with
  // convert, so that those values have one home: the converter.
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
  struct FixedGuidRow {
    std::u16string keyword;
    uint8_t guid[16];
  };
  struct UsbClassRow {
    std::u16string keyword;
    int fixedClass;     // -1 when the text gives the class
    int fixedSubClass;  // -1 when the text gives the subclass
  };
  struct AcpiHidRow {
    std::u16string keyword;
    uint32_t hid;
  };

  // The conventional keyword form of a node; empty when its kind has none
  // or the node is too short for its layout.
  std::u16string KeywordText(const uint8_t *node, uint16_t length) const;
  std::u16string MessagingText(const uint8_t *node, uint16_t length) const;
  std::u16string MediaText(const uint8_t *node, uint16_t length) const;
  // For kinds whose keyword form is a specialised one (a fixed GUID, class,
  // disk type or _HID), the form of the general keyword, which holds that
  // value as a parameter: tried when the specialised form does not read
  // back (a flow control map that no word names, say).
  std::u16string GeneralText(const uint8_t *node, uint16_t length) const;
  bool ReadsBack(const std::u16string &text, const uint8_t *node, uint16_t length) const;

  NodeConverter convert_;
  std::vector<FixedGuidRow> messagingVendors_;  // VenPcAnsi ... DebugPort, each with its GUID
  FixedGuidRow flowControl_{};                  // UartFlowCtrl
  FixedGuidRow sas_{};                        // SAS
  std::vector<FixedGuidRow> virtualDisks_;      // VirtualDisk ... PersistentVirtualCD
  std::vector<UsbClassRow> usbClasses_;
  std::vector<AcpiHidRow> acpiHids_;            // PciRoot ... ParallelPort
};

}  // namespace devtext
