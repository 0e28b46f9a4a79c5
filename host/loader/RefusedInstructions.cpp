// Refused instructions: the words for an instruction of the driver's that
// the processor refused in user mode (a general-protection fault, which
// gives no address): a privileged or I/O instruction by name and operands,
// a jump or an access to an address that is not canonical, or its bytes.
#include <algorithm>
#include <cstdio>
#include <cstring>

#include "host/loader/AddressWindows.h"
#include "host/loader/InstructionEmulation.h"
#include "host/loader/Registers.h"
#include "host/loader/TrapState.h"
#include "host/loader/X86Decoder.h"

namespace loader::traps {

const char *NameGeneralProtection(ucontext_t *context, uint64_t rip, char *access, size_t accessSize) {
  static char why[256];
  size_t available = 15;
  if (gImage != nullptr && gImage->Contains(rip)) {
    available = std::min<size_t>(available, gImage->Size() - (rip - reinterpret_cast<uint64_t>(gImage->Base())));
  }
  const auto *code = reinterpret_cast<const uint8_t *>(rip);
  const X86Instruction insn = DecodeX86(code, available);
  if (insn.length == 0) {
    return "a general-protection fault";
  }
  uint64_t registers[16];
  for (unsigned i = 0; i < 16; i++) {
    registers[i] = static_cast<uint64_t>(Register(context, i));
  }
  const uint8_t op = insn.opcode;
  const unsigned mod = insn.hasModrm ? code[insn.modrmOffset] >> 6 : 0;
  const unsigned reg = insn.hasModrm ? (code[insn.modrmOffset] >> 3) & 7 : 0;
  const uint8_t modrm = insn.hasModrm ? code[insn.modrmOffset] : 0;
  const unsigned port = static_cast<unsigned>(registers[2] & 0xFFFF);
  const char *accumulator = insn.operandSize16 ? "ax" : "eax";
  char text[128] = "";
  bool io = false;
  bool privileged = false;
  if (!insn.vex && !insn.twoByte) {
    switch (op) {
      case 0xF4: std::snprintf(text, sizeof(text), "hlt"); privileged = true; break;
      case 0xFA: std::snprintf(text, sizeof(text), "cli"); privileged = true; break;
      case 0xFB: std::snprintf(text, sizeof(text), "sti"); privileged = true; break;
      case 0xCF: std::snprintf(text, sizeof(text), "iret"); privileged = true; break;
      case 0xCD: std::snprintf(text, sizeof(text), "int 0x%02X", code[insn.immediateOffset]); privileged = true; break;
      case 0xE4: case 0xE5:
        std::snprintf(text, sizeof(text), "in %s, 0x%02X", op == 0xE4 ? "al" : accumulator, code[insn.immediateOffset]);
        io = true;
        break;
      case 0xEC: case 0xED:
        std::snprintf(text, sizeof(text), "in %s, dx (port 0x%04X)", op == 0xEC ? "al" : accumulator, port);
        io = true;
        break;
      case 0xE6: case 0xE7:
        std::snprintf(text, sizeof(text), "out 0x%02X, %s", code[insn.immediateOffset], op == 0xE6 ? "al" : accumulator);
        io = true;
        break;
      case 0xEE: case 0xEF:
        std::snprintf(text, sizeof(text), "out dx, %s (port 0x%04X)", op == 0xEE ? "al" : accumulator, port);
        io = true;
        break;
      case 0x6C: case 0x6D:
        std::snprintf(text, sizeof(text), "ins (port 0x%04X)", port);
        io = true;
        break;
      case 0x6E: case 0x6F:
        std::snprintf(text, sizeof(text), "outs (port 0x%04X)", port);
        io = true;
        break;
      default:
        break;
    }
    // A jump, call or return to an address that is not canonical faults
    // at the instruction that would go there.
    uint64_t target = 0;
    bool transfer = false;
    if (op == 0xFF && (reg == 2 || reg == 4)) {
      transfer = true;
      if (mod == 3) {
        target = registers[(modrm & 7) | ((insn.rex & 1) ? 8 : 0)];
      } else {
        const uint64_t slot = EffectiveAddress(insn, code, registers, rip + insn.length);
        if (Canonical(slot)) {
          std::memcpy(&target, reinterpret_cast<const void *>(slot), sizeof(target));
        }
      }
    } else if (op == 0xC3 || op == 0xC2) {
      transfer = true;
      std::memcpy(&target, reinterpret_cast<const void *>(registers[4]), sizeof(target));
    }
    if (transfer && !Canonical(target)) {
      std::snprintf(why, sizeof(why), "execution left the image: a %s to 0x%llX, which is not a canonical address",
                    op == 0xFF ? (reg == 2 ? "call" : "jump") : "return", static_cast<unsigned long long>(target));
      return why;
    }
  } else if (!insn.vex) {
    switch (op) {
      case 0x30:
        std::snprintf(text, sizeof(text), "wrmsr (MSR 0x%X)", static_cast<unsigned>(registers[1] & 0xFFFFFFFF));
        privileged = true;
        break;
      case 0x32:
        std::snprintf(text, sizeof(text), "rdmsr (MSR 0x%X)", static_cast<unsigned>(registers[1] & 0xFFFFFFFF));
        privileged = true;
        break;
      case 0x33: std::snprintf(text, sizeof(text), "rdpmc"); privileged = true; break;
      case 0x06: std::snprintf(text, sizeof(text), "clts"); privileged = true; break;
      case 0x07: std::snprintf(text, sizeof(text), "sysret"); privileged = true; break;
      case 0x08: std::snprintf(text, sizeof(text), "invd"); privileged = true; break;
      case 0x09: std::snprintf(text, sizeof(text), "wbinvd"); privileged = true; break;
      case 0x34: std::snprintf(text, sizeof(text), "sysenter"); privileged = true; break;
      case 0x35: std::snprintf(text, sizeof(text), "sysexit"); privileged = true; break;
      case 0x20: case 0x22:
        std::snprintf(text, sizeof(text), "mov %s cr%u", op == 0x20 ? "from" : "to", reg);
        privileged = true;
        break;
      case 0x21: case 0x23:
        std::snprintf(text, sizeof(text), "mov %s dr%u", op == 0x21 ? "from" : "to", reg);
        privileged = true;
        break;
      case 0x00: {
        static const char *const kNames[8] = {"sldt", "str", "lldt", "ltr", "verr", "verw", "0F 00 /6", "0F 00 /7"};
        std::snprintf(text, sizeof(text), "%s", kNames[reg]);
        privileged = true;
        break;
      }
      case 0x01: {
        static const char *const kMemory[8] = {"sgdt", "sidt", "lgdt", "lidt", "smsw", "0F 01 /5", "lmsw", "invlpg"};
        const char *name = mod != 3 ? kMemory[reg] : modrm == 0xC8 ? "monitor" : modrm == 0xC9 ? "mwait"
                                                  : modrm == 0xD1 ? "xsetbv" : modrm == 0xF8 ? "swapgs"
                                                  : reg == 4 ? "smsw" : reg == 6 ? "lmsw" : nullptr;
        if (name != nullptr) {
          std::snprintf(text, sizeof(text), "%s", name);
        } else {
          std::snprintf(text, sizeof(text), "0F 01 %02X", modrm);
        }
        privileged = true;
        break;
      }
      default:
        break;
    }
  }
  if (io || privileged) {
    std::snprintf(why, sizeof(why), "%s the loader does not emulate: %s",
                  io ? "an I/O instruction" : "a privileged instruction", text);
    return why;
  }
  if (AccessesModrmMemory(insn, code)) {
    const uint64_t address = EffectiveAddress(insn, code, registers, rip + insn.length);
    if (!Canonical(address) && insn.segment != 0x64 && insn.segment != 0x65) {
      std::snprintf(access, accessSize, " accessing 0x%llX", static_cast<unsigned long long>(address));
      return "an access to an address that is not canonical";
    }
    return "a general-protection fault";
  }
  // Any other instruction the processor refuses here: its bytes.
  size_t used = 0;
  for (unsigned i = 0; i < insn.length && used + 4 < sizeof(text); i++) {
    used += static_cast<size_t>(std::snprintf(text + used, sizeof(text) - used, i == 0 ? "%02X" : " %02X", code[i]));
  }
  std::snprintf(why, sizeof(why), "an instruction the processor refuses in user mode (%s)", text);
  return why;
}

}  // namespace loader::traps
