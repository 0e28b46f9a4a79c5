// boardinv as a user meets it: exit statuses, one-line errors, the files
// and documents it writes.
#include <grp.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <csignal>
#include <cstdio>
#include <fstream>
#include <nlohmann/json.hpp>
#include <optional>
#include <string>
#include <vector>

#include "host/loader/PeImage.h"

namespace {

struct ToolRun {
  int status;
  std::string out;
  std::string err;
};

std::string ReadFile(const std::string &path) {
  std::ifstream file(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>());
}

// Runs a shell command, capturing its standard output and error.
ToolRun Shell(const std::string &command) {
  // Per process: ctest may run the cases side by side.
  const std::string stem = testing::TempDir() + "boardinv." + std::to_string(getpid());
  const std::string out = stem + ".out";
  const std::string err = stem + ".err";
  const int status = std::system(("{ " + command + "; } >" + out + " 2>" + err).c_str());
  return {WIFEXITED(status) ? WEXITSTATUS(status) : -1, ReadFile(out), ReadFile(err)};
}

ToolRun Tool(const std::string &arguments) { return Shell(std::string(BOARDINV_TOOL) + " " + arguments); }

// The same, run as the unprivileged user "nobody" (65534): for root, file
// permissions bind only once it gives up its identity. Empty when the
// identity cannot be changed.
std::optional<ToolRun> ToolUnprivileged(const std::string &arguments) {
  const std::string stem = testing::TempDir() + "boardinv-nobody." + std::to_string(getpid());
  const std::string out = stem + ".out";
  const std::string err = stem + ".err";
  std::remove(out.c_str());
  std::remove(err.c_str());
  const std::string command = std::string(BOARDINV_TOOL) + " " + arguments + " >" + out + " 2>" + err;
  const pid_t child = fork();
  if (child == 0) {
    if (setgroups(0, nullptr) != 0 || setgid(65534) != 0 || setuid(65534) != 0) {
      _exit(125);
    }
    execl("/bin/sh", "sh", "-c", command.c_str(), static_cast<char *>(nullptr));
    _exit(127);
  }
  int status = 0;
  waitpid(child, &status, 0);
  if (!WIFEXITED(status) || WEXITSTATUS(status) == 125) {
    return std::nullopt;
  }
  ToolRun run{WEXITSTATUS(status), ReadFile(out), ReadFile(err)};
  std::remove(out.c_str());
  std::remove(err.c_str());
  return run;
}

std::string WriteTemp(const std::string &name, const std::string &content) {
  const std::string path = testing::TempDir() + std::to_string(getpid()) + "." + name;
  std::ofstream(path) << content;
  return path;
}

class BadArgumentsTest : public ::testing::TestWithParam<std::string> {};

TEST_P(BadArgumentsTest, OneLineErrorAndStatusTwo) {
  const ToolRun run = Tool(GetParam());
  EXPECT_EQ(run.status, 2);
  EXPECT_TRUE(run.out.empty()) << run.out;
  ASSERT_FALSE(run.err.empty());
  EXPECT_EQ(run.err.rfind("boardinv: ", 0), 0u) << run.err;
  EXPECT_EQ(run.err.find('\n'), run.err.size() - 1) << run.err;
}

INSTANTIATE_TEST_SUITE_P(
    Arguments, BadArgumentsTest,
    ::testing::Values("", "frobnicate", "boot --nio", "boot --nio xyz", "boot --nio 0x100000000", "boot --nio -1",
                      "boot --nio \"\"", "boot --nio 08x", "boot --nio 0x", "boot --nio \" 1\"",
                      "boot --nio 1 --no-nio", "boot --format xml", "boot --platform /nonexistent.json",
                      "boot --unknown", "boot --platform " + WriteTemp("bad.json", "{\"colour\": 1}"),
                      "boot --platform " + WriteTemp("broken.json", "{\"variables\": ["),
                      "sweep --format csv", "sweep --platform /nonexistent.json"));

// A file option given what is not a file it can read (or, for --dump,
// write): one line naming the input, the path as given and the operating
// system's reason, or the limit an input exceeds; exit status 2, nothing
// on standard output.
enum class FileKind { Directory, EmptyName, Missing, InMissingDirectory, Unreadable, Unwritable, DevZero, DevFull, Oversize };

struct FileCase {
  const char *arguments;  // the command and the option, the path follows
  const char *what;       // how the error names the input
  FileKind kind;
  const char *reason;
  size_t limit;  // the input's limit, for an oversize file
};

class FileArgumentTest : public ::testing::TestWithParam<FileCase> {};

TEST_P(FileArgumentTest, OneLineWithTheSystemsReasonAndStatusTwo) {
  const FileCase &param = GetParam();
  const std::string scratch = testing::TempDir() + "file-argument." + std::to_string(getpid());
  std::string path;
  switch (param.kind) {
    case FileKind::Directory:
      path = testing::TempDir();
      break;
    case FileKind::EmptyName:
      break;
    case FileKind::Missing:
      path = scratch + ".missing";
      break;
    case FileKind::InMissingDirectory:
      path = scratch + ".missing/file";
      break;
    case FileKind::Unreadable:
    case FileKind::Unwritable:
      path = scratch;
      std::ofstream(path) << "{}";
      chmod(path.c_str(), param.kind == FileKind::Unreadable ? 0 : 0444);
      break;
    case FileKind::DevZero:
      path = "/dev/zero";
      break;
    case FileKind::DevFull:
      path = "/dev/full";
      break;
    case FileKind::Oversize:
      // Sparse: the size is refused before anything is read.
      path = scratch;
      std::ofstream(path).close();
      ASSERT_EQ(truncate(path.c_str(), static_cast<off_t>(param.limit) + 1), 0);
      break;
  }
  const std::string arguments = std::string(param.arguments) + " '" + path + "'";
  const bool permissions = param.kind == FileKind::Unreadable || param.kind == FileKind::Unwritable;
  std::optional<ToolRun> unprivileged;
  if (permissions && geteuid() == 0) {
    unprivileged = ToolUnprivileged(arguments);
  }
  const ToolRun run = unprivileged ? *unprivileged : Tool(arguments);
  std::remove(scratch.c_str());
  if (permissions && geteuid() == 0 && !unprivileged) {
    GTEST_SKIP() << "file permissions do not bind root, and it cannot run the tool as another user here";
  }
  EXPECT_EQ(run.status, 2) << run.err;
  EXPECT_TRUE(run.out.empty()) << run.out;
  EXPECT_EQ(run.err, "boardinv: " + std::string(param.what) + ": " + (path.empty() ? "\"\"" : path) + ": " +
                         param.reason + "\n");
}

std::string FileCaseName(const ::testing::TestParamInfo<FileCase> &info) {
  static const char *const kKinds[] = {"Directory", "EmptyName", "Missing", "InMissingDirectory", "Unreadable",
                                       "Unwritable", "DevZero",   "DevFull", "Oversize"};
  std::string name;
  for (const char *c = info.param.arguments; *c; c++) {
    name += std::isalnum(static_cast<unsigned char>(*c)) ? *c : '_';
  }
  return name + "_" + kKinds[static_cast<int>(info.param.kind)];
}

constexpr const char *kIsADirectory = "Is a directory";
constexpr const char *kNoSuchFile = "No such file or directory";
constexpr const char *kPermissionDenied = "Permission denied";

INSTANTIATE_TEST_SUITE_P(
    Files, FileArgumentTest,
    ::testing::Values(
        FileCase{"boot --efi", "driver image", FileKind::Directory, kIsADirectory, 0},
        FileCase{"boot --efi", "driver image", FileKind::EmptyName, "an empty file name", 0},
        FileCase{"boot --efi", "driver image", FileKind::Missing, kNoSuchFile, 0},
        FileCase{"boot --efi", "driver image", FileKind::Unreadable, kPermissionDenied, 0},
        FileCase{"boot --efi", "driver image", FileKind::DevZero, "larger than the limit of 64 MiB", 0},
        FileCase{"boot --efi", "driver image", FileKind::Oversize, "larger than the limit of 64 MiB", 64 << 20},
        FileCase{"devpath --efi", "driver image", FileKind::Directory, kIsADirectory, 0},
        FileCase{"devpath --efi", "driver image", FileKind::EmptyName, "an empty file name", 0},
        FileCase{"devpath --efi", "driver image", FileKind::DevZero, "larger than the limit of 64 MiB", 0},
        FileCase{"boot --platform", "platform file", FileKind::Directory, kIsADirectory, 0},
        FileCase{"boot --platform", "platform file", FileKind::EmptyName, "an empty file name", 0},
        FileCase{"boot --platform", "platform file", FileKind::Missing, kNoSuchFile, 0},
        FileCase{"boot --platform", "platform file", FileKind::Unreadable, kPermissionDenied, 0},
        FileCase{"boot --platform", "platform file", FileKind::DevZero, "larger than the limit of 16 MiB", 0},
        FileCase{"boot --platform", "platform file", FileKind::Oversize, "larger than the limit of 16 MiB", 16 << 20},
        FileCase{"sweep --platform", "platform file", FileKind::Directory, kIsADirectory, 0},
        FileCase{"sweep --platform", "platform file", FileKind::EmptyName, "an empty file name", 0},
        FileCase{"boot --dump", "SMBIOS dump", FileKind::Directory, kIsADirectory, 0},
        FileCase{"boot --dump", "SMBIOS dump", FileKind::EmptyName, "an empty file name", 0},
        FileCase{"boot --dump", "SMBIOS dump", FileKind::InMissingDirectory, kNoSuchFile, 0},
        FileCase{"boot --dump", "SMBIOS dump", FileKind::Unwritable, kPermissionDenied, 0},
        FileCase{"boot --dump", "SMBIOS dump", FileKind::DevFull, "No space left on device", 0},
        FileCase{"devpath --explain --binary", "device path file", FileKind::Directory, kIsADirectory, 0},
        FileCase{"devpath --explain --binary", "device path file", FileKind::EmptyName, "an empty file name", 0},
        FileCase{"devpath --explain --binary", "device path file", FileKind::Missing, kNoSuchFile, 0},
        FileCase{"devpath --explain --binary", "device path file", FileKind::Unreadable, kPermissionDenied, 0},
        FileCase{"devpath --explain --binary", "device path file", FileKind::DevZero, "larger than the limit of 1 MiB",
                 0},
        FileCase{"devpath --explain --binary", "device path file", FileKind::Oversize,
                 "larger than the limit of 1 MiB", 1 << 20},
        FileCase{"devpath --input", "device path text file", FileKind::Directory, kIsADirectory, 0},
        FileCase{"devpath --input", "device path text file", FileKind::EmptyName, "an empty file name", 0},
        FileCase{"devpath --input", "device path text file", FileKind::Missing, kNoSuchFile, 0},
        FileCase{"devpath --input", "device path text file", FileKind::Unreadable, kPermissionDenied, 0},
        FileCase{"devpath --input", "device path text file", FileKind::DevZero, "larger than the limit of 16 MiB", 0},
        FileCase{"devpath --input", "device path text file", FileKind::Oversize, "larger than the limit of 16 MiB",
                 16 << 20},
        FileCase{"devpath --explain --input", "hex text file", FileKind::EmptyName, "an empty file name", 0},
        FileCase{"devpath --explain --input", "hex text file", FileKind::Missing, kNoSuchFile, 0},
        FileCase{"devpath --explain --input", "hex text file", FileKind::DevZero, "larger than the limit of 4 MiB", 0},
        FileCase{"devpath --explain --input", "hex text file", FileKind::Oversize, "larger than the limit of 4 MiB",
                 4 << 20}),
    FileCaseName);

TEST(ToolTest, JsonReportAndDump) {
  const std::string dump = testing::TempDir() + "tool." + std::to_string(getpid()) + ".dump";
  std::remove(dump.c_str());
  const ToolRun run = Tool("boot --nio 0x201 --format json --dump " + dump);
  ASSERT_EQ(run.status, 0) << run.err;
  const nlohmann::json report = nlohmann::json::parse(run.out);
  EXPECT_EQ(report["layout"], "Layout C");
  EXPECT_EQ(report["records"].size(), 8u + 1u);
  const std::string bytes = ReadFile(dump);
  ASSERT_GE(bytes.size(), 0x20u);
  EXPECT_EQ(bytes.substr(0, 5), "_SM3_");
}

TEST(ToolTest, PlatformFileAndTextReport) {
  const std::string platform = WriteTemp(
      "wide.json", R"({"name": "eight-byte word", "variables": [{"name": "NioTypeProtected", "value": 512, "size": 8}]})");
  const ToolRun run = Tool("boot --platform " + platform);
  ASSERT_EQ(run.status, 0) << run.err;
  EXPECT_NE(run.out.find("Platform: eight-byte word"), std::string::npos) << run.out;
  EXPECT_NE(run.out.find("Outcome: variable NioTypeProtected holds 8 bytes, not 4 (GetVariable: Buffer Too Small)"),
            std::string::npos)
      << run.out;
  EXPECT_NE(run.out.find("End-of-DXE event: left open"), std::string::npos) << run.out;
}

// --nio and the platform file read a leading zero as decimal: 0512 is 512
// (0x200, kind 2), as 0x200 is; 0777 is 777 (0x309, kind 3).
TEST(ToolTest, NumbersWithALeadingZeroAreDecimal) {
  const std::string decimal = Tool("boot --nio 0512 --format json").out;
  const ToolRun hex = Tool("boot --nio 0x200 --format json");
  ASSERT_EQ(hex.status, 0) << hex.err;
  EXPECT_EQ(decimal, hex.out);
  const ToolRun kindThree = Tool("boot --nio 0777 --format json");
  ASSERT_EQ(kindThree.status, 0) << kindThree.err;
  EXPECT_EQ(nlohmann::json::parse(kindThree.out)["variable"]["word"], "0x00000309") << kindThree.out;
  const std::string platform = WriteTemp(
      "leading-zero.json", R"({"name": "zero", "variables": [{"name": "NioTypeProtected", "value": "0512"}]})");
  const ToolRun fromFile = Tool("boot --format json --platform " + platform);
  ASSERT_EQ(fromFile.status, 0) << fromFile.err;
  EXPECT_EQ(nlohmann::json::parse(fromFile.out)["layout"], "Layout A") << fromFile.out;
}

TEST(ToolTest, VersionAndAnUnknownSubcommandIsNamed) {
  const ToolRun version = Tool("--version");
  EXPECT_EQ(version.status, 0) << version.err;
  EXPECT_EQ(version.out.rfind("boardinv ", 0), 0u) << version.out;
  EXPECT_EQ(std::count(version.out.begin(), version.out.end(), '\n'), 1) << version.out;
  const ToolRun bogus = Tool("bogus");
  EXPECT_EQ(bogus.status, 2);
  EXPECT_EQ(bogus.err, "boardinv: unknown subcommand \"bogus\" (the subcommands are boot, devpath, sweep)\n");
  EXPECT_EQ(bogus.out, "");
  const ToolRun none = Tool("");
  EXPECT_EQ(none.status, 2);
  EXPECT_EQ(none.err, "boardinv: A subcommand is required\n");
}

// The arguments with @TEXTS@ and @OPTION@ replaced by files holding them.
std::string WithInputs(std::string arguments) {
  const std::string texts = WriteTemp("texts", "Pci(0,0)\nPci(1,2)\n");
  // Attributes 7, then ACTIVE, a FilePathListLength of 4, the description
  // "A" and the path of only an end node.
  const std::string option =
      WriteTemp("option", std::string("\x07\0\0\0\x01\0\0\0\x04\0A\0\0\0\x7F\xFF\x04\0", 18));
  for (const auto &[name, path] : {std::pair{"@TEXTS@", texts}, std::pair{"@OPTION@", option}}) {
    for (size_t at; (at = arguments.find(name)) != std::string::npos;) {
      arguments.replace(at, std::string(name).size(), path);
    }
  }
  return arguments;
}

// A full disk behind standard output is an error of every subcommand, not
// a success with the output lost; the line names the system's reason.
class FullOutputTest : public ::testing::TestWithParam<std::string> {};

TEST_P(FullOutputTest, OneLineWithTheReasonAndStatusTwo) {
  if (access("/dev/full", W_OK) != 0) {
    GTEST_SKIP() << "no /dev/full";
  }
  const std::string err = testing::TempDir() + "boardinv-full." + std::to_string(getpid()) + ".err";
  const std::string command = std::string(BOARDINV_TOOL) + " " + WithInputs(GetParam()) + " >/dev/full 2>" + err;
  const int status = std::system(command.c_str());
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 2);
  const std::string message = ReadFile(err);
  std::remove(err.c_str());
  EXPECT_EQ(message, "boardinv: standard output: No space left on device\n");
}

