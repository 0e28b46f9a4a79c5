#include "host/boot/Report.h"

#include <cstdio>
#include <sstream>

#include "host/boot/SmbiosNames.h"

namespace host {

using nlohmann::json;

namespace {

std::string Hex(uint64_t value, int digits) {
  char text[24];
  std::snprintf(text, sizeof(text), "0x%0*llX", digits, static_cast<unsigned long long>(value));
  return text;
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

std::string Quoted(const json &value) { return value.is_null() ? "(none)" : "\"" + value.get<std::string>() + "\""; }

}  // namespace

std::string HexBytes(const std::vector<uint8_t> &bytes) {
  std::string text;
  for (size_t i = 0; i < bytes.size(); i++) {
    char pair[4];
    std::snprintf(pair, sizeof(pair), i == 0 ? "%02X" : " %02X", bytes[i]);
    text += pair;
  }
  return text;
}

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
  }
  return fields;
}

json BootReportJson(const BootResult &result) {
  json report;
  report["platform"] = result.platformName;
  report["entry_status"] = sim::StatusText(result.entryStatus);

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
    json entry;
    entry["type"] = record.bytes.empty() ? 0 : record.bytes[0];
    entry["name"] = SmbiosTypeName(record.bytes.empty() ? 0 : record.bytes[0]);
    entry["handle"] = record.handle;
    entry["raw"] = HexBytes(record.bytes);
    entry["fields"] = DecodeSmbiosRecord(record.bytes);
    records.push_back(entry);
  }
  report["records"] = records;

  report["end_of_dxe_event"] = {{"created", result.eventCreated},
                                {"notifications", result.eventNotifications},
                                {"closed", result.eventClosed}};

  json byType = json::object();
  for (const auto &[type, counts] : result.pool.outstandingByType) {
    byType[type == EfiRuntimeServicesData ? "runtime_services_data"
           : type == EfiBootServicesData  ? "boot_services_data"
                                          : "type_" + std::to_string(type)] = {{"blocks", counts.first},
                                                                               {"bytes", counts.second}};
  }
  report["pool"] = {{"allocations", result.pool.allocations},
                    {"failed_allocations", result.pool.failedAllocations},
                    {"frees", result.pool.frees},
                    {"invalid_frees", result.pool.invalidFrees},
                    {"outstanding_blocks", result.pool.outstandingBlocks},
                    {"outstanding_bytes", result.pool.outstandingBytes},
                    {"outstanding_by_type", byType}};

  json calls = json::array();
  for (const sim::ServiceCall &call : result.calls) {
    calls.push_back({{"service", call.service}, {"detail", call.detail}, {"status", sim::StatusText(call.status)}});
  }
  report["service_calls"] = calls;
  return report;
}

std::string BootReportText(const BootResult &result) {
  const json report = BootReportJson(result);
  std::ostringstream out;
  out << "Platform: " << result.platformName << "\n";
  out << "DriverEntry: " << report["entry_status"].get<std::string>() << "\n";

  out << "NioTypeProtected: ";
  if (!result.variablePresent) {
    out << "absent";
  } else {
    out << result.variableStoredSize << " bytes stored";
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

  out << "SMBIOS records added: " << result.records.size() << "\n";
  size_t index = 0;
  for (const json &record : report["records"]) {
    index++;
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
      out << "      Segment/Bus/Device.Function: " << fields["segment_group_number"].get<std::string>() << "/"
          << fields["bus_number"].get<std::string>() << "/" << fields["device"].get<int>() << "."
          << fields["function"].get<int>() << "\n";
    }
    out << "      Raw: " << record["raw"].get<std::string>() << "\n";
  }

  out << "End-of-DXE event: "
      << (!result.eventCreated ? "not created" : result.eventClosed ? "closed" : "left open") << "\n";
  out << "Pool: " << result.pool.outstandingBlocks << " blocks (" << result.pool.outstandingBytes
      << " bytes) outstanding after " << result.pool.allocations << " allocations";
  if (result.pool.failedAllocations != 0) {
    out << ", " << result.pool.failedAllocations << " refused by fault injection";
  }
  if (result.pool.invalidFrees != 0) {
    out << ", " << result.pool.invalidFrees << " invalid frees";
  }
  out << "\n";
  return out.str();
}

}  // namespace host
