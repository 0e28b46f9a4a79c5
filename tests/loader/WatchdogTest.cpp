// The processor-time watchdog renews its allowance whenever its source of
// progress advanced, whatever the source: a counter of the test's own, or
// the hardware model's count reported by something other than its stop
// display. Each case runs in a child process, which the watchdog ends.
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "host/loader/MachineTraps.h"
#include "host/loader/Watchdog.h"
#include "host/sim/HardwareModel.h"

namespace {

// The processor time this process has used, the clock the watchdog's
// allowance is measured in.
double CpuSeconds() {
  timespec now{};
  clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &now);
  return static_cast<double>(now.tv_sec) + static_cast<double>(now.tv_nsec) / 1e9;
}

// Uses processor time until `until` seconds of it have passed since the
// call, calling step at each of the given times.
void Spin(double until, const std::vector<double> &steps, const std::function<void()> &step) {
  const double start = CpuSeconds();
  auto next = steps.begin();
  for (double used = 0; used < until; used = CpuSeconds() - start) {
    if (next != steps.end() && used >= *next) {
      step();
      ++next;
    }
  }
}

struct Outcome {
  int status = -1;
  std::string err;
};

// Runs body in a child process; its exit status and standard error.
Outcome InChild(const std::function<void()> &body) {
  int pipeFds[2];
  if (pipe(pipeFds) != 0) {
    return {};
  }
  const pid_t child = fork();
  if (child == 0) {
    dup2(pipeFds[1], STDERR_FILENO);
    close(pipeFds[0]);
    body();
    _exit(0);
  }
  close(pipeFds[1]);
  Outcome outcome;
  char buffer[512];
  for (ssize_t got; (got = read(pipeFds[0], buffer, sizeof(buffer))) > 0;) {
    outcome.err.append(buffer, static_cast<size_t>(got));
  }
  close(pipeFds[0]);
  int status = 0;
  waitpid(child, &status, 0);
  outcome.status = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
  return outcome;
}

// The test's own source of progress.
volatile uint64_t gSteps = 0;
loader::Progress TestSteps() { return {gSteps, "test step"}; }

sim::HardwareModel *gModel = nullptr;

enum class Source { TestCounter, HardwareModel };

// Advances the source by one output.
void Advance(Source source) {
  if (source == Source::TestCounter) {
    gSteps = gSteps + 1;
  } else {
    gModel->ReportProgress("frame");
  }
}

struct Case {
  const char *what;
  Source source;
  int before;                 // advances before the run starts
  std::vector<double> steps;  // processor time into the run at which the source advances
  double run;                            // the run's processor time, if nothing ends it
  int status;
  const char *expected;  // standard error
};

class WatchdogTest : public ::testing::TestWithParam<Case> {};

TEST_P(WatchdogTest, RenewsOnProgressAndEndsAStall) {
  const Case c = GetParam();
  const Outcome outcome = InChild([&c] {
    sim::HardwareModel model;
    gModel = &model;
    sim::SetActiveHardware(&model);
    loader::InstallWatchdog(1, c.source == Source::TestCounter ? TestSteps : loader::HardwareModelProgress, nullptr);
    for (int i = 0; i < c.before; i++) {
      Advance(c.source);
    }
    loader::StartWatchdog();
    Spin(c.run, c.steps, [&c] { Advance(c.source); });
    loader::StopWatchdog();
    loader::RemoveWatchdog();
    sim::SetActiveHardware(nullptr);
  });
  EXPECT_EQ(outcome.status, c.status) << outcome.err;
  EXPECT_EQ(outcome.err, c.expected);
}

constexpr const char *kStalledSteps =
    "boardinv: the driver showed no further test step within 1 s of processor time (in host code)\n";
constexpr const char *kStalledFrames =
    "boardinv: the driver showed no further frame within 1 s of processor time (in host code)\n";
constexpr const char *kNoProgress = "boardinv: the driver did not return within 1 s of processor time (in host code)\n";

INSTANTIATE_TEST_SUITE_P(
    Progress, WatchdogTest,
    ::testing::Values(
        // Progress in every allowance: a run of two and a half allowances ends as it will.
        Case{"steady_counter", Source::TestCounter, 0, {0.25, 0.5, 0.75, 1.0, 1.25, 1.5, 1.75, 2.0, 2.25}, 2.5, 0, ""},
        Case{"steady_model", Source::HardwareModel, 0, {0.25, 0.5, 0.75, 1.0, 1.25, 1.5, 1.75, 2.0, 2.25}, 2.5, 0,
             ""},
        // Progress in the first allowance alone: the second ends the run.
        Case{"stalled_counter", Source::TestCounter, 0, {0.1, 0.2, 0.3}, 5, 3, kStalledSteps},
        Case{"stalled_model", Source::HardwareModel, 0, {0.1, 0.2, 0.3}, 5, 3, kStalledFrames},
        // Progress before the run is not the run's: the first allowance ends it.
        Case{"progress_before_the_run", Source::HardwareModel, 2, {}, 5, 3, kNoProgress}),
    [](const ::testing::TestParamInfo<Case> &info) { return std::string(info.param.what); });

}  // namespace
