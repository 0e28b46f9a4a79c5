// What each allocation the pool refused cost, from the order of the typed
// calls.
#include <string>

#include "host/boot/Explain.h"

namespace host {

namespace {

using sim::Service;

bool IsRefusal(const sim::ServiceCall &call) {
  return call.service == Service::AllocatePool && call.status == EFI_OUT_OF_RESOURCES;
}

bool IsConnectorAdd(const sim::ServiceCall &call) {
  return call.service == Service::SmbiosAdd && call.recordType == SMBIOS_TYPE_PORT_CONNECTOR_INFORMATION;
}

std::string RowName(const PortConnectorEntry &row) {
  const std::string internal = row.InternalDesignator != nullptr ? row.InternalDesignator : "";
  const std::string external = row.ExternalDesignator != nullptr ? row.ExternalDesignator : "";
  if (internal.empty() || external.empty()) {
    return "\"" + internal + external + "\"";
  }
  return "\"" + internal + "\" / \"" + external + "\"";
}

}  // namespace

// At start-up (up to the entry point's CreateEventEx, or the notification's
// GetVariable) the pool serves only the heap buffer nodes. At End-of-DXE
// each connector row takes one staging buffer (an Add of a Type 8 record or
// a refusal per row, in table order); then the slots take their path array
// and, per slot, the path conversion and a staging buffer.
std::vector<SkippedWork> DescribeSkipped(const std::vector<sim::ServiceCall> &calls, const BoardLayout *layout,
                                         const std::vector<SlotResult> &slots, bool parkedDuringStartup) {
  std::vector<SkippedWork> skipped;
  size_t at = 0;
  for (; at < calls.size(); at++) {
    const sim::ServiceCall &call = calls[at];
    if (call.service == Service::CreateEventEx || call.service == Service::GetVariable) {
      break;
    }
    if (IsRefusal(call)) {
      skipped.push_back({parkedDuringStartup
                             ? "the rest of the boot: the stop policy parked the driver in the fatal stop display"
                             : "a hand-off heap buffer: without its node it is not transferred",
                         call});
    }
  }

  std::vector<const sim::ServiceCall *> slotRefusals;
  UINT8 row = 0;
  bool slotCallSeen = false;
  for (; at < calls.size(); at++) {
    const sim::ServiceCall &call = calls[at];
    const bool refusal = IsRefusal(call);
    if (layout != nullptr && row < layout->ConnectorCount && (refusal || IsConnectorAdd(call))) {
      if (refusal) {
        skipped.push_back({"Type 8 record of connector row " + std::to_string(row + 1) + " (" +
                               RowName(layout->Connectors[row]) + ")",
                           call});
      }
      row++;
    } else if (refusal) {
      slotRefusals.push_back(&call);
    } else if (call.service == Service::LocateDevicePath || call.service == Service::SmbiosAdd) {
      slotCallSeen = true;
    }
  }

  size_t next = 0;
  if (!slotRefusals.empty() && !slotCallSeen && !slots.empty()) {
    skipped.push_back({"every Type 9 record: the slots' path array could not be allocated", *slotRefusals[next++]});
  }
  for (const SlotResult &slot : slots) {
    if (next < slotRefusals.size() && !slot.pathConverted) {
      skipped.push_back({"the PCI probe of slot " + slot.designation +
                             ": its device path could not be built, so the stored row is used",
                         *slotRefusals[next++]});
    }
    if (next < slotRefusals.size() && !slot.recordAdded && slotCallSeen) {
      skipped.push_back({"Type 9 record of slot " + slot.designation, *slotRefusals[next++]});
    }
  }
  for (; next < slotRefusals.size(); next++) {
    skipped.push_back({"nothing the report can name", *slotRefusals[next]});
  }
  return skipped;
}

}  // namespace host
