// The simulated PCD service behind the PCD protocol's getters: the
// platform's token values, and every read in order.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "driver/firmware/Uefi.h"

namespace sim {

// A token read through the PCD protocol.
struct PcdRead {
  std::string getter;  // "Get8", "Get32", "GetBool"
  uint64_t token;
  uint64_t value;  // as returned
};

class Pcd {
 public:
  // Serves tokens (values by token number), which must outlive it; tokens
  // not listed read 0.
  explicit Pcd(const std::map<uint64_t, uint64_t> &tokens);
  Pcd(const Pcd &) = delete;
  Pcd &operator=(const Pcd &) = delete;

  // A getter of the protocol, reached through its EFIAPI thunk: the token's
  // value cut to width bits (1: a BOOLEAN), recorded as a read.
  uint64_t Get(const char *getter, UINTN token, unsigned width);

  // Every read, in order.
  const std::vector<PcdRead> &Reads() const { return reads_; }

 private:
  const std::map<uint64_t, uint64_t> &tokens_;
  std::vector<PcdRead> reads_;
};

}  // namespace sim
