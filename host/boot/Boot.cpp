#include "host/boot/Boot.h"

#include <sys/wait.h>
#include <unistd.h>

#include <cstring>
#include <stdexcept>

#include "firmware/Guids.h"
#include "host/boot/Report.h"
#include "inventory/Inventory.h"
#include "startup/Startup.h"

namespace host {

namespace {

bool SameGuid(const EFI_GUID &a, const EFI_GUID &b) { return std::memcmp(&a, &b, sizeof(EFI_GUID)) == 0; }

char Hex(unsigned value) { return "0123456789ABCDEF"[value & 0xF]; }

std::string Byte(uint8_t value) { return {'0', 'x', Hex(value >> 4), Hex(value)}; }

// Explains, from what the firmware saw, how the End-of-DXE work ended.
void DescribeOutcome(BootResult &result) {
  const std::string name = "NioTypeProtected";
  if (EFI_ERROR(result.entryStatus)) {
    result.outcome = "DriverEntry returned " + sim::StatusText(result.entryStatus) + ": no End-of-DXE notification";
  } else if (!result.variableRead) {
    result.outcome = "the End-of-DXE notification did not run";
  } else if (EFI_ERROR(result.variableStatus)) {
    if (result.variableStatus == EFI_NOT_FOUND) {
      result.outcome = "variable " + name + " is missing (GetVariable: Not Found)";
    } else if (result.variableStatus == EFI_BUFFER_TOO_SMALL) {
      result.outcome = "variable " + name + " holds " + std::to_string(result.variableStoredSize) +
                       " bytes, not 4 (GetVariable: Buffer Too Small)";
    } else {
      result.outcome = "variable " + name + " cannot be read (GetVariable: " +
                       sim::StatusText(result.variableStatus) + ")";
    }
  } else if (result.nioWord && *result.nioWord == 0) {
    result.outcome = name + " is 0: nothing to install";
  } else if (!result.variantCode) {
    result.outcome = "NIO kind " + Byte(static_cast<uint8_t>(result.nioWord.value_or(0) >> 8)) +
                     " is not a kind the driver acts on";
  } else if (!result.smbiosLocated) {
    result.outcome = "SMBIOS protocol not found";
  } else if (result.layout.empty()) {
    result.outcome = "variant " + Byte(*result.variantCode) + " has no board layout";
  } else {
    result.installed = true;
    result.outcome = "installed " + result.layout;
  }
}

}  // namespace

BootResult RunBoot(const sim::Platform &platform) {
  sim::SimFirmware firmware(platform);
  BootResult result;
  result.platformName = platform.name;

  result.entryStatus = DriverEntry(firmware.ImageHandle(), firmware.SystemTable());
  firmware.SignalEventGroup(gEfiEndOfDxeEventGroupGuid);

  const std::u16string nioName(gNioTypeVariableName);
  if (const sim::VariableDescription *variable = firmware.FindVariable(nioName, gNioTypeVariableGuid)) {
    result.variablePresent = true;
    result.variableStoredSize = variable->data.size();
  }
  for (const sim::ServiceCall &call : firmware.Calls()) {
    if (call.service == "GetVariable" && call.detail == "NioTypeProtected") {
      result.variableRead = true;
      result.variableStatus = call.status;
    }
    if (call.service == "LocateProtocol" && call.detail == sim::GuidName(gEfiSmbiosProtocolGuid)) {
      result.smbiosLocateAttempted = true;
      result.smbiosLocated = !EFI_ERROR(call.status);
    }
  }
  if (result.variableRead && !EFI_ERROR(result.variableStatus)) {
    // The driver reads the first 4 bytes of the variable into a zero word.
    const sim::VariableDescription *variable = firmware.FindVariable(nioName, gNioTypeVariableGuid);
    uint32_t word = 0;
    std::memcpy(&word, variable->data.data(), std::min<size_t>(4, variable->data.size()));
    result.nioWord = word;
    UINT8 code = 0;
    if (SelectVariantCode(word, &code)) {
      result.variantCode = code;
      if (const BoardLayout *layout = LayoutForVariant(code)) {
        result.layout = layout->Name;
      }
    }
  }
  DescribeOutcome(result);

  result.records = firmware.SmbiosRecords();
  for (const sim::EventState &event : firmware.Events()) {
    if (event.hasGroup && SameGuid(event.group, gEfiEndOfDxeEventGroupGuid)) {
      result.eventCreated = true;
      result.eventNotifications = event.notifications;
      result.eventClosed = event.closed;
    }
  }
  result.pool = firmware.Pool();
  result.calls = firmware.Calls();
  return result;
}

nlohmann::json RunBootIsolated(const sim::Platform &platform) {
  if (sim::SimFirmware::EverActive()) {
    // The child would inherit module globals that driver code changed here.
    throw std::logic_error(
        "RunBootIsolated in a process that already ran driver code in-process: "
        "keep isolated boots and in-process driver tests in separate test programs");
  }
  int pipeEnds[2];
  if (pipe(pipeEnds) != 0) {
    throw std::runtime_error("pipe failed");
  }
  const pid_t child = fork();
  if (child < 0) {
    throw std::runtime_error("fork failed");
  }
  if (child == 0) {
    close(pipeEnds[0]);
    const std::string report = BootReportJson(RunBoot(platform)).dump();
    size_t written = 0;
    while (written < report.size()) {
      ssize_t n = write(pipeEnds[1], report.data() + written, report.size() - written);
      if (n <= 0) {
        _exit(3);
      }
      written += static_cast<size_t>(n);
    }
    close(pipeEnds[1]);
    _exit(0);
  }
  close(pipeEnds[1]);
  std::string report;
  char buffer[65536];
  ssize_t n;
  while ((n = read(pipeEnds[0], buffer, sizeof(buffer))) > 0) {
    report.append(buffer, static_cast<size_t>(n));
  }
  close(pipeEnds[0]);
  int status = 0;
  waitpid(child, &status, 0);
  if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) {
    throw std::runtime_error("the simulated boot died (wait status " + std::to_string(status) + ")");
  }
  return nlohmann::json::parse(report);
}

}  // namespace host
