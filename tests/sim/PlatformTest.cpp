#include <dirent.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <ostream>
#include <string>
#include <vector>

#include "driver/firmware/Guids.h"
#include "host/sim/Platform.h"

namespace {

TEST(PlatformTest, DefaultIsAKindTwoBoard) {
  const sim::Platform platform = sim::DefaultPlatform();
  ASSERT_EQ(platform.variables.size(), 1u);
  EXPECT_EQ(platform.variables[0].name, u"NioTypeProtected");
  EXPECT_EQ(sim::GuidToString(platform.variables[0].guid), "07AC0304-8AA0-4DD7-94AC-2A3DEAB5CB25");
  EXPECT_EQ(platform.variables[0].data, (std::vector<uint8_t>{0x00, 0x02, 0x00, 0x00}));
  EXPECT_TRUE(platform.protocols.smbios);
}

TEST(PlatformTest, VariableValueSizeAndData) {
  const sim::Platform platform = sim::ParsePlatformJson(R"({
    "name": "wide word",
    "variables": [
      {"name": "NioTypeProtected", "value": "0x203", "size": 8},
      {"name": "Other", "guid": "{12345678-9ABC-DEF0-0102-030405060708}", "data": "01 02 0A", "attributes": 3}
    ],
    "protocols": {"smbios": false},
    "faults": {"fail_allocations": [2, "5"], "fail_allocations_from": 9}
  })");
  EXPECT_EQ(platform.name, "wide word");
  ASSERT_EQ(platform.variables.size(), 2u);
  EXPECT_EQ(platform.variables[0].data, (std::vector<uint8_t>{0x03, 0x02, 0, 0, 0, 0, 0, 0}));
  EXPECT_EQ(platform.variables[1].data, (std::vector<uint8_t>{1, 2, 10}));
  EXPECT_EQ(platform.variables[1].attributes, 3u);
  EXPECT_EQ(sim::GuidToString(platform.variables[1].guid), "12345678-9ABC-DEF0-0102-030405060708");
  EXPECT_FALSE(platform.protocols.smbios);
  EXPECT_EQ(platform.faults.failAllocations, (std::vector<uint64_t>{2, 5}));
  EXPECT_EQ(platform.faults.failAllocationsFrom, 9u);
}

TEST(PlatformTest, NoVariablesMeansTheVariableIsAbsent) {
  EXPECT_TRUE(sim::ParsePlatformJson("{}").variables.empty());
}

TEST(PlatformTest, SetAndRemoveTheVariantWord) {
  sim::Platform platform = sim::DefaultPlatform();
  sim::SetNioTypeWord(platform, 0x12345678);
  ASSERT_EQ(platform.variables.size(), 1u);
  EXPECT_EQ(platform.variables[0].data, (std::vector<uint8_t>{0x78, 0x56, 0x34, 0x12}));
  sim::RemoveNioTypeVariable(platform);
  EXPECT_TRUE(platform.variables.empty());
}

// The status CreateEventEx answers: numbers as every other status fault
// takes them (a JSON number, or decimal or 0x text).
TEST(PlatformTest, CreateEventFaultIsAStatus) {
  EXPECT_FALSE(sim::ParsePlatformJson("{}").faults.failCreateEvent);
  EXPECT_EQ(sim::ParsePlatformJson(R"({"faults": {"fail_create_event": "0x8000000000000009"}})").faults.failCreateEvent,
            EFI_OUT_OF_RESOURCES);
  EXPECT_EQ(sim::ParsePlatformJson(R"({"faults": {"fail_create_event": 1}})").faults.failCreateEvent, 1u);
}

struct BadCase {
  const char *json;
  const char *message;  // the error names the field and the fault
};

class BadPlatformTest : public ::testing::TestWithParam<BadCase> {};

