// The binary device path node header. Nodes are byte-packed and may start
// at any address, so Length is two bytes read as a little-endian value.
#pragma once

#include "firmware/Uefi.h"

struct EFI_DEVICE_PATH_PROTOCOL {
  UINT8 Type;
  UINT8 SubType;
  UINT8 Length[2];
};
static_assert(sizeof(EFI_DEVICE_PATH_PROTOCOL) == 4, "device path node header");
static_assert(alignof(EFI_DEVICE_PATH_PROTOCOL) == 1, "device path nodes are byte-aligned");

#define HARDWARE_DEVICE_PATH 0x01
#define ACPI_DEVICE_PATH 0x02
#define MESSAGING_DEVICE_PATH 0x03
#define MEDIA_DEVICE_PATH 0x04
#define BBS_DEVICE_PATH 0x05
#define END_DEVICE_PATH_TYPE 0x7F

#define END_ENTIRE_DEVICE_PATH_SUBTYPE 0xFF
#define END_INSTANCE_DEVICE_PATH_SUBTYPE 0x01
