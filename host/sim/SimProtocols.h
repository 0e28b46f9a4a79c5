// The simulated protocol database: handles and the protocol interfaces on
// them, InstallProtocolInterface, LocateProtocol, OpenProtocol and
// LocateDevicePath over the handles' device paths.
#pragma once

#include <cstdint>
#include <memory>
#include <utility>
#include <vector>

#include "driver/firmware/Protocol/DevicePath.h"
#include "driver/firmware/Uefi.h"
#include "host/sim/Platform.h"
#include "host/sim/ServiceLog.h"
#include "host/sim/SimPool.h"

namespace sim {

class ProtocolDatabase {
 public:
  // Refuses or warns on the installs failInstalls names (which must outlive
  // the database); calls go to log. pool: where a path a caller gives may
  // lie, and how far it may be read there.
  ProtocolDatabase(const std::vector<FaultInjection::InstallFailure> &failInstalls, const Pool &pool,
                   ServiceLog &log);
  ProtocolDatabase(const ProtocolDatabase &) = delete;
  ProtocolDatabase &operator=(const ProtocolDatabase &) = delete;

  // The firmware's own side, unlogged: a new handle, an interface
  // installed on a handle (a new one for null), the handles in the order
  // made, and the interface a handle carries for a GUID.
  EFI_HANDLE NewHandle();
  EFI_STATUS InstallProtocol(EFI_HANDLE *handle, const EFI_GUID &guid, void *interface);
  std::vector<EFI_HANDLE> Handles() const;
  void *HandleProtocol(EFI_HANDLE handle, const EFI_GUID &guid) const;
  // A handle as the log records it: its number and its device path.
  HandleRef Ref(EFI_HANDLE handle) const;
  // The LocateProtocol calls answered so far.
  uint64_t LocateProtocolCalls() const { return locateProtocolCalls_; }

  // The boot services, reached through their EFIAPI thunks.
  EFI_STATUS InstallProtocolInterface(EFI_HANDLE *handle, const EFI_GUID *guid, EFI_INTERFACE_TYPE type,
                                      VOID *interface);
  EFI_STATUS LocateProtocol(const EFI_GUID *guid, VOID *registration, VOID **interface);
  EFI_STATUS OpenProtocol(EFI_HANDLE handle, const EFI_GUID *guid, VOID **interface, EFI_HANDLE agent,
                          EFI_HANDLE controller, UINT32 attributes);
  // Reads the caller's path node by node, never past the live pool block
  // that holds it, or, for a path in no pool block, past the longest
  // installed device path plus one node header (all that matching needs);
  // a node whose Length is below 4 or runs past that bound ends the read
  // after its header. Only the bytes read are matched, and logged.
  EFI_STATUS LocateDevicePath(const EFI_GUID *guid, EFI_DEVICE_PATH_PROTOCOL **path, EFI_HANDLE *device);

 private:
  struct Handle {
    uint64_t serial;
    std::vector<std::pair<EFI_GUID, void *>> protocols;
  };

  Handle *FindHandle(EFI_HANDLE handle) const;
  // How many bytes of a path at p LocateDevicePath may read.
  size_t ReadBound(const void *p) const;

  const std::vector<FaultInjection::InstallFailure> &failInstalls_;
  const Pool &pool_;
  ServiceLog &log_;
  std::vector<std::unique_ptr<Handle>> handles_;
  uint64_t nextHandleSerial_ = 1;
  uint64_t locateProtocolCalls_ = 0;
};

}  // namespace sim
