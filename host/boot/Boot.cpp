#include "host/boot/Boot.h"

#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <stdexcept>

#include "driver/DriverEntry.h"
#include "firmware/Guids.h"
#include "host/boot/Report.h"
#include "host/harness/LinkedDriver.h"
#include "host/loader/MachineTraps.h"
#include "host/loader/PeImage.h"
#include "inventory/Inventory.h"
#include "platform/PlatformServices.h"
#include "startup/Memory.h"
#include "startup/Startup.h"

namespace host {

namespace {

// 0x and upper-case hex digits, at least digits of them.
std::string Hex2(uint64_t value, int digits) {
  char text[24];
  std::snprintf(text, sizeof(text), "0x%0*llX", digits, static_cast<unsigned long long>(value));
  return text;
}

}  // namespace

// The driver's own module globals that the report reads, and its entry
// point: those of the driver linked into this program, or those inside a
// loaded image.
struct DriverState {
  EFI_STATUS(EFIAPI *entry)(EFI_HANDLE, EFI_SYSTEM_TABLE *) = DriverEntry;
  const PLATFORM_CONFIG_SNAPSHOT *snapshot = &gPlatformConfigSnapshot;
  const UINT64 *tscTicksPerSecond = &gTscTicksPerSecond;
  HEAP_LIST_ENTRY *const *heapListAnchor = &gHeapListAnchor;
  // The driver's own memory that the list it leaves may lead into: the
  // whole loaded image, or, for the driver linked into this program, the
  // interface whose list head it installs (its other module globals are
  // never a list's).
  const void *memory = &gHeapBufferListInterface;
  size_t memorySize = sizeof(gHeapBufferListInterface);
};

struct DriverImage {
  loader::PeImage file;
  std::unique_ptr<loader::MappedImage> mapped;
  std::map<std::string, uint32_t> symbols;  // the map's public symbols
  std::vector<uint32_t> codeSymbols;        // RVAs of those in executable sections
  std::string mapPath;
  DriverState state;
};

DriverImagePtr LoadDriverImage(const std::string &path) {
  DriverImagePtr image(new DriverImage);
  image->file = loader::ReadPeImage(path);
  const loader::PeImage &file = image->file;
  std::string mapPath = path;
  const size_t dot = mapPath.find_last_of("./");
  if (dot != std::string::npos && mapPath[dot] == '.') {
    mapPath.erase(dot);
  }
  mapPath += ".map";
  const std::map<std::string, uint32_t> symbols = loader::ReadSymbolMap(mapPath);

  // The map must be this image's: its entry point where the image has it,
  // every public symbol inside a section, and the globals the report reads
  // in writable data, whole.
  const uint32_t entry = loader::FindSymbolIn(file, symbols, "DriverEntry", loader::SymbolKind::Code, 1, mapPath);
  if (entry != file.entryPoint) {
    throw loader::ImageError(mapPath + ": DriverEntry at RVA " + Hex2(entry, 0) + " is not the image's entry point " +
                             Hex2(file.entryPoint, 0) + ": the map is not this image's");
  }
  for (const auto &[name, rva] : symbols) {
    if (file.SectionHolding(rva, 0) == nullptr) {
      throw loader::ImageError(mapPath + ": symbol " + name + " at RVA " + Hex2(rva, 0) +
                               " lies in no section of the image: the map is not this image's");
    }
  }
  const uint32_t snapshot = loader::FindSymbolIn(file, symbols, "?gPlatformConfigSnapshot@@", loader::SymbolKind::Data,
                                                 sizeof(PLATFORM_CONFIG_SNAPSHOT), mapPath);
  const uint32_t tsc =
      loader::FindSymbolIn(file, symbols, "?gTscTicksPerSecond@@", loader::SymbolKind::Data, sizeof(UINT64), mapPath);
  const uint32_t anchor = loader::FindSymbolIn(file, symbols, "?gHeapListAnchor@@", loader::SymbolKind::Data,
                                               sizeof(HEAP_LIST_ENTRY *), mapPath);

  image->codeSymbols = loader::CodeSymbols(file, symbols);
  image->symbols = symbols;
  image->mapPath = mapPath;
  try {
    image->mapped = std::make_unique<loader::MappedImage>(file);
  } catch (const loader::ImageError &error) {
    throw loader::ImageError(path + ": " + error.what());
  }
  image->state.entry = reinterpret_cast<EFI_STATUS(EFIAPI *)(EFI_HANDLE, EFI_SYSTEM_TABLE *)>(
      image->mapped->EntryPoint());
  image->state.snapshot = static_cast<const PLATFORM_CONFIG_SNAPSHOT *>(image->mapped->At(snapshot));
  image->state.tscTicksPerSecond = static_cast<const UINT64 *>(image->mapped->At(tsc));
  image->state.heapListAnchor = static_cast<HEAP_LIST_ENTRY *const *>(image->mapped->At(anchor));
  image->state.memory = image->mapped->Base();
  image->state.memorySize = image->mapped->Size();
  return image;
}

void DriverImageDeleter::operator()(DriverImage *image) const { delete image; }

namespace {

// The traps under which the image's code runs, as the environment asks.
std::unique_ptr<loader::MachineTraps> TrapsFor(const DriverImage &image) {
  return std::make_unique<loader::MachineTraps>(image.file, *image.mapped, image.codeSymbols,
                                                loader::RewriteForcedByEnvironment(),
                                                loader::CpuSecondsLimitFromEnvironment());
}

}  // namespace

namespace {

bool SameGuid(const EFI_GUID &a, const EFI_GUID &b) { return std::memcmp(&a, &b, sizeof(EFI_GUID)) == 0; }

char Hex(unsigned value) { return "0123456789ABCDEF"[value & 0xF]; }

std::string Byte(uint8_t value) { return {'0', 'x', Hex(value >> 4), Hex(value)}; }

std::string Word(uint32_t value) {
  std::string text = "0x";
  for (int shift = 28; shift >= 0; shift -= 4) {
    text += Hex(value >> shift);
  }
  return text;
}

// Where the report may read what the heap buffer list leads to: the
// driver's own memory, the list interface another module installed, and
// the blocks the pool gave out and still holds. The list is driver data: a
// pointer anywhere else is not followed.
class ListMemory {
 public:
  ListMemory(const sim::SimFirmware &firmware, const DriverState &driver) : firmware_(firmware), driver_(driver) {}

