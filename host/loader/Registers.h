// The general registers of a signal's context by their x86 number, read
// and written as an instruction of a given width does (internal to
// host/loader).
#pragma once

#include <ucontext.h>

#include <cstdint>

namespace loader::traps {

// General registers by their x86 number (0 RAX ... 15 R15).
inline greg_t &Register(ucontext_t *context, unsigned number) {
  static const int kIndex[16] = {REG_RAX, REG_RCX, REG_RDX, REG_RBX, REG_RSP, REG_RBP, REG_RSI, REG_RDI,
                                 REG_R8,  REG_R9,  REG_R10, REG_R11, REG_R12, REG_R13, REG_R14, REG_R15};
  return context->uc_mcontext.gregs[kIndex[number & 15]];
}

// Writes a value to a register the way a load of that width does: 32-bit
// results clear the upper half, 8- and 16-bit results keep the rest.
inline void Store(ucontext_t *context, unsigned number, unsigned width, bool rex, uint64_t value) {
  if (width == 8 && !rex && number >= 4 && number < 8) {
    greg_t &high = Register(context, number - 4);  // AH, CH, DH, BH
    high = static_cast<greg_t>((static_cast<uint64_t>(high) & ~0xFF00ULL) | ((value & 0xFF) << 8));
    return;
  }
  greg_t &target = Register(context, number);
  const uint64_t old = static_cast<uint64_t>(target);
  switch (width) {
    case 8:
      target = static_cast<greg_t>((old & ~0xFFULL) | (value & 0xFF));
      break;
    case 16:
      target = static_cast<greg_t>((old & ~0xFFFFULL) | (value & 0xFFFF));
      break;
    case 32:
      target = static_cast<greg_t>(value & 0xFFFFFFFFULL);
      break;
    default:
      target = static_cast<greg_t>(value);
  }
}

inline uint64_t Load(ucontext_t *context, unsigned number, unsigned width, bool rex) {
  if (width == 8 && !rex && number >= 4 && number < 8) {
    return (static_cast<uint64_t>(Register(context, number - 4)) >> 8) & 0xFF;
  }
  const uint64_t value = static_cast<uint64_t>(Register(context, number));
  return width >= 64 ? value : value & ((1ULL << width) - 1);
}

// Execution resumes at rip when the handler returns.
inline void Resume(ucontext_t *context, uint64_t rip) { context->uc_mcontext.gregs[REG_RIP] = static_cast<greg_t>(rip); }

}  // namespace loader::traps
