// The simulated protocol database (sim::ProtocolDatabase): LocateDevicePath
// and OpenProtocol over the handles' device paths and protocols, and how
// far LocateDevicePath reads the path it is given.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <string>
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

// What LocateDevicePath reads of the path it is given: node by node, never
// past the live pool block that holds it, or, outside the pool, past the
// longest installed path (root and port: 22 bytes) plus one node header;
// a node whose Length is below 4 or that runs past the bound ends the read
// after its header. Only the bytes read are matched, and they are what the
// log holds.
struct ReadCase {
  const char *name;
  bool inPool;
  std::vector<uint8_t> given;
  size_t read;        // bytes of given that were read and logged
  const char *found;  // "root", "port" or "none"
};

class LocateDevicePathReadTest : public ::testing::TestWithParam<ReadCase> {};

TEST_P(LocateDevicePathReadTest, ReadsNoFurtherThanItsBound) {
  const ReadCase &c = GetParam();
  sim::Platform platform = sim::DefaultPlatform();
  platform.pci.rootBridges.clear();
  SimFirmware fw(platform);
  std::vector<uint8_t> rootPath = Path({kRoot});
  std::vector<uint8_t> portPath = Path({kRoot, kPort});
  int rootIo = 0;
  int portIo = 0;
  EFI_HANDLE root = nullptr;
  EFI_HANDLE port = nullptr;
  fw.Protocols().InstallProtocol(&root, gEfiDevicePathProtocolGuid, rootPath.data());
  fw.Protocols().InstallProtocol(&root, gEfiPciIoProtocolGuid, &rootIo);
  fw.Protocols().InstallProtocol(&port, gEfiDevicePathProtocolGuid, portPath.data());
  fw.Protocols().InstallProtocol(&port, gEfiPciIoProtocolGuid, &portIo);

  EFI_BOOT_SERVICES *bs = Bs(fw);
  std::vector<uint8_t> outside = c.given;
  void *block = nullptr;
  if (c.inPool) {
    ASSERT_EQ(bs->AllocatePool(EfiBootServicesData, c.given.size(), &block), EFI_SUCCESS);
    std::memcpy(block, c.given.data(), c.given.size());
  }
  auto *start = static_cast<uint8_t *>(c.inPool ? block : outside.data());
  auto *cursor = reinterpret_cast<EFI_DEVICE_PATH_PROTOCOL *>(start);
  EFI_HANDLE found = nullptr;
  const EFI_STATUS status = bs->LocateDevicePath(&gEfiPciIoProtocolGuid, &cursor, &found);
  const sim::ServiceCall &call = fw.Calls().back();
  ASSERT_TRUE(call.devicePath.has_value());
  EXPECT_EQ(*call.devicePath, std::vector<uint8_t>(c.given.begin(), c.given.begin() + c.read));
  const std::string foundName = found == root ? "root" : found == port ? "port" : "none";
  EXPECT_EQ(foundName, c.found);
  EXPECT_EQ(status, foundName == "none" ? EFI_NOT_FOUND : EFI_SUCCESS);
  const size_t matched = foundName == "root" ? kRoot.size() : foundName == "port" ? kRoot.size() + kPort.size() : 0;
  EXPECT_EQ(reinterpret_cast<uint8_t *>(cursor), start + matched);
  if (block != nullptr) {
    EXPECT_EQ(bs->FreePool(block), EFI_SUCCESS);
  }
}

std::vector<uint8_t> Bytes(std::initializer_list<std::vector<uint8_t>> parts) {
  std::vector<uint8_t> bytes;
  for (const auto &part : parts) {
    bytes.insert(bytes.end(), part.begin(), part.end());
  }
  return bytes;
}

const std::vector<uint8_t> kEnd = {0x7F, 0xFF, 0x04, 0x00};
// Ten device nodes and no end node.
std::vector<uint8_t> LongPath() {
  std::vector<uint8_t> bytes = Bytes({kRoot, kPort});
  for (int i = 0; i < 10; i++) {
    bytes.insert(bytes.end(), kDevice.begin(), kDevice.end());
  }
  return bytes;
}

INSTANTIATE_TEST_SUITE_P(
    Paths, LocateDevicePathReadTest,
    ::testing::Values(
        ReadCase{"whole_in_its_block_up_to_the_end_node", true, Bytes({kRoot, kPort, kDevice, kEnd, {0xAA, 0xBB}}),
                 28, "port"},
        ReadCase{"a_node_running_past_its_pool_block", true, Bytes({kRoot, {0x01, 0x01, 0x40, 0x00, 0x03, 0x00}}),
                 16, "root"},
        ReadCase{"a_node_with_length_below_4_in_the_pool", true,
                 Bytes({kRoot, {0x01, 0x01, 0x02, 0x00}, kPort, kEnd}), 16, "root"},
        ReadCase{"a_block_ending_inside_a_node_header", true, Bytes({kRoot, {0x01, 0x01}}), 12, "root"},
        ReadCase{"a_first_node_running_past_its_block", true, {0x02, 0x01, 0x0C, 0x00, 0xD0, 0x41}, 4, "none"},
        ReadCase{"outside_the_pool_as_far_as_the_longest_installed_path_and_a_header", false, LongPath(), 24,
                 "port"},
        ReadCase{"a_node_with_length_below_4_outside_the_pool", false,
                 Bytes({kRoot, {0x01, 0x01, 0x03, 0x00}, kPort, kEnd}), 16, "root"},
        ReadCase{"outside_the_pool_a_node_past_the_bound", false, Bytes({kRoot, {0x01, 0x01, 0x40, 0x00}, kEnd}),
                 16, "root"}),
    [](const ::testing::TestParamInfo<ReadCase> &info) { return std::string(info.param.name); });

}  // namespace
