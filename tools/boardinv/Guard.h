// How boardinv ends: its one-line messages on standard error, and the last
// resort for an exception that no part of it handled.
#pragma once

#include <functional>
#include <string>

namespace boardinv {

constexpr int kExitUsage = 2;
constexpr int kExitDriverFault = 3;

// Prints "boardinv: MESSAGE" on one line to standard error, MESSAGE
// escaped as sim::Escaped escapes input (\n, \xHH): every line boardinv
// writes there goes through it.
void PrintMessage(const std::string &message);

// Prints "boardinv: MESSAGE" as PrintMessage does and exits with the usage
// status.
[[noreturn]] void Die(const std::string &message);

// Marks the program as ending after its message; answers whether it was
// ending already (a write error of standard output met on the way out is
// then not a second message).
bool StartEnding();

// Marks a call of driver code and the reading of its answer: an exception
// that leaves such a scope and no part of boardinv handles ends the program
// with one line and status 3 (the driver faulted); one raised anywhere else
// with status 2.
class DriverScope {
 public:
  DriverScope();
  ~DriverScope();
  DriverScope(const DriverScope &) = delete;
  DriverScope &operator=(const DriverScope &) = delete;

 private:
  int exceptions_;
};

// Runs body and answers its status. An exception that escapes it, or that
// reaches std::terminate on the way (through code without unwind tables,
// or a noexcept function), ends the program with one line, "boardinv: the
// driver faulted: an unexpected error in a call of the driver or in reading
// its answer (TYPE: WHAT)" and status 3 when it arose in or left a
// DriverScope, "boardinv: an unexpected error (TYPE: WHAT)" and status 2
// anywhere else (WHAT "no description" for an exception not derived from
// std::exception).
int RunGuarded(const std::function<int()> &body);

}  // namespace boardinv
