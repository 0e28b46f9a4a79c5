// The start-up part of a boot's outcome: what the start-up chain left in
// the driver's globals, the heap buffer list it built or adopted, and what
// it wrote to the hardware.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "driver/firmware/Guids.h"
#include "host/boot/Outcome.h"
#include "host/loader/MachineTraps.h"
#include "host/sim/Text.h"

namespace host {

namespace {

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
           (n <= SIZE_MAX && firmware_.Pool().PoolHolds(p, static_cast<size_t>(n)));
  }

  // An address as a report may show it: by the memory that holds it (an
  // image offset, the list interface, a pool allocation), never by the
  // host's own number.
  std::string Name(const void *p) const {
    if (p == nullptr) {
      return "null";
    }
    const sim::HeapBufferListImage *adopted = firmware_.PreinstalledHeapBufferList();
    if (adopted != nullptr && Within(p, 1, adopted, sizeof(*adopted))) {
      return "the adopted list interface+" + sim::Hex(Offset(p, adopted));
    }
    if (driver_.image == nullptr && Within(p, 1, driver_.memory, driver_.memorySize)) {
      return "the driver's list interface+" + sim::Hex(Offset(p, driver_.memory));
    }
    return loader::NameAddress(p, driver_.image, &firmware_);
  }

 private:
  static uint64_t Offset(const void *p, const void *base) {
    return reinterpret_cast<uintptr_t>(p) - reinterpret_cast<uintptr_t>(base);
  }
  static bool Within(const void *p, uint64_t n, const void *base, uint64_t size) {
    const uintptr_t at = reinterpret_cast<uintptr_t>(p);
    const uintptr_t start = reinterpret_cast<uintptr_t>(base);
    return at >= start && at - start <= size && n <= size - (at - start);
  }

  const sim::SimFirmware &firmware_;
  const DriverState &driver_;
};

// For a loaded image, whose globals the report finds through the linker's
// map: whether the anchor read there and the interface the driver installed
// are what the image's own doing says they are. The anchor is the head of
// the list the driver adopted (the other module's interface, known to the
// firmware) or of its own interface, which the map names too and which
// must be the interface the firmware saw installed; it is null only when
// the driver began no list. Anything else is a map that does not describe
// the image (the driver does exactly this whatever its map): how, or none.
std::optional<HeapListMapProblem> MapProblem(const sim::SimFirmware &firmware, const DriverState &driver,
                                             const ListMemory &memory, HeapListSource source) {
  const sim::HeapBufferListImage *adopted = firmware.PreinstalledHeapBufferList();
  HeapListMapProblem problem{HeapListMapProblem::Kind::AnchorNull, driver.mapPath,
                             memory.Name(driver.heapListAnchor), memory.Name(driver.listInterface), "", "", source};
  if (source == HeapListSource::Installed) {
    for (EFI_HANDLE handle : firmware.Protocols().Handles()) {
      const void *installed = firmware.Protocols().HandleProtocol(handle, gHeapBufferListProtocolGuid);
      if (installed != nullptr && installed != adopted && installed != driver.listInterface) {
        problem.kind = HeapListMapProblem::Kind::InstalledElsewhere;
        problem.found = memory.Name(installed);
        return problem;
      }
    }
  }
  const HEAP_LIST_ENTRY *anchor = *driver.heapListAnchor;
  const HEAP_LIST_ENTRY *expected =
      source == HeapListSource::Adopted && adopted != nullptr
          ? reinterpret_cast<const HEAP_LIST_ENTRY *>(reinterpret_cast<const uint8_t *>(adopted) +
                                                      offsetof(HEAP_BUFFER_LIST_INTERFACE, ListHead))
          : &driver.listInterface->ListHead;
  if (anchor == nullptr) {
    return source == HeapListSource::None ? std::nullopt : std::optional(problem);
  }
  if (anchor != expected) {
    problem.kind = HeapListMapProblem::Kind::AnchorElsewhere;
    problem.found = memory.Name(anchor);
    problem.expected = memory.Name(expected);
    return problem;
  }
  return std::nullopt;
}

