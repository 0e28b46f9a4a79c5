// The JSON report: one document written from the BootResult.
#include <string>

#include "host/boot/Report.h"
#include "host/boot/SmbiosNames.h"
#include "host/boot/Wording.h"
#include "host/sim/EfiValues.h"
#include "host/sim/ServiceLog.h"
#include "host/sim/Text.h"

namespace host {

using nlohmann::json;

namespace {

using sim::Hex;

json Coded(uint8_t value, const std::string &name) { return {{"value", Hex(value, 2)}, {"name", name}}; }

json OrNull(const std::optional<std::string> &text) { return text ? json(*text) : json(nullptr); }

json PortWriteJson(const sim::PortWrite &write) {
  return {{"port", Hex(write.port, 2)}, {"width", write.width}, {"value", Hex(write.value, write.width / 4)}};
}

json PortEventsJson(const StartupResult &startup) {
  json events = json::array();
  for (const PortEvent &event : PortEvents(startup)) {
    switch (event.kind) {
      case PortEvent::Kind::StopSignature:
        events.push_back(
            {{"event", "stop_signature"}, {"port", Hex(event.write.port, 2)}, {"value", Hex(event.write.value, 4)}});
        break;
      case PortEvent::Kind::StopCode:
        events.push_back({{"event", "stop_code"}, {"code", Hex(event.write.value, 8)}});
        break;
      case PortEvent::Kind::StreamFrame:
        events.push_back({{"event", "stream_frame"},
                          {"bytes", HexBytes(event.bytes)},
                          {"text", Printable(event.bytes)},
                          {"complete", event.complete}});
        break;
      case PortEvent::Kind::StopDisplay: {
        json values = json::array();
        for (uint32_t value : event.values) {
          values.push_back(Hex(value, 8));
        }
        json display = {{"event", "stop_display"}, {"values", values}};
        if (startup.stopDisplayLeftOut != 0) {
          display["values_left_out"] = startup.stopDisplayLeftOut;
          display["value_count"] = values.size() + startup.stopDisplayLeftOut;
        }
        events.push_back(display);
        break;
      }
      case PortEvent::Kind::Write: {
        json other = PortWriteJson(event.write);
        other["event"] = "write";
        events.push_back(other);
        break;
      }
    }
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
      {"source", HeapListSourceText(startup.heapListSource)},
      {"install_status",
       startup.heapListInstallStatus ? json(sim::StatusText(*startup.heapListInstallStatus)) : json(nullptr)},
      {"links_consistent", startup.heapListLinksConsistent},
      {"links_problem", startup.heapListBreak ? json(HeapListBreakText(*startup.heapListBreak)) : json(nullptr)},
      {"nodes", nodes}};
  if (startup.heapListMapProblem) {
    out["heap_buffer_list"]["map_problem"] = HeapListMapProblemText(*startup.heapListMapProblem);
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
  out["port_events"] = PortEventsJson(startup);
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

bool Shown(const RecordTypes &shown, uint8_t type) { return shown.empty() || shown.count(type) != 0; }

uint8_t RecordType(const sim::SmbiosRecord &record) { return record.bytes.empty() ? 0 : record.bytes[0]; }

}  // namespace

json DecodeSmbiosRecord(const std::vector<uint8_t> &record) {
  json fields = json::object();
  const std::vector<std::string> strings = StringSet(record);
  if (const std::optional<SMBIOS_TABLE_TYPE8> connector = Type8Area(record)) {
    fields["internal_reference_designator"] = OrNull(StringField(strings, connector->InternalReferenceDesignator));
    fields["internal_connector_type"] =
        Coded(connector->InternalConnectorType, ConnectorTypeName(connector->InternalConnectorType));
    fields["external_reference_designator"] = OrNull(StringField(strings, connector->ExternalReferenceDesignator));
    fields["external_connector_type"] =
        Coded(connector->ExternalConnectorType, ConnectorTypeName(connector->ExternalConnectorType));
    fields["port_type"] = Coded(connector->PortType, PortTypeName(connector->PortType));
  } else if (const std::optional<SMBIOS_TABLE_TYPE9> slot = Type9Area(record)) {
    fields["slot_designation"] = OrNull(StringField(strings, slot->SlotDesignation));
    fields["slot_type"] = Coded(slot->SlotType, SlotTypeName(slot->SlotType));
    fields["slot_data_bus_width"] = Coded(slot->SlotDataBusWidth, SlotWidthName(slot->SlotDataBusWidth));
    fields["current_usage"] = Coded(slot->CurrentUsage, SlotUsageName(slot->CurrentUsage));
    fields["slot_length"] = Coded(slot->SlotLength, SlotLengthName(slot->SlotLength));
    fields["slot_id"] = static_cast<uint16_t>(slot->SlotID);  // a copy: the field is packed
    fields["slot_characteristics_1"] = Hex(slot->SlotCharacteristics1, 2);
    fields["slot_characteristics_2"] = Hex(slot->SlotCharacteristics2, 2);
    fields["segment_group_number"] = Hex(slot->SegmentGroupNum, 4);
    fields["bus_number"] = Hex(slot->BusNum, 2);
    fields["device_function_number"] = Hex(slot->DevFuncNum, 2);
    fields["device"] = slot->DevFuncNum / SLOT_FUNCTIONS_PER_DEVICE;
    fields["function"] = slot->DevFuncNum % SLOT_FUNCTIONS_PER_DEVICE;
    fields["slot_characteristics"] = SlotCharacteristicsText(slot->SlotCharacteristics1, slot->SlotCharacteristics2);
    const std::string address = SlotBusAddress(*slot);
    fields["bus_address"] = address.empty() ? json(nullptr) : json(address);
  }
  return fields;
}

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
  report["outcome"] = OutcomeText(result);

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
    const std::string rootPort = RootPortText(result, slot);
    entry["root_port"] = rootPort.empty() ? json(nullptr) : json(rootPort);
    entry["probe"] = ProbeText(result, slot);
    entry["record_added"] = slot.recordAdded;
    const std::optional<SMBIOS_TABLE_TYPE9> area = slot.recordAdded ? Type9Area(slot.record) : std::nullopt;
    if (area) {
      entry["slot_type"] = Coded(area->SlotType, SlotTypeName(area->SlotType));
      entry["data_bus_width"] = Coded(area->SlotDataBusWidth, SlotWidthName(area->SlotDataBusWidth));
      entry["current_usage"] = Coded(area->CurrentUsage, SlotUsageName(area->CurrentUsage));
      entry["location"] = {{"segment", Hex(area->SegmentGroupNum, 4)},
                           {"bus", Hex(area->BusNum, 2)},
                           {"device_function", Hex(area->DevFuncNum, 2)}};
      const std::string address = SlotBusAddress(*area);
      entry["bus_address"] = address.empty() ? json(nullptr) : json(address);
    }
    slots.push_back(entry);
  }
  report["slots"] = slots;

  json skipped = json::array();
  for (const SkippedWork &work : result.skipped) {
    skipped.push_back({{"what", SkippedText(result, work)}, {"because", RefusalText(work)}});
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
    const sim::ServiceCallText text = CallText(call);
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

}  // namespace host
