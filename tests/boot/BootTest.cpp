// Whole boots of the driver in the simulated firmware, each in a fresh
// process so that it meets the driver as a freshly loaded image.
#include <gtest/gtest.h>

#include <cstring>
#include <optional>
#include <string>
#include <vector>

#include "host/boot/Boot.h"
#include "tests/support/IsolatedReport.h"
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

struct SlotRow {
  const char *designation;
  uint8_t slotType, width, usage;
  uint16_t id;
  uint8_t bus, devFn;
};

// The slots as the default platform's PCI topology leaves them: a device
// behind NVME1's root port (0:0.3), none behind NVME2's, and the texts of
// NVME0 and WI-FI naming functions no PCI location can have.
const std::vector<SlotRow> kDefaultSlots = {
    {"NVME1", 0x17, 0x0A, 0x04, 1, 0x00, 0x03},
    {"NVME2", 0x17, 0x0A, 0x03, 2, 0x00, 0x12},
    {"NVME0", 0x17, 0x0A, 0x03, 0, 0x01, 0x13},
    {"WI-FI", 0x15, 0x08, 0x03, 3, 0x01, 0x13},
};
const std::vector<SlotRow> kLayoutCSlots = {kDefaultSlots[2]};

std::string ExpectedSlotRaw(const SlotRow &slot, uint16_t handle) {
  std::vector<uint8_t> bytes = {9,    0x11, static_cast<uint8_t>(handle), static_cast<uint8_t>(handle >> 8),
                                1,    slot.slotType, slot.width, slot.usage, 0x03,
                                static_cast<uint8_t>(slot.id), static_cast<uint8_t>(slot.id >> 8),
                                0x04, 0x03, 0x00, 0x00, slot.bus, slot.devFn};
  bytes.insert(bytes.end(), slot.designation, slot.designation + std::strlen(slot.designation) + 1);
  bytes.push_back(0);
  return host::HexBytes(bytes);
}

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
  return IsolatedBootReport(platform);
}

// Every pool block left is a node of the heap buffer list that start-up
// published (two on the default platform); nothing else stays behind.
void ExpectNothingLeaked(const json &report) {
  EXPECT_EQ(report["pool"]["outstanding_blocks"], report["startup"]["heap_buffer_list"]["nodes"].size());
  EXPECT_EQ(report["pool"]["invalid_frees"], 0);
}

// All Type 8 records, in table order, then all Type 9 records.
void ExpectLayoutRecords(const json &report, const std::vector<Row> &rows,
                         const std::vector<SlotRow> &slots = {}) {
  ASSERT_EQ(report["records"].size(), rows.size() + slots.size());
  for (size_t i = 0; i < report["records"].size(); i++) {
    const json &record = report["records"][i];
    const uint16_t handle = record["handle"].get<uint16_t>();
    EXPECT_NE(handle, 0xFFFE);
    if (i < rows.size()) {
      EXPECT_EQ(record["type"], 8);
      EXPECT_EQ(record["raw"], ExpectedRaw(rows[i], handle)) << "row " << i + 1;
    } else {
      EXPECT_EQ(record["type"], 9);
      EXPECT_EQ(record["raw"], ExpectedSlotRaw(slots[i - rows.size()], handle)) << "slot " << i - rows.size() + 1;
    }
  }
}

struct LayoutCase {
  uint32_t word;
  const char *layout;
  const std::vector<Row> *rows;
  const char *code;
  const std::vector<SlotRow> *slots;
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
  ExpectLayoutRecords(report, *c.rows, *c.slots);
  ExpectNothingLeaked(report);
}

INSTANTIATE_TEST_SUITE_P(Variants, InstalledLayoutTest,
                         ::testing::Values(LayoutCase{0x200, "Layout A", &kLayoutA, "0x21", &kDefaultSlots},
                                           LayoutCase{0x201, "Layout C", &kLayoutC, "0x31", &kLayoutCSlots},
                                           LayoutCase{0x202, "Layout B", &kLayoutB, "0x22", &kDefaultSlots},
                                           LayoutCase{0x203, "Layout B", &kLayoutB, "0x32", &kDefaultSlots},
                                           LayoutCase{0xFFFF0203, "Layout B", &kLayoutB, "0x32", &kDefaultSlots}));

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

// A failing CreateEventEx: DriverEntry returns its status and no
// notification ever runs, so nothing is added to the SMBIOS table; start-up
// has run all the same (its heap buffer list is published). A warning
// creates the event, and the boot goes on to install.
struct CreateEventCase {
  const char *name;
  EFI_STATUS status;
  const char *entryStatus;
  bool created;
  const char *outcome;
};

class CreateEventFailureTest : public ::testing::TestWithParam<CreateEventCase> {};

