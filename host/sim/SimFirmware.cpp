#include "host/sim/SimFirmware.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <iterator>

#include "firmware/Guids.h"
#include "firmware/Protocol/DevicePath.h"
#include "host/sim/DevicePathText.h"
#include "host/sim/GuardPages.h"

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

bool SameGuid(const EFI_GUID &a, const EFI_GUID &b) { return std::memcmp(&a, &b, sizeof(EFI_GUID)) == 0; }

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

uint16_t NodeLength(const uint8_t *node) { return static_cast<uint16_t>(node[2] | (node[3] << 8)); }

bool IsEndNode(const uint8_t *node) { return node[0] == END_DEVICE_PATH_TYPE; }

// Counts the bytes of the nodes of path that match the nodes of prefix, up
// to the end of prefix's first instance; 0 when prefix is not a prefix.
size_t MatchPrefix(const uint8_t *path, const uint8_t *prefix, size_t *nodesMatched) {
  size_t offset = 0;
  *nodesMatched = 0;
  const uint8_t *p = path;
  const uint8_t *q = prefix;
  while (!IsEndNode(q)) {
    uint16_t length = NodeLength(q);
    if (length < 4 || IsEndNode(p) || NodeLength(p) != length || std::memcmp(p, q, length) != 0) {
      return 0;
    }
    offset += length;
    p += length;
    q += length;
    (*nodesMatched)++;
  }
  return offset;
}

}  // namespace

std::string GuidName(const EFI_GUID &guid) {
  static const struct {
    const EFI_GUID *guid;
    const char *name;
  } kNames[] = {
      {&gEfiHobListGuid, "HOB list"},
      {&gEfiEndOfDxeEventGroupGuid, "End-of-DXE event group"},
      {&gEfiSmbiosProtocolGuid, "SMBIOS protocol"},
      {&gEfiDevicePathProtocolGuid, "device path protocol"},
      {&gEfiPciIoProtocolGuid, "PCI I/O protocol"},
      {&gPcdProtocolGuid, "gPcdProtocolGuid"},
      {&gEfiPcdProtocolGuid, "gEfiPcdProtocolGuid"},
      {&gDebugPrintServiceGuid, "debug print service"},
      {&gNioTypeVariableGuid, "board variable GUID"},
      {&gHeapHandOffGuid, "heap hand-off GUID"},
      {&gHeapBufferListProtocolGuid, "heap buffer list protocol"},
  };
  for (const auto &entry : kNames) {
    if (SameGuid(*entry.guid, guid)) {
      return entry.name;
    }
  }
  return GuidToString(guid);
}

std::string StatusText(EFI_STATUS status) {
  static const char *const kErrors[] = {
      "Success",          "Load Error",       "Invalid Parameter", "Unsupported",    "Bad Buffer Size",
      "Buffer Too Small", "Not Ready",        "Device Error",      "Write Protected", "Out of Resources",
      "Volume Corrupt",   "Volume Full",      "No Media",          "Media changed",  "Not Found",
      "Access Denied",    "No Response",      "No mapping",        "Time out",       "Not started",
      "Already started",  "Aborted",          "ICMP Error",        "TFTP Error",     "Protocol Error",
      "Incompatible Version", "Security Violation", "CRC Error",   "End of Media",   "Reserved (29)",
      "Reserved (30)",    "End of File",      "Invalid Language",  "Compromised Data", "IP Address Conflict",
      "HTTP Error"};
  static const char *const kWarnings[] = {"Success",           "Warning Unknown Glyph", "Warning Delete Failure",
                                          "Warning Write Failure", "Warning Buffer Too Small",
                                          "Warning Stale Data", "Warning File System",  "Warning Reset Required"};
  const uint64_t code = status & ~EFI_ERROR_BIT;
  if (EFI_ERROR(status)) {
    if (code > 0 && code < sizeof(kErrors) / sizeof(kErrors[0])) {
      return kErrors[code];
    }
  } else if (code < sizeof(kWarnings) / sizeof(kWarnings[0])) {
    return kWarnings[code];
  }
  char text[32];
  std::snprintf(text, sizeof(text), "%s 0x%llX", EFI_ERROR(status) ? "Error" : "Warning",
                static_cast<unsigned long long>(status));
  return text;
}

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

