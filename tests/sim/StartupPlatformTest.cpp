// The start-up part of the platform description: the built-in default, the
// JSON fields and their errors, and the hand-off block list built from it.
#include <gtest/gtest.h>

#include "driver/firmware/Guids.h"
#include "host/boot/Report.h"
#include "host/sim/Platform.h"

namespace {

std::string ErrorOf(const std::string &text) {
  try {
    sim::ParsePlatformJson(text);
  } catch (const sim::PlatformError &error) {
    return error.what();
  }
  return "(accepted)";
}

TEST(StartupPlatformTest, DefaultHasBothPcdProtocolsTwoHeapBlocksAndNothingThatWrites) {
  const sim::Platform platform = sim::DefaultPlatform();
  EXPECT_TRUE(platform.protocols.pcd);
  EXPECT_TRUE(platform.protocols.efiPcd);
  EXPECT_FALSE(platform.protocols.debugPrint);
  EXPECT_FALSE(platform.protocols.debugPrintAfterLookups);
  EXPECT_FALSE(platform.protocols.heapBufferList);
  EXPECT_FALSE(platform.uart.present);
  EXPECT_TRUE(platform.platformRegisters.registers.empty()) << "stream select registers read 0";
  ASSERT_TRUE(platform.hobList.present);
  ASSERT_EQ(platform.hobList.blocks.size(), 2u);
  for (const sim::HandOffBlock &block : platform.hobList.blocks) {
    EXPECT_EQ(block.kind, sim::HandOffBlock::Kind::Heap);
    EXPECT_EQ(block.signature, 0x50414548u);
    EXPECT_EQ(block.transferFlag, 1);
  }
  EXPECT_EQ(platform.cpu.stopOverride, 0);
}

TEST(StartupPlatformTest, HandOffListBytesAreLaidOutAsThePiBlocksAre) {
  sim::HandOffBlock heap;
  heap.name = gHeapHandOffGuid;
  heap.reserved = 0x01020304;
  heap.poolKind = 8;
  heap.reserved2 = 0xA1B2;
  heap.data = {'H', 'i', '!'};
  sim::HandOffBlock other;
  other.kind = sim::HandOffBlock::Kind::Other;
  other.hobType = 0x0006;
  other.data = {0xAA};
  other.hobLength = 0x20;
  const std::vector<uint8_t> bytes = sim::BuildHobList({true, {heap, other}, true});
  EXPECT_EQ(host::HexBytes(bytes),
            // GUID extension, 48 bytes: header, name, heap header, payload, padding.
            "04 00 30 00 00 00 00 00 "
            "1A 16 7D D9 CD 16 DA 4A B9 F6 AE C3 F9 FC CC 2C "
            "48 45 41 50 04 03 02 01 03 00 00 00 08 01 B2 A1 "
            "48 69 21 00 00 00 00 00 "
            // Another type, its length as given rather than its own 16.
            "06 00 20 00 00 00 00 00 AA 00 00 00 00 00 00 00 "
            // The end of the list.
            "FF FF 08 00 00 00 00 00");
}

TEST(StartupPlatformTest, JsonDescribesEveryStartUpService) {
  const sim::Platform platform = sim::ParsePlatformJson(R"({
    "protocols": {"pcd": false, "efi_pcd": true, "debug_print_after_lookups": 2, "heap_buffer_list": true},
    "pcd_tokens": {"625": false, "0x274": "0x12345678"},
    "hob_list": {"blocks": [
      {"kind": "heap", "pool_kind": 8, "transfer_flag": 0, "payload": "01 02", "size": 4, "hob_length": 64},
      {"kind": "guid", "name": "12345678-1234-5678-9ABC-DEF012345678", "data": "FF"},
      {"kind": "other", "hob_type": "0x0003"},
      {"kind": "raw", "bytes": "03 00 00 00"},
      {"kind": "end"}
    ], "end_block": false},
    "platform_registers": {"index": "0xCAFE", "registers": {"0x03810A84": 1}},
    "uart": {"present": true, "line_status": "0x61", "modem_status": "0xB0",
             "line_status_ready_on_read": 1999, "clear_to_send_on_read": 0},
    "cpu": {"pstates": ["0x8000000000000A78", {"enabled": true, "multiplier": 100, "divisor": 12}],
            "tsc_start": 5, "tsc_step": 7, "stop_override": 1, "stop_display_values": 6},
    "faults": {"fail_installs": ["AF62673D-DEDA-43AE-8F03-9C2D89FD78DA",
                                 {"guid": "11B34006-D85B-4D0A-A290-D5A571310EF7", "status": "0x1"}]}
  })");
  EXPECT_FALSE(platform.protocols.pcd);
  EXPECT_EQ(platform.protocols.debugPrintAfterLookups, 2u);
  EXPECT_TRUE(platform.protocols.heapBufferList);
  EXPECT_EQ(platform.pcdTokens.at(625), 0u);
  EXPECT_EQ(platform.pcdTokens.at(628), 0x12345678u);
  EXPECT_EQ(platform.pcdTokens.at(627), 0x73u) << "tokens not given keep the default's values";
  ASSERT_EQ(platform.hobList.blocks.size(), 5u);
  EXPECT_EQ(platform.hobList.blocks[0].poolKind, 8);
  EXPECT_EQ(platform.hobList.blocks[0].transferFlag, 0);
  EXPECT_EQ(platform.hobList.blocks[0].size, 4u);
  EXPECT_EQ(platform.hobList.blocks[0].hobLength, 64);
  EXPECT_EQ(platform.hobList.blocks[1].kind, sim::HandOffBlock::Kind::Guid);
  EXPECT_EQ(platform.hobList.blocks[3].data, (std::vector<uint8_t>{3, 0, 0, 0}));
  EXPECT_FALSE(platform.hobList.endBlock);
  EXPECT_EQ(platform.platformRegisters.index, 0xCAFEu);
  EXPECT_EQ(platform.platformRegisters.registers.at(0x03810A84), 1u);
  EXPECT_EQ(platform.uart.lineStatus, 0x61);
  EXPECT_EQ(platform.uart.lineStatusReadyOnRead, 1999u);
  EXPECT_EQ(platform.uart.clearToSendOnRead, 0u);
  EXPECT_EQ(platform.cpu.pstates, (std::vector<uint64_t>{0x8000000000000A78ULL, 0x8000000000000C64ULL}));
  EXPECT_EQ(platform.cpu.tscStep, 7u);
  EXPECT_EQ(platform.cpu.stopDisplayValues, 6u);
  ASSERT_EQ(platform.faults.failInstalls.size(), 2u);
  EXPECT_EQ(platform.faults.failInstalls[0].status, EFI_OUT_OF_RESOURCES);
  EXPECT_EQ(platform.faults.failInstalls[1].status, 1u);
}