// Every subcommand and mode, and what CLI11 writes itself (help, version).
// @TEXTS@ is a file of device-path texts, @OPTION@ one of a load option.
const std::vector<std::string> kEveryWriter = {
    "boot", "boot --format json", "sweep", "sweep --format json", "devpath 'Pci(0,0)'", "devpath --json 'Pci(0,0)'",
    "devpath - <@TEXTS@", "devpath --explain '7F FF 04 00'", "devpath --explain --json '7F FF 04 00'",
    "devpath --to-text '7F FF 04 00'", "devpath --to-text --json '7F FF 04 00'", "devpath --load-option @OPTION@",
    "devpath --load-option - --json <@OPTION@", "--help", "boot --help", "devpath --help", "--version"};

INSTANTIATE_TEST_SUITE_P(Subcommands, FullOutputTest, ::testing::ValuesIn(kEveryWriter));

// What a run ended with, and its standard error.
struct Ending {
  bool signaled;
  int code;  // the exit status, or the signal
  std::string err;
};

// Runs the shell command (boardinv is BOARDINV) with SIGPIPE ignored or at
// its default, as the command inherits it, and standard output a pipe
// whose reading end is closed before it starts; standard error is kept.
// A pipe's reader that has gone is the common case of "boardinv ... |
// head -1".
Ending RunWithSigpipe(const std::string &command, bool ignored, bool closedPipe) {
  const std::string err = testing::TempDir() + "boardinv-pipe." + std::to_string(getpid()) + ".err";
  std::string shell = command;
  for (size_t at; (at = shell.find("BOARDINV")) != std::string::npos;) {
    shell.replace(at, 8, BOARDINV_TOOL);
  }
  int ends[2];
  EXPECT_EQ(pipe(ends), 0);
  close(ends[0]);
  const pid_t child = fork();
  if (child == 0) {
    signal(SIGPIPE, ignored ? SIG_IGN : SIG_DFL);
    if (closedPipe) {
      dup2(ends[1], STDOUT_FILENO);
    }
    close(ends[1]);
    execl("/bin/sh", "sh", "-c", ("exec 2>" + err + "; " + shell).c_str(), static_cast<char *>(nullptr));
    _exit(127);
  }
  close(ends[1]);
  int status = 0;
  waitpid(child, &status, 0);
  Ending ending{WIFSIGNALED(status), WIFSIGNALED(status) ? WTERMSIG(status) : WEXITSTATUS(status), ReadFile(err)};
  std::remove(err.c_str());
  return ending;
}

