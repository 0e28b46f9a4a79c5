// How each slot's probe went, from the typed calls it made.
#include <string>

#include "driver/firmware/Guids.h"
#include "host/boot/Explain.h"
#include "host/sim/DevicePathText.h"
#include "host/sim/EfiValues.h"
#include "host/sim/Text.h"

namespace host {

namespace {

using sim::Hex;
using sim::Service;

// Whether call is the slot probe's LocateDevicePath for the slot whose path
// reads as text: the device path protocol asked for, and the path given
// reading as the slot's row writes it.
bool LocatesPath(const sim::ServiceCall &call, const std::string &text) {
  return call.service == Service::LocateDevicePath && call.guid &&
         sim::SameGuid(*call.guid, gEfiDevicePathProtocolGuid) && call.devicePath &&
         sim::FormatDevicePath(call.devicePath->data(), call.devicePath->size()) == text;
}

// The Type 9 record in the table whose designation (string 1) is the slot's.
const sim::SmbiosRecord *SlotRecord(const std::vector<sim::SmbiosRecord> &records, const std::string &designation) {
  const sim::SmbiosRecord *found = nullptr;
  for (const sim::SmbiosRecord &record : records) {
    if (record.bytes.size() > 17 && record.bytes[0] == SMBIOS_TYPE_SYSTEM_SLOTS &&
        std::string(reinterpret_cast<const char *>(record.bytes.data()) + record.bytes[1]) == designation) {
      found = &record;
    }
  }
  return found;
}

// What the port and the bus behind it showed the driver: the secondary bus
// number its Pci.Read returned, and the function at device 0, function 0
// of that bus.
std::string BehindPort(const sim::PciModel &pci, const sim::ServiceCall &read) {
  const uint8_t secondary = read.data.empty() ? 0 : read.data[0];
  uint16_t vendor = 0xFFFF;
  uint16_t device = 0xFFFF;
  for (const auto &behind : pci.Functions()) {
    if (behind->segment == 0 && behind->bus == secondary && behind->device == 0 && behind->function == 0) {
      vendor = static_cast<uint16_t>(behind->config[0] | (behind->config[1] << 8));
      device = static_cast<uint16_t>(behind->config[2] | (behind->config[3] << 8));
    }
  }
  return vendor == 0xFFFF ? "no device on secondary bus " + Hex(secondary, 2)
                          : "device " + Hex(vendor, 4) + ":" + Hex(device, 4) + " on secondary bus " +
                                Hex(secondary, 2);
}

}  // namespace

std::vector<SlotResult> DescribeSlots(const std::vector<sim::ServiceCall> &calls, const sim::PciModel &pci,
                                      const BoardLayout &layout, const std::vector<sim::SmbiosRecord> &records) {
  std::vector<SlotResult> slots;
  size_t cursor = 0;
  for (UINT8 row = 0; row < layout.SlotCount; row++) {
    const SystemSlotEntry &entry = layout.Slots[row];
    SlotResult slot;
    slot.designation = entry.Designation;
    slot.devicePath = sim::Narrow(entry.DevicePathText);
    if (const sim::SmbiosRecord *record = SlotRecord(records, slot.designation)) {
      slot.recordAdded = true;
      slot.record = record->bytes;
    }

    size_t locate = cursor;
    while (locate < calls.size() && !LocatesPath(calls[locate], slot.devicePath)) {
      locate++;
    }
    if (locate == calls.size()) {
      slot.probe = "the device-path text did not convert";
      slots.push_back(slot);
      continue;
    }
    slot.pathConverted = true;
    cursor = locate + 1;
    const sim::ServiceCall &located = calls[locate];
    if (EFI_ERROR(located.status)) {
      slot.probe = "no handle's device path begins the slot's path (LocateDevicePath: " +
                   sim::StatusText(located.status) + ")";
      slots.push_back(slot);
      continue;
    }
    const std::string handle = sim::HandleText(located.handle);
    slot.probe = "the probe stopped at " + handle;
    for (size_t i = locate + 1; i < calls.size() && calls[i].service != Service::LocateDevicePath; i++) {
      const sim::ServiceCall &call = calls[i];
      if (call.service == Service::OpenProtocol) {
        if (EFI_ERROR(call.status)) {
          slot.probe = handle + " carries no PCI I/O (OpenProtocol: " + sim::StatusText(call.status) + ")";
          break;
        }
        slot.rootPort = handle;
      } else if (call.service == Service::PciIoGetLocation && EFI_ERROR(call.status)) {
        slot.probe = "GetLocation failed (" + sim::StatusText(call.status) + "): stored location kept";
        break;
      } else if (call.service == Service::PciIoPciRead) {
        if (EFI_ERROR(call.status)) {
          slot.probe = "reading the secondary bus number failed (" + sim::StatusText(call.status) +
                       "): stored location kept";
          break;
        }
        if (call.handle.handle == located.handle.handle) {
          slot.probe = BehindPort(pci, call);
        }
        break;
      }
    }
    slots.push_back(slot);
  }
  return slots;
}

}  // namespace host