std::optional<EFI_MEMORY_TYPE> SimFirmware::PoolBlockType(const void *buffer) const {
  auto found = poolBlocks_.find(const_cast<void *>(buffer));
  if (found == poolBlocks_.end()) {
    return std::nullopt;
  }
  return found->second.type;
}

void SimFirmware::PlacePoolBlocksBeforeGuardPages() {
  if (!poolBlocks_.empty()) {
    throw std::logic_error("PlacePoolBlocksBeforeGuardPages after the pool served a block");
  }
  guardPages_ = true;
}

void SimFirmware::ReleaseBlock(void *pointer, size_t size) const {
  if (guardPages_) {
    FreeBeforeGuardPage(pointer, size);
  } else {
    std::free(pointer);
  }
}

bool SimFirmware::PoolHolds(const void *p, size_t n) const {
  auto after = poolBlocks_.upper_bound(const_cast<void *>(p));
  if (after == poolBlocks_.begin()) {
    return false;
  }
  const auto &[start, block] = *std::prev(after);
  const uintptr_t offset = reinterpret_cast<uintptr_t>(p) - reinterpret_cast<uintptr_t>(start);
  return offset <= block.size && n <= block.size - offset;
}

bool SimFirmware::EverActive() { return gEverActive; }

std::string SimFirmware::HandleName(EFI_HANDLE handle) const {
  if (handle == nullptr) {
    return {};
  }
  if (pci_ != nullptr) {
    std::string name = pci_->HandleName(handle);
    if (!name.empty()) {
      return name;
    }
  }
  Handle *found = FindHandle(handle);
  return found != nullptr ? "handle " + std::to_string(found->serial) : "not a handle";
}

SimFirmware::~SimFirmware() {
  for (auto &[pointer, block] : poolBlocks_) {
    ReleaseBlock(pointer, block.size);
  }
  SetActiveHardware(nullptr);
  gActive = nullptr;
}

void SimFirmware::Record(const std::string &service, const std::string &detail, EFI_STATUS status) {
  calls_.push_back({service, detail, status});
}

EFI_HANDLE SimFirmware::NewHandle() {
  handles_.push_back(std::make_unique<Handle>(Handle{nextHandleSerial_++, {}}));
  return handles_.back().get();
}

SimFirmware::Handle *SimFirmware::FindHandle(EFI_HANDLE handle) const {
  for (const auto &candidate : handles_) {
    if (candidate.get() == handle) {
      return candidate.get();
    }
  }
  return nullptr;
}

std::vector<EFI_HANDLE> SimFirmware::Handles() const {
  std::vector<EFI_HANDLE> result;
  for (const auto &handle : handles_) {
    result.push_back(handle.get());
  }
  return result;
}

void *SimFirmware::HandleProtocol(EFI_HANDLE handle, const EFI_GUID &guid) const {
  Handle *found = FindHandle(handle);
  if (found == nullptr) {
    return nullptr;
  }
  for (const auto &[protocolGuid, interface] : found->protocols) {
    if (SameGuid(protocolGuid, guid)) {
      return interface;
    }
  }
  return nullptr;
}

EFI_STATUS SimFirmware::InstallProtocol(EFI_HANDLE *handle, const EFI_GUID &guid, void *interface) {
  if (handle == nullptr) {
    return EFI_INVALID_PARAMETER;
  }
  Handle *target = nullptr;
  if (*handle == nullptr) {
    target = static_cast<Handle *>(NewHandle());
  } else {
    target = FindHandle(*handle);
    if (target == nullptr) {
      return EFI_INVALID_PARAMETER;
    }
    for (const auto &entry : target->protocols) {
      if (SameGuid(entry.first, guid)) {
        return EFI_INVALID_PARAMETER;
      }
    }
  }
  target->protocols.emplace_back(guid, interface);
  *handle = target;
  return EFI_SUCCESS;
}

