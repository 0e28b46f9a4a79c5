#include "host/boot/Report.h"

#include <sstream>

#include "host/boot/SmbiosNames.h"
#include "host/sim/EfiValues.h"
#include "host/sim/ServiceLog.h"
#include "host/sim/Text.h"
#include "driver/platform/PlatformServices.h"

namespace host {

using nlohmann::json;

namespace {

using sim::Hex;

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

json Coded(uint8_t value, const std::string &name) { return {{"value", Hex(value, 2)}, {"name", name}}; }

json StringField(const std::vector<std::string> &strings, uint8_t number) {
  if (number == 0 || number > strings.size()) {
    return nullptr;
  }
  return strings[number - 1];
}

std::string CodedText(const json &field) {
  return field["name"].get<std::string>() + " (" + field["value"].get<std::string>() + ")";
}

// A slot's PCI address as dmidecode shows it, or why there is none.
std::string BusAddressText(const json &address) {
  return address.is_null() ? "not applicable (0xFFFF, 0xFF, 0xFF)" : address.get<std::string>();
}

std::string Quoted(const json &value) {
  return value.is_null() ? "(none)" : "\"" + sim::Escaped(value.get<std::string>()) + "\"";
}

// The port writers' markers, as the platform services define them.
constexpr uint16_t kStopSignaturePort = STOP_SIGNATURE_PORT;
constexpr uint16_t kPostCodePort = POST_CODE_PORT;
constexpr uint32_t kStopSignature = STOP_SIGNATURE;
constexpr uint32_t kStreamStart = STREAM_START_MARKER;
constexpr uint32_t kStreamEnd = STREAM_END_MARKER;

// Bytes the driver sent out as text, escaped as every input a report
// quotes: printable ASCII as it is, every other byte as \xHH (or \n, \r, \t).
std::string Printable(const std::vector<uint8_t> &bytes) {
  return sim::Escaped(std::string_view(reinterpret_cast<const char *>(bytes.data()), bytes.size()));
}

json PortWriteJson(const sim::PortWrite &write) {
  return {{"port", Hex(write.port, 2)}, {"width", write.width}, {"value", Hex(write.value, write.width / 4)}};
}

bool Is(const sim::PortWrite &write, uint16_t port, unsigned width) {
  return write.port == port && write.width == width;
}

// The port trace read as its writers meant it: stop signatures and codes,
// the stop display, framed byte streams, and any other write as it is.
json PortEvents(const StartupResult &startup) {
  json events = json::array();
  const std::vector<sim::PortWrite> &trace = startup.portTrace;
  const size_t displayFrom = startup.parked ? startup.stopDisplayFirstWrite : trace.size();
  size_t i = 0;
  while (i < trace.size() && i < displayFrom) {
    const sim::PortWrite &write = trace[i];
    if (Is(write, kStopSignaturePort, 16) && write.value == kStopSignature) {
      events.push_back({{"event", "stop_signature"}, {"port", Hex(write.port, 2)}, {"value", Hex(write.value, 4)}});
      i++;
      if (i < displayFrom && Is(trace[i], kPostCodePort, 32)) {
        events.push_back({{"event", "stop_code"}, {"code", Hex(trace[i].value, 8)}});
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
      events.push_back(
          {{"event", "stream_frame"}, {"bytes", HexBytes(bytes)}, {"text", Printable(bytes)}, {"complete", complete}});
      i = complete ? j + 1 : j;
    } else {
      json other = PortWriteJson(write);
      other["event"] = "write";
      events.push_back(other);
      i++;
    }
  }
  if (startup.parked) {
    json values = json::array();
    for (size_t k = displayFrom; k < trace.size(); k++) {
      values.push_back(Hex(trace[k].value, 8));
    }
    json display = {{"event", "stop_display"}, {"values", values}};
    if (startup.stopDisplayLeftOut != 0) {
      display["values_left_out"] = startup.stopDisplayLeftOut;
      display["value_count"] = values.size() + startup.stopDisplayLeftOut;
    }
    events.push_back(display);
  }
  return events;
}

json StartupJson(const StartupResult &startup) {
  json out;
  bool filled = false;
  for (uint8_t byte : startup.snapshot) {
    filled = filled || byte != 0;
  }
  out["snapshot"] = {{"bytes", HexBytes(startup.snapshot)},
                     {"filled", filled},
                     {"fatal_stop_enabled", startup.snapshot.size() > 4 && startup.snapshot[4] != 0}};

  json reads = json::array();
  for (const sim::PcdRead &read : startup.pcdReads) {
    reads.push_back({{"getter", read.getter}, {"token", read.token}, {"value", Hex(read.value, 2)}});
  }
  out["pcd_reads"] = reads;

  json messages = json::array();
  for (const sim::DebugMessage &message : startup.debugMessages) {
    messages.push_back(
        {{"error_level", Hex(message.errorLevel, 8)}, {"format", message.format}, {"text", message.text}});
  }
  out["debug_messages"] = messages;

  json nodes = json::array();
  for (const HeapBufferNodeView &node : startup.heapNodes) {
    nodes.push_back({{"signature", Hex(node.signature, 8)},
                     {"reserved", Hex(node.reserved, 8)},
                     {"size", node.size},
                     {"pool_kind", node.poolKind},
                     {"transfer_flag", node.transferFlag},
                     {"reserved2", Hex(node.reserved2, 4)},
                     {"memory_type", node.memoryType ? json(sim::MemoryTypeKey(*node.memoryType)) : json(nullptr)},
                     {"node_bytes", static_cast<uint64_t>(node.size) + 32},
                     {"payload", HexBytes(node.payload)}});
  }
  out["heap_buffer_list"] = {
      {"source", startup.heapListSource},
      {"install_status",
       startup.heapListInstallStatus ? json(sim::StatusText(*startup.heapListInstallStatus)) : json(nullptr)},
      {"links_consistent", startup.heapListLinksConsistent},
      {"links_problem", startup.heapListProblem.empty() ? json(nullptr) : json(startup.heapListProblem)},
      {"nodes", nodes}};
  if (!startup.heapListMapProblem.empty()) {
    out["heap_buffer_list"]["map_problem"] = startup.heapListMapProblem;
  }

  json trace = json::array();
  for (size_t i = 0; i < startup.portTrace.size(); i++) {
    json entry = PortWriteJson(startup.portTrace[i]);
    entry["tsc"] = i < startup.portTraceTsc.size() ? startup.portTraceTsc[i] : 0;
    trace.push_back(entry);
  }
  out["port_trace"] = trace;
  if (startup.stopDisplayLeftOut != 0) {
    out["port_trace_left_out"] = {{"writes", startup.stopDisplayLeftOut},
                                  {"after", startup.stopDisplayFirstWrite + sim::HardwareModel::kStopDisplayKeptFirst}};
  }
  out["port_events"] = PortEvents(startup);
  out["uart_output"] = {{"bytes", HexBytes(startup.uartOutput)}, {"text", Printable(startup.uartOutput)}};
  out["index_register"] = {{"before", Hex(startup.indexRegisterBefore, 8)},
                           {"after", Hex(startup.indexRegisterAfter, 8)}};
  json registerReads = json::array();
  for (uint32_t number : startup.platformRegisterReads) {
    registerReads.push_back(Hex(number, 8));
  }
  out["platform_register_reads"] = registerReads;
  out["tsc_ticks_per_second"] = startup.tscTicksPerSecond;

  json display = json::array();
  json displayTsc = json::array();
  if (startup.parked) {
    for (size_t i = startup.stopDisplayFirstWrite; i < startup.portTrace.size(); i++) {
      display.push_back(Hex(startup.portTrace[i].value, 8));
      displayTsc.push_back(i < startup.portTraceTsc.size() ? startup.portTraceTsc[i] : 0);
    }
  }
  out["fatal_stop"] = {{"parked", startup.parked},
                       {"code", startup.stopCode ? json(Hex(*startup.stopCode, 8)) : json(nullptr)},
                       {"display_values", display},
                       {"display_tsc", displayTsc}};
  if (startup.stopDisplayLeftOut != 0) {
    out["fatal_stop"]["display_values_left_out"] = startup.stopDisplayLeftOut;
    out["fatal_stop"]["display_value_count"] = display.size() + startup.stopDisplayLeftOut;
  }
  return out;
}

}  // namespace

json DecodeSmbiosRecord(const std::vector<uint8_t> &record) {
  json fields = json::object();
  if (record.size() < 4) {
    return fields;
  }
  const std::vector<std::string> strings = StringSet(record);
  const uint8_t type = record[0];
  const uint8_t length = record[1];
  if (type == 8 && length >= 9) {
    fields["internal_reference_designator"] = StringField(strings, record[4]);
    fields["internal_connector_type"] = Coded(record[5], ConnectorTypeName(record[5]));
    fields["external_reference_designator"] = StringField(strings, record[6]);
    fields["external_connector_type"] = Coded(record[7], ConnectorTypeName(record[7]));
    fields["port_type"] = Coded(record[8], PortTypeName(record[8]));
  } else if (type == 9 && length >= 0x11) {
    fields["slot_designation"] = StringField(strings, record[4]);
    fields["slot_type"] = Coded(record[5], SlotTypeName(record[5]));
    fields["slot_data_bus_width"] = Coded(record[6], SlotWidthName(record[6]));
    fields["current_usage"] = Coded(record[7], SlotUsageName(record[7]));
    fields["slot_length"] = Coded(record[8], SlotLengthName(record[8]));
    fields["slot_id"] = record[9] | (record[10] << 8);
    fields["slot_characteristics_1"] = Hex(record[11], 2);
    fields["slot_characteristics_2"] = Hex(record[12], 2);
    fields["segment_group_number"] = Hex(record[13] | (record[14] << 8), 4);
    fields["bus_number"] = Hex(record[15], 2);
    fields["device_function_number"] = Hex(record[16], 2);
    fields["device"] = record[16] >> 3;
    fields["function"] = record[16] & 7;
    fields["slot_characteristics"] = SlotCharacteristicsText(record[11], record[12]);
    const std::string address =
        PciBusAddress(static_cast<uint16_t>(record[13] | (record[14] << 8)), record[15], record[16]);
    fields["bus_address"] = address.empty() ? json(nullptr) : json(address);
  }
  return fields;
}

std::string StartupReportText(const json &startup) {
  std::ostringstream out;
  out << "Start-up:\n";
  const json &snapshot = startup["snapshot"];
  out << "  Configuration snapshot: " << snapshot["bytes"].get<std::string>()
      << (snapshot["fatal_stop_enabled"].get<bool>() ? " (stop policy on)" : " (stop policy off)") << "\n";
  for (const json &message : startup["debug_messages"]) {
    std::string text = message["text"].get<std::string>();
    while (!text.empty() && text.back() == '\n') {
      text.pop_back();
    }
    out << "  Debug message [" << message["error_level"].get<std::string>() << "]: " << sim::Escaped(text) << "\n";
  }
  const json &list = startup["heap_buffer_list"];
  out << "  Heap buffer list: " << list["source"].get<std::string>();
  if (!list["install_status"].is_null()) {
    out << " (InstallProtocolInterface: " << list["install_status"].get<std::string>() << ")";
  }
  if (list.contains("map_problem")) {
    out << ", not read: " << sim::Escaped(list["map_problem"].get<std::string>()) << "\n";
  } else {
    out << ", " << sim::Counted(list["nodes"].size(), "buffer", "buffers") << "\n";
  }
  if (!list["links_consistent"].get<bool>()) {
    out << "    links not consistent"
        << (list["links_problem"].is_null() ? std::string() : ": " + list["links_problem"].get<std::string>())
        << "\n";
  }
  size_t index = 0;
  for (const json &node : list["nodes"]) {
    index++;
    out << "    [" << index << "] " << sim::Counted(node["size"].get<uint32_t>(), "byte", "bytes") << ", pool kind "
        << node["pool_kind"].get<int>() << ", in "
        << (node["memory_type"].is_null() ? std::string("no pool block") : node["memory_type"].get<std::string>())
        << ": " << node["payload"].get<std::string>() << "\n";
  }
  if (startup["port_trace"].empty()) {
    out << "  Ports: nothing written\n";
  }
  for (const json &event : startup["port_events"]) {
    const std::string kind = event["event"].get<std::string>();
    if (kind == "stop_signature") {
      out << "  Port " << event["port"].get<std::string>() << ": stop signature " << event["value"].get<std::string>()
          << "\n";
    } else if (kind == "stop_code") {
      out << "  Port " << sim::Hex(kPostCodePort) << ": stop code " << event["code"].get<std::string>() << "\n";
    } else if (kind == "stream_frame") {
      out << "  Port " << sim::Hex(kPostCodePort) << ": stream frame \"" << event["text"].get<std::string>() << "\""
          << (event["complete"].get<bool>() ? "" : " (no end marker)") << "\n";
    } else if (kind == "stop_display") {
      out << "  Port " << sim::Hex(kPostCodePort) << ": stop display";
      // A long display shows its first values and its last, and how many
      // came between them.
      const uint64_t leftOut = event.contains("values_left_out") ? event["values_left_out"].get<uint64_t>() : 0;
      size_t index = 0;
      for (const json &value : event["values"]) {
        if (leftOut != 0 && index++ == sim::HardwareModel::kStopDisplayKeptFirst) {
          out << " (" << sim::Counted(leftOut, "value", "values") << " left out)";
        }
        out << " " << value.get<std::string>();
      }
      out << "\n";
    } else {
      out << "  Port " << event["port"].get<std::string>() << ": " << event["width"].get<int>() << "-bit "
          << event["value"].get<std::string>() << "\n";
    }
  }
  if (!startup["uart_output"]["bytes"].get<std::string>().empty()) {
    out << "  UART: \"" << startup["uart_output"]["text"].get<std::string>() << "\"\n";
  }
  const json &stop = startup["fatal_stop"];
  if (stop["parked"].get<bool>()) {
    out << "  Fatal stop: parked in the stop display with code " << stop["code"].get<std::string>();
    if (stop.contains("display_value_count")) {
      out << " after " << sim::Counted(stop["display_value_count"].get<uint64_t>(), "display value", "display values");
    }
    out << "\n";
  }
  return out.str();
}

namespace {

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

}  // namespace

json BootReportJson(const BootResult &result, const RecordTypes &shown) {
  json report;
  report["platform"] = result.platformName;
  report["entry_status"] = result.entryReturned ? json(sim::StatusText(result.entryStatus)) : json(nullptr);

  json variable;
  variable["name"] = "NioTypeProtected";
  variable["present"] = result.variablePresent;
  variable["stored_size"] = result.variableStoredSize;
  variable["read"] = result.variableRead;
  variable["read_status"] = result.variableRead ? json(sim::StatusText(result.variableStatus)) : json(nullptr);
  variable["word"] = result.nioWord ? json(Hex(*result.nioWord, 8)) : json(nullptr);
  report["variable"] = variable;

  report["variant_code"] = result.variantCode ? json(Hex(*result.variantCode, 2)) : json(nullptr);
  report["layout"] = result.layout.empty() ? json(nullptr) : json(result.layout);
  report["smbios_located"] = result.smbiosLocated;
  report["installed"] = result.installed;
  report["outcome"] = result.outcome;

  json records = json::array();
  for (const sim::SmbiosRecord &record : result.records) {
    if (!Shown(shown, RecordType(record))) {
      continue;
    }
    json entry;
    entry["type"] = RecordType(record);
    entry["name"] = SmbiosTypeName(RecordType(record));
    entry["handle"] = record.handle;
    entry["raw"] = HexBytes(record.bytes);
    entry["fields"] = DecodeSmbiosRecord(record.bytes);
    records.push_back(entry);
  }
  report["records"] = records;
  if (!shown.empty()) {
    report["records_added"] = result.records.size();
    report["record_types_shown"] = shown;
  }

  json malformed = json::array();
  for (const sim::ServiceCall &call : result.malformedRecords) {
    malformed.push_back({{"type", call.recordType ? json(*call.recordType) : json(nullptr)},
                         {"problem", sim::SmbiosRecordProblemText(*call.recordProblem)}});
  }
  report["malformed_records"] = malformed;

  json slots = json::array();
  for (const SlotResult &slot : Shown(shown, 9) ? result.slots : std::vector<SlotResult>{}) {
    json entry;
    entry["designation"] = slot.designation;
    entry["device_path"] = slot.devicePath;
    entry["root_port"] = slot.rootPort.empty() ? json(nullptr) : json(slot.rootPort);
    entry["probe"] = slot.probe;
    entry["record_added"] = slot.recordAdded;
    if (slot.recordAdded) {
      const json fields = DecodeSmbiosRecord(slot.record);
      entry["slot_type"] = fields["slot_type"];
      entry["data_bus_width"] = fields["slot_data_bus_width"];
      entry["current_usage"] = fields["current_usage"];
      entry["location"] = {{"segment", fields["segment_group_number"]},
                           {"bus", fields["bus_number"]},
                           {"device_function", fields["device_function_number"]}};
      entry["bus_address"] = fields["bus_address"];
    }
    slots.push_back(entry);
  }
  report["slots"] = slots;

  json skipped = json::array();
  for (const SkippedWork &work : result.skipped) {
    skipped.push_back({{"what", work.what}, {"because", sim::FormatServiceCall(work.refusal).detail}});
  }
  report["skipped"] = skipped;

  report["end_of_dxe_event"] = {{"created", result.eventCreated},
                                {"notifications", result.eventNotifications},
                                {"closed", result.eventClosed}};

  json byType = json::object();
  for (size_t type = 0; type < result.pool.outstandingByType.size(); type++) {
    const auto &[blocks, bytes] = result.pool.outstandingByType[type];
    if (blocks != 0) {
      byType[sim::MemoryTypeKey(static_cast<EFI_MEMORY_TYPE>(type))] = {{"blocks", blocks}, {"bytes", bytes}};
    }
  }
  json damaged = json::array();
  for (const sim::DamagedPoolBlock &block : result.pool.damagedBlocks) {
    damaged.push_back({{"allocation", block.allocation},
                       {"size", block.size},
                       {"memory_type", sim::MemoryTypeKey(block.type)},
                       {"after_end", block.afterEnd},
                       {"before_start", block.beforeStart},
                       {"found", block.foundAtFree ? "when_freed" : "while_allocated"},
                       {"description", sim::DamagedPoolBlockText(block)}});
  }
  report["pool"] = {{"allocations", result.pool.allocations},
                    {"failed_allocations", result.pool.failedAllocations},
                    {"frees", result.pool.frees},
                    {"invalid_frees", result.pool.invalidFrees},
                    {"outstanding_blocks", result.pool.outstandingBlocks},
                    {"outstanding_bytes", result.pool.outstandingBytes},
                    {"outstanding_by_type", byType},
                    {"damaged_blocks", damaged}};

  json calls = json::array();
  for (const sim::ServiceCall &call : result.calls) {
    const sim::ServiceCallText text = sim::FormatServiceCall(call);
    json entry = {{"service", text.service}, {"detail", text.detail}, {"status", sim::StatusText(call.status)}};
    if (!text.result.empty()) {
      entry["result"] = text.result;
    }
    calls.push_back(entry);
  }
  report["service_calls"] = calls;
  report["startup"] = StartupJson(result.startup);
  return report;
}

std::vector<std::string> DriverPoolFaults(const json &report) {
  std::vector<std::string> faults;
  const bool parked = report["startup"]["fatal_stop"]["parked"].get<bool>();
  const uint64_t held = report["pool"]["outstanding_blocks"].get<uint64_t>();
  const uint64_t nodes = report["startup"]["heap_buffer_list"]["nodes"].size();
  // Through a map that does not match the image the list was not read:
  // what the driver holds beyond it cannot be told.
  if (!parked && held > nodes && MapProblem(report).empty()) {
    faults.push_back("the driver returned holding " + sim::Counted(held - nodes, "pool block", "pool blocks") +
                     " beyond the heap buffer list's " + sim::Counted(nodes, "node", "nodes"));
  }
  const uint64_t invalidFrees = report["pool"]["invalid_frees"].get<uint64_t>();
  if (invalidFrees != 0) {
    faults.push_back("the driver freed " + sim::Counted(invalidFrees, "block", "blocks") + " the pool never gave out");
  }
  for (const json &block : report["pool"].value("damaged_blocks", json::array())) {
    faults.push_back("the driver overwrote the guard bytes of a pool block: " +
                     block["description"].get<std::string>());
  }
  return faults;
}

std::string MapProblem(const json &report) {
  const json &list = report["startup"]["heap_buffer_list"];
  return list.contains("map_problem") ? list["map_problem"].get<std::string>() : std::string();
}

std::vector<std::string> DriverRecordFaults(const json &report) {
  std::vector<std::string> faults;
  for (const json &record : report.value("malformed_records", json::array())) {
    faults.push_back("the driver added a malformed SMBIOS record" +
                     (record["type"].is_null() ? std::string()
                                               : " (Type " + std::to_string(record["type"].get<int>()) + ")") +
                     ": " + record["problem"].get<std::string>());
  }
  return faults;
}

std::vector<std::string> DriverFaults(const json &report) {
  std::vector<std::string> faults = DriverPoolFaults(report);
  for (std::string &fault : DriverRecordFaults(report)) {
    faults.push_back(std::move(fault));
  }
  return faults;
}

std::string BootReportText(const BootResult &result, const RecordTypes &shown) {
  const json report = BootReportJson(result);
  std::ostringstream out;
  out << "Platform: " << sim::Escaped(result.platformName) << "\n";
  out << "DriverEntry: "
      << (report["entry_status"].is_null() ? std::string("did not return") : report["entry_status"].get<std::string>())
      << "\n";

  out << "NioTypeProtected: ";
  if (!result.variablePresent) {
    out << "absent";
  } else {
    out << sim::Counted(result.variableStoredSize, "byte", "bytes") << " stored";
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
  out << "Outcome: " << result.outcome << "\n";

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
  for (const json &record : report["records"]) {
    index++;
    if (!Shown(shown, record["type"].get<uint8_t>())) {
      continue;
    }
    out << "  [" << index << "] Type " << record["type"].get<int>() << " " << record["name"].get<std::string>()
        << ", handle " << Hex(record["handle"].get<uint16_t>(), 4) << "\n";
    const json &fields = record["fields"];
    if (record["type"] == 8) {
      out << "      Internal Reference Designator: " << Quoted(fields["internal_reference_designator"]) << "\n";
      out << "      Internal Connector Type: " << CodedText(fields["internal_connector_type"]) << "\n";
      out << "      External Reference Designator: " << Quoted(fields["external_reference_designator"]) << "\n";
      out << "      External Connector Type: " << CodedText(fields["external_connector_type"]) << "\n";
      out << "      Port Type: " << CodedText(fields["port_type"]) << "\n";
    } else if (record["type"] == 9) {
      out << "      Designation: " << Quoted(fields["slot_designation"]) << "\n";
      out << "      Type: " << CodedText(fields["slot_type"]) << "\n";
      out << "      Data Bus Width: " << CodedText(fields["slot_data_bus_width"]) << "\n";
      out << "      Current Usage: " << CodedText(fields["current_usage"]) << "\n";
      out << "      Length: " << CodedText(fields["slot_length"]) << "\n";
      out << "      ID: " << fields["slot_id"].get<int>() << "\n";
      out << "      Characteristics:\n";
      for (const json &line : fields["slot_characteristics"]) {
        out << "        " << line.get<std::string>() << "\n";
      }
      out << "      Bus Address: " << BusAddressText(fields["bus_address"]) << "\n";
    }
    out << "      Raw: " << record["raw"].get<std::string>() << "\n";
  }

  if (!result.malformedRecords.empty()) {
    out << "SMBIOS records refused as malformed: " << result.malformedRecords.size() << "\n";
  }
  index = 0;
  for (const json &record : report["malformed_records"]) {
    index++;
    out << "  [" << index << "] Type "
        << (record["type"].is_null() ? std::string("?") : std::to_string(record["type"].get<int>())) << ": "
        << record["problem"].get<std::string>() << "\n";
  }

  const json slots = Shown(shown, 9) ? report["slots"] : json::array();
  if (!slots.empty()) {
    out << "Slots:\n";
  }
  for (const json &slot : slots) {
    out << "  " << sim::Escaped(slot["designation"].get<std::string>()) << " ("
        << sim::Escaped(slot["device_path"].get<std::string>()) << ")\n";
    out << "      Root port: " << (slot["root_port"].is_null() ? "none" : slot["root_port"].get<std::string>())
        << "; " << slot["probe"].get<std::string>() << "\n";
    if (slot["record_added"]) {
      out << "      " << CodedText(slot["slot_type"]) << ", " << CodedText(slot["data_bus_width"]) << ", "
          << CodedText(slot["current_usage"]) << "\n";
      out << "      Bus address written: " << BusAddressText(slot["bus_address"]) << "\n";
    } else {
      out << "      No record added\n";
    }
  }
  if (!result.skipped.empty()) {
    out << "Skipped:\n";
  }
  for (const SkippedWork &work : result.skipped) {
    out << "  " << sim::Escaped(work.what) << "\n      because " << sim::FormatServiceCall(work.refusal).detail << "\n";
  }
  out << "End-of-DXE event: "
      << (!result.eventCreated ? "not created" : result.eventClosed ? "closed" : "left open") << "\n";
  out << "Pool: " << sim::Counted(result.pool.outstandingBlocks, "block", "blocks") << " ("
      << sim::Counted(result.pool.outstandingBytes, "byte", "bytes") << ") outstanding after "
      << sim::Counted(result.pool.allocations, "allocation", "allocations");
  if (result.pool.failedAllocations != 0) {
    out << ", " << result.pool.failedAllocations << " refused by fault injection";
  }
  if (result.pool.invalidFrees != 0) {
    out << ", " << sim::Counted(result.pool.invalidFrees, "invalid free", "invalid frees");
  }
  out << "\n";
  for (const sim::DamagedPoolBlock &block : result.pool.damagedBlocks) {
    out << "  Guard bytes damaged: " << sim::DamagedPoolBlockText(block) << "\n";
  }
  out << StartupReportText(report["startup"]);
  return out.str();
}

}  // namespace host