class ClosedPipeTest : public ::testing::TestWithParam<std::string> {};

// With SIGPIPE at its default, a reader that has gone ends boardinv as it
// ends every filter: by the signal, with nothing on standard error.
TEST_P(ClosedPipeTest, QuietWithTheDefaultSigpipe) {
  const Ending ending = RunWithSigpipe("exec BOARDINV " + WithInputs(GetParam()), false, true);
  EXPECT_TRUE(ending.signaled) << ending.code;
  EXPECT_EQ(ending.code, SIGPIPE);
  EXPECT_EQ(ending.err, "");
}

// With SIGPIPE ignored, the write fails with EPIPE: one line naming it and
// status 2.
TEST_P(ClosedPipeTest, BrokenPipeWithSigpipeIgnored) {
  const Ending ending = RunWithSigpipe("exec BOARDINV " + WithInputs(GetParam()), true, true);
  EXPECT_FALSE(ending.signaled) << ending.code;
  EXPECT_EQ(ending.code, 2);
  EXPECT_EQ(ending.err, "boardinv: standard output: Broken pipe\n");
}

INSTANTIATE_TEST_SUITE_P(Subcommands, ClosedPipeTest, ::testing::ValuesIn(kEveryWriter));

// boardinv ... | head -1 over a long answer (3 MB, far more than a pipe
// holds): quiet with SIGPIPE at its default, boardinv's status that of
// the signal; "Broken pipe" and status 2 with it ignored. Either way head
// got its line.
TEST(ToolTest, PipedIntoHeadEndsLikeAFilter) {
  const std::string input = WriteTemp("head-texts", [] {
    std::string texts;
    for (int i = 0; i < 100000; i++) {
      texts += "PciRoot(0x0)/Pci(0x16,0x19)\n";
    }
    return texts;
  }());
  const std::string out = testing::TempDir() + "boardinv-head." + std::to_string(getpid()) + ".out";
  const std::string status = out + ".status";
  const std::string command = "{ BOARDINV devpath - <" + input + "; echo $? >" + status + "; } | head -1 >" + out;
  for (const bool ignored : {false, true}) {
    const Ending ending = RunWithSigpipe(command, ignored, false);
    EXPECT_FALSE(ending.signaled);
    EXPECT_EQ(ending.code, 0) << "head's status";
    EXPECT_EQ(ReadFile(out), "02 01 0C 00 D0 41 03 0A 00 00 00 00 01 01 06 00 19 16 7F FF 04 00\n");
    EXPECT_EQ(ReadFile(status), ignored ? "2\n" : std::to_string(128 + SIGPIPE) + "\n") << ignored;
    EXPECT_EQ(ending.err, ignored ? "boardinv: standard output: Broken pipe\n" : "") << ignored;
  }
  std::remove(out.c_str());
  std::remove(status.c_str());
}

