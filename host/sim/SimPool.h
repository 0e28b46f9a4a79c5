// The simulated pool: AllocatePool and FreePool with accounting per memory
// type, fault injection by allocation number, guard bytes around every
// block (or a guard page after it), and the questions reports ask of live
// blocks. SimPool.cpp describes the blocks' layout.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "driver/firmware/Uefi.h"
#include "host/sim/Platform.h"
#include "host/sim/ServiceLog.h"

namespace sim {

// A live pool block, as the pool gave it out.
struct PoolBlockInfo {
  const uint8_t *start;
  uint64_t size;
  EFI_MEMORY_TYPE type;
  uint64_t allocation;  // the number of the AllocatePool call that made it (from 1)
};

// A pool block whose guard bytes were overwritten: the bytes right after
// its end, or the last bytes of its header right before its start.
struct DamagedPoolBlock {
  uint64_t allocation;
  uint64_t size;
  EFI_MEMORY_TYPE type;
  bool afterEnd;     // the guard bytes after its end
  bool beforeStart;  // the guard bytes before its start
  bool foundAtFree;  // found by FreePool; otherwise by CheckPoolGuards, the block still live
};

// "allocation 7 (13 bytes of boot-services data) overwritten after its
// end (found when it was freed)": the one text of a damaged block.
std::string DamagedPoolBlockText(const DamagedPoolBlock &block);

struct PoolStatistics {
  uint64_t allocations = 0;        // calls of AllocatePool, failed ones included
  uint64_t failedAllocations = 0;  // refused by fault injection
  uint64_t frees = 0;
  uint64_t invalidFrees = 0;  // FreePool of something the pool never gave out
  uint64_t outstandingBlocks = 0;
  uint64_t outstandingBytes = 0;
  // Blocks and bytes outstanding, by memory type (the index).
  std::array<std::pair<uint64_t, uint64_t>, EfiMaxMemoryType> outstandingByType{};
  // Blocks whose guard bytes were found overwritten, each once, in the
  // order found.
  std::vector<DamagedPoolBlock> damagedBlocks;
};

class Pool {
 public:
  // Fails the allocations faults names; logs refused allocations and frees
  // of what it never gave out in log.
  Pool(const FaultInjection &faults, ServiceLog &log);
  // Returns every block still live, and the host memory kept for reuse.
  ~Pool();
  Pool(const Pool &) = delete;
  Pool &operator=(const Pool &) = delete;

  // The boot services, reached through their EFIAPI thunks.
  EFI_STATUS AllocatePool(EFI_MEMORY_TYPE type, UINTN size, VOID **buffer);
  EFI_STATUS FreePool(VOID *buffer);

  const PoolStatistics &Statistics() const { return statistics_; }
  // The memory type of a pool block the pool gave out and still holds.
  std::optional<EFI_MEMORY_TYPE> PoolBlockType(const void *buffer) const;
  // Whether [p, p + n) lies inside one pool block the pool gave out and
  // still holds (anywhere in it, not only at its start).
  bool PoolHolds(const void *p, size_t n) const;
  // The live pool block whose bytes p points into, or whose end it points
  // at (start <= p <= start + size).
  std::optional<PoolBlockInfo> PoolBlockAt(const void *p) const;
  // The live pool block that p belongs to, for naming an address: the one
  // whose bytes p points into, else one whose header p points into or
  // whose end p lies at or past by less than `after` bytes. Reads only the
  // pool's own headers, so a fault handler may ask it.
  std::optional<PoolBlockInfo> PoolBlockNear(const void *p, uint64_t after) const;
  // From now on every pool block ends right before an inaccessible page, so
  // that an access past its end faults at once (for a loaded image, whose
  // code no sanitizer watches). Only before the pool served its first block.
  void PlacePoolBlocksBeforeGuardPages();
  // Checks the guard bytes of every live pool block (FreePool checks those
  // of each block it frees); a damaged block not yet found is added to
  // Statistics().damagedBlocks. Run at the end of every boot and of every
  // harness.
  void CheckPoolGuards();

 private:
  // The pool's header before each block it gives out (SimPool.cpp).
  struct PoolBlockHeader;
  // Freed host memory kept for the next block of the same total size,
  // linked through its first bytes; index: total size / 8.
  struct RecycledBlocks {
    void *first = nullptr;
    size_t count = 0;
  };
  static constexpr size_t kMostRecycledBytes = 1024;
  static constexpr size_t kRecycledPerSize = 32;

  PoolBlockHeader *FindPoolBlock(const void *p, bool startOnly) const;
  void CheckGuards(PoolBlockHeader &header, bool atFree);
  void ReleasePoolBlock(PoolBlockHeader *header);
  void ReleasePoolBlocks();
  // Host memory for a pool block of total bytes (header and guards
  // included): a recycled one of that size, else fresh from the heap.
  void *HeapBlock(size_t total);
  void ReleaseRecycledBlocks();

  // The live pool blocks, newest first, linked through their headers.
  PoolBlockHeader *newestPoolBlock_ = nullptr;
  bool guardPages_ = false;
  RecycledBlocks recycled_[kMostRecycledBytes / 8] = {};
  PoolStatistics statistics_;
  // The allocations that fail: these numbers, and every one from
  // failFrom_ on.
  std::vector<uint64_t> failAllocations_;
  std::optional<uint64_t> failFrom_;
  ServiceLog &log_;
};

}  // namespace sim