TEST_P(BadPlatformTest, IsRefusedNamingTheField) {
  const BadCase c = GetParam();
  try {
    sim::ParsePlatformJson(c.json);
    FAIL() << "accepted: " << c.json;
  } catch (const sim::PlatformError &error) {
    EXPECT_NE(std::string(error.what()).find(c.message), std::string::npos) << error.what();
    EXPECT_EQ(std::string(error.what()).find('\n'), std::string::npos) << "one line";
  }
}

INSTANTIATE_TEST_SUITE_P(
    Descriptions, BadPlatformTest,
    ::testing::Values(
        BadCase{"{", "not valid JSON"}, BadCase{"[]", "platform: must be an object"},
        BadCase{R"({"colour": 1})", "colour: unknown field"},
        BadCase{R"({"protocols": {"smbios": true, "usb": true}})", "protocols.usb: unknown field"},
        BadCase{R"({"protocols": {"smbios": 1}})", "protocols.smbios: must be true or false"},
        BadCase{R"({"variables": {}})", "variables: must be an array"},
        BadCase{R"({"variables": [{"value": 1}]})", "variables[0].name: required"},
        BadCase{R"({"variables": [{"name": "N"}]})", "variables[0]: give exactly one of"},
        BadCase{R"({"variables": [{"name": "N", "value": 1, "data": "00"}]})", "variables[0]: give exactly one of"},
        BadCase{R"({"variables": [{"name": "N", "value": -1}]})", "variables[0].value: must not be negative"},
        BadCase{R"({"variables": [{"name": "N", "value": "0x1FF", "size": 1}]})", "variables[0].value: out of range"},
        BadCase{R"({"variables": [{"name": "N", "value": "12ab"}]})", "variables[0].value: not a number"},
        BadCase{R"({"variables": [{"name": "N", "value": 1, "size": 0}]})", "variables[0].size: must be at least 1"},
        BadCase{R"({"variables": [{"name": "N", "data": ""}]})",
                "variables[0].data: must hold at least one byte (leave the variable out to have it absent)"},
        BadCase{R"({"variables": [{"name": "N", "data": "0"}]})", "variables[0].data: odd number of hex digits"},
        BadCase{R"({"variables": [{"name": "N", "data": "zz"}]})", "variables[0].data: not a hex digit"},
        BadCase{R"({"variables": [{"name": "N", "data": "00", "size": 1}]})", "variables[0].size: goes with"},
        BadCase{R"({"variables": [{"name": "N", "value": 1, "guid": "1234"}]})", "variables[0].guid: not a GUID"},
        BadCase{R"({"variables": [{"name": "N", "value": 1}, {"name": "N", "value": 2}]})",
                "variables[1]: the same name and GUID appear twice"},
        BadCase{R"({"variables": [{"name": "N", "value": 1, "extra": 1}]})", "variables[0].extra: unknown field"},
        BadCase{R"({"faults": {"fail_allocations": [0]}})", "faults.fail_allocations[0]: allocations are numbered"},
        BadCase{R"({"faults": {"fail_allocations_from": "x"}})", "faults.fail_allocations_from: not a number"},
        BadCase{R"({"faults": {"fail_create_event": 0}})",
                "faults.fail_create_event: a failure needs a nonzero status"},
        BadCase{R"({"faults": {"fail_create_event": "Out of Resources"}})", "faults.fail_create_event: not a number"},
        BadCase{R"({"faults": {"fail_create_events": 1}})", "faults.fail_create_events: unknown field"},
        // A key twice in one object is refused, not taken last-wins.
        BadCase{R"({"name": "a", "name": "b"})", "name: the key appears twice in its object"},
        BadCase{R"({"variables": [], "protocols": {}, "variables": []})", "variables: the key appears twice"},
        BadCase{R"({"variables": [{"name": "N", "value": 1}, {"name": "M", "value": 1, "value": 2}]})",
                "variables[1].value: the key appears twice"},
        BadCase{R"({"pci": {"root_bridges": [{"uid": 0, "functions": [[], {"a": 1, "a": 1}]}]}})",
                "pci.root_bridges[0].functions[1].a: the key appears twice"}));

