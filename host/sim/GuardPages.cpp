#include "host/sim/GuardPages.h"

#include <sys/mman.h>

#include <cstdint>
#include <deque>
#include <utility>

namespace sim {

namespace {

constexpr size_t kPage = 4096;
constexpr size_t kAlignment = 8;

size_t Aligned(size_t size) { return (size == 0 ? 1 : size + kAlignment - 1) / kAlignment * kAlignment; }
size_t DataPages(size_t size) { return (Aligned(size) + kPage - 1) / kPage; }

// A freed block's pages stay reserved without access for the next
// kQuarantined frees before they are unmapped: an unmapped range may be
// handed out again by the next mapping anyone in the process makes (the
// sanitizers' own allocator does so at once), and a use after the free
// would then read that memory instead of faulting.
constexpr size_t kQuarantined = 256;
std::deque<std::pair<void *, size_t>> gQuarantine;

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
  const size_t length = (pages + 1) * kPage;
  if (mmap(base, length, PROT_NONE, MAP_PRIVATE | MAP_ANONYMOUS | MAP_FIXED | MAP_NORESERVE, -1, 0) == MAP_FAILED) {
    munmap(base, length);
    return;
  }
  gQuarantine.emplace_back(base, length);
  if (gQuarantine.size() > kQuarantined) {
    munmap(gQuarantine.front().first, gQuarantine.front().second);
    gQuarantine.pop_front();
  }
}

}  // namespace sim