// "-" stands for standard input (a platform description) and standard
// output (the SMBIOS dump, which then replaces the report).
TEST(ToolTest, DashIsStandardInputOrOutput) {
  const std::string platform = WriteTemp("stdin.json", R"({"name": "from standard input"})");
  for (const char *command : {"boot", "sweep"}) {
    const ToolRun run = Tool(std::string(command) + " --platform - <" + platform);
    EXPECT_EQ(run.status, 0) << command << ": " << run.err;
    EXPECT_NE(run.out.find("from standard input"), std::string::npos) << command << ": " << run.out;
  }

  const std::string dump = testing::TempDir() + "dash." + std::to_string(getpid()) + ".dump";
  ASSERT_EQ(Tool("boot --dump " + dump).status, 0);
  const ToolRun toStdout = Tool("boot --dump -");
  EXPECT_EQ(toStdout.status, 0) << toStdout.err;
  EXPECT_EQ(toStdout.out, ReadFile(dump)) << "standard output carries the dump alone";
  std::remove(dump.c_str());

  const ToolRun empty = Tool("boot --platform - </dev/null");
  EXPECT_EQ(empty.status, 2);
  EXPECT_EQ(empty.err, "boardinv: platform file: standard input: not valid JSON: empty (or only white space)\n");

  const ToolRun image = Tool("boot --efi -");
  EXPECT_EQ(image.status, 2);
  EXPECT_EQ(image.err, "boardinv: --efi: the driver image must be a file: its symbol map is read from beside it\n");
  for (const char *command : {"devpath --efi - 'Pci(0,0)'", "devpath --explain --efi - '7F FF 04 00'"}) {
    const ToolRun devpath = Tool(command);
    EXPECT_EQ(devpath.status, 2) << command;
    EXPECT_EQ(devpath.out, "") << command;
    EXPECT_EQ(devpath.err, "boardinv: --efi: the driver image must be a file: its symbol map is read from beside it\n")
        << command;
  }
}

// The sweep replaces the platform's own refused allocations by its own and
// says so; it shows progress only where a person watches.
TEST(ToolTest, SweepNamesTheFaultsItSetsAsideAndShowsProgressOnATerminal) {
  const std::string platform = WriteTemp(
      "set-aside.json", R"({"name": "set aside", "faults": {"fail_allocations": [7, 3], "fail_allocations_from": 9}})");
  const ToolRun run = Tool("sweep --format json --platform " + platform);
  ASSERT_EQ(run.status, 0) << run.err;
  EXPECT_EQ(run.err, "") << "no progress when standard error is a file";
  const nlohmann::json sweep = nlohmann::json::parse(run.out);
  EXPECT_EQ(sweep["set_aside"],
            nlohmann::json({"faults.fail_allocations: 7, 3", "faults.fail_allocations_from: 9"}));
  const ToolRun text = Tool("sweep --platform " + platform);
  EXPECT_NE(text.out.find("Set aside from the platform: faults.fail_allocations: 7, 3\n"
                          "Set aside from the platform: faults.fail_allocations_from: 9\n"),
            std::string::npos)
      << text.out;
  const nlohmann::json plain = nlohmann::json::parse(Tool("sweep --format json").out);
  EXPECT_EQ(plain["set_aside"], nlohmann::json::array());

  // script(1) gives the sweep a terminal on standard error.
  if (std::system("command -v script >/dev/null 2>&1") != 0) {
    GTEST_SKIP() << "no script(1) to provide a terminal";
  }
  const ToolRun onTerminal =
      Shell("script -qec '" + std::string(BOARDINV_TOOL) + " sweep --format json >/dev/null' /dev/null");
  const std::string total = std::to_string(plain["allocations"].get<uint64_t>());
  EXPECT_NE(onTerminal.out.find("\rboot 1/" + total), std::string::npos) << onTerminal.out;
  EXPECT_NE(onTerminal.out.find("\rboot " + total + "/" + total), std::string::npos) << onTerminal.out;
}

// An allocation that fails outside the driver reaches boardinv's last
// resort: under an address-space limit that a default boot fits in with
// room to spare, a platform description whose parse needs several times
// that limit (millions of empty objects) ends in one line and status 2,
// nothing on standard output. The sanitizers reserve far more address
// space than any such limit allows.
TEST(ToolTest, AnAllocationThatFailsIsOneLineAndStatusTwo) {
#if defined(__SANITIZE_ADDRESS__)
  GTEST_SKIP() << "the sanitizers' shadow memory does not fit under an address-space limit";
#endif
  if (Shell("command -v prlimit").status != 0) {
    GTEST_SKIP() << "prlimit is not installed";
  }
  const std::string limit = "prlimit --as=" + std::to_string(160u << 20) + " ";
  const ToolRun fits = Shell(limit + BOARDINV_TOOL + " boot --format json");
  ASSERT_EQ(fits.status, 0) << "the limit is too tight for a default boot: " << fits.err;
  std::string objects = "[{}";
  while (objects.size() + 4 < (size_t{15} << 20)) {
    objects += ",{}";
  }
  const std::string path = WriteTemp("objects.json", objects + "]");
  const ToolRun run = Shell(limit + BOARDINV_TOOL + " boot --platform " + path);
  std::remove(path.c_str());
  EXPECT_EQ(run.status, 2);
  EXPECT_EQ(run.err, "boardinv: an unexpected error (std::bad_alloc: std::bad_alloc)\n");
  EXPECT_TRUE(run.out.empty()) << run.out;
}

// A platform description's number that nlohmann::json cannot hold once
// aborted boardinv ("terminate called ..."): it is one line and status 2.
TEST(ToolTest, ANumberBeyondTheJsonLibraryIsOneLineAndStatusTwo) {
  for (const char *command : {"boot", "sweep", "boot --format json"}) {
    const ToolRun run =
        Shell("echo '{\"cpu\": 1e500}' | " + std::string(BOARDINV_TOOL) + " " + command + " --platform -");
    EXPECT_EQ(run.status, 2) << command << "\n" << run.err;
    EXPECT_EQ(run.out, "") << command;
    EXPECT_EQ(run.err.rfind("boardinv: ", 0), 0u) << run.err;
    EXPECT_EQ(run.err.find('\n'), run.err.size() - 1) << "one line: " << run.err;
    EXPECT_EQ(run.err, "boardinv: platform file: standard input: cpu: must be an object\n") << command;
  }
}

// A platform without the SMBIOS protocol has no table to dump: no file,
// one line saying why, status 1; the report is still shown.
TEST(ToolTest, DumpWithoutAnSmbiosProtocolWritesNoFile) {
  const std::string platform = WriteTemp("no-smbios.json", R"({"name": "no table", "protocols": {"smbios": false}})");
  const std::string dump = testing::TempDir() + "no-smbios." + std::to_string(getpid()) + ".dump";
  std::remove(dump.c_str());
  const ToolRun run = Tool("boot --platform " + platform + " --dump " + dump);
  EXPECT_EQ(run.status, 1);
  EXPECT_EQ(run.err, "boardinv: SMBIOS dump: not written: the platform has no SMBIOS protocol, so there is no table\n");
  EXPECT_NE(run.out.find("Platform: no table"), std::string::npos) << run.out;
  EXPECT_NE(access(dump.c_str(), F_OK), 0) << "no file is written";
  const ToolRun toStdout = Tool("boot --platform " + platform + " --dump -");
  EXPECT_EQ(toStdout.status, 1);
  EXPECT_EQ(toStdout.out, "");
}

