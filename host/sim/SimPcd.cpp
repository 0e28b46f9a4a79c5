// The PCD service: the getters' reading of the platform's tokens.
#include "host/sim/SimPcd.h"

namespace sim {

Pcd::Pcd(const std::map<uint64_t, uint64_t> &tokens) : tokens_(tokens) {}

uint64_t Pcd::Get(const char *getter, UINTN token, unsigned width) {
  auto found = tokens_.find(token);
  uint64_t value = found == tokens_.end() ? 0 : found->second;
  if (width == 1) {
    value = value != 0 ? 1 : 0;
  } else if (width < 64) {
    value &= (1ULL << width) - 1;
  }
  reads_.push_back({getter, token, value});
  return value;
}

}  // namespace sim
