// Pool memory and the memory primitives every part of the driver uses.
#pragma once

#include "driver/firmware/Uefi.h"

// Boot-services-data pool; each returns null when the firmware fails.
// Every allocation the firmware refuses adds one to gPoolRefusals (zero at
// load, never reset): work that compares it before and after itself knows
// whether any of its allocations failed, however deep down.
extern UINTN gPoolRefusals;
VOID *PoolAllocate(UINTN Size);
VOID *PoolAllocateZeroed(UINTN Size);
VOID *PoolAllocateCopy(UINTN Size, const VOID *Source);
// A zero-filled buffer of NewSize with min(OldSize, NewSize) bytes of
// OldBuffer, which is freed. On failure null, and OldBuffer is untouched.
VOID *PoolReallocate(UINTN OldSize, UINTN NewSize, VOID *OldBuffer);
// Null does nothing.
VOID PoolFree(VOID *Buffer);

VOID ZeroMem(VOID *Buffer, UINTN Length);
VOID SetMem(VOID *Buffer, UINTN Length, UINT8 Value);
// Copies Length bytes; the ranges may overlap.
VOID CopyMem(VOID *Destination, const VOID *Source, UINTN Length);
INTN CompareMem(const VOID *Buffer1, const VOID *Buffer2, UINTN Length);
UINTN AsciiStrLen(const CHAR8 *String);