TEST_P(CreateEventFailureTest, DriverEntryReturnsTheStatusAndNothingIsInstalled) {
  const CreateEventCase &c = GetParam();
  const json report = Boot(0x200, [&c](sim::Platform &p) { p.faults.failCreateEvent = c.status; });
  EXPECT_EQ(report["entry_status"], c.entryStatus);
  EXPECT_EQ(report["outcome"], c.outcome);
  EXPECT_EQ(report["end_of_dxe_event"]["created"], c.created);
  EXPECT_EQ(report["end_of_dxe_event"]["notifications"], c.created ? 1 : 0);
  EXPECT_EQ(report["installed"], c.created);
  EXPECT_EQ(report["variable"]["read"], c.created);
  EXPECT_EQ(report["smbios_located"], c.created);
  if (c.created) {
    ExpectLayoutRecords(report, kLayoutA, kDefaultSlots);
  } else {
    EXPECT_TRUE(report["records"].empty());
    EXPECT_TRUE(report["slots"].empty());
  }
  EXPECT_EQ(report["startup"]["heap_buffer_list"]["source"], "installed");
  ExpectNothingLeaked(report);
  EXPECT_TRUE(report["pool"]["damaged_blocks"].empty());
}

INSTANTIATE_TEST_SUITE_P(
    Statuses, CreateEventFailureTest,
    ::testing::Values(CreateEventCase{"out_of_resources", EFI_OUT_OF_RESOURCES, "Out of Resources", false,
                                      "DriverEntry returned Out of Resources: no End-of-DXE notification"},
                      CreateEventCase{"invalid_parameter", EFI_INVALID_PARAMETER, "Invalid Parameter", false,
                                      "DriverEntry returned Invalid Parameter: no End-of-DXE notification"},
                      CreateEventCase{"unknown_error", EFIERR(0x7F), "Error 0x800000000000007F", false,
                                      "DriverEntry returned Error 0x800000000000007F: no End-of-DXE notification"},
                      CreateEventCase{"a_warning", 1, "Warning Unknown Glyph", true, "installed Layout A"}),
    [](const ::testing::TestParamInfo<CreateEventCase> &info) { return std::string(info.param.name); });

TEST(BootTest, ShortVariableFillsOnlyItsOwnBytesOfTheWord) {
  const json report = Boot(0, [](sim::Platform &p) { p.variables[0].data = {0x00, 0x02}; });
  EXPECT_EQ(report["variable"]["word"], "0x00000200");
  EXPECT_EQ(report["layout"], "Layout A");
  ExpectLayoutRecords(report, kLayoutA, kDefaultSlots);
}

TEST(BootTest, FailedAllocationInTheConnectorLoopSkipsThatRowOnly) {
  // Allocations 1 and 2 are start-up's two heap buffer nodes; 7 is the fifth row's.
  const json report = Boot(0x200, [](sim::Platform &p) { p.faults.failAllocations = {7}; });
  std::vector<Row> expected = kLayoutA;
  expected.erase(expected.begin() + 4);
  ExpectLayoutRecords(report, expected, kDefaultSlots);
  EXPECT_TRUE(report["end_of_dxe_event"]["closed"]);
  EXPECT_EQ(report["pool"]["failed_allocations"], 1);
  ExpectNothingLeaked(report);
}