// A platform description refused, and its whole message: the field and
// the fault, one line, never the parser's own words or the bytes it read.
struct RefusedCase {
  std::string json;
  std::string message;
};

void PrintTo(const RefusedCase &c, std::ostream *os) { *os << c.json.substr(0, 100); }

class RefusedPlatformTest : public ::testing::TestWithParam<RefusedCase> {};

TEST_P(RefusedPlatformTest, GivesTheWholeMessage) {
  const RefusedCase &c = GetParam();
  try {
    sim::ParsePlatformJson(c.json);
    FAIL() << "accepted";
  } catch (const sim::PlatformError &error) {
    EXPECT_EQ(std::string(error.what()), c.message);
  }
}

const std::string kBeyond64 = "(at most 0xFFFFFFFFFFFFFFFF)";
// 10^400 written out: a whole number no double holds.
const std::string kTenTo400 = "1" + std::string(400, '0');

// Numbers too large for a double, in every kind of place: the parser stops
// at none of them, and each is refused as the field refuses any number out
// of its range (or any negative one, or any number at all).
INSTANTIATE_TEST_SUITE_P(
    HugeNumbers, RefusedPlatformTest,
    ::testing::Values(
        RefusedCase{R"({"name": 1e400})", "name: must be a text"},
        RefusedCase{R"({"name": -1e400})", "name: must be a text"},
        RefusedCase{R"({"colour": 1e400})", "colour: unknown field"},
        RefusedCase{"[1e400]", "platform: must be an object"},
        RefusedCase{"1e400", "platform: must be an object"},
        RefusedCase{R"({"cpu": {"tsc_start": 1e400}})", "cpu.tsc_start: out of range " + kBeyond64},
        RefusedCase{R"({"cpu": {"tsc_start": -1e400}})", "cpu.tsc_start: must not be negative"},
        RefusedCase{R"({"cpu": {"tsc_start": )" + kTenTo400 + "}}", "cpu.tsc_start: out of range " + kBeyond64},
        RefusedCase{R"({"cpu": {"tsc_start": -)" + kTenTo400 + "}}", "cpu.tsc_start: must not be negative"},
        RefusedCase{R"({"cpu": {"stop_display_values": 1.5E+400}})",
                    "cpu.stop_display_values: out of range (at most 0xF4240)"},
        RefusedCase{R"({"faults": {"fail_allocations": [1, 1e400]}})",
                    "faults.fail_allocations[1]: out of range " + kBeyond64},
        RefusedCase{R"({"faults": {"fail_allocations": [-1e400, 1]}})",
                    "faults.fail_allocations[0]: must not be negative"},
        RefusedCase{R"({"cpu": {"pstates": [1, {"multiplier": 1e400}]}})",
                    "cpu.pstates[1].multiplier: out of range (at most 0xFF)"},
        RefusedCase{R"({"pcd_tokens": {"625": 1e400}})", "pcd_tokens.625: out of range (at most 0xFFFFFFFF)"},
        RefusedCase{R"({"pcd_tokens": {"625": -1e400}})", "pcd_tokens.625: must not be negative"},
        RefusedCase{R"({"platform_registers": {"registers": {"0x1": -1e400}}})",
                    "platform_registers.registers.0x1: must not be negative"},
        RefusedCase{R"({"hob_list": {"blocks": [{"kind": "heap"}, {"kind": "heap", "hob_length": 1e400}]}})",
                    "hob_list.blocks[1].hob_length: out of range (at most 0xFFFF)"},
        RefusedCase{R"({"pci": {"root_bridges": [{"functions": [{"device": 1e400, "function": 0, "vendor_id": 1}]}]}})",
                    "pci.root_bridges[0].functions[0].device: out of range (at most 0x1F)"},
        RefusedCase{R"({"variables": [{"name": "N", "value": 1, "size": -1e400}]})",
                    "variables[0].size: must not be negative"},
        RefusedCase{R"({"faults": {"fail_installs": [1e400]}})", "faults.fail_installs[0]: must be an object"},
        // Where JSON is broken after a huge number, it is still the place
        // the parser names.
        RefusedCase{"{\"cpu\": {\"tsc_start\": 1e400 2}}",
                    "line 1, column 29: not valid JSON: a value, comma, colon or bracket out of place"}));

