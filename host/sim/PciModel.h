// The simulated platform's PCI topology: root bridges, PCI-to-PCI bridges
// (root ports, switch ports) and the functions on each bus. The firmware
// side serves it as a PCI enumerator would leave it: a handle per root
// bridge with its device path, and a handle per function carrying its
// device path and a PCI I/O instance. The hardware side serves the same
// configuration space through the memory-mapped window at PCI_EXPRESS_BASE.
#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "driver/firmware/Protocol/PciIo.h"
#include "driver/firmware/Uefi.h"

namespace sim {

class HardwareModel;
class ProtocolDatabase;
class ServiceLog;

struct PciFunctionDescription {
  uint8_t device = 0;
  uint8_t function = 0;
  uint16_t vendorId = 0;
  uint16_t deviceId = 0;
  uint32_t classCode = 0;  // base class, subclass, programming interface
  // Faults of this function's PCI I/O instance.
  bool failGetLocation = false;
  bool failPciRead = false;
};

struct PciBridgeDescription {
  PciFunctionDescription self;
  uint8_t secondaryBus = 0;
  uint8_t subordinateBus = 0;  // 0: the same as the secondary bus
  std::vector<PciBridgeDescription> bridges;
  std::vector<PciFunctionDescription> functions;
};

struct PciRootBridgeDescription {
  uint32_t uid = 0;  // the _UID of its PciRoot(UID) node
  uint16_t segment = 0;
  uint8_t bus = 0;
  std::vector<PciBridgeDescription> bridges;
  std::vector<PciFunctionDescription> functions;
};

struct PciTopology {
  std::vector<PciRootBridgeDescription> rootBridges;
};

// The built-in kind 2 board: PciRoot(0x0) on bus 0 with the NVME1 root port
// (0:0.3, an NVMe controller on its secondary bus 1) and the NVME2 root
// port (0:3.7, secondary bus 2, empty).
PciTopology DefaultPciTopology();

// Reads the "pci" member of a platform description and checks it as real
// hardware would: device 0-31, function 0-7, one function per location,
// bus numbers inside their bridge's range. Throws PlatformError naming the
// field.
PciTopology ParsePciTopology(const nlohmann::json &pci, const std::string &where);

// Serves a topology to the simulated firmware and its hardware model: a
// handle per root bridge and function in protocols, the PCI I/O calls
// logged in log.
class PciModel {
 public:
  PciModel(const PciTopology &topology, ProtocolDatabase &protocols, ServiceLog &log, HardwareModel &hardware);
  ~PciModel();
  PciModel(const PciModel &) = delete;
  PciModel &operator=(const PciModel &) = delete;

  struct Function {
    uint16_t segment;
    uint8_t bus, device, function;
    bool bridge;
    bool failGetLocation, failPciRead;
    std::array<uint8_t, 4096> config;
    EFI_HANDLE handle;
  };

  const std::vector<std::unique_ptr<Function>> &Functions() const { return functions_; }

  EFI_STATUS PciRead(EFI_PCI_IO_PROTOCOL *self, EFI_PCI_IO_PROTOCOL_WIDTH width, UINT32 offset, UINTN count,
                     VOID *buffer);
  EFI_STATUS GetLocation(EFI_PCI_IO_PROTOCOL *self, UINTN *segment, UINTN *bus, UINTN *device, UINTN *function);

 private:
  struct Instance;
  void AddBridge(const PciBridgeDescription &bridge, uint16_t segment, uint8_t bus,
                 const std::vector<uint8_t> &parentPath);
  void AddFunction(const PciFunctionDescription &description, uint16_t segment, uint8_t bus, bool bridge,
                   uint8_t secondary, uint8_t subordinate, const std::vector<uint8_t> &parentPath);
  Function *FindFunction(uint8_t bus, uint8_t device, uint8_t function) const;
  Function *FromInstance(EFI_PCI_IO_PROTOCOL *self) const;

  ProtocolDatabase &protocols_;
  ServiceLog &log_;
  std::vector<std::unique_ptr<Function>> functions_;
  std::vector<std::unique_ptr<Instance>> instances_;
  std::vector<std::unique_ptr<std::vector<uint8_t>>> paths_;
};

}  // namespace sim
