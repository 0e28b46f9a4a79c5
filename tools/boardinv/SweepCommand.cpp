// boardinv sweep: boots the platform once as described, then once for each
// of that boot's pool allocations with that allocation alone refused, and
// shows what each boot left undone. Every boot runs in its own process, so
// one that dies does not end the sweep.
#include <unistd.h>

#include <cstring>
#include <iostream>
#include <memory>
#include <nlohmann/json.hpp>
#include <sstream>
#include <optional>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

#include "host/boot/Boot.h"
#include "host/boot/Wording.h"
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

// What the sweep needs of one boot, taken from its BootResult in the
// child process that ran it and handed back through a pipe.
struct BootFacts {
  std::string outcome;
  uint64_t records = 0;
  uint64_t allocations = 0;
  std::optional<int64_t> blocksBeyondList;  // none: parked in the fatal stop display
  uint64_t invalidFrees = 0;
  std::vector<std::pair<std::string, std::string>> skipped;  // what, because
  bool failed = false;  // the boot shows something the driver got wrong

  static BootFacts Of(const host::BootResult &result) {
    BootFacts facts;
    facts.outcome = host::OutcomeText(result);
    facts.records = result.records.size();
    facts.allocations = result.pool.allocations;
    facts.blocksBeyondList = result.BlocksBeyondList();
    facts.invalidFrees = result.pool.invalidFrees;
    for (const host::SkippedWork &work : result.skipped) {
      facts.skipped.emplace_back(host::SkippedText(result, work), host::RefusalText(work));
    }
    facts.failed = !result.Failures().empty();
    return facts;
  }

  // Fixed-width numbers and length-prefixed strings, in field order.
  std::string Encode() const {
    std::string bytes;
    auto number = [&bytes](uint64_t value) { bytes.append(reinterpret_cast<const char *>(&value), sizeof(value)); };
    auto text = [&](const std::string &value) {
      number(value.size());
      bytes += value;
    };
    text(outcome);
    number(records);
    number(allocations);
    number(blocksBeyondList ? 1 : 0);
    number(static_cast<uint64_t>(blocksBeyondList.value_or(0)));
    number(invalidFrees);
    number(skipped.size());
    for (const auto &[what, because] : skipped) {
      text(what);
      text(because);
    }
    number(failed ? 1 : 0);
    return bytes;
  }

  static BootFacts Decode(const std::string &bytes) {
    size_t at = 0;
    auto number = [&]() {
      uint64_t value = 0;
      if (bytes.size() - at < sizeof(value)) {
        throw std::runtime_error("the boot's answer was cut short");
      }
      std::memcpy(&value, bytes.data() + at, sizeof(value));
      at += sizeof(value);
      return value;
    };
    auto text = [&]() {
      const uint64_t size = number();
      if (bytes.size() - at < size) {
        throw std::runtime_error("the boot's answer was cut short");
      }
      std::string value = bytes.substr(at, size);
      at += size;
      return value;
    };
    BootFacts facts;
    facts.outcome = text();
    facts.records = number();
    facts.allocations = number();
    const bool beyond = number() != 0;
    const auto held = static_cast<int64_t>(number());
    facts.blocksBeyondList = beyond ? std::optional<int64_t>(held) : std::nullopt;
    facts.invalidFrees = number();
    for (uint64_t n = number(); n > 0; n--) {
      std::string what = text();
      facts.skipped.emplace_back(std::move(what), text());
    }
    facts.failed = number() != 0;
    return facts;
  }
};

// Boots the platform in a fresh child process.
BootFacts BootIsolated(const sim::Platform &platform) {
  const DriverScope scope;
  return BootFacts::Decode(host::RunIsolated([&platform] { return BootFacts::Of(host::RunBoot(platform)).Encode(); }));
}

// One boot with a refused allocation: what it came to, or how it died.
struct SweepBoot {
  uint64_t allocation = 0;
  std::optional<std::string> died;
  BootFacts facts;
  // Whether it is sound: it ended (returned or parked in the fatal stop
  // display), got nothing wrong (BootResult::Failures), holds nothing but
  // the heap buffer nodes once it has returned, and names what it skipped.
  bool Sound() const {
    return !died && !facts.failed && facts.blocksBeyondList.value_or(0) == 0 && facts.skipped.size() == 1;
  }
};

