// The protocol database: handles, installing, locating and opening
// protocols, and LocateDevicePath over the handles' device paths.
#include "host/sim/SimProtocols.h"

#include <algorithm>
#include <cstring>
#include <optional>

#include "driver/firmware/Guids.h"
#include "driver/firmware/Protocol/DevicePath.h"
#include "host/sim/EfiValues.h"

namespace sim {

namespace {

// The most of a handle's own device path (the firmware's, well formed) the
// log copies.
constexpr size_t kDevicePathLimit = 0x10000;

std::optional<EFI_GUID> GuidOf(const EFI_GUID *guid) {
  return guid != nullptr ? std::optional<EFI_GUID>(*guid) : std::nullopt;
}

uint16_t NodeLength(const uint8_t *node) { return static_cast<uint16_t>(node[2] | (node[3] << 8)); }

bool IsEndNode(const uint8_t *node) { return node[0] == END_DEVICE_PATH_TYPE; }

constexpr size_t kHeader = sizeof(EFI_DEVICE_PATH_PROTOCOL);

// The bytes of the path at bytes, read node by node and never past bound:
// every whole node up to and including the end node; a node whose Length
// is below 4 or runs past the bound ends it after its header; a header that
// does not fit ends it before.
std::vector<uint8_t> ReadPath(const uint8_t *bytes, size_t bound) {
  size_t at = 0;
  while (at + kHeader <= bound) {
    const uint8_t *node = bytes + at;
    const size_t length = NodeLength(node);
    if (length < kHeader || length > bound - at) {
      at += kHeader;
      break;
    }
    at += length;
    if (IsEndNode(node) && node[1] == END_ENTIRE_DEVICE_PATH_SUBTYPE) {
      break;
    }
  }
  return std::vector<uint8_t>(bytes, bytes + at);
}

// Counts the bytes of the nodes of the given path (size bytes read) that
// match the nodes of prefix, up to the end of prefix's first instance; 0
// when prefix is not a prefix of what was read.
size_t MatchPrefix(const uint8_t *path, size_t size, const uint8_t *prefix, size_t *nodesMatched) {
  size_t offset = 0;
  *nodesMatched = 0;
  const uint8_t *q = prefix;
  while (!IsEndNode(q)) {
    const uint16_t length = NodeLength(q);
    if (length < kHeader || size - offset < kHeader) {
      return 0;
    }
    const uint8_t *p = path + offset;
    if (IsEndNode(p) || NodeLength(p) != length || size - offset < length || std::memcmp(p, q, length) != 0) {
      return 0;
    }
    offset += length;
    q += length;
    (*nodesMatched)++;
  }
  return offset;
}

}  // namespace

ProtocolDatabase::ProtocolDatabase(const std::vector<FaultInjection::InstallFailure> &failInstalls, const Pool &pool,
                                   ServiceLog &log)
    : failInstalls_(failInstalls), pool_(pool), log_(log) {}

size_t ProtocolDatabase::ReadBound(const void *p) const {
  if (const std::optional<PoolBlockInfo> block = pool_.PoolBlockAt(p)) {
    return static_cast<size_t>(block->start + block->size - static_cast<const uint8_t *>(p));
  }
  size_t longest = 0;
  for (const auto &handle : handles_) {
    if (const void *path = HandleProtocol(handle.get(), gEfiDevicePathProtocolGuid)) {
      longest = std::max(longest, ReadPath(static_cast<const uint8_t *>(path), kDevicePathLimit).size());
    }
  }
  return longest + kHeader;
}

HandleRef ProtocolDatabase::Ref(EFI_HANDLE handle) const {
  HandleRef ref;
  ref.handle = handle;
  if (const Handle *found = FindHandle(handle)) {
    ref.serial = found->serial;
    if (const void *path = HandleProtocol(handle, gEfiDevicePathProtocolGuid)) {
      ref.devicePath = ReadPath(static_cast<const uint8_t *>(path), kDevicePathLimit);
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
  // What is read of the caller's path, once: matched and logged.
  std::optional<std::vector<uint8_t>> read;
  if (given != nullptr) {
    read = ReadPath(given, ReadBound(given));
  }
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
      size_t bytes = MatchPrefix(read->data(), read->size(), static_cast<const uint8_t *>(handlePath), &nodes);
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
  call.devicePath = std::move(read);
  call.handle = Ref(found);
  log_.Add(std::move(call));
  return status;
}

}  // namespace sim
