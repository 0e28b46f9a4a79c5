// The debug print service published by another firmware module. Its Print
// takes the argument list of a Microsoft-convention variadic call.
#pragma once

#include "driver/firmware/Uefi.h"

typedef __builtin_ms_va_list VA_LIST;
#define VA_START(Marker, Parameter) __builtin_ms_va_start(Marker, Parameter)
#define VA_END(Marker) __builtin_ms_va_end(Marker)
#define VA_ARG(Marker, TYPE) __builtin_va_arg(Marker, TYPE)
#define VA_COPY(Dest, Start) __builtin_ms_va_copy(Dest, Start)

typedef VOID(EFIAPI *DEBUG_PRINT_SERVICE_PRINT)(UINTN ErrorLevel, const CHAR8 *Format, VA_LIST Marker);

typedef struct {
  DEBUG_PRINT_SERVICE_PRINT Print;
} DEBUG_PRINT_SERVICE;
