// Marks regions for instruction counting under callgrind (the client
// requests do nothing outside it): one region per device-path family of the
// corpus, each converting its paths kRounds times, and the two halves of a
// default boot, the entry point and the End-of-DXE work. Each region ends
// in a dump named after it, which scripts/bench.sh reads.
//
//   valgrind --tool=callgrind build/bin/instruction_counts
#include <valgrind/callgrind.h>

#include <cstdio>
#include <map>
#include <string>
#include <vector>

#include "bench/BenchSupport.h"
#include "driver/entry/DriverEntry.h"
#include "driver/devpath/DevicePath.h"
#include "driver/firmware/Guids.h"
#include "host/boot/Boot.h"
#include "host/harness/LinkedDriver.h"
#include "driver/base/Memory.h"

namespace {

constexpr int kRounds = 100;

void Dump(const std::string &name) { CALLGRIND_DUMP_STATS_AT(name.c_str()); }

int CountConversions() {
  const std::vector<bench::CorpusText> corpus = bench::LoadCorpus();
  std::vector<std::string> families;
  std::map<std::string, std::vector<const bench::CorpusText *>> byFamily;
  for (const bench::CorpusText &entry : corpus) {
    if (byFamily[entry.family].empty()) {
      families.push_back(entry.family);
    }
    byFamily[entry.family].push_back(&entry);
  }
  auto driver = bench::StartDriver();
  for (const std::string &family : families) {
    CALLGRIND_ZERO_STATS;
    for (int round = 0; round < kRounds; round++) {
      for (const bench::CorpusText *entry : byFamily[family]) {
        EFI_DEVICE_PATH_PROTOCOL *path = ConvertTextToDevicePath(entry->text.c_str());
        if (path == nullptr) {
          std::fprintf(stderr, "instruction_counts: did not convert: %s\n", entry->narrow.c_str());
          return 1;
        }
        PoolFree(path);
      }
    }
    Dump("devpath " + family + " paths=" + std::to_string(byFamily[family].size()) +
         " rounds=" + std::to_string(kRounds));
  }
  return 0;
}

int CountBoot() {
  const sim::Platform platform = sim::DefaultPlatform();
  host::LinkedDriver driver(platform, host::LinkedDriver::Tables::kStoredByEntryPoint);
  sim::SimFirmware &firmware = driver.Firmware();
  CALLGRIND_ZERO_STATS;
  const EFI_STATUS status = DriverEntry(firmware.ImageHandle(), firmware.SystemTable());
  Dump("boot DriverEntry");
  if (EFI_ERROR(status)) {
    std::fprintf(stderr, "instruction_counts: DriverEntry failed\n");
    return 1;
  }
  firmware.Events().SignalEventGroup(gEfiEndOfDxeEventGroupGuid);
  Dump("boot End-of-DXE records=" + std::to_string(firmware.Smbios().Records().size()));
  return 0;
}

}  // namespace

int main() {
  const int status = CountConversions();
  return status != 0 ? status : CountBoot();
}
