// boardinv's last resort (tools/boardinv/Guard.h): an exception that no
// part of boardinv handled ends the program with exactly one escaped line
// on standard error, status 3 when it arose in or left a call of the driver
// (DriverScope), 2 anywhere else. Each case runs RunGuarded in a child
// process, as boardinv's main runs it, with a body that throws.
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <functional>
#include <new>
#include <stdexcept>
#include <string>

#include "tools/boardinv/Guard.h"

namespace guard_test {

// Not derived from std::exception: the line has no description of it.
struct NotAnError {};

struct Ending {
  bool exited = false;
  int status = -1;
  std::string err;
};

// RunGuarded(body) in a child whose standard error is a pipe; the child
// exits with what RunGuarded answers, if it answers.
Ending RunInChild(const std::function<int()> &body) {
  int fds[2];
  if (pipe(fds) != 0) {
    ADD_FAILURE() << "pipe";
    return {};
  }
  std::fflush(nullptr);
  const pid_t child = fork();
  if (child == 0) {
    close(fds[0]);
    dup2(fds[1], STDERR_FILENO);
    close(fds[1]);
    std::exit(boardinv::RunGuarded(body));
  }
  close(fds[1]);
  Ending ending;
  char buffer[4096];
  for (ssize_t got; (got = read(fds[0], buffer, sizeof(buffer))) != 0;) {
    if (got < 0) {
      break;
    }
    ending.err.append(buffer, static_cast<size_t>(got));
  }
  close(fds[0]);
  int wstatus = 0;
  waitpid(child, &wstatus, 0);
  ending.exited = WIFEXITED(wstatus);
  ending.status = ending.exited ? WEXITSTATUS(wstatus) : -1;
  return ending;
}

[[noreturn]] void Throw(int kind) {
  switch (kind) {
    case 0:
      throw std::runtime_error("no room\nfor \x1B this");
    case 1:
      throw std::bad_alloc();
    case 2:
      throw NotAnError();
    default:
      throw 42;
  }
}

// A function that may not throw, through which an exception reaches
// std::terminate instead of the handler around the body.
void NoThrow(int kind) noexcept { Throw(kind); }

const std::string kDriver =
    "boardinv: the driver faulted: an unexpected error in a call of the driver or in reading its answer (";
const std::string kElsewhere = "boardinv: an unexpected error (";

struct GuardCase {
  const char *name;
  std::function<int()> body;
  int status;
  std::string err;
};

class GuardTest : public ::testing::TestWithParam<GuardCase> {};

TEST_P(GuardTest, OneEscapedLineAndTheStatusOfWhoseFaultItIs) {
  const Ending ending = RunInChild(GetParam().body);
  ASSERT_TRUE(ending.exited) << ending.err;
  EXPECT_EQ(ending.status, GetParam().status);
  EXPECT_EQ(ending.err, GetParam().err);
}

INSTANTIATE_TEST_SUITE_P(
    Bodies, GuardTest,
    ::testing::Values(
        GuardCase{"returns_its_status", [] { return 1; }, 1, ""},
        GuardCase{"runtime_error_outside_the_driver", []() -> int { Throw(0); }, 2,
                  kElsewhere + "std::runtime_error: no room\\nfor \\x1B this)\n"},
        GuardCase{"runtime_error_in_the_driver",
                  []() -> int {
                    boardinv::DriverScope scope;
                    Throw(0);
                  },
                  3, kDriver + "std::runtime_error: no room\\nfor \\x1B this)\n"},
        GuardCase{"bad_alloc_outside_the_driver", []() -> int { Throw(1); }, 2,
                  kElsewhere + "std::bad_alloc: std::bad_alloc)\n"},
        GuardCase{"bad_alloc_in_the_driver",
                  []() -> int {
                    boardinv::DriverScope scope;
                    Throw(1);
                  },
                  3, kDriver + "std::bad_alloc: std::bad_alloc)\n"},
        GuardCase{"non_std_exception_outside_the_driver", []() -> int { Throw(2); }, 2,
                  kElsewhere + "guard_test::NotAnError: no description)\n"},
        GuardCase{"int_in_the_driver",
                  []() -> int {
                    boardinv::DriverScope scope;
                    Throw(3);
                  },
                  3, kDriver + "int: no description)\n"},
        // An exception that left a call of the driver is the driver's,
        // though the scope ended before anything caught it.
        GuardCase{"left_the_driver_then_rethrown",
                  []() -> int {
                    try {
                      boardinv::DriverScope scope;
                      Throw(0);
                    } catch (const std::exception &) {
                      throw;
                    }
                  },
                  3, kDriver + "std::runtime_error: no room\\nfor \\x1B this)\n"},
        // One handled inside the call taints nothing after it.
        GuardCase{"handled_in_the_driver_then_another_outside",
                  []() -> int {
                    {
                      boardinv::DriverScope scope;
                      try {
                        Throw(3);
                      } catch (int) {
                      }
                    }
                    Throw(1);
                  },
                  2, kElsewhere + "std::bad_alloc: std::bad_alloc)\n"},
        // Past every handler: std::terminate ends it the same way.
        GuardCase{"through_a_noexcept_function_outside_the_driver",
                  []() -> int {
                    NoThrow(0);
                    return 0;
                  },
                  2, kElsewhere + "std::runtime_error: no room\\nfor \\x1B this)\n"},
        GuardCase{"through_a_noexcept_function_in_the_driver",
                  []() -> int {
                    boardinv::DriverScope scope;
                    NoThrow(1);
                    return 0;
                  },
                  3, kDriver + "std::bad_alloc: std::bad_alloc)\n"}),
    [](const ::testing::TestParamInfo<GuardCase> &info) { return std::string(info.param.name); });

}  // namespace guard_test
