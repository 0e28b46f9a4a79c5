// What each allocation the pool refused cost, from the order of the typed
// calls.

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
      skipped.push_back({parkedDuringStartup ? SkippedWork::Kind::RestOfBoot : SkippedWork::Kind::HandOffBuffer, 0,
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
        skipped.push_back({SkippedWork::Kind::ConnectorRecord, row, call});
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
    skipped.push_back({SkippedWork::Kind::SlotPathArray, 0, *slotRefusals[next++]});
  }
  for (size_t index = 0; index < slots.size(); index++) {
    const SlotResult &slot = slots[index];
    if (next < slotRefusals.size() && !slot.PathConverted()) {
      skipped.push_back({SkippedWork::Kind::SlotProbe, index, *slotRefusals[next++]});
    }
    if (next < slotRefusals.size() && !slot.recordAdded && slotCallSeen) {
      skipped.push_back({SkippedWork::Kind::SlotRecord, index, *slotRefusals[next++]});
    }
  }
  for (; next < slotRefusals.size(); next++) {
    skipped.push_back({SkippedWork::Kind::Unnamed, 0, *slotRefusals[next]});
  }
  return skipped;
}

}  // namespace host
