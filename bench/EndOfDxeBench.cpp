// The End-of-DXE work per layout: the variable read, the connector records,
// the slot probes over PCI and the slot records, on the simulated firmware
// (its call log and SMBIOS table included). Each iteration meets a freshly
// loaded driver: a new firmware, the entry point run, then, timed, the
// End-of-DXE signal.
#include <benchmark/benchmark.h>

#include <cstdint>

#include "driver/entry/DriverEntry.h"
#include "driver/firmware/Guids.h"
#include "host/boot/Boot.h"
#include "host/harness/LinkedDriver.h"
#include "host/sim/Platform.h"
#include "host/sim/SimFirmware.h"

namespace {

void BM_EndOfDxe(benchmark::State &state) {
  sim::Platform platform = sim::DefaultPlatform();
  sim::SetNioTypeWord(platform, static_cast<uint32_t>(state.range(0)));
  uint64_t records = 0;
  for (auto _ : state) {
    state.PauseTiming();
    {
      host::LinkedDriver driver(platform, host::LinkedDriver::Tables::kStoredByEntryPoint);
      sim::SimFirmware &firmware = driver.Firmware();
      if (EFI_ERROR(DriverEntry(firmware.ImageHandle(), firmware.SystemTable()))) {
        state.SkipWithError("DriverEntry failed");
        return;
      }
      state.ResumeTiming();
      firmware.Events().SignalEventGroup(gEfiEndOfDxeEventGroupGuid);
      state.PauseTiming();
      records = firmware.Smbios().Records().size();
    }
    state.ResumeTiming();
  }
  state.counters["records"] = static_cast<double>(records);
  state.SetItemsProcessed(static_cast<int64_t>(state.iterations() * records));
}
// 0x200: Layout A; 0x202: Layout B; 0x201: Layout C.
BENCHMARK(BM_EndOfDxe)->ArgName("nio")->Arg(0x200)->Arg(0x202)->Arg(0x201);

// A whole boot through the harness: firmware built from the platform, the
// entry point, End-of-DXE, and the result gathered.
void BM_WholeBoot(benchmark::State &state) {
  sim::Platform platform = sim::DefaultPlatform();
  sim::SetNioTypeWord(platform, static_cast<uint32_t>(state.range(0)));
  for (auto _ : state) {
    benchmark::DoNotOptimize(host::RunBoot(platform));
  }
}
BENCHMARK(BM_WholeBoot)->ArgName("nio")->Arg(0x200)->Arg(0x202)->Arg(0x201);

}  // namespace

BENCHMARK_MAIN();
