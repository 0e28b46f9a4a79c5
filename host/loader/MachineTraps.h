// Lets the shipped driver binary run in this process against the simulated
// platform's hardware model, without changing the binary: the two physical
// windows it touches (PCI Express configuration space at 0xE0000000 and the
// UART at 0xFEDC9000) are mapped at their fixed addresses with no access, so
// every load and store there faults; the privileged instructions (out,
// rdmsr) fault in user mode anyway, and rdtsc is made to fault. A SIGSEGV
// handler decodes the faulting instruction, performs it on the hardware
// model (which records it, as for the linked-in driver) and resumes after
// it. CPUID is made to fault too where the processor allows it (CPUID
// faulting), so that the model answers the stop-override query; PAUSE runs
// natively.
#pragma once

#include "host/loader/PeImage.h"

namespace loader {

class MachineTraps {
 public:
  // Maps the windows and installs the handler; throws ImageError when a
  // window cannot be had at its address (for example under a sanitizer
  // that reserves that range).
  explicit MachineTraps(const MappedImage &image);
  ~MachineTraps();
  MachineTraps(const MachineTraps &) = delete;
  MachineTraps &operator=(const MachineTraps &) = delete;

  // Time-stamp counter reads fault only while the driver runs.
  void Arm();
  void Disarm();
  // Whether CPUID faults (and is answered by the hardware model) while
  // armed; where the processor cannot make it fault, CPUID runs natively.
  static bool CpuidTrapped();
};

}  // namespace loader
