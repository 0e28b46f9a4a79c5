// What a boot shows the driver got wrong: judged once, here, for every
// command that reports a boot.
#include "host/boot/Boot.h"

namespace host {

std::optional<int64_t> BootResult::BlocksBeyondList() const {
  if (startup.parked) {
    return std::nullopt;
  }
  return static_cast<int64_t>(pool.outstandingBlocks) - static_cast<int64_t>(startup.heapNodes.size());
}

std::vector<BootFailure> BootResult::Failures() const {
  std::vector<BootFailure> failures;
  const std::optional<int64_t> beyond = BlocksBeyondList();
  // Through a map that does not match the image the list was not read:
  // what the driver holds beyond it cannot be told.
  if (beyond && *beyond > 0 && !startup.heapListMapProblem) {
    failures.push_back({BootFailure::Kind::HeldBeyondList, static_cast<uint64_t>(*beyond), startup.heapNodes.size(), 0});
  }
  if (pool.invalidFrees != 0) {
    failures.push_back({BootFailure::Kind::InvalidFrees, pool.invalidFrees, 0, 0});
  }
  for (size_t i = 0; i < pool.damagedBlocks.size(); i++) {
    failures.push_back({BootFailure::Kind::DamagedGuard, 0, 0, i});
  }
  for (size_t i = 0; i < malformedRecords.size(); i++) {
    failures.push_back({BootFailure::Kind::MalformedRecord, 0, 0, i});
  }
  return failures;
}

}  // namespace host
