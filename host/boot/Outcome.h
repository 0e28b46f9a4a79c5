// Deriving what a boot did: the BootResult, from the simulated firmware's
// typed log and state after the driver ran and from the driver's module
// globals. Nothing here reads the log's display text.
#pragma once

#include <cstdint>

#include "host/boot/Boot.h"
#include "host/boot/DriverState.h"
#include "host/sim/SimFirmware.h"

namespace host {

// How the run of the driver went (RunBoot): whether its entry point
// returned and with what, and whether it ended parked in the stop display.
struct DriverRun {
  bool entryReturned = true;
  EFI_STATUS entryStatus = EFI_SUCCESS;
  bool parked = false;
  uint32_t indexRegisterBefore = 0;  // the platform index register before the driver ran
};

BootResult DeriveBootResult(sim::SimFirmware &firmware, const DriverState &driver, const DriverRun &run);

// The start-up part: the snapshot, PCD reads and messages, the heap buffer
// list the driver left (walked through checked pointers only), ports, the
// UART, the platform registers and a fatal stop.
StartupResult DeriveStartup(sim::SimFirmware &firmware, const DriverState &driver, const DriverRun &run);

}  // namespace host
