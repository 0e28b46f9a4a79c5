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
  uint8_t segment = 0;        // the last segment-override prefix (0x26, 0x2E, 0x36, 0x3E, 0x64, 0x65), 0 when none
  bool prefixF3 = false;      // a 0xF3 prefix (rep, or part of the opcode)
  bool vex = false;           // a VEX or EVEX instruction (opcodeOffset is the prefix's first byte)
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

// Whether the instruction reads or writes memory through its ModRM operand
// (lea and the other forms that only compute an address excluded).
bool AccessesModrmMemory(const X86Instruction &insn, const uint8_t *code);

// What an instruction does with the thread pointer of the process it runs
// in: nothing, an access to memory through the FS or GS base (an operand
// with that segment override), or a read or change of a base or of the
// segment register itself (rdfsbase, wrgsbase, mov fs, pop gs, lfs, ...).
// Firmware has no thread-local storage: in the loaded image either one
// reaches into this program.
enum class ThreadPointerUse { None, Access, Base };
ThreadPointerUse ThreadPointerUseOf(const X86Instruction &insn, const uint8_t *code);

// Writes a readable account of such an instruction into out (at most size
// bytes, always ended): "a read through the FS base, fs:[0x28]", "a write
// through the GS base, gs:[rax+0x10]", "rdfsbase, a read of the FS
// base". Only for an instruction ThreadPointerUseOf does not call None.
void DescribeThreadPointerUse(const X86Instruction &insn, const uint8_t *code, char *out, size_t size);

// The memory operand of an instruction with a ModRM memory operand, as
// "[rax+rcx*4+0x10]" (with its segment override, "fs:[0x28]"); RIP-relative
// operands as "[rip+0x10]". Always ended, within size bytes.
void FormatMemoryOperand(const X86Instruction &insn, const uint8_t *code, char *out, size_t size);

// The effective address of a ModRM memory operand from the registers
// (16 of them, RAX to R15, in x86 order) and the address of the next
// instruction, without a segment base.
uint64_t EffectiveAddress(const X86Instruction &insn, const uint8_t *code, const uint64_t registers[16],
                          uint64_t nextInstruction);

}  // namespace loader
