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

#include "tests/tools/DevpathToolFixture.h"

namespace {

using namespace std::string_literals;
using devpath_tool::DevpathTool;
using devpath_tool::ReadFile;
using devpath_tool::ToolRun;

const std::string kSlot = "02 01 0C 00 D0 41 03 0A 00 00 00 00 01 01 06 00 19 16 7F FF 04 00";

TEST_F(DevpathTool, PrintsOneHexLinePerText) {
  const ToolRun run = Tool({"PciRoot(0x0)/Pci(0x16,0x19)", "", "Pci(1,2),Pci(3,4)"});
  EXPECT_EQ(run.status, 1) << run.err;  // the empty text gives null
  EXPECT_EQ(run.out, kSlot + "\nnull\n01 01 06 00 02 01 7F 01 04 00 01 01 06 00 04 03 7F FF 04 00\n");
  EXPECT_EQ(run.err, "");
}

TEST_F(DevpathTool, ConvertsSingleNodes) {
  const ToolRun run = Tool({"--node", "Pci(1,2)", "PciRoot(0x0)/Pci(0x16,0x19)", ""});
  EXPECT_EQ(run.status, 1) << run.err;  // the empty text gives null
  EXPECT_EQ(run.out, "01 01 06 00 02 01\n02 01 0C 00 D0 41 03 0A 00 00 00 00\nnull\n");
}

TEST_F(DevpathTool, ReadsLinesExactlyAsWritten) {
  // Spaces stay part of the text; CR LF and LF both end a line; the last
  // line needs no line ending; an empty line is an empty text.
  const ToolRun run = Tool({}, "PciRoot(0x0)/Pci(0x16,0x19)\n Foo\r\n\nFoo");
  EXPECT_EQ(run.status, 1) << run.err;  // the empty line gives null
  EXPECT_EQ(run.out, kSlot +
                         "\n04 04 0E 00 20 00 46 00 6F 00 6F 00 00 00 7F FF 04 00\n"
                         "null\n"
                         "04 04 0C 00 46 00 6F 00 6F 00 00 00 7F FF 04 00\n");
}

// Such a text is answered with an error in its place, a note on standard
// error, and the job's status 1 (the exact lines: BadTextsAreAnsweredInPlace).
TEST_F(DevpathTool, TextsOutsideUcs2AreAnsweredWithAnError) {
  const ToolRun emoji = Tool({"Pci(1,2)", "Foo\xF0\x9F\x98\x80"});
  EXPECT_EQ(emoji.status, 1);
  EXPECT_NE(emoji.err.find("\"Foo\\xF0\\x9F\\x98\\x80\""), std::string::npos) << emoji.err;
  EXPECT_NE(emoji.err.find("U+1F600"), std::string::npos) << emoji.err;
  EXPECT_EQ(std::count(emoji.err.begin(), emoji.err.end(), '\n'), 1);

  const ToolRun invalid = Tool({"\xFF"});
  EXPECT_EQ(invalid.status, 1);
  EXPECT_NE(invalid.err.find("not valid UTF-8"), std::string::npos) << invalid.err;

  const ToolRun line = Tool({}, "Pci(1,2)\nBar\xF0\x9F\x98\x80\n");
  EXPECT_EQ(line.status, 1);
  EXPECT_NE(line.err.find("line 2"), std::string::npos) << line.err;
  EXPECT_EQ(line.out,
            "01 01 06 00 02 01 7F FF 04 00\nerror: the text holds the character U+1F600, which UCS-2 cannot represent\n");

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
  EXPECT_EQ(run.status, 1) << run.err;  // the empty text gives null
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
      {"7F 01 04 00 7F FF 04 00 AA", {0, 4}, "1 byte after the end node is not part of the path"},
      {"7F FF 04 00 AA BB", {0}, "2 bytes after the end node are not part of the path"},
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

const std::string kPci12 = "01 01 06 00 02 01 7F FF 04 00";
const std::string kPci34 = "01 01 06 00 04 03 7F FF 04 00";
const std::string kNotUtf8 = "the text is not valid UTF-8";
const std::string kNul = "the text holds a NUL character, which would end the text";
const std::string kEmoji = "the text holds the character U+1F600, which UCS-2 cannot represent";

// A text that cannot be read as UCS-2 is answered in its own place, so the
// answers stay one per input; standard error names where it was; the rest
// is converted; the status is 1.
TEST_F(DevpathTool, BadTextsAreAnsweredInPlace) {
  ExpectRows({
      {{}, "Pci(1,2)\n\xFF\nPci(3,4)\n", 1, kPci12 + "\nerror: " + kNotUtf8 + "\n" + kPci34 + "\n",
       "boardinv: line 2: " + kNotUtf8 + "\n"},
      // A NUL byte in a line, a truncated sequence, a surrogate, an overlong
      // form: each line alone, the batch goes on to its end.
      {{},
       "A\0B\nPci(1,2)\n\xC3\nPci(3,4)\r\n\xED\xA0\x80\r\n\xC0\xAF\nBar\xF0\x9F\x98\x80"s,
       1,
       "error: " + kNul + "\n" + kPci12 + "\nerror: " + kNotUtf8 + "\n" + kPci34 + "\nerror: " + kNotUtf8 +
           "\nerror: " + kNotUtf8 + "\nerror: " + kEmoji + "\n",
       "boardinv: line 1: " + kNul + "\nboardinv: line 3: " + kNotUtf8 + "\nboardinv: line 5: " + kNotUtf8 +
           "\nboardinv: line 6: " + kNotUtf8 + "\nboardinv: line 7: " + kEmoji + "\n"},
      // Arguments are numbered as arguments and quoted, escaped as every
      // line on standard error: every byte outside printable ASCII as \xHH.
      {{"Pci(1,2)", "\xFF", "Foo\xF0\x9F\x98\x80", "Pci(3,4)"},
       "",
       1,
       kPci12 + "\nerror: " + kNotUtf8 + "\nerror: " + kEmoji + "\n" + kPci34 + "\n",
       "boardinv: argument 2: the text \"\\xFF\" is not valid UTF-8\n"
       "boardinv: argument 3: the text \"Foo\\xF0\\x9F\\x98\\x80\" holds the character U+1F600, which UCS-2 cannot "
       "represent\n"},
      // An argument with a line break is quoted on one line.
      {{"a\nb\xF0\x9F\x98\x80"},
       "",
       1,
       "error: " + kEmoji + "\n",
       "boardinv: argument 1: the text \"a\\nb\\xF0\\x9F\\x98\\x80\" holds the character U+1F600, which UCS-2 "
       "cannot represent\n"},
      // In JSON: one object per input, the text escaped as JSON escapes it;
      // a text that is not UTF-8 has text null and its bytes in text_bytes.
      {{"--json"},
       "\xFF" "A\nA\0\"\x01\\\nBar\xF0\x9F\x98\x80\n"s,
       1,
       "{\"bytes\":null,\"error\":\"" + kNotUtf8 +
           "\",\"nodes\":null,\"size\":null,\"text\":null,\"text_bytes\":\"FF 41\"}\n"
           "{\"bytes\":null,\"error\":\"" + kNul + "\",\"nodes\":null,\"size\":null,\"text\":\"A\\u0000\\\"\\u0001\\\\\"}\n"
           "{\"bytes\":null,\"error\":\"" + kEmoji +
           "\",\"nodes\":null,\"size\":null,\"text\":\"Bar\xF0\x9F\x98\x80\"}\n",
       "boardinv: line 1: " + kNotUtf8 + "\nboardinv: line 2: " + kNul + "\nboardinv: line 3: " + kEmoji + "\n"},
      // Not UTF-8 after a NUL or a character outside UCS-2: not UTF-8 is the
      // reason, and the text is given as bytes.
      {{"--json"},
       "A\0\xA1\nB\xF0\x9F\x98\x80\xFF\n"s,
       1,
       "{\"bytes\":null,\"error\":\"" + kNotUtf8 +
           "\",\"nodes\":null,\"size\":null,\"text\":null,\"text_bytes\":\"41 00 A1\"}\n"
           "{\"bytes\":null,\"error\":\"" + kNotUtf8 +
           "\",\"nodes\":null,\"size\":null,\"text\":null,\"text_bytes\":\"42 F0 9F 98 80 FF\"}\n",
       "boardinv: line 1: " + kNotUtf8 + "\nboardinv: line 2: " + kNotUtf8 + "\n"},
      {{"B\xF0\x9F\x98\x80\xFF"},
       "",
       1,
       "error: " + kNotUtf8 + "\n",
       "boardinv: argument 1: the text \"B\\xF0\\x9F\\x98\\x80\\xFF\" is not valid UTF-8\n"},
      {{"--format", "json", "--node", "\xFE\xFF"},
       "",
       1,
       "{\"bytes\":null,\"error\":\"" + kNotUtf8 +
           "\",\"nodes\":null,\"size\":null,\"text\":null,\"text_bytes\":\"FE FF\"}\n",
       "boardinv: argument 1: the text \"\\xFE\\xFF\" is not valid UTF-8\n"},
      // What a terminal would act on, in a text that gives a note: C1
      // controls (U+009B, its CSI), a right-to-left override (U+202E), DEL,
      // ESC, an emoji; each byte of them as \xHH, the note on one line.
      {{"a\xC2\x9B" "2J\xE2\x80\xAE\x7F\x1B[0m\xF0\x9F\x98\x80"},
       "",
       1,
       "error: " + kEmoji + "\n",
       "boardinv: argument 1: the text \"a\\xC2\\x9B2J\\xE2\\x80\\xAE\\x7F\\x1B[0m\\xF0\\x9F\\x98\\x80\" holds the "
       "character U+1F600, which UCS-2 cannot represent\n"},
      {{"\xC2\x9B\xE2\x80\xAE\xC3"},
       "",
       1,
       "error: " + kNotUtf8 + "\n",
       "boardinv: argument 1: the text \"\\xC2\\x9B\\xE2\\x80\\xAE\\xC3\" is not valid UTF-8\n"},
  });
}

// 0 only when every text converted; 1 when any answer is null or an error;
// 2 for bad usage, before any answer.
TEST_F(DevpathTool, ExitStatusSaysWhetherEveryTextConverted) {
  ExpectRows({
      {{"Pci(1,2)", "Pci(3,4)"}, "", 0, kPci12 + "\n" + kPci34 + "\n", ""},
      {{}, "Pci(1,2)\nPci(3,4)", 0, kPci12 + "\n" + kPci34 + "\n", ""},
      {{"Pci(1,2)", ""}, "", 1, kPci12 + "\nnull\n", ""},
      {{}, "\nPci(1,2)\n", 1, "null\n" + kPci12 + "\n", ""},
      {{"--node", "Pci(1,2)"}, "", 0, "01 01 06 00 02 01\n", ""},
      {{"--node", "Pci(1,2)", ""}, "", 1, "01 01 06 00 02 01\nnull\n", ""},
      {{"--json", ""},
       "",
       1,
       "{\"bytes\":null,\"nodes\":null,\"size\":null,\"text\":\"\"}\n",
       ""},
      {{}, "", 0, "", ""},  // no texts, none failed
      {{"--explain", "7F FF 04 00"}, "", 0,
       "offset  type  subtype  length  kind             text\n0       0x7F  0xFF     4       end of path      Path(0x7F,0xFF,)\n"
       "text: Path(0x7F,0xFF,)\nvalid device path, 4 bytes\n", ""},
      {{"--explain", "7F FF 05 00 00"}, "", 1,
       "offset  type  subtype  length  kind             text\n0       0x7F  0xFF     5       end of path      Path(0x7F,0xFF,00)\n"
       "invalid device path: the end node at offset 0 has Length 5, not 4\n",
       ""},
      {{"--format", "xml", "Pci(1,2)"}, "", 2, "", "boardinv: --format: xml not in {text,json}\n"},
  });
}

// --node converts the first node of a text; a text of more says so, with
// where it came from, and the answer is the converter's.
TEST_F(DevpathTool, NodeOfATextOfSeveralNodesIsNamed) {
  ExpectRows({
      {{"--node", "PciRoot(0x0)/Pci(0x16,0x19)"},
       "",
       0,
       "02 01 0C 00 D0 41 03 0A 00 00 00 00\n",
       "boardinv: argument 1: --node converts one node; the text holds 2 nodes (only the first is converted)\n"},
      {{"--node"},
       "Pci(1,2)\nPci(1,2)/Pci(3,4),Pci(5,6)\nPci(1,2)/\n",
       0,
       "01 01 06 00 02 01\n01 01 06 00 02 01\n01 01 06 00 02 01\n",
       "boardinv: line 2: --node converts one node; the text holds 3 nodes (only the first is converted)\n"},
      // Commas inside parentheses do not cut; an unbalanced tail is no node.
      {{"--node", "Pci(1,2)", "Pci(1,2)/Pci(3"}, "", 0, "01 01 06 00 02 01\n01 01 06 00 02 01\n", ""},
      {{"--node", "--json", "Pci(1,2),Pci(3,4)"},
       "",
       0,
       "{\"bytes\":\"01 01 06 00 02 01\",\"nodes\":[{\"keyword\":\"Pci\",\"length\":6,\"offset\":0,\"subType\":1,"
       "\"sub_type\":1,\"type\":1}],\"size\":6,\"text\":\"Pci(1,2),Pci(3,4)\"}\n",
       "boardinv: argument 1: --node converts one node; the text holds 2 nodes (only the first is converted)\n"},
      // Without --node the whole path is converted and nothing is said.
      {{"PciRoot(0x0)/Pci(0x16,0x19)"}, "", 0, kSlot + "\n", ""},
  });
}

// The texts come from TEXT arguments, --input FILE or - (standard input),
// or standard input when neither is given; --explain reads the path from
// HEX, --input (hex text) or --binary (raw bytes), each of which may be -.
TEST_F(DevpathTool, InputsFromArgumentsFilesAndStandardInput) {
  WriteScratch("texts", "Pci(1,2)\r\nPci(3,4)");
  WriteScratch("hex", "7F FF\n04 00\n");
  WriteScratch("big-hex", [] {
    std::string hex;
    for (size_t i = 0; i <= (size_t{1} << 20); i++) {
      hex += "00 ";
    }
    return hex;
  }());
  ExpectRows({
      {{"--input", "@DIR@/texts"}, "ignored", 0, kPci12 + "\n" + kPci34 + "\n", ""},
      {{"--input", "-"}, "Pci(3,4)\n", 0, kPci34 + "\n", ""},
      {{"--input", "-", "--json"}, "\xFF", 1,
       "{\"bytes\":null,\"error\":\"" + kNotUtf8 +
           "\",\"nodes\":null,\"size\":null,\"text\":null,\"text_bytes\":\"FF\"}\n",
       "boardinv: line 1: " + kNotUtf8 + "\n"},
      {{"--input", ""}, "", 2, "", "boardinv: device path text file: \"\": an empty file name\n"},
      {{"--input", "@DIR@/texts", "Pci(1,2)"}, "", 2, "",
       "boardinv: devpath: give the texts one way: TEXT arguments, - or --input FILE|-\n"},
      // - stands for standard input, read line by line as --input -: the
      // text "-" (a file named -) is a line of input.
      {{"-"}, "Pci(1,2)\r\nPci(3,4)", 0, kPci12 + "\n" + kPci34 + "\n", ""},
      {{"-"}, "-\n", 0, "04 04 08 00 2D 00 00 00 7F FF 04 00\n", ""},
      {{"-"}, "", 0, "", ""},
      {{"--node", "-"}, "Pci(1,2)/Pci(3,4)\n", 0, "01 01 06 00 02 01\n",
       "boardinv: line 1: --node converts one node; the text holds 2 nodes (only the first is converted)\n"},
      {{"--json", "-"}, "\xFF\n", 1,
       "{\"bytes\":null,\"error\":\"" + kNotUtf8 +
           "\",\"nodes\":null,\"size\":null,\"text\":null,\"text_bytes\":\"FF\"}\n",
       "boardinv: line 1: " + kNotUtf8 + "\n"},
      // - comes alone: with other arguments, or twice, it is bad usage.
      {{"-", "Pci(1,2)"}, "Pci(3,4)\n", 2, "",
       "boardinv: devpath: - reads the texts from standard input (one a line); give it alone, not with TEXT "
       "arguments\n"},
      {{"Pci(1,2)", "-"}, "", 2, "",
       "boardinv: devpath: - reads the texts from standard input (one a line); give it alone, not with TEXT "
       "arguments\n"},
      {{"-", "-"}, "", 2, "",
       "boardinv: devpath: - reads the texts from standard input (one a line); give it alone, not with TEXT "
       "arguments\n"},
      {{"--input", "@DIR@/texts", "-"}, "", 2, "",
       "boardinv: devpath: give the texts one way: TEXT arguments, - or --input FILE|-\n"},
      {{"--explain", "-"}, "7F FF\n04 00\n", 0,
       "offset  type  subtype  length  kind             text\n0       0x7F  0xFF     4       end of path      Path(0x7F,0xFF,)\n"
       "text: Path(0x7F,0xFF,)\nvalid device path, 4 bytes\n", ""},
      {{"--explain", "-"}, "7F FG 04 00", 2, "",
       "boardinv: devpath --explain: standard input: offset 4 holds what is not a hex digit or white space\n"},
      {{"--explain", "-", "7F FF 04 00"}, "", 2, "",
       "boardinv: devpath --explain: - reads the path from standard input (hex); give it alone, not with HEX "
       "arguments\n"},
      {{"--explain", "--binary", "@DIR@/hex", "-"}, "", 2, "",
       "boardinv: devpath --explain: give the path one way: HEX arguments, -, --input FILE|- or --binary FILE|-\n"},
      {{"--explain", "--binary", "-"}, std::string("\x7F\xFF\x04\x00", 4), 0,
       "offset  type  subtype  length  kind             text\n0       0x7F  0xFF     4       end of path      Path(0x7F,0xFF,)\n"
       "text: Path(0x7F,0xFF,)\nvalid device path, 4 bytes\n", ""},
      {{"--explain", "--binary", "-"}, "", 2, "", "boardinv: devpath --explain: standard input is empty\n"},
      {{"--explain", "--input", "@DIR@/hex"}, "", 0,
       "offset  type  subtype  length  kind             text\n0       0x7F  0xFF     4       end of path      Path(0x7F,0xFF,)\n"
       "text: Path(0x7F,0xFF,)\nvalid device path, 4 bytes\n", ""},
      {{"--explain", "--input", "-", "--json"}, "7F FF 04 00 1", 2, "",
       "boardinv: devpath --explain: give the path as whole bytes, two hex digits each\n"},
      {{"--explain", "--input", "-"}, "7F FG 04 00", 2, "",
       "boardinv: devpath --explain: standard input: offset 4 holds what is not a hex digit or white space\n"},
      {{"--explain", "--input", ""}, "", 2, "", "boardinv: hex text file: \"\": an empty file name\n"},
      {{"--explain", "--input", "@DIR@/big-hex"}, "", 2, "",
       "boardinv: devpath --explain: the path is larger than the limit of 1 MiB\n"},
      {{"--explain", "--input", "-", "7F FF 04 00"}, "", 2, "",
       "boardinv: devpath --explain: give the path one way: HEX arguments, -, --input FILE|- or --binary FILE|-\n"},
      {{"--explain", "--binary", "-", "--input", "@DIR@/hex"}, "", 2, "",
       "boardinv: devpath --explain: give the path one way: HEX arguments, -, --input FILE|- or --binary FILE|-\n"},
      {{"--efi", "-", "Pci(1,2)"}, "", 2, "",
       "boardinv: --efi: the driver image must be a file: its symbol map is read from beside it\n"},
  });
}

// --format text|json as on boot and sweep, --json its alias; JSON Lines,
// one object per input; snake_case sub_type beside subType, trailing_bytes
// beside trailingBytes.
TEST_F(DevpathTool, FormatOptionAndSnakeCaseKeys) {
  const ToolRun alias = Tool({"--json", "PciRoot(0x0)/Pci(0x16,0x19)", "Pci(1,2)"});
  const ToolRun format = Tool({"--format", "json", "PciRoot(0x0)/Pci(0x16,0x19)", "Pci(1,2)"});
  EXPECT_EQ(alias.status, 0) << alias.err;
  EXPECT_EQ(format.status, 0) << format.err;
  EXPECT_EQ(alias.out, format.out);
  const ToolRun text = Tool({"--format", "text", "Pci(1,2)"});
  EXPECT_EQ(text.out, kPci12 + "\n");
  EXPECT_EQ(text.status, 0);

  std::istringstream lines(format.out);
  size_t count = 0;
  for (std::string line; std::getline(lines, line); count++) {
    const auto object = nlohmann::json::parse(line);
    ASSERT_TRUE(object.is_object()) << line;
    for (const auto &node : object["nodes"]) {
      ASSERT_TRUE(node.contains("sub_type")) << line;
      EXPECT_EQ(node["sub_type"], node["subType"]) << line;
    }
  }
  EXPECT_EQ(count, 2u);
  EXPECT_EQ(nlohmann::json::parse(format.out.substr(0, format.out.find('\n')))["nodes"][1]["sub_type"], 1);

  const ToolRun explain = Tool({"--explain", "--format", "json", "01 01 06 00 02 01 7F FF 04 00 AA"});
  EXPECT_EQ(explain.status, 0) << explain.err;
  const auto report = nlohmann::json::parse(explain.out);
  EXPECT_EQ(report["trailing_bytes"], 1);
  EXPECT_EQ(report["trailingBytes"], 1);
  EXPECT_EQ(report["nodes"][0]["sub_type"], 1);
  EXPECT_EQ(report["nodes"][1]["sub_type"], 0xFF);
  EXPECT_EQ(Tool({"--explain", "--json", "7F FF 04 00"}).out, Tool({"--explain", "--format", "json", "7F FF 04 00"}).out);
  // Always there: 0 when nothing follows the end node, null for an invalid
  // path.
  const auto none = nlohmann::json::parse(Tool({"--explain", "--json", "7F FF 04 00"}).out);
  EXPECT_EQ(none["trailing_bytes"], 0);
  EXPECT_EQ(none["trailingBytes"], 0);
  const auto invalid = nlohmann::json::parse(Tool({"--explain", "--json", "7F FF 05 00"}).out);
  ASSERT_TRUE(invalid.contains("trailing_bytes")) << invalid.dump();
  EXPECT_TRUE(invalid["trailing_bytes"].is_null());
  EXPECT_TRUE(invalid["trailingBytes"].is_null());

  const ToolRun both = Tool({"--json", "--format", "text", "Pci(1,2)"});
  EXPECT_EQ(both.status, 2);
  EXPECT_EQ(both.out, "");
  EXPECT_EQ(std::count(both.err.begin(), both.err.end(), '\n'), 1) << both.err;
  EXPECT_EQ(both.err.rfind("boardinv: ", 0), 0u) << both.err;
}

// --explain answers its one path as every devpath answer in JSON: one
// object on one line, keys sorted. A node's keyword is that of its own
// text (null for end nodes, file names and a node without text), as in
// every other answer; trailing_bytes is always there (null when invalid).
TEST_F(DevpathTool, ExplainInJsonIsOneLine) {
  const std::string end =
      "{\"keyword\":null,\"kind\":\"end of path\",\"length\":4,\"offset\":0,\"subType\":255,\"sub_type\":255,"
      "\"text\":\"Path(0x7F,0xFF,)\",\"type\":127}";
  ExpectRows({
      {{"--explain", "--json", "7F FF 04 00"}, "", 0,
       "{\"nodes\":[" + end +
           "],\"reason\":null,\"size\":4,\"text\":\"Path(0x7F,0xFF,)\",\"trailingBytes\":0,\"trailing_bytes\":0,"
           "\"valid\":true}\n",
       ""},
      {{"--explain", "--format", "json", "01 01 06 00 02 01 7F FF 04 00 AA BB"}, "", 0,
       "{\"nodes\":[{\"keyword\":\"Pci\",\"kind\":\"PCI\",\"length\":6,\"offset\":0,\"subType\":1,\"sub_type\":1,"
       "\"text\":\"Pci(0x1,0x2)\",\"type\":1},{\"keyword\":null,\"kind\":\"end of path\",\"length\":4,\"offset\":6,"
       "\"subType\":255,\"sub_type\":255,\"text\":\"Path(0x7F,0xFF,)\",\"type\":127}],\"reason\":null,\"size\":10,"
       "\"text\":\"Pci(0x1,0x2)\",\"trailingBytes\":2,\"trailing_bytes\":2,"
       "\"valid\":true}\n",
       ""},
      // A file name has no keyword; a node written in the generic form has
      // that form's.
      {{"--explain", "--json", "04 04 08 00 41 00 00 00", "01 01 05 00 AB 7F FF 04 00"}, "", 0,
       "{\"nodes\":[{\"keyword\":null,\"kind\":\"file path\",\"length\":8,\"offset\":0,\"subType\":4,\"sub_type\":4,"
       "\"text\":\"A\",\"type\":4},{\"keyword\":\"HardwarePath\",\"kind\":\"PCI\",\"length\":5,\"offset\":8,"
       "\"subType\":1,\"sub_type\":1,\"text\":\"HardwarePath(0x1,AB)\",\"type\":1},{\"keyword\":null,\"kind\":\"end of "
       "path\",\"length\":4,\"offset\":13,\"subType\":255,\"sub_type\":255,\"text\":\"Path(0x7F,0xFF,)\",\"type\":127}],"
       "\"reason\":null,\"size\":17,\"text\":\"A/HardwarePath(0x1,AB)\",\"trailingBytes\":0,\"trailing_bytes\":0,"
       "\"valid\":true}\n",
       ""},
      {{"--explain", "--json", "7F FF 05 00 00"}, "", 1,
       "{\"nodes\":[{\"keyword\":null,\"kind\":\"end of path\",\"length\":5,\"offset\":0,\"subType\":255,"
       "\"sub_type\":255,\"text\":\"Path(0x7F,0xFF,00)\",\"type\":127}],"
       "\"reason\":\"the end node at offset 0 has Length 5, not 4\",\"size\":null,\"text\":null,\"trailingBytes\":null,"
       "\"trailing_bytes\":null,\"valid\":false}\n",
       ""},
      // The node that runs past the bytes has no text, so no keyword.
      {{"--explain", "--json", "01 01 06 00 02 01 01 01 07 00 00 00"}, "", 1,
       "{\"nodes\":[{\"keyword\":\"Pci\",\"kind\":\"PCI\",\"length\":6,\"offset\":0,\"subType\":1,\"sub_type\":1,"
       "\"text\":\"Pci(0x1,0x2)\",\"type\":1},{\"keyword\":null,\"kind\":\"PCI\",\"length\":7,\"offset\":6,"
       "\"subType\":1,\"sub_type\":1,\"text\":null,\"type\":1}],\"reason\":\"the node at offset 6 has Length 7, which "
       "runs past the end of the bytes\",\"size\":null,\"text\":null,\"trailingBytes\":null,\"trailing_bytes\":null,"
       "\"valid\":false}\n",
       ""},
      {{"--explain", "--json", "01 01 06"}, "", 1,
       "{\"nodes\":[],\"reason\":\"no end node: the bytes end at offset 3 inside or before a node header\","
       "\"size\":null,\"text\":null,\"trailingBytes\":null,\"trailing_bytes\":null,\"valid\":false}\n",
       ""},
  });
}

// A path of the largest size (1 MiB) of the smallest nodes: every node is
// listed, in text one line each (then the path's text), in JSON on the one
// line. (Its memory,
// about that of the bytes since the nodes are written as they are reached,
// is measured with /usr/bin/time, not here.)
TEST_F(DevpathTool, ExplainListsEveryNodeOfTheLargestPath) {
  constexpr size_t kNodes = (size_t{1} << 20) / 4;
  std::string path;
  for (size_t i = 0; i + 1 < kNodes; i++) {
    path += std::string("\x01\x01\x04\x00", 4);
  }
  path += std::string("\x7F\xFF\x04\x00", 4);
  WriteScratch("largest.bin", path);

  const ToolRun text = Tool({"--explain", "--binary", dir_ + "/largest.bin"});
  EXPECT_EQ(text.status, 0) << text.err;
  EXPECT_EQ(std::count(text.out.begin(), text.out.end(), '\n'), static_cast<long>(kNodes + 3));
  const std::string lastNodes =
      "1048568 0x01  0x01     4       PCI              HardwarePath(0x1,)\n"
      "1048572 0x7F  0xFF     4       end of path      Path(0x7F,0xFF,)\n"
      "text: HardwarePath(0x1,)/";
  EXPECT_NE(text.out.find(lastNodes), std::string::npos);
  const std::string last = "/HardwarePath(0x1,)\nvalid device path, 1048576 bytes\n";
  ASSERT_GE(text.out.size(), last.size());
  EXPECT_EQ(text.out.substr(text.out.size() - last.size()), last);

  const ToolRun json = Tool({"--explain", "--json", "--binary", dir_ + "/largest.bin"});
  EXPECT_EQ(json.status, 0) << json.err;
  EXPECT_EQ(std::count(json.out.begin(), json.out.end(), '\n'), 1);
  const auto answer = nlohmann::json::parse(json.out);
  ASSERT_EQ(answer["nodes"].size(), kNodes);
  EXPECT_EQ(answer["nodes"][kNodes - 1]["offset"], (size_t{1} << 20) - 4);
  EXPECT_EQ(answer["size"], size_t{1} << 20);
}

}  // namespace
