// The start-up services' interfaces (the PCD protocol and the debug print
// service) as the simulated firmware wires them to its services.
#include <gtest/gtest.h>

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "driver/firmware/Guids.h"
#include "host/sim/SimFirmware.h"

namespace {

using sim::SimFirmware;

EFI_BOOT_SERVICES *Bs(SimFirmware &fw) { return fw.SystemTable()->BootServices; }

// Calls a debug print service with no arguments after the format.
void EFIAPI CallPrintWith(DEBUG_PRINT_SERVICE_PRINT print, ...) {
  VA_LIST marker;
  VA_START(marker, print);
  print(0x80000000, "late", marker);
  VA_END(marker);
}
void CallPrint(DEBUG_PRINT_SERVICE_PRINT print) { CallPrintWith(print, 0); }

// A start-up service reached after its firmware is gone (the driver kept a
// PCD or debug print interface past the boot) aborts with a message, as a
// boot service does, instead of reaching the freed firmware.
TEST(SimStartupServicesDeathTest, AServiceCalledAfterItsFirmwareIsGoneAborts) {
  sim::Platform platform = sim::DefaultPlatform();
  platform.protocols.debugPrint = true;
  auto fw = std::make_unique<SimFirmware>(platform);
  void *pcd = nullptr;
  void *debugPrint = nullptr;
  ASSERT_EQ(Bs(*fw)->LocateProtocol(&gPcdProtocolGuid, nullptr, &pcd), EFI_SUCCESS);
  ASSERT_EQ(Bs(*fw)->LocateProtocol(&gDebugPrintServiceGuid, nullptr, &debugPrint), EFI_SUCCESS);
  // The services' entry points, as a driver would have kept them.
  const PCD_PROTOCOL services = *static_cast<PCD_PROTOCOL *>(pcd);
  const auto print = static_cast<DEBUG_PRINT_SERVICE *>(debugPrint)->Print;
  EXPECT_EQ(services.Get8(567), 0x37) << "while the firmware lives";
  fw.reset();
  const char *message = "start-up service called without a simulated firmware";
  EXPECT_DEATH(services.Get8(567), message);
  EXPECT_DEATH(services.Get32(628), message);
  EXPECT_DEATH(services.GetBool(625), message);
  EXPECT_DEATH(CallPrint(print), message);
}

// The PCD getters hand the token's value, cut to their width (any nonzero
// value is TRUE), 0 for a token the platform does not list; each read is
// recorded in order.
TEST(SimStartupServicesTest, PcdGettersCutTheValueToTheirWidthAndAreRecorded) {
  sim::Platform platform = sim::DefaultPlatform();
  platform.pcdTokens = {{1, 0x1234567890ULL}, {2, 0x100}};
  SimFirmware fw(platform);
  void *interface = nullptr;
  ASSERT_EQ(Bs(fw)->LocateProtocol(&gPcdProtocolGuid, nullptr, &interface), EFI_SUCCESS);
  const auto *pcd = static_cast<PCD_PROTOCOL *>(interface);
  EXPECT_EQ(pcd->Get8(1), 0x90);
  EXPECT_EQ(pcd->Get32(1), 0x34567890u);
  EXPECT_EQ(pcd->GetBool(2), 1);
  EXPECT_EQ(pcd->Get32(3), 0u);
  struct Expected {
    std::string getter;
    uint64_t token;
    uint64_t value;
  };
  const std::vector<Expected> expected = {
      {"Get8", 1, 0x90}, {"Get32", 1, 0x34567890}, {"GetBool", 2, 1}, {"Get32", 3, 0}};
  const std::vector<sim::PcdRead> &reads = fw.Pcd().Reads();
  ASSERT_EQ(reads.size(), expected.size());
  for (size_t i = 0; i < reads.size(); i++) {
    EXPECT_EQ(reads[i].getter, expected[i].getter) << i;
    EXPECT_EQ(reads[i].token, expected[i].token) << i;
    EXPECT_EQ(reads[i].value, expected[i].value) << i;
  }
}

// A debug print service that appears later is found by the first look-up
// after the given number of answered look-ups (of any GUID), not before,
// and keeps what is printed through it.
TEST(SimStartupServicesTest, ALateDebugPrintServiceAppearsAfterItsLookups) {
  for (uint64_t after : {uint64_t{0}, uint64_t{1}, uint64_t{3}}) {
    sim::Platform platform = sim::DefaultPlatform();
    platform.protocols.debugPrintAfterLookups = after;
    SimFirmware fw(platform);
    void *found = nullptr;
    for (uint64_t answered = 0; answered < after; answered++) {
      EXPECT_EQ(Bs(fw)->LocateProtocol(&gDebugPrintServiceGuid, nullptr, &found), EFI_NOT_FOUND) << after;
    }
    EXPECT_FALSE(fw.DebugPrint().Installed()) << after;
    ASSERT_EQ(Bs(fw)->LocateProtocol(&gDebugPrintServiceGuid, nullptr, &found), EFI_SUCCESS) << after;
    EXPECT_TRUE(fw.DebugPrint().Installed());
    CallPrint(static_cast<DEBUG_PRINT_SERVICE *>(found)->Print);
    ASSERT_EQ(fw.DebugPrint().Messages().size(), 1u);
    EXPECT_EQ(fw.DebugPrint().Messages()[0].errorLevel, 0x80000000u);
    EXPECT_EQ(fw.DebugPrint().Messages()[0].format, "late");
    EXPECT_EQ(fw.DebugPrint().Messages()[0].text, "late");
  }
}

}  // namespace
