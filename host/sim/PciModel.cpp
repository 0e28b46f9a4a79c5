#include "host/sim/PciModel.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <set>

#include "driver/firmware/BoardHardware.h"
#include "driver/firmware/Guids.h"
#include "driver/firmware/Protocol/DevicePath.h"
#include "host/sim/HardwareModel.h"
#include "host/sim/JsonFields.h"
#include "host/sim/ServiceLog.h"
#include "host/sim/SimProtocols.h"
#include "host/sim/Text.h"

namespace sim {

namespace {

constexpr uint64_t kConfigBase = PCI_EXPRESS_BASE;
constexpr uint64_t kConfigSize = 256ULL << 20;  // 1 MiB per bus
constexpr uint32_t kPnp0A03 = 0x0A0341D0;        // EISA ID of a PCI root bridge
constexpr uint32_t kClassBridgePciToPci = 0x060400;

using nlohmann::json;

PciFunctionDescription ReadFunction(const json &entry, const std::string &where, bool bridge) {
  std::set<std::string> fields = {"device",     "function",          "vendor_id",    "device_id",
                                  "class_code", "fail_get_location", "fail_pci_read"};
  if (bridge) {
    fields.insert({"secondary_bus", "subordinate_bus", "bridges", "functions"});
  }
  CheckFields(entry, where, fields);
  PciFunctionDescription function;
  for (const char *required : {"device", "function", "vendor_id"}) {
    if (!entry.contains(required)) {
      FailField(FieldPath(where, required), "required");
    }
  }
  function.device = static_cast<uint8_t>(ReadUnsignedField(entry["device"], FieldPath(where, "device"), 31));
  function.function = static_cast<uint8_t>(ReadUnsignedField(entry["function"], FieldPath(where, "function"), 7));
  function.vendorId = static_cast<uint16_t>(ReadUnsignedField(entry["vendor_id"], FieldPath(where, "vendor_id"), 0xFFFE));
  if (entry.contains("device_id")) {
    function.deviceId = static_cast<uint16_t>(ReadUnsignedField(entry["device_id"], FieldPath(where, "device_id"), 0xFFFF));
  }
  function.classCode = bridge ? kClassBridgePciToPci : 0;
  if (entry.contains("class_code")) {
    function.classCode = static_cast<uint32_t>(ReadUnsignedField(entry["class_code"], FieldPath(where, "class_code"), 0xFFFFFF));
  }
  if (entry.contains("fail_get_location")) {
    function.failGetLocation = ReadBoolField(entry["fail_get_location"], FieldPath(where, "fail_get_location"));
  }
  if (entry.contains("fail_pci_read")) {
    function.failPciRead = ReadBoolField(entry["fail_pci_read"], FieldPath(where, "fail_pci_read"));
  }
  return function;
}

// Checks one bus's occupants and the bus ranges below it. Every bus number
// behind a bridge lies in (parent bus, parent subordinate], and no two
// bridges claim overlapping ranges.
class BusChecker {
 public:
  // A bridge's range nests inside those of the bridges above it; against
  // every other claim it must be disjoint.
  void Claim(uint8_t first, uint8_t last, const std::string &field) {
    for (const auto &[range, owner] : claimed_) {
      const bool ancestor = field.compare(0, owner.size() + 1, owner + ".") == 0;
      if (!ancestor && first <= range.second && range.first <= last) {
        FailField(field, "buses " + Hex(first) + "-" + Hex(last) + " overlap those of " + owner);
      }
    }
    claimed_.push_back({{first, last}, field});
  }

