// Whole boots of the driver in the simulated firmware, each in a fresh
// process so that it meets the driver as a freshly loaded image.
#include <gtest/gtest.h>

#include <cstring>
#include <optional>
#include <string>
#include <vector>

#include "host/boot/Boot.h"
#include "host/boot/Report.h"

namespace {

using nlohmann::json;

struct Row {
  const char *internal;
  uint8_t internalType;
  const char *external;
  uint8_t externalType;
  uint8_t portType;
};

// The connector rows of each layout, as the board's documentation gives them.
const std::vector<Row> kLayoutA = {
    {"J28", 0x0B, "2.5 GbE 1", 0x0B, 0x1F},  {"J28", 0x0B, "2.5 GbE 2", 0x0B, 0x1F},
    {"CON2", 0x12, "5GB/s USB", 0x12, 0x10}, {"CON3", 0x12, "5GB/s USB", 0x12, 0x10},
    {"CON4", 0x12, "5GB/s USB", 0x12, 0x10}, {"CON1", 0x12, "10GB/s USB", 0x12, 0x10},
    {"J13", 0x12, "Console", 0x12, 0x08},    {"J127", 0x00, "DisplayPort", 0xFF, 0x1C},
    {"J24", 0x00, "mini-DP 1", 0xFF, 0x1C},  {"J25", 0x00, "mini-DP 2", 0xFF, 0x1C},
    {"J23", 0x00, "HDMI", 0xFF, 0x1C},       {"J91", 0x00, "NVME 0", 0xFF, 0x1C},
    {"CON3", 0x00, "NVME 1", 0xFF, 0x1C},    {"CON2", 0x00, "NVME 2", 0xFF, 0x1C},
    {"CJ21", 0x00, "LTE", 0xFF, 0x10},       {"CON5", 0x00, "WI-FI", 0xFF, 0x1C},
    {"J40", 0x00, "SIM 1", 0xFF, 0xFF},      {"J41", 0x00, "SIM 2", 0xFF, 0xFF},
    {"J123", 0x00, "Remote Power Button", 0xFF, 0xFF},
};
const std::vector<Row> kLayoutB = {
    {"CON9", 0x0B, "2.5 GbE 1", 0x0B, 0x1F}, {"CON9", 0x0B, "2.5 GbE 2", 0x0B, 0x1F},
    {"CON9", 0x0B, "2.5 GbE 3", 0x0B, 0x1F}, {"CON9", 0x0B, "2.5 GbE 4", 0x0B, 0x1F},
    {"CON1", 0x12, "5GB/s USB", 0x12, 0x10}, {"CON2", 0x12, "5GB/s USB", 0x12, 0x10},
    {"CON3", 0x12, "5GB/s USB", 0x12, 0x10}, {"CON4", 0x12, "10GB/s USB", 0x12, 0x10},
    {"J13", 0x12, "Console", 0x12, 0x08},    {"J106", 0x23, "USB-C", 0x23, 0x1C},
    {"J23", 0xFF, "HDMI", 0xFF, 0x1C},       {"J91", 0xFF, "NVME 0", 0xFF, 0x1C},
    {"CON3", 0xFF, "NVME 1", 0xFF, 0x1C},    {"CON2", 0xFF, "NVME 2", 0xFF, 0x1C},
    {"CJ21", 0xFF, "LTE", 0xFF, 0x10},       {"CON5", 0xFF, "WI-FI", 0xFF, 0x1C},
    {"J40", 0xFF, "SIM 1", 0xFF, 0xFF},      {"J41", 0xFF, "SIM 2", 0xFF, 0xFF},
    {"J123", 0xFF, "Remote Power Button", 0xFF, 0xFF},
};
const std::vector<Row> kLayoutC = {
    {"CON9", 0x0B, "2.5 GbE 1", 0x0B, 0x1F}, {"CON9", 0x0B, "2.5 GbE 2", 0x0B, 0x1F},
    {"CON4", 0x12, "5GB/s USB", 0x12, 0x10}, {"CON5", 0x12, "10GB/s USB", 0x12, 0x10},
    {"J13", 0x12, "Console", 0x12, 0x08},    {"J3", 0x00, "mini-DP 1", 0xFF, 0x1C},
    {"J10", 0x00, "mini-DP 2", 0xFF, 0x1C},  {"J91", 0x00, "NVME 0", 0xFF, 0x1C},
};

// The record as the SMBIOS table stores it: formatted area with the
// assigned handle, then both designators and the set's final zero.
std::string ExpectedRaw(const Row &row, uint16_t handle) {
  std::vector<uint8_t> bytes = {8,
                                9,
                                static_cast<uint8_t>(handle),
                                static_cast<uint8_t>(handle >> 8),
                                1,
                                row.internalType,
                                2,
                                row.externalType,
                                row.portType};
  bytes.insert(bytes.end(), row.internal, row.internal + std::strlen(row.internal) + 1);
  bytes.insert(bytes.end(), row.external, row.external + std::strlen(row.external) + 1);
  bytes.push_back(0);
  return host::HexBytes(bytes);
}

json Boot(std::optional<uint32_t> word, const std::function<void(sim::Platform &)> &adjust = {}) {
  sim::Platform platform = sim::DefaultPlatform();
  if (word) {
    sim::SetNioTypeWord(platform, *word);
  } else {
    sim::RemoveNioTypeVariable(platform);
  }
  if (adjust) {
    adjust(platform);
  }
  return host::RunBootIsolated(platform);
}

void ExpectNothingLeaked(const json &report) {
  EXPECT_EQ(report["pool"]["outstanding_blocks"], 0);
  EXPECT_EQ(report["pool"]["invalid_frees"], 0);
}

void ExpectLayoutRecords(const json &report, const std::vector<Row> &rows) {
  ASSERT_EQ(report["records"].size(), rows.size());
  for (size_t i = 0; i < rows.size(); i++) {
    const json &record = report["records"][i];
    const uint16_t handle = record["handle"].get<uint16_t>();
    EXPECT_NE(handle, 0xFFFE);
    EXPECT_EQ(record["type"], 8);
    EXPECT_EQ(record["raw"], ExpectedRaw(rows[i], handle)) << "row " << i + 1;
  }
}

struct LayoutCase {
  uint32_t word;
  const char *layout;
  const std::vector<Row> *rows;
  const char *code;
};

class InstalledLayoutTest : public ::testing::TestWithParam<LayoutCase> {};

TEST_P(InstalledLayoutTest, AddsEveryConnectorRowInTableOrderAndClosesTheEvent) {
  const LayoutCase c = GetParam();
  const json report = Boot(c.word);
  EXPECT_EQ(report["entry_status"], "Success");
  EXPECT_EQ(report["variant_code"], c.code);
  EXPECT_EQ(report["layout"], c.layout);
  EXPECT_TRUE(report["installed"]);
  EXPECT_EQ(report["end_of_dxe_event"]["notifications"], 1);
  EXPECT_TRUE(report["end_of_dxe_event"]["closed"]);
  ExpectLayoutRecords(report, *c.rows);
  ExpectNothingLeaked(report);
}

INSTANTIATE_TEST_SUITE_P(Variants, InstalledLayoutTest,
                         ::testing::Values(LayoutCase{0x200, "Layout A", &kLayoutA, "0x21"},
                                           LayoutCase{0x201, "Layout C", &kLayoutC, "0x31"},
                                           LayoutCase{0x202, "Layout B", &kLayoutB, "0x22"},
                                           LayoutCase{0x203, "Layout B", &kLayoutB, "0x32"},
                                           LayoutCase{0xFFFF0203, "Layout B", &kLayoutB, "0x32"}));

struct NothingCase {
  const char *what;
  std::function<void(sim::Platform &)> adjust;
  bool smbiosLocated;
  const char *outcome;
};

class NothingInstalledTest : public ::testing::TestWithParam<NothingCase> {};

TEST_P(NothingInstalledTest, LeavesTheEventOpenAndSaysWhy) {
  const NothingCase &c = GetParam();
  const json report = Boot(0x200, c.adjust);
  EXPECT_FALSE(report["installed"]);
  EXPECT_TRUE(report["records"].empty());
  EXPECT_EQ(report["end_of_dxe_event"]["notifications"], 1);
  EXPECT_FALSE(report["end_of_dxe_event"]["closed"]);
  EXPECT_EQ(report["smbios_located"], c.smbiosLocated);
  EXPECT_EQ(report["outcome"], c.outcome);
  ExpectNothingLeaked(report);
}

void Word(sim::Platform &platform, uint32_t word) { sim::SetNioTypeWord(platform, word); }

INSTANTIATE_TEST_SUITE_P(
    Reasons, NothingInstalledTest,
    ::testing::Values(
        NothingCase{"kind 1", [](sim::Platform &p) { Word(p, 0x100); }, true, "variant 0x01 has no board layout"},
        NothingCase{"kind 1, flag", [](sim::Platform &p) { Word(p, 0x101); }, true,
                    "variant 0x11 has no board layout"},
        NothingCase{"kind 3", [](sim::Platform &p) { Word(p, 0x300); }, false,
                    "NIO kind 0x03 is not a kind the driver acts on"},
        NothingCase{"zero", [](sim::Platform &p) { Word(p, 0); }, false, "NioTypeProtected is 0: nothing to install"},
        NothingCase{"missing", [](sim::Platform &p) { sim::RemoveNioTypeVariable(p); }, false,
                    "variable NioTypeProtected is missing (GetVariable: Not Found)"},
        NothingCase{"8 bytes",
                    [](sim::Platform &p) { p.variables[0].data = {0x00, 0x02, 0, 0, 0, 0, 0, 0}; }, false,
                    "variable NioTypeProtected holds 8 bytes, not 4 (GetVariable: Buffer Too Small)"},
        NothingCase{"no SMBIOS", [](sim::Platform &p) { p.protocols.smbios = false; }, false,
                    "SMBIOS protocol not found"}));

TEST(BootTest, ShortVariableFillsOnlyItsOwnBytesOfTheWord) {
  const json report = Boot(0, [](sim::Platform &p) { p.variables[0].data = {0x00, 0x02}; });
  EXPECT_EQ(report["variable"]["word"], "0x00000200");
  EXPECT_EQ(report["layout"], "Layout A");
  EXPECT_EQ(report["records"].size(), 19u);
}

TEST(BootTest, FailedAllocationInTheConnectorLoopSkipsThatRowOnly) {
  const json report = Boot(0x200, [](sim::Platform &p) { p.faults.failAllocations = {5}; });
  std::vector<Row> expected = kLayoutA;
  expected.erase(expected.begin() + 4);
  ExpectLayoutRecords(report, expected);
  EXPECT_TRUE(report["end_of_dxe_event"]["closed"]);
  EXPECT_EQ(report["pool"]["failed_allocations"], 1);
  ExpectNothingLeaked(report);
}

TEST(BootTest, EveryAllocationFailingStillEndsTheBootCleanly) {
  const json report = Boot(0x200, [](sim::Platform &p) { p.faults.failAllocationsFrom = 1; });
  EXPECT_TRUE(report["records"].empty());
  EXPECT_TRUE(report["end_of_dxe_event"]["closed"]);
  ExpectNothingLeaked(report);
}

TEST(BootTest, TheVariableIsReadBeforeSmbiosIsLocated) {
  const json report = Boot(0x200);
  std::vector<std::string> order;
  for (const json &call : report["service_calls"]) {
    order.push_back(call["service"].get<std::string>() + " " + call["detail"].get<std::string>());
  }
  auto position = [&](const std::string &what) { return std::find(order.begin(), order.end(), what) - order.begin(); };
  EXPECT_LT(position("CreateEventEx End-of-DXE event group"), position("GetVariable NioTypeProtected"));
  EXPECT_LT(position("GetVariable NioTypeProtected"), position("LocateProtocol SMBIOS protocol"));
  EXPECT_LT(position("LocateProtocol SMBIOS protocol"), position("SMBIOS Add Type 8"));
  EXPECT_EQ(order.back(), "CloseEvent ");
}

}  // namespace
