// The boot report in its two forms: readable text and one JSON document.
// The JSON schema is documented in the README and kept stable.
#pragma once

#include <nlohmann/json.hpp>
#include <set>
#include <string>
#include <vector>

#include "host/boot/Boot.h"
#include "host/sim/Text.h"

namespace host {

// The SMBIOS record types a report shows (boot --type); empty: every type.
// Only the records are chosen: the rest of the report stays whole, except
// the slots, which go with Type 9.
using RecordTypes = std::set<uint8_t>;

nlohmann::json BootReportJson(const BootResult &result, const RecordTypes &shown = {});
std::string BootReportText(const BootResult &result, const RecordTypes &shown = {});

// The start-up section of the text report, from the JSON report's "startup".
std::string StartupReportText(const nlohmann::json &startup);

// What a boot's report shows the driver did wrong with the pool, one line
// each, none when it did nothing wrong: blocks it still holds beyond the
// heap buffer list's nodes once it has returned (a driver parked in the
// fatal stop display holds what it holds), frees of blocks the pool never
// gave out, and blocks whose guard bytes it overwrote. Read from a JSON
// report, so that a report from a child process is judged exactly as one
// made here.
std::vector<std::string> DriverPoolFaults(const nlohmann::json &report);

// For a loaded image: why the report could not read what the driver left
// through the image's map (the map does not describe what the image did),
// as "MAP: what: the map does not match the image"; empty when it could.
// From a JSON report. boardinv boot exits 2 on one: the input was wrong, and
// the driver is not blamed for what the map hid (DriverPoolFaults leaves
// out the blocks it holds beyond the list).
std::string MapProblem(const nlohmann::json &report);

// The SMBIOS records the driver added that the table refused as malformed
// (a formatted area or string set running past the end of its pool block),
// one line each. From a JSON report, as DriverPoolFaults.
std::vector<std::string> DriverRecordFaults(const nlohmann::json &report);

// Everything a report shows the driver got wrong: DriverPoolFaults, then
// DriverRecordFaults. boardinv boot exits 1 on any; a sweep boot with any
// is not sound.
std::vector<std::string> DriverFaults(const nlohmann::json &report);

// The fields of a stored record, with SMBIOS names for coded values.
nlohmann::json DecodeSmbiosRecord(const std::vector<uint8_t> &record);

// "08 09 01 00 ...": upper-case hex pairs separated by single spaces (the
// host's one hex formatter, host/sim/Text.h).
using sim::HexBytes;

}  // namespace host