// Reads the heap buffer list from the anchor the driver set: forward for
// the nodes, backward to check the links. Every link, node and payload is
// checked to lie in memory the list may use before it is read; the first
// that does not ends the walk, and the list is reported as inconsistent.
// Bounded, so that links that never come back to the head cannot keep it
// going. For a loaded image the anchor is first checked against what the
// image did (MapProblem); a map that does not match leaves the list unread.
void GatherHeapList(const sim::SimFirmware &firmware, const DriverState &driver, StartupResult &startup) {
  const ListMemory memory(firmware, driver);
  if (driver.image != nullptr) {
    startup.heapListMapProblem = MapProblem(firmware, driver, memory, startup.heapListSource);
    if (startup.heapListMapProblem) {
      return;
    }
  }
  const HEAP_LIST_ENTRY *head = *driver.heapListAnchor;
  if (head == nullptr) {
    return;
  }
  auto broken = [&startup](HeapListBreak::Kind kind, size_t position, const std::string &at,
                            uint32_t payloadBytes = 0) {
    startup.heapListLinksConsistent = false;
    startup.heapListBreak = HeapListBreak{kind, position, payloadBytes, at};
  };
  if (!memory.Holds(head, sizeof(HEAP_LIST_ENTRY))) {
    broken(HeapListBreak::Kind::HeadOutside, 0, memory.Name(head));
    return;
  }
  if (head->Forward == nullptr || head->Back == nullptr) {
    return;
  }
  std::vector<const HEAP_LIST_ENTRY *> forward;
  for (const HEAP_LIST_ENTRY *entry = head->Forward; entry != head; entry = entry->Forward) {
    const auto *node = reinterpret_cast<const HEAP_BUFFER_NODE *>(entry);
    const size_t position = forward.size() + 1;
    if (!memory.Holds(node, sizeof(HEAP_BUFFER_NODE))) {
      broken(HeapListBreak::Kind::NodeOutside, position, memory.Name(node));
      break;
    }
    if (!memory.Holds(node, sizeof(HEAP_BUFFER_NODE) + uint64_t{node->Header.Size})) {
      broken(HeapListBreak::Kind::PayloadOutside, position, memory.Name(node), node->Header.Size);
      break;
    }
    if (forward.size() == kHeapListWalkLimit) {
      broken(HeapListBreak::Kind::ForwardUnending, 0, "");
      break;
    }
    forward.push_back(entry);
  }
  std::vector<const HEAP_LIST_ENTRY *> backward;
  for (const HEAP_LIST_ENTRY *entry = head->Back; entry != head && !startup.heapListBreak; entry = entry->Back) {
    if (!memory.Holds(entry, sizeof(HEAP_LIST_ENTRY))) {
      broken(HeapListBreak::Kind::EntryOutside, backward.size() + 1, memory.Name(entry));
      break;
    }
    if (backward.size() == kHeapListWalkLimit) {
      broken(HeapListBreak::Kind::BackwardUnending, 0, "");
      break;
    }
    backward.push_back(entry);
  }
  if (!startup.heapListBreak && !std::equal(forward.begin(), forward.end(), backward.rbegin(), backward.rend())) {
    broken(HeapListBreak::Kind::NotReverse, 0, "");
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
    view.memoryType = firmware.Pool().PoolBlockType(node);
    const auto *payload = reinterpret_cast<const uint8_t *>(node + 1);
    view.payload.assign(payload, payload + node->Header.Size);
    startup.heapNodes.push_back(std::move(view));
  }
}

}  // namespace

StartupResult DeriveStartup(sim::SimFirmware &firmware, const DriverState &driver, const DriverRun &run) {
  StartupResult startup;
  const bool parked = run.parked;
  startup.indexRegisterBefore = run.indexRegisterBefore;
  const auto *snapshot = reinterpret_cast<const uint8_t *>(driver.snapshot);
  startup.snapshot.assign(snapshot, snapshot + sizeof(PLATFORM_CONFIG_SNAPSHOT));
  startup.pcdReads = firmware.Pcd().Reads();
  startup.debugMessages = firmware.DebugPrint().Messages();

  // Adopted when the look-up of another module's list found one; installed
  // when the driver installed its own.
  startup.heapListSource = HeapListSource::None;
  for (const sim::ServiceCall &call : firmware.Calls()) {
    if (!call.guid || !sim::SameGuid(*call.guid, gHeapBufferListProtocolGuid)) {
      continue;
    }
    if (call.service == sim::Service::LocateProtocol && !EFI_ERROR(call.status)) {
      startup.heapListSource = HeapListSource::Adopted;
    } else if (call.service == sim::Service::InstallProtocolInterface) {
      startup.heapListSource = HeapListSource::Installed;
      startup.heapListInstallStatus = call.status;
    }
  }
  GatherHeapList(firmware, driver, startup);

  const sim::HardwareModel &hardware = firmware.Hardware();
  startup.portTrace = hardware.portLog;
  startup.portTraceTsc = hardware.portWriteTsc;
  startup.stopDisplayFirstWrite = hardware.stopDisplayFirstWrite;
  startup.stopDisplayLeftOut = hardware.stopDisplayLeftOut;
  startup.uartOutput = hardware.uart.transmitted;
  startup.indexRegisterAfter = hardware.platformRegisters.index;
  startup.platformRegisterReads = hardware.platformRegisters.registerReads;
  startup.tscTicksPerSecond = *driver.tscTicksPerSecond;
  startup.parked = parked;
  if (parked) {
    startup.stopCode = hardware.stopCode;
  }
  return startup;
}

}  // namespace host
