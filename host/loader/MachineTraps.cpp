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

#include "firmware/BoardHardware.h"
#include "host/loader/X86Decoder.h"
#include "host/sim/HardwareModel.h"

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

// Ends the program for a fault the loader does not emulate: one line on
// standard error, exit status 3. Only async-signal-safe calls, and a
// demangler working in a buffer of its own.
[[noreturn]] void ReportFault(int signal, const siginfo_t *info, uint64_t rip, const char *why) {
  char where[512];
  if (gImage != nullptr && gImage->Contains(rip)) {
    std::snprintf(where, sizeof(where), "at image+0x%llX",
                  static_cast<unsigned long long>(rip - reinterpret_cast<uint64_t>(gImage->Base())));
  } else {
    Dl_info symbol{};
    const bool known = dladdr(reinterpret_cast<void *>(rip), &symbol) != 0;
    if (known && symbol.dli_sname != nullptr) {
      static char demangled[4096];
      size_t length = sizeof(demangled);
      int status = -1;
      abi::__cxa_demangle(symbol.dli_sname, demangled, &length, &status);
      std::snprintf(where, sizeof(where), "in host function %.400s%s", status == 0 ? demangled : symbol.dli_sname,
                    gArmed ? ", which the driver called" : "");
    } else if (known && symbol.dli_fname != nullptr) {
      const char *name = std::strrchr(symbol.dli_fname, '/');
      std::snprintf(where, sizeof(where), "in host code (%.200s+0x%llX)", name != nullptr ? name + 1 : symbol.dli_fname,
                    static_cast<unsigned long long>(rip - reinterpret_cast<uint64_t>(symbol.dli_fbase)));
    } else {
      std::snprintf(where, sizeof(where), "at 0x%llX, outside the image and the program",
                    static_cast<unsigned long long>(rip));
    }
  }
  char access[64] = "";
  if ((signal == SIGSEGV || signal == SIGBUS) && info != nullptr) {
    std::snprintf(access, sizeof(access), " accessing 0x%llX",
                  static_cast<unsigned long long>(reinterpret_cast<uint64_t>(info->si_addr)));
  }
  char message[768];
  const int length = std::snprintf(message, sizeof(message), "boardinv: the driver faulted: %s (%s)%s %s\n",
                                   SignalName(signal), why, access, where);
  if (length > 0 && write(STDERR_FILENO, message, std::min<size_t>(static_cast<size_t>(length), sizeof(message) - 1)) < 0) {
  }
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
  if (length > 0 && write(STDERR_FILENO, message, std::min<size_t>(static_cast<size_t>(length), sizeof(message) - 1)) < 0) {
  }
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
    if (site != gSites->end() && site->rva == offset && model != nullptr) {
      if (site->rdtsc) {
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

void OnFault(int signal, siginfo_t *info, void *raw) {
  RestoreHostThreadPointer();
  auto *context = static_cast<ucontext_t *>(raw);
  const uint64_t rip = static_cast<uint64_t>(context->uc_mcontext.gregs[REG_RIP]);
  if (!gArmed && gDriverRan) {
    // The simulation's own code failed after the driver ran: its code may
    // have written over the simulation's memory (hand-off blocks, protocol
    // instances) that it was given.
    ReportFault(signal, info, rip, "after the driver ran, in memory it may have damaged");
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
  ReportFault(signal, info, rip, why);
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
      uint8_t *opcode = at + insn.opcodeOffset;
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
        walk.sites.push_back({at, static_cast<uint8_t>(insn.length), IsRdtsc(insn)});
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
  if (rdtsc_ == TrapMethod::Rewrite || cpuid_ == TrapMethod::Rewrite) {
    for (const RewrittenSite &site : WalkCode(file, codeSymbols).sites) {
      if ((site.rdtsc && rdtsc_ == TrapMethod::Rewrite) || (!site.rdtsc && cpuid_ == TrapMethod::Rewrite)) {
        rewritten_.push_back(site);
      }
    }
    RewriteSites(file, image, rewritten_);
  }

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

}  // namespace loader