// -0, -0.0 and -0e0 are one number and get one answer: a minus sign is
// refused on every number. Integers beyond 2^53 are read exactly in every
// spelling, or refused; 2^64 and beyond are out of range.
INSTANTIATE_TEST_SUITE_P(
    NumbersAtTheEdges, RefusedPlatformTest,
    ::testing::Values(
        RefusedCase{R"({"cpu": {"tsc_start": -0}})", "cpu.tsc_start: must not be negative"},
        RefusedCase{R"({"cpu": {"tsc_start": -0.0}})", "cpu.tsc_start: must not be negative"},
        RefusedCase{R"({"cpu": {"tsc_start": -0e0}})", "cpu.tsc_start: must not be negative"},
        RefusedCase{R"({"variables": [{"name": "N", "value": -0.0}]})", "variables[0].value: must not be negative"},
        RefusedCase{R"({"faults": {"fail_create_event": -0e0}})", "faults.fail_create_event: must not be negative"},
        RefusedCase{R"({"pcd_tokens": {"625": -0.0}})", "pcd_tokens.625: must not be negative"},
        RefusedCase{R"({"cpu": {"tsc_start": 9007199254740993.5}})", "cpu.tsc_start: must be a whole number"},
        RefusedCase{R"({"cpu": {"tsc_start": 18446744073709551616}})", "cpu.tsc_start: out of range " + kBeyond64},
        RefusedCase{R"({"cpu": {"tsc_start": 18446744073709551616.0}})", "cpu.tsc_start: out of range " + kBeyond64},
        RefusedCase{R"({"cpu": {"tsc_start": 1.8446744073709551616e19}})",
                    "cpu.tsc_start: out of range " + kBeyond64},
        RefusedCase{R"({"cpu": {"tsc_start": 36893488147419103232e0}})", "cpu.tsc_start: out of range " + kBeyond64},
        RefusedCase{R"({"pcd_tokens": {"1": 4294967296.0}})", "pcd_tokens.1: out of range (at most 0xFFFFFFFF)"},
        RefusedCase{R"({"pcd_tokens": {"1": 4294967294.5}})", "pcd_tokens.1: must be a whole number"},
        RefusedCase{R"({"uart": {"line_status": 1e-400}})", "uart.line_status: must be a whole number"}));

// Keys that are numbers are compared as numbers: the same token or
// register in two spellings is refused, naming both.
INSTANTIATE_TEST_SUITE_P(
    NumberKeys, RefusedPlatformTest,
    ::testing::Values(
        RefusedCase{R"({"pcd_tokens": {"625": false, "0625": true}})",
                    "pcd_tokens.625: the same token as \"0625\" (0x271)"},
        RefusedCase{R"({"pcd_tokens": {"0x271": 1, "625": 2}})", "pcd_tokens.625: the same token as \"0x271\" (0x271)"},
        RefusedCase{R"({"pcd_tokens": {"0x271": 1, "0X0271": 2}})",
                    "pcd_tokens.0x271: the same token as \"0X0271\" (0x271)"},
        RefusedCase{R"({"pcd_tokens": {"625": 1, "625": 2}})", "pcd_tokens.625: the key appears twice in its object"},
        RefusedCase{R"({"platform_registers": {"registers": {"0x03810A84": 1, "58788484": 0}}})",
                    "platform_registers.registers.58788484: the same register as \"0x03810A84\" (0x3810A84)"},
        RefusedCase{R"({"platform_registers": {"registers": {"0x03810a84": 1, "0x3810A84": 0}}})",
                    "platform_registers.registers.0x3810A84: the same register as \"0x03810a84\" (0x3810A84)"},
        RefusedCase{R"({"platform_registers": {"registers": {"0": 1, "00": 0}}})",
                    "platform_registers.registers.00: the same register as \"0\" (0x0)"}));