TEST(BootTest, EveryAllocationFailingStillEndsTheBootCleanly) {
  // Without a PCD protocol the stop policy is off, so the failing heap
  // buffer allocations of start-up return errors instead of stopping.
  const json report = Boot(0x200, [](sim::Platform &p) {
    p.faults.failAllocationsFrom = 1;
    p.protocols.pcd = false;
  });
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

TEST(BootTest, ADeviceBehindTheSecondPortTurnsItsSlotInUse) {
  const json report = Boot(0x200, [](sim::Platform &p) {
    p.pci.rootBridges[0].bridges[1].functions.push_back({0, 0, 0xC0DE, 0x0B00, 0x028000, false, false});
  });
  std::vector<SlotRow> slots = kDefaultSlots;
  slots[1] = {"NVME2", 0x17, 0x0A, 0x04, 2, 0x00, 0x1F};
  ExpectLayoutRecords(report, kLayoutA, slots);
}

TEST(BootTest, ReportFollowsEachSlotsProbe) {
  const json report = Boot(0x200);
  const json &slots = report["slots"];
  ASSERT_EQ(slots.size(), 4u);
  EXPECT_EQ(slots[0]["root_port"], "PciRoot(0x0)/Pci(0x0,0x3)");
  EXPECT_EQ(slots[0]["probe"], "device 0xC0DE:0x0A54 on secondary bus 0x01");
  EXPECT_EQ(slots[0]["current_usage"]["value"], "0x04");
  EXPECT_EQ(slots[0]["location"], json({{"segment", "0x0000"}, {"bus", "0x00"}, {"device_function", "0x03"}}));
  EXPECT_EQ(slots[1]["root_port"], "PciRoot(0x0)/Pci(0x3,0x7)");
  EXPECT_EQ(slots[1]["probe"], "no device on secondary bus 0x02");
  for (int i : {2, 3}) {
    EXPECT_TRUE(slots[i]["root_port"].is_null());
    EXPECT_EQ(slots[i]["probe"], "PciRoot(0x0) carries no PCI I/O (OpenProtocol: Unsupported)");
    EXPECT_EQ(slots[i]["location"]["device_function"], "0x13");
  }
}

TEST(BootTest, WithoutPciEverySlotKeepsItsStoredRow) {
  const json report = Boot(0x200, [](sim::Platform &p) { p.pci.rootBridges.clear(); });
  std::vector<SlotRow> slots = kDefaultSlots;
  slots[0] = {"NVME1", 0x17, 0x0A, 0x03, 1, 0x00, 0x09};
  ExpectLayoutRecords(report, kLayoutA, slots);
}

// Fail each allocation of a default boot in turn: the boot still ends (at
// start-up the stop policy parks it), nothing leaks, the records that are
// added keep their order, at most the one record whose work needed that
// allocation is missing or keeps its stored values (or, without the slots'
// path array, no slot record), and the report names what was skipped.
TEST(BootTest, EachAllocationFailingAloneLeavesAConsistentInventory) {
  const json clean = Boot(0x200);
  const uint64_t allocations = clean["pool"]["allocations"].get<uint64_t>();
  const uint64_t startupAllocations = clean["startup"]["heap_buffer_list"]["nodes"].size();
  ASSERT_GT(allocations, 19u + 4u);
  EXPECT_TRUE(clean["skipped"].empty());
  for (uint64_t k = 1; k <= allocations; k++) {
    SCOPED_TRACE("allocation " + std::to_string(k));
    const json report = Boot(0x200, [k](sim::Platform &p) { p.faults.failAllocations = {k}; });
    ASSERT_EQ(report["skipped"].size(), 1u);
    const std::string what = report["skipped"][0]["what"].get<std::string>();
    EXPECT_EQ(report["skipped"][0]["because"].get<std::string>().rfind("allocation " + std::to_string(k) + " (", 0),
              0u);
    EXPECT_EQ(report["pool"]["invalid_frees"], 0);
    if (k <= startupAllocations) {
      EXPECT_TRUE(report["startup"]["fatal_stop"]["parked"]);
      EXPECT_EQ(what, "the rest of the boot: the stop policy parked the driver in the fatal stop display");
      continue;
    }
    ExpectNothingLeaked(report);
    EXPECT_TRUE(report["end_of_dxe_event"]["closed"]);
    const json &records = report["records"];
    const uint64_t connectorRow = k - startupAllocations;  // one staging buffer per row
    if (connectorRow <= 19) {
      EXPECT_EQ(records.size(), 19u + 4u - 1u);
      EXPECT_EQ(what.rfind("Type 8 record of connector row " + std::to_string(connectorRow) + " (", 0), 0u) << what;
    } else if (k == startupAllocations + 19 + 1) {
      EXPECT_EQ(records.size(), 19u) << "without the slots' path array no slot record is added";
      EXPECT_EQ(what, "every Type 9 record: the slots' path array could not be allocated");
    } else if (records.size() == 19u + 4u - 1u) {
      EXPECT_EQ(what.rfind("Type 9 record of slot ", 0), 0u) << what;
    } else {
      EXPECT_EQ(records.size(), 19u + 4u);
      EXPECT_EQ(what.rfind("the PCI probe of slot ", 0), 0u) << what;
    }
    bool seenSlot = false;
    size_t inUse = 0;
    for (const json &record : records) {
      seenSlot = seenSlot || record["type"] == 9;
      EXPECT_EQ(record["type"], seenSlot ? 9 : 8) << "a connector record after a slot record";
      inUse += record["type"] == 9 && record["fields"]["current_usage"]["value"] == "0x04";
    }
    EXPECT_LE(inUse, 1u);
  }
}


// A stop display of any length the platform accepts (up to a million
// values) ends, and its trace stays bounded and exact: the first 16 and the
// last 16 values, each with the counter at its write, and how many came
// between them. A hold is 2.5 s at 3 GHz, 7,500,000,000 ticks. Between
// values kept, the counter moves by the platform's step at each read; a
// hold next to a value left out takes two reads but leaves the counter
// where those steps would have, so every value comes one hold after the
// one before it.
struct LongDisplayCase {
  uint64_t count;
  uint64_t step;  // cpu.tsc_step; 0: the built-in platform's (1,000,000)
  uint64_t hold;  // ticks from one value to the next
};

class LongStopDisplayTest : public ::testing::TestWithParam<LongDisplayCase> {};

// With a step of the whole hold: three reads at that step (the start stamp,
// one at the target, one past it).
constexpr uint64_t kWholeHoldStep = 7500000000;
constexpr uint64_t kWholeHold = 3 * kWholeHoldStep;
// With the built-in platform's step of 1,000,000: the start stamp and 7501
// reads, the last past the target.
constexpr uint64_t kBuiltInHold = 7502000000;

TEST_P(LongStopDisplayTest, KeepsTheFirstAndLastSixteenValuesAndCountsTheRest) {
  const LongDisplayCase c = GetParam();
  const uint64_t count = c.count;
  const std::string step = c.step == 0 ? "" : R"("tsc_step": )" + std::to_string(c.step) + ", ";
  const json report = IsolatedBootReport(sim::ParsePlatformJson(
      R"({"name": "long display", "cpu": {)" + step + R"("stop_display_values": )" + std::to_string(count) +
      R"(}, "faults": {"fail_installs": ["AF62673D-DEDA-43AE-8F03-9C2D89FD78DA"]}})"));
  const json &startup = report["startup"];
  const json &stop = startup["fatal_stop"];
  ASSERT_TRUE(stop["parked"].get<bool>());
  EXPECT_EQ(stop["code"], "0x00080225");

  // Which values are kept: all of a short display, else the first 16 and
  // the last 16.
  std::vector<uint64_t> kept;
  for (uint64_t k = 0; k < count; k++) {
    if (count <= 32 || k < 16 || k >= count - 16) {
      kept.push_back(k);
    }
  }
  const std::vector<std::string> cycle = {"0x250000DE", "0x0000DEAD", "0x00DEAD00",
                                          "0xDEAD0008", "0xAD000802", "0x00080225"};
  json values = json::array();
  json tsc = json::array();
  const uint64_t first = startup["port_trace"][1]["tsc"].get<uint64_t>();  // the stop code's write
  for (uint64_t k : kept) {
    values.push_back(cycle[k % 6]);
    tsc.push_back(first + k * c.hold);
  }
  EXPECT_EQ(stop["display_values"], values);
  EXPECT_EQ(stop["display_tsc"], tsc);

  const json &trace = startup["port_trace"];
  ASSERT_EQ(trace.size(), 2 + kept.size());
  for (size_t i = 0; i < kept.size(); i++) {
    EXPECT_EQ(trace[2 + i]["value"], values[i]);
    EXPECT_EQ(trace[2 + i]["tsc"], tsc[i]);
  }
  json display;
  for (const json &event : startup["port_events"]) {
    if (event["event"] == "stop_display") {
      display = event;
    }
  }
  EXPECT_EQ(display["values"], values);

  const uint64_t leftOut = count - kept.size();
  if (leftOut == 0) {
    // A display the trace holds whole is reported as it always was.
    EXPECT_FALSE(stop.contains("display_values_left_out"));
    EXPECT_FALSE(stop.contains("display_value_count"));
    EXPECT_FALSE(display.contains("values_left_out"));
    EXPECT_FALSE(startup.contains("port_trace_left_out"));
  } else {
    EXPECT_EQ(stop["display_values_left_out"], leftOut);
    EXPECT_EQ(stop["display_value_count"], count);
    EXPECT_EQ(display["values_left_out"], leftOut);
    EXPECT_EQ(display["value_count"], count);
    EXPECT_EQ(startup["port_trace_left_out"], json({{"writes", leftOut}, {"after", 18}}));
  }
}

INSTANTIATE_TEST_SUITE_P(
    Counts, LongStopDisplayTest,
    ::testing::Values(LongDisplayCase{1, kWholeHoldStep, kWholeHold},
                      LongDisplayCase{12, kWholeHoldStep, kWholeHold},
                      LongDisplayCase{32, kWholeHoldStep, kWholeHold},
                      LongDisplayCase{33, kWholeHoldStep, kWholeHold},
                      LongDisplayCase{34, kWholeHoldStep, kWholeHold},
                      LongDisplayCase{1000, kWholeHoldStep, kWholeHold},
                      LongDisplayCase{32, 0, kBuiltInHold},
                      LongDisplayCase{33, 0, kBuiltInHold},
                      LongDisplayCase{1000000, 0, kBuiltInHold}),
    [](const ::testing::TestParamInfo<LongDisplayCase> &info) {
      return std::to_string(info.param.count) + (info.param.step == 0 ? "AtTheBuiltInStep" : "AtAWholeHoldStep");
    });

}  // namespace
