// Debug message routing: messages go to the platform's debug print
// service, looked up until it is found.
#pragma once

#include "driver/firmware/Protocol/DebugPrint.h"
#include "driver/firmware/Uefi.h"

// The error level of every message the driver writes.
static constexpr UINTN DEBUG_ERROR = 0x80000000U;

// Hands an error level, an 8-bit format ("%a" an 8-bit text, "%r" a
// status) and its arguments to the platform's debug print service. Returns
// the failed look-up's status when the service cannot be found (the message
// is dropped and the next one looks again), EFI_SUCCESS otherwise.
EFI_STATUS EFIAPI WriteDebugMessage(UINTN ErrorLevel, const CHAR8 *Format, ...);

// The service located by WriteDebugMessage; null until found.
extern DEBUG_PRINT_SERVICE *gDebugPrintService;