// Text that is not JSON: where it stops being JSON and why, in our words;
// never the bytes read, never the parser's own message.
INSTANTIATE_TEST_SUITE_P(
    NotJson, RefusedPlatformTest,
    ::testing::Values(
        RefusedCase{"", "not valid JSON: empty (or only white space)"},
        RefusedCase{" \n\t\r\n", "not valid JSON: empty (or only white space)"},
        RefusedCase{"{", "line 1, column 2: not valid JSON: the document ends too early"},
        RefusedCase{"{\"name\": \"x\",\n \"cpu\": {\n", "line 3, column 1: not valid JSON: the document ends too early"},
        RefusedCase{"root:x:0:0:secret:/root:/bin/sh\n",
                    "line 1, column 1: not valid JSON: no JSON value starts here (outside quotes only numbers, true, "
                    "false and null)"},
        RefusedCase{"{\n  \"name\": \"x\",\n  oops: 1\n}",
                    "line 3, column 3: not valid JSON: no JSON value starts here (outside quotes only numbers, true, "
                    "false and null)"},
        RefusedCase{R"({"name": "secret)", "line 1, column 17: not valid JSON: a text in quotes is not closed"},
        RefusedCase{"{\"name\": \"a\x01secret\"}",
                    "line 1, column 12: not valid JSON: a control character in a text in quotes (write it as an "
                    "escape)"},
        RefusedCase{"{\"name\": \"\xFF\"}", "line 1, column 11: not valid JSON: a text in quotes is not UTF-8"},
        RefusedCase{R"({"name": "\q"})", "line 1, column 12: not valid JSON: a backslash escape that JSON does not have"},
        RefusedCase{R"({"cpu": {"tsc_start": 1.}})", "line 1, column 25: not valid JSON: a number that is cut short"},
        RefusedCase{R"({"cpu": {"tsc_start": 01}})",
                    "line 1, column 24: not valid JSON: a value, comma, colon or bracket out of place"},
        RefusedCase{R"({"name" "x"})", "line 1, column 11: not valid JSON: a value, comma, colon or bracket out of place"},
        RefusedCase{R"({"name": "x"} {"name": "y"})",
                    "line 1, column 15: not valid JSON: more follows the end of the document"},
        // The parser takes a zero byte for the end of its input: neither
        // one after the document nor one inside it is let through.
        RefusedCase{std::string("{\"name\": \"x\"}\n\0{\"name\": \"y\"}", 28),
                    "line 2, column 1: not valid JSON: more follows the end of the document"},
        RefusedCase{std::string("{\"name\": \0\"x\"}", 14),
                    "line 1, column 10: not valid JSON: a zero byte outside quotes"},
        RefusedCase{std::string("{\"name\": \"\0\"}", 13),
                    "line 1, column 11: not valid JSON: a control character in a text in quotes (write it as an "
                    "escape)"},
        RefusedCase{R"({"name": "last read: 'unexpected end of input'"} x)",
                    "line 1, column 50: not valid JSON: no JSON value starts here (outside quotes only numbers, true, "
                    "false and null)"}));

