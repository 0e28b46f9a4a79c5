// boardinv: boots the driver in the simulated firmware and shows what it
// installs.
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <cstdlib>
#include <exception>
#include <functional>
#include <string>
#include <iostream>
#include <vector>

#include "host/loader/PeImage.h"
#include "host/sim/InputFile.h"
#include "host/sim/Text.h"
#include "tools/boardinv/Commands.h"

namespace boardinv {

namespace {

// Standard output, written with write(2) so that the first failing write's
// reason (errno) is kept: the standard streams keep only that something
// failed. That write ends the program with one line naming the reason and
// the usage status; with SIGPIPE at its default, a closed pipe ends it
// first, quietly, as it ends every filter.
class StandardOutput : public std::streambuf {
 public:
  StandardOutput() { setp(buffer_, buffer_ + sizeof(buffer_)); }

  // Writes what is buffered; false when a write failed (now or before).
  bool Drain() {
    const char *next = pbase();
    while (!failed_ && next < pptr()) {
      const ssize_t put = write(STDOUT_FILENO, next, static_cast<size_t>(pptr() - next));
      if (put < 0 && errno == EINTR) {
        continue;
      }
      if (put <= 0) {
        Fail(put < 0 ? errno : EIO);
        break;
      }
      next += put;
    }
    setp(buffer_, buffer_ + sizeof(buffer_));
    return !failed_;
  }

  // Ends the program for a write error: one line with the system's reason.
  void Fail(int error) {
    if (failed_) {
      return;
    }
    failed_ = true;
    if (StartEnding()) {
      return;
    }
    PrintMessage(std::string("standard output: ") + std::strerror(error));
    std::exit(kExitUsage);
  }

 protected:
  int_type overflow(int_type c) override {
    Drain();
    if (!traits_type::eq_int_type(c, traits_type::eof())) {
      *pptr() = traits_type::to_char_type(c);
      pbump(1);
    }
    return traits_type::not_eof(c);
  }

  std::streamsize xsputn(const char *text, std::streamsize count) override {
    if (count >= static_cast<std::streamsize>(sizeof(buffer_))) {
      // Large pieces go out whole, after what is buffered.
      Drain();
      setp(const_cast<char *>(text), const_cast<char *>(text) + count);
      pbump(static_cast<int>(count));
      Drain();
      return count;
    }
    return std::streambuf::xsputn(text, count);
  }

  int sync() override { return Drain() ? 0 : -1; }

 private:
  char buffer_[1 << 16];
  bool failed_ = false;
};

// Made once and never destroyed: the standard streams flush through it at
// exit, after every static object of this file is gone.
StandardOutput &Output() {
  static StandardOutput *const output = new StandardOutput;
  return *output;
}

}  // namespace

sim::Platform LoadPlatformOrDie(bool given, const std::string &file) {
  try {
    return given ? sim::LoadPlatformFile(file) : sim::DefaultPlatform();
  } catch (const sim::PlatformError &error) {
    Die(error.what());
  }
}

int FinishStandardOutput(int status) {
  std::cout.flush();
  Output().Drain();
  // Closing reports what a delayed write (a file system, a pipe) found.
  if (close(STDOUT_FILENO) != 0 && errno != EBADF && errno != EINTR) {
    Output().Fail(errno);
  }
  return status;
}

host::DriverImagePtr LoadDriverImageOrDie(const std::string &file) {
  if (file == sim::kStandardStream) {
    Die("--efi: the driver image must be a file: its symbol map is read from beside it");
  }
  try {
    return host::LoadDriverImage(file);
  } catch (const loader::ImageError &error) {
    Die(error.what());
  }
}

std::string InputFileHelp(const std::string &what, size_t limit) {
  return what + " (read up to " + sim::LimitText(limit) + ")";
}

}  // namespace boardinv

namespace {

int Run(int argc, char **argv) {
  CLI::App app{"Boots the board inventory driver in a simulated firmware and shows what it installs."};
  app.require_subcommand(1);
  app.set_version_flag("--version", "boardinv " BOARDINV_VERSION, "Print the version and exit");
  const std::string footer =
      "Exit status: 0 success; 1 the job ran and found a failure (a devpath answer that is null\n"
      "or an error, an invalid device path under devpath --explain, a sweep boot that was not\n"
      "sound, a dump not written, a boot in which the driver leaked pool, freed what it did\n"
      "not own, overwrote the guard bytes of a pool block or added a malformed SMBIOS record);\n"
      "2 bad usage or input (arguments, files that cannot be read, a malformed platform\n"
      "description or load option, an image or map the loader refuses, a map that does not\n"
      "match what the image did) or output that cannot be written (named with the system's\n"
      "reason; a closed pipe with SIGPIPE at its default ends boardinv quietly, as any filter);\n"
      "3 the driver faulted (under --efi: a fault in the image's code, a jump out of it, a fault\n"
      "in the simulated firmware that it called, or an answer of its device-path functions that\n"
      "does not hold up), named on one line.\n"
      "An unexpected error of boardinv itself is one line too: status 3 when it arose in a call of\n"
      "the driver or in reading its answer, 2 anywhere else.\n"
      "Environment: BOARDINV_EFI_TRAPS=rewrite makes --efi rewrite the image's rdtsc and cpuid and\n"
      "emulate them even where the processor can trap them (default auto: rewrite only where it\n"
      "cannot). BOARDINV_EFI_CPU_SECONDS (default 10) is the processor time one run of a loaded\n"
      "driver may use before it is taken for hung (exit status 3); in the stop display, an allowance\n"
      "in which the driver showed a value is followed by another.";
  app.footer(footer);

  // Each runner answers -1 when its subcommand was not the one given.
  const std::vector<std::function<int()>> runners = {
      boardinv::AddBootCommand(app),
      boardinv::AddDevpathCommand(app),
      boardinv::AddSweepCommand(app),
  };

  for (CLI::App *command : app.get_subcommands({})) {
    command->footer(footer);
  }

  // A first word that is neither an option nor a subcommand is named, not
  // taken for a missing subcommand.
  if (argc > 1 && argv[1][0] != '-') {
    std::string names;
    bool known = false;
    for (const CLI::App *command : app.get_subcommands({})) {
      known = known || command->get_name() == argv[1];
      names += (names.empty() ? "" : ", ") + command->get_name();
    }
    if (!known) {
      boardinv::Die(std::string("unknown subcommand \"") + argv[1] + "\" (the subcommands are " + names + ")");
    }
  }

  try {
    app.parse(argc, argv);
  } catch (const CLI::CallForHelp &) {
    std::cout << app.help();
    return boardinv::FinishStandardOutput(0);
  } catch (const CLI::CallForVersion &) {
    std::cout << app.version() << "\n";
    return boardinv::FinishStandardOutput(0);
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
      return boardinv::FinishStandardOutput(status);
    }
  }
  return boardinv::kExitUsage;
}

}  // namespace

int main(int argc, char **argv) {
  std::cout.rdbuf(&boardinv::Output());
  return boardinv::RunGuarded([argc, argv] { return Run(argc, argv); });
}
