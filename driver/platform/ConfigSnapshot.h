// The configuration snapshot: 26 bytes that the first constructor of the
// start-up chain fills from constants and PCD tokens, and that the other
// services read (the fatal-stop policy in byte 4).
#pragma once

#include "driver/firmware/Protocol/Pcd.h"
#include "driver/firmware/Uefi.h"

// PCD token numbers read into the snapshot, in the order they are read.
static constexpr UINTN PCD_TOKEN_625 = 625;
static constexpr UINTN PCD_TOKEN_567 = 567;
static constexpr UINTN PCD_TOKEN_628 = 628;
static constexpr UINTN PCD_TOKEN_626 = 626;
static constexpr UINTN PCD_TOKEN_576 = 576;
static constexpr UINTN PCD_TOKEN_575 = 575;
static constexpr UINTN PCD_TOKEN_627 = 627;

// The bytes the snapshot holds whatever the platform says, by field. What
// the platform makes of them beyond byte 4 is not the driver's to know; the
// names say where they stand.
static constexpr UINT8 SNAPSHOT_PRESET0_BYTE0 = 0x01;
static constexpr UINT8 SNAPSHOT_PRESET0_BYTE1 = 0x03;
static constexpr UINT8 SNAPSHOT_PRESET0_BYTE2 = 0x80;
static constexpr UINT8 SNAPSHOT_PRESET0_BYTE3 = 0x00;
static constexpr UINT8 SNAPSHOT_PRESET5 = 0x00;
static constexpr UINT8 SNAPSHOT_PRESET8_BYTE0 = 0x02;
static constexpr UINT8 SNAPSHOT_PRESET8_BYTE1 = 0x02;
static constexpr UINT8 SNAPSHOT_PRESET10 = 0x02;
static constexpr UINT8 SNAPSHOT_PRESET25 = 0x02;

// FatalStopEnabled: fatal conditions end in FatalStop. The constructor
// always sets it; only a snapshot that was never filled holds 0.
static constexpr UINT8 FATAL_STOP_POLICY_ON = 1;

// 26 bytes, packed, little-endian; all zero until both PCD protocols have
// been found, and then all zero no more.
#pragma pack(push, 1)
typedef struct {
  UINT8 Preset0[4];        // SNAPSHOT_PRESET0_BYTE0 to _BYTE3
  UINT8 FatalStopEnabled;  // nonzero: fatal conditions end in FatalStop
  UINT8 Preset5;           // SNAPSHOT_PRESET5
  BOOLEAN Pcd625;
  UINT8 Pcd567;
  UINT8 Preset8[2];  // SNAPSHOT_PRESET8_BYTE0, _BYTE1
  UINT8 Preset10;    // SNAPSHOT_PRESET10
  UINT32 Pcd628;
  BOOLEAN Pcd626;
  UINT32 Pcd576;
  UINT32 Pcd575;
  UINT8 Pcd627;
  UINT8 Preset25;  // SNAPSHOT_PRESET25
} PLATFORM_CONFIG_SNAPSHOT;
#pragma pack(pop)
static_assert(sizeof(PLATFORM_CONFIG_SNAPSHOT) == 26, "the snapshot is 26 bytes");
static_assert(offsetof(PLATFORM_CONFIG_SNAPSHOT, FatalStopEnabled) == 4, "FatalStopEnabled");
static_assert(offsetof(PLATFORM_CONFIG_SNAPSHOT, Pcd625) == 6, "Pcd625");
static_assert(offsetof(PLATFORM_CONFIG_SNAPSHOT, Pcd567) == 7, "Pcd567");
static_assert(offsetof(PLATFORM_CONFIG_SNAPSHOT, Preset8) == 8, "Preset8");
static_assert(offsetof(PLATFORM_CONFIG_SNAPSHOT, Preset10) == 10, "Preset10");
static_assert(offsetof(PLATFORM_CONFIG_SNAPSHOT, Pcd628) == 11, "Pcd628");
static_assert(offsetof(PLATFORM_CONFIG_SNAPSHOT, Pcd626) == 15, "Pcd626");
static_assert(offsetof(PLATFORM_CONFIG_SNAPSHOT, Pcd576) == 16, "Pcd576");
static_assert(offsetof(PLATFORM_CONFIG_SNAPSHOT, Pcd575) == 20, "Pcd575");
static_assert(offsetof(PLATFORM_CONFIG_SNAPSHOT, Pcd627) == 24, "Pcd627");
static_assert(offsetof(PLATFORM_CONFIG_SNAPSHOT, Preset25) == 25, "Preset25");

extern PLATFORM_CONFIG_SNAPSHOT gPlatformConfigSnapshot;

// The first constructor: zeroes the snapshot, checks for both PCD protocols
// (reporting a missing one) and fills the snapshot from constants and tokens.
VOID VexCfgPcdBufLibDxeConstructor(VOID);

// The PCD protocol under gPcdProtocolGuid, looked up on first use and kept
// once found; null while it cannot be found.
PCD_PROTOCOL *LocatePcdProtocolOnce(VOID);

// The cache behind LocatePcdProtocolOnce; null at load.
extern PCD_PROTOCOL *gPcdProtocol;
