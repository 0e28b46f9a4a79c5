// The simulated debug print service: present from the start, absent, or
// appearing once the firmware has answered some look-ups; it formats each
// message as the platform's service does and keeps it.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "driver/firmware/Protocol/DebugPrint.h"
#include "driver/firmware/Uefi.h"
#include "host/sim/Platform.h"
#include "host/sim/SimProtocols.h"

namespace sim {

// A message handed to the debug print service, as it formatted it.
struct DebugMessage {
  uint64_t errorLevel;
  std::string format;
  std::string text;
};

class DebugPrint {
 public:
  // interface: the service's protocol interface, which it installs in
  // protocols when it appears, as presence says.
  DebugPrint(const ProtocolPresence &presence, ProtocolDatabase &protocols, void *interface);
  DebugPrint(const DebugPrint &) = delete;
  DebugPrint &operator=(const DebugPrint &) = delete;

  // Installs the interface if the platform has the service from the start;
  // the firmware calls it at the service's place among its installs.
  void InstallIfPresent();
  // Installs the interface of a service that appears later once the
  // firmware has answered its number of look-ups; the firmware calls it
  // before each LocateProtocol.
  void AppearIfDue() {
    if (!installed_ && afterLookups_ && protocols_.LocateProtocolCalls() >= *afterLookups_) {
      Install();
    }
  }
  bool Installed() const { return installed_; }

  // The service's Print, reached through its EFIAPI thunk, with the text
  // FormatDebugMessage made.
  void Print(UINTN errorLevel, const CHAR8 *format, std::string text);
  // Every message printed, in order.
  const std::vector<DebugMessage> &Messages() const { return messages_; }

 private:
  void Install();

  bool present_;
  std::optional<uint64_t> afterLookups_;
  ProtocolDatabase &protocols_;
  void *interface_;
  bool installed_ = false;
  std::vector<DebugMessage> messages_;
};

// Formats a debug message the way the platform's debug print service does:
// %a (8-bit text), %s (UCS-2 text), %c, %d, %i, %u, %x, %X, %p, %g (GUID),
// %r (status), %%, with the flags '-', '0', ' ', '+', a width and a
// precision (or '*'), and 'l' or 'L' for 64-bit integers.
std::string EFIAPI FormatDebugMessage(const CHAR8 *format, VA_LIST marker);

}  // namespace sim
