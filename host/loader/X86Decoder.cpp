#include "host/loader/X86Decoder.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

namespace loader {

namespace {

// What follows an opcode: whether a ModRM byte does, and which immediate.
enum Immediate : uint8_t {
  kNone,
  kByte,      // 8 bits
  kWord,      // 16 bits
  kFull,      // 16 or 32 bits by operand size
  kWide,      // 16, 32 or 64 bits (mov r, imm)
  kOffset,    // a 32- or 64-bit absolute address by address size
  kEnter,     // 16 + 8 bits
  kGroup3,    // test r/m, imm (ModRM reg 0 and 1) takes one: kByte or kFull by opcode
  kUndefined  // no such instruction in 64-bit mode
};

struct Form {
  bool modrm;
  Immediate immediate;
};

Form OneByteForm(uint8_t op) {
  if (op < 0x40) {
    switch (op & 7) {
      case 0: case 1: case 2: case 3:
        return {true, kNone};
      case 4:
        return {false, kByte};
      case 5:
        return {false, kFull};
      default:
        // push/pop of segment registers, BCD adjusts: gone in 64-bit mode
        return {false, kUndefined};
    }
  }
  if (op >= 0x50 && op <= 0x5F) return {false, kNone};
  if (op >= 0x70 && op <= 0x7F) return {false, kByte};
  if (op >= 0x84 && op <= 0x8F) return {true, kNone};
  if (op >= 0x90 && op <= 0x9F) return {false, op == 0x9A ? kUndefined : kNone};
  if (op >= 0xA0 && op <= 0xA3) return {false, kOffset};
  if (op >= 0xB0 && op <= 0xB7) return {false, kByte};
  if (op >= 0xB8 && op <= 0xBF) return {false, kWide};
  if (op >= 0xD8 && op <= 0xDF) return {true, kNone};  // x87
  if (op >= 0xE0 && op <= 0xE7) return {false, kByte};
  switch (op) {
    case 0x60: case 0x61: case 0x62: case 0x82: case 0xC4: case 0xC5: case 0xCE:
    case 0xD4: case 0xD5: case 0xD6: case 0xEA:
      return {false, kUndefined};
    case 0x63: return {true, kNone};
    case 0x68: return {false, kFull};
    case 0x69: return {true, kFull};
    case 0x6A: return {false, kByte};
    case 0x6B: return {true, kByte};
    case 0x80: return {true, kByte};
    case 0x81: return {true, kFull};
    case 0x83: return {true, kByte};
    case 0xA8: return {false, kByte};
    case 0xA9: return {false, kFull};
    case 0xC0: case 0xC1: return {true, kByte};
    case 0xC2: case 0xCA: return {false, kWord};
    case 0xC6: return {true, kByte};
    case 0xC7: return {true, kFull};
    case 0xC8: return {false, kEnter};
    case 0xCD: return {false, kByte};
    case 0xD0: case 0xD1: case 0xD2: case 0xD3: return {true, kNone};
    case 0xE8: case 0xE9: return {false, kFull};
    case 0xEB: return {false, kByte};
    case 0xF6: case 0xF7: return {true, kGroup3};
    case 0xFE: case 0xFF: return {true, kNone};
    default:
      return {false, kNone};
  }
}

Form TwoByteForm(uint8_t op) {
  if (op >= 0x80 && op <= 0x8F) return {false, kFull};  // jcc rel32
  if (op >= 0xC8 && op <= 0xCF) return {false, kNone};  // bswap
  if (op >= 0x30 && op <= 0x37) return {false, kNone};  // wrmsr, rdtsc, rdmsr, rdpmc, sysenter, ...
  if (op >= 0x70 && op <= 0x73) return {true, kByte};
  switch (op) {
    case 0x04: case 0x0A: case 0x0C: case 0x39: case 0x3B: case 0x3C: case 0x3D: case 0x3E: case 0x3F:
    case 0xA6: case 0xA7:
      return {false, kUndefined};
    case 0x05: case 0x06: case 0x07: case 0x08: case 0x09: case 0x0B: case 0x0E: case 0x77:
    case 0xA0: case 0xA1: case 0xA2: case 0xA8: case 0xA9: case 0xAA:
      return {false, kNone};
    case 0x0F: case 0x3A: case 0xA4: case 0xAC: case 0xBA: case 0xC2: case 0xC4: case 0xC5: case 0xC6:
      return {true, kByte};
    default:
      return {true, kNone};
  }
}

// The bytes of a ModRM operand (ModRM, SIB, displacement); 0 when they run
// past the end.
unsigned ModrmLength(const uint8_t *code, size_t at, size_t available) {
  if (at >= available) {
    return 0;
  }
  const uint8_t modrm = code[at];
  const unsigned mod = modrm >> 6;
  const unsigned rm = modrm & 7;
  unsigned length = 1;
  if (mod == 3) {
    return length;
  }
  if (rm == 4) {
    if (at + 1 >= available) {
      return 0;
    }
    length++;
    if (mod == 0 && (code[at + 1] & 7) == 5) {
      length += 4;
    }
  } else if (mod == 0 && rm == 5) {
    length += 4;  // RIP-relative
  }
  length += mod == 1 ? 1 : mod == 2 ? 4 : 0;
  return at + length <= available ? length : 0;
}

bool IsLegacyPrefix(uint8_t byte) {
  switch (byte) {
    case 0x66: case 0x67: case 0xF0: case 0xF2: case 0xF3:
    case 0x26: case 0x2E: case 0x36: case 0x3E: case 0x64: case 0x65:
      return true;
    default:
      return false;
  }
}

}  // namespace

X86Instruction DecodeX86(const uint8_t *code, size_t available) {
  X86Instruction insn;
  size_t at = 0;
  for (; at < available && at < 15; at++) {
    const uint8_t byte = code[at];
    if (IsLegacyPrefix(byte)) {
      insn.operandSize16 |= byte == 0x66;
      insn.addressSize32 |= byte == 0x67;
      insn.prefixF3 |= byte == 0xF3;
      if (byte == 0x26 || byte == 0x2E || byte == 0x36 || byte == 0x3E || byte == 0x64 || byte == 0x65) {
        insn.segment = byte;
      }
      insn.rex = 0;  // a REX prefix counts only right before the opcode
    } else if ((byte & 0xF0) == 0x40) {
      insn.rex = byte;
    } else {
      break;
    }
  }
  if (at >= available) {
    return X86Instruction{};
  }
  insn.opcodeOffset = static_cast<unsigned>(at);
  const uint8_t first = code[at++];
  Form form{};
  if (first == 0xC4 || first == 0xC5 || first == 0x62) {
    // VEX (two or three bytes) and EVEX (four): a prefix that names the
    // opcode map, then the opcode and always a ModRM operand.
    const size_t prefix = first == 0xC5 ? 2 : first == 0xC4 ? 3 : 4;
    insn.vex = true;
    if (at - 1 + prefix >= available) {
      return X86Instruction{};
    }
    const unsigned map = first == 0xC5 ? 1 : first == 0xC4 ? (code[at] & 0x1F) : (code[at] & 3);
    at = at - 1 + prefix;
    insn.opcode = code[at++];
    const uint8_t op = insn.opcode;
    const bool vexImmediateMap = map == 3 || (map == 1 && ((op >= 0x70 && op <= 0x73) || op == 0xC2 || (op >= 0xC4 && op <= 0xC6)));
    // vzeroupper and vzeroall are the one form without a ModRM operand.
    form = {!(first != 0x62 && map == 1 && op == 0x77), vexImmediateMap ? kByte : kNone};
  } else if (first == 0x0F) {
    if (at >= available) {
      return X86Instruction{};
    }
    insn.twoByte = true;
    insn.opcode = code[at++];
    form = TwoByteForm(insn.opcode);
    if (insn.opcode == 0x38 || insn.opcode == 0x3A) {
      if (at >= available) {
        return X86Instruction{};
      }
      at++;  // the third opcode byte
    }
  } else {
    insn.opcode = first;
    form = OneByteForm(first);
  }
  if (form.immediate == kUndefined) {
    insn.valid = false;
    insn.length = insn.opcodeOffset + 1;
    insn.immediateOffset = insn.length;
    return insn;
  }
  if (form.modrm) {
    insn.hasModrm = true;
    insn.modrmOffset = static_cast<unsigned>(at);
    const unsigned operand = ModrmLength(code, at, available);
    if (operand == 0) {
      return X86Instruction{};
    }
    at += operand;
  }
  insn.immediateOffset = static_cast<unsigned>(at);
  const bool rexW = (insn.rex & 8) != 0;
  const unsigned full = insn.operandSize16 ? 2 : 4;
  switch (form.immediate) {
    case kByte: at += 1; break;
    case kWord: at += 2; break;
    case kFull: at += full; break;
    case kWide: at += rexW ? 8 : full; break;
    case kOffset: at += insn.addressSize32 ? 4 : 8; break;
    case kEnter: at += 3; break;
    case kGroup3:
      if (((code[insn.modrmOffset] >> 3) & 7) < 2) {
        at += insn.opcode == 0xF6 ? 1 : full;
      }
      break;
    default:
      break;
  }
  if (at > available) {
    return X86Instruction{};
  }
  insn.length = static_cast<unsigned>(at);
  return insn;
}

namespace {

const char *const kRegisterNames[16] = {"rax", "rcx", "rdx", "rbx", "rsp", "rbp", "rsi", "rdi",
                                        "r8",  "r9",  "r10", "r11", "r12", "r13", "r14", "r15"};

// Where the ModRM operand's parts lie: base and index registers (-1: none),
// scale, displacement, and whether it is RIP-relative.
struct MemoryOperand {
  int base = -1;
  int index = -1;
  unsigned scale = 1;
  int64_t displacement = 0;
  bool ripRelative = false;
};

MemoryOperand ReadMemoryOperand(const X86Instruction &insn, const uint8_t *code) {
  MemoryOperand operand;
  const uint8_t modrm = code[insn.modrmOffset];
  const unsigned mod = modrm >> 6;
  const unsigned rm = modrm & 7;
  unsigned at = insn.modrmOffset + 1;
  if (rm == 4) {
    const uint8_t sib = code[at++];
    operand.scale = 1u << (sib >> 6);
    const unsigned index = ((sib >> 3) & 7) | ((insn.rex & 2) ? 8 : 0);
    operand.index = index == 4 ? -1 : static_cast<int>(index);
    const unsigned base = (sib & 7) | ((insn.rex & 1) ? 8 : 0);
    operand.base = mod == 0 && (sib & 7) == 5 ? -1 : static_cast<int>(base);
    if (mod == 0 && (sib & 7) == 5) {
      int32_t disp;
      std::memcpy(&disp, code + at, 4);
      operand.displacement = disp;
    }
  } else if (mod == 0 && rm == 5) {
    operand.ripRelative = true;
    int32_t disp;
    std::memcpy(&disp, code + at, 4);
    operand.displacement = disp;
  } else {
    operand.base = static_cast<int>(rm | ((insn.rex & 1) ? 8 : 0));
  }
  if (mod == 1) {
    operand.displacement = static_cast<int8_t>(code[at]);
  } else if (mod == 2) {
    int32_t disp;
    std::memcpy(&disp, code + at, 4);
    operand.displacement = disp;
  }
  return operand;
}

const char *SegmentName(uint8_t prefix) {
  switch (prefix) {
    case 0x26: return "es:";
    case 0x2E: return "cs:";
    case 0x36: return "ss:";
    case 0x3E: return "ds:";
    case 0x64: return "fs:";
    case 0x65: return "gs:";
    default: return "";
  }
}

// Whether the instruction only reads its memory operand, only writes it, or
// does either or both (0 unknown, 1 read, 2 write).
int AccessKind(const X86Instruction &insn, const uint8_t *code) {
  const uint8_t op = insn.opcode;
  const unsigned reg = insn.hasModrm ? (code[insn.modrmOffset] >> 3) & 7 : 0;
  if (insn.vex) {
    return 0;
  }
  if (!insn.twoByte) {
    switch (op) {
      case 0x88: case 0x89: case 0xA2: case 0xA3:
        return 2;
      case 0xC6: case 0xC7:
        return reg == 0 ? 2 : 0;
      case 0x8F:
        return reg == 0 ? 2 : 0;
      case 0x8A: case 0x8B: case 0x63: case 0xA0: case 0xA1: case 0x38: case 0x39: case 0x3A: case 0x3B:
      case 0x84: case 0x85: case 0xA4: case 0xA5: case 0xA6: case 0xA7: case 0xAC: case 0xAD:
        return 1;
      case 0xFF:
        return reg == 6 ? 1 : 0;  // push m
      default:
        return 0;
    }
  }
  switch (op) {
    case 0x11: case 0x13: case 0x17: case 0x29: case 0x2B: case 0x7F: case 0xD6: case 0xE7: case 0xC3:
      return 2;
    case 0x7E:
      return insn.prefixF3 ? 1 : 2;  // movq xmm, m64; else movd/movq m, reg
    case 0x10: case 0x12: case 0x16: case 0x28: case 0x6E: case 0x6F: case 0xB6: case 0xB7: case 0xBE: case 0xBF:
      return 1;
    default:
      return (op >= 0x90 && op <= 0x9F) ? 2 : 0;  // setcc m8
  }
}

}  // namespace

bool AccessesModrmMemory(const X86Instruction &insn, const uint8_t *code) {
  if (!insn.hasModrm || (code[insn.modrmOffset] >> 6) == 3) {
    return false;
  }
  if (insn.vex) {
    return true;
  }
  const uint8_t op = insn.opcode;
  if (!insn.twoByte) {
    return op != 0x8D;  // lea computes an address only
  }
  // Hint nops and prefetches compute an address without an access that
  // faults; the 0F 01 group's memory forms are descriptor-table instructions.
  return !(op >= 0x18 && op <= 0x1F) && op != 0x0D && op != 0x01 && op != 0x00;
}

ThreadPointerUse ThreadPointerUseOf(const X86Instruction &insn, const uint8_t *code) {
  if (insn.length == 0 || !insn.valid) {
    return ThreadPointerUse::None;
  }
  const uint8_t op = insn.opcode;
  const unsigned mod = insn.hasModrm ? code[insn.modrmOffset] >> 6 : 0;
  const unsigned reg = insn.hasModrm ? (code[insn.modrmOffset] >> 3) & 7 : 0;
  if (!insn.vex && insn.twoByte) {
    // rdfsbase, rdgsbase, wrfsbase, wrgsbase: F3 0F AE /0 to /3, register form.
    if (op == 0xAE && insn.prefixF3 && mod == 3 && reg < 4) {
      return ThreadPointerUse::Base;
    }
    // pop fs, pop gs, lfs, lgs: load the segment register.
    if (op == 0xA1 || op == 0xA9 || op == 0xB4 || op == 0xB5) {
      return ThreadPointerUse::Base;
    }
  }
  // mov fs, r/m and mov gs, r/m.
  if (!insn.vex && !insn.twoByte && op == 0x8E && (reg == 4 || reg == 5)) {
    return ThreadPointerUse::Base;
  }
  if (insn.segment != 0x64 && insn.segment != 0x65) {
    return ThreadPointerUse::None;
  }
  if (AccessesModrmMemory(insn, code)) {
    return ThreadPointerUse::Access;
  }
  // mov al/eax/rax, moffs and back; the string instructions whose source
  // (DS:RSI) an override moves.
  if (!insn.vex && !insn.twoByte &&
      ((op >= 0xA0 && op <= 0xA3) || (op >= 0xA4 && op <= 0xA7) || op == 0xAC || op == 0xAD || op == 0x6E ||
       op == 0x6F)) {
    return ThreadPointerUse::Access;
  }
  return ThreadPointerUse::None;
}

void FormatMemoryOperand(const X86Instruction &insn, const uint8_t *code, char *out, size_t size) {
  const char *segment = SegmentName(insn.segment);
  if (!insn.hasModrm) {
    if (!insn.vex && !insn.twoByte && insn.opcode >= 0xA0 && insn.opcode <= 0xA3) {
      uint64_t offset = 0;
      std::memcpy(&offset, code + insn.immediateOffset, insn.addressSize32 ? 4 : 8);
      std::snprintf(out, size, "%s[0x%llX]", segment, static_cast<unsigned long long>(offset));
    } else {
      std::snprintf(out, size, "%s[rsi]", segment);
    }
    return;
  }
  const MemoryOperand operand = ReadMemoryOperand(insn, code);
  char parts[64] = "";
  size_t used = 0;
  auto add = [&](const char *text) {
    const int n = std::snprintf(parts + used, sizeof(parts) - used, "%s%s", used != 0 ? "+" : "", text);
    if (n > 0) {
      used = std::min(sizeof(parts) - 1, used + static_cast<size_t>(n));
    }
  };
  if (operand.ripRelative) {
    add("rip");
  }
  if (operand.base >= 0) {
    add(kRegisterNames[operand.base]);
  }
  if (operand.index >= 0) {
    char index[16];
    std::snprintf(index, sizeof(index), operand.scale == 1 ? "%s" : "%s*%u", kRegisterNames[operand.index],
                  operand.scale);
    add(index);
  }
  if (operand.displacement != 0 || used == 0) {
    char disp[24];
    const bool negative = operand.displacement < 0 && used != 0;
    const uint64_t magnitude =
        negative ? 0 - static_cast<uint64_t>(operand.displacement) : static_cast<uint64_t>(operand.displacement);
    std::snprintf(disp, sizeof(disp), "0x%llX", static_cast<unsigned long long>(magnitude));
    if (negative) {
      std::snprintf(parts + used, sizeof(parts) - used, "-%s", disp);
    } else {
      add(disp);
    }
  }
  std::snprintf(out, size, "%s[%s]", segment, parts);
}

void DescribeThreadPointerUse(const X86Instruction &insn, const uint8_t *code, char *out, size_t size) {
  const uint8_t op = insn.opcode;
  if (ThreadPointerUseOf(insn, code) == ThreadPointerUse::Base) {
    const unsigned reg = insn.hasModrm ? (code[insn.modrmOffset] >> 3) & 7 : 0;
    if (insn.twoByte && op == 0xAE) {
      static const char *const kBaseInstructions[4] = {"rdfsbase, a read of the FS base",
                                                       "rdgsbase, a read of the GS base",
                                                       "wrfsbase, a change of the FS base",
                                                       "wrgsbase, a change of the GS base"};
      std::snprintf(out, size, "%s", kBaseInstructions[reg]);
    } else {
      const bool fs = insn.twoByte ? (op == 0xA1 || op == 0xB4) : reg == 4;
      std::snprintf(out, size, "a load of the %s segment register, which moves its base", fs ? "FS" : "GS");
    }
    return;
  }
  char operand[96];
  FormatMemoryOperand(insn, code, operand, sizeof(operand));
  const int kind = AccessKind(insn, code);
  std::snprintf(out, size, "%s through the %s base, %s", kind == 1 ? "a read" : kind == 2 ? "a write" : "an access",
                insn.segment == 0x64 ? "FS" : "GS", operand);
}

uint64_t EffectiveAddress(const X86Instruction &insn, const uint8_t *code, const uint64_t registers[16],
                          uint64_t nextInstruction) {
  const MemoryOperand operand = ReadMemoryOperand(insn, code);
  uint64_t address = static_cast<uint64_t>(operand.displacement);
  if (operand.ripRelative) {
    address += nextInstruction;
  }
  if (operand.base >= 0) {
    address += registers[operand.base];
  }
  if (operand.index >= 0) {
    address += registers[operand.index] * operand.scale;
  }
  return insn.addressSize32 ? address & 0xFFFFFFFFULL : address;
}

}  // namespace loader