// Text from input cannot start a line of its own or drive the terminal in
// text output or in an error line; JSON keeps it exact.
TEST(ToolTest, ControlCharactersFromInputAreEscapedInText) {
  const std::string platform = WriteTemp(
      "forged.json", R"({"name": "a\nOutcome: installed Layout Z\u001b[2J\u009b0m\u202e\u007f\ud83d\ude00"})");
  const std::string shown =
      "Platform: a\\nOutcome: installed Layout Z\\x1B[2J\\xC2\\x9B0m\\xE2\\x80\\xAE\\x7F\\xF0\\x9F\\x98\\x80\n";
  const ToolRun text = Tool("boot --platform " + platform);
  ASSERT_EQ(text.status, 0) << text.err;
  EXPECT_NE(text.out.find(shown), std::string::npos) << text.out;
  EXPECT_EQ(text.out.find("\nOutcome: installed Layout Z"), std::string::npos) << "a forged line";
  EXPECT_EQ(text.out.find('\x1B'), std::string::npos);
  for (const char c : text.out) {
    EXPECT_TRUE(c == '\n' || (c >= 0x20 && c < 0x7F)) << "byte " << static_cast<int>(static_cast<unsigned char>(c));
  }
  const ToolRun sweep = Tool("sweep --platform " + platform);
  EXPECT_NE(sweep.out.find(shown), std::string::npos) << sweep.out;
  const ToolRun json = Tool("boot --format json --platform " + platform);
  ASSERT_EQ(json.status, 0) << json.err;
  EXPECT_EQ(nlohmann::json::parse(json.out)["platform"],
            "a\nOutcome: installed Layout Z\x1B[2J\xC2\x9B" "0m\xE2\x80\xAE\x7F\xF0\x9F\x98\x80");

  const ToolRun error = Tool("boot --nio \"$(printf '1\\n2\\033')\"");
  EXPECT_EQ(error.status, 2);
  EXPECT_EQ(error.err, "boardinv: --nio: not a 32-bit number (decimal, or hexadecimal after 0x): \"1\\n2\\x1B\"\n");
}

// boardinv boot's exit status and standard error for what a platform
// makes of a boot. A boot that installs nothing because the platform says
// so (CreateEventEx failing included) is a success; what the driver gets
// wrong without a platform's help (a pool block overrun, a malformed
// record) is in the loader tests' DriverMistakeTest, which runs driver code
// written for it.
struct BootStatusCase {
  const char *name;
  const char *platform;   // the platform file's content
  const char *arguments;  // after --platform FILE
  int status;
  const char *err;  // standard error, whole; FILE stands for the platform file's path
  const char *out;  // a line of standard output (empty: none is checked)
};

class BootStatusTest : public ::testing::TestWithParam<BootStatusCase> {};

TEST_P(BootStatusTest, StatusAndStandardError) {
  const BootStatusCase &c = GetParam();
  const std::string platform = WriteTemp(std::string(c.name) + ".json", c.platform);
  const ToolRun run = Tool("boot --platform " + platform + " " + c.arguments);
  EXPECT_EQ(run.status, c.status) << run.err;
  std::string err = c.err;
  if (const size_t at = err.find("FILE"); at != std::string::npos) {
    err.replace(at, 4, platform);
  }
  EXPECT_EQ(run.err, err);
  EXPECT_NE(run.out.find(c.out), std::string::npos) << run.out;
}

INSTANTIATE_TEST_SUITE_P(
    Platforms, BootStatusTest,
    ::testing::Values(
        BootStatusCase{"installs", "{}", "--nio 0x200", 0, "", "Outcome: installed Layout A\n"},
        BootStatusCase{"create_event_out_of_resources", R"({"faults": {"fail_create_event": "0x8000000000000009"}})",
                       "", 0, "", "Outcome: DriverEntry returned Out of Resources: no End-of-DXE notification\n"},
        BootStatusCase{"create_event_error_in_json", R"({"faults": {"fail_create_event": "0x8000000000000003"}})",
                       "--format json", 0, "", "\"entry_status\": \"Unsupported\""},
        BootStatusCase{"create_event_warning", R"({"faults": {"fail_create_event": 1}})", "", 0, "",
                       "DriverEntry: Warning Unknown Glyph\n"},
        BootStatusCase{"create_event_status_zero", R"({"faults": {"fail_create_event": 0}})", "", 2,
                       "boardinv: platform file: FILE: faults.fail_create_event: a failure needs a nonzero status\n",
                       ""},
        BootStatusCase{"no_table_to_dump", R"({"protocols": {"smbios": false}})", "--dump -", 1,
                       "boardinv: SMBIOS dump: not written: the platform has no SMBIOS protocol, so there is no table\n",
                       ""}),
    [](const ::testing::TestParamInfo<BootStatusCase> &info) { return std::string(info.param.name); });

// A platform that no subcommand takes, read from a file or from standard
// input: exit status 2, nothing on standard output and one whole line on
// standard error that names the platform file and the field (or where the
// text stops being JSON), never the parser's own words or the file's bytes.
struct PlatformErrorCase {
  const char *name;
  std::string platform;  // the file's content
  const char *err;       // after "boardinv: platform file: PATH: "
};

void PrintTo(const PlatformErrorCase &c, std::ostream *os) { *os << c.name; }

class PlatformErrorTest : public ::testing::TestWithParam<PlatformErrorCase> {};

TEST_P(PlatformErrorTest, OneLineNamingTheFileAndStatusTwo) {
  const PlatformErrorCase &c = GetParam();
  const std::string platform = WriteTemp(std::string(c.name) + ".json", c.platform);
  for (const char *command : {"boot --platform ", "sweep --platform ", "boot --format json --platform "}) {
    for (const bool standardInput : {false, true}) {
      const ToolRun run = Tool(command + (standardInput ? "- <" + platform : platform));
      const std::string path = standardInput ? "standard input" : platform;
      EXPECT_EQ(run.status, 2) << command << path;
      EXPECT_EQ(run.out, "") << command << path;
      EXPECT_EQ(run.err, "boardinv: platform file: " + path + ": " + c.err + "\n") << command << path;
    }
  }
  std::remove(platform.c_str());
}

INSTANTIATE_TEST_SUITE_P(
    Platforms, PlatformErrorTest,
    ::testing::Values(
        PlatformErrorCase{"name_too_large", R"({"name":1e400})", "name: must be a text"},
        PlatformErrorCase{"name_too_small", R"({"name":-1e400})", "name: must be a text"},
        PlatformErrorCase{"tsc_start_too_large", R"({"cpu": {"tsc_start": 1e400}})",
                          "cpu.tsc_start: out of range (at most 0xFFFFFFFFFFFFFFFF)"},
        PlatformErrorCase{"whole_number_too_large", "{\"cpu\": {\"pstates\": [1" + std::string(400, '0') + "]}}",
                          "cpu.pstates[0]: out of range (at most 0xFFFFFFFFFFFFFFFF)"},
        PlatformErrorCase{"token_too_small", R"({"pcd_tokens": {"625": -1e400}})", "pcd_tokens.625: must not be negative"},
        PlatformErrorCase{"negative_zero", R"({"variables": [{"name": "NioTypeProtected", "value": -0.0}]})",
                          "variables[0].value: must not be negative"},
        PlatformErrorCase{"beyond_64_bits", R"({"cpu": {"tsc_start": 1.8446744073709551616e19}})",
                          "cpu.tsc_start: out of range (at most 0xFFFFFFFFFFFFFFFF)"},
        PlatformErrorCase{"token_twice", R"({"pcd_tokens": {"625": false, "0625": true}})",
                          "pcd_tokens.625: the same token as \"0625\" (0x271)"},
        PlatformErrorCase{"register_twice", R"({"platform_registers": {"registers": {"0x03810A84": 1, "58788484": 0}}})",
                          "platform_registers.registers.58788484: the same register as \"0x03810A84\" (0x3810A84)"},
        PlatformErrorCase{"not_json", "root:$6$s3cr3t:19000:0:99999:7:::\n",
                          "line 1, column 1: not valid JSON: no JSON value starts here (outside quotes only numbers, "
                          "true, false and null)"},
        PlatformErrorCase{"cut_short", "{\"name\": \"x\",\n \"cpu\": {\"tsc_start\": 1",
                          "line 2, column 24: not valid JSON: the document ends too early"},
        PlatformErrorCase{"escaped_in_the_message", "{\"pcd_tokens\": {\"\\u001b[2J\": 1}}",
                          "pcd_tokens.\\x1B[2J: not a number: \"\\x1B[2J\""}),
    [](const ::testing::TestParamInfo<PlatformErrorCase> &info) { return std::string(info.param.name); });

TEST(ToolTest, DefaultBootInstallsLayoutA) {
  const ToolRun run = Tool("boot");
  ASSERT_EQ(run.status, 0) << run.err;
  EXPECT_NE(run.out.find("Outcome: installed Layout A"), std::string::npos) << run.out;
  EXPECT_NE(run.out.find("SMBIOS records added: 23"), std::string::npos) << run.out;
  // The two nodes of the heap buffer list that start-up published.
  EXPECT_NE(run.out.find("Pool: 2 blocks (104 bytes) outstanding"), std::string::npos) << run.out;
}

// The sweep boots Layout C once per allocation (2 heap nodes, 8 connector
// staging buffers, the path array, the slot's conversion and its staging
// buffer) and names one skipped piece of work for each.
TEST(ToolTest, SweepNamesWhatEachRefusedAllocationSkipped) {
  const std::string platform = WriteTemp(
      "sweep.json", R"({"name": "sweep C", "variables": [{"name": "NioTypeProtected", "value": "0x201"}]})");
  const ToolRun run = Tool("sweep --format json --platform " + platform);
  ASSERT_EQ(run.status, 0) << run.err;
  const nlohmann::json sweep = nlohmann::json::parse(run.out);
  EXPECT_TRUE(sweep["sound"]);
  const uint64_t allocations = sweep["allocations"].get<uint64_t>();
  ASSERT_EQ(sweep["boots"].size(), allocations);
  EXPECT_EQ(sweep["boots"][2]["skipped"][0]["what"], "Type 8 record of connector row 1 (\"CON9\" / \"2.5 GbE 1\")");
  EXPECT_EQ(sweep["boots"][10]["skipped"][0]["what"],
            "every Type 9 record: the slots' path array could not be allocated");
  EXPECT_EQ(sweep["boots"][allocations - 1]["skipped"][0]["what"], "Type 9 record of slot NVME0");
  for (const nlohmann::json &boot : sweep["boots"]) {
    EXPECT_EQ(boot["skipped"].size(), 1u) << boot.dump();
  }

  const ToolRun text = Tool("sweep --platform " + platform);
  ASSERT_EQ(text.status, 0) << text.err;
  EXPECT_NE(text.out.find("Allocation 1 refused: the driver is parked in the fatal stop display with stop code "
                          "0x00080137 (during start-up); 0 records\n"
                          "    skipped the rest of the boot: the stop policy parked the driver in the fatal stop display"),
            std::string::npos)
      << text.out;
  EXPECT_NE(text.out.find("Every boot ended soundly."), std::string::npos);
}


// A run of boardinv and what it must give: the exit status, standard error
// exactly, and fragments that standard output holds (each exactly, in any
// place) or must not hold. @PLATFORM@ in the arguments names a file holding
// platform.
struct OutputCase {
  std::string arguments;
  int status;
  std::string err;
  std::vector<std::string> present;
  std::vector<std::string> absent;
  std::string platform = "";
};

// Shown by its arguments when a case fails.
void PrintTo(const OutputCase &c, std::ostream *os) { *os << c.arguments; }

class OutputTest : public ::testing::TestWithParam<OutputCase> {};

TEST_P(OutputTest, StatusErrorAndFragments) {
  const OutputCase &c = GetParam();
  std::string arguments = c.arguments;
  const size_t at = arguments.find("@PLATFORM@");
  if (at != std::string::npos) {
    arguments.replace(at, 10, WriteTemp("output-case.json", c.platform));
  }
  const ToolRun run = Tool(arguments);
  EXPECT_EQ(run.status, c.status) << c.arguments << "\n" << run.err;
  EXPECT_EQ(run.err, c.err) << c.arguments;
  for (const std::string &fragment : c.present) {
    EXPECT_NE(run.out.find(fragment), std::string::npos) << c.arguments << ": no\n" << fragment << "\nin\n" << run.out;
  }
  for (const std::string &fragment : c.absent) {
    EXPECT_EQ(run.out.find(fragment), std::string::npos) << c.arguments << ": \n" << fragment << "\nin\n" << run.out;
  }
}

const std::string kTypeHelp =
    "\" is not a record type (a number from 0 to 255, decimal or 0x hex, or connector or slot)\n";

// Slots as dmidecode shows them: the characteristics bit by bit and the
// PCI bus address; --type chooses the record types shown, as dmidecode -t.
INSTANTIATE_TEST_SUITE_P(
    Slots, OutputTest,
    ::testing::Values(
        OutputCase{"boot",
                   0,
                   "",
                   {"      ID: 1\n"
                    "      Characteristics:\n"
                    "        3.3 V is provided\n"
                    "        PME signal is supported\n"
                    "        Hot-plug devices are supported\n"
                    "      Bus Address: 0000:00:00.3\n"
                    "      Raw: 09 11 14 00",
                    "      Bus Address: 0000:00:02.2\n",
                    "      Bus Address: 0000:01:02.3\n",
                    "  NVME2 (PciRoot(0x0)/Pci(0x3,0x7))\n"
                    "      Root port: PciRoot(0x0)/Pci(0x3,0x7); no device on secondary bus 0x02\n"
                    "      M.2 Socket 3 (Mechanical Key M) (0x17), 4x or x4 (0x0A), Available (0x03)\n"
                    "      Bus address written: 0000:00:02.2\n",
                    "SMBIOS records added: 23\n"},
                   {"Segment/Bus", "only:"}},
        OutputCase{std::string("boot --platform ") + BOARDINV_SOURCE_DIR + "/tests/platforms/device-behind-nvme2.json",
                   0,
                   "",
                   {"      Bus Address: 0000:00:03.7\n", "      Bus address written: 0000:00:03.7\n"},
                   {}},
        OutputCase{"boot --format json",
                   0,
                   "",
                   {"      \"bus_address\": \"0000:00:00.3\",\n      \"current_usage\"",
                    "        \"slot_characteristics\": [\n"
                    "          \"3.3 V is provided\",\n"
                    "          \"PME signal is supported\",\n"
                    "          \"Hot-plug devices are supported\"\n"
                    "        ],\n"
                    "        \"slot_characteristics_1\": \"0x04\",\n"
                    "        \"slot_characteristics_2\": \"0x03\",\n"},
                   {"records_added", "record_types_shown"}},
        OutputCase{"boot --type 9",
                   0,
                   "",
                   {"SMBIOS records added: 23 (Type 9 only: 4 shown)\n  [20] Type 9 System Slots, handle 0x0014\n",
                    "  [23] Type 9 System Slots, handle 0x0017\n", "Slots:\n  NVME1", "End-of-DXE event: closed\n"},
                   {"Type 8 Port Connector"}},
        OutputCase{"boot --type 8",
                   0,
                   "",
                   {"SMBIOS records added: 23 (Type 8 only: 19 shown)\n  [1] Type 8 Port Connector Information",
                    "  [19] Type 8 Port Connector Information, handle 0x0013\n"},
                   {"Type 9 System Slots", "Slots:"}},
        OutputCase{"boot --type 8,9", 0, "", {"SMBIOS records added: 23 (Types 8, 9 only: 23 shown)\n", "Slots:\n"},
                   {}},
        OutputCase{"boot --type 9,8 --type 9", 0, "", {"(Types 8, 9 only: 23 shown)\n"}, {}},
        OutputCase{"boot --type connector --type slot", 0, "", {"(Types 8, 9 only: 23 shown)\n"}, {}},
        OutputCase{"boot --type 0x9", 0, "", {"(Type 9 only: 4 shown)\n"}, {}},
        OutputCase{"boot --type 009", 0, "", {"(Type 9 only: 4 shown)\n"}, {}},
        OutputCase{"boot --nio 0x201 --type slot", 0, "", {"(Type 9 only: 1 shown)\n  [9] Type 9 System Slots"}, {}},
        OutputCase{"boot --type 127", 0, "", {"(Type 127 only: 0 shown)\nEnd-of-DXE event"}, {"] Type ", "Slots:"}},
        OutputCase{"boot --type 9 --format json",
                   0,
                   "",
                   {"  \"record_types_shown\": [\n    9\n  ],\n", "  \"records_added\": 23,\n",
                    "\"designation\": \"WI-FI\""},
                   {"\"type\": 8"}},
        OutputCase{"boot --type 8 --format json", 0, "", {"  \"slots\": [],\n", "\"type\": 8"}, {"\"type\": 9"}},
        OutputCase{"boot --type x", 2, "boardinv: --type: \"x" + kTypeHelp, {}, {"Platform"}},
        OutputCase{"boot --type 256", 2, "boardinv: --type: \"256" + kTypeHelp, {}, {}},
        OutputCase{"boot --type 8,-1", 2, "boardinv: --type: \"-1" + kTypeHelp, {}, {}},
        OutputCase{"boot --type 0x", 2, "boardinv: --type: \"0x" + kTypeHelp, {}, {}},
        OutputCase{"boot --type Slot", 2, "boardinv: --type: \"Slot" + kTypeHelp, {}, {}},
        OutputCase{"boot --type 8,,9", 2, "boardinv: --type: \"8,,9\" holds an empty type (give TYPE[,TYPE...])\n",
                   {}, {}},
        OutputCase{"boot --type 9,", 2, "boardinv: --type: \"9,\" holds an empty type (give TYPE[,TYPE...])\n", {},
                   {}},
        OutputCase{"boot --type ''", 2, "boardinv: --type: \"\" holds an empty type (give TYPE[,TYPE...])\n", {}, {}},
        OutputCase{"boot --type 8 9", 2, "boardinv: The following argument was not expected: 9\n", {}, {}},
        OutputCase{"boot --type", 2, "boardinv: --type: 1 required TYPE[,TYPE...] missing\n", {}, {}}));

// Every message that quotes input, with what a terminal would act on or
// reorder in it: C1 controls (U+009B, CSI, as UTF-8 C2 9B), a right-to-left
// override (U+202E), DEL, ESC, an emoji, and bytes that are not UTF-8. Each
// byte outside printable ASCII is \xHH, the message one line.
INSTANTIATE_TEST_SUITE_P(
    QuotedInput, OutputTest,
    ::testing::Values(
        OutputCase{"devpath \"$(printf 'a\\302\\2332J\\342\\200\\256\\177\\033[0m\\360\\237\\230\\200')\"",
                   1,
                   "boardinv: argument 1: the text \"a\\xC2\\x9B2J\\xE2\\x80\\xAE\\x7F\\x1B[0m\\xF0\\x9F\\x98\\x80\" holds "
                   "the character U+1F600, which UCS-2 cannot represent\n",
                   {"error: the text holds the character U+1F600, which UCS-2 cannot represent\n"},
                   {}},
        OutputCase{"devpath 'Pci(0,0)' \"$(printf '\\377\\n\\302\\233')\"",
                   1,
                   "boardinv: argument 2: the text \"\\xFF\\n\\xC2\\x9B\" is not valid UTF-8\n",
                   {"error: the text is not valid UTF-8\n"},
                   {}},
        OutputCase{"devpath --explain \"$(printf '7F\\302\\233')\"", 2,
                   "boardinv: devpath --explain: \"7F\\xC2\\x9B\" is not hexadecimal bytes\n", {}, {}},
        OutputCase{"boot --nio \"$(printf '1\\342\\200\\256')\"", 2,
                   "boardinv: --nio: not a 32-bit number (decimal, or hexadecimal after 0x): \"1\\xE2\\x80\\xAE\"\n", {},
                   {}},
        OutputCase{"boot --type \"$(printf '8\\302\\233')\"", 2, "boardinv: --type: \"8\\xC2\\x9B" + kTypeHelp, {}, {}},
        OutputCase{"\"$(printf '\\360\\237\\230\\200')\"", 2,
                   "boardinv: unknown subcommand \"\\xF0\\x9F\\x98\\x80\" (the subcommands are boot, devpath, sweep)\n",
                   {}, {}},
        OutputCase{"devpath --format \"$(printf '\\177x')\" 'Pci(0,0)'", 2,
                   "boardinv: --format: \\x7Fx not in {text,json}\n", {}, {}},
        OutputCase{"boot --type 8 \"$(printf '\\302\\233')\"", 2,
                   "boardinv: The following argument was not expected: \\xC2\\x9B\n", {}, {}},
        OutputCase{"devpath --input \"$(printf '/nonexistent\\302\\233')\"", 2,
                   "boardinv: device path text file: /nonexistent\\xC2\\x9B: No such file or directory\n", {}, {}},
        OutputCase{"devpath --load-option \"$(printf '/nonexistent\\342\\200\\256')\"", 2,
                   "boardinv: load option: /nonexistent\\xE2\\x80\\xAE: No such file or directory\n", {}, {}},
        OutputCase{"sweep --platform \"$(printf '/nonexistent\\377')\"", 2,
                   "boardinv: platform file: /nonexistent\\xFF: No such file or directory\n", {}, {}},
        OutputCase{"boot --efi \"$(printf '/nonexistent\\033\\360\\237\\230\\200')\"", 2,
                   "boardinv: driver image: /nonexistent\\x1B\\xF0\\x9F\\x98\\x80: No such file or directory\n", {}, {}},
        OutputCase{"devpath --to-text --binary \"$(printf '/nonexistent\\177')\"", 2,
                   "boardinv: device path file: /nonexistent\\x7F: No such file or directory\n", {}, {}}));

// The stop display: a short one whole, as before; a long one (up to the
// million the platform accepts) as its first 16 and last 16 values, with
// how many came between them.
const std::string kLongDisplay =
    R"({"name": "long display", "cpu": {"tsc_step": 7500000000, "stop_display_values": 1000000},
        "faults": {"fail_installs": ["AF62673D-DEDA-43AE-8F03-9C2D89FD78DA"]}})";
