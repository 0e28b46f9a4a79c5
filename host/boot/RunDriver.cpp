// Running the driver: the one linked into this program or a loaded image,
// from its entry point through the End-of-DXE signal, under the loader's
// traps for an image; here or in a fresh child process.
#include <sys/wait.h>
#include <unistd.h>

#include <memory>
#include <optional>
#include <stdexcept>
#include <string>

#include "driver/firmware/Guids.h"
#include "host/boot/Outcome.h"
#include "host/harness/LinkedDriver.h"

namespace host {

namespace {

// Runs the entry point with the firmware's tables, then signals End-of-DXE
// if the driver is not parked. The stop display never returns on a
// machine; the hardware model takes control back after the platform's
// number of display values.
DriverRun RunDriver(sim::SimFirmware &firmware, const DriverState &driver, loader::MachineTraps *traps) {
  DriverRun run;
  run.indexRegisterBefore = firmware.Hardware().platformRegisters.index;
  if (traps != nullptr) {
    // An overrun of a pool block faults in the image's code, where the
    // traps name it, instead of corrupting this program's heap.
    firmware.Pool().PlacePoolBlocksBeforeGuardPages();
    traps->Arm();
  }
  EFI_STATUS entryStatus = EFI_SUCCESS;
  bool parked = sim::RunUntilParked(firmware.Hardware(), [&firmware, &entryStatus, &driver] {
    entryStatus = driver.entry(firmware.ImageHandle(), firmware.SystemTable());
  });
  run.entryReturned = !parked;
  run.entryStatus = entryStatus;
  if (!parked) {
    parked = sim::RunUntilParked(firmware.Hardware(),
                                 [&firmware] { firmware.Events().SignalEventGroup(gEfiEndOfDxeEventGroupGuid); });
  }
  if (traps != nullptr) {
    traps->Disarm();
  }
  run.parked = parked;
  return run;
}

}  // namespace

BootResult RunBoot(const sim::Platform &platform, const DriverImage *image) {
  // A loaded image reaches the hardware model through faults it takes. The
  // traps outlive the simulated firmware, so that a fault while its memory
  // is read back or released after the driver ran is reported too.
  std::unique_ptr<loader::MachineTraps> traps;
  if (image != nullptr) {
    traps = TrapsFor(*image);
  }
  sim::SimFirmware firmware(platform);
  // While the image runs, a fault's address is named by the pool block it
  // lies in; not once the firmware is gone.
  struct PoolNames {
    loader::MachineTraps *traps;
    ~PoolNames() {
      if (traps != nullptr) {
        traps->NamePoolBlocksOf(nullptr);
      }
    }
  } poolNames{traps.get()};
  if (traps != nullptr) {
    traps->NamePoolBlocksOf(&firmware);
    // The texts the image hands the debug print service lie in it.
    firmware.DebugPrint().SetDriverImage(image->state.memory, image->state.memorySize);
  }
  // The linked-in driver meets its module globals as loaded; its entry
  // point stores the tables.
  std::optional<LinkedDriver> linkedDriver;
  if (image == nullptr) {
    linkedDriver.emplace(firmware, LinkedDriver::Tables::kStoredByEntryPoint);
  }
  const DriverState linked;
  const DriverState &driver = image != nullptr ? image->state : linked;
  const DriverRun run = RunDriver(firmware, driver, traps.get());
  return DeriveBootResult(firmware, driver, run);
}

std::string RunIsolated(const std::function<std::string()> &work) {
  if (sim::SimFirmware::EverActive()) {
    // The child would inherit module globals that driver code changed here.
    throw std::logic_error(
        "RunIsolated in a process that already ran driver code in-process: "
        "keep isolated boots and in-process driver tests in separate test programs");
  }
  int pipeEnds[2];
  if (pipe(pipeEnds) != 0) {
    throw std::runtime_error("pipe failed");
  }
  const pid_t child = fork();
  if (child < 0) {
    throw std::runtime_error("fork failed");
  }
  if (child == 0) {
    close(pipeEnds[0]);
    const std::string answer = work();
    size_t written = 0;
    while (written < answer.size()) {
      ssize_t n = write(pipeEnds[1], answer.data() + written, answer.size() - written);
      if (n <= 0) {
        _exit(3);
      }
      written += static_cast<size_t>(n);
    }
    close(pipeEnds[1]);
    _exit(0);
  }
  close(pipeEnds[1]);
  std::string answer;
  char buffer[65536];
  ssize_t n;
  while ((n = read(pipeEnds[0], buffer, sizeof(buffer))) > 0) {
    answer.append(buffer, static_cast<size_t>(n));
  }
  close(pipeEnds[0]);
  int status = 0;
  waitpid(child, &status, 0);
  if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) {
    throw std::runtime_error("the simulated boot died (wait status " + std::to_string(status) + ")");
  }
  return answer;
}

}  // namespace host
