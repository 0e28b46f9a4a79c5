// The protocol database: handles, installing, locating and opening
// protocols, and LocateDevicePath over the handles' device paths.
#include "host/sim/SimProtocols.h"

#include <cstring>

#include "driver/firmware/Guids.h"
#include "driver/firmware/Protocol/DevicePath.h"
#include "host/sim/DevicePathText.h"
#include "host/sim/EfiValues.h"

namespace sim {

namespace {

// The most of a device path the log reads.
constexpr size_t kDevicePathLimit = 0x10000;

std::optional<EFI_GUID> GuidOf(const EFI_GUID *guid) {
  return guid != nullptr ? std::optional<EFI_GUID>(*guid) : std::nullopt;
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

ProtocolDatabase::ProtocolDatabase(const std::vector<FaultInjection::InstallFailure> &failInstalls, ServiceLog &log)
    : failInstalls_(failInstalls), log_(log) {}

HandleRef ProtocolDatabase::Ref(EFI_HANDLE handle) const {
  HandleRef ref;
  ref.handle = handle;
  if (const Handle *found = FindHandle(handle)) {
    ref.serial = found->serial;
    if (const void *path = HandleProtocol(handle, gEfiDevicePathProtocolGuid)) {
      ref.devicePath = CaptureDevicePath(static_cast<const uint8_t *>(path), kDevicePathLimit);
    }
  }
  return ref;
}

EFI_HANDLE ProtocolDatabase::NewHandle() {
  handles_.push_back(std::make_unique<Handle>(Handle{nextHandleSerial_++, {}}));
  return handles_.back().get();
}

ProtocolDatabase::Handle *ProtocolDatabase::FindHandle(EFI_HANDLE handle) const {
  for (const auto &candidate : handles_) {
    if (candidate.get() == handle) {
      return candidate.get();
    }
  }
  return nullptr;
}

std::vector<EFI_HANDLE> ProtocolDatabase::Handles() const {
  std::vector<EFI_HANDLE> result;
  for (const auto &handle : handles_) {
    result.push_back(handle.get());
  }
  return result;
}

void *ProtocolDatabase::HandleProtocol(EFI_HANDLE handle, const EFI_GUID &guid) const {
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

EFI_STATUS ProtocolDatabase::InstallProtocol(EFI_HANDLE *handle, const EFI_GUID &guid, void *interface) {
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

EFI_STATUS ProtocolDatabase::InstallProtocolInterface(EFI_HANDLE *handle, const EFI_GUID *guid, EFI_INTERFACE_TYPE type,
                                                      VOID *interface) {
  EFI_STATUS status = EFI_INVALID_PARAMETER;
  const FaultInjection::InstallFailure *failure = nullptr;
  for (const auto &candidate : failInstalls_) {
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
  ServiceCall call{Service::InstallProtocolInterface, status};
  call.guid = GuidOf(guid);
  if (!EFI_ERROR(status) && handle != nullptr) {
    call.handle = Ref(*handle);
  }
  log_.Add(std::move(call));
  return status;
}

EFI_STATUS ProtocolDatabase::LocateProtocol(const EFI_GUID *guid, VOID *registration, VOID **interface) {
  (void)registration;
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
  ServiceCall call{Service::LocateProtocol, status};
  call.guid = GuidOf(guid);
  log_.Add(std::move(call));
  return status;
}

EFI_STATUS ProtocolDatabase::OpenProtocol(EFI_HANDLE handle, const EFI_GUID *guid, VOID **interface, EFI_HANDLE agent,
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
  ServiceCall call{Service::OpenProtocol, status};
  call.guid = GuidOf(guid);
  call.handle = Ref(handle);
  log_.Add(std::move(call));
  return status;
}

EFI_STATUS ProtocolDatabase::LocateDevicePath(const EFI_GUID *guid, EFI_DEVICE_PATH_PROTOCOL **path,
                                              EFI_HANDLE *device) {
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
  ServiceCall call{Service::LocateDevicePath, status};
  call.guid = GuidOf(guid);
  if (given != nullptr) {
    call.devicePath = CaptureDevicePath(given, kDevicePathLimit);
  }
  call.handle = Ref(found);
  log_.Add(std::move(call));
  return status;
}

}  // namespace sim
