// Signal handling of the loader (internal to host/loader): the handler of
// the signals a faulting instruction raises, on an alternate stack, and
// the one line that ends the program for a fault of the driver's
// (FaultSignals.cpp).
#pragma once

#include <cstddef>

#include "host/loader/MachineTraps.h"

namespace loader::traps {

// Takes note of this program's thread pointer; RestoreHostThreadPointer
// puts it back on entry to a handler (code of a damaged image may have
// moved it; the handler's own calls need it). Before the note, restoring
// does nothing.
void RememberHostThreadPointer();
void RestoreHostThreadPointer();

// Sets up the alternate signal stack and installs the fault handler for
// every fault signal; RemoveFaultHandlers puts back what was there.
void InstallFaultHandlers();
void RemoveFaultHandlers();

// Writes a message of length bytes (at most size - 1) to standard error
// with one system call. Async-signal-safe.
void WriteLine(const char *message, int length, size_t size);

// Ends the program for an instruction of the image's that reaches the
// thread pointer (rewritten into ud2 at setup): what it does, and where.
[[noreturn]] void ReportThreadPointerUse(const RewrittenSite &site);

}  // namespace loader::traps
