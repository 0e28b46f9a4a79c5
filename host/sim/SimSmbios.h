// The simulated SMBIOS table: the SMBIOS protocol's Add, which checks a
// record within the pool block that holds it, and the table as a dump file.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "driver/firmware/Protocol/Smbios.h"
#include "driver/firmware/Uefi.h"
#include "host/sim/ServiceLog.h"
#include "host/sim/SimPool.h"

namespace sim {

struct SmbiosRecord {
  uint16_t handle;
  std::vector<uint8_t> bytes;  // formatted area and string set, as stored
};

class SmbiosTable {
 public:
  // instance: the protocol interface the firmware installed, the one This
  // Add accepts. A record in a block of pool is read within that block.
  // Calls go to log.
  SmbiosTable(const EFI_SMBIOS_PROTOCOL *instance, const Pool &pool, ServiceLog &log);
  SmbiosTable(const SmbiosTable &) = delete;
  SmbiosTable &operator=(const SmbiosTable &) = delete;

  // The protocol's Add, reached through its EFIAPI thunk.
  EFI_STATUS Add(EFI_SMBIOS_PROTOCOL *self, EFI_HANDLE producer, EFI_SMBIOS_HANDLE *handle,
                 EFI_SMBIOS_TABLE_HEADER *record);

  // The records stored, in the order added.
  const std::vector<SmbiosRecord> &Records() const { return records_; }

 private:
  const EFI_SMBIOS_PROTOCOL *instance_;
  const Pool &pool_;
  ServiceLog &log_;
  std::vector<SmbiosRecord> records_;
};

// The SMBIOS table as a file that a decoder reads with --from-dump: an
// SMBIOS 3.0 64-bit entry point at offset 0, the structure table at 0x20,
// closed by a Type 127 end-of-table record.
std::vector<uint8_t> BuildSmbiosDump(const std::vector<SmbiosRecord> &records);

// The most bytes the SMBIOS Add reads of a record that lies outside the
// pool, from its start: a record in the pool is read up to the end of its
// pool block.
constexpr size_t kSmbiosRecordBound = 0xFFFF;

// Measures an SMBIOS record within limit bytes: its formatted area and
// string set up to and including the double zero. 0 when the record is
// malformed (*problem then says why) or does not end within limit bytes.
size_t MeasureSmbiosRecord(const uint8_t *record, size_t limit, SmbiosRecordProblem::Kind *problem = nullptr);

}  // namespace sim
