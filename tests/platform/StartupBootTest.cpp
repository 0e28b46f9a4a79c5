// Whole boots through the start-up chain, each in a fresh process, read
// from the JSON report.
#include <gtest/gtest.h>

#include <functional>

#include "driver/firmware/Guids.h"
#include "host/boot/Boot.h"
#include "tests/support/IsolatedReport.h"
#include "host/boot/Report.h"

namespace {

using nlohmann::json;

json Boot(const std::function<void(sim::Platform &)> &adjust = {}) {
  sim::Platform platform = sim::DefaultPlatform();
  if (adjust) {
    adjust(platform);
  }
  return IsolatedBootReport(platform);
}

std::string Hex(const std::string &text) { return host::HexBytes(std::vector<uint8_t>(text.begin(), text.end())); }

std::vector<std::string> Strings(const json &array) {
  std::vector<std::string> out;
  for (const json &item : array) {
    out.push_back(item.get<std::string>());
  }
  return out;
}

std::vector<std::string> PortTrace(const json &report) {
  std::vector<std::string> out;
  for (const json &write : report["startup"]["port_trace"]) {
    out.push_back(write["port"].get<std::string>() + "/" + std::to_string(write["width"].get<int>()) + "/" +
                  write["value"].get<std::string>());
  }
  return out;
}

constexpr const char *kZeroSnapshot = "00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00";

TEST(StartupBootTest, DefaultPlatformFillsTheSnapshotInstallsTwoBuffersAndWritesNoPort) {
  const json report = Boot();
  const json &startup = report["startup"];
  EXPECT_EQ(startup["snapshot"]["bytes"],
            "01 03 80 00 01 00 01 37 02 02 02 74 02 00 00 00 40 02 00 00 3F 02 00 00 73 02");
  EXPECT_TRUE(startup["snapshot"]["fatal_stop_enabled"]);

  const json &list = startup["heap_buffer_list"];
  EXPECT_EQ(list["source"], "installed");
  EXPECT_EQ(list["install_status"], "Success");
  EXPECT_TRUE(list["links_consistent"]);
  ASSERT_EQ(list["nodes"].size(), 2u);
  EXPECT_EQ(list["nodes"][0], json({{"signature", "0x50414548"},
                                    {"reserved", "0x00000000"},
                                    {"size", 16},
                                    {"pool_kind", 4},
                                    {"transfer_flag", 1},
                                    {"reserved2", "0x0000"},
                                    {"memory_type", "boot_services_data"},
                                    {"node_bytes", 48},
                                    {"payload", Hex("boot heap buffer")}}));
  EXPECT_EQ(list["nodes"][1]["size"], 24);
  EXPECT_EQ(list["nodes"][1]["pool_kind"], 8);
  EXPECT_EQ(list["nodes"][1]["memory_type"], "runtime_services_data");
  EXPECT_EQ(list["nodes"][1]["payload"], Hex("runtime-services buffer!"));

  EXPECT_TRUE(startup["port_trace"].empty());
  EXPECT_TRUE(startup["port_events"].empty());
  EXPECT_EQ(startup["uart_output"]["bytes"], "");
  EXPECT_TRUE(startup["debug_messages"].empty());
  EXPECT_FALSE(startup["fatal_stop"]["parked"]);
  EXPECT_EQ(startup["index_register"]["before"], startup["index_register"]["after"]);
  // The chain went on to End-of-DXE as before.
  EXPECT_EQ(report["entry_status"], "Success");
  EXPECT_TRUE(report["installed"]);
  EXPECT_EQ(report["pool"]["outstanding_blocks"], 2) << "the two nodes, owned by the published list";
}

TEST(StartupBootTest, MissingPcdProtocolReportsOnceAndAFailedAllocationThenReturnsAnError) {
  const json report = Boot([](sim::Platform &p) {
    p.protocols.pcd = false;
    p.protocols.debugPrint = true;
    p.faults.failAllocations = {1};  // the node of the first heap buffer
  });
  const json &startup = report["startup"];
  ASSERT_EQ(startup["debug_messages"].size(), 1u);
  EXPECT_EQ(startup["debug_messages"][0]["text"],
            "[VexCfgPcdBufLibDxeConstructor] LocateProtocol: gPcdProtocolGuid, Status: Not Found\n");
  EXPECT_EQ(startup["debug_messages"][0]["error_level"], "0x80000000");
  EXPECT_EQ(startup["snapshot"]["bytes"], kZeroSnapshot);
  EXPECT_FALSE(startup["snapshot"]["fatal_stop_enabled"]);
  // The first buffer is skipped, the second transferred; nothing stops.
  ASSERT_EQ(startup["heap_buffer_list"]["nodes"].size(), 1u);
  EXPECT_EQ(startup["heap_buffer_list"]["nodes"][0]["payload"], Hex("runtime-services buffer!"));
  EXPECT_TRUE(startup["port_trace"].empty());
  EXPECT_FALSE(startup["fatal_stop"]["parked"]);
  EXPECT_EQ(report["entry_status"], "Success");
  EXPECT_TRUE(report["installed"]);
}

TEST(StartupBootTest, InstallFailureWithThePolicyOnParksInTheStopDisplayWithTimedHolds) {
  const json report = Boot([](sim::Platform &p) {
    p.faults.failInstalls = {{gHeapBufferListProtocolGuid, EFI_OUT_OF_RESOURCES}};
    p.cpu.pstates = {0x8000000000000878ULL};  // 120 x 200 / 8 MHz
    p.cpu.tscStep = 1000000;
    p.cpu.stopDisplayValues = 12;
  });
  const json &startup = report["startup"];
  const std::vector<std::string> cycle = {"0x80/32/0x250000DE", "0x80/32/0x0000DEAD", "0x80/32/0x00DEAD00",
                                          "0x80/32/0xDEAD0008", "0x80/32/0xAD000802", "0x80/32/0x00080225"};
  std::vector<std::string> expected = {"0xE0/16/0xDEAD", "0x80/32/0x00080225"};
  expected.insert(expected.end(), cycle.begin(), cycle.end());
  expected.insert(expected.end(), cycle.begin(), cycle.end());
  EXPECT_EQ(PortTrace(report), expected);

  // 2.5 s at 3 GHz is 7,500,000,000 ticks; with the counter moving 1,000,000
  // per read, each value is written 7,502,000,000 ticks after the one before.
  const json &display = startup["fatal_stop"]["display_tsc"];
  ASSERT_EQ(display.size(), 12u);
  for (size_t i = 1; i < display.size(); i++) {
    EXPECT_EQ(display[i].get<uint64_t>() - display[i - 1].get<uint64_t>(), 7502000000u) << i;
  }
  EXPECT_EQ(startup["tsc_ticks_per_second"], 3000000000u);
  EXPECT_TRUE(startup["fatal_stop"]["parked"]);
  EXPECT_EQ(startup["fatal_stop"]["code"], "0x00080225");
  EXPECT_EQ(Strings(startup["fatal_stop"]["display_values"]).size(), 12u);

  const json &events = startup["port_events"];
  ASSERT_EQ(events.size(), 3u);
  EXPECT_EQ(events[0], json({{"event", "stop_signature"}, {"port", "0xE0"}, {"value", "0xDEAD"}}));
  EXPECT_EQ(events[1], json({{"event", "stop_code"}, {"code", "0x00080225"}}));
  EXPECT_EQ(events[2]["event"], "stop_display");

  // DriverEntry never returned: no End-of-DXE notification, no records.
  EXPECT_TRUE(report["entry_status"].is_null());
  EXPECT_FALSE(report["end_of_dxe_event"]["created"]);
  EXPECT_TRUE(report["records"].empty());
  EXPECT_EQ(report["outcome"],
            "the driver is parked in the fatal stop display with stop code 0x00080225 (during start-up)");
  // The list was built before the install failed.
  EXPECT_EQ(startup["heap_buffer_list"]["nodes"].size(), 2u);
  EXPECT_EQ(startup["heap_buffer_list"]["install_status"], "Out of Resources");
}

struct PoolStopCase {
  uint64_t failing;
  const char *code;
  size_t nodesBefore;
};

class PoolStopBootTest : public ::testing::TestWithParam<PoolStopCase> {};

TEST_P(PoolStopBootTest, FailedNodeAllocationWithThePolicyOnParksWithItsCode) {
  const PoolStopCase c = GetParam();
  const json report = Boot([&c](sim::Platform &p) {
    p.faults.failAllocations = {c.failing};
    p.cpu.stopDisplayValues = 6;
  });
  const json &stop = report["startup"]["fatal_stop"];
  EXPECT_TRUE(stop["parked"]);
  EXPECT_EQ(stop["code"], c.code);
  EXPECT_EQ(PortTrace(report)[0], "0xE0/16/0xDEAD");
  EXPECT_EQ(PortTrace(report)[1], std::string("0x80/32/") + c.code);
  EXPECT_EQ(report["startup"]["heap_buffer_list"]["nodes"].size(), c.nodesBefore);
  EXPECT_TRUE(report["startup"]["heap_buffer_list"]["install_status"].is_null()) << "the install never came";
}

INSTANTIATE_TEST_SUITE_P(Pools, PoolStopBootTest,
                         ::testing::Values(PoolStopCase{1, "0x00080137", 0}, PoolStopCase{2, "0x00080134", 1}),
                         [](const ::testing::TestParamInfo<PoolStopCase> &info) {
                           return "Allocation" + std::to_string(info.param.failing);
                         });

TEST(StartupBootTest, AnInstalledListIsAdoptedAndNothingIsTransferred) {
  const json report = Boot([](sim::Platform &p) { p.protocols.heapBufferList = true; });
  const json &list = report["startup"]["heap_buffer_list"];
  EXPECT_EQ(list["source"], "adopted");
  EXPECT_TRUE(list["nodes"].empty());
  EXPECT_TRUE(list["install_status"].is_null());
  for (const json &call : report["service_calls"]) {
    EXPECT_NE(call["service"], "InstallProtocolInterface");
  }
  EXPECT_EQ(report["pool"]["outstanding_blocks"], 0);
}

// A list whose chain of HobLengths leaves it: the blocks on the chain are
// read, the walk ends at the zeros after the list, and nothing else.
TEST(StartupBootTest, AChainLeavingTheListEndsInTheZerosAfterIt) {
  for (const bool endBlock : {true, false}) {
    SCOPED_TRACE(endBlock ? "a raw header pointing past the end block" : "no end block");
    const json report = Boot([endBlock](sim::Platform &p) {
      sim::HandOffBlock heap;
      heap.name = gHeapHandOffGuid;
      heap.data = {'a', 'b', 'c'};
      sim::HandOffBlock raw;
      raw.kind = sim::HandOffBlock::Kind::Raw;
      raw.data = {0x00, 0x00, 0x08, 0x01};  // type 0, HobLength 0x108
      p.hobList.blocks = {heap};
      if (endBlock) {
        p.hobList.blocks.push_back(raw);
      }
      p.hobList.endBlock = endBlock;
    });
    const json &list = report["startup"]["heap_buffer_list"];
    ASSERT_EQ(list["nodes"].size(), 1u);
    EXPECT_EQ(list["nodes"][0]["payload"], "61 62 63");
    EXPECT_EQ(report["outcome"], "installed Layout A");
  }
}

TEST(StartupBootTest, PresentBackendsAreProbedButStartUpWritesNothingToThem) {
  for (const bool streamSelected : {false, true}) {
    const json report = Boot([streamSelected](sim::Platform &p) {
      p.uart.present = true;
      p.platformRegisters.index = 0x55AA;
      if (streamSelected) {
        p.platformRegisters.registers[0x03810A84] = 0x2;
      }
    });
    const json &startup = report["startup"];
    EXPECT_TRUE(startup["port_trace"].empty()) << streamSelected;
    EXPECT_EQ(startup["uart_output"]["bytes"], "") << streamSelected;
    EXPECT_EQ(startup["index_register"]["after"], "0x000055AA") << streamSelected;
    // Twice per backend: register A each time, register B only when A's low bits are clear.
    const std::vector<std::string> aAndB = {"0x03810A84", "0x03810A88", "0x03810A84", "0x03810A88",
                                            "0x03810A84", "0x03810A88", "0x03810A84", "0x03810A88"};
    const std::vector<std::string> aOnly(4, "0x03810A84");
    EXPECT_EQ(Strings(startup["platform_register_reads"]), streamSelected ? aOnly : aAndB);
  }
}

TEST(StartupBootTest, ADebugPrintServiceThatAppearsInTimeGetsTheMessage) {
  const json late = Boot([](sim::Platform &p) {
    p.protocols.pcd = false;
    p.protocols.debugPrintAfterLookups = 1;
  });
  EXPECT_EQ(late["startup"]["debug_messages"].size(), 1u);
  const json tooLate = Boot([](sim::Platform &p) {
    p.protocols.pcd = false;
    p.protocols.debugPrintAfterLookups = 2;
  });
  EXPECT_TRUE(tooLate["startup"]["debug_messages"].empty());
}

}  // namespace