void SimFirmware::AddConfigurationTable(const EFI_GUID &guid, void *table) {
  configurationTable_.push_back({guid, table});
  systemTable_.NumberOfTableEntries = configurationTable_.size();
  systemTable_.ConfigurationTable = configurationTable_.data();
}

const VariableDescription *SimFirmware::FindVariable(const std::u16string &name, const EFI_GUID &guid) const {
  for (const VariableDescription &variable : platform_.variables) {
    if (variable.name == name && SameGuid(variable.guid, guid)) {
      return &variable;
    }
  }
  return nullptr;
}

std::vector<EventState> SimFirmware::Events() const {
  std::vector<EventState> view;
  for (const auto &event : events_) {
    view.push_back(*event);
  }
  return view;
}

EFI_STATUS SimFirmware::AllocatePool(EFI_MEMORY_TYPE type, UINTN size, VOID **buffer) {
  const uint64_t index = ++pool_.allocations;
  if (buffer == nullptr || type >= EfiMaxMemoryType || type == EfiConventionalMemory) {
    return EFI_INVALID_PARAMETER;
  }
  bool fail = platform_.faults.failAllocationsFrom && index >= *platform_.faults.failAllocationsFrom;
  for (uint64_t failing : platform_.faults.failAllocations) {
    fail = fail || failing == index;
  }
  if (fail) {
    pool_.failedAllocations++;
    const std::string kind = type == EfiBootServicesData      ? "boot-services data"
                             : type == EfiRuntimeServicesData ? "runtime-services data"
                                                              : "memory type " + std::to_string(type);
    Record("AllocatePool",
           "allocation " + std::to_string(index) + " (" + std::to_string(size) + " bytes of " + kind + ") refused",
           EFI_OUT_OF_RESOURCES);
    return EFI_OUT_OF_RESOURCES;
  }
  // Never zero-filled, as on a machine: fill with a pattern so that code
  // relying on fresh pool being zero shows up.
  void *pointer = guardPages_ ? AllocateBeforeGuardPage(size) : std::malloc(size == 0 ? 1 : size);
  if (pointer == nullptr) {
    return EFI_OUT_OF_RESOURCES;
  }
  std::memset(pointer, 0xAF, size);
  poolBlocks_[pointer] = {size, type};
  pool_.outstandingBlocks++;
  pool_.outstandingBytes += size;
  auto &byType = pool_.outstandingByType[type];
  byType.first++;
  byType.second += size;
  *buffer = pointer;
  return EFI_SUCCESS;
}

EFI_STATUS SimFirmware::FreePool(VOID *buffer) {
  if (buffer == nullptr) {
    return EFI_INVALID_PARAMETER;
  }
  auto found = poolBlocks_.find(buffer);
  if (found == poolBlocks_.end()) {
    pool_.invalidFrees++;
    Record("FreePool", "a block the pool never gave out", EFI_INVALID_PARAMETER);
    return EFI_INVALID_PARAMETER;
  }
  pool_.frees++;
  pool_.outstandingBlocks--;
  pool_.outstandingBytes -= found->second.size;
  auto &byType = pool_.outstandingByType[found->second.type];
  byType.first--;
  byType.second -= found->second.size;
  if (byType.first == 0) {
    pool_.outstandingByType.erase(found->second.type);
  }
  ReleaseBlock(found->first, found->second.size);
  poolBlocks_.erase(found);
  return EFI_SUCCESS;
}

EFI_STATUS SimFirmware::CreateEventEx(UINT32 type, EFI_TPL tpl, EFI_EVENT_NOTIFY notify, const VOID *context,
                                      const EFI_GUID *group, EFI_EVENT *event) {
  EFI_STATUS status = EFI_SUCCESS;
  if (event == nullptr || (type == EVT_NOTIFY_SIGNAL && notify == nullptr) ||
      (type == EVT_NOTIFY_SIGNAL && tpl != TPL_CALLBACK && tpl != TPL_NOTIFY && tpl != TPL_APPLICATION)) {
    status = EFI_INVALID_PARAMETER;
  } else {
    auto state = std::make_unique<EventState>();
    state->type = type;
    state->tpl = tpl;
    state->notify = notify;
    state->context = context;
    state->hasGroup = group != nullptr;
    if (group != nullptr) {
      state->group = *group;
    }
    *event = state.get();
    events_.push_back(std::move(state));
  }
  Record("CreateEventEx", group != nullptr ? GuidName(*group) : "no group", status);
  return status;
}

