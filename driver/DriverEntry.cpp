#include "driver/DriverEntry.h"
#include "firmware/Guids.h"
#include "inventory/Inventory.h"
#include "platform/ConfigSnapshot.h"
#include "platform/DebugBackends.h"
#include "platform/HeapTransfer.h"
#include "startup/Startup.h"

EFI_STATUS RunLibraryConstructors(EFI_HANDLE ImageHandle, EFI_SYSTEM_TABLE *SystemTable) {
  (VOID) ImageHandle;
  gSystemTable = SystemTable;
  gBootServices = SystemTable->BootServices;
  gRuntimeServices = SystemTable->RuntimeServices;

  // Each step runs whatever became of the one before; only a fatal stop
  // ends the chain.
  VexCfgPcdBufLibDxeConstructor();
  LocateHobList();
  InitializeHeapBufferList();
  InitializeDebugBackends();
  return EFI_SUCCESS;
}

extern "C" EFI_STATUS EFIAPI DriverEntry(EFI_HANDLE ImageHandle, EFI_SYSTEM_TABLE *SystemTable) {
  RunLibraryConstructors(ImageHandle, SystemTable);

  // The event is not kept: the notification receives it and closes it.
  EFI_EVENT EndOfDxeEvent = nullptr;
  return gBootServices->CreateEventEx(EVT_NOTIFY_SIGNAL, TPL_CALLBACK, OnEndOfDxe, nullptr,
                                      &gEfiEndOfDxeEventGroupGuid, &EndOfDxeEvent);
}
