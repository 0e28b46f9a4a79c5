// The readable report: written from the BootResult, in the words of
// Wording.h, independent of the JSON report.
#include <sstream>
#include <string>

#include "driver/platform/PlatformServices.h"
#include "host/boot/Report.h"
#include "host/boot/SmbiosNames.h"
#include "host/boot/Wording.h"
#include "host/sim/EfiValues.h"
#include "host/sim/ServiceLog.h"
#include "host/sim/Text.h"

namespace host {

namespace {

using sim::Counted;
using sim::Escaped;
using sim::Hex;

constexpr uint16_t kPostCodePort = POST_CODE_PORT;

std::string Quoted(const std::optional<std::string> &value) {
  return value ? "\"" + Escaped(*value) + "\"" : "(none)";
}

// A slot's PCI address as dmidecode shows it, or why there is none.
std::string BusAddressText(const SMBIOS_TABLE_TYPE9 &slot) {
  const std::string address = SlotBusAddress(slot);
  return address.empty() ? "not applicable (0xFFFF, 0xFF, 0xFF)" : address;
}

bool Shown(const RecordTypes &shown, uint8_t type) { return shown.empty() || shown.count(type) != 0; }

uint8_t RecordType(const sim::SmbiosRecord &record) { return record.bytes.empty() ? 0 : record.bytes[0]; }

// "Type 9", "Types 8, 9".
std::string TypesText(const RecordTypes &shown) {
  std::string list;
  for (uint8_t type : shown) {
    list += (list.empty() ? "" : ", ") + std::to_string(type);
  }
  return (shown.size() == 1 ? "Type " : "Types ") + list;
}

void WriteRecordFields(std::ostream &out, const std::vector<uint8_t> &record) {
  const std::vector<std::string> strings = StringSet(record);
  if (const std::optional<SMBIOS_TABLE_TYPE8> connector = Type8Area(record)) {
    out << "      Internal Reference Designator: "
        << Quoted(StringField(strings, connector->InternalReferenceDesignator)) << "\n";
    out << "      Internal Connector Type: "
        << CodedText(ConnectorTypeName(connector->InternalConnectorType), connector->InternalConnectorType) << "\n";
    out << "      External Reference Designator: "
        << Quoted(StringField(strings, connector->ExternalReferenceDesignator)) << "\n";
    out << "      External Connector Type: "
        << CodedText(ConnectorTypeName(connector->ExternalConnectorType), connector->ExternalConnectorType) << "\n";
    out << "      Port Type: " << CodedText(PortTypeName(connector->PortType), connector->PortType) << "\n";
  } else if (const std::optional<SMBIOS_TABLE_TYPE9> slot = Type9Area(record)) {
    out << "      Designation: " << Quoted(StringField(strings, slot->SlotDesignation)) << "\n";
    out << "      Type: " << CodedText(SlotTypeName(slot->SlotType), slot->SlotType) << "\n";
    out << "      Data Bus Width: " << CodedText(SlotWidthName(slot->SlotDataBusWidth), slot->SlotDataBusWidth) << "\n";
    out << "      Current Usage: " << CodedText(SlotUsageName(slot->CurrentUsage), slot->CurrentUsage) << "\n";
    out << "      Length: " << CodedText(SlotLengthName(slot->SlotLength), slot->SlotLength) << "\n";
    out << "      ID: " << slot->SlotID << "\n";
    out << "      Characteristics:\n";
    for (const std::string &line : SlotCharacteristicsText(slot->SlotCharacteristics1, slot->SlotCharacteristics2)) {
      out << "        " << line << "\n";
    }
    out << "      Bus Address: " << BusAddressText(*slot) << "\n";
  }
}

void WritePortEvent(std::ostream &out, const StartupResult &startup, const PortEvent &event) {
  switch (event.kind) {
    case PortEvent::Kind::StopSignature:
      out << "  Port " << Hex(event.write.port, 2) << ": stop signature " << Hex(event.write.value, 4) << "\n";
      break;
    case PortEvent::Kind::StopCode:
      out << "  Port " << Hex(kPostCodePort) << ": stop code " << Hex(event.write.value, 8) << "\n";
      break;
    case PortEvent::Kind::StreamFrame:
      out << "  Port " << Hex(kPostCodePort) << ": stream frame \"" << Printable(event.bytes) << "\""
          << (event.complete ? "" : " (no end marker)") << "\n";
      break;
    case PortEvent::Kind::StopDisplay: {
      out << "  Port " << Hex(kPostCodePort) << ": stop display";
      // A long display shows its first values and its last, and how many
      // came between them.
      const uint64_t leftOut = startup.stopDisplayLeftOut;
      size_t index = 0;
      for (uint32_t value : event.values) {
        if (leftOut != 0 && index++ == sim::HardwareModel::kStopDisplayKeptFirst) {
          out << " (" << Counted(leftOut, "value", "values") << " left out)";
        }
        out << " " << Hex(value, 8);
      }
      out << "\n";
      break;
    }
    case PortEvent::Kind::Write:
      out << "  Port " << Hex(event.write.port, 2) << ": " << static_cast<int>(event.write.width) << "-bit "
          << Hex(event.write.value, static_cast<int>(event.write.width / 4)) << "\n";
      break;
  }
}

}  // namespace

std::string StartupReportText(const StartupResult &startup) {
  std::ostringstream out;
  out << "Start-up:\n";
  const bool stopPolicy = startup.snapshot.size() > 4 && startup.snapshot[4] != 0;
  out << "  Configuration snapshot: " << HexBytes(startup.snapshot)
      << (stopPolicy ? " (stop policy on)" : " (stop policy off)") << "\n";
  for (const sim::DebugMessage &message : startup.debugMessages) {
    std::string text = message.text;
    while (!text.empty() && text.back() == '\n') {
      text.pop_back();
    }
    out << "  Debug message [" << Hex(message.errorLevel, 8) << "]: " << Escaped(text) << "\n";
  }
  out << "  Heap buffer list: " << HeapListSourceText(startup.heapListSource);
  if (startup.heapListInstallStatus) {
    out << " (InstallProtocolInterface: " << sim::StatusText(*startup.heapListInstallStatus) << ")";
  }
  if (startup.heapListMapProblem) {
    out << ", not read: " << Escaped(HeapListMapProblemText(*startup.heapListMapProblem)) << "\n";
  } else {
    out << ", " << Counted(startup.heapNodes.size(), "buffer", "buffers") << "\n";
  }
  if (!startup.heapListLinksConsistent) {
    out << "    links not consistent"
        << (startup.heapListBreak ? ": " + HeapListBreakText(*startup.heapListBreak) : std::string()) << "\n";
  }
  size_t index = 0;
  for (const HeapBufferNodeView &node : startup.heapNodes) {
    index++;
    out << "    [" << index << "] " << Counted(node.size, "byte", "bytes") << ", pool kind "
        << static_cast<int>(node.poolKind) << ", in "
        << (node.memoryType ? sim::MemoryTypeKey(*node.memoryType) : std::string("no pool block")) << ": "
        << HexBytes(node.payload) << "\n";
  }
  if (startup.portTrace.empty()) {
    out << "  Ports: nothing written\n";
  }
  for (const PortEvent &event : PortEvents(startup)) {
    WritePortEvent(out, startup, event);
  }
  if (!startup.uartOutput.empty()) {
    out << "  UART: \"" << Printable(startup.uartOutput) << "\"\n";
  }
  if (startup.parked) {
    out << "  Fatal stop: parked in the stop display with code " << Hex(startup.stopCode.value_or(0), 8);
    if (startup.stopDisplayLeftOut != 0) {
      const uint64_t kept = startup.portTrace.size() - startup.stopDisplayFirstWrite;
      out << " after " << Counted(kept + startup.stopDisplayLeftOut, "display value", "display values");
    }
    out << "\n";
  }
  return out.str();
}

std::string BootReportText(const BootResult &result, const RecordTypes &shown) {
  std::ostringstream out;
  out << "Platform: " << Escaped(result.platformName) << "\n";
  out << "DriverEntry: " << (result.entryReturned ? sim::StatusText(result.entryStatus) : "did not return") << "\n";

  out << "NioTypeProtected: ";
  if (!result.variablePresent) {
    out << "absent";
  } else {
    out << Counted(result.variableStoredSize, "byte", "bytes") << " stored";
  }
  if (result.variableRead) {
    out << "; GetVariable: " << sim::StatusText(result.variableStatus);
  }
  if (result.nioWord) {
    out << "; word " << Hex(*result.nioWord, 8);
  }
  out << "\n";
  if (result.variantCode) {
    out << "Variant code: " << Hex(*result.variantCode, 2) << ", layout: "
        << (result.layout.empty() ? "none" : result.layout) << "\n";
  }
  out << "Outcome: " << OutcomeText(result) << "\n";

  out << "SMBIOS records added: " << result.records.size();
  if (!shown.empty()) {
    size_t count = 0;
    for (const sim::SmbiosRecord &record : result.records) {
      count += Shown(shown, RecordType(record)) ? 1 : 0;
    }
    out << " (" << TypesText(shown) << " only: " << count << " shown)";
  }
  out << "\n";
  size_t index = 0;
  for (const sim::SmbiosRecord &record : result.records) {
    index++;
    const uint8_t type = RecordType(record);
    if (!Shown(shown, type)) {
      continue;
    }
    out << "  [" << index << "] Type " << static_cast<int>(type) << " " << SmbiosTypeName(type) << ", handle "
        << Hex(record.handle, 4) << "\n";
    WriteRecordFields(out, record.bytes);
    out << "      Raw: " << HexBytes(record.bytes) << "\n";
  }

  if (!result.malformedRecords.empty()) {
    out << "SMBIOS records refused as malformed: " << result.malformedRecords.size() << "\n";
  }
  index = 0;
  for (const sim::ServiceCall &call : result.malformedRecords) {
    index++;
    out << "  [" << index << "] Type " << (call.recordType ? std::to_string(*call.recordType) : std::string("?"))
        << ": " << sim::SmbiosRecordProblemText(*call.recordProblem) << "\n";
  }

  const bool slotsShown = Shown(shown, SMBIOS_TYPE_SYSTEM_SLOTS) && !result.slots.empty();
  if (slotsShown) {
    out << "Slots:\n";
  }
  for (const SlotResult &slot : slotsShown ? result.slots : std::vector<SlotResult>{}) {
    out << "  " << Escaped(slot.designation) << " (" << Escaped(slot.devicePath) << ")\n";
    const std::string rootPort = RootPortText(result, slot);
    out << "      Root port: " << (rootPort.empty() ? "none" : rootPort) << "; " << ProbeText(result, slot) << "\n";
    const std::optional<SMBIOS_TABLE_TYPE9> area = slot.recordAdded ? Type9Area(slot.record) : std::nullopt;
    if (area) {
      out << "      " << CodedText(SlotTypeName(area->SlotType), area->SlotType) << ", "
          << CodedText(SlotWidthName(area->SlotDataBusWidth), area->SlotDataBusWidth) << ", "
          << CodedText(SlotUsageName(area->CurrentUsage), area->CurrentUsage) << "\n";
      out << "      Bus address written: " << BusAddressText(*area) << "\n";
    } else {
      out << "      No record added\n";
    }
  }
  if (!result.skipped.empty()) {
    out << "Skipped:\n";
  }
  for (const SkippedWork &work : result.skipped) {
    out << "  " << Escaped(SkippedText(result, work)) << "\n      because " << RefusalText(work) << "\n";
  }
  out << "End-of-DXE event: "
      << (!result.eventCreated ? "not created" : result.eventClosed ? "closed" : "left open") << "\n";
  out << "Pool: " << Counted(result.pool.outstandingBlocks, "block", "blocks") << " ("
      << Counted(result.pool.outstandingBytes, "byte", "bytes") << ") outstanding after "
      << Counted(result.pool.allocations, "allocation", "allocations");
  if (result.pool.failedAllocations != 0) {
    out << ", " << result.pool.failedAllocations << " refused by fault injection";
  }
  if (result.pool.invalidFrees != 0) {
    out << ", " << Counted(result.pool.invalidFrees, "invalid free", "invalid frees");
  }
  out << "\n";
  for (const sim::DamagedPoolBlock &block : result.pool.damagedBlocks) {
    out << "  Guard bytes damaged: " << sim::DamagedPoolBlockText(block) << "\n";
  }
  out << StartupReportText(result.startup);
  return out.str();
}

}  // namespace host
