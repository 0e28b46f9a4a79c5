// What a boot shows the driver got wrong with the pool and the SMBIOS
// table (BootResult::Failures, worded by FailureText): boardinv boot exits 1
// on any of it, and a sweep boot with any of it is not sound.
#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

#include "host/boot/Boot.h"
#include "host/boot/Wording.h"

namespace {

struct PoolCase {
  const char *name;
  bool parked;
  uint64_t heldBlocks;
  size_t heapNodes;
  uint64_t invalidFrees;
  std::vector<std::string> faults;
  std::vector<sim::DamagedPoolBlock> damaged = {};
  std::vector<sim::ServiceCall> malformed = {};  // refused SMBIOS Add calls
};

host::BootResult Result(const PoolCase &c) {
  host::BootResult result;
  result.startup.parked = c.parked;
  result.startup.heapNodes.resize(c.heapNodes);
  result.pool.outstandingBlocks = c.heldBlocks;
  result.pool.invalidFrees = c.invalidFrees;
  result.pool.damagedBlocks = c.damaged;
  result.malformedRecords = c.malformed;
  return result;
}

class DriverPoolFaultsTest : public ::testing::TestWithParam<PoolCase> {};

TEST_P(DriverPoolFaultsTest, NamesWhatTheDriverGotWrong) {
  const host::BootResult result = Result(GetParam());
  std::vector<std::string> faults;
  for (const host::BootFailure &failure : result.Failures()) {
    faults.push_back(host::FailureText(result, failure));
  }
  EXPECT_EQ(faults, GetParam().faults);
  EXPECT_EQ(result.BlocksBeyondList(),
            GetParam().parked ? std::nullopt
                              : std::optional<int64_t>(static_cast<int64_t>(GetParam().heldBlocks) -
                                                       static_cast<int64_t>(GetParam().heapNodes)));
}

// A map that does not describe the image leaves the list unread: what the
// driver holds beyond it is not told, the rest is.
TEST(DriverPoolFaultsTest, HeldBlocksAreNotJudgedThroughAMapThatDoesNotMatch) {
  host::BootResult result;
  result.pool.outstandingBlocks = 3;
  result.pool.invalidFrees = 1;
  result.startup.heapListMapProblem = host::HeapListMapProblem{host::HeapListMapProblem::Kind::AnchorNull,
                                                              "BoardInventory.map",
                                                              "+0x10",
                                                              "+0x20",
                                                              "",
                                                              "",
                                                              host::HeapListSource::Installed};
  EXPECT_EQ(host::HeapListMapProblemText(*result.startup.heapListMapProblem),
            "BoardInventory.map: gHeapListAnchor at +0x10 holds null, but the driver installed a heap buffer list: "
            "the map does not match the image");
  ASSERT_EQ(result.Failures().size(), 1u);
  EXPECT_EQ(result.Failures()[0].kind, host::BootFailure::Kind::InvalidFrees);
}

const sim::DamagedPoolBlock kDamaged{7, 13, EfiBootServicesData, true, false, true};
const char *const kDamagedText =
    "allocation 7 (13 bytes of boot-services data) overwritten after its end (found when it was freed)";

sim::ServiceCall Malformed(std::optional<uint8_t> type, sim::SmbiosRecordProblem::Kind kind, uint8_t length,
                           uint64_t allocation, uint64_t blockSize) {
  sim::ServiceCall call{sim::Service::SmbiosAdd, EFI_INVALID_PARAMETER};
  call.recordType = type;
  sim::SmbiosRecordProblem problem{kind};
  problem.length = length;
  problem.inPool = true;
  problem.allocation = allocation;
  problem.blockSize = blockSize;
  problem.memoryType = EfiBootServicesData;
  call.recordProblem = problem;
  return call;
}
const sim::ServiceCall kLength = Malformed(8, sim::SmbiosRecordProblem::Kind::FormattedAreaOutside, 0x20, 5, 8);
const char *const kLengthText =
    "its formatted area (Length 0x20) runs past the end of its pool block (allocation 5, 8 bytes of boot-services "
    "data)";
const sim::ServiceCall kNoType = Malformed(std::nullopt, sim::SmbiosRecordProblem::Kind::HeaderOutside, 0, 1, 0);

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
                 {std::string("the driver overwrote the guard bytes of a pool block: ") + kDamagedText},
                 {kDamaged}},
        PoolCase{"damaged_guard_while_parked",
                 true,
                 0,
                 0,
                 0,
                 {std::string("the driver overwrote the guard bytes of a pool block: ") + kDamagedText},
                 {kDamaged}},
        PoolCase{"malformed_record",
                 false,
                 0,
                 0,
                 0,
                 {std::string("the driver added a malformed SMBIOS record (Type 8): ") + kLengthText},
                 {},
                 {kLength}},
        PoolCase{"malformed_record_of_no_type",
                 false,
                 0,
                 0,
                 0,
                 {"the driver added a malformed SMBIOS record: its 4-byte header runs past the end of its pool block "
                  "(allocation 1, 0 bytes of boot-services data)"},
                 {},
                 {kNoType}},
        PoolCase{"everything_in_order",
                 false,
                 3,
                 2,
                 1,
                 {"the driver returned holding 1 pool block beyond the heap buffer list's 2 nodes",
                  "the driver freed 1 block the pool never gave out",
                  std::string("the driver overwrote the guard bytes of a pool block: ") + kDamagedText,
                  std::string("the driver added a malformed SMBIOS record (Type 8): ") + kLengthText},
                 {kDamaged},
                 {kLength}}),
    [](const ::testing::TestParamInfo<PoolCase> &info) { return std::string(info.param.name); });

}  // namespace
