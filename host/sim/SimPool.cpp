// The pool: AllocatePool and FreePool with accounting per memory type,
// fault injection, guard bytes around every block, and the questions
// reports ask of live blocks.
//
// Every block the pool gives out lies between a header of the pool's own
// and guard bytes:
//
//   [PoolBlockHeader: links, size, type, allocation number, front guard]
//   [the caller's bytes]
//   [guard bytes: up to the block's 8-byte-aligned end, then 16 more]
//
// The headers link the live blocks into one list, newest first, so that
// the accounting needs no structure beside the blocks themselves (a free
// usually meets its block among the first few). In guard-page mode the
// aligned end is the first byte of an inaccessible page, so only the bytes
// up to it are guard bytes; past it the page faults. FreePool checks the
// guards of the block it frees, CheckPoolGuards those of every live block;
// a damaged block is recorded once, with its allocation number. Under
// AddressSanitizer the header and the guard bytes are also poisoned while
// the caller holds the block, so that the sanitizer names an overrun at the
// instruction that makes it; the pool opens them only while it reads or
// writes them itself.
//
// Without AddressSanitizer and guard pages, the host memory of a freed
// block is kept for the next block of the same total size (a list per
// size, a few dozen deep), which spares the host's heap most of the work
// of a conversion; under the sanitizer every block goes back to the heap
// at once, so that a use after free stays a finding.
#include "host/sim/SimPool.h"

#include <sanitizer/asan_interface.h>

#include <cstdlib>
#include <cstring>
#include <stdexcept>

#include "host/sim/EfiValues.h"
#include "host/sim/GuardPages.h"
#include "host/sim/Text.h"

namespace sim {

namespace {

constexpr uint8_t kFillByte = 0xAF;   // fresh pool is never zeroed, as on a machine
constexpr uint8_t kGuardByte = 0xFD;  // the guard bytes on both sides of a block
constexpr size_t kAlignment = 8;      // pool blocks are 8-byte aligned, and so are their ends
constexpr size_t kHeapGuardBytes = 16;  // after the aligned end, in the host's heap
constexpr size_t kFrontGuardBytes = 24;  // the end of the header, right before the block

size_t AlignedSize(size_t size) { return (size + kAlignment - 1) / kAlignment * kAlignment; }

// Eight guard bytes at a time, then the bytes left over.
bool AllGuard(const uint8_t *bytes, size_t count) {
  constexpr uint64_t kGuardWord = kGuardByte * 0x0101010101010101ULL;
  size_t i = 0;
  for (; count - i >= 8; i += 8) {
    uint64_t word;
    std::memcpy(&word, bytes + i, 8);
    if (word != kGuardWord) {
      return false;
    }
  }
  for (; i < count; i++) {
    if (bytes[i] != kGuardByte) {
      return false;
    }
  }
  return true;
}

// GCC says AddressSanitizer is on by __SANITIZE_ADDRESS__; the clang that
// builds the fuzz targets only by __has_feature.
#if defined(__SANITIZE_ADDRESS__)
constexpr bool kRecycleBlocks = false;
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
constexpr bool kRecycleBlocks = false;
#else
constexpr bool kRecycleBlocks = true;
#endif
#else
constexpr bool kRecycleBlocks = true;
#endif

// The pool's own bytes, opened for the pool while it reads or writes them
// and poisoned again after (a no-op without AddressSanitizer).
class Opened {
 public:
  Opened(const void *bytes, size_t count) : bytes_(bytes), count_(count) {
    ASAN_UNPOISON_MEMORY_REGION(bytes_, count_);
  }
  ~Opened() { ASAN_POISON_MEMORY_REGION(bytes_, count_); }
  Opened(const Opened &) = delete;
  Opened &operator=(const Opened &) = delete;

 private:
  const void *bytes_;
  size_t count_;
};

}  // namespace

struct Pool::PoolBlockHeader {
  PoolBlockHeader *older;  // the live block allocated before this one
  PoolBlockHeader *newer;
  uint64_t size;
  uint64_t allocation;
  EFI_MEMORY_TYPE type;
  uint32_t damageFound;  // nonzero once the block is in Statistics().damagedBlocks
  // Last, so that a write just before the block lands here first.
  uint8_t frontGuard[kFrontGuardBytes];

