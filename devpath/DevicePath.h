// Device paths, the public side: the converter from the UEFI text
// representation to binary device paths, and the operations that measure,
// check, create and join binary paths. This is all that callers of the
// converter need; the parsers, text readers and keyword table behind it are
// declared in devpath/DevicePathParsers.h, for devpath/ itself and for the
// tests and tools that look inside.
//
// Texts are UCS-2 (CHAR16), zero-terminated. Every path or node returned
// here is a new pool allocation that belongs to the caller (PoolFree).
#pragma once

#include "firmware/Protocol/DevicePath.h"

// ---------------------------------------------------------------------------
// Text to device path.

// A whole path text, possibly of several instances ("," at depth 0). Null
// for a null or empty text, or when the pool runs out part-way; otherwise
// a path closed by an end node.
EFI_DEVICE_PATH_PROTOCOL *ConvertTextToDevicePath(const CHAR16 *TextDevicePath);

// The text of one node. Null for a null or empty text, or when the node
// cannot be allocated.
EFI_DEVICE_PATH_PROTOCOL *ConvertTextToDeviceNode(const CHAR16 *TextDeviceNode);

// ---------------------------------------------------------------------------
// Binary device paths.

// 7F FF 04 00: the source of every empty path and of every closing end node.
extern const EFI_DEVICE_PATH_PROTOCOL gEndEntireNode;

// A node's Length: two bytes, little-endian, at any address.
UINT16 DevicePathNodeLength(const EFI_DEVICE_PATH_PROTOCOL *Node);
VOID SetDevicePathNodeLength(EFI_DEVICE_PATH_PROTOCOL *Node, UINT16 Length);

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
