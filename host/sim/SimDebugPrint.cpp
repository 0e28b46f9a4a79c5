// The debug print service: when it appears, and the messages it keeps
// (DebugPrintFormat.cpp formats them).
#include "host/sim/SimDebugPrint.h"

#include <utility>

#include "driver/firmware/Guids.h"

namespace sim {

DebugPrint::DebugPrint(const ProtocolPresence &presence, ProtocolDatabase &protocols, void *interface)
    : present_(presence.debugPrint),
      afterLookups_(presence.debugPrintAfterLookups),
      protocols_(protocols),
      interface_(interface) {}

void DebugPrint::Install() {
  EFI_HANDLE handle = nullptr;
  protocols_.InstallProtocol(&handle, gDebugPrintServiceGuid, interface_);
  installed_ = true;
}

void DebugPrint::InstallIfPresent() {
  if (present_) {
    Install();
  }
}

void DebugPrint::Print(UINTN errorLevel, const CHAR8 *format, std::string text) {
  messages_.push_back({errorLevel, format != nullptr ? format : "", std::move(text)});
}

}  // namespace sim
