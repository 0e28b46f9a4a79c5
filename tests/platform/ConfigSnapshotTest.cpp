// The configuration snapshot constructor, the PCD protocol cache and the
// debug message routing that reports a missing PCD protocol.
#include <cstring>

#include "driver/firmware/Guids.h"
#include "host/boot/Report.h"
#include "tests/platform/StartupFixture.h"

namespace {

class ConfigSnapshotTest : public StartupFixture {
 protected:
  static sim::Platform WithTokens() {
    sim::Platform platform = QuietPlatform();
    platform.pcdTokens = {{625, 1},          {567, 0xA5},       {628, 0x12345678}, {626, 1},
                          {576, 0xCAFEF00D}, {575, 0x00C0FFEE}, {627, 0x5A}};
    return platform;
  }

  // Whatever the block held before, the constructor starts from zero.
  void Scribble() { Driver().FillConfigSnapshot(0xEE); }

  static std::string SnapshotBytes() {
    const auto *bytes = reinterpret_cast<const uint8_t *>(&gPlatformConfigSnapshot);
    return host::HexBytes(std::vector<uint8_t>(bytes, bytes + sizeof(gPlatformConfigSnapshot)));
  }

  static constexpr const char *kZero = "00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00";
};

TEST_F(ConfigSnapshotTest, BothProtocolsPresentFillEveryByte) {
  Start(WithTokens());
  Scribble();
  VexCfgPcdBufLibDxeConstructor();
  // Presets, stop policy, then each token little-endian at its offset.
  EXPECT_EQ(SnapshotBytes(), "01 03 80 00 01 00 01 A5 02 02 02 78 56 34 12 01 0D F0 FE CA EE FF C0 00 5A 02");
  EXPECT_EQ(gPlatformConfigSnapshot.FatalStopEnabled, 1);
  EXPECT_TRUE(Firmware().DebugPrint().Messages().empty());
}

TEST_F(ConfigSnapshotTest, TokensAreReadOnceEachInFieldOrderThroughTheCachedProtocol) {
  Start(WithTokens());
  VexCfgPcdBufLibDxeConstructor();
  std::vector<std::string> reads;
  for (const sim::PcdRead &read : Firmware().Pcd().Reads()) {
    reads.push_back(read.getter + " " + std::to_string(read.token));
  }
  EXPECT_EQ(reads, (std::vector<std::string>{"GetBool 625", "Get8 567", "Get32 628", "GetBool 626", "Get32 576",
                                             "Get32 575", "Get8 627"}));
  // Two presence tests, then one look-up for the cache; the other six
  // token reads use the kept pointer.
  EXPECT_EQ(CallsOf("LocateProtocol"),
            (std::vector<std::string>{"gPcdProtocolGuid: Success", "gEfiPcdProtocolGuid: Success",
                                      "gPcdProtocolGuid: Success"}));
  EXPECT_NE(gPcdProtocol, nullptr);
}

TEST_F(ConfigSnapshotTest, MissingPcdProtocolPrintsOneMessageAndLeavesTheBlockZero) {
  sim::Platform platform = WithTokens();
  platform.protocols.pcd = false;
  platform.protocols.debugPrint = true;
  Start(platform);
  Scribble();
  VexCfgPcdBufLibDxeConstructor();

  ASSERT_EQ(Firmware().DebugPrint().Messages().size(), 1u);
  const sim::DebugMessage &message = Firmware().DebugPrint().Messages()[0];
  EXPECT_EQ(message.errorLevel, 0x80000000u);
  EXPECT_EQ(message.format, "[%a] LocateProtocol: gPcdProtocolGuid, Status: %r\n");
  EXPECT_EQ(message.text, "[VexCfgPcdBufLibDxeConstructor] LocateProtocol: gPcdProtocolGuid, Status: Not Found\n");
  EXPECT_EQ(SnapshotBytes(), kZero);
  // No second presence test, no token read.
  EXPECT_EQ(CallsOf("LocateProtocol"),
            (std::vector<std::string>{"gPcdProtocolGuid: Not Found", "debug print service: Success"}));
  EXPECT_TRUE(Firmware().Pcd().Reads().empty());
}

TEST_F(ConfigSnapshotTest, MissingPiPcdProtocolNamesItAndReadsNoToken) {
  sim::Platform platform = WithTokens();
  platform.protocols.efiPcd = false;
  platform.protocols.debugPrint = true;
  Start(platform);
  Scribble();
  VexCfgPcdBufLibDxeConstructor();

  ASSERT_EQ(Firmware().DebugPrint().Messages().size(), 1u);
  EXPECT_EQ(Firmware().DebugPrint().Messages()[0].text,
            "[VexCfgPcdBufLibDxeConstructor] LocateProtocol: gEfiPcdProtocolGuid, Status: Not Found\n");
  EXPECT_EQ(SnapshotBytes(), kZero);
  EXPECT_TRUE(Firmware().Pcd().Reads().empty());
  EXPECT_EQ(gPcdProtocol, nullptr) << "the cache is filled by the first token read only";
}

TEST_F(ConfigSnapshotTest, MissingProtocolWithoutAPrintServiceStaysSilentAndZero) {
  sim::Platform platform = WithTokens();
  platform.protocols.pcd = false;
  Start(platform);
  Scribble();
  VexCfgPcdBufLibDxeConstructor();
  EXPECT_TRUE(Firmware().DebugPrint().Messages().empty());
  EXPECT_EQ(SnapshotBytes(), kZero);
  EXPECT_EQ(CallsOf("LocateProtocol"),
            (std::vector<std::string>{"gPcdProtocolGuid: Not Found", "debug print service: Not Found"}));
}

TEST_F(ConfigSnapshotTest, PcdCacheRetriesWhileMissingAndKeepsWhatItFinds) {
  sim::Platform platform = QuietPlatform();
  platform.protocols.pcd = false;
  Start(platform);
  EXPECT_EQ(LocatePcdProtocolOnce(), nullptr);
  EXPECT_EQ(LocatePcdProtocolOnce(), nullptr);
  EXPECT_EQ(CallsOf("LocateProtocol").size(), 2u);

  PCD_PROTOCOL late{};
  EFI_HANDLE handle = nullptr;
  ASSERT_EQ(Firmware().Protocols().InstallProtocol(&handle, gPcdProtocolGuid, &late), EFI_SUCCESS);
  EXPECT_EQ(LocatePcdProtocolOnce(), &late);
  EXPECT_EQ(LocatePcdProtocolOnce(), &late);
  EXPECT_EQ(CallsOf("LocateProtocol").size(), 3u) << "once found, the pointer is kept";
}

class DebugMessageTest : public StartupFixture {};

TEST_F(DebugMessageTest, WithoutTheServiceTheLookUpStatusComesBackAndIsTriedAgain) {
  EXPECT_EQ(WriteDebugMessage(DEBUG_ERROR, "first\n"), EFI_NOT_FOUND);
  EXPECT_EQ(WriteDebugMessage(DEBUG_ERROR, "second\n"), EFI_NOT_FOUND);
  EXPECT_EQ(gDebugPrintService, nullptr);
  EXPECT_EQ(CallsOf("LocateProtocol"),
            (std::vector<std::string>{"debug print service: Not Found", "debug print service: Not Found"}));
  EXPECT_TRUE(Firmware().DebugPrint().Messages().empty());
}

TEST_F(DebugMessageTest, AServiceThatAppearsLaterGetsTheNextMessageAndIsLookedUpOnce) {
  sim::Platform platform = QuietPlatform();
  platform.protocols.debugPrintAfterLookups = 1;
  Start(platform);
  EXPECT_EQ(WriteDebugMessage(DEBUG_ERROR, "dropped\n"), EFI_NOT_FOUND);
  EXPECT_EQ(WriteDebugMessage(DEBUG_ERROR, "one\n"), EFI_SUCCESS);
  EXPECT_EQ(WriteDebugMessage(DEBUG_ERROR, "two\n"), EFI_SUCCESS);
  EXPECT_EQ(CallsOf("LocateProtocol"),
            (std::vector<std::string>{"debug print service: Not Found", "debug print service: Success"}));
  ASSERT_EQ(Firmware().DebugPrint().Messages().size(), 2u);
  EXPECT_EQ(Firmware().DebugPrint().Messages()[0].text, "one\n");
  EXPECT_EQ(Firmware().DebugPrint().Messages()[1].text, "two\n");
}

TEST_F(DebugMessageTest, ArgumentsReachTheServiceAsOneMicrosoftArgumentList) {
  sim::Platform platform = QuietPlatform();
  platform.protocols.debugPrint = true;
  Start(platform);
  const INT64 big = -5000000000LL;
  EXPECT_EQ(WriteDebugMessage(0x40, "%a|%r|%d|%u|%x|%X|%ld|%lx|%c|%5d|%-4d|%04x|%s|%p|%%|%g", "text",
                              EFI_BUFFER_TOO_SMALL, -42, 4000000000U, 0xBEEFU, 0xBEEFU, big, 0x123456789ABCULL, 'Z', 7,
                              7, 0x2A, u"wide", reinterpret_cast<VOID *>(0x1234), &gHeapHandOffGuid),
            EFI_SUCCESS);
  ASSERT_EQ(Firmware().DebugPrint().Messages().size(), 1u);
  const sim::DebugMessage &message = Firmware().DebugPrint().Messages()[0];
  EXPECT_EQ(message.errorLevel, 0x40u) << "no filtering by error level in the driver";
  EXPECT_EQ(message.text,
            "text|Buffer Too Small|-42|4000000000|beef|BEEF|-5000000000|123456789abc|Z|    7|7   |002a|wide|"
            "0000000000001234|%|D97D161A-16CD-4ADA-B9F6-AEC3F9FCCC2C");
}

}  // namespace
