// A small x86-64 instruction decoder: enough to walk machine code one
// instruction at a time (prefixes, opcode maps, ModRM, SIB, displacement,
// immediates) and to say which instruction sits at each boundary. The
// loader uses it to find the driver's time-stamp and CPUID instructions in
// its code, and its fault handler to find the operand of a faulting access.
#pragma once

#include <cstddef>
#include <cstdint>

namespace loader {

struct X86Instruction {
  unsigned length = 0;        // bytes, prefixes included; 0 when the bytes end inside it
  unsigned opcodeOffset = 0;  // where the opcode's first byte lies (after prefixes and REX)
  bool twoByte = false;       // opcode in the 0F map
  uint8_t opcode = 0;         // the opcode byte (the second one for the 0F map)
  bool operandSize16 = false; // a 0x66 prefix
  bool addressSize32 = false; // a 0x67 prefix
  uint8_t rex = 0;            // the REX prefix, 0 when absent
  bool hasModrm = false;
  unsigned modrmOffset = 0;
  unsigned immediateOffset = 0;  // where the immediate begins (length when none)
  bool valid = true;             // false: an opcode that does not exist in 64-bit mode (length 1)
};

// Decodes the instruction at code, of which available bytes may be read.
// Every byte sequence decodes: an opcode undefined in 64-bit mode gives an
// invalid one-byte instruction, so a walk always moves on.
X86Instruction DecodeX86(const uint8_t *code, size_t available);

// The two instructions the loader may have to intercept.
inline bool IsRdtsc(const X86Instruction &insn) { return insn.twoByte && insn.opcode == 0x31; }
inline bool IsCpuid(const X86Instruction &insn) { return insn.twoByte && insn.opcode == 0xA2; }

}  // namespace loader
