// What the two report writers (ReportJson.cpp, ReportText.cpp) say alike:
// the sentences for a boot's typed values (its outcome, each slot's probe,
// each skipped item, each failure), the names of handles and calls, and the
// readings both make of raw bytes (the port trace's events, the SMBIOS
// records' formatted areas through the driver's packed structs). Only
// writers use these; the BootResult holds no sentences.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "host/boot/Boot.h"
#include "host/sim/ServiceLog.h"

namespace host {

std::string OutcomeText(const BootResult &result);
std::string HeapListSourceText(HeapListSource source);  // "installed", "adopted", "none"
// Where the walk of the heap buffer list ended ("forward, node 2 lies
// outside the driver's memory and the pool (at allocation 3+0x10)").
std::string HeapListBreakText(const HeapListBreak &broken);
// "MAP: what: the map does not match the image".
std::string HeapListMapProblemText(const HeapListMapProblem &problem);

// What the slot's probe found, or why it ended.
std::string ProbeText(const BootResult &result, const SlotResult &slot);
// The handle the probe opened PCI I/O on; empty when it got no further.
std::string RootPortText(const BootResult &result, const SlotResult &slot);

// What was left undone ("Type 8 record of connector row 5 (\"CON2\")"), and
// the refused allocation that caused it.
std::string SkippedText(const BootResult &result, const SkippedWork &work);
std::string RefusalText(const SkippedWork &work);

// One line naming what the driver got wrong.
std::string FailureText(const BootResult &result, const BootFailure &failure);

// A logged call as the reports show it, device paths named by their text
// (the linked-in driver's formatter).
sim::ServiceCallText CallText(const sim::ServiceCall &call);

// The port trace read as its writers meant it: stop signatures and codes,
// framed byte streams, the stop display, and any other write as it is.
struct PortEvent {
  enum class Kind { StopSignature, StopCode, StreamFrame, StopDisplay, Write };
  Kind kind;
  sim::PortWrite write = {};    // StopSignature, StopCode (its value), Write
  std::vector<uint8_t> bytes;   // StreamFrame
  bool complete = false;        // StreamFrame: its end marker came
  std::vector<uint32_t> values;  // StopDisplay: the values kept
};
std::vector<PortEvent> PortEvents(const StartupResult &startup);

// Bytes the driver sent out as text, escaped as every input a report
// quotes: printable ASCII as it is, every other byte as \xHH (or \n, \r, \t).
std::string Printable(const std::vector<uint8_t> &bytes);

// A stored SMBIOS record's string set, and string `number` of it (none for
// 0 or a number past the set).
std::vector<std::string> StringSet(const std::vector<uint8_t> &record);
std::optional<std::string> StringField(const std::vector<std::string> &strings, uint8_t number);

// The formatted area of a stored Type 8 or Type 9 record through the
// driver's packed structs; none for another type, or when the record's
// Length does not cover the struct.
std::optional<SMBIOS_TABLE_TYPE8> Type8Area(const std::vector<uint8_t> &record);
std::optional<SMBIOS_TABLE_TYPE9> Type9Area(const std::vector<uint8_t> &record);

// "Slot Type Name (0xA5)": a coded value's SMBIOS name and its value.
std::string CodedText(const std::string &name, uint8_t value);

// A Type 9 record's PCI address (PciBusAddress); empty for a slot not on PCI.
std::string SlotBusAddress(const SMBIOS_TABLE_TYPE9 &slot);

}  // namespace host
