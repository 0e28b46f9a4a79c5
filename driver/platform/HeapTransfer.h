// The heap buffer transfer: the buffers that earlier phases handed off as
// marked heap blocks in the hand-off block list are copied into pool
// nodes, linked into a list, and the list is published under the heap
// buffer list GUID (or another module's published list is adopted).
#pragma once

#include "driver/firmware/Uefi.h"

// The heap hand-off header: 'H', 'E', 'A', 'P' in memory order.
static constexpr UINT32 HEAP_HAND_OFF_SIGNATURE = 0x50414548U;
// PoolKind of a buffer that goes to runtime-services pool; any other goes
// to boot-services pool.
static constexpr UINT8 HEAP_POOL_KIND_RUNTIME = 8;
// TransferFlag of a buffer to transfer; any other is left behind.
static constexpr UINT8 HEAP_TRANSFER_FLAG = 1;
// The revision of the published interface.
static constexpr UINT64 HEAP_LIST_INTERFACE_REVISION = 1;

typedef struct {
  UINT32 Signature;  // HEAP_HAND_OFF_SIGNATURE
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
  UINT64 Revision;  // HEAP_LIST_INTERFACE_REVISION
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
// memory can be had; with the stop policy on, a fatal stop first.
EFI_STATUS AllocateHeapBufferNode(const HEAP_HAND_OFF_HEADER *Header, HEAP_BUFFER_NODE **Node);
