// The subcommands of boardinv. Each adds itself to the application and
// runs when it was the one given.
#pragma once

#include <CLI/CLI.hpp>
#include <functional>
#include <string>

#include "host/sim/Platform.h"

namespace boardinv {

constexpr int kExitUsage = 2;

// Prints "boardinv: MESSAGE" on one line to standard error and exits with
// the usage status.
[[noreturn]] void Die(const std::string &message);

// The platform described in FILE, or the built-in one for an empty name;
// a bad file ends the program through Die.
sim::Platform LoadPlatformOrDie(const std::string &file);

// Adds a subcommand; returns what runs it and gives the exit status.
std::function<int()> AddBootCommand(CLI::App &app);
std::function<int()> AddDevpathCommand(CLI::App &app);
std::function<int()> AddSweepCommand(CLI::App &app);

}  // namespace boardinv
