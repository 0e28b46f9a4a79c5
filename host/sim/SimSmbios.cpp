// The SMBIOS table: the protocol's Add, and the table as a dump file.
#include "host/sim/SimSmbios.h"

#include <algorithm>
#include <cstring>
#include <iterator>

namespace sim {

size_t MeasureSmbiosRecord(const uint8_t *record, size_t limit, SmbiosRecordProblem::Kind *problem) {
  using Kind = SmbiosRecordProblem::Kind;
  auto refuse = [problem](Kind kind) {
    if (problem != nullptr) {
      *problem = kind;
    }
    return size_t{0};
  };
  if (limit < 4) {
    return refuse(Kind::HeaderOutside);
  }
  if (record[1] < 4) {
    return refuse(Kind::LengthBelowHeader);
  }
  if (record[1] > limit) {
    return refuse(Kind::FormattedAreaOutside);
  }
  // The string set starts behind the formatted area and ends with two zero
  // bytes; a record without strings has just the two zeros.
  for (size_t at = record[1]; at + 1 < limit; at++) {
    if (record[at] == 0 && record[at + 1] == 0) {
      return at + 2;
    }
  }
  return refuse(Kind::StringSetUnended);
}

SmbiosTable::SmbiosTable(const EFI_SMBIOS_PROTOCOL *instance, const Pool &pool, ServiceLog &log)
    : instance_(instance), pool_(pool), log_(log) {}

EFI_STATUS SmbiosTable::Add(EFI_SMBIOS_PROTOCOL *self, EFI_HANDLE producer, EFI_SMBIOS_HANDLE *handle,
                            EFI_SMBIOS_TABLE_HEADER *record) {
  (void)producer;
  EFI_STATUS status = EFI_SUCCESS;
  ServiceCall call{Service::SmbiosAdd, EFI_SUCCESS};
  const auto *bytes = reinterpret_cast<const uint8_t *>(record);
  // A record in the pool is read up to the end of the block that holds it,
  // never into the bytes after it; one elsewhere up to the bound.
  SmbiosRecordProblem problem{SmbiosRecordProblem::Kind::HeaderOutside};
  size_t limit = kSmbiosRecordBound;
  problem.bound = kSmbiosRecordBound;
  if (const std::optional<PoolBlockInfo> block = bytes != nullptr ? pool_.PoolBlockAt(bytes) : std::nullopt) {
    problem.inPool = true;
    problem.allocation = block->allocation;
    problem.blockSize = block->size;
    problem.memoryType = block->type;
    problem.offset = static_cast<uint64_t>(bytes - block->start);
    limit = static_cast<size_t>(block->size - problem.offset);
  }
  size_t size = 0;
  if (self != instance_ || handle == nullptr || record == nullptr) {
    status = EFI_INVALID_PARAMETER;
  } else if ((size = MeasureSmbiosRecord(bytes, limit, &problem.kind)) == 0) {
    status = EFI_INVALID_PARAMETER;
    problem.length = limit >= 2 ? bytes[1] : 0;
    call.recordProblem = problem;
  } else if (*handle == SMBIOS_HANDLE_RESERVED) {
    status = EFI_INVALID_PARAMETER;
  } else {
    auto used = [&](uint16_t candidate) {
      for (const SmbiosRecord &existing : records_) {
        if (existing.handle == candidate) {
          return true;
        }
      }
      return false;
    };
    uint16_t assigned = *handle;
    if (assigned == SMBIOS_HANDLE_PI_RESERVED) {
      assigned = 1;
      while (used(assigned) && assigned < SMBIOS_HANDLE_PI_RESERVED) {
        assigned++;
      }
      if (assigned >= SMBIOS_HANDLE_PI_RESERVED) {
        status = EFI_OUT_OF_RESOURCES;
      }
    } else if (used(assigned)) {
      status = EFI_ALREADY_STARTED;
    }
    if (status == EFI_SUCCESS) {
      SmbiosRecord stored{assigned, std::vector<uint8_t>(bytes, bytes + size)};
      stored.bytes[2] = static_cast<uint8_t>(assigned);
      stored.bytes[3] = static_cast<uint8_t>(assigned >> 8);
      call.record = stored.bytes;
      call.smbiosHandle = assigned;
      records_.push_back(std::move(stored));
      *handle = assigned;
    }
  }
  if (record != nullptr && limit >= 1) {
    call.recordType = record->Type;
  }
  call.status = status;
  log_.Add(std::move(call));
  return status;
}

std::vector<uint8_t> BuildSmbiosDump(const std::vector<SmbiosRecord> &records) {
  std::vector<uint8_t> table;
  uint16_t endHandle = 1;
  for (const SmbiosRecord &record : records) {
    table.insert(table.end(), record.bytes.begin(), record.bytes.end());
    endHandle = std::max<uint16_t>(endHandle, static_cast<uint16_t>(record.handle + 1));
  }
  const uint8_t endOfTable[] = {127, 4, static_cast<uint8_t>(endHandle), static_cast<uint8_t>(endHandle >> 8), 0, 0};
  table.insert(table.end(), std::begin(endOfTable), std::end(endOfTable));

  constexpr uint32_t kTableOffset = 0x20;
  std::vector<uint8_t> dump(kTableOffset + table.size(), 0);
  std::copy(table.begin(), table.end(), dump.begin() + kTableOffset);
  std::memcpy(dump.data(), "_SM3_", 5);
  dump[6] = 0x18;  // entry point length
  dump[7] = 3;     // SMBIOS 3.0.0
  dump[8] = 0;
  dump[9] = 0;
  dump[10] = 1;  // entry point revision: 3.0
  const uint32_t maxSize = static_cast<uint32_t>(table.size());
  std::memcpy(&dump[12], &maxSize, 4);
  const uint64_t address = kTableOffset;
  std::memcpy(&dump[16], &address, 8);
  uint8_t sum = 0;
  for (size_t i = 0; i < 0x18; i++) {
    sum = static_cast<uint8_t>(sum + dump[i]);
  }
  dump[5] = static_cast<uint8_t>(0x100 - sum);
  return dump;
}

}  // namespace sim
