// The pool: AllocatePool and FreePool with accounting per memory type,
// fault injection, and the questions reports ask of live blocks.
#include <cstdlib>
#include <cstring>
#include <stdexcept>

#include "host/sim/GuardPages.h"
#include "host/sim/SimFirmware.h"

namespace sim {

std::optional<EFI_MEMORY_TYPE> SimFirmware::PoolBlockType(const void *buffer) const {
  auto found = poolBlocks_.find(const_cast<void *>(buffer));
  if (found == poolBlocks_.end()) {
    return std::nullopt;
  }
  return found->second.type;
}

void SimFirmware::PlacePoolBlocksBeforeGuardPages() {
  if (!poolBlocks_.empty()) {
    throw std::logic_error("PlacePoolBlocksBeforeGuardPages after the pool served a block");
  }
  guardPages_ = true;
}

void SimFirmware::ReleaseBlock(void *pointer, size_t size) const {
  if (guardPages_) {
    FreeBeforeGuardPage(pointer, size);
  } else {
    std::free(pointer);
  }
}

bool SimFirmware::PoolHolds(const void *p, size_t n) const {
  auto after = poolBlocks_.upper_bound(const_cast<void *>(p));
  if (after == poolBlocks_.begin()) {
    return false;
  }
  const auto &[start, block] = *std::prev(after);
  const uintptr_t offset = reinterpret_cast<uintptr_t>(p) - reinterpret_cast<uintptr_t>(start);
  return offset <= block.size && n <= block.size - offset;
}

EFI_STATUS SimFirmware::AllocatePool(EFI_MEMORY_TYPE type, UINTN size, VOID **buffer) {
  const uint64_t index = ++pool_.allocations;
  if (buffer == nullptr || type >= EfiMaxMemoryType || type == EfiConventionalMemory) {
    return EFI_INVALID_PARAMETER;
  }
  bool fail = platform_.faults.failAllocationsFrom && index >= *platform_.faults.failAllocationsFrom;
  for (uint64_t failing : platform_.faults.failAllocations) {
    fail = fail || failing == index;
  }
  if (fail) {
    pool_.failedAllocations++;
    ServiceCall call{Service::AllocatePool, EFI_OUT_OF_RESOURCES};
    call.allocation = index;
    call.size = size;
    call.memoryType = type;
    Log(std::move(call));
    return EFI_OUT_OF_RESOURCES;
  }
  // Never zero-filled, as on a machine: fill with a pattern so that code
  // relying on fresh pool being zero shows up.
  void *pointer = guardPages_ ? AllocateBeforeGuardPage(size) : std::malloc(size == 0 ? 1 : size);
  if (pointer == nullptr) {
    return EFI_OUT_OF_RESOURCES;
  }
  std::memset(pointer, 0xAF, size);
  poolBlocks_[pointer] = {size, type};
  pool_.outstandingBlocks++;
  pool_.outstandingBytes += size;
  auto &byType = pool_.outstandingByType[type];
  byType.first++;
  byType.second += size;
  *buffer = pointer;
  return EFI_SUCCESS;
}

EFI_STATUS SimFirmware::FreePool(VOID *buffer) {
  if (buffer == nullptr) {
    return EFI_INVALID_PARAMETER;
  }
  auto found = poolBlocks_.find(buffer);
  if (found == poolBlocks_.end()) {
    pool_.invalidFrees++;
    ServiceCall call{Service::FreePool, EFI_INVALID_PARAMETER};
    call.buffer = reinterpret_cast<uintptr_t>(buffer);
    Log(std::move(call));
    return EFI_INVALID_PARAMETER;
  }
  pool_.frees++;
  pool_.outstandingBlocks--;
  pool_.outstandingBytes -= found->second.size;
  auto &byType = pool_.outstandingByType[found->second.type];
  byType.first--;
  byType.second -= found->second.size;
  if (byType.first == 0) {
    pool_.outstandingByType.erase(found->second.type);
  }
  ReleaseBlock(found->first, found->second.size);
  poolBlocks_.erase(found);
  return EFI_SUCCESS;
}

}  // namespace sim
