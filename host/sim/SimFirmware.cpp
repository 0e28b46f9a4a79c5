// The system table and its boot and runtime services as the driver sees
// them: the one active firmware, the EFIAPI thunks in the tables, and the
// configuration table.
#include "host/sim/SimFirmware.h"

#include <cstdio>
#include <cstdlib>

#include "firmware/Guids.h"

namespace sim {

namespace {

SimFirmware *gActive = nullptr;
bool gEverActive = false;

SimFirmware &Active() {
  if (gActive == nullptr) {
    std::fprintf(stderr, "firmware service called without a simulated firmware\n");
    std::abort();
  }
  return *gActive;
}

// The EFIAPI entry points in the tables; each forwards to the active firmware.
EFI_STATUS EFIAPI ThunkAllocatePool(EFI_MEMORY_TYPE type, UINTN size, VOID **buffer) {
  return Active().AllocatePool(type, size, buffer);
}
EFI_STATUS EFIAPI ThunkFreePool(VOID *buffer) { return Active().FreePool(buffer); }
EFI_STATUS EFIAPI ThunkCloseEvent(EFI_EVENT event) { return Active().CloseEvent(event); }
EFI_STATUS EFIAPI ThunkInstallProtocolInterface(EFI_HANDLE *handle, const EFI_GUID *guid, EFI_INTERFACE_TYPE type,
                                                VOID *interface) {
  return Active().InstallProtocolInterface(handle, guid, type, interface);
}
EFI_STATUS EFIAPI ThunkLocateDevicePath(const EFI_GUID *guid, EFI_DEVICE_PATH_PROTOCOL **path, EFI_HANDLE *device) {
  return Active().LocateDevicePath(guid, path, device);
}
EFI_STATUS EFIAPI ThunkOpenProtocol(EFI_HANDLE handle, const EFI_GUID *guid, VOID **interface, EFI_HANDLE agent,
                                    EFI_HANDLE controller, UINT32 attributes) {
  return Active().OpenProtocol(handle, guid, interface, agent, controller, attributes);
}
EFI_STATUS EFIAPI ThunkLocateProtocol(const EFI_GUID *guid, VOID *registration, VOID **interface) {
  return Active().LocateProtocol(guid, registration, interface);
}
EFI_STATUS EFIAPI ThunkCreateEventEx(UINT32 type, EFI_TPL tpl, EFI_EVENT_NOTIFY notify, const VOID *context,
                                     const EFI_GUID *group, EFI_EVENT *event) {
  return Active().CreateEventEx(type, tpl, notify, context, group, event);
}
EFI_STATUS EFIAPI ThunkGetVariable(const CHAR16 *name, const EFI_GUID *guid, UINT32 *attributes, UINTN *size,
                                   VOID *data) {
  return Active().GetVariable(name, guid, attributes, size, data);
}
EFI_STATUS EFIAPI ThunkSmbiosAdd(EFI_SMBIOS_PROTOCOL *self, EFI_HANDLE producer, EFI_SMBIOS_HANDLE *handle,
                                 EFI_SMBIOS_TABLE_HEADER *record) {
  return Active().SmbiosAdd(self, producer, handle, record);
}

// Services the driver never calls: reaching one is a fault worth seeing.
[[noreturn]] void EFIAPI UnexpectedService() {
  std::fprintf(stderr, "the driver called a firmware service the simulation does not provide\n");
  std::abort();
}

void FillUnexpected(void *table, size_t headerSize, size_t size) {
  auto **slots = reinterpret_cast<void **>(static_cast<uint8_t *>(table) + headerSize);
  for (size_t i = 0; i < (size - headerSize) / sizeof(void *); i++) {
    slots[i] = reinterpret_cast<void *>(&UnexpectedService);
  }
}

}  // namespace

SimFirmware::SimFirmware(const Platform &platform) : platform_(platform) {
  if (gActive != nullptr) {
    std::fprintf(stderr, "only one simulated firmware can be active at a time\n");
    std::abort();
  }
  gActive = this;
  gEverActive = true;
  SetActiveHardware(&hardware_);

  FillUnexpected(&bootServices_, sizeof(EFI_TABLE_HEADER), sizeof(bootServices_));
  bootServices_.Hdr = {EFI_BOOT_SERVICES_SIGNATURE, 0x00020046, sizeof(EFI_BOOT_SERVICES), 0, 0};
  bootServices_.AllocatePool = ThunkAllocatePool;
  bootServices_.FreePool = ThunkFreePool;
  bootServices_.CloseEvent = ThunkCloseEvent;
  bootServices_.InstallProtocolInterface = ThunkInstallProtocolInterface;
  bootServices_.LocateDevicePath = ThunkLocateDevicePath;
  bootServices_.OpenProtocol = ThunkOpenProtocol;
  bootServices_.LocateProtocol = ThunkLocateProtocol;
  bootServices_.CreateEventEx = ThunkCreateEventEx;

  FillUnexpected(&runtimeServices_, sizeof(EFI_TABLE_HEADER), sizeof(runtimeServices_));
  runtimeServices_.Hdr = {EFI_RUNTIME_SERVICES_SIGNATURE, 0x00020046, sizeof(EFI_RUNTIME_SERVICES), 0, 0};
  runtimeServices_.GetVariable = ThunkGetVariable;

  systemTable_.Hdr = {EFI_SYSTEM_TABLE_SIGNATURE, 0x00020046, sizeof(EFI_SYSTEM_TABLE), 0, 0};
  systemTable_.FirmwareVendor = const_cast<CHAR16 *>(u"Simulated platform");
  systemTable_.FirmwareRevision = 0x00010000;
  systemTable_.BootServices = &bootServices_;
  systemTable_.RuntimeServices = &runtimeServices_;
  systemTable_.NumberOfTableEntries = 0;
  systemTable_.ConfigurationTable = nullptr;

  imageHandle_ = NewHandle();

  if (platform_.protocols.smbios) {
    smbios_.protocol.Add = ThunkSmbiosAdd;
    smbios_.protocol.UpdateString = reinterpret_cast<void *>(&UnexpectedService);
    smbios_.protocol.Remove = reinterpret_cast<void *>(&UnexpectedService);
    smbios_.protocol.GetNext = reinterpret_cast<void *>(&UnexpectedService);
    smbios_.protocol.MajorVersion = 3;
    smbios_.protocol.MinorVersion = 0;
    smbios_.owner = this;
    EFI_HANDLE handle = nullptr;
    InstallProtocol(&handle, gEfiSmbiosProtocolGuid, &smbios_.protocol);
  }

  InstallStartupServices();
  pci_ = std::make_unique<PciModel>(platform_.pci, *this, hardware_);
}

SimFirmware::~SimFirmware() {
  ReleasePoolBlocks();
  ReleaseRecycledBlocks();
  ReleaseStartupServices();
  SetActiveHardware(nullptr);
  gActive = nullptr;
}

bool SimFirmware::EverActive() { return gEverActive; }

void SimFirmware::AddConfigurationTable(const EFI_GUID &guid, void *table) {
  configurationTable_.push_back({guid, table});
  systemTable_.NumberOfTableEntries = configurationTable_.size();
  systemTable_.ConfigurationTable = configurationTable_.data();
}

}  // namespace sim
