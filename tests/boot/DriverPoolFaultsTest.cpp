// What a report shows the driver got wrong with the pool: boardinv boot
// exits 1 on any of it, and a sweep boot with any of it is not sound.
#include <gtest/gtest.h>

#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "host/boot/Report.h"

namespace {

using nlohmann::json;

struct PoolCase {
  const char *name;
  bool parked;
  uint64_t heldBlocks;
  size_t heapNodes;
  uint64_t invalidFrees;
  std::vector<std::string> faults;
};

json Report(const PoolCase &c) {
  json report;
  report["startup"]["fatal_stop"]["parked"] = c.parked;
  report["startup"]["heap_buffer_list"]["nodes"] = json::array();
  for (size_t i = 0; i < c.heapNodes; i++) {
    report["startup"]["heap_buffer_list"]["nodes"].push_back(json::object());
  }
  report["pool"]["outstanding_blocks"] = c.heldBlocks;
  report["pool"]["invalid_frees"] = c.invalidFrees;
  return report;
}

class DriverPoolFaultsTest : public ::testing::TestWithParam<PoolCase> {};

TEST_P(DriverPoolFaultsTest, NamesWhatTheDriverGotWrong) {
  EXPECT_EQ(host::DriverPoolFaults(Report(GetParam())), GetParam().faults);
}

INSTANTIATE_TEST_SUITE_P(
    Reports, DriverPoolFaultsTest,
    ::testing::Values(
        PoolCase{"clean", false, 0, 0, 0, {}},
        PoolCase{"only_the_heap_nodes", false, 2, 2, 0, {}},
        PoolCase{"nodes_not_from_the_pool", false, 0, 2, 0, {}},
        PoolCase{"one_block_leaked", false, 3, 2, 0,
                 {"the driver returned holding 1 pool block beyond the heap buffer list's 2 nodes"}},
        PoolCase{"blocks_leaked_without_a_list", false, 2, 0, 0,
                 {"the driver returned holding 2 pool blocks beyond the heap buffer list's 0 nodes"}},
        PoolCase{"parked_holds_what_it_holds", true, 5, 1, 0, {}},
        PoolCase{"invalid_free", false, 1, 1, 1, {"the driver freed 1 block the pool never gave out"}},
        PoolCase{"both", false, 4, 1, 2,
                 {"the driver returned holding 3 pool blocks beyond the heap buffer list's 1 node",
                  "the driver freed 2 blocks the pool never gave out"}},
        PoolCase{"invalid_free_while_parked", true, 0, 0, 1, {"the driver freed 1 block the pool never gave out"}}),
    [](const ::testing::TestParamInfo<PoolCase> &info) { return std::string(info.param.name); });

}  // namespace
