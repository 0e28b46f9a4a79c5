// A stand-in for PI firmware, built from a platform description: the
// system table, the boot and runtime services and the protocol interfaces
// the driver reaches, with the same layout and calling convention as on a
// machine. Behind them run one object per service, each with its own
// header: the pool (SimPool.h), events (SimEvents.h), the protocol
// database (SimProtocols.h), the variable store (SimVariables.h), the
// SMBIOS table (SimSmbios.h), PCD (SimPcd.h) and debug print
// (SimDebugPrint.h). SimFirmware owns them, wires the tables' EFIAPI thunks
// to them (SimFirmware.cpp, SimStartupServices.cpp) and keeps the one typed
// log of the calls they serve (ServiceLog.h).
#pragma once

#include <array>
#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "driver/firmware/Protocol/DebugPrint.h"
#include "driver/firmware/Protocol/Pcd.h"
#include "driver/firmware/Protocol/Smbios.h"
#include "driver/firmware/Uefi.h"
#include "host/sim/EfiValues.h"
#include "host/sim/HardwareModel.h"
#include "host/sim/PciModel.h"
#include "host/sim/Platform.h"
#include "host/sim/ServiceLog.h"
#include "host/sim/SimDebugPrint.h"
#include "host/sim/SimEvents.h"
#include "host/sim/SimPcd.h"
#include "host/sim/SimPool.h"
#include "host/sim/SimProtocols.h"
#include "host/sim/SimSmbios.h"
#include "host/sim/SimVariables.h"

namespace sim {

// The layout of a heap buffer list interface: a revision, then the list head.
struct HeapBufferListImage {
  uint64_t revision;
  void *forward;
  void *back;
};

class SimFirmware {
 public:
  explicit SimFirmware(const Platform &platform);
  ~SimFirmware();
  SimFirmware(const SimFirmware &) = delete;
  SimFirmware &operator=(const SimFirmware &) = delete;

  // True once any simulated firmware has existed in this process: driver
  // code may have run here, and its module globals are no longer those of
  // a freshly loaded image.
  static bool EverActive();

  EFI_SYSTEM_TABLE *SystemTable() { return &systemTable_; }
  EFI_HANDLE ImageHandle() { return imageHandle_; }
  HardwareModel &Hardware() { return hardware_; }
  const Platform &Description() const { return platform_; }

  // The services behind the tables.
  sim::Pool &Pool() { return pool_; }
  const sim::Pool &Pool() const { return pool_; }
  sim::Events &Events() { return events_; }
  const sim::Events &Events() const { return events_; }
  ProtocolDatabase &Protocols() { return protocols_; }
  const ProtocolDatabase &Protocols() const { return protocols_; }
  VariableStore &Variables() { return variables_; }
  const VariableStore &Variables() const { return variables_; }
  SmbiosTable &Smbios() { return smbios_; }
  const SmbiosTable &Smbios() const { return smbios_; }
  sim::Pcd &Pcd() { return pcd_; }
  const sim::Pcd &Pcd() const { return pcd_; }
  sim::DebugPrint &DebugPrint() { return debugPrint_; }
  const sim::DebugPrint &DebugPrint() const { return debugPrint_; }
  // The PCI topology as served to the driver.
  const PciModel &Pci() const { return *pci_; }

  // The typed log of the service calls, in order (see ServiceLog.h).
  const std::vector<ServiceCall> &Calls() const { return log_.Calls(); }

  void AddConfigurationTable(const EFI_GUID &guid, void *table);
  // The hand-off block list in the configuration table (empty when absent).
  const std::vector<uint8_t> &HobList() const { return hobList_; }
  // The heap buffer list interface that the platform installed, if any.
  HeapBufferListImage *PreinstalledHeapBufferList() {
    return platform_.protocols.heapBufferList ? &heapBufferList_ : nullptr;
  }
  const HeapBufferListImage *PreinstalledHeapBufferList() const {
    return platform_.protocols.heapBufferList ? &heapBufferList_ : nullptr;
  }

 private:
  void InstallStartupServices();
  void ReleaseStartupServices();

  // The pool first, at the firmware's own address, so that the pool's
  // thunks reach it as directly as the firmware itself.
  sim::Pool pool_;
  Platform platform_;
  HardwareModel hardware_;
  // The other services; each refers only to the log and the services it
  // needs, all declared before it (and to its protocol interface below).
  ServiceLog log_;
  sim::Events events_;
  ProtocolDatabase protocols_;
  VariableStore variables_;
  SmbiosTable smbios_;
  sim::Pcd pcd_;
  sim::DebugPrint debugPrint_;

  // The tables and the protocol interfaces, wired to the services.
  EFI_SYSTEM_TABLE systemTable_{};
  EFI_BOOT_SERVICES bootServices_{};
  EFI_RUNTIME_SERVICES runtimeServices_{};
  std::vector<EFI_CONFIGURATION_TABLE> configurationTable_;
  EFI_HANDLE imageHandle_ = nullptr;
  EFI_SMBIOS_PROTOCOL smbiosProtocol_{};
  PCD_PROTOCOL pcdProtocol_{};
  void *efiPcdProtocol_[32]{};  // the PI PCD protocol: present, never called
  DEBUG_PRINT_SERVICE debugPrintProtocol_{};
  HeapBufferListImage heapBufferList_{};
  std::vector<uint8_t> hobList_;

  std::unique_ptr<PciModel> pci_;
};

}  // namespace sim
