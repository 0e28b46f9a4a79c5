#include "driver/firmware/Guids.h"
#include "driver/platform/DebugMessage.h"
#include "driver/base/Tables.h"

DEBUG_PRINT_SERVICE *gDebugPrintService = nullptr;

EFI_STATUS EFIAPI WriteDebugMessage(UINTN ErrorLevel, const CHAR8 *Format, ...) {
  if (gDebugPrintService == nullptr) {
    EFI_STATUS Status = gBootServices->LocateProtocol(&gDebugPrintServiceGuid, nullptr, (VOID **)&gDebugPrintService);
    if (EFI_ERROR(Status)) {
      // The message is dropped; the next one looks for the service again.
      gDebugPrintService = nullptr;
      return Status;
    }
  }
  // The service formats; no filtering by error level happens here.
  VA_LIST Marker;
  VA_START(Marker, Format);
  gDebugPrintService->Print(ErrorLevel, Format, Marker);
  VA_END(Marker);
  return EFI_SUCCESS;
}
