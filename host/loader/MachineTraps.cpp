// The machine traps put together (MachineTraps.h): the hardware windows
// reserved (AddressWindows.cpp), the instructions the processor will not
// trap rewritten (CodeRewriting.cpp), system calls from the image filtered
// (SystemCallFilter.cpp), the fault handlers installed (FaultSignals.cpp,
// which hands instructions to InstructionEmulation.cpp) and the watchdog
// (Watchdog.cpp) fed with the hardware model's progress; then, per run of
// the driver, the processor's traps and the watchdog armed and disarmed.
#include "host/loader/MachineTraps.h"

#include <asm/prctl.h>
#include <sys/prctl.h>
#include <sys/syscall.h>
#include <unistd.h>

#include "host/loader/AddressWindows.h"
#include "host/loader/CodeRewriting.h"
#include "host/loader/FaultSignals.h"
#include "host/loader/SystemCallFilter.h"
#include "host/loader/TrapState.h"
#include "host/sim/HardwareModel.h"

namespace loader {

namespace traps {

const MappedImage *gImage = nullptr;
const std::vector<RewrittenSite> *gSites = nullptr;
const sim::SimFirmware *gPoolFirmware = nullptr;
volatile sig_atomic_t gArmed = 0;
volatile sig_atomic_t gDriverRan = 0;
volatile sig_atomic_t gNamingPool = 0;
sigjmp_buf gNamingJump;

}  // namespace traps

using namespace traps;

namespace {

bool gTscTrapOn = false;    // PR_SET_TSC is set while armed
bool gCpuidTrapOn = false;  // ARCH_SET_CPUID is set while armed

}  // namespace

Progress HardwareModelProgress() {
  const sim::HardwareModel *model = sim::ActiveHardwareIfAny();
  if (model == nullptr) {
    return {};
  }
  // Read as memory: the model counts from the fault handler's emulation.
  return {*static_cast<const volatile uint64_t *>(&model->progress), model->progressWhat};
}

MachineTraps::MachineTraps(const PeImage &file, MappedImage &image, const std::vector<uint32_t> &codeSymbols,
                           bool forceRewrite, unsigned cpuSecondsLimit) {
  ReserveWindows();

  const ProcessorTraps processor = ProbeProcessorTraps();
  rdtsc_ = processor.rdtsc && !forceRewrite ? TrapMethod::Fault : TrapMethod::Rewrite;
  cpuid_ = processor.cpuid && !forceRewrite ? TrapMethod::Fault : TrapMethod::Rewrite;
  // Instructions that reach the thread pointer are rewritten whatever the
  // method: the processor runs them without a fault.
  for (const RewrittenSite &site : WalkCode(file, codeSymbols).sites) {
    if ((site.kind == SiteKind::Rdtsc && rdtsc_ == TrapMethod::Rewrite) ||
        (site.kind == SiteKind::Cpuid && cpuid_ == TrapMethod::Rewrite) || site.kind == SiteKind::ThreadPointer) {
      rewritten_.push_back(site);
    }
  }
  RewriteSites(file, image, rewritten_);

  TrapSystemCallsFrom(reinterpret_cast<uint64_t>(image.Base()), image.Size());
  RememberHostThreadPointer();
  gImage = &image;
  gSites = &rewritten_;
  InstallFaultHandlers();
  InstallWatchdog(cpuSecondsLimit, HardwareModelProgress, &image);
}

MachineTraps::~MachineTraps() {
  Disarm();
  RemoveWatchdog();
  if (!gDriverRan) {
    RemoveFaultHandlers();
  }
  // Once the driver ran, the handlers stay for the rest of the process: a
  // heap it damaged may fail at any later free.
  gImage = nullptr;
  gSites = nullptr;
  gPoolFirmware = nullptr;
  ReleaseWindows();
}

void MachineTraps::Arm() {
  gTscTrapOn = rdtsc_ == TrapMethod::Fault && prctl(PR_SET_TSC, PR_TSC_SIGSEGV, 0, 0, 0) == 0;
  gCpuidTrapOn = cpuid_ == TrapMethod::Fault && syscall(SYS_arch_prctl, ARCH_SET_CPUID, 0) == 0;
  gArmed = 1;
  gDriverRan = 1;
  StartWatchdog();
}

void MachineTraps::Disarm() {
  StopWatchdog();
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

void MachineTraps::NamePoolBlocksOf(const sim::SimFirmware *firmware) { gPoolFirmware = firmware; }

}  // namespace loader
