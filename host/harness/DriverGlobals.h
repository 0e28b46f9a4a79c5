// The module globals of the driver linked into this program, put back to
// their values at load, so that one process can run the driver again and
// again as a freshly loaded image would. Their list is the one place the
// host names them all: the harness resets and wires from it, the boot of a
// loaded image finds in its map the globals the list marks as read by the
// report, and the devpath command the table pointers it marks.
#pragma once

#include <cstddef>
#include <span>
#include <string>

namespace host {

// One writable module global of the linked-in driver.
struct ModuleGlobal {
  // The name that begins the global's decorated name in the image's linker
  // map: "gSmbios" for ?gSmbios@@3PEAUEFI_SMBIOS_PROTOCOL@@EA,
  // "gLayoutASlots" for ?gLayoutASlots@?A0x...@@3PAUSystemSlotEntry@@A.
  const char *name;
  void *address;  // the linked-in driver's copy
  size_t size;    // its bytes, every one of which is reset
  // A pointer to one of the firmware's tables (gSystemTable,
  // gBootServices, gRuntimeServices): null at load, stored by the entry
  // point, wired to a simulated firmware by host::LinkedDriver; a loaded
  // image's copy is found through its map where host code wires it.
  bool firmwareTable;
  // The boot report reads it (host::DriverState points at it): the map of a
  // loaded image must name it, and the boot reads the image's copy.
  bool readByReport;
};

// Every writable module global of the driver, each once: exactly the
// symbols the image holds in its writable sections (a test compares the
// list with the image's map). Load-time values are taken from these.
std::span<const ModuleGlobal> ModuleGlobals();

// The global of ModuleGlobals() that the linked-in driver holds at address
// (its first byte), or null.
const ModuleGlobal *ModuleGlobalAt(const void *address);

// The start of the decorated name under which the image's linker map lists
// a global at namespace scope: "?gSmbios@@".
std::string MapNamePrefix(const ModuleGlobal &global);

// Puts every global of ModuleGlobals() back to the bytes it held at load:
// the table pointers and the pointers into a firmware to null, the
// configuration snapshot and the timer cache to zero, the heap buffer list
// interface to its revision and empty links, the slot rows that the probe
// updates in place to the rows as built.
void ResetModuleGlobals();

}  // namespace host
