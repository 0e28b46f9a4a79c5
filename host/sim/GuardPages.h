// Memory for pool blocks that ends right before an inaccessible page, so that
// code reading or writing past the end of its block faults on the spot
// instead of silently corrupting the host's own heap. Used when the pool
// serves a loaded driver image, whose code no sanitizer watches: its fault
// handler then names the instruction that overran.
#pragma once

#include <cstddef>

namespace sim {

// A block of size bytes (at least one) whose end, rounded up to 8 bytes as
// pool blocks are aligned, is the first byte of an inaccessible page. Null
// when the memory cannot be had.
void *AllocateBeforeGuardPage(size_t size);

// Returns a block of AllocateBeforeGuardPage; any later access to it faults
// (its pages stay reserved without access for the next 256 frees, then are
// unmapped).
void FreeBeforeGuardPage(void *block, size_t size);

}  // namespace sim