const std::string kCycle = " 0x250000DE 0x0000DEAD 0x00DEAD00 0xDEAD0008 0xAD000802 0x00080225";

INSTANTIATE_TEST_SUITE_P(
    StopDisplay, OutputTest,
    ::testing::Values(
        OutputCase{std::string("boot --platform ") + BOARDINV_SOURCE_DIR + "/tests/platforms/stop-display.json",
                   0,
                   "",
                   {"  Port 0x80: stop display" + kCycle + kCycle + "\n"
                    "  Fatal stop: parked in the stop display with code 0x00080225\n"},
                   {"left out"}},
        OutputCase{"boot --platform @PLATFORM@",
                   0,
                   "",
                   {"  Port 0x80: stop display" + kCycle + kCycle + " 0x250000DE 0x0000DEAD 0x00DEAD00 0xDEAD0008"
                    " (999968 values left out) 0x250000DE 0x0000DEAD 0x00DEAD00 0xDEAD0008 0xAD000802 0x00080225" +
                        kCycle + " 0x250000DE 0x0000DEAD 0x00DEAD00 0xDEAD0008\n"
                                 "  Fatal stop: parked in the stop display with code 0x00080225 after 1000000 "
                                 "display values\n"},
                   {},
                   kLongDisplay},
        OutputCase{"boot --format json --platform @PLATFORM@",
                   0,
                   "",
                   {"      \"display_value_count\": 1000000,\n      \"display_values\": [\n",
                    "      \"display_values_left_out\": 999968,\n      \"parked\": true\n",
                    "        \"value_count\": 1000000,\n", "        \"values_left_out\": 999968\n",
                    "    \"port_trace_left_out\": {\n      \"after\": 18,\n      \"writes\": 999968\n    },\n"},
                   {},
                   kLongDisplay},
        OutputCase{"boot --platform @PLATFORM@",
                   0,
                   "",
                   {" 0xDEAD0008 (1 value left out) 0x00080225 ", "after 33 display values\n"},
                   {},
                   R"({"cpu": {"tsc_step": 7500000000, "stop_display_values": 33},
                       "faults": {"fail_installs": ["AF62673D-DEDA-43AE-8F03-9C2D89FD78DA"]}})"}));

// A count of one takes the singular, in every place a count is shown.
INSTANTIATE_TEST_SUITE_P(
    Plurals, OutputTest,
    ::testing::Values(
        OutputCase{"boot --platform @PLATFORM@",
                   0,
                   "",
                   {"NioTypeProtected: 1 byte stored; GetVariable: Success; word 0x00000001\n",
                    "Pool: 1 block (33 bytes) outstanding after 1 allocation\n",
                    "Heap buffer list: installed (InstallProtocolInterface: Success), 1 buffer\n"
                    "    [1] 1 byte, pool kind 4, in boot_services_data: 41\n"},
                   {},
                   R"({"variables": [{"name": "NioTypeProtected", "value": 1, "size": 1}],
                       "hob_list": {"blocks": [{"kind": "heap", "payload": "41"}]}})"},
        OutputCase{"boot --platform @PLATFORM@",
                   0,
                   "",
                   {"NioTypeProtected: 2 bytes stored", "Pool: 2 blocks (68 bytes) outstanding after 2 allocations\n",
                    "), 2 buffers\n    [1] 2 bytes, pool kind 4"},
                   {},
                   R"({"variables": [{"name": "NioTypeProtected", "value": 1, "size": 2}],
                       "hob_list": {"blocks": [{"kind": "heap", "payload": "41 42"},
                                               {"kind": "heap", "payload": "43 44"}]}})"},
        OutputCase{"devpath --explain '7F FF 04 00 AA'",
                   0,
                   "",
                   {"valid device path, 4 bytes\n1 byte after the end node is not part of the path\n"},
                   {}},
        OutputCase{"devpath --node 'Pci(1,2)/Pci(3,4)'",
                   0,
                   "boardinv: argument 1: --node converts one node; the text holds 2 nodes (only the first is "
                   "converted)\n",
                   {"01 01 06 00 02 01\n"},
                   {}}));

