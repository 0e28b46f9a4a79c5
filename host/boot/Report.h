// The boot report in its two forms, two independent writers of the
// BootResult: one JSON document (ReportJson.cpp) and readable text
// (ReportText.cpp), saying alike what Wording.h words. The JSON schema is
// documented in the README and kept stable. No code reads a report back:
// every command judges and shows a boot from its BootResult.
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

// The start-up section of the text report.
std::string StartupReportText(const StartupResult &startup);

// The fields of a stored record, with SMBIOS names for coded values, as the
// JSON report shows them.
nlohmann::json DecodeSmbiosRecord(const std::vector<uint8_t> &record);

// "08 09 01 00 ...": upper-case hex pairs separated by single spaces (the
// host's one hex formatter, host/sim/Text.h).
using sim::HexBytes;

}  // namespace host
