// The module globals for the firmware's tables (startup/Startup.h).
#include "startup/Startup.h"

EFI_SYSTEM_TABLE *gSystemTable = nullptr;
EFI_BOOT_SERVICES *gBootServices = nullptr;
EFI_RUNTIME_SERVICES *gRuntimeServices = nullptr;
