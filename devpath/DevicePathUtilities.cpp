// Binary device paths: measuring, checking, creating and joining.
//
// Nodes are byte-packed and a Length may be odd, so a node can start at any
// address: Length is always read and written as two single bytes.
#include "devpath/DevicePath.h"
#include "startup/Memory.h"

// An end node is a header alone.
static constexpr UINT16 END_NODE_LENGTH = sizeof(EFI_DEVICE_PATH_PROTOCOL);
// The largest path size that GetDevicePathSize can give.
static constexpr UINT64 MAX_PATH_SIZE = 0xFFFFFFFFFFFFFFFFULL;

const EFI_DEVICE_PATH_PROTOCOL gEndEntireNode = {END_DEVICE_PATH_TYPE, END_ENTIRE_DEVICE_PATH_SUBTYPE,
                                                 {END_NODE_LENGTH, 0}};

UINT16 DevicePathNodeLength(const EFI_DEVICE_PATH_PROTOCOL *Node) {
  return (UINT16)(Node->Length[0] | (Node->Length[1] << 8));
}

VOID SetDevicePathNodeLength(EFI_DEVICE_PATH_PROTOCOL *Node, UINT16 Length) {
  Node->Length[0] = (UINT8)Length;
  Node->Length[1] = (UINT8)(Length >> 8);
}

static BOOLEAN IsEndEntireNode(const EFI_DEVICE_PATH_PROTOCOL *Node) {
  return Node->Type == END_DEVICE_PATH_TYPE && Node->SubType == END_ENTIRE_DEVICE_PATH_SUBTYPE;
}

static const EFI_DEVICE_PATH_PROTOCOL *NextNode(const EFI_DEVICE_PATH_PROTOCOL *Node) {
  return (const EFI_DEVICE_PATH_PROTOCOL *)((const UINT8 *)Node + DevicePathNodeLength(Node));
}

// The checks of a node that does not end the path: room for its header, and
// a file-path node's name terminated in its last 16-bit unit.
static BOOLEAN IsWellFormedInnerNode(const EFI_DEVICE_PATH_PROTOCOL *Node) {
  UINT16 Length = DevicePathNodeLength(Node);
  if (Length < sizeof(EFI_DEVICE_PATH_PROTOCOL)) {
    return FALSE;
  }
  if (Node->Type == MEDIA_DEVICE_PATH && Node->SubType == MEDIA_FILEPATH_DP) {
    const UINT8 *Last = (const UINT8 *)Node + Length - sizeof(CHAR16);
    return Last[0] == 0 && Last[1] == 0;
  }
  return TRUE;
}

BOOLEAN ValidateDevicePath(const EFI_DEVICE_PATH_PROTOCOL *DevicePath) {
  if (DevicePath == nullptr) {
    return FALSE;
  }
  UINT64 Total = 0;
  for (const EFI_DEVICE_PATH_PROTOCOL *Node = DevicePath;; Node = NextNode(Node)) {
    if (IsEndEntireNode(Node)) {
      return DevicePathNodeLength(Node) == END_NODE_LENGTH;
    }
    UINT16 Length = DevicePathNodeLength(Node);
    if (Length < sizeof(EFI_DEVICE_PATH_PROTOCOL) || Length > MAX_PATH_SIZE - Total) {
      return FALSE;
    }
    Total += Length;
    if (Total > MAX_PATH_SIZE - END_NODE_LENGTH || !IsWellFormedInnerNode(Node)) {
      return FALSE;
    }
  }
}

BOOLEAN ValidateDeviceNode(const EFI_DEVICE_PATH_PROTOCOL *Node) {
  if (IsEndEntireNode(Node)) {
    return DevicePathNodeLength(Node) == END_NODE_LENGTH;
  }
  return IsWellFormedInnerNode(Node);
}

