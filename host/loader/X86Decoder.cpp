#include "host/loader/X86Decoder.h"

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

}  // namespace loader