SweepBoot SweepEntry(uint64_t allocation, const sim::Platform &described) {
  sim::Platform platform = described;
  platform.faults.failAllocations = {allocation};
  platform.faults.failAllocationsFrom.reset();
  SweepBoot boot;
  boot.allocation = allocation;
  try {
    boot.facts = BootIsolated(platform);
  } catch (const std::runtime_error &error) {
    boot.died = error.what();
  }
  return boot;
}

json SweepEntryJson(const SweepBoot &boot) {
  json entry = {{"allocation", boot.allocation}};
  if (boot.died) {
    entry["died"] = *boot.died;
    entry["sound"] = false;
    return entry;
  }
  entry["outcome"] = boot.facts.outcome;
  entry["records"] = boot.facts.records;
  entry["leaked_blocks"] = boot.facts.blocksBeyondList ? json(*boot.facts.blocksBeyondList) : json(nullptr);
  entry["invalid_frees"] = boot.facts.invalidFrees;
  json skipped = json::array();
  for (const auto &[what, because] : boot.facts.skipped) {
    skipped.push_back({{"what", what}, {"because", because}});
  }
  entry["skipped"] = skipped;
  entry["sound"] = boot.Sound();
  return entry;
}

// The platform's own refused allocations, which the sweep replaces by its
// own one at a time: named, so that none is dropped silently.
std::vector<std::string> SetAsideFaultTexts(const sim::Platform &platform) {
  std::vector<std::string> faults;
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

json SetAsideFaults(const sim::Platform &platform) {
  json faults = json::array();
  for (const std::string &fault : SetAsideFaultTexts(platform)) {
    faults.push_back(fault);
  }
  return faults;
}

int RunSweep(const SweepOptions &options) {
  sim::Platform platform = LoadPlatformOrDie(options.platformGiven, options.platformFile);
  sim::Platform clean = platform;
  clean.faults.failAllocations.clear();
  clean.faults.failAllocationsFrom.reset();
  uint64_t allocations = 0;
  try {
    allocations = BootIsolated(clean).allocations;
  } catch (const std::runtime_error &error) {
    PrintMessage(std::string("the boot without refused allocations died: ") + error.what());
    return 1;
  }

  std::vector<SweepBoot> boots;
  bool sound = true;
  // Progress for a person watching; nothing when standard error is a file
  // or a pipe.
  const bool progress = isatty(STDERR_FILENO) == 1;
  for (uint64_t k = 1; k <= allocations; k++) {
    if (progress) {
      std::cerr << "\rboot " << k << "/" << allocations << std::flush;
    }
    boots.push_back(SweepEntry(k, clean));
    sound = sound && boots.back().Sound();
  }
  if (progress) {
    std::cerr << "\r\x1B[K" << std::flush;
  }
  const json setAside = SetAsideFaults(platform);

  if (options.format == "json") {
    json sweep = {{"platform", platform.name},
                  {"allocations", allocations},
                  {"set_aside", setAside},
                  {"boots", json::array()},
                  {"sound", sound}};
    for (const SweepBoot &boot : boots) {
      sweep["boots"].push_back(SweepEntryJson(boot));
    }
    std::cout << sweep.dump(2) << "\n";
  } else {
    std::cout << "Platform: " << sim::Escaped(platform.name) << "\n";
    std::cout << "Allocations in a boot without refusals: " << allocations << "\n";
    for (const std::string &fault : SetAsideFaultTexts(platform)) {
      std::cout << "Set aside from the platform: " << fault << "\n";
    }
    for (const SweepBoot &boot : boots) {
      std::cout << "Allocation " << boot.allocation << " refused: ";
      if (boot.died) {
        std::cout << "the boot died (" << sim::Escaped(*boot.died) << ")\n";
        continue;
      }
      std::cout << sim::Escaped(boot.facts.outcome) << "; " << sim::Counted(boot.facts.records, "record", "records");
      if (boot.facts.blocksBeyondList.value_or(0) != 0) {
        std::cout << "; " << sim::Counted(static_cast<uint64_t>(*boot.facts.blocksBeyondList), "block", "blocks")
                  << " leaked";
      }
      if (boot.facts.invalidFrees != 0) {
        std::cout << "; " << sim::Counted(boot.facts.invalidFrees, "invalid free", "invalid frees");
      }
      std::cout << "\n";
      for (const auto &skipped : boot.facts.skipped) {
        std::cout << "    skipped " << sim::Escaped(skipped.first) << "\n";
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
