// Platform support services: the configuration snapshot, the heap buffer
// transfer, debug message routing, the fatal stop and its time base, and
// the debug output backends. All of them run during start-up, from the
// constructor chain in RunLibraryConstructors.
#pragma once

#include "firmware/Protocol/DebugPrint.h"
#include "firmware/Protocol/Pcd.h"
#include "firmware/Uefi.h"

// ---------------------------------------------------------------------------
// Configuration snapshot
// ---------------------------------------------------------------------------

// PCD token numbers read into the snapshot.
#define PCD_TOKEN_625 625
#define PCD_TOKEN_567 567
#define PCD_TOKEN_628 628
#define PCD_TOKEN_626 626
#define PCD_TOKEN_576 576
#define PCD_TOKEN_575 575
#define PCD_TOKEN_627 627

// 26 bytes, packed, little-endian; all zero until both PCD protocols have
// been found, and then all zero no more.
#pragma pack(push, 1)
typedef struct {
  UINT8 Preset0[4];
  UINT8 FatalStopEnabled;  // nonzero: fatal conditions end in FatalStop
  UINT8 Preset5;
  BOOLEAN Pcd625;
  UINT8 Pcd567;
  UINT8 Preset8[2];
  UINT8 Preset10;
  UINT32 Pcd628;
  BOOLEAN Pcd626;
  UINT32 Pcd576;
  UINT32 Pcd575;
  UINT8 Pcd627;
  UINT8 Preset25;
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

// ---------------------------------------------------------------------------
// Debug message routing
// ---------------------------------------------------------------------------

#define DEBUG_ERROR 0x80000000U

// Hands an error level, an 8-bit format ("%a" an 8-bit text, "%r" a
// status) and its arguments to the platform's debug print service. Returns
// the failed look-up's status when the service cannot be found (the message
// is dropped and the next one looks again), EFI_SUCCESS otherwise.
EFI_STATUS EFIAPI WriteDebugMessage(UINTN ErrorLevel, const CHAR8 *Format, ...);

// The service located by WriteDebugMessage; null until found.
extern DEBUG_PRINT_SERVICE *gDebugPrintService;

// ---------------------------------------------------------------------------
// Fatal stop and timing
// ---------------------------------------------------------------------------

#define STOP_CODE_HEAP_LIST_INSTALL 0x00080225U
#define STOP_CODE_RUNTIME_POOL 0x00080134U
#define STOP_CODE_BOOT_POOL 0x00080137U
#define STOP_CODE_STORE_WIDTH 0x00010320U

#define STOP_SIGNATURE_PORT 0xE0
#define STOP_SIGNATURE 0xDEAD
#define STOP_DISPLAY_PORT 0x80
#define STOP_DISPLAY_HOLD_MICROSECONDS 2500000ULL

#define STOP_OVERRIDE_LEAF 0xBACCD00BU
#define STOP_OVERRIDE_SUBFUNCTION 2U

#define PSTATE_DEFINITION_MSR_FIRST 0xC0010064U
#define PSTATE_DEFINITION_MSR_COUNT 8
#define PSTATE_ENABLED_BIT (1ULL << 63)
// The time base when no P-state is enabled; it is not kept.
#define TSC_TICKS_WITHOUT_PSTATE 256ULL

// Announces the stop code on ports 0xE0 and 0x80; returns only when an
// agent that intercepts CPUID asks for it, otherwise shows the code on the
// port-0x80 display for good.
VOID FatalStop(UINT32 Code);

// Asks an agent that intercepts CPUID whether to skip the stop; nonzero
// means skip. On bare hardware the answer is 0.
UINT16 QueryStopOverride(UINT32 Code);

// 0xDEAD in bits 63..48, the code in bits 47..16, zero below.
UINT64 StopCodeWord(UINT32 Code);

// Ticks of the time-stamp counter per second, from the first enabled
// P-state definition; cached once known.
UINT64 TscTicksPerSecond(VOID);
UINT64 ReadTimeStamp(VOID);
VOID PauseCpu(VOID);

// The frequency cache; zero while the frequency is not known.
extern UINT64 gTscTicksPerSecond;

// ---------------------------------------------------------------------------
// Heap buffer transfer
// ---------------------------------------------------------------------------

#define HEAP_HAND_OFF_SIGNATURE 0x50414548U  // 'H', 'E', 'A', 'P' in memory order
#define HEAP_POOL_KIND_RUNTIME 8
#define HEAP_TRANSFER_FLAG 1
#define HEAP_LIST_INTERFACE_REVISION 1

typedef struct {
  UINT32 Signature;
  UINT32 Reserved;
  UINT32 Size;  // payload bytes behind the header
  UINT8 PoolKind;
  UINT8 TransferFlag;
  UINT16 Reserved2;
} HEAP_HAND_OFF_HEADER;
static_assert(sizeof(HEAP_HAND_OFF_HEADER) == 16, "heap hand-off header");
static_assert(offsetof(HEAP_HAND_OFF_HEADER, Size) == 8, "Size");
static_assert(offsetof(HEAP_HAND_OFF_HEADER, PoolKind) == 12, "PoolKind");
static_assert(offsetof(HEAP_HAND_OFF_HEADER, TransferFlag) == 13, "TransferFlag");

typedef struct HEAP_LIST_ENTRY {
  struct HEAP_LIST_ENTRY *Forward;
  struct HEAP_LIST_ENTRY *Back;
} HEAP_LIST_ENTRY;

// One pool block per transferred buffer: links, header copy, payload copy.
typedef struct {
  HEAP_LIST_ENTRY Link;
  HEAP_HAND_OFF_HEADER Header;
  // Header.Size payload bytes follow.
} HEAP_BUFFER_NODE;
static_assert(sizeof(HEAP_BUFFER_NODE) == 32, "node header");
static_assert(offsetof(HEAP_BUFFER_NODE, Header) == 16, "Header");

typedef struct {
  UINT64 Revision;
  HEAP_LIST_ENTRY ListHead;
} HEAP_BUFFER_LIST_INTERFACE;
static_assert(offsetof(HEAP_BUFFER_LIST_INTERFACE, ListHead) == 8, "ListHead");

// The interface this module publishes when nobody has published one.
extern HEAP_BUFFER_LIST_INTERFACE gHeapBufferListInterface;
// The list head that new nodes are linked behind: gHeapBufferListInterface's
// own, or the one inside an interface found already installed.
extern HEAP_LIST_ENTRY *gHeapListAnchor;

// Start-up step: adopts an installed heap buffer list, or builds one from
// the hand-off blocks and installs it.
VOID InitializeHeapBufferList(VOID);

// Copies every marked heap buffer of the hand-off block list into the list
// at gHeapListAnchor, in list order.
VOID TransferHeapHandOffs(VOID);

// The walk of TransferHeapHandOffs over a given hand-off block list (null:
// nothing to do).
VOID TransferHeapHandOffList(const VOID *HobList);

// Allocates a node for the buffer that Header describes, copies the header
// into it and links it at the tail of the list. EFI_UNSUPPORTED when no
// memory can be had.
EFI_STATUS AllocateHeapBufferNode(const HEAP_HAND_OFF_HEADER *Header, HEAP_BUFFER_NODE **Node);

// ---------------------------------------------------------------------------
// Debug output backends
// ---------------------------------------------------------------------------

#define PLATFORM_INDEX_REGISTER 0xE00000B8ULL
#define PLATFORM_DATA_REGISTER 0xE00000BCULL
#define STREAM_SELECT_REGISTER_A 0x03810A84U
#define STREAM_SELECT_REGISTER_B 0x03810A88U

#define STREAM_START_MARKER 0x5F535452U
#define STREAM_END_MARKER 0x5F454E44U

#define UART_BASE 0xFEDC9000ULL
#define UART_TRANSMIT (UART_BASE + 0x00)
#define UART_LINE_STATUS (UART_BASE + 0x14)
#define UART_MODEM_STATUS (UART_BASE + 0x18)
#define UART_LSR_TRANSMIT_EMPTY 0x60  // holding register and transmitter empty
#define UART_MSR_CLEAR_TO_SEND 0x10
#define UART_MSR_ABSENT 0xFF
#define UART_POLL_READS 2000

#define STORE_WIDTH_8 1
#define STORE_WIDTH_16 2
#define STORE_WIDTH_32 3
#define STORE_WIDTH_ALTERNATE 0x80  // set or clear, the width is the same

typedef struct {
  BOOLEAN (*Detect)(VOID);
  VOID (*Init)(VOID);
  BOOLEAN (*Poll)(VOID);
  VOID (*Write)(const UINT8 *Bytes, UINTN Count);
} DEBUG_OUTPUT_BACKEND;

extern const DEBUG_OUTPUT_BACKEND gPort80StreamBackend;
extern const DEBUG_OUTPUT_BACKEND gUartBackend;
// Port80StreamBackend, UartBackend, then null.
extern const DEBUG_OUTPUT_BACKEND *const gDebugBackendTable[3];

// Start-up step: when any backend is present, initialises every present
// backend in table order.
VOID InitializeDebugBackends(VOID);

// Asks every backend of the table; true when any is present.
BOOLEAN AnyDebugBackendPresent(VOID);

// True when debug output is routed to the port-0x80 stream.
BOOLEAN Port80StreamSelected(VOID);

// Reads a platform register through the index/data pair; the index register
// is left as it was found.
UINT32 ReadIndexedRegister(UINT32 Register);

// Stores 8, 16 or 32 bits from the caller's memory at Source into the
// register at Destination, by width code (1/129, 2/130, 3/131).
VOID StoreByWidth(UINT32 WidthCode, UINTN Destination, const VOID *Source);
