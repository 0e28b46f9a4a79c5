#include "host/loader/MachineTraps.h"

#include <asm/prctl.h>
#include <linux/filter.h>
#include <linux/seccomp.h>
#include <cxxabi.h>
#include <dlfcn.h>
#include <setjmp.h>
#include <signal.h>
#include <sys/mman.h>
#include <sys/prctl.h>
#include <sys/syscall.h>
#include <sys/time.h>
#include <ucontext.h>
#include <stddef.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "driver/firmware/BoardHardware.h"
#include "host/loader/X86Decoder.h"
#include "host/sim/HardwareModel.h"
#include "host/sim/SimFirmware.h"
#include "host/sim/Text.h"

namespace loader {

namespace {

struct Window {
  uint64_t base;
  uint64_t size;
};
constexpr Window kWindows[] = {
    {PCI_EXPRESS_BASE, PCI_EXPRESS_WINDOW_SIZE},  // PCI Express configuration space, 256 buses
    {UART_BASE, UART_WINDOW_SIZE},                // the UART's registers
};

constexpr uint64_t kPageSize = 4096;
constexpr uint8_t kUd2[2] = {0x0F, 0x0B};

// The signals a faulting instruction raises.
// The signals a faulting instruction raises, and the C library's abort
// (taken only once the driver ran: a heap it damaged).
constexpr int kFaultSignals[] = {SIGSEGV, SIGILL, SIGFPE, SIGBUS, SIGTRAP, SIGSYS, SIGABRT};
constexpr size_t kFaultSignalCount = sizeof(kFaultSignals) / sizeof(kFaultSignals[0]);

// The state the handler reads. One image at a time runs in a process.
const MappedImage *gImage = nullptr;
const std::vector<RewrittenSite> *gSites = nullptr;
// The firmware whose pool blocks name a fault's address while the driver runs.
const sim::SimFirmware *gPoolFirmware = nullptr;
// Set while a fault's address is looked up among the pool's headers, which
// code that ran wild may have damaged: a fault in that walk goes back to it.
volatile sig_atomic_t gNamingPool = 0;
sigjmp_buf gNamingJump;
volatile sig_atomic_t gArmed = 0;
volatile sig_atomic_t gDriverRan = 0;  // since the traps were set up
// Stop display values the driver has shown in this run, and how many it had
// shown when its allowance last ran out.
volatile uint64_t gStopDisplayValuesShown = 0;
uint64_t gStopDisplayValuesAtLimit = 0;
bool gTscTrapOn = false;    // PR_SET_TSC is set while armed
bool gCpuidTrapOn = false;  // ARCH_SET_CPUID is set while armed
struct sigaction gPrevious[kFaultSignalCount];
struct sigaction gPreviousProfile;
unsigned gCpuSecondsLimit = 10;
stack_t gPreviousStack;
alignas(16) char gAlternateStack[256 * 1024];

// The thread pointer of this program, restored on entry to every handler:
// code of a damaged image may have moved it (wrfsbase runs in user mode), and
// the handler's own calls need it (thread-local data, lazy binding).
unsigned long gHostFsBase = 0;

void RestoreHostThreadPointer() {
  // A raw system call: a library call could itself need the thread pointer.
  long result;
  __asm__ __volatile__("syscall"
                       : "=a"(result)
                       : "0"(static_cast<long>(SYS_arch_prctl)), "D"(static_cast<long>(ARCH_SET_FS)), "S"(gHostFsBase)
                       : "rcx", "r11", "memory");
  (void)result;
}

bool InWindow(uint64_t address) {
  for (const Window &window : kWindows) {
    if (address >= window.base && address - window.base < window.size) {
      return true;
    }
  }
  return false;
}

// Whether an address can be one at all: bits 63 to 47 all equal.
bool Canonical(uint64_t address) {
  const uint64_t top = address >> 47;
  return top == 0 || top == 0x1FFFF;
}

// The memory of the first 64 KiB, which no mapping of this program may hold.
constexpr uint64_t kLowestMappable = 0x10000;

// How far past a pool block's end an address still names it: its guard page
// and the bytes before it.
constexpr uint64_t kPoolNameReach = kPageSize + 8;

// The pool block an address belongs to, looked up so that a fault in the
// walk over the pool's headers (damaged by the driver) leaves it instead of
// ending the program from inside the handler.
bool LookUpPoolBlock(const sim::SimFirmware *firmware, uint64_t address, sim::PoolBlockInfo *block) {
  if (firmware == nullptr || gNamingPool != 0) {
    return false;
  }
  if (sigsetjmp(gNamingJump, 1) != 0) {
    gNamingPool = 0;
    return false;
  }
  gNamingPool = 1;
  const std::optional<sim::PoolBlockInfo> found =
      firmware->Pool().PoolBlockNear(reinterpret_cast<const void *>(address), kPoolNameReach);
  gNamingPool = 0;
  if (!found) {
    return false;
  }
  *block = *found;
  return true;
}

// General registers by their x86 number (0 RAX ... 15 R15).
greg_t &Register(ucontext_t *context, unsigned number) {
  static const int kIndex[16] = {REG_RAX, REG_RCX, REG_RDX, REG_RBX, REG_RSP, REG_RBP, REG_RSI, REG_RDI,
                                 REG_R8,  REG_R9,  REG_R10, REG_R11, REG_R12, REG_R13, REG_R14, REG_R15};
  return context->uc_mcontext.gregs[kIndex[number & 15]];
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

void Resume(ucontext_t *context, uint64_t rip) { context->uc_mcontext.gregs[REG_RIP] = static_cast<greg_t>(rip); }

const char *SignalName(int signal) {
  switch (signal) {
    case SIGSEGV: return "SIGSEGV";
    case SIGILL: return "SIGILL";
    case SIGFPE: return "SIGFPE";
    case SIGBUS: return "SIGBUS";
    case SIGTRAP: return "SIGTRAP";
    case SIGSYS: return "SIGSYS";
    case SIGABRT: return "SIGABRT";
    default: return "a signal";
  }
}

void WriteLine(const char *message, int length, size_t size) {
  if (length > 0 && write(STDERR_FILENO, message, std::min<size_t>(static_cast<size_t>(length), size - 1)) < 0) {
  }
}

// Where an instruction ran: the image offset, the host function (or
// module) that holds it, or the named address outside both.
void NameCodeAddress(uint64_t rip, char *where, size_t size) {
  if (gImage != nullptr && gImage->Contains(rip)) {
    std::snprintf(where, size, "at image+0x%llX",
                  static_cast<unsigned long long>(rip - reinterpret_cast<uint64_t>(gImage->Base())));
    return;
  }
  Dl_info symbol{};
  const bool known = dladdr(reinterpret_cast<void *>(rip), &symbol) != 0;
  if (known && symbol.dli_sname != nullptr) {
    static char demangled[4096];
    size_t length = sizeof(demangled);
    int status = -1;
    abi::__cxa_demangle(symbol.dli_sname, demangled, &length, &status);
    std::snprintf(where, size, "in host function %.400s%s", status == 0 ? demangled : symbol.dli_sname,
                  gArmed ? ", which the driver called" : "");
  } else if (known && symbol.dli_fname != nullptr) {
    const char *name = std::strrchr(symbol.dli_fname, '/');
    std::snprintf(where, size, "in host code (%.200s+0x%llX)", name != nullptr ? name + 1 : symbol.dli_fname,
                  static_cast<unsigned long long>(rip - reinterpret_cast<uint64_t>(symbol.dli_fbase)));
  } else {
    char name[128];
    NameAddress(rip, gImage, gArmed ? gPoolFirmware : nullptr, name, sizeof(name));
    if (std::strncmp(name, "host memory", 11) == 0) {
      std::snprintf(where, size, "in host memory outside the image and the program");
    } else {
      std::snprintf(where, size, "at %s, outside the image and the program", name);
    }
  }
}

// " accessing NAME" for the address a faulting access reached: on the stack
// relative to the stack pointer, else named as NameAddress names it.
void NameDataAddress(uint64_t address, uint64_t stackPointer, char *access, size_t size) {
  constexpr uint64_t kStackReach = uint64_t{1} << 20;
  if (address >= kLowestMappable && Canonical(address) && (gImage == nullptr || !gImage->Contains(address)) &&
      !InWindow(address) && address + kStackReach >= stackPointer && address < stackPointer + kStackReach) {
    const bool below = address < stackPointer;
    std::snprintf(access, size, " accessing the stack at rsp%c0x%llX", below ? '-' : '+',
                  static_cast<unsigned long long>(below ? stackPointer - address : address - stackPointer));
    return;
  }
  char name[128];
  NameAddress(address, gImage, gArmed ? gPoolFirmware : nullptr, name, sizeof(name));
  std::snprintf(access, size, " accessing %s", name);
}

// Ends the program for a fault the loader does not emulate: one line on
// standard error, exit status 3. Only async-signal-safe calls, and a
// demangler working in a buffer of its own. access: " accessing ..." or "".
[[noreturn]] void ReportFault(int signal, uint64_t rip, const char *why, const char *access) {
  char where[512];
  NameCodeAddress(rip, where, sizeof(where));
  char message[896];
  const int length = std::snprintf(message, sizeof(message), "boardinv: the driver faulted: %s (%s)%s %s\n",
                                   SignalName(signal), why, access, where);
  WriteLine(message, length, sizeof(message));
  _exit(kDriverFaultExitStatus);
}

// Ends the program for an instruction of the image's that reaches the
// thread pointer (rewritten into ud2 at setup): what it does, and where.
[[noreturn]] void ReportThreadPointerUse(const RewrittenSite &site) {
  char message[512];
  const int length = std::snprintf(message, sizeof(message),
                                   "boardinv: the driver faulted: %s (firmware has no thread-local storage; the "
                                   "thread pointer is this program's) at image+0x%X\n",
                                   site.what.c_str(), site.rva);
  WriteLine(message, length, sizeof(message));
  _exit(kDriverFaultExitStatus);
}

void SetTimeLimit(unsigned seconds) {
  itimerval timer{};
  timer.it_value.tv_sec = seconds;
  setitimer(ITIMER_PROF, &timer, nullptr);
}

// The driver ran past its allowance of processor time: a loop that does not
// end (real firmware would hang there for good).
void OnTimeLimit(int, siginfo_t *, void *raw) {
  RestoreHostThreadPointer();
  if (!gArmed) {
    return;
  }
  if (gStopDisplayValuesShown != gStopDisplayValuesAtLimit) {
    // The driver is in the stop display, showing value after value for as
    // long as the platform asked: not a hang. It has another allowance to
    // show the next.
    gStopDisplayValuesAtLimit = gStopDisplayValuesShown;
    SetTimeLimit(gCpuSecondsLimit);
    return;
  }
  const auto *context = static_cast<const ucontext_t *>(raw);
  const uint64_t rip = static_cast<uint64_t>(context->uc_mcontext.gregs[REG_RIP]);
  char where[64] = "in host code";
  if (gImage != nullptr && gImage->Contains(rip)) {
    std::snprintf(where, sizeof(where), "at image+0x%llX",
                  static_cast<unsigned long long>(rip - reinterpret_cast<uint64_t>(gImage->Base())));
  }
  char message[160];
  const int length =
      std::snprintf(message, sizeof(message),
                    gStopDisplayValuesShown != 0
                        ? "boardinv: the driver showed no further stop display value within %u s of processor time (%s)\n"
                        : "boardinv: the driver did not return within %u s of processor time (%s)\n",
                    gCpuSecondsLimit, where);
  WriteLine(message, length, sizeof(message));
  _exit(kDriverFaultExitStatus);
}

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

// Performs a faulting instruction of the driver's on the model; false when
// it is not one the loader emulates.
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
    const uint64_t shown = model->stopDisplayValues;
    model->PortOut(port, width, value);
    if (model->stopDisplayValues != shown) {
      gStopDisplayValuesShown = gStopDisplayValuesShown + 1;
    }
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


// Names the instruction behind a general-protection fault (SIGSEGV without
// an address: a privileged or I/O instruction, an address that is not
// canonical, a jump to one) from its bytes and the registers. Returns the
// account; writes " accessing ..." into access when an access is known.
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

void OnFault(int signal, siginfo_t *info, void *raw) {
  if (gNamingPool != 0) {
    // The walk over the pool's headers, naming a fault's address, faulted.
    siglongjmp(gNamingJump, 1);
  }
  RestoreHostThreadPointer();
  auto *context = static_cast<ucontext_t *>(raw);
  const uint64_t rip = static_cast<uint64_t>(context->uc_mcontext.gregs[REG_RIP]);
  if (!gArmed && gDriverRan) {
    // The simulation's own code failed after the driver ran: its code may
    // have written over the simulation's memory (hand-off blocks, protocol
    // instances) that it was given.
    char access[256] = "";
    if ((signal == SIGSEGV || signal == SIGBUS) && info->si_code != SI_KERNEL) {
      NameDataAddress(reinterpret_cast<uint64_t>(info->si_addr),
                      static_cast<uint64_t>(context->uc_mcontext.gregs[REG_RSP]), access, sizeof(access));
    }
    ReportFault(signal, rip, "after the driver ran, in memory it may have damaged", access);
  }
  if (!gArmed) {
    // Not while the driver runs: behave as if this handler were not there.
    for (size_t i = 0; i < kFaultSignalCount; i++) {
      if (kFaultSignals[i] == signal) {
        sigaction(signal, &gPrevious[i], nullptr);
      }
    }
    return;
  }
  const char *why = "a fault in host code";
  if (gImage != nullptr && gImage->Contains(rip)) {
    if (Emulate(signal, info, context, rip, &why)) {
      return;
    }
  } else if (signal == SIGSEGV && reinterpret_cast<uint64_t>(info->si_addr) == rip) {
    why = "execution left the image";
  }
  char access[256] = "";
  if (signal == SIGSEGV && info->si_code == SI_KERNEL) {
    // No address: the processor refused the instruction itself.
    why = NameGeneralProtection(context, rip, access, sizeof(access));
  } else if (signal == SIGSEGV || signal == SIGBUS) {
    NameDataAddress(reinterpret_cast<uint64_t>(info->si_addr),
                    static_cast<uint64_t>(context->uc_mcontext.gregs[REG_RSP]), access, sizeof(access));
  }
  ReportFault(signal, rip, why, access);
}

// Executes code under a temporary SIGSEGV handler; true when it faulted.
sigjmp_buf gProbeJump;
void OnProbeFault(int) { siglongjmp(gProbeJump, 1); }
bool Faults(void (*code)()) {
  struct sigaction probe {};
  struct sigaction previous {};
  probe.sa_handler = OnProbeFault;
  sigemptyset(&probe.sa_mask);
  sigaction(SIGSEGV, &probe, &previous);
  const bool faulted = sigsetjmp(gProbeJump, 1) != 0;
  if (!faulted) {
    code();
  }
  sigaction(SIGSEGV, &previous, nullptr);
  return faulted;
}

void ExecuteRdtsc() {
  uint32_t low;
  uint32_t high;
  __asm__ __volatile__("rdtsc" : "=a"(low), "=d"(high));
}

void ExecuteCpuid() {
  uint32_t eax = 0;
  uint32_t ebx;
  uint32_t ecx = 0;
  uint32_t edx;
  __asm__ __volatile__("cpuid" : "+a"(eax), "=b"(ebx), "+c"(ecx), "=d"(edx));
}

// A system call made by an instruction inside [start, start + size) raises
// SIGSYS instead of reaching the kernel: firmware code has no kernel to call,
// and a damaged image could otherwise end or rewire this process through
// one. Filters cannot be removed, so it stays for the process's life; every
// system call made elsewhere is allowed as before. False when the kernel
// does not take the filter.
bool TrapSystemCallsFrom(uint64_t start, uint64_t size) {
  const uint64_t last = start + size - 1;
  const auto hi = [](uint64_t value) { return static_cast<uint32_t>(value >> 32); };
  const auto lo = [](uint64_t value) { return static_cast<uint32_t>(value); };
  constexpr uint32_t kIpLow = offsetof(seccomp_data, instruction_pointer);
  constexpr uint32_t kIpHigh = kIpLow + 4;
  sock_filter program[] = {
      /* 0 */ BPF_STMT(BPF_LD | BPF_W | BPF_ABS, kIpHigh),
      /* 1 */ BPF_JUMP(BPF_JMP | BPF_JGE | BPF_K, hi(start), 0, 9),  // below the image: allow
      /* 2 */ BPF_JUMP(BPF_JMP | BPF_JGT | BPF_K, hi(start), 2, 0),  // above its first word: check the end
      /* 3 */ BPF_STMT(BPF_LD | BPF_W | BPF_ABS, kIpLow),
      /* 4 */ BPF_JUMP(BPF_JMP | BPF_JGE | BPF_K, lo(start), 0, 6),
      /* 5 */ BPF_STMT(BPF_LD | BPF_W | BPF_ABS, kIpHigh),
      /* 6 */ BPF_JUMP(BPF_JMP | BPF_JGT | BPF_K, hi(last), 4, 0),   // above the image: allow
      /* 7 */ BPF_JUMP(BPF_JMP | BPF_JGE | BPF_K, hi(last), 0, 2),   // below its last word: trap
      /* 8 */ BPF_STMT(BPF_LD | BPF_W | BPF_ABS, kIpLow),
      /* 9 */ BPF_JUMP(BPF_JMP | BPF_JGT | BPF_K, lo(last), 1, 0),
      /* 10 */ BPF_STMT(BPF_RET | BPF_K, SECCOMP_RET_TRAP),
      /* 11 */ BPF_STMT(BPF_RET | BPF_K, SECCOMP_RET_ALLOW),
  };
  sock_fprog filter{static_cast<unsigned short>(sizeof(program) / sizeof(program[0])), program};
  return prctl(PR_SET_NO_NEW_PRIVS, 1, 0, 0, 0) == 0 &&
         syscall(SYS_seccomp, SECCOMP_SET_MODE_FILTER, 0, &filter) == 0;
}

int Protection(const Section &section) {
  return (section.Readable() ? PROT_READ : 0) | (section.Writable() ? PROT_WRITE : 0) |
         (section.Executable() ? PROT_EXEC : 0);
}

// Writes ud2 over the opcode of each site in the mapped code, opening each
// page for writing only while it is written.
void RewriteSites(const PeImage &file, MappedImage &image, const std::vector<RewrittenSite> &sites) {
  for (const RewrittenSite &site : sites) {
    for (const Section &section : file.sections) {
      if (site.rva < section.virtualAddress || site.rva - section.virtualAddress >= section.virtualSize) {
        continue;
      }
      uint8_t *at = static_cast<uint8_t *>(image.At(site.rva));
      const X86Instruction insn = DecodeX86(at, site.length);
      // rdtsc and cpuid: ud2 over the opcode, so that it faults where the
      // instruction begins. An instruction that reaches the thread pointer
      // (two bytes or more) is never run: ud2 over its first two bytes.
      uint8_t *opcode = site.kind == SiteKind::ThreadPointer ? at : at + insn.opcodeOffset;
      auto *first = reinterpret_cast<uint8_t *>(reinterpret_cast<uint64_t>(opcode) & ~(kPageSize - 1));
      const size_t span = static_cast<size_t>(opcode + 2 - first);
      mprotect(first, span, PROT_READ | PROT_WRITE);
      std::memcpy(opcode, kUd2, sizeof(kUd2));
      mprotect(first, span, Protection(section));
    }
  }
}

}  // namespace

ProcessorTraps ProbeProcessorTraps() {
  static const ProcessorTraps probed = [] {
    ProcessorTraps traps;
    if (prctl(PR_SET_TSC, PR_TSC_SIGSEGV, 0, 0, 0) == 0) {
      traps.rdtsc = Faults(ExecuteRdtsc);
      prctl(PR_SET_TSC, PR_TSC_ENABLE, 0, 0, 0);
    }
    if (syscall(SYS_arch_prctl, ARCH_SET_CPUID, 0) == 0) {
      traps.cpuid = Faults(ExecuteCpuid);
      syscall(SYS_arch_prctl, ARCH_SET_CPUID, 1);
    }
    return traps;
  }();
  return probed;
}

bool RewriteForcedByEnvironment() {
  const char *setting = std::getenv("BOARDINV_EFI_TRAPS");
  if (setting == nullptr || std::strcmp(setting, "") == 0 || std::strcmp(setting, "auto") == 0) {
    return false;
  }
  if (std::strcmp(setting, "rewrite") == 0) {
    return true;
  }
  throw ImageError(std::string("BOARDINV_EFI_TRAPS is \"") + setting + "\"; it takes auto or rewrite");
}

unsigned CpuSecondsLimitFromEnvironment() {
  const char *setting = std::getenv("BOARDINV_EFI_CPU_SECONDS");
  if (setting == nullptr || *setting == 0) {
    return 10;
  }
  char *end = nullptr;
  const unsigned long seconds = std::strtoul(setting, &end, 10);
  if (*end != 0 || seconds == 0 || seconds > 86400 || *setting < '0' || *setting > '9') {
    throw ImageError(std::string("BOARDINV_EFI_CPU_SECONDS is \"") + setting +
                     "\"; it takes a whole number of seconds from 1 to 86400");
  }
  return static_cast<unsigned>(seconds);
}

std::vector<uint32_t> CodeSymbols(const PeImage &image, const std::map<std::string, uint32_t> &symbols) {
  std::vector<uint32_t> code;
  for (const auto &[name, rva] : symbols) {
    const Section *section = image.SectionHolding(rva, 0);
    if (section != nullptr && section->Executable()) {
      code.push_back(rva);
    }
  }
  return code;
}

CodeWalk WalkCode(const PeImage &image, const std::vector<uint32_t> &codeSymbols) {
  std::vector<uint32_t> starts = codeSymbols;
  std::sort(starts.begin(), starts.end());
  starts.erase(std::unique(starts.begin(), starts.end()), starts.end());
  CodeWalk walk;
  for (const Section &section : image.sections) {
    if (!section.Executable()) {
      continue;
    }
    // Only the bytes the file holds; the rest of the section is zeros.
    const uint32_t begin = section.virtualAddress;
    const uint32_t end = begin + std::min(section.virtualSize, section.rawSize);
    const uint8_t *bytes = image.file.data() + section.rawOffset - section.virtualAddress;
    auto next = std::lower_bound(starts.begin(), starts.end(), begin);
    uint32_t at = begin;
    while (at < end) {
      if (next != starts.end() && *next < end && *next <= at) {
        if (*next < at) {
          walk.symbolsInsideInstructions.push_back(*next);
        }
        at = *next++;
        continue;
      }
      const uint32_t limit = next != starts.end() && *next < end ? *next : end;
      const X86Instruction insn = DecodeX86(bytes + at, end - at);
      if (insn.length == 0) {
        break;
      }
      if (at + insn.length <= limit && (IsRdtsc(insn) || IsCpuid(insn))) {
        walk.sites.push_back({at, static_cast<uint8_t>(insn.length), IsRdtsc(insn) ? SiteKind::Rdtsc : SiteKind::Cpuid, {}});
      } else if (at + insn.length <= limit && ThreadPointerUseOf(insn, bytes + at) != ThreadPointerUse::None) {
        char what[160];
        DescribeThreadPointerUse(insn, bytes + at, what, sizeof(what));
        walk.sites.push_back({at, static_cast<uint8_t>(insn.length), SiteKind::ThreadPointer, what});
      }
      at += insn.length;
    }
  }
  std::sort(walk.sites.begin(), walk.sites.end(),
            [](const RewrittenSite &a, const RewrittenSite &b) { return a.rva < b.rva; });
  return walk;
}

MachineTraps::MachineTraps(const PeImage &file, MappedImage &image, const std::vector<uint32_t> &codeSymbols,
                           bool forceRewrite, unsigned cpuSecondsLimit) {
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

  const ProcessorTraps processor = ProbeProcessorTraps();
  rdtsc_ = processor.rdtsc && !forceRewrite ? TrapMethod::Fault : TrapMethod::Rewrite;
  cpuid_ = processor.cpuid && !forceRewrite ? TrapMethod::Fault : TrapMethod::Rewrite;
  // Instructions that reach the thread pointer are rewritten whatever the
  // method: the processor runs them without a fault.
  for (const RewrittenSite &site : WalkCode(file, codeSymbols).sites) {
    if ((site.kind == SiteKind::Rdtsc && rdtsc_ == TrapMethod::Rewrite) ||
        (site.kind == SiteKind::Cpuid && cpuid_ == TrapMethod::Rewrite) || site.kind == SiteKind::ThreadPointer) {
      rewritten_.push_back(site);
    }
  }
  RewriteSites(file, image, rewritten_);

  TrapSystemCallsFrom(reinterpret_cast<uint64_t>(image.Base()), image.Size());
  syscall(SYS_arch_prctl, ARCH_GET_FS, &gHostFsBase);
  gImage = &image;
  gSites = &rewritten_;
  stack_t alternate{};
  alternate.ss_sp = gAlternateStack;
  alternate.ss_size = sizeof(gAlternateStack);
  sigaltstack(&alternate, &gPreviousStack);
  struct sigaction action {};
  action.sa_sigaction = OnFault;
  // Not deferred: the stop display may leave the handler by a long jump.
  action.sa_flags = SA_SIGINFO | SA_NODEFER | SA_ONSTACK;
  sigemptyset(&action.sa_mask);
  for (size_t i = 0; i < kFaultSignalCount; i++) {
    sigaction(kFaultSignals[i], &action, &gPrevious[i]);
  }
  gCpuSecondsLimit = cpuSecondsLimit;
  struct sigaction limit {};
  limit.sa_sigaction = OnTimeLimit;
  limit.sa_flags = SA_SIGINFO | SA_ONSTACK;
  sigemptyset(&limit.sa_mask);
  sigaction(SIGPROF, &limit, &gPreviousProfile);
}

MachineTraps::~MachineTraps() {
  Disarm();
  sigaction(SIGPROF, &gPreviousProfile, nullptr);
  if (!gDriverRan) {
    for (size_t i = 0; i < kFaultSignalCount; i++) {
      sigaction(kFaultSignals[i], &gPrevious[i], nullptr);
    }
    sigaltstack(&gPreviousStack, nullptr);
  }
  // Once the driver ran, the handlers stay for the rest of the process: a
  // heap it damaged may fail at any later free.
  gImage = nullptr;
  gSites = nullptr;
  gPoolFirmware = nullptr;
  for (const Window &window : kWindows) {
    munmap(reinterpret_cast<void *>(window.base), window.size);
  }
}

void MachineTraps::Arm() {
  gTscTrapOn = rdtsc_ == TrapMethod::Fault && prctl(PR_SET_TSC, PR_TSC_SIGSEGV, 0, 0, 0) == 0;
  gCpuidTrapOn = cpuid_ == TrapMethod::Fault && syscall(SYS_arch_prctl, ARCH_SET_CPUID, 0) == 0;
  gArmed = 1;
  gDriverRan = 1;
  gStopDisplayValuesShown = 0;
  gStopDisplayValuesAtLimit = 0;
  SetTimeLimit(gCpuSecondsLimit);
}

void MachineTraps::Disarm() {
  SetTimeLimit(0);
  gArmed = 0;
  if (gTscTrapOn) {
    prctl(PR_SET_TSC, PR_TSC_ENABLE, 0, 0, 0);
    gTscTrapOn = false;
  }
  if (gCpuidTrapOn) {
    syscall(SYS_arch_prctl, ARCH_SET_CPUID, 1);
    gCpuidTrapOn = false;
  }
}

void MachineTraps::NamePoolBlocksOf(const sim::SimFirmware *firmware) { gPoolFirmware = firmware; }

void NameAddress(uint64_t address, const MappedImage *image, const sim::SimFirmware *firmware, char *out,
                 size_t size) {
  if (image != nullptr && image->Contains(address)) {
    std::snprintf(out, size, "image+0x%llX",
                  static_cast<unsigned long long>(address - reinterpret_cast<uint64_t>(image->Base())));
    return;
  }
  if (address < kLowestMappable || InWindow(address) || !Canonical(address)) {
    std::snprintf(out, size, "0x%llX", static_cast<unsigned long long>(address));
    return;
  }
  sim::PoolBlockInfo block{};
  if (LookUpPoolBlock(firmware, address, &block)) {
    const uint64_t start = reinterpret_cast<uint64_t>(block.start);
    const auto allocation = static_cast<unsigned long long>(block.allocation);
    const auto blockSize = static_cast<unsigned long long>(block.size);
    if (address < start) {
      std::snprintf(out, size, "pool allocation %llu-0x%llX, before its start", allocation,
                    static_cast<unsigned long long>(start - address));
    } else if (address - start < block.size) {
      std::snprintf(out, size, "pool allocation %llu+0x%llX (of %llu byte%s)", allocation,
                    static_cast<unsigned long long>(address - start), blockSize, blockSize == 1 ? "" : "s");
    } else {
      std::snprintf(out, size, "pool allocation %llu+0x%llX, past its end (%llu byte%s)", allocation,
                    static_cast<unsigned long long>(address - start), blockSize, blockSize == 1 ? "" : "s");
    }
    return;
  }
  Dl_info module{};
  if (dladdr(reinterpret_cast<void *>(address), &module) != 0 && module.dli_fname != nullptr &&
      module.dli_fname[0] != 0) {
    const char *name = std::strrchr(module.dli_fname, '/');
    std::snprintf(out, size, "host memory in %.200s+0x%llX", name != nullptr ? name + 1 : module.dli_fname,
                  static_cast<unsigned long long>(address - reinterpret_cast<uint64_t>(module.dli_fbase)));
    return;
  }
  std::snprintf(out, size, "host memory");
}

std::string NameAddress(const void *address, const MappedImage *image, const sim::SimFirmware *firmware) {
  char name[256];
  NameAddress(reinterpret_cast<uint64_t>(address), image, firmware, name, sizeof(name));
  return name;
}

void EndWithDriverFault(const std::string &what) {
  // One line, whatever the message quotes.
  const std::string line = "boardinv: the driver faulted: " + sim::Escaped(what) + "\n";
  WriteLine(line.c_str(), static_cast<int>(line.size()), line.size() + 1);
  _exit(kDriverFaultExitStatus);
}

}  // namespace loader