  uint8_t *Block() { return reinterpret_cast<uint8_t *>(this + 1); }
};

std::string DamagedPoolBlockText(const DamagedPoolBlock &block) {
  const char *where = block.afterEnd && block.beforeStart ? "before its start and after its end"
                      : block.afterEnd                    ? "after its end"
                                                          : "before its start";
  return "allocation " + std::to_string(block.allocation) + " (" + Counted(block.size, "byte", "bytes") + " of " +
         MemoryTypeWords(block.type) + ") overwritten " + where +
         (block.foundAtFree ? " (found when it was freed)" : " (found while it was still allocated)");
}

Pool::Pool(const FaultInjection &faults, ServiceLog &log)
    : failAllocations_(faults.failAllocations), failFrom_(faults.failAllocationsFrom), log_(log) {}

Pool::~Pool() {
  ReleasePoolBlocks();
  ReleaseRecycledBlocks();
}

Pool::PoolBlockHeader *Pool::FindPoolBlock(const void *p, bool startOnly) const {
  const auto address = reinterpret_cast<uintptr_t>(p);
  for (PoolBlockHeader *header = newestPoolBlock_; header != nullptr;) {
    Opened open(header, sizeof(*header));
    const auto start = reinterpret_cast<uintptr_t>(header->Block());
    if (startOnly ? address == start : address >= start && address - start <= header->size) {
      return header;
    }
    header = header->older;
  }
  return nullptr;
}

std::optional<EFI_MEMORY_TYPE> Pool::PoolBlockType(const void *buffer) const {
  const PoolBlockHeader *header = FindPoolBlock(buffer, true);
  if (header == nullptr) {
    return std::nullopt;
  }
  Opened open(header, sizeof(*header));
  return header->type;
}

std::optional<PoolBlockInfo> Pool::PoolBlockAt(const void *p) const {
  PoolBlockHeader *header = FindPoolBlock(p, false);
  if (header == nullptr) {
    return std::nullopt;
  }
  Opened open(header, sizeof(*header));
  return PoolBlockInfo{header->Block(), header->size, header->type, header->allocation};
}

std::optional<PoolBlockInfo> Pool::PoolBlockNear(const void *p, uint64_t after) const {
  const auto address = reinterpret_cast<uintptr_t>(p);
  const PoolBlockHeader *near = nullptr;
  for (const PoolBlockHeader *header = newestPoolBlock_; header != nullptr;) {
    Opened open(header, sizeof(*header));
    const auto start = reinterpret_cast<uintptr_t>(header + 1);
    if (address >= start && address - start < header->size) {
      return PoolBlockInfo{reinterpret_cast<const uint8_t *>(start), header->size, header->type, header->allocation};
    }
    const bool inHeader = address >= reinterpret_cast<uintptr_t>(header) && address < start;
    const bool pastEnd = address >= start + header->size && address - (start + header->size) < after;
    if (near == nullptr && (inHeader || pastEnd)) {
      near = header;
    }
    header = header->older;
  }
  if (near == nullptr) {
    return std::nullopt;
  }
  Opened open(near, sizeof(*near));
  return PoolBlockInfo{reinterpret_cast<const uint8_t *>(near + 1), near->size, near->type, near->allocation};
}

bool Pool::PoolHolds(const void *p, size_t n) const {
  const std::optional<PoolBlockInfo> block = PoolBlockAt(p);
  return block && n <= block->size - static_cast<uint64_t>(static_cast<const uint8_t *>(p) - block->start);
}

void Pool::PlacePoolBlocksBeforeGuardPages() {
  if (newestPoolBlock_ != nullptr) {
    throw std::logic_error("PlacePoolBlocksBeforeGuardPages after the pool served a block");
  }
  guardPages_ = true;
}

void Pool::CheckGuards(PoolBlockHeader &header, bool atFree) {
  Opened open(&header, sizeof(header));
  if (header.damageFound != 0) {
    return;
  }
  const size_t tail = AlignedSize(header.size) - header.size + (guardPages_ ? 0 : kHeapGuardBytes);
  Opened openTail(header.Block() + header.size, tail);
  DamagedPoolBlock damage{header.allocation, header.size, header.type, !AllGuard(header.Block() + header.size, tail),
                          !AllGuard(header.frontGuard, kFrontGuardBytes), atFree};
  if (damage.afterEnd || damage.beforeStart) {
    header.damageFound = 1;
    statistics_.damagedBlocks.push_back(damage);
  }
}

void Pool::CheckPoolGuards() {
  for (PoolBlockHeader *header = newestPoolBlock_; header != nullptr;) {
    CheckGuards(*header, false);
    Opened open(header, sizeof(*header));
    header = header->older;
  }
}

void Pool::ReleasePoolBlock(PoolBlockHeader *header) {
  ASAN_UNPOISON_MEMORY_REGION(header, sizeof(*header));
  const size_t size = header->size;
  if (guardPages_) {
    ASAN_UNPOISON_MEMORY_REGION(header->Block(), AlignedSize(size));
    FreeBeforeGuardPage(header, sizeof(*header) + size);
    return;
  }
  ASAN_UNPOISON_MEMORY_REGION(header->Block(), AlignedSize(size) + kHeapGuardBytes);
  const size_t total = sizeof(*header) + AlignedSize(size) + kHeapGuardBytes;
  if (kRecycleBlocks && total < kMostRecycledBytes) {
    RecycledBlocks &list = recycled_[total / kAlignment];
    if (list.count < kRecycledPerSize) {
      *reinterpret_cast<void **>(header) = list.first;
      list.first = header;
      list.count++;
      return;
    }
  }
  std::free(header);
}

void Pool::ReleaseRecycledBlocks() {
  for (RecycledBlocks &list : recycled_) {
    while (list.first != nullptr) {
      void *next = *static_cast<void **>(list.first);
      std::free(list.first);
      list.first = next;
    }
    list.count = 0;
  }
}

void *Pool::HeapBlock(size_t total) {
  if (total < kMostRecycledBytes) {
    RecycledBlocks &list = recycled_[total / kAlignment];
    if (list.first != nullptr) {
      void *block = list.first;
      list.first = *static_cast<void **>(block);
      list.count--;
      return block;
    }
  }
  return std::malloc(total);
}

EFI_STATUS Pool::AllocatePool(EFI_MEMORY_TYPE type, UINTN size, VOID **buffer) {
  const uint64_t index = ++statistics_.allocations;
  if (buffer == nullptr || type >= EfiMaxMemoryType || type == EfiConventionalMemory) {
    return EFI_INVALID_PARAMETER;
  }
  bool fail = failFrom_ && index >= *failFrom_;
  for (uint64_t failing : failAllocations_) {
    fail = fail || failing == index;
  }
  if (fail) {
    statistics_.failedAllocations++;
    ServiceCall call{Service::AllocatePool, EFI_OUT_OF_RESOURCES};
    call.allocation = index;
    call.size = size;
    call.memoryType = type;
    log_.Add(std::move(call));
    return EFI_OUT_OF_RESOURCES;
  }
  if (size > (SIZE_MAX >> 2)) {
    return EFI_OUT_OF_RESOURCES;
  }
  // The block behind the header keeps the 16-byte alignment of the host's
  // heap, and the header the 8-byte alignment of a guard-page block.
  static_assert(sizeof(PoolBlockHeader) == 64);
  const size_t tail = AlignedSize(size) - size + (guardPages_ ? 0 : kHeapGuardBytes);
  void *memory = guardPages_ ? AllocateBeforeGuardPage(sizeof(PoolBlockHeader) + size)
                             : HeapBlock(sizeof(PoolBlockHeader) + size + tail);
  if (memory == nullptr) {
    return EFI_OUT_OF_RESOURCES;
  }
  auto *header = static_cast<PoolBlockHeader *>(memory);
  header->older = newestPoolBlock_;
  header->newer = nullptr;
  header->size = size;
  header->allocation = index;
  header->type = type;
  header->damageFound = 0;
  std::memset(header->frontGuard, kGuardByte, kFrontGuardBytes);
  if (newestPoolBlock_ != nullptr) {
    Opened open(newestPoolBlock_, sizeof(PoolBlockHeader));
    newestPoolBlock_->newer = header;
  }
  newestPoolBlock_ = header;
  uint8_t *block = header->Block();
  // Never zero-filled, as on a machine: filled with a pattern so that code
  // relying on fresh pool being zero shows up.
  std::memset(block, kFillByte, size);
  std::memset(block + size, kGuardByte, tail);
  ASAN_POISON_MEMORY_REGION(header, sizeof(*header));
  ASAN_POISON_MEMORY_REGION(block + size, tail);

  statistics_.outstandingBlocks++;
  statistics_.outstandingBytes += size;
  auto &byType = statistics_.outstandingByType[type];
  byType.first++;
  byType.second += size;
  *buffer = block;
  return EFI_SUCCESS;
}

EFI_STATUS Pool::FreePool(VOID *buffer) {
  if (buffer == nullptr) {
    return EFI_INVALID_PARAMETER;
  }
  PoolBlockHeader *header = FindPoolBlock(buffer, true);
  if (header == nullptr) {
    statistics_.invalidFrees++;
    ServiceCall call{Service::FreePool, EFI_INVALID_PARAMETER};
    call.buffer = reinterpret_cast<uintptr_t>(buffer);
    log_.Add(std::move(call));
    return EFI_INVALID_PARAMETER;
  }
  CheckGuards(*header, true);
  {
    Opened open(header, sizeof(*header));
    if (header->older != nullptr) {
      Opened openOlder(header->older, sizeof(PoolBlockHeader));
      header->older->newer = header->newer;
    }
    if (header->newer != nullptr) {
      Opened openNewer(header->newer, sizeof(PoolBlockHeader));
      header->newer->older = header->older;
    } else {
      newestPoolBlock_ = header->older;
    }
    statistics_.frees++;
    statistics_.outstandingBlocks--;
    statistics_.outstandingBytes -= header->size;
    auto &byType = statistics_.outstandingByType[header->type];
    byType.first--;
    byType.second -= header->size;
  }
  ReleasePoolBlock(header);
  return EFI_SUCCESS;
}

void Pool::ReleasePoolBlocks() {
  while (newestPoolBlock_ != nullptr) {
    PoolBlockHeader *header = newestPoolBlock_;
    {
      Opened open(header, sizeof(*header));
      newestPoolBlock_ = header->older;
    }
    ReleasePoolBlock(header);
  }
}

}  // namespace sim
