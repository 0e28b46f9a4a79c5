// Binary device paths: measuring, checking, creating and joining.
//
// Nodes are byte-packed and a Length may be odd, so a node can start at any
// address: Length is always read and written as two single bytes.
#include "driver/devpath/DevicePath.h"
#include "driver/base/Memory.h"

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

UINT64 GetDevicePathSizeWithin(const EFI_DEVICE_PATH_PROTOCOL *DevicePath, UINT64 Limit, DEVICE_PATH_WALK *Walk) {
  DEVICE_PATH_WALK Ended = {DevicePathNull, 0};
  // Offset never passes Limit: a node is stepped over only once its Length
  // has been found to fit in what is left.
  for (UINT64 Offset = 0; DevicePath != nullptr;) {
    Ended.Offset = Offset;
    if (Limit - Offset < END_NODE_LENGTH) {
      Ended.Fault = DevicePathNoEndNode;
      break;
    }
    const EFI_DEVICE_PATH_PROTOCOL *Node = (const EFI_DEVICE_PATH_PROTOCOL *)((const UINT8 *)DevicePath + Offset);
    UINT16 Length = DevicePathNodeLength(Node);
    if (IsEndEntireNode(Node)) {
      Ended.Fault = Length == END_NODE_LENGTH ? DevicePathValid : DevicePathEndNodeLength;
      break;
    }
    if (Length < sizeof(EFI_DEVICE_PATH_PROTOCOL)) {
      Ended.Fault = DevicePathNodeTooShort;
      break;
    }
    if (Length > Limit - Offset) {
      Ended.Fault = DevicePathNodePastLimit;
      break;
    }
    // A file-path node's name ends in its last 16-bit unit, a zero.
    const UINT8 *Last = (const UINT8 *)Node + Length - sizeof(CHAR16);
    if (Node->Type == MEDIA_DEVICE_PATH && Node->SubType == MEDIA_FILEPATH_DP && (Last[0] != 0 || Last[1] != 0)) {
      Ended.Fault = DevicePathFileNameUnterminated;
      break;
    }
    Offset += Length;
  }
  if (Walk != nullptr) {
    Walk->Fault = Ended.Fault;
    Walk->Offset = Ended.Offset;
  }
  return Ended.Fault == DevicePathValid ? Ended.Offset + END_NODE_LENGTH : 0;
}

BOOLEAN ValidateDevicePath(const EFI_DEVICE_PATH_PROTOCOL *DevicePath) {
  return GetDevicePathSizeWithin(DevicePath, MAX_PATH_SIZE, nullptr) != 0;
}

BOOLEAN ValidateDeviceNode(const EFI_DEVICE_PATH_PROTOCOL *Node) {
  // Walked within its own Length, an end node of Length 4 makes a valid
  // path, and any other well-formed node leaves the walk looking for a
  // header right after itself.
  DEVICE_PATH_WALK Walk;
  GetDevicePathSizeWithin(Node, DevicePathNodeLength(Node), &Walk);
  return Walk.Fault == DevicePathValid || (Walk.Fault == DevicePathNoEndNode && Walk.Offset != 0);
}

// A function of its own in the image, never inlined into the callers below
// and kept by the link though no code of the image calls it: boardinv
// devpath --efi calls it there, found through the image's map.
__attribute__((noinline, used)) UINT64 GetDevicePathSize(const EFI_DEVICE_PATH_PROTOCOL *DevicePath) {
  return GetDevicePathSizeWithin(DevicePath, MAX_PATH_SIZE, nullptr);
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
