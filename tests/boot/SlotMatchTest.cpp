// A slot is tied to its probe's LocateDevicePath call by bytes: the row's
// text as the linked-in converter builds it must be exactly the bytes the
// firmware read of the path the driver gave. The calls are made by hand;
// the converter and the formatter run on the host's own pool and leave the
// firmware's pool and log untouched.
#include <gtest/gtest.h>

#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "driver/base/Tables.h"
#include "driver/firmware/Guids.h"
#include "host/boot/Explain.h"
#include "host/boot/LinkedPaths.h"
#include "host/boot/Wording.h"
#include "host/sim/SimFirmware.h"

namespace {

using sim::Service;

// The bytes of "PciRoot(0x0)/Pci(0x0,0x3)", the first slot row of layout A.
const std::vector<uint8_t> kSlot1 = {0x02, 0x01, 0x0C, 0x00, 0xD0, 0x41, 0x03, 0x0A, 0x00, 0x00, 0x00, 0x00,
                                     0x01, 0x01, 0x06, 0x00, 0x03, 0x00, 0x7F, 0xFF, 0x04, 0x00};

TEST(LinkedPathsTest, ConvertAndNameWithoutTouchingTheFirmware) {
  sim::SimFirmware firmware(sim::DefaultPlatform());
  EFI_BOOT_SERVICES *const before = gBootServices;
  const uint64_t allocations = firmware.Pool().Statistics().allocations;
  const size_t calls = firmware.Calls().size();
  EXPECT_EQ(host::LinkedTextToPath(gLayoutA.Slots[0].DevicePathText), kSlot1);
  EXPECT_EQ(host::LinkedPathText(kSlot1), "PciRoot(0x0)/Pci(0x0,0x3)");
  const std::vector<uint8_t> shortNode = {0x01, 0x01, 0x02, 0x00, 0x7F, 0xFF, 0x04, 0x00};
  EXPECT_EQ(host::LinkedPathText(shortNode), "<the node at offset 0 has Length 2, below 4>");
  EXPECT_EQ(gBootServices, before);
  EXPECT_EQ(firmware.Pool().Statistics().allocations, allocations);
  EXPECT_EQ(firmware.Calls().size(), calls);
}

sim::ServiceCall Locate(const EFI_GUID &guid, std::vector<uint8_t> path, EFI_STATUS status, EFI_HANDLE handle) {
  sim::ServiceCall call{Service::LocateDevicePath, status};
  call.guid = guid;
  call.devicePath = std::move(path);
  call.handle.handle = handle;
  call.handle.devicePath = {0x02, 0x01, 0x0C, 0x00, 0xD0, 0x41, 0x03, 0x0A, 0, 0, 0, 0, 0x7F, 0xFF, 0x04, 0x00};
  return call;
}

struct MatchCase {
  const char *name;
  std::function<std::vector<sim::ServiceCall>(EFI_HANDLE port)> calls;
  std::optional<size_t> locateCall;
  host::SlotProbe probe;
  std::optional<size_t> endCall;
  const char *probeText;
};

class SlotMatchTest : public ::testing::TestWithParam<MatchCase> {};

TEST_P(SlotMatchTest, TheCallWithTheRowsBytesIsTheProbes) {
  const MatchCase &c = GetParam();
  sim::SimFirmware firmware(sim::DefaultPlatform());
  int port = 0;
  host::BootResult result;
  result.calls = c.calls(&port);
  result.slots = host::DescribeSlots(result.calls, firmware.Pci(), gLayoutA, {});
  ASSERT_EQ(result.slots.size(), gLayoutA.SlotCount);
  const host::SlotResult &slot = result.slots[0];
  EXPECT_EQ(slot.locateCall, c.locateCall);
  EXPECT_EQ(slot.PathConverted(), c.locateCall.has_value());
  EXPECT_EQ(slot.probe, c.probe);
  EXPECT_EQ(slot.endCall, c.endCall);
  EXPECT_EQ(host::ProbeText(result, slot), c.probeText);
}

sim::ServiceCall Call(Service service, EFI_STATUS status, EFI_HANDLE handle, std::vector<uint8_t> data = {}) {
  sim::ServiceCall call{service, status};
  call.handle.handle = handle;
  call.data = std::move(data);
  return call;
}

std::vector<uint8_t> WithoutEnd(std::vector<uint8_t> path) {
  path.resize(path.size() - 4);
  return path;
}

INSTANTIATE_TEST_SUITE_P(
    Logs, SlotMatchTest,
    ::testing::Values(
        MatchCase{"the_exact_bytes_then_no_pci_io",
                  [](EFI_HANDLE port) {
                    return std::vector<sim::ServiceCall>{
                        Locate(gEfiPciIoProtocolGuid, kSlot1, EFI_SUCCESS, port),  // another protocol: not the probe's
                        Locate(gEfiDevicePathProtocolGuid, kSlot1, EFI_SUCCESS, port),
                        Call(Service::OpenProtocol, EFI_UNSUPPORTED, port)};
                  },
                  1, host::SlotProbe::NoPciIo, 2, "PciRoot(0x0) carries no PCI I/O (OpenProtocol: Unsupported)"},
        MatchCase{"the_bytes_without_their_end_node_are_another_path",
                  [](EFI_HANDLE port) {
                    return std::vector<sim::ServiceCall>{
                        Locate(gEfiDevicePathProtocolGuid, WithoutEnd(kSlot1), EFI_SUCCESS, port)};
                  },
                  std::nullopt, host::SlotProbe::PathNotConverted, std::nullopt,
                  "the device-path text did not convert"},
        MatchCase{"no_handle_found",
                  [](EFI_HANDLE) {
                    return std::vector<sim::ServiceCall>{
                        Locate(gEfiDevicePathProtocolGuid, kSlot1, EFI_NOT_FOUND, nullptr)};
                  },
                  0, host::SlotProbe::NoHandle, std::nullopt,
                  "no handle's device path begins the slot's path (LocateDevicePath: Not Found)"},
        MatchCase{"the_secondary_bus_read",
                  [](EFI_HANDLE port) {
                    return std::vector<sim::ServiceCall>{
                        Locate(gEfiDevicePathProtocolGuid, kSlot1, EFI_SUCCESS, port),
                        Call(Service::OpenProtocol, EFI_SUCCESS, port),
                        Call(Service::PciIoGetLocation, EFI_SUCCESS, port),
                        Call(Service::PciIoPciRead, EFI_SUCCESS, port, {0x7E})};
                  },
                  0, host::SlotProbe::ReadBehindPort, 3, "no device on secondary bus 0x7E"},
        MatchCase{"get_location_failed",
                  [](EFI_HANDLE port) {
                    return std::vector<sim::ServiceCall>{
                        Locate(gEfiDevicePathProtocolGuid, kSlot1, EFI_SUCCESS, port),
                        Call(Service::OpenProtocol, EFI_SUCCESS, port),
                        Call(Service::PciIoGetLocation, EFI_DEVICE_ERROR, port)};
                  },
                  0, host::SlotProbe::GetLocationFailed, 2, "GetLocation failed (Device Error): stored location kept"}),
    [](const ::testing::TestParamInfo<MatchCase> &info) { return std::string(info.param.name); });

}  // namespace