  bool Holds(const void *p, uint64_t n) const {
    if (p == nullptr) {
      return false;
    }
    const sim::HeapBufferListImage *adopted = firmware_.PreinstalledHeapBufferList();
    return Within(p, n, driver_.memory, driver_.memorySize) ||
           (adopted != nullptr && Within(p, n, adopted, sizeof(*adopted))) ||
           (n <= SIZE_MAX && firmware_.PoolHolds(p, static_cast<size_t>(n)));
  }

 private:
  static bool Within(const void *p, uint64_t n, const void *base, uint64_t size) {
    const uintptr_t at = reinterpret_cast<uintptr_t>(p);
    const uintptr_t start = reinterpret_cast<uintptr_t>(base);
    return at >= start && at - start <= size && n <= size - (at - start);
  }

  const sim::SimFirmware &firmware_;
  const DriverState &driver_;
};

std::string Address(const void *p) { return Hex2(reinterpret_cast<uintptr_t>(p), 0); }

// Reads the heap buffer list from the anchor the driver set: forward for
// the nodes, backward to check the links. Every link, node and payload is
// checked to lie in memory the list may use before it is read; the first
// that does not ends the walk, and the list is reported as inconsistent.
// Bounded, so that links that never come back to the head cannot keep it
// going.
void GatherHeapList(const sim::SimFirmware &firmware, const DriverState &driver, StartupResult &startup) {
  const ListMemory memory(firmware, driver);
  const HEAP_LIST_ENTRY *head = *driver.heapListAnchor;
  if (head == nullptr) {
    return;
  }
  auto broken = [&startup](const std::string &problem) {
    startup.heapListLinksConsistent = false;
    startup.heapListProblem = problem;
  };
  const std::string outside = " lies outside the driver's memory and the pool";
  if (!memory.Holds(head, sizeof(HEAP_LIST_ENTRY))) {
    broken("the list head at " + Address(head) + outside);
    return;
  }
  if (head->Forward == nullptr || head->Back == nullptr) {
    return;
  }
  constexpr size_t kLimit = 100000;
  std::vector<const HEAP_LIST_ENTRY *> forward;
  for (const HEAP_LIST_ENTRY *entry = head->Forward; entry != head; entry = entry->Forward) {
    const auto *node = reinterpret_cast<const HEAP_BUFFER_NODE *>(entry);
    if (!memory.Holds(node, sizeof(HEAP_BUFFER_NODE))) {
      broken("forward, node " + std::to_string(forward.size() + 1) + " at " + Address(node) + outside);
      break;
    }
    if (!memory.Holds(node, sizeof(HEAP_BUFFER_NODE) + uint64_t{node->Header.Size})) {
      broken("forward, node " + std::to_string(forward.size() + 1) + " at " + Address(node) + " with " +
             std::to_string(node->Header.Size) + " payload bytes" + outside);
      break;
    }
    if (forward.size() == kLimit) {
      broken("forward, the links do not come back to the head within " + std::to_string(kLimit) + " nodes");
      break;
    }
    forward.push_back(entry);
  }
  std::vector<const HEAP_LIST_ENTRY *> backward;
  for (const HEAP_LIST_ENTRY *entry = head->Back; entry != head && startup.heapListProblem.empty();
       entry = entry->Back) {
    if (!memory.Holds(entry, sizeof(HEAP_LIST_ENTRY))) {
      broken("backward, entry " + std::to_string(backward.size() + 1) + " at " + Address(entry) + outside);
      break;
    }
    if (backward.size() == kLimit) {
      broken("backward, the links do not come back to the head within " + std::to_string(kLimit) + " nodes");
      break;
    }
    backward.push_back(entry);
  }
  if (startup.heapListProblem.empty() &&
      !std::equal(forward.begin(), forward.end(), backward.rbegin(), backward.rend())) {
    broken("the backward walk is not the reverse of the forward walk");
  }
  for (const HEAP_LIST_ENTRY *entry : forward) {
    const auto *node = reinterpret_cast<const HEAP_BUFFER_NODE *>(entry);
    HeapBufferNodeView view;
    view.signature = node->Header.Signature;
    view.reserved = node->Header.Reserved;
    view.size = node->Header.Size;
    view.poolKind = node->Header.PoolKind;
    view.transferFlag = node->Header.TransferFlag;
    view.reserved2 = node->Header.Reserved2;
    view.memoryType = firmware.PoolBlockType(node);
    const auto *payload = reinterpret_cast<const uint8_t *>(node + 1);
    view.payload.assign(payload, payload + node->Header.Size);
    startup.heapNodes.push_back(std::move(view));
  }
}

void GatherStartup(sim::SimFirmware &firmware, const DriverState &driver, bool parked, StartupResult &startup) {
  const auto *snapshot = reinterpret_cast<const uint8_t *>(driver.snapshot);
  startup.snapshot.assign(snapshot, snapshot + sizeof(PLATFORM_CONFIG_SNAPSHOT));
  startup.pcdReads = firmware.PcdReads();
  startup.debugMessages = firmware.DebugMessages();

  startup.heapListSource = "none";
  for (const sim::ServiceCall &call : firmware.Calls()) {
    if (call.detail != sim::GuidName(gHeapBufferListProtocolGuid)) {
      continue;
    }
    if (call.service == "LocateProtocol" && !EFI_ERROR(call.status)) {
      startup.heapListSource = "adopted";
    } else if (call.service == "InstallProtocolInterface") {
      startup.heapListSource = "installed";
      startup.heapListInstallStatus = call.status;
    }
  }
  GatherHeapList(firmware, driver, startup);

  const sim::HardwareModel &hardware = firmware.Hardware();
  startup.portTrace = hardware.portLog;
  startup.portTraceTsc = hardware.portWriteTsc;
  startup.stopDisplayFirstWrite = hardware.stopDisplayFirstWrite;
  startup.uartOutput = hardware.uart.transmitted;
  startup.indexRegisterAfter = hardware.platformRegisters.index;
  startup.platformRegisterReads = hardware.platformRegisters.registerReads;
  startup.tscTicksPerSecond = *driver.tscTicksPerSecond;
  startup.parked = parked;
  if (parked) {
    startup.stopCode = hardware.stopCode;
  }
}

// Explains, from what the firmware saw, how the End-of-DXE work ended.
void DescribeOutcome(BootResult &result) {
  const std::string name = "NioTypeProtected";
  if (result.startup.parked) {
    result.outcome = std::string("the driver is parked in the fatal stop display with stop code ") +
                     Word(result.startup.stopCode.value_or(0)) +
                     (result.entryReturned ? " (during End-of-DXE)" : " (during start-up)");
  } else if (EFI_ERROR(result.entryStatus)) {
    result.outcome = "DriverEntry returned " + sim::StatusText(result.entryStatus) + ": no End-of-DXE notification";
  } else if (!result.variableRead) {
    result.outcome = "the End-of-DXE notification did not run";
  } else if (EFI_ERROR(result.variableStatus)) {
    if (result.variableStatus == EFI_NOT_FOUND) {
      result.outcome = "variable " + name + " is missing (GetVariable: Not Found)";
    } else if (result.variableStatus == EFI_BUFFER_TOO_SMALL) {
      result.outcome = "variable " + name + " holds " + std::to_string(result.variableStoredSize) +
                       " bytes, not 4 (GetVariable: Buffer Too Small)";
    } else {
      result.outcome = "variable " + name + " cannot be read (GetVariable: " +
                       sim::StatusText(result.variableStatus) + ")";
    }
  } else if (result.nioWord && *result.nioWord == 0) {
    result.outcome = name + " is 0: nothing to install";
  } else if (!result.variantCode) {
    result.outcome = "NIO kind " + Byte(static_cast<uint8_t>(result.nioWord.value_or(0) >> 8)) +
                     " is not a kind the driver acts on";
  } else if (!result.smbiosLocated) {
    result.outcome = "SMBIOS protocol not found";
  } else if (result.layout.empty()) {
    result.outcome = "variant " + Byte(*result.variantCode) + " has no board layout";
  } else {
    result.installed = true;
    result.outcome = "installed " + result.layout;
  }
}

std::string Narrow(const CHAR16 *text) {
  std::string narrow;
  for (; *text != 0; text++) {
    narrow += *text < 0x80 ? static_cast<char>(*text) : '?';
  }
  return narrow;
}

// Follows each slot's probe through the firmware calls it made: the
// location call names the slot's path, and the calls after it, up to the
// next slot's, are its own.
std::vector<SlotResult> DescribeSlots(const sim::SimFirmware &firmware, const BoardLayout &layout,
                                      const std::vector<sim::SmbiosRecord> &records) {
  const std::vector<sim::ServiceCall> &calls = firmware.Calls();
  const std::string locateFor = sim::GuidName(gEfiDevicePathProtocolGuid) + " for ";
  std::vector<SlotResult> slots;
  size_t cursor = 0;
  for (UINT8 row = 0; row < layout.SlotCount; row++) {
    const SystemSlotEntry &entry = layout.Slots[row];
    SlotResult slot;
    slot.designation = entry.Designation;
    slot.devicePath = Narrow(entry.DevicePathText);
    for (const sim::SmbiosRecord &record : records) {
      if (record.bytes.size() > 17 && record.bytes[0] == 9 &&
          std::string(reinterpret_cast<const char *>(record.bytes.data()) + record.bytes[1]) == slot.designation) {
        slot.recordAdded = true;
        slot.record = record.bytes;
      }
    }

    size_t locate = cursor;
    while (locate < calls.size() &&
           !(calls[locate].service == "LocateDevicePath" && calls[locate].detail == locateFor + slot.devicePath)) {
      locate++;
    }
    if (locate == calls.size()) {
      slot.probe = "the device-path text did not convert";
      slots.push_back(slot);
      continue;
    }
    cursor = locate + 1;
    if (EFI_ERROR(calls[locate].status)) {
      slot.probe = "no handle's device path begins the slot's path (LocateDevicePath: " +
                   sim::StatusText(calls[locate].status) + ")";
      slots.push_back(slot);
      continue;
    }
    const std::string handle = calls[locate].result;
    slot.probe = "the probe stopped at " + handle;
    for (size_t i = locate + 1; i < calls.size() && calls[i].service != "LocateDevicePath"; i++) {
      const sim::ServiceCall &call = calls[i];
      if (call.service == "OpenProtocol") {
        if (EFI_ERROR(call.status)) {
          slot.probe = handle + " carries no PCI I/O (OpenProtocol: " + sim::StatusText(call.status) + ")";
          break;
        }
        slot.rootPort = handle;
      } else if (call.service == "PciIo.GetLocation" && EFI_ERROR(call.status)) {
        slot.probe = "GetLocation failed (" + sim::StatusText(call.status) + "): stored location kept";
        break;
      } else if (call.service == "PciIo.Pci.Read") {
        if (EFI_ERROR(call.status)) {
          slot.probe = "reading the secondary bus number failed (" + sim::StatusText(call.status) +
                       "): stored location kept";
          break;
        }
        // What the port and the bus behind it showed the driver.
        for (const auto &function : firmware.Pci().Functions()) {
          if (function->path != handle) {
            continue;
          }
          const uint8_t secondary = function->config[0x19];
          uint16_t vendor = 0xFFFF;
          uint16_t device = 0xFFFF;
          for (const auto &behind : firmware.Pci().Functions()) {
            if (behind->segment == 0 && behind->bus == secondary && behind->device == 0 && behind->function == 0) {
              vendor = static_cast<uint16_t>(behind->config[0] | (behind->config[1] << 8));
              device = static_cast<uint16_t>(behind->config[2] | (behind->config[3] << 8));
            }
          }
          slot.probe = vendor == 0xFFFF ? "no device on secondary bus " + Hex2(secondary, 2)
                                        : "device " + Hex2(vendor, 4) + ":" + Hex2(device, 4) +
                                              " on secondary bus " + Hex2(secondary, 2);
        }
        break;
      }
    }
    slots.push_back(slot);
  }
  return slots;
}

bool IsRefusal(const sim::ServiceCall &call) {
  return call.service == "AllocatePool" && call.status == EFI_OUT_OF_RESOURCES;
}

std::string RowName(const PortConnectorEntry &row) {
  const std::string internal = row.InternalDesignator != nullptr ? row.InternalDesignator : "";
  const std::string external = row.ExternalDesignator != nullptr ? row.ExternalDesignator : "";
  if (internal.empty() || external.empty()) {
    return "\"" + internal + external + "\"";
  }
  return "\"" + internal + "\" / \"" + external + "\"";
}

// Names, for each allocation the pool refused, what the driver left undone
// because of it. Read from the order of the firmware calls: at start-up the
// pool serves only the heap buffer nodes; at End-of-DXE each connector row
// takes one staging buffer (an Add or a refusal per row, in table order),
// then the slots take their path array and, per slot, the path conversion
// and a staging buffer.
std::vector<SkippedWork> DescribeSkipped(const BootResult &result, const std::vector<sim::ServiceCall> &calls) {
  std::vector<SkippedWork> skipped;
  size_t at = 0;
  for (; at < calls.size(); at++) {
    const sim::ServiceCall &call = calls[at];
    if (call.service == "CreateEventEx" || call.service == "GetVariable") {
      break;
    }
    if (IsRefusal(call)) {
      skipped.push_back({result.startup.parked && !result.entryReturned
                             ? "the rest of the boot: the stop policy parked the driver in the fatal stop display"
                             : "a hand-off heap buffer: without its node it is not transferred",
                         call.detail});
    }
  }

  const BoardLayout *layout = nullptr;
  if (result.variantCode && result.smbiosLocated) {
    layout = LayoutForVariant(*result.variantCode);
  }
  std::vector<const sim::ServiceCall *> slotRefusals;
  UINT8 row = 0;
  bool slotCallSeen = false;
  for (; at < calls.size(); at++) {
    const sim::ServiceCall &call = calls[at];
    const bool refusal = IsRefusal(call);
    if (layout != nullptr && row < layout->ConnectorCount &&
        (refusal || (call.service == "SMBIOS Add" && call.detail == "Type 8"))) {
      if (refusal) {
        skipped.push_back({"Type 8 record of connector row " + std::to_string(row + 1) + " (" +
                               RowName(layout->Connectors[row]) + ")",
                           call.detail});
      }
      row++;
    } else if (refusal) {
      slotRefusals.push_back(&call);
    } else if (call.service == "LocateDevicePath" || call.service == "SMBIOS Add") {
      slotCallSeen = true;
    }
  }

  size_t next = 0;
  if (!slotRefusals.empty() && !slotCallSeen && !result.slots.empty()) {
    skipped.push_back({"every Type 9 record: the slots' path array could not be allocated", slotRefusals[next++]->detail});
  }
  for (const SlotResult &slot : result.slots) {
    if (next < slotRefusals.size() && slot.probe == "the device-path text did not convert") {
      skipped.push_back({"the PCI probe of slot " + slot.designation +
                             ": its device path could not be built, so the stored row is used",
                         slotRefusals[next++]->detail});
    }
    if (next < slotRefusals.size() && !slot.recordAdded && slotCallSeen) {
      skipped.push_back({"Type 9 record of slot " + slot.designation, slotRefusals[next++]->detail});
    }
  }
  for (; next < slotRefusals.size(); next++) {
    skipped.push_back({"nothing the report can name", slotRefusals[next]->detail});
  }
  return skipped;
}

}  // namespace

BootResult RunBoot(const sim::Platform &platform, const DriverImage *image) {
  // A loaded image reaches the hardware model through faults it takes. The
  // traps outlive the simulated firmware, so that a fault while its memory
  // is read back or released after the driver ran is reported too.
  std::unique_ptr<loader::MachineTraps> traps;
  if (image != nullptr) {
    traps = TrapsFor(*image);
  }
  sim::SimFirmware firmware(platform);
  // The linked-in driver meets its module globals as loaded; its entry
  // point stores the tables.
  std::optional<LinkedDriver> linkedDriver;
  if (image == nullptr) {
    linkedDriver.emplace(firmware, LinkedDriver::Tables::kStoredByEntryPoint);
  }
  BootResult result;
  result.platformName = platform.name;
  result.startup.indexRegisterBefore = firmware.Hardware().platformRegisters.index;

  const DriverState linked;
  const DriverState &driver = image != nullptr ? image->state : linked;
  if (traps != nullptr) {
    // An overrun of a pool block faults in the image's code, where the
    // traps name it, instead of corrupting this program's heap.
    firmware.PlacePoolBlocksBeforeGuardPages();
    traps->Arm();
  }

  // The stop display never returns on a machine; the hardware model takes
  // control back after the platform's number of display values.
  EFI_STATUS entryStatus = EFI_SUCCESS;
  bool parked = sim::RunUntilParked(firmware.Hardware(), [&firmware, &entryStatus, &driver] {
    entryStatus = driver.entry(firmware.ImageHandle(), firmware.SystemTable());
  });
  result.entryReturned = !parked;
  result.entryStatus = parked ? EFI_SUCCESS : entryStatus;
  if (!parked) {
    parked = sim::RunUntilParked(firmware.Hardware(),
                                 [&firmware] { firmware.SignalEventGroup(gEfiEndOfDxeEventGroupGuid); });
  }
  if (traps != nullptr) {
    traps->Disarm();
  }
  GatherStartup(firmware, driver, parked, result.startup);

  const std::u16string nioName(gNioTypeVariableName);
  if (const sim::VariableDescription *variable = firmware.FindVariable(nioName, gNioTypeVariableGuid)) {
    result.variablePresent = true;
    result.variableStoredSize = variable->data.size();
  }
  for (const sim::ServiceCall &call : firmware.Calls()) {
    if (call.service == "GetVariable" && call.detail == "NioTypeProtected") {
      result.variableRead = true;
      result.variableStatus = call.status;
    }
    if (call.service == "LocateProtocol" && call.detail == sim::GuidName(gEfiSmbiosProtocolGuid)) {
      result.smbiosLocateAttempted = true;
      result.smbiosLocated = !EFI_ERROR(call.status);
    }
  }
  if (result.variableRead && !EFI_ERROR(result.variableStatus)) {
    // The driver reads the first 4 bytes of the variable into a zero word.
    const sim::VariableDescription *variable = firmware.FindVariable(nioName, gNioTypeVariableGuid);
    uint32_t word = 0;
    std::memcpy(&word, variable->data.data(), std::min<size_t>(4, variable->data.size()));
    result.nioWord = word;
    UINT8 code = 0;
    if (SelectVariantCode(word, &code)) {
      result.variantCode = code;
      if (const BoardLayout *layout = LayoutForVariant(code)) {
        result.layout = layout->Name;
      }
    }
  }
  DescribeOutcome(result);

  result.records = firmware.SmbiosRecords();
  if (!result.layout.empty() && result.smbiosLocated) {
    UINT8 code = 0;
    SelectVariantCode(*result.nioWord, &code);
    result.slots = DescribeSlots(firmware, *LayoutForVariant(code), result.records);
  }
  for (const sim::EventState &event : firmware.Events()) {
    if (event.hasGroup && SameGuid(event.group, gEfiEndOfDxeEventGroupGuid)) {
      result.eventCreated = true;
      result.eventNotifications = event.notifications;
      result.eventClosed = event.closed;
    }
  }
  result.pool = firmware.Pool();
  result.calls = firmware.Calls();
  result.skipped = DescribeSkipped(result, result.calls);
  return result;
}

nlohmann::json RunBootIsolated(const sim::Platform &platform) {
  if (sim::SimFirmware::EverActive()) {
    // The child would inherit module globals that driver code changed here.
    throw std::logic_error(
        "RunBootIsolated in a process that already ran driver code in-process: "
        "keep isolated boots and in-process driver tests in separate test programs");
  }
  int pipeEnds[2];
  if (pipe(pipeEnds) != 0) {
    throw std::runtime_error("pipe failed");
  }
  const pid_t child = fork();
  if (child < 0) {
    throw std::runtime_error("fork failed");
  }
  if (child == 0) {
    close(pipeEnds[0]);
    const std::string report = BootReportJson(RunBoot(platform)).dump();
    size_t written = 0;
    while (written < report.size()) {
      ssize_t n = write(pipeEnds[1], report.data() + written, report.size() - written);
      if (n <= 0) {
        _exit(3);
      }
      written += static_cast<size_t>(n);
    }
    close(pipeEnds[1]);
    _exit(0);
  }
  close(pipeEnds[1]);
  std::string report;
  char buffer[65536];
  ssize_t n;
  while ((n = read(pipeEnds[0], buffer, sizeof(buffer))) > 0) {
    report.append(buffer, static_cast<size_t>(n));
  }
  close(pipeEnds[0]);
  int status = 0;
  waitpid(child, &status, 0);
  if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) {
    throw std::runtime_error("the simulated boot died (wait status " + std::to_string(status) + ")");
  }
  return nlohmann::json::parse(report);
}

