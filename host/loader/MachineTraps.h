// Lets the shipped driver binary run in this process against the simulated
// platform's hardware model, without changing the binary file:
//
// - the two physical windows it touches (PCI Express configuration space at
//   PCI_EXPRESS_BASE and the UART at UART_BASE) are mapped at their fixed
//   addresses with no access, so every load and store there faults; the
//   privileged instructions (out, rdmsr) fault in user mode anyway. A
//   handler decodes the faulting instruction, performs it on the hardware
//   model (which records it, as for the linked-in driver) and resumes after
//   it;
// - rdtsc and cpuid are made to fault where the processor and kernel really
//   make them fault (probed once per process by executing each under its
//   trap). Where one does not fault, or everywhere when rewriting is forced,
//   each occurrence of it in the mapped copy of the image's code is
//   rewritten into ud2 (the same two bytes' length) and emulated on the
//   model when it traps;
// - every instruction of the image's code that reaches through the FS or GS
//   base (an operand with that segment override), or reads or moves either
//   base, is rewritten into ud2 too: the thread pointer is this program's,
//   and firmware has no thread-local storage, so running one is a fault of
//   the driver's, named as such;
// - any other fault while the driver runs (its own code, a jump out of the
//   image, or host code it called) ends the program with one line naming
//   the signal and the image offset or host function, and exit status 3.
//   A privileged or I/O instruction the model does not perform (hlt, cli,
//   in, wrmsr, ...) is named with its operands. Addresses are named by what
//   holds them (image+0x..., a pool allocation, the stack), never by the
//   host's own numbers.
//   The handler runs on an alternate signal stack, so a stack overflow is
//   reported too;
// - a run that uses its allowance of processor time without progress (the
//   hardware model's count of outputs, Watchdog.h) is reported too: a loop
//   that would hang the machine for good.
//
// The parts, each in a file of its own: AddressWindows.cpp (the windows and
// the names of addresses), CodeRewriting.cpp (the walk over the code and
// the rewriting into ud2), SystemCallFilter.cpp, FaultSignals.cpp (the
// fault handler), InstructionEmulation.cpp and RefusedInstructions.cpp
// (what the handler does with an instruction), Watchdog.cpp (processor
// time); MachineTraps.cpp puts them together.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "host/loader/PeImage.h"
#include "host/loader/Watchdog.h"

namespace sim {
class SimFirmware;
}

namespace loader {

// The exit status of a program whose loaded driver faulted.
constexpr int kDriverFaultExitStatus = 3;

// How rdtsc and cpuid reach the hardware model.
enum class TrapMethod {
  Fault,    // the processor traps the instruction itself
  Rewrite,  // the instruction is rewritten into ud2 in the mapped code
};

// Whether the processor really traps each instruction here, probed once.
struct ProcessorTraps {
  bool rdtsc = false;  // PR_SET_TSC makes rdtsc fault
  bool cpuid = false;  // ARCH_SET_CPUID makes cpuid fault
};
ProcessorTraps ProbeProcessorTraps();

// BOARDINV_EFI_TRAPS=rewrite forces rewriting even where the processor
// traps; unset or "auto" uses the processor's traps where they fire.
// Throws ImageError for any other value.
bool RewriteForcedByEnvironment();

// An instruction the loader intercepts by rewriting it.
enum class SiteKind {
  Rdtsc,          // emulated on the model's counter
  Cpuid,          // emulated by the model's stop-override agent
  ThreadPointer,  // reaches through the FS or GS base, or reads or moves one: a fault
};
struct RewrittenSite {
  uint32_t rva = 0;     // where the instruction (prefixes included) starts
  uint8_t length = 0;   // its whole length; execution resumes after it
  SiteKind kind = SiteKind::Rdtsc;
  std::string what;     // for ThreadPointer: what it does ("a read through the FS base, fs:[0x28]")
};

// Walks the executable sections of the image instruction by instruction,
// restarting at each code symbol's address (the linker's map gives them),
// and finds every rdtsc, cpuid and use of the thread pointer at an
// instruction boundary.
struct CodeWalk {
  std::vector<RewrittenSite> sites;
  // Symbols that the walk found inside an instruction (it restarted there):
  // none in a well-formed image.
  std::vector<uint32_t> symbolsInsideInstructions;
};
CodeWalk WalkCode(const PeImage &image, const std::vector<uint32_t> &codeSymbols);

// The RVAs of the map's symbols that lie in executable sections: where the
// walk restarts.
std::vector<uint32_t> CodeSymbols(const PeImage &image, const std::map<std::string, uint32_t> &symbols);

class MachineTraps {
 public:
  // Maps the windows, rewrites what the processor will not trap, and
  // installs the handlers. Throws ImageError when a window cannot be had at
  // its address (for example under a sanitizer that reserves that range).
  // A run of the driver that uses cpuSecondsLimit seconds of processor time
  // in which the hardware model saw no progress ends the program with
  // status 3 (the watchdog, fed by HardwareModelProgress).
  MachineTraps(const PeImage &file, MappedImage &image, const std::vector<uint32_t> &codeSymbols,
               bool forceRewrite, unsigned cpuSecondsLimit);
  ~MachineTraps();
  // Once the driver has run, the fault handlers stay installed for the rest
  // of the process (a damaged heap may fail at any later free).
  MachineTraps(const MachineTraps &) = delete;
  MachineTraps &operator=(const MachineTraps &) = delete;

  // The driver runs between Arm and Disarm: its faults are emulated or
  // reported, and the processor's traps are on.
  void Arm();
  void Disarm();

  // The firmware whose pool blocks a fault's address is named by while the
  // driver runs (null: none). Set it to null before that firmware ends.
  void NamePoolBlocksOf(const sim::SimFirmware *firmware);

  TrapMethod RdtscMethod() const { return rdtsc_; }
  TrapMethod CpuidMethod() const { return cpuid_; }
  const std::vector<RewrittenSite> &Rewritten() const { return rewritten_; }

 private:
  TrapMethod rdtsc_ = TrapMethod::Fault;
  TrapMethod cpuid_ = TrapMethod::Fault;
  std::vector<RewrittenSite> rewritten_;
};

// The progress of the active hardware model (none without one): its count
// of the outputs it saw that lead towards an end it sets. The watchdog's
// probe while the driver runs under the traps.
Progress HardwareModelProgress();

// Names an address for a message without printing a number of this
// program's own memory: "image+0x1A20" inside the image, "pool allocation
// 3+0x8" (with ", past its end of 8 bytes" or ", before its start") at or
// near a live pool block of firmware (may be null), the number itself in
// the first 64 KiB, in a hardware window or where no address can be
// (not canonical), "boardinv+0x..." inside a module of the program, and
// otherwise "host memory" alone. Async-signal-safe; always ends out.
void NameAddress(uint64_t address, const MappedImage *image, const sim::SimFirmware *firmware, char *out,
                 size_t size);
std::string NameAddress(const void *address, const MappedImage *image, const sim::SimFirmware *firmware);

// Ends the program for a driver that did something the host cannot use
// (an answer that does not hold up, checked after its code returned): one
// line, "boardinv: the driver faulted: WHAT", and exit status 3, as a fault
// of its code does. Output not yet written is not written.
[[noreturn]] void EndWithDriverFault(const std::string &what);

}  // namespace loader
