// Device paths, the public side: the converter from the UEFI text
// representation to binary device paths, how it reads a text, and the
// operations that measure, check, create and join binary paths. This is all that callers of the
// converter need; the parsers, text readers and keyword table behind it are
// declared in driver/devpath/DevicePathParsers.h, for driver/devpath/ itself and for the
// tests and tools that look inside.
//
// Texts are UCS-2 (CHAR16), zero-terminated. Every path or node returned
// here is a new pool allocation that belongs to the caller (PoolFree).
#pragma once

#include "driver/firmware/Protocol/DevicePath.h"

// ---------------------------------------------------------------------------
// Text to device path.

// A whole path text, possibly of several instances ("," at depth 0), closed
// by an end node. Exact or null: null for a null or empty text, and when
// any allocation of the conversion is refused or any of its nodes would be
// longer than a 16-bit Length holds; never a path with a node missing for
// either reason.
EFI_DEVICE_PATH_PROTOCOL *ConvertTextToDevicePath(const CHAR16 *TextDevicePath);

// The text of one node. Null for a null or empty text, for a text whose
// parser makes no node of it (a Dns without servers), and, as for a path,
// when any allocation is refused or the node would be too long.
EFI_DEVICE_PATH_PROTOCOL *ConvertTextToDeviceNode(const CHAR16 *TextDeviceNode);

// ---------------------------------------------------------------------------
// How the converter reads a path text, for tools that show which part of a
// text made which node. Nothing here allocates.

// What CutNodeText skips before a node text: "/", ",", "(" and ")".
inline BOOLEAN SkipsBeforeNodeText(CHAR16 Char) {
  return Char == u'/' || Char == u',' || Char == u'(' || Char == u')';
}

// Cuts the next node text out of a path text at *Cursor, as
// ConvertTextToDevicePath cuts it: skips what SkipsBeforeNodeText names,
// then runs to the first "," or "/" outside parentheses (a plain running
// count, which a surplus ")" takes below zero) and writes a terminator
// there. Returns the node text, which may be empty, moves *Cursor past the
// terminator and sets *InstanceEnd when a "," ended it. Returns null, and
// changes nothing, when the rest of the text is unbalanced (it ends at a
// count other than zero): the converter drops that rest. Call it while
// **Cursor is not zero. Inline, so that the converter's loop keeps it as
// its own code.
inline CHAR16 *CutNodeText(CHAR16 **Cursor, BOOLEAN *InstanceEnd) {
  CHAR16 *Text = *Cursor;
  while (SkipsBeforeNodeText(*Text)) {
    Text++;
  }
  CHAR16 *NodeText = Text;
  INTN Depth = 0;
  for (; *Text != 0; Text++) {
    if ((*Text == u',' || *Text == u'/') && Depth == 0) {
      break;
    }
    Depth += *Text == u'(' ? 1 : (*Text == u')' ? -1 : 0);
  }
  if (*Text == 0 && Depth != 0) {
    return nullptr;
  }
  *InstanceEnd = *Text == u',';
  if (*Text != 0) {
    *Text++ = 0;
  }
  *Cursor = Text;
  return NodeText;
}

// The keyword that claims a node text, as ConvertTextToDeviceNode matches
// it: the text starts with the keyword, "(" follows it directly and a ")"
// comes somewhere after. Null when no keyword claims it (the text names a
// file). Keywords are 8-bit text, printable ASCII.
const CHAR8 *NodeTextKeyword(const CHAR16 *NodeText);

// ---------------------------------------------------------------------------
// Binary device paths.

// 7F FF 04 00: the source of every empty path and of every closing end node.
extern const EFI_DEVICE_PATH_PROTOCOL gEndEntireNode;

// A node's Length: two bytes, little-endian, at any address.
UINT16 DevicePathNodeLength(const EFI_DEVICE_PATH_PROTOCOL *Node);
VOID SetDevicePathNodeLength(EFI_DEVICE_PATH_PROTOCOL *Node, UINT16 Length);

// Why a walk over a binary path found it invalid, or that it did not.
typedef enum {
  DevicePathValid,                 // an end node of Length 4 closes the path
  DevicePathNull,                  // no path at all
  DevicePathNoEndNode,             // the limit falls inside or before a node header
  DevicePathEndNodeLength,         // the end node's Length is not 4
  DevicePathNodeTooShort,          // a node's Length is below 4, its header's size
  DevicePathNodePastLimit,         // a node's Length runs past the limit
  DevicePathFileNameUnterminated,  // a file-path node's last 16-bit unit is not zero
} DEVICE_PATH_FAULT;

// Where a walk ended: its verdict, and the offset of the node it ended at
// (the end node of a valid path, the node at fault, or for
// DevicePathNoEndNode the offset where the next header would start).
typedef struct {
  DEVICE_PATH_FAULT Fault;
  UINT64 Offset;
} DEVICE_PATH_WALK;

// The size of the path at DevicePath, end node included, walking its nodes
// without reading a byte at or past DevicePath + Limit: 0 for a null or
// invalid path, or one whose end node does not lie wholly within Limit
// bytes. Walk, unless null, receives where and why the walk ended.
// GetDevicePathSize and ValidateDevicePath are this walk with no limit,
// ValidateDeviceNode the walk within the node's own Length.
UINT64 GetDevicePathSizeWithin(const EFI_DEVICE_PATH_PROTOCOL *DevicePath, UINT64 Limit, DEVICE_PATH_WALK *Walk);

BOOLEAN ValidateDevicePath(const EFI_DEVICE_PATH_PROTOCOL *DevicePath);

// Whether Node followed by an end node makes a valid path: what
// AppendDeviceNode needs of a node besides pool.
BOOLEAN ValidateDeviceNode(const EFI_DEVICE_PATH_PROTOCOL *Node);

// Size in bytes, end node included; 0 for a null or invalid path.
UINT64 GetDevicePathSize(const EFI_DEVICE_PATH_PROTOCOL *DevicePath);

// A null input counts as an empty path; an invalid one gives null.
EFI_DEVICE_PATH_PROTOCOL *AppendDevicePath(const EFI_DEVICE_PATH_PROTOCOL *First,
                                           const EFI_DEVICE_PATH_PROTOCOL *Second);
EFI_DEVICE_PATH_PROTOCOL *AppendDeviceNode(const EFI_DEVICE_PATH_PROTOCOL *DevicePath,
                                           const EFI_DEVICE_PATH_PROTOCOL *DeviceNode);

// A zero-filled node with this header; null for a length below 4.
EFI_DEVICE_PATH_PROTOCOL *CreateDeviceNode(UINT8 NodeType, UINT8 NodeSubType, UINT16 NodeLength);