struct ImageDevicePathFunctions::Functions {
  using Convert = EFI_DEVICE_PATH_PROTOCOL *(EFIAPI *)(const CHAR16 *);
  using Size = UINT64(EFIAPI *)(const EFI_DEVICE_PATH_PROTOCOL *);
  using SizeWithin = UINT64(EFIAPI *)(const EFI_DEVICE_PATH_PROTOCOL *, UINT64, DEVICE_PATH_WALK *);
  Convert path = nullptr;
  Convert node = nullptr;
  Size size = nullptr;
  SizeWithin sizeWithin = nullptr;
  std::unique_ptr<loader::MachineTraps> traps;

  // Runs the image's code with the traps armed.
  template <typename Call>
  auto Run(Call call) const {
    traps->Arm();
    auto result = call();
    traps->Disarm();
    return result;
  }
};

ImageDevicePathFunctions::ImageDevicePathFunctions(DriverImage &image, sim::SimFirmware &firmware)
    : functions_(std::make_unique<Functions>()) {
  auto find = [&](const char *prefix, loader::SymbolKind kind, uint32_t size) {
    return image.mapped->At(loader::FindSymbolIn(image.file, image.symbols, prefix, kind, size, image.mapPath));
  };
  auto code = [&](const char *prefix) { return find(prefix, loader::SymbolKind::Code, 1); };
  functions_->path = reinterpret_cast<Functions::Convert>(code("?ConvertTextToDevicePath@@"));
  functions_->node = reinterpret_cast<Functions::Convert>(code("?ConvertTextToDeviceNode@@"));
  functions_->size = reinterpret_cast<Functions::Size>(code("?GetDevicePathSize@@"));
  functions_->sizeWithin = reinterpret_cast<Functions::SizeWithin>(code("?GetDevicePathSizeWithin@@"));
  auto *bootServices =
      static_cast<EFI_BOOT_SERVICES **>(find("?gBootServices@@", loader::SymbolKind::Data, sizeof(void *)));
  auto *systemTable =
      static_cast<EFI_SYSTEM_TABLE **>(find("?gSystemTable@@", loader::SymbolKind::Data, sizeof(void *)));
  firmware.PlacePoolBlocksBeforeGuardPages();
  *systemTable = firmware.SystemTable();
  *bootServices = firmware.SystemTable()->BootServices;
  functions_->traps = TrapsFor(image);
}

ImageDevicePathFunctions::~ImageDevicePathFunctions() = default;

EFI_DEVICE_PATH_PROTOCOL *ImageDevicePathFunctions::ConvertTextToDevicePath(const CHAR16 *text) const {
  return functions_->Run([&] { return functions_->path(text); });
}

EFI_DEVICE_PATH_PROTOCOL *ImageDevicePathFunctions::ConvertTextToDeviceNode(const CHAR16 *text) const {
  return functions_->Run([&] { return functions_->node(text); });
}

UINT64 ImageDevicePathFunctions::GetDevicePathSize(const EFI_DEVICE_PATH_PROTOCOL *path) const {
  return functions_->Run([&] { return functions_->size(path); });
}

UINT64 ImageDevicePathFunctions::GetDevicePathSizeWithin(const EFI_DEVICE_PATH_PROTOCOL *path, UINT64 limit,
                                                         DEVICE_PATH_WALK *walk) const {
  return functions_->Run([&] { return functions_->sizeWithin(path, limit, walk); });
}

}  // namespace host
