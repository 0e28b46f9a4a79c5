// boardinv sweep: boots the platform once as described, then once for each
// of that boot's pool allocations with that allocation alone refused, and
// shows what each boot left undone. Every boot runs in its own process, so
// one that dies does not end the sweep.
#include <unistd.h>

#include <iostream>
#include <memory>
#include <nlohmann/json.hpp>
#include <sstream>
#include <string>

#include "host/boot/Boot.h"
#include "host/boot/Report.h"
#include "host/sim/InputFile.h"
#include "host/sim/Platform.h"
#include "host/sim/Text.h"
#include "tools/boardinv/Commands.h"

namespace boardinv {

namespace {

using nlohmann::json;

struct SweepOptions {
  std::string platformFile;
  bool platformGiven = false;
  std::string format = "text";
};

// What one boot with a refused allocation came to, and whether that is
// sound: it ended (returned or parked in the fatal stop display), freed
// nothing it did not own, wrote past no pool block, added no malformed
// record, holds nothing but the heap buffer nodes once it has returned,
// and names what it skipped.
json SweepEntry(uint64_t allocation, const sim::Platform &described) {
  sim::Platform platform = described;
  platform.faults.failAllocations = {allocation};
  platform.faults.failAllocationsFrom.reset();
  json entry = {{"allocation", allocation}};
  json report;
  try {
    const DriverScope scope;
    report = host::RunBootIsolated(platform);
  } catch (const std::runtime_error &error) {
    entry["died"] = error.what();
    entry["sound"] = false;
    return entry;
  }
  const bool parked = report["startup"]["fatal_stop"]["parked"].get<bool>();
  const uint64_t held = report["pool"]["outstanding_blocks"].get<uint64_t>();
  const uint64_t nodes = report["startup"]["heap_buffer_list"]["nodes"].size();
  entry["outcome"] = report["outcome"];
  entry["records"] = report["records"].size();
  entry["leaked_blocks"] = parked ? json(nullptr) : json(held - nodes);
  entry["invalid_frees"] = report["pool"]["invalid_frees"];
  entry["skipped"] = report["skipped"];
  entry["sound"] = host::DriverFaults(report).empty() && (parked || held == nodes) && report["skipped"].size() == 1;
  return entry;
}

// The platform's own refused allocations, which the sweep replaces by its
// own one at a time: named, so that none is dropped silently.
json SetAsideFaults(const sim::Platform &platform) {
  json faults = json::array();
  if (!platform.faults.failAllocations.empty()) {
    std::string numbers;
    for (uint64_t number : platform.faults.failAllocations) {
      numbers += (numbers.empty() ? "" : ", ") + std::to_string(number);
    }
    faults.push_back("faults.fail_allocations: " + numbers);
  }
  if (platform.faults.failAllocationsFrom) {
    faults.push_back("faults.fail_allocations_from: " + std::to_string(*platform.faults.failAllocationsFrom));
  }
  return faults;
}

int RunSweep(const SweepOptions &options) {
  sim::Platform platform = LoadPlatformOrDie(options.platformGiven, options.platformFile);
  sim::Platform clean = platform;
  clean.faults.failAllocations.clear();
  clean.faults.failAllocationsFrom.reset();
  json cleanReport;
  try {
    const DriverScope scope;
    cleanReport = host::RunBootIsolated(clean);
  } catch (const std::runtime_error &error) {
    PrintMessage(std::string("the boot without refused allocations died: ") + error.what());
    return 1;
  }
  const uint64_t allocations = cleanReport["pool"]["allocations"].get<uint64_t>();

  json sweep = {{"platform", platform.name},
                {"allocations", allocations},
                {"set_aside", SetAsideFaults(platform)},
                {"boots", json::array()}};
  bool sound = true;
  // Progress for a person watching; nothing when standard error is a file
  // or a pipe.
  const bool progress = isatty(STDERR_FILENO) == 1;
  for (uint64_t k = 1; k <= allocations; k++) {
    if (progress) {
      std::cerr << "\rboot " << k << "/" << allocations << std::flush;
    }
    json entry = SweepEntry(k, clean);
    sound = sound && entry["sound"].get<bool>();
    sweep["boots"].push_back(entry);
  }
  if (progress) {
    std::cerr << "\r\x1B[K" << std::flush;
  }
  sweep["sound"] = sound;

  if (options.format == "json") {
    std::cout << sweep.dump(2) << "\n";
  } else {
    std::cout << "Platform: " << sim::Escaped(platform.name) << "\n";
    std::cout << "Allocations in a boot without refusals: " << allocations << "\n";
    for (const json &fault : sweep["set_aside"]) {
      std::cout << "Set aside from the platform: " << fault.get<std::string>() << "\n";
    }
    for (const json &entry : sweep["boots"]) {
      std::cout << "Allocation " << entry["allocation"].get<uint64_t>() << " refused: ";
      if (entry.contains("died")) {
        std::cout << "the boot died (" << sim::Escaped(entry["died"].get<std::string>()) << ")\n";
        continue;
      }
      std::cout << sim::Escaped(entry["outcome"].get<std::string>()) << "; "
                << sim::Counted(entry["records"].get<size_t>(), "record", "records");
      if (!entry["leaked_blocks"].is_null() && entry["leaked_blocks"] != 0) {
        std::cout << "; " << sim::Counted(entry["leaked_blocks"].get<uint64_t>(), "block", "blocks") << " leaked";
      }
      if (entry["invalid_frees"] != 0) {
        std::cout << "; " << sim::Counted(entry["invalid_frees"].get<uint64_t>(), "invalid free", "invalid frees");
      }
      std::cout << "\n";
      for (const json &skipped : entry["skipped"]) {
        std::cout << "    skipped " << sim::Escaped(skipped["what"].get<std::string>()) << "\n";
      }
    }
    std::cout << (sound ? "Every boot ended soundly.\n" : "Some boots did not end soundly.\n");
  }
  return sound ? 0 : 1;
}

}  // namespace

std::function<int()> AddSweepCommand(CLI::App &app) {
  auto options = std::make_shared<SweepOptions>();
  CLI::App *command = app.add_subcommand(
      "sweep", "Boot once per pool allocation of a boot, with that allocation alone refused, and report each");
  CLI::Option *platform = command->add_option(
      "--platform", options->platformFile,
      InputFileHelp(kPlatformOptionHelp, sim::kPlatformFileLimit))
      ->type_name("FILE");
  command->add_option("--format", options->format, "Report format: text or json")
      ->check(CLI::IsMember({"text", "json"}));
  return [command, options, platform]() {
    if (!command->parsed()) {
      return -1;
    }
    options->platformGiven = platform->count() > 0;
    return RunSweep(*options);
  };
}

}  // namespace boardinv
