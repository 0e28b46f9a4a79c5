// boardinv devpath --to-text and --load-option as a user meets them: hex
// or raw bytes in, one text line per input (or JSON) out, errors in place
// with their offset, load options built byte by byte, and exit statuses.
#include <nlohmann/json.hpp>
#include <sstream>
#include <string>
#include <tuple>
#include <vector>

#include "tests/tools/DevpathToolFixture.h"

namespace {

using devpath_tool::DevpathTool;
using devpath_tool::ToolRun;

const std::string kSlot = "02 01 0C 00 D0 41 03 0A 00 00 00 00 01 01 06 00 07 03 7F FF 04 00";
const std::string kSlotText = "PciRoot(0x0)/Pci(0x3,0x7)";
const std::string kTwoInstances =
    "02 01 0C 00 D0 41 03 0A 00 00 00 00 01 01 06 00 07 03 7F 01 04 00 01 01 06 00 00 1C 7F FF 04 00";

// One line per input, in order, whatever it holds: the paths of an input
// one after the other are written on its line, separated by a tab (which
// no path text holds), so a list of inputs gives a list of answers.
TEST_F(DevpathTool, ToTextWritesOneLinePerInput) {
  WriteScratch("hex", "01 01 06 00 02 01 7F FF 04 00\n");
  std::string three;
  for (const std::string &hex : {kSlot, std::string("7F FF 04 00"), std::string("01 01 06 00 02 01 7F FF 04 00")}) {
    for (size_t i = 0; i < hex.size(); i += 3) {
      three += static_cast<char>(std::stoul(hex.substr(i, 2), nullptr, 16));
    }
  }
  ExpectRows({
      {{"--to-text", kSlot}, "", 0, kSlotText + "\n", ""},
      {{"--to-text", kSlot, kTwoInstances}, "", 0, kSlotText + "\nPciRoot(0x0)/Pci(0x3,0x7),Pci(0x1C,0x0)\n", ""},
      // Two paths in one input, one after the other: one line.
      {{"--to-text", kSlot + " 7F FF 04 00"}, "", 0, kSlotText + "\tPath(0x7F,0xFF,)\n", ""},
      // Lines of standard input, with "-" or without HEX; CR LF endings.
      {{"--to-text", "-"}, kSlot + "\r\n01 01 06 00 02 01 7F FF 04 00\n", 0, kSlotText + "\nPci(0x1,0x2)\n", ""},
      {{"--to-text"}, kSlot, 0, kSlotText + "\n", ""},
      {{"--to-text", "-"},
       "7F FF 04 00 7F FF 04 00\n" + kSlot + "\n01 01 06 00 02 01 7F FF 04 00 " + kTwoInstances + "\n",
       0,
       "Path(0x7F,0xFF,)\tPath(0x7F,0xFF,)\n" + kSlotText + "\nPci(0x1,0x2)\tPciRoot(0x0)/Pci(0x3,0x7),Pci(0x1C,0x0)\n",
       ""},
      {{"--to-text", "--input", "@DIR@/hex"}, "", 0, "Pci(0x1,0x2)\n", ""},
      {{"--to-text", "--node", "01 01 06 00 02 01", "7F 01 04 00"}, "", 0, "Pci(0x1,0x2)\nPath(0x7F,0x1,)\n", ""},
      // The raw bytes of --binary are one input: one line.
      {{"--to-text", "--binary", "-"}, three, 0, kSlotText + "\tPath(0x7F,0xFF,)\tPci(0x1,0x2)\n", ""},
  });
}

// An invalid path, hex that is not whole bytes, an empty line: each is
// answered in its place, named on standard error, and the status is 1.
TEST_F(DevpathTool, ToTextAnswersErrorsInPlace) {
  ExpectRows({
      {{"--to-text", "01 01 02 00 7F FF 04 00", kSlot},
       "",
       1,
       "error: the node at offset 0 has Length 2, below 4\n" + kSlotText + "\n",
       "boardinv: argument 1: the node at offset 0 has Length 2, below 4\n"},
      // The input's line is the error, whatever paths before it were valid.
      {{"--to-text", kSlot + " 01 01 06"},
       "",
       1,
       "error: the path at offset 22: no end node: the bytes end at offset 3 inside or before a node header\n",
       "boardinv: argument 1: the path at offset 22: no end node: the bytes end at offset 3 inside or before a node "
       "header\n"},
      {{"--to-text"},
       "7F FF 0\n\nXY\n7F FF 04 00\n",
       1,
       "error: the hex digits are not whole bytes (an odd count)\nerror: there are no bytes\n"
       "error: offset 0 of the hex text holds what is not a hex digit or white space\nPath(0x7F,0xFF,)\n",
       "boardinv: line 1: the hex digits are not whole bytes (an odd count)\nboardinv: line 2: there are no bytes\n"
       "boardinv: line 3: offset 0 of the hex text holds what is not a hex digit or white space\n"},
      {{"--to-text", "--node", "01 01 06 00 02 01 7F FF 04 00"},
       "",
       1,
       "error: the node at offset 0 has Length 6, and 4 bytes follow it at offset 6: one node is formatted alone\n",
       "boardinv: argument 1: the node at offset 0 has Length 6, and 4 bytes follow it at offset 6: one node is "
       "formatted alone\n"},
      {{"--to-text", "--explain", kSlot}, "", 2, "", "boardinv: devpath: --explain and --to-text are two modes; give one\n"},
      {{"--to-text", "--binary", "@DIR@/hex", kSlot},
       "",
       2,
       "",
       "boardinv: devpath --to-text: give the paths one way: HEX arguments, -, --input FILE|- or --binary FILE|-\n"},
      // - stands for standard input, which then holds every input: with HEX
      // arguments, twice, or with --input or --binary, it is bad usage.
      {{"--to-text", "-", "7FFF0400"},
       "7F FF 04 00\n",
       2,
       "",
       "boardinv: devpath --to-text: - reads the paths from standard input (hex, one input a line); give it alone, not "
       "with HEX arguments\n"},
      {{"--to-text", "7FFF0400", "-"},
       "",
       2,
       "",
       "boardinv: devpath --to-text: - reads the paths from standard input (hex, one input a line); give it alone, not "
       "with HEX arguments\n"},
      {{"--to-text", "-", "-"},
       "",
       2,
       "",
       "boardinv: devpath --to-text: - reads the paths from standard input (hex, one input a line); give it alone, not "
       "with HEX arguments\n"},
      {{"--to-text", "--input", "@DIR@/hex", "-"},
       "",
       2,
       "",
       "boardinv: devpath --to-text: give the paths one way: HEX arguments, -, --input FILE|- or --binary FILE|-\n"},
      {{"--to-text", "--binary", "-", "-"},
       "",
       2,
       "",
       "boardinv: devpath --to-text: give the paths one way: HEX arguments, -, --input FILE|- or --binary FILE|-\n"},
      {{"--to-text", "--binary", "-"}, "", 2, "", "boardinv: devpath --to-text: standard input is empty\n"},
  });
}

TEST_F(DevpathTool, ToTextReadsRawBytes) {
  std::string bytes;
  for (size_t i = 0; i < kTwoInstances.size(); i += 3) {
    bytes += static_cast<char>(std::stoul(kTwoInstances.substr(i, 2), nullptr, 16));
  }
  ExpectRows({
      {{"--to-text", "--binary", "-"}, bytes, 0, "PciRoot(0x0)/Pci(0x3,0x7),Pci(0x1C,0x0)\n", ""},
      {{"--to-text", "--binary", "-"}, bytes.substr(0, 26), 1,
       "error: the node at offset 22 has Length 6, which runs past the end of the bytes\n",
       "boardinv: device path file: the node at offset 22 has Length 6, which runs past the end of the bytes\n"},
  });
}

TEST_F(DevpathTool, ToTextJsonGivesEveryNodesText) {
  const ToolRun run = Tool({"--to-text", "--json", kTwoInstances, "01"});
  EXPECT_EQ(run.status, 1);
  std::vector<nlohmann::json> lines;
  std::istringstream out(run.out);
  for (std::string line; std::getline(out, line);) {
    lines.push_back(nlohmann::json::parse(line));
  }
  ASSERT_EQ(lines.size(), 2u);
  EXPECT_EQ(lines[0]["text"], "PciRoot(0x0)/Pci(0x3,0x7),Pci(0x1C,0x0)");
  EXPECT_EQ(lines[0]["offset"], 0);
  EXPECT_EQ(lines[0]["size"], 32);
  EXPECT_EQ(lines[0]["bytes"], kTwoInstances);
  EXPECT_EQ(lines[0]["paths"], nlohmann::json::parse(
                                   R"json([{"offset":0,"size":32,"text":"PciRoot(0x0)/Pci(0x3,0x7),Pci(0x1C,0x0)"}])json"));
  const nlohmann::json nodes = lines[0]["nodes"];
  ASSERT_EQ(nodes.size(), 5u);
  // The keyword of each node's own text: null for end nodes.
  const std::vector<std::tuple<int, int, int, int, std::string, nlohmann::json>> expected = {
      {0, 2, 1, 12, "PciRoot(0x0)", "PciRoot"},
      {12, 1, 1, 6, "Pci(0x3,0x7)", "Pci"},
      {18, 0x7F, 1, 4, "Path(0x7F,0x1,)", nullptr},
      {22, 1, 1, 6, "Pci(0x1C,0x0)", "Pci"},
      {28, 0x7F, 0xFF, 4, "Path(0x7F,0xFF,)", nullptr},
  };
  for (size_t i = 0; i < expected.size(); i++) {
    EXPECT_EQ(std::make_tuple(nodes[i]["offset"].get<int>(), nodes[i]["type"].get<int>(),
                              nodes[i]["sub_type"].get<int>(), nodes[i]["length"].get<int>(),
                              nodes[i]["text"].get<std::string>(), nodes[i]["keyword"]),
              expected[i])
        << i;
  }
  EXPECT_EQ(lines[1]["error"], "no end node: the bytes end at offset 1 inside or before a node header");
  EXPECT_TRUE(lines[1]["text"].is_null());
  EXPECT_TRUE(lines[1]["nodes"].is_null());
  EXPECT_TRUE(lines[1]["paths"].is_null());

  // An input of several paths is one object: its text is its line (the
  // paths' texts separated by a tab), nodes count from the input's start,
  // and paths says where each path lies; an error names the path in error.
  ExpectRows({
      {{"--to-text", "--json", "01 01 06 00 02 01 7F FF 04 00 7F FF 04 00"},
       "",
       0,
       "{\"bytes\":\"01 01 06 00 02 01 7F FF 04 00 7F FF 04 00\",\"nodes\":[{\"keyword\":\"Pci\",\"length\":6,"
       "\"offset\":0,\"sub_type\":1,\"text\":\"Pci(0x1,0x2)\",\"type\":1},{\"keyword\":null,\"length\":4,"
       "\"offset\":6,\"sub_type\":255,\"text\":\"Path(0x7F,0xFF,)\",\"type\":127},{\"keyword\":null,\"length\":4,"
       "\"offset\":10,\"sub_type\":255,\"text\":\"Path(0x7F,0xFF,)\",\"type\":127}],\"offset\":0,\"paths\":["
       "{\"offset\":0,\"size\":10,\"text\":\"Pci(0x1,0x2)\"},{\"offset\":10,\"size\":4,\"text\":\"Path(0x7F,0xFF,)\"}],"
       "\"size\":14,\"text\":\"Pci(0x1,0x2)\\tPath(0x7F,0xFF,)\"}\n",
       ""},
      {{"--to-text", "--json", "7F FF 04 00 01 01 02 00"},
       "",
       1,
       "{\"bytes\":null,\"error\":\"the path at offset 4: the node at offset 0 has Length 2, below 4\",\"nodes\":null,"
       "\"offset\":4,\"paths\":null,\"size\":null,\"text\":null}\n",
       "boardinv: argument 1: the path at offset 4: the node at offset 0 has Length 2, below 4\n"},
  });
}

TEST_F(DevpathTool, ExplainShowsTheNodesText) {
  const ToolRun run = Tool({"--explain", "--json", kTwoInstances});
  EXPECT_EQ(run.status, 0) << run.err;
  const nlohmann::json json = nlohmann::json::parse(run.out);
  EXPECT_EQ(json["text"], "PciRoot(0x0)/Pci(0x3,0x7),Pci(0x1C,0x0)");
  EXPECT_EQ(json["nodes"][1]["text"], "Pci(0x3,0x7)");
  const ToolRun invalid = Tool({"--explain", "--json", "01 01 06 00 02 01 01 01 07 00 00 00"});
  const nlohmann::json bad = nlohmann::json::parse(invalid.out);
  EXPECT_EQ(bad["nodes"][0]["text"], "Pci(0x1,0x2)");
  EXPECT_TRUE(bad["nodes"][1]["text"].is_null()) << "the node that runs past the bytes has no text";
  EXPECT_TRUE(bad["text"].is_null());
}

// A load option as efivarfs stores it, byte by byte.
std::string LoadOption(uint32_t attributes, const std::u16string &description, const std::string &paths,
                       const std::string &optional, int listLength = -1) {
  std::string bytes;
  auto put = [&](uint64_t value, int size) {
    for (int i = 0; i < size; i++) {
      bytes += static_cast<char>(value >> (8 * i));
    }
  };
  put(7, 4);
  put(attributes, 4);
  put(listLength >= 0 ? listLength : paths.size(), 2);
  for (char16_t unit : description) {
    put(unit, 2);
  }
  put(0, 2);
  return bytes + paths + optional;
}

std::string Raw(const std::string &hex) {
  std::string bytes;
  for (size_t i = 0; i < hex.size(); i += 3) {
    bytes += static_cast<char>(std::stoul(hex.substr(i, 2), nullptr, 16));
  }
  return bytes;
}

TEST_F(DevpathTool, LoadOptionShowsEveryPart) {
  const std::string option =
      LoadOption(0x109, u"Boot \u00E9\x1B", Raw(kSlot) + Raw("01 01 06 00 02 01 7F FF 04 00"), "AB");
  // What a terminal acts on (a C1 control, a right-to-left override) and a
  // lone surrogate, which UCS-2 holds and UTF-8 cannot.
  const std::u16string odd = std::u16string(u"a\u009B\u202E") + char16_t(0xD800) + u"\"\n";
  WriteScratch("odd", LoadOption(1, odd, Raw("7F FF 04 00"), ""));
  WriteScratch("Boot0001", option);
  ExpectRows({
      {{"--load-option", "@DIR@/Boot0001"},
       "",
       0,
       "variable attributes: 0x00000007 (NON_VOLATILE, BOOTSERVICE_ACCESS, RUNTIME_ACCESS)\n"
       "attributes: 0x00000109 (ACTIVE, HIDDEN, CATEGORY_APP)\n"
       "description: Boot \\xC3\\xA9\\x1B\n"
       "file path list: 32 bytes, 2 paths\n"
       "path 1: " + kSlotText + "\n"
       "path 2: Pci(0x1,0x2)\n"
       "optional data: 2 bytes: 41 42\n",
       ""},
      {{"--load-option", "-"}, LoadOption(0, u"", Raw("7F FF 04 00"), ""), 0,
       "variable attributes: 0x00000007 (NON_VOLATILE, BOOTSERVICE_ACCESS, RUNTIME_ACCESS)\n"
       "attributes: 0x00000000 (CATEGORY_BOOT)\n"
       "description: \n"
       "file path list: 4 bytes, 1 path\n"
       "path 1: Path(0x7F,0xFF,)\n"
       "optional data: none\n",
       ""},
      {{"--load-option", "@DIR@/odd"}, "", 0,
       "variable attributes: 0x00000007 (NON_VOLATILE, BOOTSERVICE_ACCESS, RUNTIME_ACCESS)\n"
       "attributes: 0x00000001 (ACTIVE, CATEGORY_BOOT)\n"
       "description: a\\xC2\\x9B\\xE2\\x80\\xAE\\xED\\xA0\\x80\"\\n\n"
       "file path list: 4 bytes, 1 path\n"
       "path 1: Path(0x7F,0xFF,)\n"
       "optional data: none\n",
       ""},
  });
  // In JSON the description is exact, unit for unit: the lone surrogate as
  // the \u escape JSON allows.
  const ToolRun exact = Tool({"--load-option", dir_ + "/odd", "--json"});
  EXPECT_EQ(exact.status, 0) << exact.err;
  EXPECT_NE(exact.out.find("\n  \"description\": \"a\xC2\x9B\xE2\x80\xAE\\ud800\\\"\\n\",\n"), std::string::npos)
      << exact.out;
  const ToolRun json = Tool({"--load-option", dir_ + "/Boot0001", "--json"});
  EXPECT_EQ(json.status, 0) << json.err;
  const nlohmann::json out = nlohmann::json::parse(json.out);
  EXPECT_EQ(out["attributes"]["value"], "0x00000109");
  EXPECT_EQ(out["attributes"]["names"], nlohmann::json({"ACTIVE", "HIDDEN", "CATEGORY_APP"}));
  EXPECT_EQ(out["description"], "Boot \u00E9\x1B");
  EXPECT_EQ(out["file_path_list_length"], 32);
  ASSERT_EQ(out["paths"].size(), 2u);
  EXPECT_EQ(out["paths"][0]["offset"], 26);
  EXPECT_EQ(out["paths"][0]["text"], kSlotText);
  EXPECT_EQ(out["paths"][1]["bytes"], "01 01 06 00 02 01 7F FF 04 00");
  EXPECT_EQ(out["optional_data"], "41 42");
}

TEST_F(DevpathTool, MalformedLoadOptionsGiveOneLineAndStatusTwo) {
  WriteScratch("past", LoadOption(1, u"A", Raw(kSlot), "", 40));
  ExpectRows({
      {{"--load-option", "-"},
       std::string(6, '\0'),
       2,
       "",
       "boardinv: load option: standard input: 6 bytes: a load option in efivarfs starts with 4 bytes of variable "
       "attributes, then 4 of Attributes and 2 of FilePathListLength (10 bytes)\n"},
      {{"--load-option", "-"},
       LoadOption(1, u"A", Raw("01 01 06 00 02 01"), ""),
       2,
       "",
       "boardinv: load option: standard input: device path 1 at byte 14 of the variable (FilePathListLength 6): no "
       "end node: the file path list ends at byte 20 of the variable inside or before a node header\n"},
      {{"--load-option", "-", "--to-text"},
       "",
       2,
       "",
       "boardinv: devpath --load-option reads one load option; TEXT, --input, --binary, --node, --explain and "
       "--to-text do not apply\n"},
  });
  const ToolRun missing = Tool({"--load-option", dir_ + "/missing"});
  EXPECT_EQ(missing.status, 2);
  EXPECT_EQ(missing.err, "boardinv: load option: " + dir_ + "/missing: No such file or directory\n");
  const ToolRun past = Tool({"--load-option", dir_ + "/past"});
  EXPECT_EQ(past.status, 2);
  EXPECT_EQ(past.err, "boardinv: load option: " + dir_ +
                          "/past: FilePathListLength 40 runs past the end: the file path list from byte 14 of the "
                          "variable would end at byte 54 of the variable, which ends at byte 36\n");
}

}  // namespace
