// The subcommands of boardinv. Each adds itself to the application and
// runs when it was the one given.
#pragma once

#include <CLI/CLI.hpp>
#include <functional>
#include <string>

#include "host/boot/Boot.h"
#include "host/sim/Platform.h"
#include "tools/boardinv/Guard.h"

namespace boardinv {

// The platform described in FILE when --platform was given (an empty name
// included: that is a file that does not exist), or the built-in one; a
// file that cannot be read or parsed ends the program through Die.
sim::Platform LoadPlatformOrDie(bool given, const std::string &file);

// Flushes and closes standard output and answers status. Standard output
// (std::cout) writes through write(2): the first write that fails, here or
// before, ends the program with one line "boardinv: standard output:
// REASON" (the system's text for its errno) and the usage status.
int FinishStandardOutput(int status);

// The driver binary --efi names, loaded; "-" (its map is read from beside
// it, so it must be a file) and an image or map the loader refuses end the
// program through Die.
host::DriverImagePtr LoadDriverImageOrDie(const std::string &file);

// What --platform reads, for the help of every subcommand that boots.
inline constexpr const char *kPlatformOptionHelp =
    "Platform description (JSON; - reads standard input); default: the built-in one";

// The --help text of a file option: what it reads, and its size limit.
std::string InputFileHelp(const std::string &what, size_t limit);

// Adds a subcommand; returns what runs it and gives the exit status.
std::function<int()> AddBootCommand(CLI::App &app);
std::function<int()> AddDevpathCommand(CLI::App &app);
std::function<int()> AddSweepCommand(CLI::App &app);

}  // namespace boardinv
