// boardinv as a user meets it: exit statuses, one-line errors, the files
// and documents it writes.
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <fstream>
#include <nlohmann/json.hpp>
#include <string>

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

ToolRun Tool(const std::string &arguments) {
  // Per process: ctest may run the cases side by side.
  const std::string stem = testing::TempDir() + "boardinv." + std::to_string(getpid());
  const std::string out = stem + ".out";
  const std::string err = stem + ".err";
  const std::string command = std::string(BOARDINV_TOOL) + " " + arguments + " >" + out + " 2>" + err;
  const int status = std::system(command.c_str());
  return {WIFEXITED(status) ? WEXITSTATUS(status) : -1, ReadFile(out), ReadFile(err)};
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
                      "boot --nio 1 --no-nio", "boot --format xml", "boot --platform /nonexistent.json",
                      "boot --unknown", "boot --platform " + WriteTemp("bad.json", "{\"colour\": 1}"),
                      "boot --platform " + WriteTemp("broken.json", "{\"variables\": ["),
                      "sweep --format csv", "sweep --platform /nonexistent.json"));

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

}  // namespace