TEST(PlatformTest, PciTopologyWithNestedBridges) {
  const sim::Platform platform = sim::ParsePlatformJson(R"({"pci": {"root_bridges": [
    {"uid": 1, "segment": 0, "bus": 16, "bridges": [
      {"device": 1, "function": 0, "vendor_id": "0x1022", "secondary_bus": 17, "subordinate_bus": 19,
       "bridges": [{"device": 0, "function": 0, "vendor_id": 4660, "secondary_bus": 18,
                    "functions": [{"device": 0, "function": 0, "vendor_id": "0xC0DE", "class_code": "0x010802"}]}]}],
     "functions": [{"device": 31, "function": 7, "vendor_id": 1, "fail_pci_read": true}]}]}})");
  ASSERT_EQ(platform.pci.rootBridges.size(), 1u);
  const sim::PciRootBridgeDescription &root = platform.pci.rootBridges[0];
  EXPECT_EQ(root.uid, 1u);
  EXPECT_EQ(root.bus, 16);
  ASSERT_EQ(root.bridges.size(), 1u);
  EXPECT_EQ(root.bridges[0].subordinateBus, 19);
  EXPECT_EQ(root.bridges[0].bridges[0].secondaryBus, 18);
  EXPECT_EQ(root.bridges[0].bridges[0].functions[0].classCode, 0x010802u);
  EXPECT_TRUE(root.functions[0].failPciRead);
  EXPECT_TRUE(sim::ParsePlatformJson(R"({"pci": {"root_bridges": []}})").pci.rootBridges.empty());
  EXPECT_EQ(sim::ParsePlatformJson("{}").pci.rootBridges.size(), 1u) << "the built-in board's topology";
}

INSTANTIATE_TEST_SUITE_P(
    PciTopologies, BadPlatformTest,
    ::testing::Values(
        BadCase{R"({"pci": {"root_bridges": [{"bridges": [{"device": 32, "function": 0, "vendor_id": 1,
                 "secondary_bus": 1}]}]}})",
                "pci.root_bridges[0].bridges[0].device: out of range (at most 0x1F)"},
        BadCase{R"({"pci": {"root_bridges": [{"functions": [{"device": 0, "function": 8, "vendor_id": 1}]}]}})",
                "pci.root_bridges[0].functions[0].function: out of range (at most 0x7)"},
        BadCase{R"({"pci": {"root_bridges": [{"functions": [{"device": 0, "function": 0, "vendor_id": "0xFFFF"}]}]}})",
                "pci.root_bridges[0].functions[0].vendor_id: out of range"},
        BadCase{R"({"pci": {"root_bridges": [{"functions": [{"device": 0, "function": 0}]}]}})",
                "pci.root_bridges[0].functions[0].vendor_id: required"},
        BadCase{R"({"pci": {"root_bridges": [{"bridges": [{"device": 0, "function": 3, "vendor_id": 1,
                 "secondary_bus": 1}], "functions": [{"device": 0, "function": 3, "vendor_id": 1}]}]}})",
                "pci.root_bridges[0].functions[0]: device 0x0 function 0x3 of bus 0x0 is already taken"},
        BadCase{R"({"pci": {"root_bridges": [{"bus": 4, "bridges": [{"device": 0, "function": 0, "vendor_id": 1,
                 "secondary_bus": 4}]}]}})",
                "pci.root_bridges[0].bridges[0].secondary_bus: must lie above bus 0x4"},
        BadCase{R"({"pci": {"root_bridges": [{"bridges": [
                 {"device": 0, "function": 0, "vendor_id": 1, "secondary_bus": 1, "subordinate_bus": 3},
                 {"device": 1, "function": 0, "vendor_id": 1, "secondary_bus": 3}]}]}})",
                "pci.root_bridges[0].bridges[1]: buses 0x3-0x3 overlap those of pci.root_bridges[0].bridges[0]"},
        BadCase{R"({"pci": {"root_bridges": [{"bridges": [{"device": 0, "function": 0, "vendor_id": 1,
                 "secondary_bus": 2, "subordinate_bus": 3, "bridges": [{"device": 0, "function": 0,
                 "vendor_id": 1, "secondary_bus": 4}]}]}]}})",
                "pci.root_bridges[0].bridges[0].bridges[0].secondary_bus: must lie above bus 0x2 and at most at 0x3"},
        BadCase{R"({"pci": {"root_bridges": [{"uid": 0}, {"uid": 0, "bus": 1}]}})",
                "pci.root_bridges[1].uid: another root bridge has the same UID"},
        BadCase{R"({"pci": {"root_bridges": [{"uid": 0}, {"uid": 1}]}})",
                "pci.root_bridges[1]: buses 0x0-0x0 overlap those of pci.root_bridges[0]"},
        BadCase{R"({"pci": {"root_bridges": [{"bridges": [{"device": 0, "function": 0, "vendor_id": 1}]}]}})",
                "pci.root_bridges[0].bridges[0].secondary_bus: required"},
        BadCase{R"({"pci": {"root_bridges": [{"functions": [{"device": 0, "function": 0, "vendor_id": 1,
                 "secondary_bus": 1}]}]}})",
                "pci.root_bridges[0].functions[0].secondary_bus: unknown field"},
        BadCase{R"({"pci": {"buses": []}})", "pci.buses: unknown field"}));

