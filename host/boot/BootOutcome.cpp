// A boot's outcome: the BootResult from the firmware's typed log, its state
// after the driver ran and the driver's module globals.
#include <algorithm>
#include <cstring>
#include <string>

#include "driver/firmware/Guids.h"
#include "host/boot/Explain.h"
#include "host/boot/Outcome.h"
#include "driver/inventory/Inventory.h"

namespace host {

namespace {

bool Is(const sim::ServiceCall &call, sim::Service service, const EFI_GUID &guid) {
  return call.service == service && call.guid && sim::SameGuid(*call.guid, guid);
}

// The driver's reading of the variant variable: the GetVariable call for
// NioTypeProtected under its vendor GUID, and the bytes it received.
void ReadVariable(const std::vector<sim::ServiceCall> &calls, BootResult &result) {
  const std::u16string name(gNioTypeVariableName);
  for (const sim::ServiceCall &call : calls) {
    if (!Is(call, sim::Service::GetVariable, gNioTypeVariableGuid) || call.variableName != name) {
      continue;
    }
    result.variableRead = true;
    result.variableStatus = call.status;
    result.nioWord.reset();
    if (!EFI_ERROR(call.status)) {
      // The driver reads the variable into a zero word, little-endian.
      uint32_t word = 0;
      std::memcpy(&word, call.data.data(), std::min<size_t>(sizeof(word), call.data.size()));
      result.nioWord = word;
    }
  }
}

// The variant code and the layout. The driver keeps neither in a module
// global, and its rule from word to code to layout lives in the driver
// alone, so the report applies the driver's own SelectVariantCode and
// LayoutForVariant to the word the driver received (the GetVariable call's
// bytes) rather than keep a second copy of the rule here. For a loaded
// image these are the linked-in driver's functions, built from the same
// sources. Null when no layout was chosen.
const BoardLayout *ChooseLayout(BootResult &result) {
  if (!result.nioWord) {
    return nullptr;
  }
  UINT8 code = 0;
  if (!SelectVariantCode(*result.nioWord, &code)) {
    return nullptr;
  }
  result.variantCode = code;
  const BoardLayout *layout = LayoutForVariant(code);
  if (layout != nullptr) {
    result.layout = layout->Name;
  }
  return layout;
}

// How the End-of-DXE work ended, from what the firmware saw.
BootOutcome OutcomeOf(const BootResult &result) {
  if (result.startup.parked) {
    return BootOutcome::Parked;
  }
  if (EFI_ERROR(result.entryStatus)) {
    return BootOutcome::EntryFailed;
  }
  if (!result.variableRead) {
    return BootOutcome::NotificationDidNotRun;
  }
  if (EFI_ERROR(result.variableStatus)) {
    return result.variableStatus == EFI_NOT_FOUND          ? BootOutcome::VariableMissing
           : result.variableStatus == EFI_BUFFER_TOO_SMALL ? BootOutcome::VariableWrongSize
                                                           : BootOutcome::VariableUnreadable;
  }
  if (result.nioWord && *result.nioWord == 0) {
    return BootOutcome::WordZero;
  }
  if (!result.variantCode) {
    return BootOutcome::KindNotActedOn;
  }
  if (!result.smbiosLocated) {
    return BootOutcome::SmbiosNotFound;
  }
  return result.layout.empty() ? BootOutcome::NoLayout : BootOutcome::Installed;
}

}  // namespace

BootResult DeriveBootResult(sim::SimFirmware &firmware, const DriverState &driver, const DriverRun &run) {
  BootResult result;
  result.platformName = firmware.Description().name;
  result.entryReturned = run.entryReturned;
  result.entryStatus = run.entryReturned ? run.entryStatus : EFI_SUCCESS;
  result.startup = DeriveStartup(firmware, driver, run);
  result.calls = firmware.Calls();

  const std::u16string nioName(gNioTypeVariableName);
  if (const sim::VariableDescription *variable = firmware.Variables().FindVariable(nioName, gNioTypeVariableGuid)) {
    result.variablePresent = true;
    result.variableStoredSize = variable->data.size();
  }
  ReadVariable(result.calls, result);
  for (const sim::ServiceCall &call : result.calls) {
    if (Is(call, sim::Service::LocateProtocol, gEfiSmbiosProtocolGuid)) {
      result.smbiosLocateAttempted = true;
      result.smbiosLocated = !EFI_ERROR(call.status);
    }
  }
  const BoardLayout *layout = ChooseLayout(result);
  result.outcome = OutcomeOf(result);
  result.installed = result.outcome == BootOutcome::Installed;

  result.records = firmware.Smbios().Records();
  for (const sim::ServiceCall &call : result.calls) {
    if (call.service == sim::Service::SmbiosAdd && call.recordProblem) {
      result.malformedRecords.push_back(call);
    }
  }
  // The driver works through a layout only once it found the SMBIOS protocol.
  const BoardLayout *used = result.smbiosLocated ? layout : nullptr;
  result.workedLayout = used;
  if (used != nullptr) {
    result.slots = DescribeSlots(result.calls, firmware.Pci(), *used, result.records);
  }
  for (const sim::EventState &event : firmware.Events().States()) {
    if (event.hasGroup && sim::SameGuid(event.group, gEfiEndOfDxeEventGroupGuid)) {
      result.eventCreated = true;
      result.eventNotifications = event.notifications;
      result.eventClosed = event.closed;
    }
  }
  // What the driver left in the pool: the blocks it still holds are
  // checked here, those it freed were checked by FreePool.
  firmware.Pool().CheckPoolGuards();
  result.pool = firmware.Pool().Statistics();
  result.skipped =
      DescribeSkipped(result.calls, used, result.slots, result.startup.parked && !result.entryReturned);
  return result;
}

}  // namespace host
