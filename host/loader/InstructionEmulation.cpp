// Instruction emulation: the driver's instructions that reach hardware
// (port output, rdmsr, rdtsc, cpuid, loads and stores of the mapped
// windows) fault, and are performed here on the simulated platform's
// hardware model, which records them as it does for the linked-in driver;
// execution resumes after each.
#include "host/loader/InstructionEmulation.h"

#include <algorithm>
#include <cstring>

#include "host/loader/AddressWindows.h"
#include "host/loader/FaultSignals.h"
#include "host/loader/Registers.h"
#include "host/loader/TrapState.h"
#include "host/loader/X86Decoder.h"
#include "host/sim/HardwareModel.h"

namespace loader::traps {

namespace {

void EmulateCpuid(ucontext_t *context, sim::HardwareModel &hardware) {
  // The stop-override agent's channel is SI; the leaf and its arguments are
  // in EAX, EBX and ECX.
  const uint16_t answer = hardware.Cpuid(static_cast<uint32_t>(Load(context, 0, 32, true)),
                                         static_cast<uint32_t>(Load(context, 3, 32, true)),
                                         static_cast<uint32_t>(Load(context, 1, 32, true)),
                                         static_cast<uint16_t>(Load(context, 6, 16, true)));
  for (unsigned reg : {0u, 1u, 2u, 3u}) {
    Store(context, reg, 32, true, 0);
  }
  Store(context, 6, 16, true, answer);
}

void EmulateTsc(ucontext_t *context, sim::HardwareModel &hardware) {
  const uint64_t value = hardware.ReadTsc();
  Store(context, 0, 32, true, value & 0xFFFFFFFFULL);
  Store(context, 2, 32, true, value >> 32);
}

}  // namespace

bool Emulate(int signal, const siginfo_t *info, ucontext_t *context, uint64_t rip, const char **why) {
  sim::HardwareModel *model = sim::ActiveHardware();
  const uint64_t offset = rip - reinterpret_cast<uint64_t>(gImage->Base());
  if (signal == SIGILL && gSites != nullptr) {
    const auto site = std::lower_bound(gSites->begin(), gSites->end(), offset,
                                       [](const RewrittenSite &s, uint64_t rva) { return s.rva < rva; });
    if (site != gSites->end() && site->rva == offset && site->kind == SiteKind::ThreadPointer) {
      ReportThreadPointerUse(*site);
    }
    if (site != gSites->end() && site->rva == offset && model != nullptr) {
      if (site->kind == SiteKind::Rdtsc) {
        EmulateTsc(context, *model);
      } else {
        EmulateCpuid(context, *model);
      }
      Resume(context, rip + site->length);
      return true;
    }
    *why = "an invalid instruction";
    return false;
  }
  if (signal != SIGSEGV) {
    *why = signal == SIGFPE    ? "an arithmetic fault"
           : signal == SIGTRAP ? "a breakpoint"
           : signal == SIGSYS  ? "a system call from the driver's code"
                               : "a bus error";
    return false;
  }
  *why = "an access the loader does not emulate";
  if (model == nullptr) {
    return false;
  }
  const uint8_t *code = reinterpret_cast<const uint8_t *>(rip);
  const X86Instruction insn = DecodeX86(code, gImage->Size() - offset);
  if (insn.length == 0 || !insn.valid) {
    return false;
  }
  const bool rex = insn.rex != 0;
  const bool rexW = (insn.rex & 8) != 0;
  const unsigned dataWidth = rexW ? 64 : insn.operandSize16 ? 16 : 32;
  const uint8_t op = insn.opcode;

  // Port output: out dx, al/ax/eax and out imm8, al/ax/eax.
  if (!insn.twoByte && (op == 0xEE || op == 0xEF || op == 0xE6 || op == 0xE7)) {
    const uint16_t port = (op == 0xE6 || op == 0xE7) ? code[insn.immediateOffset]
                                                     : static_cast<uint16_t>(Load(context, 2, 16, true));
    const unsigned width = (op == 0xEE || op == 0xE6) ? 8 : insn.operandSize16 ? 16 : 32;
    const uint32_t value = static_cast<uint32_t>(Load(context, 0, width, true));
    // Resume first: the model may take control back by a long jump.
    Resume(context, rip + insn.length);
    model->PortOut(port, width, value);
    return true;
  }
  if (insn.twoByte && op == 0xA2) {  // cpuid, where the processor traps it
    EmulateCpuid(context, *model);
    Resume(context, rip + insn.length);
    return true;
  }
  if (insn.twoByte && op == 0x31) {  // rdtsc, where the processor traps it
    EmulateTsc(context, *model);
    Resume(context, rip + insn.length);
    return true;
  }
  if (insn.twoByte && op == 0x32) {  // rdmsr
    const uint64_t value = model->ReadMsr(static_cast<uint32_t>(Load(context, 1, 32, true)));
    Store(context, 0, 32, true, value & 0xFFFFFFFFULL);
    Store(context, 2, 32, true, value >> 32);
    Resume(context, rip + insn.length);
    return true;
  }

  if (info->si_code == SI_KERNEL) {
    // A general-protection fault: the caller names the instruction.
    return false;
  }

  // Loads and stores of the memory-mapped windows.
  const uint64_t address = reinterpret_cast<uint64_t>(info->si_addr);
  if (!InWindow(address) || !insn.hasModrm || (code[insn.modrmOffset] >> 6) == 3) {
    return false;
  }
  *why = "an unemulated access to a hardware window";
  const uint8_t modrm = code[insn.modrmOffset];
  const unsigned reg = ((modrm >> 3) & 7) | ((insn.rex & 4) ? 8 : 0);
  const uint8_t *immediate = code + insn.immediateOffset;
  if (!insn.twoByte && op == 0x8A) {  // mov r8, m8
    Store(context, reg, 8, rex, model->MmioRead(address, 8));
  } else if (!insn.twoByte && op == 0x8B) {  // mov r, m
    Store(context, reg, dataWidth, rex, model->MmioRead(address, dataWidth));
  } else if (insn.twoByte && (op == 0xB6 || op == 0xB7)) {  // movzx r, m8/m16
    Store(context, reg, dataWidth, true, model->MmioRead(address, op == 0xB6 ? 8 : 16));
  } else if (!insn.twoByte && op == 0x88) {  // mov m8, r8
    model->MmioWrite(address, 8, Load(context, reg, 8, rex));
  } else if (!insn.twoByte && op == 0x89) {  // mov m, r
    model->MmioWrite(address, dataWidth, Load(context, reg, dataWidth, rex));
  } else if (!insn.twoByte && op == 0xC6 && ((modrm >> 3) & 7) == 0) {  // mov m8, imm8
    model->MmioWrite(address, 8, immediate[0]);
  } else if (!insn.twoByte && op == 0xC7 && ((modrm >> 3) & 7) == 0) {  // mov m, imm16/32
    uint64_t value = 0;
    std::memcpy(&value, immediate, insn.operandSize16 ? 2 : 4);
    if (rexW && (value & 0x80000000ULL)) {
      value |= 0xFFFFFFFF00000000ULL;
    }
    model->MmioWrite(address, dataWidth, value);
  } else {
    return false;
  }
  Resume(context, rip + insn.length);
  return true;
}

}  // namespace loader::traps
