// A write as code that no sanitizer watches makes it (a loaded image, or
// any code in a plain build): for tests that damage the bytes around a
// pool block on purpose. Under AddressSanitizer an instrumented write there
// is stopped on the spot, since the pool poisons those bytes; this one
// lands, for the pool to find.
#pragma once

#include <cstdint>

#if defined(__SANITIZE_ADDRESS__)
__attribute__((no_sanitize_address, noinline))
#endif
inline void WriteUnwatched(void *at, uint8_t value) {
  *static_cast<volatile uint8_t *>(at) = value;
}
