// How each slot's probe went, from the typed calls it made.
#include <cstring>
#include <string>

#include "driver/firmware/Guids.h"
#include "host/boot/Explain.h"
#include "host/boot/LinkedPaths.h"
#include "host/sim/Text.h"

namespace host {

namespace {

using sim::Service;

// Whether call is the slot probe's LocateDevicePath for the slot whose path
// is the bytes given: the device path protocol asked for, and exactly those
// bytes read of the path the driver passed.
bool LocatesPath(const sim::ServiceCall &call, const std::vector<uint8_t> &path) {
  return call.service == Service::LocateDevicePath && call.guid &&
         sim::SameGuid(*call.guid, gEfiDevicePathProtocolGuid) && call.devicePath && *call.devicePath == path;
}

// The Type 9 record in the table whose designation (string 1) is the slot's.
const sim::SmbiosRecord *SlotRecord(const std::vector<sim::SmbiosRecord> &records, const std::string &designation) {
  const sim::SmbiosRecord *found = nullptr;
  for (const sim::SmbiosRecord &record : records) {
    if (record.bytes.size() > sizeof(SMBIOS_TABLE_TYPE9) && record.bytes[0] == SMBIOS_TYPE_SYSTEM_SLOTS &&
        std::string(reinterpret_cast<const char *>(record.bytes.data()) + record.bytes[1]) == designation) {
      found = &record;
    }
  }
  return found;
}

// What the port and the bus behind it showed the driver: the secondary bus
// number its Pci.Read returned, and the function at device 0, function 0
// of that bus.
void ReadBehindPort(const sim::PciModel &pci, const sim::ServiceCall &read, SlotResult &slot) {
  slot.secondaryBus = read.data.empty() ? 0 : read.data[0];
  for (const auto &behind : pci.Functions()) {
    if (behind->segment == 0 && behind->bus == slot.secondaryBus && behind->device == 0 && behind->function == 0) {
      uint16_t ids[2];
      std::memcpy(ids, behind->config.data(), sizeof(ids));
      slot.deviceBehind = ids[0] == 0xFFFF ? std::nullopt : std::optional(std::pair(ids[0], ids[1]));
    }
  }
}

}  // namespace

std::vector<SlotResult> DescribeSlots(const std::vector<sim::ServiceCall> &calls, const sim::PciModel &pci,
                                      const BoardLayout &layout, const std::vector<sim::SmbiosRecord> &records) {
  std::vector<SlotResult> slots;
  size_t cursor = 0;
  for (UINT8 row = 0; row < layout.SlotCount; row++) {
    const SystemSlotEntry &entry = layout.Slots[row];
    SlotResult slot;
    slot.row = row;
    slot.designation = entry.Designation;
    slot.devicePath = sim::Narrow(entry.DevicePathText);
    if (const sim::SmbiosRecord *record = SlotRecord(records, slot.designation)) {
      slot.recordAdded = true;
      slot.record = record->bytes;
    }

    // The path the driver builds from the row, as the linked-in converter
    // builds it; a text it does not convert was taken by no call.
    const std::optional<std::vector<uint8_t>> path = LinkedTextToPath(entry.DevicePathText);
    size_t locate = cursor;
    while (path && locate < calls.size() && !LocatesPath(calls[locate], *path)) {
      locate++;
    }
    if (!path || locate == calls.size()) {
      slot.probe = SlotProbe::PathNotConverted;
      slots.push_back(slot);
      continue;
    }
    slot.locateCall = locate;
    cursor = locate + 1;
    const sim::ServiceCall &located = calls[locate];
    if (EFI_ERROR(located.status)) {
      slot.probe = SlotProbe::NoHandle;
      slots.push_back(slot);
      continue;
    }
    slot.probe = SlotProbe::Stopped;
    for (size_t i = locate + 1; i < calls.size() && calls[i].service != Service::LocateDevicePath; i++) {
      const sim::ServiceCall &call = calls[i];
      if (call.service == Service::OpenProtocol) {
        if (EFI_ERROR(call.status)) {
          slot.probe = SlotProbe::NoPciIo;
          slot.endCall = i;
          break;
        }
        slot.rootPortOpened = true;
      } else if (call.service == Service::PciIoGetLocation && EFI_ERROR(call.status)) {
        slot.probe = SlotProbe::GetLocationFailed;
        slot.endCall = i;
        break;
      } else if (call.service == Service::PciIoPciRead) {
        if (EFI_ERROR(call.status)) {
          slot.probe = SlotProbe::ReadFailed;
          slot.endCall = i;
          break;
        }
        if (call.handle.handle == located.handle.handle) {
          slot.probe = SlotProbe::ReadBehindPort;
          slot.endCall = i;
          ReadBehindPort(pci, call, slot);
        }
        break;
      }
    }
    slots.push_back(slot);
  }
  return slots;
}

}  // namespace host
