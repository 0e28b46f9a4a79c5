// The ending of boardinv: its one-line messages, and the last resort for an
// exception that no part of it handled.
#include "tools/boardinv/Guard.h"

#include <cxxabi.h>

#include <cstdio>
#include <cstdlib>
#include <exception>
#include <string>
#include <typeinfo>

#include "host/sim/Text.h"

namespace boardinv {

namespace {

// A message has been given and the program is ending: a write error of
// standard output met on the way out is not a second message.
bool gEnding = false;

// Calls into driver code now running, and whether an exception has left
// one (see DriverScope).
int gDriverScopes = 0;
bool gExceptionLeftDriver = false;

// The name of the type of the exception being handled, for the message.
std::string CurrentExceptionType() {
  const std::type_info *type = abi::__cxa_current_exception_type();
  if (type == nullptr) {
    return "unknown";
  }
  int status = 0;
  char *name = abi::__cxa_demangle(type->name(), nullptr, nullptr, &status);
  const std::string shown = status == 0 && name != nullptr ? name : type->name();
  std::free(name);
  return shown;
}

// The last resort for an exception that no part of boardinv handled: one
// line and the status of whose fault it is. It arose in the driver when it
// left a call of driver code (the simulated firmware's services the driver
// called included) or the reading of that call's answer (DriverScope);
// anywhere else, boardinv failed on its input.
[[noreturn]] void EndForUnhandledException() {
  const bool driver = gExceptionLeftDriver || gDriverScopes > 0;
  std::string what = "no description";
  try {
    throw;
  } catch (const std::exception &error) {
    what = error.what();
  } catch (...) {
  }
  gEnding = true;
  const std::string detail = "(" + CurrentExceptionType() + ": " + what + ")";
  PrintMessage(driver ? "the driver faulted: an unexpected error in a call of the driver or in reading its answer " +
                            detail
                      : "an unexpected error " + detail);
  std::exit(driver ? kExitDriverFault : kExitUsage);
}

}  // namespace

void PrintMessage(const std::string &message) {
  // One line, whatever the input the message quotes.
  const std::string line = "boardinv: " + sim::Escaped(message) + "\n";
  std::fwrite(line.data(), 1, line.size(), stderr);
  std::fflush(stderr);
}

void Die(const std::string &message) {
  gEnding = true;
  PrintMessage(message);
  std::exit(kExitUsage);
}

DriverScope::DriverScope() : exceptions_(std::uncaught_exceptions()) { gDriverScopes++; }

DriverScope::~DriverScope() {
  gDriverScopes--;
  if (std::uncaught_exceptions() > exceptions_) {
    gExceptionLeftDriver = true;
  }
}

bool StartEnding() {
  const bool was = gEnding;
  gEnding = true;
  return was;
}

int RunGuarded(const std::function<int()> &body) {
  // An exception that gets past every handler (through code without unwind
  // tables, or a noexcept function) ends the program the same way.
  std::set_terminate([] {
    if (std::current_exception() != nullptr) {
      EndForUnhandledException();
    }
    std::abort();
  });
  try {
    return body();
  } catch (...) {
    EndForUnhandledException();
  }
}

}  // namespace boardinv
