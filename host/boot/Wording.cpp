#include "host/boot/Wording.h"

#include <cstring>

#include "driver/platform/PlatformServices.h"
#include "host/boot/LinkedPaths.h"
#include "host/boot/SmbiosNames.h"
#include "host/sim/EfiValues.h"
#include "host/sim/Text.h"

namespace host {

namespace {

using sim::Counted;
using sim::Hex;
using sim::StatusText;

std::string HandleName(const sim::HandleRef &handle) { return sim::HandleText(handle, LinkedPathText); }

std::string RowName(const PortConnectorEntry &row) {
  const std::string internal = row.InternalDesignator != nullptr ? row.InternalDesignator : "";
  const std::string external = row.ExternalDesignator != nullptr ? row.ExternalDesignator : "";
  if (internal.empty() || external.empty()) {
    return "\"" + internal + external + "\"";
  }
  return "\"" + internal + "\" / \"" + external + "\"";
}

// The port writers' markers, as the platform services define them.
constexpr uint16_t kStopSignaturePort = STOP_SIGNATURE_PORT;
constexpr uint16_t kPostCodePort = POST_CODE_PORT;
constexpr uint32_t kStopSignature = STOP_SIGNATURE;
constexpr uint32_t kStreamStart = STREAM_START_MARKER;
constexpr uint32_t kStreamEnd = STREAM_END_MARKER;

bool Is(const sim::PortWrite &write, uint16_t port, unsigned width) {
  return write.port == port && write.width == width;
}

template <typename Area>
std::optional<Area> FormattedArea(const std::vector<uint8_t> &record, uint8_t type) {
  if (record.size() < sizeof(Area) || record[0] != type || record[1] < sizeof(Area)) {
    return std::nullopt;
  }
  Area area;
  std::memcpy(&area, record.data(), sizeof(area));
  return area;
}

}  // namespace

std::string OutcomeText(const BootResult &result) {
  const std::string name = "NioTypeProtected";
  switch (result.outcome) {
    case BootOutcome::Parked:
      return "the driver is parked in the fatal stop display with stop code " +
             Hex(result.startup.stopCode.value_or(0), 8) +
             (result.entryReturned ? " (during End-of-DXE)" : " (during start-up)");
    case BootOutcome::EntryFailed:
      return "DriverEntry returned " + StatusText(result.entryStatus) + ": no End-of-DXE notification";
    case BootOutcome::NotificationDidNotRun:
      return "the End-of-DXE notification did not run";
    case BootOutcome::VariableMissing:
      return "variable " + name + " is missing (GetVariable: Not Found)";
    case BootOutcome::VariableWrongSize:
      return "variable " + name + " holds " + Counted(result.variableStoredSize, "byte", "bytes") +
             ", not 4 (GetVariable: Buffer Too Small)";
    case BootOutcome::VariableUnreadable:
      return "variable " + name + " cannot be read (GetVariable: " + StatusText(result.variableStatus) + ")";
    case BootOutcome::WordZero:
      return name + " is 0: nothing to install";
    case BootOutcome::KindNotActedOn:
      return "NIO kind " + Hex(static_cast<uint8_t>(result.nioWord.value_or(0) >> 8), 2) +
             " is not a kind the driver acts on";
    case BootOutcome::SmbiosNotFound:
      return "SMBIOS protocol not found";
    case BootOutcome::NoLayout:
      return "variant " + Hex(result.variantCode.value_or(0), 2) + " has no board layout";
    case BootOutcome::Installed:
      return "installed " + result.layout;
  }
  return "?";
}

std::string HeapListSourceText(HeapListSource source) {
  switch (source) {
    case HeapListSource::None:
      return "none";
    case HeapListSource::Installed:
      return "installed";
    case HeapListSource::Adopted:
      return "adopted";
  }
  return "?";
}

std::string HeapListBreakText(const HeapListBreak &broken) {
  const std::string outside = " outside the driver's memory and the pool";
  const std::string unending =
      ", the links do not come back to the head within " + std::to_string(kHeapListWalkLimit) + " nodes";
  switch (broken.kind) {
    case HeapListBreak::Kind::HeadOutside:
      return "the list head lies" + outside + " (at " + broken.at + ")";
    case HeapListBreak::Kind::NodeOutside:
      return "forward, node " + std::to_string(broken.position) + " lies" + outside + " (at " + broken.at + ")";
    case HeapListBreak::Kind::PayloadOutside:
      return "forward, node " + std::to_string(broken.position) + " (at " + broken.at + ") with " +
             Counted(broken.payloadBytes, "payload byte", "payload bytes") + " runs" + outside;
    case HeapListBreak::Kind::ForwardUnending:
      return "forward" + unending;
    case HeapListBreak::Kind::EntryOutside:
      return "backward, entry " + std::to_string(broken.position) + " lies" + outside + " (at " + broken.at + ")";
    case HeapListBreak::Kind::BackwardUnending:
      return "backward" + unending;
    case HeapListBreak::Kind::NotReverse:
      return "the backward walk is not the reverse of the forward walk";
  }
  return "?";
}

std::string HeapListMapProblemText(const HeapListMapProblem &problem) {
  const std::string anchorAt = "gHeapListAnchor at " + problem.anchorAt;
  std::string what;
  switch (problem.kind) {
    case HeapListMapProblem::Kind::InstalledElsewhere:
      what = "the driver installed its heap buffer list interface at " + problem.found +
             ", not at gHeapBufferListInterface at " + problem.interfaceAt;
      break;
    case HeapListMapProblem::Kind::AnchorNull:
      what = anchorAt + " holds null, but the driver " + HeapListSourceText(problem.source) + " a heap buffer list";
      break;
    case HeapListMapProblem::Kind::AnchorElsewhere:
      what = anchorAt + " points to " + problem.found + ", not to the head of the " +
             (problem.source == HeapListSource::Adopted ? "adopted list (" : "driver's own list (") +
             problem.expected + ")";
      break;
  }
  return problem.mapPath + ": " + what + ": the map does not match the image";
}

std::string ProbeText(const BootResult &result, const SlotResult &slot) {
  const EFI_STATUS ended = slot.endCall ? result.calls[*slot.endCall].status : EFI_SUCCESS;
  const std::string handle = slot.locateCall ? HandleName(result.calls[*slot.locateCall].handle) : "";
  switch (slot.probe) {
    case SlotProbe::PathNotConverted:
      return "the device-path text did not convert";
    case SlotProbe::NoHandle:
      return "no handle's device path begins the slot's path (LocateDevicePath: " +
             StatusText(result.calls[*slot.locateCall].status) + ")";
    case SlotProbe::Stopped:
      return "the probe stopped at " + handle;
    case SlotProbe::NoPciIo:
      return handle + " carries no PCI I/O (OpenProtocol: " + StatusText(ended) + ")";
    case SlotProbe::GetLocationFailed:
      return "GetLocation failed (" + StatusText(ended) + "): stored location kept";
    case SlotProbe::ReadFailed:
      return "reading the secondary bus number failed (" + StatusText(ended) + "): stored location kept";
    case SlotProbe::ReadBehindPort:
      return slot.deviceBehind ? "device " + Hex(slot.deviceBehind->first, 4) + ":" +
                                     Hex(slot.deviceBehind->second, 4) + " on secondary bus " +
                                     Hex(slot.secondaryBus, 2)
                               : "no device on secondary bus " + Hex(slot.secondaryBus, 2);
  }
  return "?";
}

std::string RootPortText(const BootResult &result, const SlotResult &slot) {
  return slot.rootPortOpened && slot.locateCall ? HandleName(result.calls[*slot.locateCall].handle) : "";
}

std::string SkippedText(const BootResult &result, const SkippedWork &work) {
  switch (work.kind) {
    case SkippedWork::Kind::RestOfBoot:
      return "the rest of the boot: the stop policy parked the driver in the fatal stop display";
    case SkippedWork::Kind::HandOffBuffer:
      return "a hand-off heap buffer: without its node it is not transferred";
    case SkippedWork::Kind::ConnectorRecord:
      return "Type 8 record of connector row " + std::to_string(work.index + 1) +
             (result.workedLayout != nullptr ? " (" + RowName(result.workedLayout->Connectors[work.index]) + ")"
                                             : std::string());
    case SkippedWork::Kind::SlotPathArray:
      return "every Type 9 record: the slots' path array could not be allocated";
    case SkippedWork::Kind::SlotProbe:
      return "the PCI probe of slot " + result.slots[work.index].designation +
             ": its device path could not be built, so the stored row is used";
    case SkippedWork::Kind::SlotRecord:
      return "Type 9 record of slot " + result.slots[work.index].designation;
    case SkippedWork::Kind::Unnamed:
      return "nothing the report can name";
  }
  return "?";
}

std::string RefusalText(const SkippedWork &work) { return CallText(work.refusal).detail; }

std::string FailureText(const BootResult &result, const BootFailure &failure) {
  switch (failure.kind) {
    case BootFailure::Kind::HeldBeyondList:
      return "the driver returned holding " + Counted(failure.count, "pool block", "pool blocks") +
             " beyond the heap buffer list's " + Counted(failure.listNodes, "node", "nodes");
    case BootFailure::Kind::InvalidFrees:
      return "the driver freed " + Counted(failure.count, "block", "blocks") + " the pool never gave out";
    case BootFailure::Kind::DamagedGuard:
      return "the driver overwrote the guard bytes of a pool block: " +
             sim::DamagedPoolBlockText(result.pool.damagedBlocks[failure.index]);
    case BootFailure::Kind::MalformedRecord: {
      const sim::ServiceCall &call = result.malformedRecords[failure.index];
      return "the driver added a malformed SMBIOS record" +
             (call.recordType ? " (Type " + std::to_string(*call.recordType) + ")" : std::string()) + ": " +
             sim::SmbiosRecordProblemText(*call.recordProblem);
    }
  }
  return "?";
}

sim::ServiceCallText CallText(const sim::ServiceCall &call) { return sim::FormatServiceCall(call, LinkedPathText); }

std::vector<PortEvent> PortEvents(const StartupResult &startup) {
  std::vector<PortEvent> events;
  const std::vector<sim::PortWrite> &trace = startup.portTrace;
  const size_t displayFrom = startup.parked ? startup.stopDisplayFirstWrite : trace.size();
  size_t i = 0;
  while (i < trace.size() && i < displayFrom) {
    const sim::PortWrite &write = trace[i];
    if (Is(write, kStopSignaturePort, 16) && write.value == kStopSignature) {
      events.push_back({PortEvent::Kind::StopSignature, write, {}, false, {}});
      i++;
      if (i < displayFrom && Is(trace[i], kPostCodePort, 32)) {
        events.push_back({PortEvent::Kind::StopCode, trace[i], {}, false, {}});
        i++;
      }
    } else if (Is(write, kPostCodePort, 32) && write.value == kStreamStart) {
      std::vector<uint8_t> bytes;
      size_t j = i + 1;
      while (j < displayFrom && Is(trace[j], kPostCodePort, 8)) {
        bytes.push_back(static_cast<uint8_t>(trace[j].value));
        j++;
      }
      const bool complete = j < displayFrom && Is(trace[j], kPostCodePort, 32) && trace[j].value == kStreamEnd;
      events.push_back({PortEvent::Kind::StreamFrame, write, bytes, complete, {}});
      i = complete ? j + 1 : j;
    } else {
      events.push_back({PortEvent::Kind::Write, write, {}, false, {}});
      i++;
    }
  }
  if (startup.parked) {
    PortEvent display{PortEvent::Kind::StopDisplay, {}, {}, false, {}};
    for (size_t k = displayFrom; k < trace.size(); k++) {
      display.values.push_back(trace[k].value);
    }
    events.push_back(display);
  }
  return events;
}

std::string Printable(const std::vector<uint8_t> &bytes) {
  return sim::Escaped(std::string_view(reinterpret_cast<const char *>(bytes.data()), bytes.size()));
}

std::vector<std::string> StringSet(const std::vector<uint8_t> &record) {
  std::vector<std::string> strings;
  if (record.size() < 2) {
    return strings;
  }
  size_t at = record[1];
  while (at < record.size() && record[at] != 0) {
    std::string text;
    while (at < record.size() && record[at] != 0) {
      text += static_cast<char>(record[at++]);
    }
    strings.push_back(text);
    at++;
  }
  return strings;
}

std::optional<std::string> StringField(const std::vector<std::string> &strings, uint8_t number) {
  if (number == 0 || number > strings.size()) {
    return std::nullopt;
  }
  return strings[number - 1];
}

std::optional<SMBIOS_TABLE_TYPE8> Type8Area(const std::vector<uint8_t> &record) {
  return FormattedArea<SMBIOS_TABLE_TYPE8>(record, SMBIOS_TYPE_PORT_CONNECTOR_INFORMATION);
}

std::optional<SMBIOS_TABLE_TYPE9> Type9Area(const std::vector<uint8_t> &record) {
  return FormattedArea<SMBIOS_TABLE_TYPE9>(record, SMBIOS_TYPE_SYSTEM_SLOTS);
}

std::string CodedText(const std::string &name, uint8_t value) { return name + " (" + Hex(value, 2) + ")"; }

std::string SlotBusAddress(const SMBIOS_TABLE_TYPE9 &slot) {
  return PciBusAddress(slot.SegmentGroupNum, slot.BusNum, slot.DevFuncNum);
}

}  // namespace host
