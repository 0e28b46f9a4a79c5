// The processor-time watchdog: a run of the driver (from StartWatchdog to
// StopWatchdog) that uses its allowance of processor time without making
// progress is taken for hung, a loop that would hang a machine for good:
// one line on standard error naming where it was, and exit status 3.
//
// Progress is whatever a source reports through its probe: a count that
// advances with each observable output that leads towards an end the
// source itself sets (the simulated platform's hardware model counts the
// values of its stop display, which it ends after the platform's number of
// them). An allowance in which the count advanced is followed by another:
// a long run that keeps moving is not a hang, one that stops moving is.
#pragma once

#include <cstdint>

namespace loader {

class MappedImage;

// BOARDINV_EFI_CPU_SECONDS: the processor time the driver may use in one
// run (from Arm to Disarm) without progress before it is taken for hung;
// default 10.
// Throws ImageError for a value that is not a whole number of seconds.
unsigned CpuSecondsLimitFromEnvironment();

// Progress as its source tells it.
struct Progress {
  uint64_t count = 0;          // advances with each output that counts
  const char *what = nullptr;  // that output in words, for the message ("stop display value"); null: "output"
};
// Asked from the watchdog's signal handler: async-signal-safe, and quick.
using ProgressProbe = Progress (*)();

// Installs the watchdog's handler (SIGPROF, on the alternate signal stack
// when one is set). seconds: the allowance; probe: the source of progress
// (null: none, every run ends after one allowance); image: where an offset
// is named ("at image+0x..."; elsewhere "in host code"). RemoveWatchdog
// puts back the handler that was there.
void InstallWatchdog(unsigned seconds, ProgressProbe probe, const MappedImage *image);
void RemoveWatchdog();

// A run begins: its first allowance, progress counted from here on. A run
// ends: no allowance runs.
void StartWatchdog();
void StopWatchdog();

}  // namespace loader
