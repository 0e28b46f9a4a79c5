// Fuzzes the heap buffer transfer with arbitrary hand-off block lists.
// Input: a fault byte (0: no pool failure; else the 1-based allocation
// that fails, and every later one too when its top bit is set), a policy
// byte (bit 0: stop policy on; bit 1: the stop is not overridden, so the
// processor parks in the stop display), then the list's bytes.
//
// The list is closed the way a producer closes one: the chain of blocks is
// followed by HobLength from the first byte; it ends at an end block or at a
// length below the generic header, a block running past the input is padded
// to its length, and an end block follows where the input runs out. The
// list is copied into an allocation of exactly its size, so a read past its
// last block is a read past the allocation. What the transfer leaves in the
// list must agree with an independent model of the walk.
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <vector>

#include "driver/firmware/Guids.h"
#include "host/boot/Boot.h"
#include "host/harness/LinkedDriver.h"
#include "host/sim/SimFirmware.h"
#include "driver/platform/PlatformServices.h"
#include "driver/base/Tables.h"
#include "tests/fuzz/FuzzFirmware.h"

namespace {

using Bytes = std::vector<uint8_t>;

using fuzz::Check;

uint16_t U16(const uint8_t *at) { return static_cast<uint16_t>(at[0] | (at[1] << 8)); }
uint32_t U32(const uint8_t *at) { return static_cast<uint32_t>(U16(at) | (U16(at + 2) << 16)); }

Bytes CloseList(const uint8_t *data, size_t size) {
  Bytes list(data, data + size);
  const Bytes end = {0xFF, 0xFF, 0x08, 0x00, 0, 0, 0, 0};
  size_t offset = 0;
  for (;;) {
    if (offset + 8 > list.size()) {
      list.resize(offset);
      list.insert(list.end(), end.begin(), end.end());
      return list;
    }
    const uint16_t type = U16(&list[offset]);
    const uint16_t length = U16(&list[offset + 2]);
    if (type == 0xFFFF || length < 8) {
      list.resize(offset + 8);
      return list;
    }
    if (offset + length > list.size()) {
      list.resize(offset + length, 0);
    }
    offset += length;
  }
}

struct Expected {
  Bytes header;  // the 16 header bytes
  Bytes payload;
};

// The marked heap buffers of the list, in list order, as the walk is to find them.
std::vector<Expected> Model(const Bytes &list) {
  std::vector<Expected> found;
  const auto *name = reinterpret_cast<const uint8_t *>(&gHeapHandOffGuid);
  for (size_t offset = 0;;) {
    const uint16_t type = U16(&list[offset]);
    const uint16_t length = U16(&list[offset + 2]);
    if (type == 0xFFFF || length < 8 || (type == 4 && length < 24)) {
      return found;
    }
    const uint8_t *block = &list[offset];
    if (type == 4 && length >= 40 && std::memcmp(block + 8, name, 16) == 0 && U32(block + 24) == 0x50414548 &&
        block[24 + 13] == 1 && U32(block + 24 + 8) <= length - 40u) {
      found.push_back({Bytes(block + 24, block + 40), Bytes(block + 40, block + 40 + U32(block + 32))});
    }
    offset += length;
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  if (size < 2) {
    return 0;
  }
  const uint8_t fault = data[0] & 0x7F;
  const bool fromThenOn = (data[0] & 0x80) != 0;
  const bool policyOn = (data[1] & 1) != 0;
  const bool parks = (data[1] & 2) != 0;

  const Bytes closed = CloseList(data + 2, size - 2);
  std::unique_ptr<uint8_t[]> list(new uint8_t[closed.size()]);
  std::memcpy(list.get(), closed.data(), closed.size());
  const std::vector<Expected> expected = Model(closed);

  sim::Platform platform = sim::DefaultPlatform();
  platform.hobList.present = false;
  if (fault != 0) {
    if (fromThenOn) {
      platform.faults.failAllocationsFrom = fault;
    } else {
      platform.faults.failAllocations = {fault};
    }
  }
  platform.cpu.pstates = {};  // 640 ticks per hold
  platform.cpu.tscStep = 1024;
  platform.cpu.stopOverride = parks ? 0 : 1;
  platform.cpu.stopDisplayValues = 1;

  host::LinkedDriver driver(platform);
  sim::SimFirmware &firmware = driver.Firmware();
  driver.SetStopPolicy(policyOn);
  driver.InstallEmptyHeapList();

  const uint8_t *listBytes = list.get();
  const bool parked = sim::RunUntilParked(firmware.Hardware(), [listBytes] { TransferHeapHandOffList(listBytes); });

  // Which buffers must be in the list: allocation k serves buffer k; a
  // failed one is skipped, or ends the walk where the processor parks.
  std::vector<const Expected *> kept;
  std::vector<uint32_t> stopCodes;
  for (size_t k = 0; k < expected.size(); k++) {
    const uint64_t allocation = k + 1;
    const bool fails = fault != 0 && (fromThenOn ? allocation >= fault : allocation == fault);
    if (!fails) {
      kept.push_back(&expected[k]);
      continue;
    }
    if (policyOn) {
      stopCodes.push_back(expected[k].header[12] == 8 ? 0x00080134 : 0x00080137);
      if (parks) {
        break;
      }
    }
  }
  Check(parked == (parks && !stopCodes.empty()), "parked in the stop display when no stop was due, or not when due");

  std::vector<const HEAP_LIST_ENTRY *> forward;
  const HEAP_LIST_ENTRY *head = gHeapListAnchor;
  for (const HEAP_LIST_ENTRY *entry = head->Forward; entry != head; entry = entry->Forward) {
    Check(forward.size() <= expected.size(), "more nodes than marked buffers");
    forward.push_back(entry);
  }
  std::vector<const HEAP_LIST_ENTRY *> backward;
  for (const HEAP_LIST_ENTRY *entry = head->Back; entry != head; entry = entry->Back) {
    Check(backward.size() <= forward.size(), "the backward links do not close the ring");
    backward.push_back(entry);
  }
  Check(std::equal(forward.begin(), forward.end(), backward.rbegin(), backward.rend()),
        "the backward walk is not the reverse of the forward walk");

  Check(forward.size() == kept.size(), "the list does not hold the marked buffers the walk had to find");
  for (size_t i = 0; i < forward.size(); i++) {
    const auto *node = reinterpret_cast<const HEAP_BUFFER_NODE *>(forward[i]);
    Check(std::memcmp(&node->Header, kept[i]->header.data(), 16) == 0, "a node's header differs from its block's");
    Check(kept[i]->payload.empty() ||
              std::memcmp(node + 1, kept[i]->payload.data(), kept[i]->payload.size()) == 0,
          "a node's payload differs from its block's");
    const auto type = firmware.Pool().PoolBlockType(node);
    Check(type.has_value(), "a node is not a pool block");
    Check(*type == (node->Header.PoolKind == 8 ? EfiRuntimeServicesData : EfiBootServicesData),
          "a node lies in the wrong pool");
  }
  Check(firmware.Pool().Statistics().outstandingBlocks == forward.size(), "pool blocks outside the list");
  Check(firmware.Pool().Statistics().invalidFrees == 0, "a block was freed that the pool never gave out");

  std::vector<sim::PortWrite> signals;
  for (uint32_t code : stopCodes) {
    signals.push_back({0xE0, 16, 0xDEAD});
    signals.push_back({0x80, 32, code});
  }
  const std::vector<sim::PortWrite> &ports = firmware.Hardware().portLog;
  Check(ports.size() >= signals.size() && std::equal(signals.begin(), signals.end(), ports.begin()),
        "the stop signals differ from the failures met");
  Check(parked || ports.size() == signals.size(), "port writes beyond the stop signals");
  return 0;
}
