// Events: CreateEventEx with event groups, CloseEvent, and signalling a
// group.
#include "host/sim/SimEvents.h"

#include "host/sim/EfiValues.h"

namespace sim {

Events::Events(std::optional<EFI_STATUS> createStatus, ServiceLog &log) : createStatus_(createStatus), log_(log) {}

std::vector<EventState> Events::States() const {
  std::vector<EventState> view;
  for (const auto &event : events_) {
    view.push_back(*event);
  }
  return view;
}

EFI_STATUS Events::CreateEventEx(UINT32 type, EFI_TPL tpl, EFI_EVENT_NOTIFY notify, const VOID *context,
                                 const EFI_GUID *group, EFI_EVENT *event) {
  EFI_STATUS status = EFI_SUCCESS;
  if (event == nullptr || (type == EVT_NOTIFY_SIGNAL && notify == nullptr) ||
      (type == EVT_NOTIFY_SIGNAL && tpl != TPL_CALLBACK && tpl != TPL_NOTIFY && tpl != TPL_APPLICATION)) {
    status = EFI_INVALID_PARAMETER;
  } else if (createStatus_ && EFI_ERROR(*createStatus_)) {
    // The platform's failure: an error creates nothing.
    status = *createStatus_;
  } else {
    // A warning from the platform creates the event and is returned.
    status = createStatus_.value_or(EFI_SUCCESS);
    auto state = std::make_unique<EventState>();
    state->type = type;
    state->tpl = tpl;
    state->notify = notify;
    state->context = context;
    state->hasGroup = group != nullptr;
    if (group != nullptr) {
      state->group = *group;
    }
    *event = state.get();
    events_.push_back(std::move(state));
  }
  ServiceCall call{Service::CreateEventEx, status};
  if (group != nullptr) {
    call.guid = *group;
  }
  log_.Add(std::move(call));
  return status;
}

EFI_STATUS Events::CloseEvent(EFI_EVENT event) {
  EFI_STATUS status = EFI_INVALID_PARAMETER;
  for (auto &state : events_) {
    if (state.get() == event && !state->closed) {
      state->closed = true;
      status = EFI_SUCCESS;
    }
  }
  log_.Add({Service::CloseEvent, status});
  return status;
}

void Events::SignalEventGroup(const EFI_GUID &group) {
  // Notifications may create or close events; walk by index over those
  // that existed when the signal came.
  const size_t count = events_.size();
  for (size_t i = 0; i < count; i++) {
    EventState *state = events_[i].get();
    if (state->closed || !state->hasGroup || !SameGuid(state->group, group) || state->type != EVT_NOTIFY_SIGNAL) {
      continue;
    }
    state->notifications++;
    state->notify(state, const_cast<void *>(state->context));
  }
}

}  // namespace sim
