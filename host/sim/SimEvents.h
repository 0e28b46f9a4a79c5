// The simulated events: CreateEventEx with event groups, CloseEvent, and
// signalling a group, which notifies each open member once.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <vector>

#include "driver/firmware/Uefi.h"
#include "host/sim/ServiceLog.h"

namespace sim {

struct EventState {
  uint32_t type;
  EFI_TPL tpl;
  EFI_EVENT_NOTIFY notify;
  const void *context;
  bool hasGroup;
  EFI_GUID group;
  bool closed = false;
  uint64_t notifications = 0;
};

class Events {
 public:
  // createStatus: the status the platform's CreateEventEx answers, if it
  // is made to fail (FaultInjection::failCreateEvent). Calls go to log.
  Events(std::optional<EFI_STATUS> createStatus, ServiceLog &log);
  Events(const Events &) = delete;
  Events &operator=(const Events &) = delete;

  // The boot services, reached through their EFIAPI thunks.
  EFI_STATUS CreateEventEx(UINT32 type, EFI_TPL tpl, EFI_EVENT_NOTIFY notify, const VOID *context,
                           const EFI_GUID *group, EFI_EVENT *event);
  EFI_STATUS CloseEvent(EFI_EVENT event);

  // Signals an event group: each open notify-signal event of the group is
  // notified once, with its own event and context.
  void SignalEventGroup(const EFI_GUID &group);

  // Every event created, closed ones included, in the order created.
  std::vector<EventState> States() const;

 private:
  std::optional<EFI_STATUS> createStatus_;
  ServiceLog &log_;
  std::vector<std::unique_ptr<EventState>> events_;
};

}  // namespace sim
