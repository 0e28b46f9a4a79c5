// Signal handling: the handler of the signals a faulting instruction
// raises while the driver runs. It hands the instruction to the emulation
// (InstructionEmulation.cpp); whatever is not emulated ends the program
// with one line naming the signal, why and where, and exit status 3. It
// runs on an alternate stack, so a stack overflow is reported too.
#include "host/loader/FaultSignals.h"

#include <asm/prctl.h>
#include <setjmp.h>
#include <signal.h>
#include <sys/syscall.h>
#include <ucontext.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstring>

#include "host/loader/AddressWindows.h"
#include "host/loader/InstructionEmulation.h"
#include "host/loader/TrapState.h"
#include "host/sim/Text.h"

namespace loader {

using namespace traps;

namespace {

// The signals a faulting instruction raises, and the C library's abort
// (taken only once the driver ran: a heap it damaged).
constexpr int kFaultSignals[] = {SIGSEGV, SIGILL, SIGFPE, SIGBUS, SIGTRAP, SIGSYS, SIGABRT};
constexpr size_t kFaultSignalCount = sizeof(kFaultSignals) / sizeof(kFaultSignals[0]);

struct sigaction gPrevious[kFaultSignalCount];
stack_t gPreviousStack;
alignas(16) char gAlternateStack[256 * 1024];

// The thread pointer of this program, restored on entry to every handler:
// code of a damaged image may have moved it (wrfsbase runs in user mode), and
// the handler's own calls need it (thread-local data, lazy binding).
unsigned long gHostFsBase = 0;

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

}  // namespace

namespace traps {

void RememberHostThreadPointer() { syscall(SYS_arch_prctl, ARCH_GET_FS, &gHostFsBase); }

void RestoreHostThreadPointer() {
  if (gHostFsBase == 0) {
    return;
  }
  // A raw system call: a library call could itself need the thread pointer.
  long result;
  __asm__ __volatile__("syscall"
                       : "=a"(result)
                       : "0"(static_cast<long>(SYS_arch_prctl)), "D"(static_cast<long>(ARCH_SET_FS)), "S"(gHostFsBase)
                       : "rcx", "r11", "memory");
  (void)result;
}

void WriteLine(const char *message, int length, size_t size) {
  if (length > 0 && write(STDERR_FILENO, message, std::min<size_t>(static_cast<size_t>(length), size - 1)) < 0) {
  }
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

void InstallFaultHandlers() {
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
}

void RemoveFaultHandlers() {
  for (size_t i = 0; i < kFaultSignalCount; i++) {
    sigaction(kFaultSignals[i], &gPrevious[i], nullptr);
  }
  sigaltstack(&gPreviousStack, nullptr);
}

}  // namespace traps

void EndWithDriverFault(const std::string &what) {
  // One line, whatever the message quotes.
  const std::string line = "boardinv: the driver faulted: " + sim::Escaped(what) + "\n";
  WriteLine(line.c_str(), static_cast<int>(line.size()), line.size() + 1);
  _exit(kDriverFaultExitStatus);
}

}  // namespace loader