// --format text|json on every subcommand: a whole report is one JSON
// document, answers per input are JSON Lines.
const std::string kPci12Json =
    "{\"bytes\":\"01 01 06 00 02 01 7F FF 04 00\",\"nodes\":[{\"keyword\":\"Pci\",\"length\":6,\"offset\":0,"
    "\"subType\":1,\"sub_type\":1,\"type\":1},{\"keyword\":null,\"length\":4,\"offset\":6,\"subType\":255,"
    "\"sub_type\":255,\"type\":127}],\"size\":10,\"text\":\"Pci(1,2)\"}\n";

INSTANTIATE_TEST_SUITE_P(
    Formats, OutputTest,
    ::testing::Values(OutputCase{"boot --format json", 0, "", {"{\n  \"end_of_dxe_event\": {\n"}, {"Platform:"}},
                      OutputCase{"boot --format text", 0, "", {"Platform: default\n"}, {"{"}},
                      OutputCase{"sweep --format json --platform @PLATFORM@",
                                 0,
                                 "",
                                 {"{\n  \"allocations\": 19,\n  \"boots\": [\n"},
                                 {},
                                 R"({"variables": [{"name": "NioTypeProtected", "value": "0x201"}]})"},
                      OutputCase{"sweep --format text --platform @PLATFORM@",
                                 0,
                                 "",
                                 {"Allocations in a boot without refusals: 19\n"},
                                 {"{"},
                                 R"({"variables": [{"name": "NioTypeProtected", "value": "0x201"}]})"},
                      OutputCase{"devpath --format json 'Pci(1,2)' 'Pci(1,2)'", 0, "", {kPci12Json + kPci12Json}, {}},
                      OutputCase{"devpath --json 'Pci(1,2)'", 0, "", {kPci12Json}, {}},
                      OutputCase{"devpath --format text 'Pci(1,2)'", 0, "", {"01 01 06 00 02 01 7F FF 04 00\n"}, {}},
                      OutputCase{"devpath --explain --format json '7F FF 04 00'", 0, "", {"{\"nodes\":[{"}, {"\n{"}}));

}  // namespace
