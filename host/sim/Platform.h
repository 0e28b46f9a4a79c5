// The description of a simulated machine: what the firmware holds and
// offers when the driver is loaded. A built-in default describes a kind 2
// board; a JSON file describes any other (see the README for the format).
#pragma once

#include <cstdint>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

#include "firmware/Uefi.h"

namespace sim {

struct VariableDescription {
  std::u16string name;
  EFI_GUID guid;
  uint32_t attributes = 0x7;  // non-volatile, boot-service and runtime access
  std::vector<uint8_t> data;
};

struct ProtocolPresence {
  bool smbios = true;
};

struct FaultInjection {
  // 1-based indices of pool allocations that fail.
  std::vector<uint64_t> failAllocations;
  // Every allocation from this 1-based index on fails.
  std::optional<uint64_t> failAllocationsFrom;
};

struct Platform {
  std::string name = "default";
  std::vector<VariableDescription> variables;
  ProtocolPresence protocols;
  FaultInjection faults;
};

class PlatformError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// The built-in default: a kind 2 board, NioTypeProtected = 0x00000200.
Platform DefaultPlatform();

// Parses a platform description; unknown fields and bad values throw
// PlatformError naming the field.
Platform ParsePlatformJson(const std::string &text);
Platform LoadPlatformFile(const std::string &path);

// Sets NioTypeProtected to a 4-byte word, or removes it.
void SetNioTypeWord(Platform &platform, uint32_t word);
void RemoveNioTypeVariable(Platform &platform);

// GUID text in registry form, without braces.
std::string GuidToString(const EFI_GUID &guid);
std::optional<EFI_GUID> GuidFromString(const std::string &text);

}  // namespace sim
