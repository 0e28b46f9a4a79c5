// A boot in a fresh child process, as its JSON report: for tests that read
// a whole boot's report (only tests read a report back).
#pragma once

#include <nlohmann/json.hpp>

#include "host/boot/Boot.h"
#include "host/boot/Report.h"

inline nlohmann::json IsolatedBootReport(const sim::Platform &platform) {
  return nlohmann::json::parse(
      host::RunIsolated([&platform] { return host::BootReportJson(host::RunBoot(platform)).dump(); }));
}
