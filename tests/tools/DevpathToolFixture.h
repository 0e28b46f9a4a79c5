// What the tests of boardinv devpath share: a run of the tool in a scratch
// directory, with arguments and standard input, and rows of runs whose
// status and output must be exactly as given.
#pragma once

#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

namespace devpath_tool {

struct ToolRun {
  int status;
  std::string out;
  std::string err;
};

inline std::string Quote(const std::string &text) {
  std::string quoted = "'";
  for (char c : text) {
    quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
  }
  return quoted + "'";
}

inline std::string ReadFile(const std::string &path) {
  std::ifstream file(path, std::ios::binary);
  std::stringstream content;
  content << file.rdbuf();
  return content.str();
}

class DevpathTool : public ::testing::Test {
 protected:
  void SetUp() override {
    char pattern[] = "/tmp/devpath-tool-XXXXXX";
    ASSERT_NE(mkdtemp(pattern), nullptr);
    dir_ = pattern;
  }
  void TearDown() override { std::system(("rm -rf " + Quote(dir_)).c_str()); }

  ToolRun Tool(const std::vector<std::string> &args, const std::string &input = "") {
    std::ofstream(dir_ + "/in", std::ios::binary) << input;
    std::string command = Quote(BOARDINV_TOOL) + " devpath";
    for (const auto &arg : args) {
      command += " " + Quote(arg);
    }
    command += " <" + Quote(dir_ + "/in") + " >" + Quote(dir_ + "/out") + " 2>" + Quote(dir_ + "/err");
    const int raw = std::system(command.c_str());
    return {WIFEXITED(raw) ? WEXITSTATUS(raw) : -1, ReadFile(dir_ + "/out"), ReadFile(dir_ + "/err")};
  }

  // One run of devpath: its arguments (@DIR@ stands for the test's scratch
  // directory), standard input, and what it must give: the exit status,
  // standard output and standard error, each exactly.
  struct Row {
    std::vector<std::string> args;
    std::string input;
    int status;
    std::string out;
    std::string err;
  };

  void ExpectRows(const std::vector<Row> &rows) {
    for (const Row &row : rows) {
      std::vector<std::string> args;
      std::string shown;
      for (std::string arg : row.args) {
        shown += " " + arg;
        for (size_t at; (at = arg.find("@DIR@")) != std::string::npos;) {
          arg.replace(at, 5, dir_);
        }
        args.push_back(arg);
      }
      const ToolRun run = Tool(args, row.input);
      EXPECT_EQ(run.status, row.status) << "devpath" << shown << "\n" << run.err;
      EXPECT_EQ(run.out, row.out) << "devpath" << shown;
      EXPECT_EQ(run.err, row.err) << "devpath" << shown;
    }
  }

  void WriteScratch(const std::string &name, const std::string &content) {
    std::ofstream(dir_ + "/" + name, std::ios::binary) << content;
  }

  std::string dir_;
};

}  // namespace devpath_tool
