// The simulated firmware's typed log: each logged call carries what it
// concerned as data, and FormatServiceCall alone turns it into the text the
// reports show.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <vector>

#include "driver/firmware/Guids.h"
#include "driver/firmware/Protocol/DevicePath.h"
#include "driver/firmware/Protocol/PciIo.h"
#include "host/boot/LinkedPaths.h"
#include "host/sim/ServiceLog.h"
#include "host/sim/SimFirmware.h"
#include "host/sim/Text.h"

namespace {

using sim::Service;
using sim::SimFirmware;

EFI_BOOT_SERVICES *Bs(SimFirmware &fw) { return fw.SystemTable()->BootServices; }

bool Same(const std::optional<EFI_GUID> &guid, const EFI_GUID &expected) {
  return guid && sim::SameGuid(*guid, expected);
}

TEST(ServiceLogTest, SmbiosAddCarriesTheStoredRecordAndItsHandle) {
  SimFirmware fw(sim::DefaultPlatform());
  void *interface = nullptr;
  ASSERT_EQ(Bs(fw)->LocateProtocol(&gEfiSmbiosProtocolGuid, nullptr, &interface), EFI_SUCCESS);
  auto *smbios = static_cast<EFI_SMBIOS_PROTOCOL *>(interface);
  std::vector<uint8_t> record = {8, 9, 0xFE, 0xFF, 1, 0x0B, 0, 0x0B, 0x1F, 'J', '1', 0, 0};
  uint16_t handle = SMBIOS_HANDLE_PI_RESERVED;
  ASSERT_EQ(smbios->Add(smbios, nullptr, &handle, reinterpret_cast<EFI_SMBIOS_TABLE_HEADER *>(record.data())),
            EFI_SUCCESS);

  const sim::ServiceCall &call = fw.Calls().back();
  EXPECT_EQ(call.service, Service::SmbiosAdd);
  EXPECT_EQ(call.status, EFI_SUCCESS);
  EXPECT_EQ(call.recordType, 8);
  EXPECT_EQ(call.smbiosHandle, handle);
  std::vector<uint8_t> stored = record;
  stored[2] = static_cast<uint8_t>(handle);
  stored[3] = static_cast<uint8_t>(handle >> 8);
  EXPECT_EQ(call.record, stored) << "the exact bytes of the table's copy, with the handle assigned";
  EXPECT_EQ(call.record, fw.Smbios().Records().back().bytes);
  const sim::ServiceCallText text = sim::FormatServiceCall(call);
  EXPECT_EQ(text.service, "SMBIOS Add");
  EXPECT_EQ(text.detail, "Type 8");

  // Refused (the handle is taken): the Type, the status, no stored bytes.
  ASSERT_EQ(smbios->Add(smbios, nullptr, &handle, reinterpret_cast<EFI_SMBIOS_TABLE_HEADER *>(record.data())),
            EFI_ALREADY_STARTED);
  EXPECT_EQ(fw.Calls().back().status, EFI_ALREADY_STARTED);
  EXPECT_EQ(fw.Calls().back().recordType, 8);
  EXPECT_TRUE(fw.Calls().back().record.empty());
}

TEST(ServiceLogTest, ARefusedAllocationCarriesItsNumberSizeAndType) {
  sim::Platform platform = sim::DefaultPlatform();
  platform.faults.failAllocations = {2};
  SimFirmware fw(platform);
  void *first = nullptr;
  void *second = nullptr;
  ASSERT_EQ(Bs(fw)->AllocatePool(EfiBootServicesData, 16, &first), EFI_SUCCESS);
  EXPECT_TRUE(fw.Calls().empty()) << "a served allocation is not logged";
  ASSERT_EQ(Bs(fw)->AllocatePool(EfiRuntimeServicesData, 40, &second), EFI_OUT_OF_RESOURCES);
  ASSERT_EQ(fw.Calls().size(), 1u);
  const sim::ServiceCall &call = fw.Calls()[0];
  EXPECT_EQ(call.service, Service::AllocatePool);
  EXPECT_EQ(call.status, EFI_OUT_OF_RESOURCES);
  EXPECT_EQ(call.allocation, 2u);
  EXPECT_EQ(call.size, 40u);
  EXPECT_EQ(call.memoryType, EfiRuntimeServicesData);
  EXPECT_EQ(sim::FormatServiceCall(call).detail, "allocation 2 (40 bytes of runtime-services data) refused");

  int local = 0;
  EXPECT_EQ(Bs(fw)->FreePool(&local), EFI_INVALID_PARAMETER);
  EXPECT_EQ(fw.Calls().back().service, Service::FreePool);
  EXPECT_EQ(fw.Calls().back().buffer, reinterpret_cast<uintptr_t>(&local));
  EXPECT_EQ(Bs(fw)->FreePool(first), EFI_SUCCESS);
  EXPECT_EQ(fw.Calls().size(), 2u) << "a valid free is not logged";
}

TEST(ServiceLogTest, GetVariableCarriesTheNameTheGuidAndTheBytesReceived) {
  sim::Platform platform = sim::DefaultPlatform();
  platform.variables[0].data = {0x01, 0x02, 0x00, 0x00};
  SimFirmware fw(platform);
  UINT32 word = 0;
  UINTN size = sizeof(word);
  ASSERT_EQ(fw.SystemTable()->RuntimeServices->GetVariable(u"NioTypeProtected", &gNioTypeVariableGuid, nullptr, &size,
                                                           &word),
            EFI_SUCCESS);
  const sim::ServiceCall &call = fw.Calls().back();
  EXPECT_EQ(call.service, Service::GetVariable);
  EXPECT_EQ(call.variableName, std::u16string(u"NioTypeProtected"));
  EXPECT_TRUE(Same(call.guid, gNioTypeVariableGuid));
  EXPECT_EQ(call.bufferSize, 4u);
  EXPECT_EQ(call.data, (std::vector<uint8_t>{0x01, 0x02, 0x00, 0x00}));
  EXPECT_EQ(sim::FormatServiceCall(call).detail, "NioTypeProtected");

  size = 2;
  ASSERT_EQ(fw.SystemTable()->RuntimeServices->GetVariable(u"NioTypeProtected", &gNioTypeVariableGuid, nullptr, &size,
                                                           &word),
            EFI_BUFFER_TOO_SMALL);
  EXPECT_EQ(fw.Calls().back().bufferSize, 2u);
  EXPECT_TRUE(fw.Calls().back().data.empty()) << "nothing received";
  ASSERT_EQ(fw.SystemTable()->RuntimeServices->GetVariable(nullptr, &gNioTypeVariableGuid, nullptr, &size, &word),
            EFI_INVALID_PARAMETER);
  EXPECT_FALSE(fw.Calls().back().variableName.has_value());
  EXPECT_EQ(sim::FormatServiceCall(fw.Calls().back()).detail, "(null)");
}

// The slot probe's calls: the path given and the handle found, then the
// handle opened, then the PCI I/O instance's calls with the bytes read.
TEST(ServiceLogTest, TheProbesCallsCarryPathsHandlesAndBytes) {
  SimFirmware fw(sim::DefaultPlatform());
  const sim::PciModel::Function *port = nullptr;
  for (const auto &function : fw.Pci().Functions()) {
    if (function->bridge && port == nullptr) {
      port = function.get();
    }
  }
  ASSERT_NE(port, nullptr);
  const sim::HandleRef portRef = fw.Protocols().Ref(port->handle);
  ASSERT_FALSE(portRef.devicePath.empty());
  const std::string portText = host::LinkedPathText(portRef.devicePath);
  EXPECT_EQ(portText.rfind("PciRoot(0x0)/Pci(", 0), 0u) << portText;
  const std::string portBytes = sim::PathBytesText(portRef.devicePath);
  EXPECT_EQ(portBytes, "path " + sim::HexBytes(portRef.devicePath)) << "the firmware's own naming";

  std::vector<uint8_t> wanted = portRef.devicePath;
  auto *cursor = reinterpret_cast<EFI_DEVICE_PATH_PROTOCOL *>(wanted.data());
  EFI_HANDLE found = nullptr;
  ASSERT_EQ(Bs(fw)->LocateDevicePath(&gEfiDevicePathProtocolGuid, &cursor, &found), EFI_SUCCESS);
  const sim::ServiceCall located = fw.Calls().back();
  EXPECT_EQ(located.service, Service::LocateDevicePath);
  EXPECT_TRUE(Same(located.guid, gEfiDevicePathProtocolGuid));
  EXPECT_EQ(located.devicePath, wanted) << "the path as given, before the cursor moved";
  EXPECT_EQ(located.handle.handle, port->handle);
  EXPECT_EQ(located.handle.devicePath, portRef.devicePath);
  EXPECT_EQ(sim::FormatServiceCall(located, host::LinkedPathText).detail, "device path protocol for " + portText);
  EXPECT_EQ(sim::FormatServiceCall(located, host::LinkedPathText).result, portText);
  EXPECT_EQ(sim::FormatServiceCall(located).detail, "device path protocol for " + portBytes);
  EXPECT_EQ(sim::FormatServiceCall(located).result, portBytes);

  EFI_PCI_IO_PROTOCOL *pciIo = nullptr;
  ASSERT_EQ(Bs(fw)->OpenProtocol(found, &gEfiPciIoProtocolGuid, reinterpret_cast<void **>(&pciIo), nullptr, nullptr,
                                 EFI_OPEN_PROTOCOL_BY_HANDLE_PROTOCOL),
            EFI_SUCCESS);
  EXPECT_EQ(fw.Calls().back().service, Service::OpenProtocol);
  EXPECT_EQ(fw.Calls().back().handle.handle, port->handle);
  uint8_t secondary = 0xEE;
  ASSERT_EQ(pciIo->Pci.Read(pciIo, EfiPciIoWidthUint8, 0x19, 1, &secondary), EFI_SUCCESS);
  const sim::ServiceCall &read = fw.Calls().back();
  EXPECT_EQ(read.service, Service::PciIoPciRead);
  EXPECT_EQ(read.handle.handle, port->handle);
  EXPECT_EQ(read.offset, 0x19u);
  EXPECT_EQ(read.data, std::vector<uint8_t>{secondary});
  EXPECT_EQ(secondary, port->config[0x19]);
  EXPECT_EQ(sim::FormatServiceCall(read, host::LinkedPathText).detail, portText + " offset 0x19");
}

// A handle is named by its device path, else by its number, else as no
// handle of the firmware.
TEST(ServiceLogTest, HandlesAreNamedByPathNumberOrNotAtAll) {
  SimFirmware fw(sim::DefaultPlatform());
  EXPECT_EQ(sim::HandleText(fw.Protocols().Ref(nullptr)), "");
  const sim::HandleRef image = fw.Protocols().Ref(fw.ImageHandle());
  EXPECT_EQ(image.serial, 1u);
  EXPECT_EQ(sim::HandleText(image), "handle 1");
  int notAHandle = 0;
  EXPECT_EQ(sim::HandleText(fw.Protocols().Ref(&notAHandle)), "not a handle");
}

}  // namespace
