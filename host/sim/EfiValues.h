// UEFI values as the host compares and names them: GUIDs, statuses and
// memory types. The one place for each; the simulated firmware, the loader
// and the boot reports all use these.
#pragma once

#include <string>

#include "driver/firmware/Uefi.h"

namespace sim {

bool SameGuid(const EFI_GUID &a, const EFI_GUID &b);

// A display name for a GUID the simulated firmware knows, else its text.
std::string GuidName(const EFI_GUID &guid);

// The UEFI display text of a status ("Success", "Not Found", ...).
std::string StatusText(EFI_STATUS status);

// A memory type's name as a report's JSON key ("boot_services_data",
// "runtime_services_data", else "type_N") and in a sentence ("boot-services
// data", "runtime-services data", else "memory type N"), from one table.
std::string MemoryTypeKey(EFI_MEMORY_TYPE type);
std::string MemoryTypeWords(EFI_MEMORY_TYPE type);

}  // namespace sim