// What a walk meets after the list: its bytes as built, then zeros up to
// the header where the chain of HobLengths ends.
struct ChainCase {
  const char *what;
  std::vector<uint8_t> list;
  size_t expectedSize;
};

class ChainTailTest : public ::testing::TestWithParam<ChainCase> {};

TEST_P(ChainTailTest, ZerosReachTheHeaderWhereTheChainEnds) {
  std::vector<uint8_t> list = GetParam().list;
  sim::AppendZerosTheChainReaches(list);
  ASSERT_EQ(list.size(), GetParam().expectedSize);
  EXPECT_TRUE(std::equal(GetParam().list.begin(), GetParam().list.end(), list.begin()));
  EXPECT_TRUE(std::all_of(list.begin() + static_cast<long>(GetParam().list.size()), list.end(),
                          [](uint8_t byte) { return byte == 0; }));
}

INSTANTIATE_TEST_SUITE_P(
    Lists, ChainTailTest,
    ::testing::Values(
        ChainCase{"closed by an end block", {3, 0, 8, 0, 0, 0, 0, 0, 0xFF, 0xFF, 8, 0, 0, 0, 0, 0}, 16},
        ChainCase{"a short length ends it inside", {3, 0, 4, 0, 0, 0, 0, 0, 0xAA}, 9},
        ChainCase{"no end block", {3, 0, 8, 0, 0, 0, 0, 0}, 16},
        ChainCase{"a length past the end", {3, 0, 0x20, 0, 0, 0, 0, 0, 0xFF, 0xFF, 8, 0, 0, 0, 0, 0}, 0x28},
        // The header cut by the end reads on into zeros: type 0x0003,
        // length 0x0010, so the chain goes 16 further.
        ChainCase{"a header cut by the end", {3, 0, 8, 0, 0, 0, 0, 0, 3, 0, 0x10}, 8 + 16 + 8},
        ChainCase{"empty", {}, 8}),
    [](const ::testing::TestParamInfo<ChainCase> &info) {
      std::string name = info.param.what;
      for (char &c : name) {
        c = std::isalnum(static_cast<unsigned char>(c)) ? c : '_';
      }
      return name;
    });

TEST(PlatformTest, MissingFileIsAPlatformError) {
  EXPECT_THROW(sim::LoadPlatformFile("/nonexistent/platform.json"), sim::PlatformError);
}

// Whole numbers beyond 2^53 (where a double would round), however written,
// keep every digit.
TEST(PlatformTest, NumbersAreReadExactly) {
  const sim::Platform platform = sim::ParsePlatformJson(R"({
    "variables": [{"name": "N", "value": 0.0, "size": 1}, {"name": "M", "value": 72057594037927937e0, "size": 8}],
    "faults": {"fail_allocations": [9007199254740995e0, 5e2]},
    "pcd_tokens": {"0x10": 4294967295.0, "9007199254740993": 0.5e1},
    "cpu": {"tsc_start": 9007199254740993.0, "tsc_step": 9007199254740993e0,
            "pstates": [18446744073709551615.0, 1.8446744073709551614e19]}
  })");
  EXPECT_EQ(platform.cpu.tscStart, 9007199254740993ULL);
  EXPECT_EQ(platform.cpu.tscStep, 9007199254740993ULL);
  EXPECT_EQ(platform.cpu.pstates, (std::vector<uint64_t>{UINT64_MAX, UINT64_MAX - 1}));
  EXPECT_EQ(platform.faults.failAllocations, (std::vector<uint64_t>{9007199254740995ULL, 500}));
  EXPECT_EQ(platform.pcdTokens.at(0x10), 0xFFFFFFFFu);
  EXPECT_EQ(platform.pcdTokens.at(9007199254740993ULL), 5u);
  ASSERT_EQ(platform.variables.size(), 2u);
  EXPECT_EQ(platform.variables[0].data, (std::vector<uint8_t>{0}));
  EXPECT_EQ(platform.variables[1].data, (std::vector<uint8_t>{1, 0, 0, 0, 0, 0, 0, 1}));
}