EFI_STATUS SimFirmware::CloseEvent(EFI_EVENT event) {
  EFI_STATUS status = EFI_INVALID_PARAMETER;
  for (auto &state : events_) {
    if (state.get() == event && !state->closed) {
      state->closed = true;
      status = EFI_SUCCESS;
    }
  }
  Record("CloseEvent", "", status);
  return status;
}

void SimFirmware::SignalEventGroup(const EFI_GUID &group) {
  // Notifications may create or close events; walk by index over those
  // that existed when the signal came.
  const size_t count = events_.size();
  for (size_t i = 0; i < count; i++) {
    EventState *state = events_[i].get();
    if (state->closed || !state->hasGroup || !SameGuid(state->group, group) || state->type != EVT_NOTIFY_SIGNAL) {
      continue;
    }
    state->notifications++;
    state->notify(state, const_cast<void *>(state->context));
  }
}

EFI_STATUS SimFirmware::InstallProtocolInterface(EFI_HANDLE *handle, const EFI_GUID *guid, EFI_INTERFACE_TYPE type,
                                                 VOID *interface) {
  EFI_STATUS status = EFI_INVALID_PARAMETER;
  const FaultInjection::InstallFailure *failure = nullptr;
  for (const auto &candidate : platform_.faults.failInstalls) {
    if (guid != nullptr && SameGuid(candidate.guid, *guid)) {
      failure = &candidate;
    }
  }
  if (failure != nullptr && EFI_ERROR(failure->status)) {
    // Refused: nothing is installed.
    status = failure->status;
  } else if (guid != nullptr && type == EFI_NATIVE_INTERFACE) {
    status = InstallProtocol(handle, *guid, interface);
    if (status == EFI_SUCCESS && failure != nullptr) {
      // Installed, with a warning.
      status = failure->status;
    }
  }
  Record("InstallProtocolInterface", guid != nullptr ? GuidName(*guid) : "no GUID", status);
  return status;
}

EFI_STATUS SimFirmware::LocateProtocol(const EFI_GUID *guid, VOID *registration, VOID **interface) {
  (void)registration;
  // A debug print service that appears later is published once the
  // firmware has answered the given number of look-ups.
  if (!debugPrintInstalled_ && platform_.protocols.debugPrintAfterLookups &&
      locateProtocolCalls_ >= *platform_.protocols.debugPrintAfterLookups) {
    EFI_HANDLE handle = nullptr;
    InstallProtocol(&handle, gDebugPrintServiceGuid, &debugPrint_);
    debugPrintInstalled_ = true;
  }
  locateProtocolCalls_++;
  EFI_STATUS status = EFI_NOT_FOUND;
  if (guid == nullptr || interface == nullptr) {
    status = EFI_INVALID_PARAMETER;
  } else {
    *interface = nullptr;
    for (const auto &handle : handles_) {
      for (const auto &[protocolGuid, found] : handle->protocols) {
        if (status != EFI_SUCCESS && SameGuid(protocolGuid, *guid)) {
          *interface = found;
          status = EFI_SUCCESS;
        }
      }
    }
  }
  Record("LocateProtocol", guid != nullptr ? GuidName(*guid) : "no GUID", status);
  return status;
}

EFI_STATUS SimFirmware::OpenProtocol(EFI_HANDLE handle, const EFI_GUID *guid, VOID **interface, EFI_HANDLE agent,
                                     EFI_HANDLE controller, UINT32 attributes) {
  (void)agent;
  (void)controller;
  EFI_STATUS status = EFI_UNSUPPORTED;
  if (guid == nullptr || (interface == nullptr && attributes != 0x4 /* TEST_PROTOCOL */) ||
      FindHandle(handle) == nullptr) {
    status = EFI_INVALID_PARAMETER;
  } else {
    void *found = HandleProtocol(handle, *guid);
    if (interface != nullptr) {
      *interface = found;
    }
    status = found != nullptr ? EFI_SUCCESS : EFI_UNSUPPORTED;
  }
  Record("OpenProtocol", guid != nullptr ? GuidName(*guid) : "no GUID", status);
  calls_.back().result = HandleName(handle);
  return status;
}

