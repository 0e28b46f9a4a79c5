// The simulated events (sim::Events): event groups, closing, and the
// platform's CreateEventEx fault.
#include <gtest/gtest.h>

#include <vector>

#include "driver/firmware/Guids.h"
#include "host/sim/SimFirmware.h"

namespace {

using sim::SimFirmware;

EFI_BOOT_SERVICES *Bs(SimFirmware &fw) { return fw.SystemTable()->BootServices; }

struct Notified {
  EFI_EVENT event;
  void *context;
};
std::vector<Notified> gNotified;

VOID EFIAPI RecordNotify(EFI_EVENT event, VOID *context) { gNotified.push_back({event, context}); }

TEST(SimEventTest, GroupSignalNotifiesOpenMembersOnceWithTheirEvent) {
  SimFirmware fw(sim::DefaultPlatform());
  EFI_BOOT_SERVICES *bs = Bs(fw);
  gNotified.clear();
  int context = 0;
  EFI_EVENT member = nullptr;
  EFI_EVENT closedMember = nullptr;
  EFI_EVENT otherGroup = nullptr;
  ASSERT_EQ(bs->CreateEventEx(EVT_NOTIFY_SIGNAL, TPL_CALLBACK, RecordNotify, &context, &gEfiEndOfDxeEventGroupGuid,
                              &member),
            EFI_SUCCESS);
  ASSERT_EQ(bs->CreateEventEx(EVT_NOTIFY_SIGNAL, TPL_CALLBACK, RecordNotify, nullptr, &gEfiEndOfDxeEventGroupGuid,
                              &closedMember),
            EFI_SUCCESS);
  ASSERT_EQ(bs->CreateEventEx(EVT_NOTIFY_SIGNAL, TPL_CALLBACK, RecordNotify, nullptr, &gEfiHobListGuid, &otherGroup),
            EFI_SUCCESS);
  EXPECT_EQ(bs->CloseEvent(closedMember), EFI_SUCCESS);
  EXPECT_EQ(bs->CloseEvent(closedMember), EFI_INVALID_PARAMETER);
  fw.Events().SignalEventGroup(gEfiEndOfDxeEventGroupGuid);
  ASSERT_EQ(gNotified.size(), 1u);
  EXPECT_EQ(gNotified[0].event, member);
  EXPECT_EQ(gNotified[0].context, &context);
  EXPECT_EQ(bs->CreateEventEx(EVT_NOTIFY_SIGNAL, TPL_CALLBACK, nullptr, nullptr, &gEfiHobListGuid, &otherGroup),
            EFI_INVALID_PARAMETER);
}

// The platform's CreateEventEx fault: an error creates no event and leaves
// the caller's variable alone; a warning creates the event and is returned.
TEST(SimEventTest, ThePlatformsCreateEventStatusIsReturned) {
  for (EFI_STATUS status : std::vector<EFI_STATUS>{EFI_OUT_OF_RESOURCES, EFI_UNSUPPORTED, 1 /* a warning */}) {
    sim::Platform platform = sim::DefaultPlatform();
    platform.faults.failCreateEvent = status;
    SimFirmware fw(platform);
    gNotified.clear();
    EFI_EVENT event = reinterpret_cast<EFI_EVENT>(0x1234);
    EXPECT_EQ(Bs(fw)->CreateEventEx(EVT_NOTIFY_SIGNAL, TPL_CALLBACK, RecordNotify, nullptr,
                                    &gEfiEndOfDxeEventGroupGuid, &event),
              status);
    EXPECT_EQ(fw.Calls().back().status, status);
    fw.Events().SignalEventGroup(gEfiEndOfDxeEventGroupGuid);
    if (EFI_ERROR(status)) {
      EXPECT_EQ(event, reinterpret_cast<EFI_EVENT>(0x1234));
      EXPECT_TRUE(fw.Events().States().empty());
      EXPECT_TRUE(gNotified.empty());
    } else {
      ASSERT_EQ(fw.Events().States().size(), 1u);
      ASSERT_EQ(gNotified.size(), 1u);
      EXPECT_EQ(gNotified[0].event, event);
    }
  }
}

}  // namespace