std::string WriteTemp(const std::string &name, const std::string &content) {
  const std::string path = testing::TempDir() + std::to_string(getpid()) + "." + name;
  std::ofstream(path, std::ios::binary) << content;
  return path;
}

std::string LoadError(const std::string &path) {
  try {
    sim::LoadPlatformFile(path);
  } catch (const sim::PlatformError &error) {
    return error.what();
  }
  return "(accepted)";
}

// Every error about a platform file names it as "platform file: PATH", as
// one that cannot be read does; a file that is not JSON shows none of its
// bytes.
TEST(PlatformTest, FileErrorsNameThePlatformFile) {
  const std::string shadow = WriteTemp("shadow", "root:$6$s3cr3t:19000:0:99999:7:::\ndaemon:*:19000:0:99999:7:::\n");
  const std::string error = LoadError(shadow);
  EXPECT_EQ(error, "platform file: " + shadow +
                       ": line 1, column 1: not valid JSON: no JSON value starts here (outside quotes only numbers, "
                       "true, false and null)");
  for (const char *leak : {"s3cr3t", "root", "json.exception", "last read", "'"}) {
    EXPECT_EQ(error.find(leak), std::string::npos) << leak;
  }
  const std::string field = WriteTemp("field.json", R"({"pcd_tokens": {"625": false, "0625": true}})");
  EXPECT_EQ(LoadError(field), "platform file: " + field + ": pcd_tokens.625: the same token as \"0625\" (0x271)");
  const std::string huge = WriteTemp("huge.json", R"({"cpu": {"tsc_start": -1e400}})");
  EXPECT_EQ(LoadError(huge), "platform file: " + huge + ": cpu.tsc_start: must not be negative");
  EXPECT_EQ(LoadError("/nonexistent/platform.json"),
            "platform file: /nonexistent/platform.json: No such file or directory");
  for (const std::string &path : {shadow, field, huge}) {
    std::remove(path.c_str());
  }
}

// The boot fuzzer's JSON seeds (huge numbers, negative zeros, keys in two
// spellings among them) are read or refused, and refused only as a
// platform error: that is all the fuzzer lets through before it boots.
TEST(PlatformTest, BootFuzzerJsonSeedsAreReadOrRefused) {
  const std::string seeds = std::string(BOARDINV_SOURCE_DIR) + "/tests/fuzz/corpus/boot";
  DIR *directory = opendir(seeds.c_str());
  ASSERT_NE(directory, nullptr) << seeds;
  size_t json = 0;
  size_t refused = 0;
  while (const dirent *entry = readdir(directory)) {
    if (entry->d_name[0] == '.') {
      continue;
    }
    std::ifstream file(seeds + "/" + entry->d_name, std::ios::binary);
    const std::string content((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
    if (content.empty() || content[0] != '{') {
      continue;
    }
    json++;
    try {
      sim::ParsePlatformJson(content);
    } catch (const sim::PlatformError &error) {
      refused++;
      EXPECT_EQ(std::string(error.what()).find('\n'), std::string::npos) << entry->d_name;
    } catch (const std::exception &error) {
      ADD_FAILURE() << entry->d_name << ": " << error.what();
    }
  }
  closedir(directory);
  EXPECT_GT(json, 0u);
  EXPECT_GT(refused, 0u);
}

}  // namespace
