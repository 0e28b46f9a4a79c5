// boardinv: boots the driver in the simulated firmware and shows what it
// installs.
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <iostream>
#include <vector>

#include "host/sim/InputFile.h"
#include "tools/boardinv/Commands.h"

namespace boardinv {

void Die(const std::string &message) {
  std::fprintf(stderr, "boardinv: %s\n", message.c_str());
  std::exit(kExitUsage);
}

sim::Platform LoadPlatformOrDie(bool given, const std::string &file) {
  try {
    return given ? sim::LoadPlatformFile(file) : sim::DefaultPlatform();
  } catch (const sim::PlatformError &error) {
    Die(error.what());
  }
}

std::string InputFileHelp(const std::string &what, size_t limit) {
  return what + " (read up to " + sim::LimitText(limit) + ")";
}

}  // namespace boardinv

int main(int argc, char **argv) {
  CLI::App app{"Boots the board inventory driver in a simulated firmware and shows what it installs."};
  app.require_subcommand(1);

  // Each runner answers -1 when its subcommand was not the one given.
  const std::vector<std::function<int()>> runners = {
      boardinv::AddBootCommand(app),
      boardinv::AddDevpathCommand(app),
      boardinv::AddSweepCommand(app),
  };

  try {
    app.parse(argc, argv);
  } catch (const CLI::CallForHelp &) {
    std::cout << app.help();
    return 0;
  } catch (const CLI::ParseError &error) {
    std::string message = error.what();
    for (char &c : message) {
      c = c == '\n' ? ' ' : c;
    }
    boardinv::Die(message);
  }

  for (const auto &run : runners) {
    const int status = run();
    if (status >= 0) {
      return status;
    }
  }
  return boardinv::kExitUsage;
}
