#include "host/sim/GuardPages.h"

#include <sys/mman.h>

#include <cstdint>

namespace sim {

namespace {

constexpr size_t kPage = 4096;
constexpr size_t kAlignment = 8;

size_t Aligned(size_t size) { return (size == 0 ? 1 : size + kAlignment - 1) / kAlignment * kAlignment; }
size_t DataPages(size_t size) { return (Aligned(size) + kPage - 1) / kPage; }

}  // namespace

void *AllocateBeforeGuardPage(size_t size) {
  if (size > (SIZE_MAX >> 1)) {
    return nullptr;
  }
  const size_t pages = DataPages(size);
  void *mapping = mmap(nullptr, (pages + 1) * kPage, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
  if (mapping == MAP_FAILED) {
    return nullptr;
  }
  auto *base = static_cast<uint8_t *>(mapping);
  if (mprotect(base + pages * kPage, kPage, PROT_NONE) != 0) {
    munmap(mapping, (pages + 1) * kPage);
    return nullptr;
  }
  return base + pages * kPage - Aligned(size);
}

void FreeBeforeGuardPage(void *block, size_t size) {
  const size_t pages = DataPages(size);
  auto *base = static_cast<uint8_t *>(block) + Aligned(size) - pages * kPage;
  munmap(base, (pages + 1) * kPage);
}

}  // namespace sim
