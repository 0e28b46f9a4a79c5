#include "driver/entry/DriverEntry.h"
#include "driver/firmware/Guids.h"
#include "driver/inventory/Inventory.h"
#include "driver/platform/ConfigSnapshot.h"
#include "driver/platform/DebugBackends.h"
#include "driver/platform/HeapTransfer.h"
#include "driver/base/Tables.h"

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