TEST(StartupPlatformTest, MistakesNameTheirField) {
  EXPECT_EQ(ErrorOf(R"({"protocols": {"pcds": true}})"), "protocols.pcds: unknown field");
  EXPECT_EQ(ErrorOf(R"({"protocols": {"debug_print": true, "debug_print_after_lookups": 1}})"),
            "protocols.debug_print_after_lookups: goes with a debug print service that is not present at first");
  EXPECT_EQ(ErrorOf(R"({"pcd_tokens": {"six": 1}})"), "pcd_tokens.six: not a number: \"six\"");
  EXPECT_EQ(ErrorOf(R"({"hob_list": {"blocks": [{"kind": "heap"}, {"kind": "heap", "colour": 1}]}})"),
            "hob_list.blocks[1].colour: unknown field");
  EXPECT_EQ(ErrorOf(R"({"hob_list": {"blocks": [{"kind": "pile"}]}})"),
            "hob_list.blocks[0].kind: not a block kind: \"pile\" (heap, guid, other, raw, end)");
  EXPECT_EQ(ErrorOf(R"({"hob_list": {"blocks": [{"kind": "guid"}]}})"),
            "hob_list.blocks[0].name: required for a \"guid\" block");
  EXPECT_EQ(ErrorOf(R"({"hob_list": {"blocks": [{"kind": "heap", "hob_length": 65536}]}})"),
            "hob_list.blocks[0].hob_length: out of range (at most 0xFFFF)");
  EXPECT_EQ(ErrorOf(R"({"uart": {"present": "yes"}})"), "uart.present: must be true or false");
  EXPECT_EQ(ErrorOf(R"({"cpu": {"tsc_step": 0}})"),
            "cpu.tsc_step: must be at least 1, or a stop display would never move on");
  EXPECT_EQ(ErrorOf(R"({"cpu": {"pstates": [{"divisor": 64}]}})"),
            "cpu.pstates[0].divisor: out of range (at most 0x3F)");
  EXPECT_EQ(ErrorOf(R"({"faults": {"fail_installs": [{"guid": "not-a-guid"}]}})"),
            "faults.fail_installs[0].guid: not a GUID: \"not-a-guid\"");
  EXPECT_EQ(ErrorOf(R"({"platform_registers": {"registers": {"0x100000000": 1}}})"),
            "platform_registers.registers.0x100000000: out of range (at most 0xFFFFFFFF)");
}

}  // namespace
