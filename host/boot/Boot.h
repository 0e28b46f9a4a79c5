// One simulated boot: load the driver into a simulated firmware built from
// a platform description, run its entry point, signal End-of-DXE, and
// gather what the driver left behind.
#pragma once

#include <cstdint>
#include <nlohmann/json.hpp>
#include <optional>
#include <string>
#include <vector>

#include "host/sim/Platform.h"
#include "host/sim/SimFirmware.h"

namespace host {

struct BootResult {
  std::string platformName;
  EFI_STATUS entryStatus = EFI_SUCCESS;

  // The variant variable as stored and as the driver read it.
  bool variablePresent = false;
  size_t variableStoredSize = 0;
  bool variableRead = false;  // the driver called GetVariable for it
  EFI_STATUS variableStatus = EFI_SUCCESS;
  std::optional<uint32_t> nioWord;  // what the driver received

  std::optional<uint8_t> variantCode;
  std::string layout;  // empty when no layout was chosen
  bool smbiosLocateAttempted = false;
  bool smbiosLocated = false;
  bool installed = false;
  std::string outcome;  // what happened, or why nothing was installed

  std::vector<sim::SmbiosRecord> records;

  bool eventCreated = false;
  uint64_t eventNotifications = 0;
  bool eventClosed = false;

  sim::PoolStatistics pool;
  std::vector<sim::ServiceCall> calls;
};

BootResult RunBoot(const sim::Platform &platform);

// Runs the boot in a child process, so that it meets the driver as a freshly
// loaded image (module globals at their load-time values), and returns the
// child's JSON report. Throws std::runtime_error when the child dies.
nlohmann::json RunBootIsolated(const sim::Platform &platform);

}  // namespace host
