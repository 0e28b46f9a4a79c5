// The simulated protocol database (sim::ProtocolDatabase): LocateDevicePath
// and OpenProtocol over the handles' device paths and protocols.
#include <gtest/gtest.h>

#include <cstdint>
#include <initializer_list>
#include <vector>

#include "driver/firmware/Guids.h"
#include "driver/firmware/Protocol/DevicePath.h"
#include "host/sim/SimFirmware.h"

namespace {

using sim::SimFirmware;

EFI_BOOT_SERVICES *Bs(SimFirmware &fw) { return fw.SystemTable()->BootServices; }

// Nodes: a 12-byte ACPI node, 6-byte PCI nodes, the end node.
std::vector<uint8_t> Path(std::initializer_list<std::vector<uint8_t>> nodes) {
  std::vector<uint8_t> path;
  for (const auto &node : nodes) {
    path.insert(path.end(), node.begin(), node.end());
  }
  path.insert(path.end(), {0x7F, 0xFF, 0x04, 0x00});
  return path;
}
const std::vector<uint8_t> kRoot = {0x02, 0x01, 0x0C, 0x00, 0xD0, 0x41, 0x03, 0x0A, 0, 0, 0, 0};
const std::vector<uint8_t> kPort = {0x01, 0x01, 0x06, 0x00, 0x03, 0x00};
const std::vector<uint8_t> kDevice = {0x01, 0x01, 0x06, 0x00, 0x00, 0x00};

TEST(SimDevicePathTest, LongestMatchWinsAndTheCursorMovesPastIt) {
  sim::Platform platform = sim::DefaultPlatform();
  platform.pci.rootBridges.clear();  // only the handles made here
  SimFirmware fw(platform);
  std::vector<uint8_t> rootPath = Path({kRoot});
  std::vector<uint8_t> portPath = Path({kRoot, kPort});
  int rootIo = 0;
  int portIo = 0;
  EFI_HANDLE root = nullptr;
  EFI_HANDLE port = nullptr;
  EFI_HANDLE bare = nullptr;
  fw.Protocols().InstallProtocol(&root, gEfiDevicePathProtocolGuid, rootPath.data());
  fw.Protocols().InstallProtocol(&root, gEfiPciIoProtocolGuid, &rootIo);
  fw.Protocols().InstallProtocol(&port, gEfiDevicePathProtocolGuid, portPath.data());
  fw.Protocols().InstallProtocol(&port, gEfiPciIoProtocolGuid, &portIo);
  // A handle with the longest path but without the protocol asked for.
  std::vector<uint8_t> deepPath = Path({kRoot, kPort, kDevice});
  fw.Protocols().InstallProtocol(&bare, gEfiDevicePathProtocolGuid, deepPath.data());

  std::vector<uint8_t> wanted = Path({kRoot, kPort, kDevice});
  auto *cursor = reinterpret_cast<EFI_DEVICE_PATH_PROTOCOL *>(wanted.data());
  EFI_HANDLE found = nullptr;
  EFI_BOOT_SERVICES *bs = Bs(fw);
  ASSERT_EQ(bs->LocateDevicePath(&gEfiPciIoProtocolGuid, &cursor, &found), EFI_SUCCESS);
  EXPECT_EQ(found, port);
  EXPECT_EQ(reinterpret_cast<uint8_t *>(cursor), wanted.data() + kRoot.size() + kPort.size());

  std::vector<uint8_t> elsewhere = Path({kPort});
  cursor = reinterpret_cast<EFI_DEVICE_PATH_PROTOCOL *>(elsewhere.data());
  EXPECT_EQ(bs->LocateDevicePath(&gEfiPciIoProtocolGuid, &cursor, &found), EFI_NOT_FOUND);
  EXPECT_EQ(reinterpret_cast<uint8_t *>(cursor), elsewhere.data());

  void *interface = nullptr;
  EXPECT_EQ(bs->OpenProtocol(port, &gEfiPciIoProtocolGuid, &interface, nullptr, nullptr,
                             EFI_OPEN_PROTOCOL_BY_HANDLE_PROTOCOL),
            EFI_SUCCESS);
  EXPECT_EQ(interface, &portIo);
  EXPECT_EQ(bs->OpenProtocol(bare, &gEfiPciIoProtocolGuid, &interface, nullptr, nullptr,
                             EFI_OPEN_PROTOCOL_BY_HANDLE_PROTOCOL),
            EFI_UNSUPPORTED);
}

}  // namespace