 private:
  std::vector<std::pair<std::pair<uint8_t, uint8_t>, std::string>> claimed_;
};

void ReadBus(const json &entry, const std::string &where, uint8_t bus, uint8_t busLimit,
             std::vector<PciBridgeDescription> &bridges, std::vector<PciFunctionDescription> &functions,
             BusChecker &checker);

PciBridgeDescription ReadBridge(const json &entry, const std::string &where, uint8_t parentBus, uint8_t busLimit,
                                BusChecker &checker) {
  PciBridgeDescription bridge;
  bridge.self = ReadFunction(entry, where, true);
  if (!entry.contains("secondary_bus")) {
    FailField(FieldPath(where, "secondary_bus"), "required");
  }
  bridge.secondaryBus =
      static_cast<uint8_t>(ReadUnsignedField(entry["secondary_bus"], FieldPath(where, "secondary_bus"), 255));
  bridge.subordinateBus = bridge.secondaryBus;
  if (entry.contains("subordinate_bus")) {
    bridge.subordinateBus =
        static_cast<uint8_t>(ReadUnsignedField(entry["subordinate_bus"], FieldPath(where, "subordinate_bus"), 255));
  }
  if (bridge.secondaryBus <= parentBus || bridge.secondaryBus > busLimit) {
    FailField(FieldPath(where, "secondary_bus"),
              "must lie above bus " + Hex(parentBus) + " and at most at " + Hex(busLimit));
  }
  if (bridge.subordinateBus < bridge.secondaryBus || bridge.subordinateBus > busLimit) {
    FailField(FieldPath(where, "subordinate_bus"),
              "must lie from the secondary bus " + Hex(bridge.secondaryBus) + " to " + Hex(busLimit));
  }
  checker.Claim(bridge.secondaryBus, bridge.subordinateBus, where);
  ReadBus(entry, where, bridge.secondaryBus, bridge.subordinateBus, bridge.bridges, bridge.functions, checker);
  return bridge;
}

void ReadBus(const json &entry, const std::string &where, uint8_t bus, uint8_t busLimit,
             std::vector<PciBridgeDescription> &bridges, std::vector<PciFunctionDescription> &functions,
             BusChecker &checker) {
  std::map<std::pair<uint8_t, uint8_t>, std::string> occupied;
  auto occupy = [&](const PciFunctionDescription &f, const std::string &field) {
    auto [it, fresh] = occupied.insert({{f.device, f.function}, field});
    if (!fresh) {
      FailField(field, "device " + Hex(f.device) + " function " + Hex(f.function) + " of bus " + Hex(bus) +
                           " is already taken by " + it->second);
    }
  };
  if (entry.contains("bridges")) {
    const json &list = entry["bridges"];
    if (!list.is_array()) {
      FailField(FieldPath(where, "bridges"), "must be an array");
    }
    for (size_t i = 0; i < list.size(); i++) {
      const std::string field = FieldPath(where, "bridges[" + std::to_string(i) + "]");
      bridges.push_back(ReadBridge(list[i], field, bus, busLimit, checker));
      occupy(bridges.back().self, field);
    }
  }
  if (entry.contains("functions")) {
    const json &list = entry["functions"];
    if (!list.is_array()) {
      FailField(FieldPath(where, "functions"), "must be an array");
    }
    for (size_t i = 0; i < list.size(); i++) {
      const std::string field = FieldPath(where, "functions[" + std::to_string(i) + "]");
      functions.push_back(ReadFunction(list[i], field, false));
      occupy(functions.back(), field);
    }
  }
}

std::vector<uint8_t> AcpiRootNode(uint32_t uid) {
  std::vector<uint8_t> node = {ACPI_DEVICE_PATH, 0x01, 12, 0};
  for (uint32_t value : {kPnp0A03, uid}) {
    for (int i = 0; i < 4; i++) {
      node.push_back(static_cast<uint8_t>(value >> (8 * i)));
    }
  }
  return node;
}

void PutLe(std::array<uint8_t, 4096> &config, size_t offset, uint64_t value, size_t bytes) {
  for (size_t i = 0; i < bytes; i++) {
    config[offset + i] = static_cast<uint8_t>(value >> (8 * i));
  }
}

[[noreturn]] void EFIAPI UnexpectedPciIo() {
  std::fprintf(stderr, "the driver called a PCI I/O operation the simulation does not provide\n");
  std::abort();
}

PciModel *gActiveModel = nullptr;

EFI_STATUS EFIAPI ThunkPciRead(EFI_PCI_IO_PROTOCOL *self, EFI_PCI_IO_PROTOCOL_WIDTH width, UINT32 offset,
                               UINTN count, VOID *buffer) {
  return gActiveModel->PciRead(self, width, offset, count, buffer);
}

EFI_STATUS EFIAPI ThunkGetLocation(EFI_PCI_IO_PROTOCOL *self, UINTN *segment, UINTN *bus, UINTN *device,
                                   UINTN *function) {
  return gActiveModel->GetLocation(self, segment, bus, device, function);
}

}  // namespace

struct PciModel::Instance {
  EFI_PCI_IO_PROTOCOL protocol;  // first: the driver's This points here
  Function *function;
};

PciTopology DefaultPciTopology() {
  PciTopology topology;
  PciRootBridgeDescription root;
  root.uid = 0;
  root.segment = 0;
  root.bus = 0;

  PciBridgeDescription nvme1;
  nvme1.self = {0x00, 0x3, 0x1022, 0x1483, kClassBridgePciToPci, false, false};
  nvme1.secondaryBus = 1;
  nvme1.subordinateBus = 1;
  nvme1.functions.push_back({0x00, 0x0, 0xC0DE, 0x0A54, 0x010802, false, false});  // an NVMe controller

  PciBridgeDescription nvme2;
  nvme2.self = {0x03, 0x7, 0x1022, 0x1483, kClassBridgePciToPci, false, false};
  nvme2.secondaryBus = 2;
  nvme2.subordinateBus = 2;

  root.bridges = {nvme1, nvme2};
  topology.rootBridges.push_back(root);
  return topology;
}

PciTopology ParsePciTopology(const json &pci, const std::string &where) {
  CheckFields(pci, where, {"root_bridges"});
  PciTopology topology;
  if (!pci.contains("root_bridges")) {
    return topology;
  }
  const json &roots = pci["root_bridges"];
  if (!roots.is_array()) {
    FailField(FieldPath(where, "root_bridges"), "must be an array");
  }
  std::map<uint16_t, BusChecker> checkers;  // bus numbers are per segment
  std::set<uint32_t> uids;
  for (size_t i = 0; i < roots.size(); i++) {
    const std::string field = FieldPath(where, "root_bridges[" + std::to_string(i) + "]");
    const json &entry = roots[i];
    CheckFields(entry, field, {"uid", "segment", "bus", "bridges", "functions"});
    PciRootBridgeDescription root;
    if (entry.contains("uid")) {
      root.uid = static_cast<uint32_t>(ReadUnsignedField(entry["uid"], FieldPath(field, "uid"), 0xFFFFFFFF));
    }
    if (!uids.insert(root.uid).second) {
      FailField(FieldPath(field, "uid"), "another root bridge has the same UID");
    }
    if (entry.contains("segment")) {
      root.segment = static_cast<uint16_t>(ReadUnsignedField(entry["segment"], FieldPath(field, "segment"), 0xFFFF));
    }
    if (entry.contains("bus")) {
      root.bus = static_cast<uint8_t>(ReadUnsignedField(entry["bus"], FieldPath(field, "bus"), 255));
    }
    BusChecker &checker = checkers[root.segment];
    checker.Claim(root.bus, root.bus, field);
    ReadBus(entry, field, root.bus, 255, root.bridges, root.functions, checker);
    topology.rootBridges.push_back(std::move(root));
  }
  return topology;
}

PciModel::PciModel(const PciTopology &topology, ProtocolDatabase &protocols, ServiceLog &log, HardwareModel &hardware)
    : protocols_(protocols), log_(log) {
  gActiveModel = this;
  for (const PciRootBridgeDescription &root : topology.rootBridges) {
    std::vector<uint8_t> path = AcpiRootNode(root.uid);
    // The root bridge's handle carries its device path and no PCI I/O.
    auto stored = std::make_unique<std::vector<uint8_t>>(path);
    stored->insert(stored->end(), {END_DEVICE_PATH_TYPE, END_ENTIRE_DEVICE_PATH_SUBTYPE, 4, 0});
    EFI_HANDLE handle = nullptr;
    protocols_.InstallProtocol(&handle, gEfiDevicePathProtocolGuid, stored->data());
    paths_.push_back(std::move(stored));
    for (const PciBridgeDescription &bridge : root.bridges) {
      AddBridge(bridge, root.segment, root.bus, path);
    }
    for (const PciFunctionDescription &function : root.functions) {
      AddFunction(function, root.segment, root.bus, false, 0, 0, path);
    }
  }

  MmioWindow window;
  window.name = "PCI Express configuration space";
  window.base = kConfigBase;
  window.size = kConfigSize;
  window.read = [this](uint64_t offset, unsigned width) -> uint64_t {
    Function *found = FindFunction(static_cast<uint8_t>(offset >> 20), (offset >> 15) & 31, (offset >> 12) & 7);
    const size_t reg = offset & 0xFFF;
    if (found == nullptr || found->segment != 0 || reg + width / 8 > found->config.size()) {
      return ~0ULL;
    }
    uint64_t value = 0;
    for (size_t i = 0; i < width / 8; i++) {
      value |= static_cast<uint64_t>(found->config[reg + i]) << (8 * i);
    }
    return value;
  };
  window.write = [this](uint64_t offset, unsigned width, uint64_t value) {
    Function *found = FindFunction(static_cast<uint8_t>(offset >> 20), (offset >> 15) & 31, (offset >> 12) & 7);
    const size_t reg = offset & 0xFFF;
    if (found != nullptr && found->segment == 0 && reg >= 4 && reg + width / 8 <= found->config.size()) {
      PutLe(found->config, reg, value, width / 8);
    }
  };
  hardware.AddWindow(window);
}

PciModel::~PciModel() {
  if (gActiveModel == this) {
    gActiveModel = nullptr;
  }
}

void PciModel::AddBridge(const PciBridgeDescription &bridge, uint16_t segment, uint8_t bus,
                         const std::vector<uint8_t> &parentPath) {
  AddFunction(bridge.self, segment, bus, true, bridge.secondaryBus, bridge.subordinateBus, parentPath);
  std::vector<uint8_t> path = parentPath;
  path.insert(path.end(), {HARDWARE_DEVICE_PATH, 0x01, 6, 0, bridge.self.function, bridge.self.device});
  for (const PciBridgeDescription &child : bridge.bridges) {
    AddBridge(child, segment, bridge.secondaryBus, path);
  }
  for (const PciFunctionDescription &function : bridge.functions) {
    AddFunction(function, segment, bridge.secondaryBus, false, 0, 0, path);
  }
}

void PciModel::AddFunction(const PciFunctionDescription &description, uint16_t segment, uint8_t bus, bool bridge,
                           uint8_t secondary, uint8_t subordinate, const std::vector<uint8_t> &parentPath) {
  auto function = std::make_unique<Function>();
  function->segment = segment;
  function->bus = bus;
  function->device = description.device;
  function->function = description.function;
  function->bridge = bridge;
  function->failGetLocation = description.failGetLocation;
  function->failPciRead = description.failPciRead;
  function->config.fill(0);
  PutLe(function->config, 0x00, description.vendorId, 2);
  PutLe(function->config, 0x02, description.deviceId, 2);
  PutLe(function->config, 0x04, 0x0006, 2);  // command: memory space, bus master
  PutLe(function->config, 0x09, description.classCode, 3);
  function->config[0x0E] = bridge ? 0x01 : 0x00;  // header type
  if (bridge) {
    function->config[0x18] = bus;
    function->config[0x19] = secondary;
    function->config[0x1A] = subordinate;
  }

  auto stored = std::make_unique<std::vector<uint8_t>>(parentPath);
  stored->insert(stored->end(), {HARDWARE_DEVICE_PATH, 0x01, 6, 0, description.function, description.device,
                                 END_DEVICE_PATH_TYPE, END_ENTIRE_DEVICE_PATH_SUBTYPE, 4, 0});

  auto instance = std::make_unique<Instance>();
  void **slots = reinterpret_cast<void **>(&instance->protocol);
  for (size_t i = 0; i < sizeof(EFI_PCI_IO_PROTOCOL) / sizeof(void *); i++) {
    slots[i] = reinterpret_cast<void *>(&UnexpectedPciIo);
  }
  instance->protocol.Pci.Read = ThunkPciRead;
  instance->protocol.GetLocation = ThunkGetLocation;
  instance->protocol.RomSize = 0;
  instance->protocol.RomImage = nullptr;
  instance->function = function.get();

  EFI_HANDLE handle = nullptr;
  protocols_.InstallProtocol(&handle, gEfiDevicePathProtocolGuid, stored->data());
  protocols_.InstallProtocol(&handle, gEfiPciIoProtocolGuid, &instance->protocol);
  function->handle = handle;

  paths_.push_back(std::move(stored));
  instances_.push_back(std::move(instance));
  functions_.push_back(std::move(function));
}

PciModel::Function *PciModel::FindFunction(uint8_t bus, uint8_t device, uint8_t function) const {
  for (const auto &candidate : functions_) {
    if (candidate->segment == 0 && candidate->bus == bus && candidate->device == device &&
        candidate->function == function) {
      return candidate.get();
    }
  }
  return nullptr;
}

PciModel::Function *PciModel::FromInstance(EFI_PCI_IO_PROTOCOL *self) const {
  for (const auto &instance : instances_) {
    if (&instance->protocol == self) {
      return instance->function;
    }
  }
  return nullptr;
}

EFI_STATUS PciModel::PciRead(EFI_PCI_IO_PROTOCOL *self, EFI_PCI_IO_PROTOCOL_WIDTH width, UINT32 offset, UINTN count,
                             VOID *buffer) {
  Function *function = FromInstance(self);
  EFI_STATUS status = EFI_SUCCESS;
  std::vector<uint8_t> read;
  const unsigned unit = 1u << (width & 3);
  if (function == nullptr || buffer == nullptr || width < EfiPciIoWidthUint8 || width >= EfiPciIoWidthMaximum) {
    status = EFI_INVALID_PARAMETER;
  } else if (function->failPciRead) {
    status = EFI_DEVICE_ERROR;
  } else if ((offset & (unit - 1)) != 0 || count == 0 ||
             static_cast<uint64_t>(offset) + static_cast<uint64_t>(count) * unit > function->config.size()) {
    // Configuration accesses are naturally aligned and stay inside the
    // function's 4 KiB.
    status = EFI_UNSUPPORTED;
  } else {
    auto *out = static_cast<uint8_t *>(buffer);
    const bool fifo = width >= EfiPciIoWidthFifoUint8 && width <= EfiPciIoWidthFifoUint64;
    const bool fill = width >= EfiPciIoWidthFillUint8 && width <= EfiPciIoWidthFillUint64;
    for (UINTN i = 0; i < count; i++) {
      const size_t from = offset + (fifo ? 0 : i * unit);
      const size_t to = fill ? 0 : i * unit;
      std::memcpy(out + to, &function->config[from], unit);
    }
    read.assign(out, out + (fill ? unit : count * unit));
  }
  ServiceCall call{Service::PciIoPciRead, status};
  if (function != nullptr) {
    call.handle = protocols_.Ref(function->handle);
  }
  call.offset = offset;
  call.width = static_cast<uint32_t>(width);
  call.count = count;
  call.data = std::move(read);
  log_.Add(std::move(call));
  return status;
}

EFI_STATUS PciModel::GetLocation(EFI_PCI_IO_PROTOCOL *self, UINTN *segment, UINTN *bus, UINTN *device,
                                 UINTN *function) {
  Function *found = FromInstance(self);
  EFI_STATUS status = EFI_SUCCESS;
  if (found == nullptr || segment == nullptr || bus == nullptr || device == nullptr || function == nullptr) {
    status = EFI_INVALID_PARAMETER;
  } else if (found->failGetLocation) {
    status = EFI_DEVICE_ERROR;
  } else {
    *segment = found->segment;
    *bus = found->bus;
    *device = found->device;
    *function = found->function;
  }
  ServiceCall call{Service::PciIoGetLocation, status};
  if (found != nullptr) {
    call.handle = protocols_.Ref(found->handle);
  }
  log_.Add(std::move(call));
  return status;
}

}  // namespace sim