EFI_STATUS SimFirmware::LocateDevicePath(const EFI_GUID *guid, EFI_DEVICE_PATH_PROTOCOL **path, EFI_HANDLE *device) {
  EFI_STATUS status = EFI_NOT_FOUND;
  EFI_HANDLE found = nullptr;
  const uint8_t *given = path != nullptr ? reinterpret_cast<const uint8_t *>(*path) : nullptr;
  if (guid == nullptr || path == nullptr || *path == nullptr || device == nullptr) {
    status = EFI_INVALID_PARAMETER;
  } else {
    // Of the handles that carry both the protocol and a device path, the one
    // whose path matches the most leading nodes of the given path wins.
    size_t bestBytes = 0;
    size_t bestNodes = 0;
    Handle *best = nullptr;
    for (const auto &handle : handles_) {
      void *handlePath = HandleProtocol(handle.get(), gEfiDevicePathProtocolGuid);
      if (handlePath == nullptr || HandleProtocol(handle.get(), *guid) == nullptr) {
        continue;
      }
      size_t nodes = 0;
      size_t bytes = MatchPrefix(given, static_cast<const uint8_t *>(handlePath), &nodes);
      if (nodes > 0 && (best == nullptr || nodes > bestNodes)) {
        best = handle.get();
        bestNodes = nodes;
        bestBytes = bytes;
      }
    }
    if (best != nullptr) {
      *device = best;
      *path = reinterpret_cast<EFI_DEVICE_PATH_PROTOCOL *>(const_cast<uint8_t *>(given) + bestBytes);
      status = EFI_SUCCESS;
      found = best;
    }
  }
  std::string detail = guid != nullptr ? GuidName(*guid) : "no GUID";
  if (path != nullptr && *path != nullptr) {
    detail += " for " + FormatDevicePath(reinterpret_cast<const uint8_t *>(given), 0x10000);
  }
  Record("LocateDevicePath", detail, status);
  calls_.back().result = HandleName(found);
  return status;
}

EFI_STATUS SimFirmware::GetVariable(const CHAR16 *name, const EFI_GUID *guid, UINT32 *attributes, UINTN *size,
                                    VOID *data) {
  EFI_STATUS status;
  std::string detail = "(null)";
  if (name == nullptr || guid == nullptr || size == nullptr) {
    status = EFI_INVALID_PARAMETER;
  } else {
    std::u16string wanted(name);
    detail.clear();
    for (char16_t c : wanted) {
      detail += c < 0x80 ? static_cast<char>(c) : '?';
    }
    const VariableDescription *variable = FindVariable(wanted, *guid);
    if (variable == nullptr) {
      status = EFI_NOT_FOUND;
    } else if (*size < variable->data.size()) {
      *size = variable->data.size();
      status = EFI_BUFFER_TOO_SMALL;
    } else if (data == nullptr) {
      status = EFI_INVALID_PARAMETER;
    } else {
      if (!variable->data.empty()) {
        std::memcpy(data, variable->data.data(), variable->data.size());
      }
      *size = variable->data.size();
      if (attributes != nullptr) {
        *attributes = variable->attributes;
      }
      status = EFI_SUCCESS;
    }
  }
  Record("GetVariable", detail, status);
  return status;
}

size_t MeasureSmbiosRecord(const uint8_t *record, size_t limit) {
  if (limit < 4 || record[1] < 4 || record[1] > limit) {
    return 0;
  }
  // The string set starts behind the formatted area and ends with two zero
  // bytes; a record without strings has just the two zeros.
  for (size_t at = record[1]; at + 1 < limit; at++) {
    if (record[at] == 0 && record[at + 1] == 0) {
      return at + 2;
    }
  }
  return 0;
}

