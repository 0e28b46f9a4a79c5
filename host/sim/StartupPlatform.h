// Readers for the start-up services' fields of a platform description
// (see the README). Each throws PlatformError naming
// the field.
#pragma once

#include <nlohmann/json.hpp>

#include "host/sim/Platform.h"

namespace sim {

// "protocols": pcd, efi_pcd, debug_print, debug_print_after_lookups,
// heap_buffer_list.
void ReadStartupProtocolFields(const nlohmann::json &protocols, Platform &platform);

// "faults": fail_installs.
void ReadInstallFailureFields(const nlohmann::json &faults, Platform &platform);

// The top-level keys pcd_tokens, hob_list, platform_registers, uart, cpu.
void ReadStartupFields(const nlohmann::json &root, Platform &platform);

}  // namespace sim
