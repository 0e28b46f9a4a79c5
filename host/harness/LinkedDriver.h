// The driver linked into this program, wired to a simulated firmware for
// the life of one object: every mutable module global starts from its value
// at load, the table globals point at the firmware's tables, and at the end
// the globals are reset again and the pool is checked for what the driver
// left in it.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "driver/firmware/Protocol/Smbios.h"
#include "driver/firmware/Uefi.h"
#include "host/sim/Platform.h"
#include "host/sim/SimFirmware.h"

namespace host {

// What the driver allocated from the pool while a harness lived and has not
// freed (blocks it freed that were there before count against it), the
// frees of blocks the pool never gave out, and the blocks whose guard bytes
// were found overwritten (by FreePool, or by the check Left makes).
struct PoolLeft {
  int64_t blocks = 0;
  int64_t bytes = 0;
  std::map<EFI_MEMORY_TYPE, std::pair<int64_t, int64_t>> byType;  // blocks, bytes; types with any left
  uint64_t invalidFrees = 0;
  std::vector<sim::DamagedPoolBlock> damagedBlocks;

  bool Clean() const {
    return blocks == 0 && bytes == 0 && byType.empty() && invalidFrees == 0 && damagedBlocks.empty();
  }
  // One line, per memory type: "2 blocks (48 bytes) of boot services data
  // not freed; 1 free of a block the pool never gave out; allocation 3 (13
  // bytes of boot-services data) overwritten after its end (found when it
  // was freed)".
  std::string Describe() const;
};

class LinkedDriver {
 public:
  enum class Tables {
    // gSystemTable, gBootServices and gRuntimeServices point at the
    // firmware's tables from the start: for driver code called directly.
    kWired,
    // They stay null, as at load, until the driver's entry point stores
    // them: for a boot through DriverEntry.
    kStoredByEntryPoint,
  };

  // Over a firmware the caller keeps; it must outlive the harness.
  explicit LinkedDriver(sim::SimFirmware &firmware, Tables tables = Tables::kWired);
  // Over a firmware of its own, built from the platform.
  explicit LinkedDriver(const sim::Platform &platform, Tables tables = Tables::kWired);
  // Resets every module global to its value at load (the table pointers to
  // null), then hands a pool that is not clean to the report set by
  // ExpectPoolCleanAtEnd, if any. Never throws.
  ~LinkedDriver();
  LinkedDriver(const LinkedDriver &) = delete;
  LinkedDriver &operator=(const LinkedDriver &) = delete;

  sim::SimFirmware &Firmware() { return firmware_; }
  const sim::SimFirmware &Firmware() const { return firmware_; }

  // What the driver left in the pool since the harness was made; checks
  // the guard bytes of every live block first.
  PoolLeft Left() const;

  // Makes the destructor check that the driver left nothing in the pool
  // and freed nothing the pool never gave out; when it did, report is
  // called once with PoolLeft::Describe(). A test passes one that records
  // a failure, a fuzz target one that aborts. It must not throw.
  void ExpectPoolCleanAtEnd(std::function<void(const std::string &message)> report);

  // The driver's state as its own code would have left it, for a test of
  // one routine that runs without the code before it. These are the only
  // writes of the linked-in driver's module globals from outside the driver
  // (the check driver_globals_written_by_harness_only holds tests/ and
  // bench/ to that); the harness resets each global at its end.
  //
  // gSmbios: the SMBIOS protocol the record builders add to (a test's own
  // interface, or null).
  void UseSmbios(EFI_SMBIOS_PROTOCOL *protocol);
  // gSmbios located in the firmware, as the End-of-DXE handler locates it.
  EFI_STATUS LocateSmbios();
  // The stop policy as the configuration snapshot holds it.
  void SetStopPolicy(bool on);
  // Every byte of the configuration snapshot set to `byte`: what its
  // constructor must not rely on.
  void FillConfigSnapshot(uint8_t byte);
  // An empty heap buffer list behind the anchor, as the start-up step
  // leaves it.
  void InstallEmptyHeapList();
  // The timer frequency forgotten, as at load: the next hold measures it.
  void ForgetTscFrequency();

 private:
  void Begin(Tables tables);

  std::unique_ptr<sim::SimFirmware> owned_;
  sim::SimFirmware &firmware_;
  sim::PoolStatistics atStart_;
  std::function<void(const std::string &)> report_;
};

}  // namespace host