EFI_STATUS SimFirmware::SmbiosAdd(EFI_SMBIOS_PROTOCOL *self, EFI_HANDLE producer, EFI_SMBIOS_HANDLE *handle,
                                  EFI_SMBIOS_TABLE_HEADER *record) {
  (void)producer;
  EFI_STATUS status = EFI_SUCCESS;
  // A whole record, formatted area and strings, never exceeds 64 KiB here.
  constexpr size_t kRecordLimit = 0xFFFF;
  size_t size = 0;
  if (self != &smbios_.protocol || handle == nullptr || record == nullptr) {
    status = EFI_INVALID_PARAMETER;
  } else if ((size = MeasureSmbiosRecord(reinterpret_cast<const uint8_t *>(record), kRecordLimit)) == 0) {
    status = EFI_INVALID_PARAMETER;
  } else if (*handle == SMBIOS_HANDLE_RESERVED) {
    status = EFI_INVALID_PARAMETER;
  } else {
    auto used = [&](uint16_t candidate) {
      for (const SmbiosRecord &existing : smbiosRecords_) {
        if (existing.handle == candidate) {
          return true;
        }
      }
      return false;
    };
    uint16_t assigned = *handle;
    if (assigned == SMBIOS_HANDLE_PI_RESERVED) {
      assigned = 1;
      while (used(assigned) && assigned < SMBIOS_HANDLE_PI_RESERVED) {
        assigned++;
      }
      if (assigned >= SMBIOS_HANDLE_PI_RESERVED) {
        status = EFI_OUT_OF_RESOURCES;
      }
    } else if (used(assigned)) {
      status = EFI_ALREADY_STARTED;
    }
    if (status == EFI_SUCCESS) {
      const auto *bytes = reinterpret_cast<const uint8_t *>(record);
      SmbiosRecord stored{assigned, std::vector<uint8_t>(bytes, bytes + size)};
      stored.bytes[2] = static_cast<uint8_t>(assigned);
      stored.bytes[3] = static_cast<uint8_t>(assigned >> 8);
      smbiosRecords_.push_back(std::move(stored));
      *handle = assigned;
    }
  }
  char detail[32];
  std::snprintf(detail, sizeof(detail), "Type %u", record != nullptr ? record->Type : 0);
  Record("SMBIOS Add", detail, status);
  return status;
}

std::vector<uint8_t> BuildSmbiosDump(const std::vector<SmbiosRecord> &records) {
  std::vector<uint8_t> table;
  uint16_t endHandle = 1;
  for (const SmbiosRecord &record : records) {
    table.insert(table.end(), record.bytes.begin(), record.bytes.end());
    endHandle = std::max<uint16_t>(endHandle, static_cast<uint16_t>(record.handle + 1));
  }
  const uint8_t endOfTable[] = {127, 4, static_cast<uint8_t>(endHandle), static_cast<uint8_t>(endHandle >> 8), 0, 0};
  table.insert(table.end(), std::begin(endOfTable), std::end(endOfTable));

  constexpr uint32_t kTableOffset = 0x20;
  std::vector<uint8_t> dump(kTableOffset + table.size(), 0);
  std::copy(table.begin(), table.end(), dump.begin() + kTableOffset);
  std::memcpy(dump.data(), "_SM3_", 5);
  dump[6] = 0x18;  // entry point length
  dump[7] = 3;     // SMBIOS 3.0.0
  dump[8] = 0;
  dump[9] = 0;
  dump[10] = 1;  // entry point revision: 3.0
  const uint32_t maxSize = static_cast<uint32_t>(table.size());
  std::memcpy(&dump[12], &maxSize, 4);
  const uint64_t address = kTableOffset;
  std::memcpy(&dump[16], &address, 8);
  uint8_t sum = 0;
  for (size_t i = 0; i < 0x18; i++) {
    sum = static_cast<uint8_t>(sum + dump[i]);
  }
  dump[5] = static_cast<uint8_t>(0x100 - sum);
  return dump;
}

}  // namespace sim
