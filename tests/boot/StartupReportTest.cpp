// The start-up part of the boot report: its reading of a port trace and of
// a driver parked in the stop display. The results are made here by hand;
// no driver code runs, so this program runs in-process.
#include <gtest/gtest.h>

#include <nlohmann/json.hpp>
#include <string>

#include "host/boot/Boot.h"
#include "host/boot/Report.h"

namespace {

using nlohmann::json;

TEST(StartupReportTest, PortTraceIsReadAsFramesStopSignalsAndPlainWrites) {
  host::BootResult result;
  result.startup.snapshot.assign(26, 0);
  result.startup.portTrace = {{0x80, 32, 0x5F535452}, {0x80, 8, 'h'},         {0x80, 8, 'i'},
                              {0x80, 32, 0x5F454E44}, {0x80, 32, 0x5F535452}, {0x80, 8, 0x1B}, {0x80, 8, 0x0A},
                              {0xE0, 16, 0xDEAD},     {0x80, 32, 0x00010320}, {0x81, 8, 0x12}};
  const json events = host::BootReportJson(result)["startup"]["port_events"];
  EXPECT_EQ(events, json::parse(R"([
    {"event": "stream_frame", "bytes": "68 69", "text": "hi", "complete": true},
    {"event": "stream_frame", "bytes": "1B 0A", "text": "\\x1B\\n", "complete": false},
    {"event": "stop_signature", "port": "0xE0", "value": "0xDEAD"},
    {"event": "stop_code", "code": "0x00010320"},
    {"event": "write", "port": "0x81", "width": 8, "value": "0x12"}
  ])"));
  const std::string text = host::BootReportText(result);
  EXPECT_NE(text.find("  Port 0x80: stream frame \"hi\"\n"), std::string::npos) << text;
  EXPECT_NE(text.find("  Port 0x80: stream frame \"\\x1B\\n\" (no end marker)\n"), std::string::npos) << text;
  EXPECT_NE(text.find("  Port 0x80: stop code 0x00010320\n"), std::string::npos) << text;
}

TEST(StartupReportTest, AParkedDriverShowsTheDisplayAndNoEntryStatus) {
  host::BootResult result;
  result.entryReturned = false;
  result.startup.snapshot.assign(26, 0);
  result.startup.portTrace = {
      {0xE0, 16, 0xDEAD}, {0x80, 32, 0x00080137}, {0x80, 32, 0x370000DE}, {0x80, 32, 0x0000DEAD}};
  result.startup.stopDisplayFirstWrite = 2;
  result.startup.parked = true;
  result.startup.stopCode = 0x00080137;
  const json report = host::BootReportJson(result);
  EXPECT_TRUE(report["entry_status"].is_null());
  EXPECT_EQ(report["startup"]["port_events"].back(),
            json({{"event", "stop_display"}, {"values", {"0x370000DE", "0x0000DEAD"}}}));
  const std::string text = host::BootReportText(result);
  EXPECT_NE(text.find("DriverEntry: did not return\n"), std::string::npos) << text;
  EXPECT_NE(text.find("  Fatal stop: parked in the stop display with code 0x00080137\n"), std::string::npos) << text;
}

}  // namespace
