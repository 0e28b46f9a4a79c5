#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <string>
#include <vector>

#include "firmware/Guids.h"
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

}  // namespace
