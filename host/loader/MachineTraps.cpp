#include "host/loader/MachineTraps.h"

#include <signal.h>
#include <sys/mman.h>
#include <asm/prctl.h>
#include <sys/prctl.h>
#include <sys/syscall.h>
#include <ucontext.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "host/sim/HardwareModel.h"

namespace loader {

namespace {

struct Window {
  uint64_t base;
  uint64_t size;
};
constexpr Window kWindows[] = {
    {0xE0000000ULL, 0x10000000ULL},  // PCI Express configuration space, 256 buses
    {0xFEDC9000ULL, 0x1000ULL},      // the UART's registers
};

const MappedImage *gImage = nullptr;
struct sigaction gPrevious;
// Whether CPUID faults here; without it the processor answers itself.
bool gCpuidTrapped = false;

bool InWindow(uint64_t address) {
  for (const Window &window : kWindows) {
    if (address >= window.base && address - window.base < window.size) {
      return true;
    }
  }
  return false;
}

// General registers by their x86 number (0 RAX ... 15 R15).
greg_t &Register(ucontext_t *context, unsigned number) {
  static const int kIndex[16] = {REG_RAX, REG_RCX, REG_RDX, REG_RBX, REG_RSP, REG_RBP, REG_RSI, REG_RDI,
                                 REG_R8,  REG_R9,  REG_R10, REG_R11, REG_R12, REG_R13, REG_R14, REG_R15};
  return context->uc_mcontext.gregs[kIndex[number & 15]];
}

[[noreturn]] void Unhandled(const char *why, uint64_t rip) {
  char message[160];
  const uint64_t offset = gImage != nullptr && gImage->Contains(rip) ? rip - reinterpret_cast<uint64_t>(gImage->Base()) : rip;
  const int length = std::snprintf(message, sizeof(message), "boardinv: %s at %s0x%llx\n", why,
                                   gImage != nullptr && gImage->Contains(rip) ? "image+" : "",
                                   static_cast<unsigned long long>(offset));
  if (write(STDERR_FILENO, message, static_cast<size_t>(length)) < 0) {
  }
  std::_Exit(3);
}

// Writes a value to a register the way a load of that width does: 32-bit
// results clear the upper half, 8- and 16-bit results keep the rest.
void Store(ucontext_t *context, unsigned number, unsigned width, bool rex, uint64_t value) {
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

uint64_t Load(ucontext_t *context, unsigned number, unsigned width, bool rex) {
  if (width == 8 && !rex && number >= 4 && number < 8) {
    return (static_cast<uint64_t>(Register(context, number - 4)) >> 8) & 0xFF;
  }
  const uint64_t value = static_cast<uint64_t>(Register(context, number));
  return width >= 64 ? value : value & ((1ULL << width) - 1);
}

// The length of a ModRM memory operand's bytes after the opcode.
unsigned OperandLength(const uint8_t *modrm) {
  const unsigned mod = modrm[0] >> 6;
  const unsigned rm = modrm[0] & 7;
  unsigned length = 1;
  if (mod == 3) {
    return 0;
  }
  if (rm == 4) {
    length++;
    if (mod == 0 && (modrm[1] & 7) == 5) {
      length += 4;
    }
  }
  if (mod == 0 && rm == 5) {
    length += 4;
  } else if (mod == 1) {
    length += 1;
  } else if (mod == 2) {
    length += 4;
  }
  return length;
}

void OnFault(int signal, siginfo_t *info, void *raw) {
  auto *context = static_cast<ucontext_t *>(raw);
  const uint64_t rip = static_cast<uint64_t>(context->uc_mcontext.gregs[REG_RIP]);
  if (gImage == nullptr || !gImage->Contains(rip)) {
    // Not the driver's: behave as if this handler were not there.
    sigaction(signal, &gPrevious, nullptr);
    return;
  }
  sim::HardwareModel &hardware = *sim::ActiveHardware();
  const uint8_t *code = reinterpret_cast<const uint8_t *>(rip);
  unsigned at = 0;
  bool operand16 = false;
  bool rex = false;
  bool rexW = false;
  bool rexR = false;
  for (;; at++) {
    if (code[at] == 0x66) {
      operand16 = true;
    } else if (code[at] == 0xF2 || code[at] == 0xF3) {
      // rep prefixes: no meaning for the instructions emulated here
    } else {
      break;
    }
  }
  if ((code[at] & 0xF0) == 0x40) {
    rex = true;
    rexW = (code[at] & 8) != 0;
    rexR = (code[at] & 4) != 0;
    at++;
  }
  const unsigned dataWidth = rexW ? 64 : operand16 ? 16 : 32;
  const uint8_t opcode = code[at++];

  // Port output: out dx, al/ax/eax and out imm8, al/ax/eax.
  if (opcode == 0xEE || opcode == 0xEF || opcode == 0xE6 || opcode == 0xE7) {
    uint16_t port;
    if (opcode == 0xE6 || opcode == 0xE7) {
      port = code[at++];
    } else {
      port = static_cast<uint16_t>(Load(context, 2, 16, true));
    }
    const unsigned width = (opcode == 0xEE || opcode == 0xE6) ? 8 : operand16 ? 16 : 32;
    context->uc_mcontext.gregs[REG_RIP] = static_cast<greg_t>(rip + at);
    const uint32_t value = static_cast<uint32_t>(Load(context, 0, width, true));
    const bool afterSignature = !hardware.portLog.empty() && hardware.portLog.back().port == 0xE0 &&
                                hardware.portLog.back().width == 16 && hardware.portLog.back().value == 0xDEAD;
    hardware.PortOut(port, width, value);
    if (!gCpuidTrapped && afterSignature && port == 0x80 && width == 32) {
      // The stop-override query that follows runs on the processor itself.
      hardware.NativeStopQuery(value);
    }
    return;
  }
  if (opcode == 0x0F && code[at] == 0xA2) {  // cpuid, with SI as the agent's channel
    const uint16_t answer = hardware.Cpuid(static_cast<uint32_t>(Load(context, 0, 32, true)),
                                           static_cast<uint32_t>(Load(context, 3, 32, true)),
                                           static_cast<uint32_t>(Load(context, 1, 32, true)),
                                           static_cast<uint16_t>(Load(context, 6, 16, true)));
    for (unsigned reg : {0u, 1u, 2u, 3u}) {
      Store(context, reg, 32, true, 0);
    }
    Store(context, 6, 16, true, answer);
    context->uc_mcontext.gregs[REG_RIP] = static_cast<greg_t>(rip + at + 1);
    return;
  }
  if (opcode == 0x0F && (code[at] == 0x32 || code[at] == 0x31)) {
    const uint64_t value = code[at] == 0x32 ? hardware.ReadMsr(static_cast<uint32_t>(Load(context, 1, 32, true)))
                                            : hardware.ReadTsc();
    Store(context, 0, 32, true, value & 0xFFFFFFFFULL);
    Store(context, 2, 32, true, value >> 32);
    context->uc_mcontext.gregs[REG_RIP] = static_cast<greg_t>(rip + at + 1);
    return;
  }

  // Loads and stores of the memory-mapped windows.
  const uint64_t address = reinterpret_cast<uint64_t>(info->si_addr);
  if (!InWindow(address)) {
    Unhandled("a fault the loader does not emulate", rip);
  }
  bool twoByte = false;
  uint8_t operation = opcode;
  if (opcode == 0x0F) {
    twoByte = true;
    operation = code[at++];
  }
  const uint8_t *modrm = code + at;
  const unsigned operand = OperandLength(modrm);
  if (operand == 0) {
    Unhandled("an instruction without a memory operand faulted", rip);
  }
  const unsigned reg = ((modrm[0] >> 3) & 7) | (rexR ? 8 : 0);
  unsigned length = at + operand;
  if (!twoByte && operation == 0x8A) {  // mov r8, m8
    Store(context, reg, 8, rex, hardware.MmioRead(address, 8));
  } else if (!twoByte && operation == 0x8B) {  // mov r, m
    Store(context, reg, dataWidth, rex, hardware.MmioRead(address, dataWidth));
  } else if (twoByte && (operation == 0xB6 || operation == 0xB7)) {  // movzx r, m8/m16
    const unsigned width = operation == 0xB6 ? 8 : 16;
    Store(context, reg, dataWidth == 16 ? 16 : dataWidth, true, hardware.MmioRead(address, width));
  } else if (!twoByte && operation == 0x88) {  // mov m8, r8
    hardware.MmioWrite(address, 8, Load(context, reg, 8, rex));
  } else if (!twoByte && operation == 0x89) {  // mov m, r
    hardware.MmioWrite(address, dataWidth, Load(context, reg, dataWidth, rex));
  } else if (!twoByte && operation == 0xC6 && ((modrm[0] >> 3) & 7) == 0) {  // mov m8, imm8
    hardware.MmioWrite(address, 8, code[length]);
    length += 1;
  } else if (!twoByte && operation == 0xC7 && ((modrm[0] >> 3) & 7) == 0) {  // mov m, imm16/32
    const unsigned immediate = operand16 ? 2 : 4;
    uint64_t value = 0;
    std::memcpy(&value, code + length, immediate);
    if (rexW && (value & 0x80000000ULL)) {
      value |= 0xFFFFFFFF00000000ULL;
    }
    hardware.MmioWrite(address, dataWidth, value);
    length += immediate;
  } else {
    Unhandled("an unemulated access to a hardware window", rip);
  }
  context->uc_mcontext.gregs[REG_RIP] = static_cast<greg_t>(rip + length);
}

}  // namespace

MachineTraps::MachineTraps(const MappedImage &image) {
  for (const Window &window : kWindows) {
    void *mapped = mmap(reinterpret_cast<void *>(window.base), window.size, PROT_NONE,
                        MAP_PRIVATE | MAP_ANONYMOUS | MAP_NORESERVE | MAP_FIXED_NOREPLACE, -1, 0);
    if (mapped != reinterpret_cast<void *>(window.base)) {
      if (mapped != MAP_FAILED) {
        munmap(mapped, window.size);
      }
      for (const Window &other : kWindows) {
        if (other.base == window.base) {
          break;
        }
        munmap(reinterpret_cast<void *>(other.base), other.size);
      }
      char text[96];
      std::snprintf(text, sizeof(text), "cannot reserve the hardware window at 0x%llX in this process",
                    static_cast<unsigned long long>(window.base));
      throw ImageError(text);
    }
  }
  gImage = &image;
  struct sigaction action {};
  action.sa_sigaction = OnFault;
  // Not deferred: the stop display may leave the handler by a long jump.
  action.sa_flags = SA_SIGINFO | SA_NODEFER;
  sigemptyset(&action.sa_mask);
  sigaction(SIGSEGV, &action, &gPrevious);
}

MachineTraps::~MachineTraps() {
  Disarm();
  sigaction(SIGSEGV, &gPrevious, nullptr);
  gImage = nullptr;
  for (const Window &window : kWindows) {
    munmap(reinterpret_cast<void *>(window.base), window.size);
  }
}

void MachineTraps::Arm() {
  prctl(PR_SET_TSC, PR_TSC_SIGSEGV, 0, 0, 0);
  gCpuidTrapped = syscall(SYS_arch_prctl, ARCH_SET_CPUID, 0) == 0;
}

void MachineTraps::Disarm() {
  prctl(PR_SET_TSC, PR_TSC_ENABLE, 0, 0, 0);
  if (gCpuidTrapped) {
    syscall(SYS_arch_prctl, ARCH_SET_CPUID, 1);
  }
}

bool MachineTraps::CpuidTrapped() { return gCpuidTrapped; }

}  // namespace loader
