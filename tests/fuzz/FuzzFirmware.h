// What both fuzz targets share: a fresh simulated firmware per input, with
// pool failures injected as the input asks, and the checks of what the
// device-path operations hand back. A failed check aborts, which libFuzzer
// reports as a finding.
#pragma once

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>

#include "driver/devpath/DevicePathParsers.h"
#include "host/harness/LinkedDriver.h"
#include "host/sim/SimFirmware.h"
#include "driver/base/Memory.h"
#include "driver/base/Tables.h"

namespace fuzz {

[[noreturn]] inline void Finding(const char *what) {
  std::fprintf(stderr, "finding: %s\n", what);
  std::abort();
}

inline void Check(bool condition, const char *what) {
  if (!condition) {
    Finding(what);
  }
}

// The linked-in driver on a fresh simulated firmware. failAt: 0 for a pool
// that never fails, otherwise the 1-based index of the allocation that
// fails; with fromThenOn every later one fails too.
inline std::unique_ptr<host::LinkedDriver> StartDriver(uint8_t failAt, bool fromThenOn) {
  sim::Platform platform = sim::DefaultPlatform();
  if (failAt != 0) {
    if (fromThenOn) {
      platform.faults.failAllocationsFrom = failAt;
    } else {
      platform.faults.failAllocations = {failAt};
    }
  }
  auto driver = std::make_unique<host::LinkedDriver>(platform);
  driver->ExpectPoolCleanAtEnd([](const std::string &left) { Finding(("the pool after the input: " + left).c_str()); });
  return driver;
}

// A result of `size` bytes that must own exactly one new pool block of that
// size; it is freed, and the pool must be back where it was.
inline void CheckOwnedAndFree(sim::SimFirmware &firmware, void *result, uint64_t size, uint64_t blocksBefore,
                              uint64_t bytesBefore) {
  Check(firmware.Pool().Statistics().outstandingBlocks == blocksBefore + 1,
        "the result is not exactly one new pool block");
  Check(firmware.Pool().Statistics().outstandingBytes == bytesBefore + size,
        "the result's size differs from its allocation");
  PoolFree(result);
  Check(firmware.Pool().Statistics().outstandingBlocks == blocksBefore, "pool blocks leaked");
  Check(firmware.Pool().Statistics().invalidFrees == 0, "a block was freed that the pool never gave out");
}

}  // namespace fuzz
