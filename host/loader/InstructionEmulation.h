// Instruction emulation (internal to host/loader): what the fault handler
// does with a faulting instruction of the driver's (InstructionEmulation.cpp),
// and the words for one the processor refused (RefusedInstructions.cpp).
#pragma once

#include <signal.h>
#include <ucontext.h>

#include <cstddef>
#include <cstdint>

namespace loader::traps {

// Performs a faulting instruction of the driver's, at rip inside the image,
// on the active hardware model and resumes after it: a port output, rdmsr,
// rdtsc and cpuid (trapped or rewritten), a load or store of a hardware
// window. False, with why set, when it is not one the loader emulates; an
// instruction that reaches the thread pointer ends the program.
bool Emulate(int signal, const siginfo_t *info, ucontext_t *context, uint64_t rip, const char **why);

// Names the instruction behind a general-protection fault (SIGSEGV without
// an address: a privileged or I/O instruction, an address that is not
// canonical, a jump to one) from its bytes and the registers. Returns the
// account; writes " accessing ..." into access when an access is known.
const char *NameGeneralProtection(ucontext_t *context, uint64_t rip, char *access, size_t accessSize);

}  // namespace loader::traps
