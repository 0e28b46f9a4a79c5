// The module globals of the driver linked into this program, put back to
// their values at load, so that one process can run the driver again and
// again as a freshly loaded image would.
#pragma once

namespace host {

// The start-up services' module globals hold pointers into the simulated
// firmware (the hand-off block list, the PCD protocol, the debug print
// service, the heap list anchor). Sets them, and the rest of those
// services' state, to their values at load, as a fresh image has them.
void ResetStartupModuleGlobals();

// The End-of-DXE work keeps the SMBIOS protocol in a module global and
// updates the slot rows of the chosen layout in place. Sets both back to
// their values at load, so that one process can boot the driver again and
// again (the whole-boot fuzzer does).
void ResetInventoryModuleGlobals();

}  // namespace host
