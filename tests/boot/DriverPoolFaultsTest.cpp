// What a report shows the driver got wrong with the pool and the SMBIOS
// table: boardinv boot exits 1 on any of it, and a sweep boot with any of it
// is not sound.
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
  std::vector<std::string> damaged = {};  // the damaged blocks' descriptions
  json malformed = json::array();         // the report's malformed_records
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
  report["pool"]["damaged_blocks"] = json::array();
  for (const std::string &description : c.damaged) {
    report["pool"]["damaged_blocks"].push_back({{"description", description}});
  }
  report["malformed_records"] = c.malformed;
  return report;
}

class DriverPoolFaultsTest : public ::testing::TestWithParam<PoolCase> {};

TEST_P(DriverPoolFaultsTest, NamesWhatTheDriverGotWrong) {
  EXPECT_EQ(host::DriverFaults(Report(GetParam())), GetParam().faults);
}

const char *const kDamaged =
    "allocation 7 (13 bytes of boot-services data) overwritten after its end (found when it was freed)";
const char *const kLength =
    "its formatted area (Length 0x20) runs past the end of its pool block (allocation 5, 8 bytes of boot-services "
    "data)";

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
        PoolCase{"invalid_free_while_parked", true, 0, 0, 1, {"the driver freed 1 block the pool never gave out"}},
        PoolCase{"damaged_guard",
                 false,
                 2,
                 2,
                 0,
                 {std::string("the driver overwrote the guard bytes of a pool block: ") + kDamaged},
                 {kDamaged}},
        PoolCase{"damaged_guard_while_parked",
                 true,
                 0,
                 0,
                 0,
                 {std::string("the driver overwrote the guard bytes of a pool block: ") + kDamaged},
                 {kDamaged}},
        PoolCase{"malformed_record",
                 false,
                 0,
                 0,
                 0,
                 {std::string("the driver added a malformed SMBIOS record (Type 8): ") + kLength},
                 {},
                 json::array({{{"type", 8}, {"problem", kLength}}})},
        PoolCase{"malformed_record_of_no_type",
                 false,
                 0,
                 0,
                 0,
                 {"the driver added a malformed SMBIOS record: its 4-byte header runs past the end of its pool block "
                  "(allocation 1, 0 bytes of boot-services data)"},
                 {},
                 json::array({{{"type", nullptr},
                               {"problem",
                                "its 4-byte header runs past the end of its pool block (allocation 1, 0 bytes of "
                                "boot-services data)"}}})},
        PoolCase{"everything_in_order",
                 false,
                 3,
                 2,
                 1,
                 {"the driver returned holding 1 pool block beyond the heap buffer list's 2 nodes",
                  "the driver freed 1 block the pool never gave out",
                  std::string("the driver overwrote the guard bytes of a pool block: ") + kDamaged,
                  std::string("the driver added a malformed SMBIOS record (Type 8): ") + kLength},
                 {kDamaged},
                 json::array({{{"type", 8}, {"problem", kLength}}})}),
    [](const ::testing::TestParamInfo<PoolCase> &info) { return std::string(info.param.name); });

// A report written before a key existed is judged by the keys it has.
TEST(DriverPoolFaultsTest, AReportWithoutTheNewerKeys) {
  json report;
  report["startup"]["fatal_stop"]["parked"] = false;
  report["startup"]["heap_buffer_list"]["nodes"] = json::array();
  report["pool"]["outstanding_blocks"] = 0;
  report["pool"]["invalid_frees"] = 0;
  EXPECT_TRUE(host::DriverFaults(report).empty());
}

}  // namespace
