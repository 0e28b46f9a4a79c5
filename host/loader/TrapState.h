// The state the loader's signal handlers share (internal to host/loader):
// what is mapped, what was rewritten, and whether the driver runs. One
// image at a time runs in a process, so it is global; the handlers read it.
#pragma once

#include <setjmp.h>
#include <signal.h>

#include <cstdint>
#include <vector>

#include "host/loader/MachineTraps.h"

namespace loader::traps {

constexpr uint64_t kPageSize = 4096;

// The image the driver runs from (null: none mapped).
extern const MappedImage *gImage;
// The rewritten instructions of the image, by RVA (null: none).
extern const std::vector<RewrittenSite> *gSites;
// The firmware whose pool blocks name a fault's address while the driver runs.
extern const sim::SimFirmware *gPoolFirmware;
// Set while the driver runs (between Arm and Disarm).
extern volatile sig_atomic_t gArmed;
// Set once the driver ran, since the traps were set up.
extern volatile sig_atomic_t gDriverRan;
// Set while a fault's address is looked up among the pool's headers, which
// code that ran wild may have damaged: a fault in that walk jumps back to it.
extern volatile sig_atomic_t gNamingPool;
extern sigjmp_buf gNamingJump;

}  // namespace loader::traps
