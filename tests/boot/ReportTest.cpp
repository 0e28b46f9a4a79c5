// The boot report of a boot in which pool blocks were overrun and a record
// that lies about its Length was added. The calls are made here by hand,
// against a simulated firmware, as a faulty driver would make them; no
// driver code runs, so this program runs in-process.
#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "driver/firmware/Guids.h"
#include "host/boot/DriverState.h"
#include "host/boot/Outcome.h"
#include "host/boot/Report.h"
#include "host/boot/Wording.h"
#include "tests/support/WriteUnwatched.h"

namespace {

using nlohmann::json;

TEST(BootReportTest, NamesEveryDamagedBlockAndMalformedRecord) {
  sim::SimFirmware firmware(sim::DefaultPlatform());
  EFI_BOOT_SERVICES *bs = firmware.SystemTable()->BootServices;
  void *freed = nullptr;
  void *kept = nullptr;
  void *record = nullptr;
  ASSERT_EQ(bs->AllocatePool(EfiBootServicesData, 13, &freed), EFI_SUCCESS);
  ASSERT_EQ(bs->AllocatePool(EfiRuntimeServicesData, 8, &kept), EFI_SUCCESS);
  ASSERT_EQ(bs->AllocatePool(EfiBootServicesData, 8, &record), EFI_SUCCESS);
  WriteUnwatched(static_cast<uint8_t *>(freed) + 13, 0);
  ASSERT_EQ(bs->FreePool(freed), EFI_SUCCESS);
  WriteUnwatched(static_cast<uint8_t *>(kept) - 1, 0);

  // A Type 8 record whose Length says 0x20 bytes, in an 8-byte block.
  const uint8_t lying[8] = {8, 0x20, 0xFE, 0xFF, 1, 0x0B, 2, 0x0B};
  std::memcpy(record, lying, sizeof(lying));
  void *interface = nullptr;
  ASSERT_EQ(bs->LocateProtocol(&gEfiSmbiosProtocolGuid, nullptr, &interface), EFI_SUCCESS);
  auto *smbios = static_cast<EFI_SMBIOS_PROTOCOL *>(interface);
  EFI_SMBIOS_HANDLE handle = SMBIOS_HANDLE_PI_RESERVED;
  EXPECT_EQ(smbios->Add(smbios, nullptr, &handle, static_cast<EFI_SMBIOS_TABLE_HEADER *>(record)),
            EFI_INVALID_PARAMETER);
  ASSERT_EQ(bs->FreePool(record), EFI_SUCCESS);

  const host::BootResult result = host::DeriveBootResult(firmware, host::DriverState{}, host::DriverRun{});
  const json report = host::BootReportJson(result);
  const char *const freedText =
      "allocation 1 (13 bytes of boot-services data) overwritten after its end (found when it was freed)";
  const char *const keptText =
      "allocation 2 (8 bytes of runtime-services data) overwritten before its start (found while it was still "
      "allocated)";
  const char *const problem =
      "its formatted area (Length 0x20) runs past the end of its pool block (allocation 3, 8 bytes of boot-services "
      "data)";
  EXPECT_EQ(report["pool"]["damaged_blocks"], json::parse(std::string(R"([
    {"allocation": 1, "size": 13, "memory_type": "boot_services_data", "after_end": true, "before_start": false,
     "found": "when_freed", "description": ")") + freedText + R"("},
    {"allocation": 2, "size": 8, "memory_type": "runtime_services_data", "after_end": false, "before_start": true,
     "found": "while_allocated", "description": ")" + keptText + R"("}])"));
  EXPECT_EQ(report["malformed_records"], json::parse(std::string(R"([{"type": 8, "problem": ")") + problem + R"("}])"));
  EXPECT_TRUE(report["records"].empty());
  EXPECT_EQ(report["service_calls"].back()["detail"], std::string("Type 8: ") + problem);

  const std::string text = host::BootReportText(result);
  EXPECT_NE(text.find(std::string("SMBIOS records added: 0\n"
                                  "SMBIOS records refused as malformed: 1\n"
                                  "  [1] Type 8: ") +
                      problem + "\n"),
            std::string::npos)
      << text;
  EXPECT_NE(text.find(std::string("Pool: 1 block (8 bytes) outstanding after 3 allocations\n"
                                  "  Guard bytes damaged: ") +
                      freedText + "\n  Guard bytes damaged: " + keptText + "\n"),
            std::string::npos)
      << text;

  std::vector<std::string> faults;
  for (const host::BootFailure &failure : result.Failures()) {
    faults.push_back(host::FailureText(result, failure));
  }
  EXPECT_EQ(faults,
            (std::vector<std::string>{
                "the driver returned holding 1 pool block beyond the heap buffer list's 0 nodes",
                std::string("the driver overwrote the guard bytes of a pool block: ") + freedText,
                std::string("the driver overwrote the guard bytes of a pool block: ") + keptText,
                std::string("the driver added a malformed SMBIOS record (Type 8): ") + problem}));
  ASSERT_EQ(bs->FreePool(kept), EFI_SUCCESS);
}

// The heap buffer list the driver leaves is read through checked pointers
// only: where a link leaves the driver's memory, the adopted interface and
// the live pool blocks, the walk ends and the report says where, naming the
// place by what holds it (the driver's list interface, a pool allocation)
// or as host memory, never by a number of the host's own memory. The list
// is built here by hand: an interface of the driver's whose head leads to
// one node in a pool block, then one link is damaged.
struct LinkDamage {
  const char *what;
  // Damages the list: the head, the node (in its pool block), and a word of
  // this test's own memory that a link may be pointed at.
  std::function<void(HEAP_LIST_ENTRY *&anchor, HEAP_BUFFER_LIST_INTERFACE &, HEAP_BUFFER_NODE &, uint64_t &)> apply;
  const char *problem;  // links_problem
  size_t nodes;         // read before the walk ended
};

class ListLinksTest : public ::testing::TestWithParam<LinkDamage> {};

TEST_P(ListLinksTest, EndAtTheFirstPointerOutsideAndSayWhereByWhatHoldsIt) {
  sim::SimFirmware firmware(sim::DefaultPlatform());
  EFI_BOOT_SERVICES *bs = firmware.SystemTable()->BootServices;
  void *block = nullptr;
  ASSERT_EQ(bs->AllocatePool(EfiBootServicesData, sizeof(HEAP_BUFFER_NODE) + 8, &block), EFI_SUCCESS);
  auto *node = static_cast<HEAP_BUFFER_NODE *>(block);
  HEAP_BUFFER_LIST_INTERFACE interface = {1, {&node->Link, &node->Link}};
  node->Link = {&interface.ListHead, &interface.ListHead};
  node->Header = {0x50414548, 0, 8, 4, 1, 0};
  std::memset(node + 1, 0x5A, 8);
  HEAP_LIST_ENTRY *anchor = &interface.ListHead;
  uint64_t hostWord = 0;
  GetParam().apply(anchor, interface, *node, hostWord);

  host::DriverState driver;
  driver.heapListAnchor = &anchor;
  driver.memory = &interface;
  driver.memorySize = sizeof(interface);
  driver.listInterface = &interface;
  const host::StartupResult startup = host::DeriveStartup(firmware, driver, host::DriverRun{});
  EXPECT_EQ(startup.heapListBreak ? host::HeapListBreakText(*startup.heapListBreak) : "", GetParam().problem);
  EXPECT_EQ(startup.heapListLinksConsistent, GetParam().problem[0] == 0);
  EXPECT_EQ(startup.heapNodes.size(), GetParam().nodes);
  EXPECT_FALSE(startup.heapListMapProblem.has_value()) << "the linked-in driver has no map";
  ASSERT_EQ(bs->FreePool(block), EFI_SUCCESS);
}

INSTANTIATE_TEST_SUITE_P(
    Links, ListLinksTest,
    ::testing::Values(
        LinkDamage{"intact", [](auto &, auto &, auto &, uint64_t &) {}, "", 1},
        LinkDamage{"forward_to_a_small_number",
                   [](auto &, HEAP_BUFFER_LIST_INTERFACE &i, auto &, uint64_t &) {
                     i.ListHead.Forward = reinterpret_cast<HEAP_LIST_ENTRY *>(0x1);
                   },
                   "forward, node 1 lies outside the driver's memory and the pool (at 0x1)", 0},
        LinkDamage{"forward_into_host_memory",
                   [](auto &, auto &, HEAP_BUFFER_NODE &n, uint64_t &word) {
                     n.Link.Forward = reinterpret_cast<HEAP_LIST_ENTRY *>(&word);
                   },
                   "forward, node 2 lies outside the driver's memory and the pool (at host memory)", 1},
        LinkDamage{"payload_past_its_block",
                   [](auto &, auto &, HEAP_BUFFER_NODE &n, uint64_t &) { n.Header.Size = 4096; },
                   "forward, node 1 (at pool allocation 1+0x0 (of 40 bytes)) with 4096 payload bytes runs outside "
                   "the driver's memory and the pool",
                   0},
        LinkDamage{"backward_to_a_small_number",
                   [](auto &, auto &, HEAP_BUFFER_NODE &n, uint64_t &) {
                     n.Link.Back = reinterpret_cast<HEAP_LIST_ENTRY *>(0x10);
                   },
                   "backward, entry 2 lies outside the driver's memory and the pool (at 0x10)", 1},
        LinkDamage{"backward_not_the_reverse",
                   [](auto &, HEAP_BUFFER_LIST_INTERFACE &i, auto &, uint64_t &) {
                     i.ListHead.Back = &i.ListHead;
                   },
                   "the backward walk is not the reverse of the forward walk", 1},
        LinkDamage{"head_in_host_memory",
                   [](HEAP_LIST_ENTRY *&anchor, auto &, auto &, uint64_t &word) {
                     anchor = reinterpret_cast<HEAP_LIST_ENTRY *>(&word);
                   },
                   "the list head lies outside the driver's memory and the pool (at host memory)", 0}),
    [](const ::testing::TestParamInfo<LinkDamage> &info) { return std::string(info.param.what); });

}  // namespace