UINT64 GetDevicePathSize(const EFI_DEVICE_PATH_PROTOCOL *DevicePath) {
  if (!ValidateDevicePath(DevicePath)) {
    return 0;
  }
  const EFI_DEVICE_PATH_PROTOCOL *Node = DevicePath;
  while (!IsEndEntireNode(Node)) {
    Node = NextNode(Node);
  }
  return (UINT64)((const UINT8 *)Node - (const UINT8 *)DevicePath) + END_NODE_LENGTH;
}

// A fresh copy of a path, or of the end node for a null path; null for an
// invalid path or when the pool is exhausted.
static EFI_DEVICE_PATH_PROTOCOL *DuplicatePath(const EFI_DEVICE_PATH_PROTOCOL *DevicePath) {
  if (DevicePath == nullptr) {
    DevicePath = &gEndEntireNode;
  }
  UINT64 Size = GetDevicePathSize(DevicePath);
  if (Size == 0) {
    return nullptr;
  }
  return (EFI_DEVICE_PATH_PROTOCOL *)PoolAllocateCopy(Size, DevicePath);
}

EFI_DEVICE_PATH_PROTOCOL *AppendDevicePath(const EFI_DEVICE_PATH_PROTOCOL *First,
                                           const EFI_DEVICE_PATH_PROTOCOL *Second) {
  if (First == nullptr) {
    return DuplicatePath(Second);
  }
  if (Second == nullptr) {
    return DuplicatePath(First);
  }
  UINT64 FirstSize = GetDevicePathSize(First);
  UINT64 SecondSize = GetDevicePathSize(Second);
  if (FirstSize == 0 || SecondSize == 0 || SecondSize > MAX_PATH_SIZE - (FirstSize - END_NODE_LENGTH)) {
    return nullptr;
  }
  UINT8 *Path = (UINT8 *)PoolAllocate(FirstSize - END_NODE_LENGTH + SecondSize);
  if (Path == nullptr) {
    return nullptr;
  }
  CopyMem(Path, First, FirstSize);
  CopyMem(Path + FirstSize - END_NODE_LENGTH, Second, SecondSize);
  return (EFI_DEVICE_PATH_PROTOCOL *)Path;
}

EFI_DEVICE_PATH_PROTOCOL *AppendDeviceNode(const EFI_DEVICE_PATH_PROTOCOL *DevicePath,
                                           const EFI_DEVICE_PATH_PROTOCOL *DeviceNode) {
  if (DeviceNode == nullptr) {
    return DuplicatePath(DevicePath);
  }
  UINT16 Length = DevicePathNodeLength(DeviceNode);
  if (Length < sizeof(EFI_DEVICE_PATH_PROTOCOL)) {
    return nullptr;
  }
  UINT8 *OneNodePath = (UINT8 *)PoolAllocate((UINTN)Length + END_NODE_LENGTH);
  if (OneNodePath == nullptr) {
    return nullptr;
  }
  CopyMem(OneNodePath, DeviceNode, Length);
  CopyMem(OneNodePath + Length, &gEndEntireNode, END_NODE_LENGTH);
  EFI_DEVICE_PATH_PROTOCOL *Path = AppendDevicePath(DevicePath, (EFI_DEVICE_PATH_PROTOCOL *)OneNodePath);
  PoolFree(OneNodePath);
  return Path;
}

EFI_DEVICE_PATH_PROTOCOL *CreateDeviceNode(UINT8 NodeType, UINT8 NodeSubType, UINT16 NodeLength) {
  if (NodeLength < sizeof(EFI_DEVICE_PATH_PROTOCOL)) {
    return nullptr;
  }
  EFI_DEVICE_PATH_PROTOCOL *Node = (EFI_DEVICE_PATH_PROTOCOL *)PoolAllocateZeroed(NodeLength);
  if (Node == nullptr) {
    return nullptr;
  }
  Node->Type = NodeType;
  Node->SubType = NodeSubType;
  SetDevicePathNodeLength(Node, NodeLength);
  return Node;
}
