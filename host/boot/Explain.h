// Explaining the End-of-DXE work from the firmware's typed log: how each
// slot's probe went, and what each allocation the pool refused cost.
#pragma once

#include <vector>

#include "host/boot/Boot.h"
#include "host/sim/PciModel.h"
#include "host/sim/ServiceLog.h"
#include "host/sim/SimFirmware.h"
#include "driver/inventory/Inventory.h"

namespace host {

// Follows each slot of the layout through the calls its probe made: the
// LocateDevicePath call whose logged bytes are exactly the row's text as the
// linked-in converter builds it (LinkedTextToPath), and the calls after it
// up to the next LocateDevicePath; a slot keeps the indices of the calls,
// and how its probe ended as a SlotProbe. records: the SMBIOS table after
// the boot.
std::vector<SlotResult> DescribeSlots(const std::vector<sim::ServiceCall> &calls, const sim::PciModel &pci,
                                      const BoardLayout &layout, const std::vector<sim::SmbiosRecord> &records);

// Names, for each allocation the pool refused, what the driver left undone
// because of it, from the order of the typed calls. layout: the one the
// driver worked through (null when it worked through none); slots: as
// DescribeSlots gave them; parkedDuringStartup: the driver never returned
// from its entry point.
std::vector<SkippedWork> DescribeSkipped(const std::vector<sim::ServiceCall> &calls, const BoardLayout *layout,
                                         const std::vector<SlotResult> &slots, bool parkedDuringStartup);

}  // namespace host
