// The processor-time watchdog (Watchdog.h): a timer of processor time
// (ITIMER_PROF) per allowance; when one runs out it asks its source of
// progress whether the run moved on since the last, and either grants
// another allowance or ends the program for a hang.
#include "host/loader/Watchdog.h"

#include <signal.h>
#include <sys/time.h>
#include <ucontext.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "host/loader/FaultSignals.h"
#include "host/loader/PeImage.h"

namespace loader {

namespace {

unsigned gCpuSecondsLimit = 10;
ProgressProbe gProbe = nullptr;
const MappedImage *gWatchedImage = nullptr;
struct sigaction gPreviousProfile;
// Set while a run is watched.
volatile sig_atomic_t gWatching = 0;
// The progress count when the run began, and when its allowance last ran out.
uint64_t gProgressAtStart = 0;
uint64_t gProgressAtLimit = 0;

Progress ProgressNow() { return gProbe != nullptr ? gProbe() : Progress{}; }

void SetTimeLimit(unsigned seconds) {
  itimerval timer{};
  timer.it_value.tv_sec = seconds;
  setitimer(ITIMER_PROF, &timer, nullptr);
}

// The driver ran past its allowance of processor time: a loop that does not
// end (real firmware would hang there for good), unless it made progress.
void OnTimeLimit(int, siginfo_t *, void *raw) {
  traps::RestoreHostThreadPointer();
  if (!gWatching) {
    return;
  }
  const Progress progress = ProgressNow();
  if (progress.count != gProgressAtLimit) {
    // The run moved on in this allowance (a display showing value after
    // value for as long as the platform asked): not a hang. It has another
    // allowance for the next step.
    gProgressAtLimit = progress.count;
    SetTimeLimit(gCpuSecondsLimit);
    return;
  }
  const auto *context = static_cast<const ucontext_t *>(raw);
  const uint64_t rip = static_cast<uint64_t>(context->uc_mcontext.gregs[REG_RIP]);
  char where[64] = "in host code";
  if (gWatchedImage != nullptr && gWatchedImage->Contains(rip)) {
    std::snprintf(where, sizeof(where), "at image+0x%llX",
                  static_cast<unsigned long long>(rip - reinterpret_cast<uint64_t>(gWatchedImage->Base())));
  }
  char message[256];
  const int length =
      progress.count != gProgressAtStart
          ? std::snprintf(message, sizeof(message),
                          "boardinv: the driver showed no further %.100s within %u s of processor time (%s)\n",
                          progress.what != nullptr ? progress.what : "output", gCpuSecondsLimit, where)
          : std::snprintf(message, sizeof(message),
                          "boardinv: the driver did not return within %u s of processor time (%s)\n",
                          gCpuSecondsLimit, where);
  traps::WriteLine(message, length, sizeof(message));
  _exit(kDriverFaultExitStatus);
}

}  // namespace

unsigned CpuSecondsLimitFromEnvironment() {
  const char *setting = std::getenv("BOARDINV_EFI_CPU_SECONDS");
  if (setting == nullptr || *setting == 0) {
    return 10;
  }
  char *end = nullptr;
  const unsigned long seconds = std::strtoul(setting, &end, 10);
  if (*end != 0 || seconds == 0 || seconds > 86400 || *setting < '0' || *setting > '9') {
    throw ImageError(std::string("BOARDINV_EFI_CPU_SECONDS is \"") + setting +
                     "\"; it takes a whole number of seconds from 1 to 86400");
  }
  return static_cast<unsigned>(seconds);
}

void InstallWatchdog(unsigned seconds, ProgressProbe probe, const MappedImage *image) {
  gCpuSecondsLimit = seconds;
  gProbe = probe;
  gWatchedImage = image;
  struct sigaction limit {};
  limit.sa_sigaction = OnTimeLimit;
  limit.sa_flags = SA_SIGINFO | SA_ONSTACK;
  sigemptyset(&limit.sa_mask);
  sigaction(SIGPROF, &limit, &gPreviousProfile);
}

void RemoveWatchdog() {
  StopWatchdog();
  sigaction(SIGPROF, &gPreviousProfile, nullptr);
  gProbe = nullptr;
  gWatchedImage = nullptr;
}

void StartWatchdog() {
  gProgressAtStart = ProgressNow().count;
  gProgressAtLimit = gProgressAtStart;
  gWatching = 1;
  SetTimeLimit(gCpuSecondsLimit);
}

void StopWatchdog() {
  SetTimeLimit(0);
  gWatching = 0;
}

}  // namespace loader
