// boardinv devpath as a user meets it: arguments and standard input in,
// hex lines, JSON or a path explanation out, and its exit statuses.
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <nlohmann/json.hpp>
#include <sstream>
#include <string>
#include <vector>

namespace {

struct ToolRun {
  int status;
  std::string out;
  std::string err;
};

std::string Quote(const std::string &text) {
  std::string quoted = "'";
  for (char c : text) {
    quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
  }
  return quoted + "'";
}

std::string ReadFile(const std::string &path) {
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

  std::string dir_;
};

const std::string kSlot = "02 01 0C 00 D0 41 03 0A 00 00 00 00 01 01 06 00 19 16 7F FF 04 00";

TEST_F(DevpathTool, PrintsOneHexLinePerText) {
  const ToolRun run = Tool({"PciRoot(0x0)/Pci(0x16,0x19)", "", "Pci(1,2),Pci(3,4)"});
  EXPECT_EQ(run.status, 0) << run.err;
  EXPECT_EQ(run.out, kSlot + "\nnull\n01 01 06 00 02 01 7F 01 04 00 01 01 06 00 04 03 7F FF 04 00\n");
  EXPECT_EQ(run.err, "");
}

TEST_F(DevpathTool, ConvertsSingleNodes) {
  const ToolRun run = Tool({"--node", "Pci(1,2)", "PciRoot(0x0)/Pci(0x16,0x19)", ""});
  EXPECT_EQ(run.status, 0) << run.err;
  EXPECT_EQ(run.out, "01 01 06 00 02 01\n02 01 0C 00 D0 41 03 0A 00 00 00 00\nnull\n");
}

TEST_F(DevpathTool, ReadsLinesExactlyAsWritten) {
  // Spaces stay part of the text; CR LF and LF both end a line; the last
  // line needs no line ending; an empty line is an empty text.
  const ToolRun run = Tool({}, "PciRoot(0x0)/Pci(0x16,0x19)\n Foo\r\n\nFoo");
  EXPECT_EQ(run.status, 0) << run.err;
  EXPECT_EQ(run.out, kSlot +
                         "\n04 04 0E 00 20 00 46 00 6F 00 6F 00 00 00 7F FF 04 00\n"
                         "null\n"
                         "04 04 0C 00 46 00 6F 00 6F 00 00 00 7F FF 04 00\n");
}

TEST_F(DevpathTool, TextsOutsideUcs2AreUsageErrors) {
  const ToolRun emoji = Tool({"Pci(1,2)", "Foo\xF0\x9F\x98\x80"});
  EXPECT_EQ(emoji.status, 2);
  EXPECT_NE(emoji.err.find("Foo\xF0\x9F\x98\x80"), std::string::npos) << emoji.err;
  EXPECT_NE(emoji.err.find("U+1F600"), std::string::npos) << emoji.err;
  EXPECT_EQ(std::count(emoji.err.begin(), emoji.err.end(), '\n'), 1);

  const ToolRun invalid = Tool({"\xFF"});
  EXPECT_EQ(invalid.status, 2);
  EXPECT_NE(invalid.err.find("not valid UTF-8"), std::string::npos) << invalid.err;

  const ToolRun line = Tool({}, "Pci(1,2)\nBar\xF0\x9F\x98\x80\n");
  EXPECT_EQ(line.status, 2);
  EXPECT_NE(line.err.find("line 2"), std::string::npos) << line.err;
  EXPECT_EQ(line.out, "01 01 06 00 02 01 7F FF 04 00\n");

  // A character of UCS-2 beyond ASCII is fine: it names a file.
  const ToolRun accented = Tool({"\xC3\xA9"});
  EXPECT_EQ(accented.status, 0) << accented.err;
  EXPECT_EQ(accented.out, "04 04 08 00 E9 00 00 00 7F FF 04 00\n");
}

// Its speed is measured by scripts/bench.sh, not here.
TEST_F(DevpathTool, BatchOfOneHundredThousandLinesAnswersEveryLine) {
  std::string input;
  const std::vector<std::string> texts = {"PciRoot(0x0)/Pci(0x0,0x3)", "PciRoot(0x0)/Pci(0x3,0x7)",
                                          "PciRoot(0x0)/Pci(0x16,0x19)", "PciRoot(0x0)/Pci(0x8,0x8)"};
  for (int i = 0; i < 100000; i++) {
    input += texts[i % 4] + "\n";
  }
  const ToolRun run = Tool({}, input);
  EXPECT_EQ(run.status, 0) << run.err;
  EXPECT_EQ(std::count(run.out.begin(), run.out.end(), '\n'), 100000);
  EXPECT_EQ(run.out.substr(2 * 66, 65), kSlot);
}

TEST_F(DevpathTool, JsonNamesTheKeywordOfEachNode) {
  const ToolRun run = Tool({"--json", "PciRoot(0x0)/Pci(0x16,0x19)/\\EFI", ""});
  EXPECT_EQ(run.status, 0) << run.err;
  std::istringstream lines(run.out);
  std::string first, second;
  std::getline(lines, first);
  std::getline(lines, second);
  const auto path = nlohmann::json::parse(first);
  EXPECT_EQ(path["text"], "PciRoot(0x0)/Pci(0x16,0x19)/\\EFI");
  EXPECT_EQ(path["size"], 36);
  const auto &nodes = path["nodes"];
  ASSERT_EQ(nodes.size(), 4u);
  const std::vector<std::pair<int, std::string>> expected = {{0, "PciRoot"}, {12, "Pci"}, {18, ""}, {32, ""}};
  for (size_t i = 0; i < expected.size(); i++) {
    EXPECT_EQ(nodes[i]["offset"], expected[i].first);
    if (expected[i].second.empty()) {
      EXPECT_TRUE(nodes[i]["keyword"].is_null());
    } else {
      EXPECT_EQ(nodes[i]["keyword"], expected[i].second);
    }
  }
  EXPECT_EQ(nodes[2]["type"], 4);
  EXPECT_EQ(nodes[2]["subType"], 4);
  EXPECT_EQ(nodes[2]["length"], 14);
  EXPECT_TRUE(nlohmann::json::parse(second)["bytes"].is_null());
}

TEST_F(DevpathTool, ExplainsValidAndInvalidPaths) {
  const ToolRun valid = Tool({"--explain", kSlot});
  EXPECT_EQ(valid.status, 0) << valid.err;
  EXPECT_NE(valid.out.find("valid device path, 22 bytes"), std::string::npos) << valid.out;

  const ToolRun shortNode = Tool({"--explain", "01 01 03 00 7F FF 04 00"});
  EXPECT_EQ(shortNode.status, 1);
  EXPECT_NE(shortNode.out.find("offset 0 has Length 3, below 4"), std::string::npos) << shortNode.out;

  const ToolRun noEnd = Tool({"--explain", "01 01 06 00 02 01"});
  EXPECT_EQ(noEnd.status, 1);
  EXPECT_NE(noEnd.out.find("no end node"), std::string::npos) << noEnd.out;

  const ToolRun pastEnd = Tool({"--explain", "01 01 40 00 02 01 7F FF 04 00"});
  EXPECT_EQ(pastEnd.status, 1);
  EXPECT_NE(pastEnd.out.find("runs past the end"), std::string::npos) << pastEnd.out;

  const ToolRun file = Tool({"--explain", "--json", "04 04 06 00 41 00 7F FF 04 00"});
  EXPECT_EQ(file.status, 1);
  const auto json = nlohmann::json::parse(file.out);
  EXPECT_FALSE(json["valid"].get<bool>());
  EXPECT_NE(json["reason"].get<std::string>().find("zero character"), std::string::npos);

  std::ofstream(dir_ + "/path.bin", std::ios::binary) << std::string("\x7F\xFF\x04\x00", 4);
  const ToolRun binary = Tool({"--explain", "--binary", dir_ + "/path.bin"});
  EXPECT_EQ(binary.status, 0) << binary.err;
  EXPECT_NE(binary.out.find("valid device path, 4 bytes"), std::string::npos) << binary.out;
}

TEST_F(DevpathTool, ExplainListsTheNodesUpToWhereTheWalkEndedAndSaysWhy) {
  struct Case {
    std::string bytes;
    std::vector<size_t> offsets;  // of the nodes listed
    std::string last;             // the last line
  };
  const std::vector<Case> cases = {
      {"7F FF 04 00", {0}, "valid device path, 4 bytes"},
      {"7F 01 04 00 7F FF 04 00 AA", {0, 4}, "1 byte(s) after the end node are not part of the path"},
      {"7F FF 05 00 00", {0}, "invalid device path: the end node at offset 0 has Length 5, not 4"},
      {"01 01 06 00 02 01 7F FF 03 00", {0, 6}, "invalid device path: the end node at offset 6 has Length 3, not 4"},
      {"01 05 05 00 AB 03 0A 01 00 7F FF 04 00", {0, 5},
       "invalid device path: the node at offset 5 has Length 1, below 4"},
      {"01 01 06 00 02 01 01 01 06", {0},
       "invalid device path: no end node: the bytes end at offset 9 inside or before a node header"},
      {"01 01 06 00 02 01 01 01 07 00 00 00", {0, 6},
       "invalid device path: the node at offset 6 has Length 7, which runs past the end of the bytes"},
      {"01 01 06 00 02 01 04 04 08 00 41 00 42 00 7F FF 04 00", {0, 6},
       "invalid device path: the file-path node at offset 6 does not end in a zero character"},
  };
  for (const auto &c : cases) {
    const ToolRun run = Tool({"--explain", c.bytes});
    EXPECT_EQ(run.status, c.last.rfind("invalid", 0) == 0 ? 1 : 0) << c.bytes << run.err;
    std::vector<std::string> lines;
    std::istringstream out(run.out);
    for (std::string line; std::getline(out, line);) {
      lines.push_back(line);
    }
    ASSERT_FALSE(lines.empty()) << c.bytes;
    EXPECT_EQ(lines.back(), c.last) << c.bytes;
    std::vector<size_t> offsets;
    for (size_t i = 1; i < lines.size() && !lines[i].empty() && std::isdigit(static_cast<unsigned char>(lines[i][0]));
         i++) {
      offsets.push_back(std::stoul(lines[i]));
    }
    EXPECT_EQ(offsets, c.offsets) << c.bytes << "\n" << run.out;
  }
}

TEST_F(DevpathTool, BadArgumentsGiveOneLineAndStatusTwo) {
  for (const auto &args : std::vector<std::vector<std::string>>{
           {"--explain", "7G"}, {"--explain", "7FF"}, {"--explain"}, {"--binary", "x"}, {"--frobnicate"}}) {
    const ToolRun run = Tool(args);
    EXPECT_EQ(run.status, 2) << args[0];
    EXPECT_EQ(std::count(run.err.begin(), run.err.end(), '\n'), 1) << run.err;
    EXPECT_EQ(run.out, "");
  }
}

}  // namespace
