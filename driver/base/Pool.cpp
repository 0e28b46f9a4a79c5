#include "driver/base/Memory.h"
#include "driver/base/Tables.h"

UINTN gPoolRefusals;

VOID *PoolAllocate(UINTN Size) {
  VOID *Buffer = nullptr;
  EFI_STATUS Status = gBootServices->AllocatePool(EfiBootServicesData, Size, &Buffer);
  if (EFI_ERROR(Status)) {
    gPoolRefusals++;
    return nullptr;
  }
  return Buffer;
}

VOID *PoolAllocateZeroed(UINTN Size) {
  VOID *Buffer = PoolAllocate(Size);
  if (Buffer != nullptr && Size != 0) {
    ZeroMem(Buffer, Size);
  }
  return Buffer;
}

VOID *PoolAllocateCopy(UINTN Size, const VOID *Source) {
  VOID *Buffer = PoolAllocate(Size);
  if (Buffer != nullptr && Size != 0 && Buffer != Source) {
    CopyMem(Buffer, Source, Size);
  }
  return Buffer;
}

VOID *PoolReallocate(UINTN OldSize, UINTN NewSize, VOID *OldBuffer) {
  VOID *NewBuffer = PoolAllocate(NewSize);
  if (NewBuffer == nullptr) {
    return nullptr;
  }
  // The old bytes, then zeros: each byte of the new block written once.
  UINTN Kept = OldBuffer == nullptr ? 0 : OldSize < NewSize ? OldSize : NewSize;
  CopyMem(NewBuffer, OldBuffer, Kept);
  ZeroMem((UINT8 *)NewBuffer + Kept, NewSize - Kept);
  PoolFree(OldBuffer);
  return NewBuffer;
}

VOID PoolFree(VOID *Buffer) {
  if (Buffer != nullptr) {
    gBootServices->FreePool(Buffer);
  }
}
