#include "driver/firmware/Guids.h"
#include "driver/firmware/Pi/Hob.h"
#include "driver/platform/ConfigSnapshot.h"
#include "driver/platform/FatalStop.h"
#include "driver/platform/HeapTransfer.h"
#include "driver/base/Memory.h"
#include "driver/base/Tables.h"

HEAP_BUFFER_LIST_INTERFACE gHeapBufferListInterface = {HEAP_LIST_INTERFACE_REVISION, {nullptr, nullptr}};
HEAP_LIST_ENTRY *gHeapListAnchor = nullptr;

// A heap block: the GUID extension header, the heap header, the payload.
static constexpr UINTN HEAP_BLOCK_HEADER_SIZE = sizeof(EFI_HOB_GUID_TYPE) + sizeof(HEAP_HAND_OFF_HEADER);

// Block fields are read by copy: the producer's lengths decide where a
// block starts, so a header need not be aligned.
static UINT16 ReadUint16(const UINT8 *Address) {
  UINT16 Value;
  __builtin_memcpy(&Value, Address, sizeof(Value));
  return Value;
}

// Copies the payload of a heap block into a node, when the block holds it.
static VOID TransferHeapBlock(const UINT8 *Block, UINT16 HobLength) {
  HEAP_HAND_OFF_HEADER Header;
  CopyMem(&Header, Block + sizeof(EFI_HOB_GUID_TYPE), sizeof(Header));
  if (Header.Signature != HEAP_HAND_OFF_SIGNATURE || Header.TransferFlag != HEAP_TRANSFER_FLAG) {
    return;
  }
  // A payload that does not fit inside its own block is never copied: the
  // bytes behind the block belong to other blocks or to nobody.
  if ((UINT64)Header.Size > (UINT64)HobLength - HEAP_BLOCK_HEADER_SIZE) {
    return;
  }
  HEAP_BUFFER_NODE *Node = nullptr;
  if (EFI_ERROR(AllocateHeapBufferNode(&Header, &Node))) {
    return;
  }
  if (Header.Size != 0) {
    CopyMem(Node + 1, Block + HEAP_BLOCK_HEADER_SIZE, Header.Size);
  }
}

EFI_STATUS AllocateHeapBufferNode(const HEAP_HAND_OFF_HEADER *Header, HEAP_BUFFER_NODE **Node) {
  const UINTN NodeSize = (UINTN)Header->Size + sizeof(HEAP_BUFFER_NODE);
  VOID *Buffer = nullptr;
  if (Header->PoolKind == HEAP_POOL_KIND_RUNTIME) {
    EFI_STATUS Status = gBootServices->AllocatePool(EfiRuntimeServicesData, NodeSize, &Buffer);
    if (EFI_ERROR(Status)) {
      Buffer = nullptr;
    }
    if (Buffer == nullptr) {
      // The stop policy is read at the moment of the failure.
      if (gPlatformConfigSnapshot.FatalStopEnabled != 0) {
        FatalStop(STOP_CODE_RUNTIME_POOL);
      }
      return EFI_UNSUPPORTED;
    }
  } else {
    Buffer = PoolAllocate(NodeSize);
    if (Buffer == nullptr) {
      if (gPlatformConfigSnapshot.FatalStopEnabled != 0) {
        FatalStop(STOP_CODE_BOOT_POOL);
      }
      return EFI_UNSUPPORTED;
    }
  }

  HEAP_BUFFER_NODE *NewNode = (HEAP_BUFFER_NODE *)Buffer;
  CopyMem(&NewNode->Header, Header, sizeof(NewNode->Header));

  // At the tail: behind the last node, before the head.
  HEAP_LIST_ENTRY *Head = gHeapListAnchor;
  NewNode->Link.Forward = Head;
  NewNode->Link.Back = Head->Back;
  Head->Back->Forward = &NewNode->Link;
  Head->Back = &NewNode->Link;

  *Node = NewNode;
  return EFI_SUCCESS;
}

VOID TransferHeapHandOffList(const VOID *HobList) {
  const UINT8 *Block = (const UINT8 *)HobList;
  if (Block == nullptr) {
    return;
  }
  for (;;) {
    const UINT16 HobType = ReadUint16(Block + offsetof(EFI_HOB_GENERIC_HEADER, HobType));
    if (HobType == EFI_HOB_TYPE_END_OF_HOB_LIST) {
      return;
    }
    const UINT16 HobLength = ReadUint16(Block + offsetof(EFI_HOB_GENERIC_HEADER, HobLength));
    // A length that does not cover the block's own header cannot lead to a
    // next block: the list ends here.
    if (HobLength < sizeof(EFI_HOB_GENERIC_HEADER)) {
      return;
    }
    if (HobType == EFI_HOB_TYPE_GUID_EXTENSION) {
      if (HobLength < sizeof(EFI_HOB_GUID_TYPE)) {
        return;
      }
      EFI_GUID Name;
      CopyMem(&Name, Block + offsetof(EFI_HOB_GUID_TYPE, Name), sizeof(Name));
      // A heap block too short for its heap header holds no buffer.
      if (CompareGuid(&Name, &gHeapHandOffGuid) && HobLength >= HEAP_BLOCK_HEADER_SIZE) {
        TransferHeapBlock(Block, HobLength);
      }
    }
    Block += HobLength;
  }
}

VOID TransferHeapHandOffs(VOID) { TransferHeapHandOffList(LocateHobList()); }

VOID InitializeHeapBufferList(VOID) {
  VOID *Installed = nullptr;
  EFI_STATUS Status = gBootServices->LocateProtocol(&gHeapBufferListProtocolGuid, nullptr, &Installed);
  if (!EFI_ERROR(Status)) {
    // Another module's interface has the same layout: its list head
    // follows the 64-bit revision.
    gHeapListAnchor = (HEAP_LIST_ENTRY *)((UINT8 *)Installed + offsetof(HEAP_BUFFER_LIST_INTERFACE, ListHead));
    return;
  }

  gHeapBufferListInterface.ListHead.Forward = &gHeapBufferListInterface.ListHead;
  gHeapBufferListInterface.ListHead.Back = &gHeapBufferListInterface.ListHead;
  gHeapListAnchor = &gHeapBufferListInterface.ListHead;

  TransferHeapHandOffs();

  EFI_HANDLE Handle = nullptr;
  Status = gBootServices->InstallProtocolInterface(&Handle, &gHeapBufferListProtocolGuid, EFI_NATIVE_INTERFACE,
                                                   &gHeapBufferListInterface);
  // Any nonzero status counts, warnings included.
  if (Status != EFI_SUCCESS && gPlatformConfigSnapshot.FatalStopEnabled != 0) {
    FatalStop(STOP_CODE_HEAP_LIST_INSTALL);
  }
}
