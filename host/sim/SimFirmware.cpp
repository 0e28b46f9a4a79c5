// The system table and its boot and runtime services as the driver sees
// them: the one active firmware, the EFIAPI thunks in the tables that hand
// each call to its service, the SMBIOS protocol, and the configuration
// table.
#include "host/sim/SimFirmware.h"

#include <cstdio>
#include <cstdlib>

#include "driver/firmware/Guids.h"

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

// The EFIAPI entry points in the tables; each hands the call to its service
// in the active firmware.
EFI_STATUS EFIAPI ThunkAllocatePool(EFI_MEMORY_TYPE type, UINTN size, VOID **buffer) {
  return Active().Pool().AllocatePool(type, size, buffer);
}
EFI_STATUS EFIAPI ThunkFreePool(VOID *buffer) { return Active().Pool().FreePool(buffer); }
EFI_STATUS EFIAPI ThunkCloseEvent(EFI_EVENT event) { return Active().Events().CloseEvent(event); }
EFI_STATUS EFIAPI ThunkInstallProtocolInterface(EFI_HANDLE *handle, const EFI_GUID *guid, EFI_INTERFACE_TYPE type,
                                                VOID *interface) {
  return Active().Protocols().InstallProtocolInterface(handle, guid, type, interface);
}
EFI_STATUS EFIAPI ThunkLocateDevicePath(const EFI_GUID *guid, EFI_DEVICE_PATH_PROTOCOL **path, EFI_HANDLE *device) {
  return Active().Protocols().LocateDevicePath(guid, path, device);
}
EFI_STATUS EFIAPI ThunkOpenProtocol(EFI_HANDLE handle, const EFI_GUID *guid, VOID **interface, EFI_HANDLE agent,
                                    EFI_HANDLE controller, UINT32 attributes) {
  return Active().Protocols().OpenProtocol(handle, guid, interface, agent, controller, attributes);
}
EFI_STATUS EFIAPI ThunkLocateProtocol(const EFI_GUID *guid, VOID *registration, VOID **interface) {
  SimFirmware &firmware = Active();
  // A debug print service that appears later is installed once the
  // firmware has answered its number of look-ups, before the next is served.
  firmware.DebugPrint().AppearIfDue();
  return firmware.Protocols().LocateProtocol(guid, registration, interface);
}
EFI_STATUS EFIAPI ThunkCreateEventEx(UINT32 type, EFI_TPL tpl, EFI_EVENT_NOTIFY notify, const VOID *context,
                                     const EFI_GUID *group, EFI_EVENT *event) {
  return Active().Events().CreateEventEx(type, tpl, notify, context, group, event);
}
EFI_STATUS EFIAPI ThunkGetVariable(const CHAR16 *name, const EFI_GUID *guid, UINT32 *attributes, UINTN *size,
                                   VOID *data) {
  return Active().Variables().GetVariable(name, guid, attributes, size, data);
}
EFI_STATUS EFIAPI ThunkSmbiosAdd(EFI_SMBIOS_PROTOCOL *self, EFI_HANDLE producer, EFI_SMBIOS_HANDLE *handle,
                                 EFI_SMBIOS_TABLE_HEADER *record) {
  return Active().Smbios().Add(self, producer, handle, record);
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

SimFirmware::SimFirmware(const Platform &platform)
    : pool_(platform.faults, log_),  // the log, made further down, is only bound here
      platform_(platform),
      events_(platform_.faults.failCreateEvent, log_),
      protocols_(platform_.faults.failInstalls, pool_, log_),
      variables_(platform_.variables, log_),
      smbios_(&smbiosProtocol_, pool_, log_),
      pcd_(platform_.pcdTokens),
      debugPrint_(platform_.protocols, protocols_, &debugPrintProtocol_, pool_) {
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

  imageHandle_ = protocols_.NewHandle();

  if (platform_.protocols.smbios) {
    smbiosProtocol_.Add = ThunkSmbiosAdd;
    smbiosProtocol_.UpdateString = reinterpret_cast<void *>(&UnexpectedService);
    smbiosProtocol_.Remove = reinterpret_cast<void *>(&UnexpectedService);
    smbiosProtocol_.GetNext = reinterpret_cast<void *>(&UnexpectedService);
    smbiosProtocol_.MajorVersion = 3;
    smbiosProtocol_.MinorVersion = 0;
    EFI_HANDLE handle = nullptr;
    protocols_.InstallProtocol(&handle, gEfiSmbiosProtocolGuid, &smbiosProtocol_);
  }

  InstallStartupServices();
  pci_ = std::make_unique<PciModel>(platform_.pci, protocols_, log_, hardware_);
}

SimFirmware::~SimFirmware() {
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
