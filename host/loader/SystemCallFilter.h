// The system-call filter (internal to host/loader; SystemCallFilter.cpp).
#pragma once

#include <cstdint>

namespace loader::traps {

// A system call made by an instruction inside [start, start + size) raises
// SIGSYS instead of reaching the kernel: firmware code has no kernel to call,
// and a damaged image could otherwise end or rewire this process through
// one. Filters cannot be removed, so it stays for the process's life; every
// system call made elsewhere is allowed as before. False when the kernel
// does not take the filter.
bool TrapSystemCallsFrom(uint64_t start, uint64_t size);

}  // namespace loader::traps
