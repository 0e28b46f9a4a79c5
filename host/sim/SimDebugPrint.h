// The simulated debug print service: present from the start, absent, or
// appearing once the firmware has answered some look-ups; it formats each
// message as the platform's service does and keeps it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "driver/firmware/Protocol/DebugPrint.h"
#include "driver/firmware/Uefi.h"
#include "host/sim/Platform.h"
#include "host/sim/SimPool.h"
#include "host/sim/SimProtocols.h"

namespace sim {

// A message handed to the debug print service, as it formatted it.
struct DebugMessage {
  uint64_t errorLevel;
  std::string format;
  std::string text;
};

// How far the service reads what a pointer it was handed points at: the
// bytes from the pointer to the end of what holds it, and what that is, for
// the marker that ends a text that does not end within them.
struct ReadLimit {
  size_t bytes;
  std::string where;  // "its pool block", "the driver's image", ...
};

// The most bytes the service reads of a text (or a GUID) that lies in no
// pool block, no loaded driver image and no segment of this program.
constexpr size_t kDebugTextBound = 4096;

class DebugPrint {
 public:
  // interface: the service's protocol interface, which it installs in
  // protocols when it appears, as presence says; pool: the pool whose blocks
  // bound what it reads.
  DebugPrint(const ProtocolPresence &presence, ProtocolDatabase &protocols, void *interface, const Pool &pool);
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

  // The service's Print, reached through its EFIAPI thunk: the format and
  // the text FormatDebugMessage made, each read within its ReadLimit.
  void Print(UINTN errorLevel, const CHAR8 *format, VA_LIST marker);
  // The driver image the boot runs, loaded by this program (null: the
  // driver linked into it): the driver's own texts lie in it.
  void SetDriverImage(const void *base, size_t size) {
    imageBase_ = static_cast<const uint8_t *>(base);
    imageSize_ = size;
  }
  // How far a pointer the driver handed may be read: to the end of the live
  // pool block that holds it, of the loaded driver image, or of the segment
  // of this program (the linked-in driver's static data) that holds it;
  // elsewhere kDebugTextBound bytes.
  ReadLimit LimitAt(const void *p) const;
  // Every message printed, in order.
  const std::vector<DebugMessage> &Messages() const { return messages_; }

 private:
  void Install();

  bool present_;
  std::optional<uint64_t> afterLookups_;
  ProtocolDatabase &protocols_;
  void *interface_;
  const Pool &pool_;
  const uint8_t *imageBase_ = nullptr;
  size_t imageSize_ = 0;
  bool installed_ = false;
  std::vector<DebugMessage> messages_;
};

// Formats a debug message the way the platform's debug print service does:
// %a (8-bit text), %s (UCS-2 text), %c, %d, %i, %u, %x, %X, %p, %g (GUID),
// %r (status), %%, with the flags '-', '0', ' ', '+', a width and a
// precision (or '*'), and 'l' or 'L' for 64-bit integers. The format, each
// text and each GUID is read no further than limitAt allows: a text without
// its terminating zero there is shown up to that point and followed by
// "<no NUL before the end of WHERE>", a GUID that does not fit as
// "<GUID past the end of WHERE>"; an unended format ends the message with
// the marker.
std::string EFIAPI FormatDebugMessage(const CHAR8 *format, VA_LIST marker,
                                      const std::function<ReadLimit(const void *)> &limitAt);

// An 8-bit text read within limit, with the marker when it does not end
// there.
std::string BoundedText(const CHAR8 *text, const ReadLimit &limit);

}  // namespace sim
