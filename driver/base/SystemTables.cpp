// The module globals for the firmware's tables (driver/base/Tables.h).
#include "driver/base/Tables.h"

EFI_SYSTEM_TABLE *gSystemTable = nullptr;
EFI_BOOT_SERVICES *gBootServices = nullptr;
EFI_RUNTIME_SERVICES *gRuntimeServices = nullptr;
