// The address ranges the loader knows (internal to host/loader): the
// hardware windows it maps without access, and the words for an address
// in a message (AddressWindows.cpp).
#pragma once

#include <cstddef>
#include <cstdint>

namespace loader::traps {

// The memory of the first 64 KiB, which no mapping of this program may hold.
constexpr uint64_t kLowestMappable = 0x10000;

// Whether an address lies in one of the hardware windows.
bool InWindow(uint64_t address);
// Whether an address can be one at all: bits 63 to 47 all equal.
bool Canonical(uint64_t address);

// Maps every hardware window at its fixed address with no access, so that
// each load and store there faults. Throws ImageError, with none left
// mapped, when one cannot be had at its address.
void ReserveWindows();
void ReleaseWindows();

// Where an instruction ran: "at image+0x...", "in host function NAME" (",
// which the driver called" while it runs), "in host code (MODULE+0x...)",
// or the named address outside both. Async-signal-safe.
void NameCodeAddress(uint64_t rip, char *where, size_t size);

// " accessing NAME" for the address a faulting access reached: on the stack
// relative to the stack pointer, else named as NameAddress names it.
void NameDataAddress(uint64_t address, uint64_t stackPointer, char *access, size_t size);

}  // namespace loader::traps
