#include "host/sim/EfiValues.h"

#include <cstring>

#include "driver/firmware/Guids.h"
#include "host/sim/Platform.h"
#include "host/sim/Text.h"

namespace sim {

namespace {

// The memory types the driver allocates from, by their two names.
struct MemoryTypeNames {
  EFI_MEMORY_TYPE type;
  const char *key;
  const char *words;
};
constexpr MemoryTypeNames kMemoryTypes[] = {
    {EfiBootServicesData, "boot_services_data", "boot-services data"},
    {EfiRuntimeServicesData, "runtime_services_data", "runtime-services data"},
};

const MemoryTypeNames *FindMemoryType(EFI_MEMORY_TYPE type) {
  for (const MemoryTypeNames &names : kMemoryTypes) {
    if (names.type == type) {
      return &names;
    }
  }
  return nullptr;
}

}  // namespace

bool SameGuid(const EFI_GUID &a, const EFI_GUID &b) { return std::memcmp(&a, &b, sizeof(EFI_GUID)) == 0; }

std::string GuidName(const EFI_GUID &guid) {
  static const struct {
    const EFI_GUID *guid;
    const char *name;
  } kNames[] = {
      {&gEfiHobListGuid, "HOB list"},
      {&gEfiEndOfDxeEventGroupGuid, "End-of-DXE event group"},
      {&gEfiSmbiosProtocolGuid, "SMBIOS protocol"},
      {&gEfiDevicePathProtocolGuid, "device path protocol"},
      {&gEfiPciIoProtocolGuid, "PCI I/O protocol"},
      {&gPcdProtocolGuid, "gPcdProtocolGuid"},
      {&gEfiPcdProtocolGuid, "gEfiPcdProtocolGuid"},
      {&gDebugPrintServiceGuid, "debug print service"},
      {&gNioTypeVariableGuid, "board variable GUID"},
      {&gHeapHandOffGuid, "heap hand-off GUID"},
      {&gHeapBufferListProtocolGuid, "heap buffer list protocol"},
  };
  for (const auto &entry : kNames) {
    if (SameGuid(*entry.guid, guid)) {
      return entry.name;
    }
  }
  return GuidToString(guid);
}

std::string StatusText(EFI_STATUS status) {
  static const char *const kErrors[] = {
      "Success",          "Load Error",       "Invalid Parameter", "Unsupported",    "Bad Buffer Size",
      "Buffer Too Small", "Not Ready",        "Device Error",      "Write Protected", "Out of Resources",
      "Volume Corrupt",   "Volume Full",      "No Media",          "Media changed",  "Not Found",
      "Access Denied",    "No Response",      "No mapping",        "Time out",       "Not started",
      "Already started",  "Aborted",          "ICMP Error",        "TFTP Error",     "Protocol Error",
      "Incompatible Version", "Security Violation", "CRC Error",   "End of Media",   "Reserved (29)",
      "Reserved (30)",    "End of File",      "Invalid Language",  "Compromised Data", "IP Address Conflict",
      "HTTP Error"};
  static const char *const kWarnings[] = {"Success",           "Warning Unknown Glyph", "Warning Delete Failure",
                                          "Warning Write Failure", "Warning Buffer Too Small",
                                          "Warning Stale Data", "Warning File System",  "Warning Reset Required"};
  const uint64_t code = status & ~EFI_ERROR_BIT;
  if (EFI_ERROR(status)) {
    if (code > 0 && code < sizeof(kErrors) / sizeof(kErrors[0])) {
      return kErrors[code];
    }
  } else if (code < sizeof(kWarnings) / sizeof(kWarnings[0])) {
    return kWarnings[code];
  }
  return (EFI_ERROR(status) ? "Error " : "Warning ") + Hex(status);
}

std::string MemoryTypeKey(EFI_MEMORY_TYPE type) {
  const MemoryTypeNames *names = FindMemoryType(type);
  return names != nullptr ? names->key : "type_" + std::to_string(type);
}

std::string MemoryTypeWords(EFI_MEMORY_TYPE type) {
  const MemoryTypeNames *names = FindMemoryType(type);
  return names != nullptr ? names->words : "memory type " + std::to_string(type);
}

}  // namespace sim
