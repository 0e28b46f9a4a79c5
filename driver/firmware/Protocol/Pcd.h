// The platform configuration database protocol, as far as the driver reads
// it: Get8, Get32 and GetBool are its second, fourth and seventh members.
#pragma once

#include "driver/firmware/Uefi.h"

typedef VOID(EFIAPI *PCD_PROTOCOL_SET_SKU)(UINTN SkuId);
typedef UINT8(EFIAPI *PCD_PROTOCOL_GET8)(UINTN TokenNumber);
typedef UINT16(EFIAPI *PCD_PROTOCOL_GET16)(UINTN TokenNumber);
typedef UINT32(EFIAPI *PCD_PROTOCOL_GET32)(UINTN TokenNumber);
typedef UINT64(EFIAPI *PCD_PROTOCOL_GET64)(UINTN TokenNumber);
typedef VOID *(EFIAPI *PCD_PROTOCOL_GET_POINTER)(UINTN TokenNumber);
typedef BOOLEAN(EFIAPI *PCD_PROTOCOL_GET_BOOLEAN)(UINTN TokenNumber);
typedef UINTN(EFIAPI *PCD_PROTOCOL_GET_SIZE)(UINTN TokenNumber);

typedef struct {
  PCD_PROTOCOL_SET_SKU SetSku;
  PCD_PROTOCOL_GET8 Get8;
  PCD_PROTOCOL_GET16 Get16;
  PCD_PROTOCOL_GET32 Get32;
  PCD_PROTOCOL_GET64 Get64;
  PCD_PROTOCOL_GET_POINTER GetPtr;
  PCD_PROTOCOL_GET_BOOLEAN GetBool;
  PCD_PROTOCOL_GET_SIZE GetSize;
  // The Ex getters, setters and callbacks follow; the driver calls none of them.
  VOID *Rest[21];
} PCD_PROTOCOL;
static_assert(offsetof(PCD_PROTOCOL, Get8) == 8, "Get8 is the second member");
static_assert(offsetof(PCD_PROTOCOL, Get32) == 24, "Get32 is the fourth member");
static_assert(offsetof(PCD_PROTOCOL, GetBool) == 48, "GetBool is the seventh member");
