// The platform support services, all of which run during start-up from the
// constructor chain in RunLibraryConstructors. Each has its own header with
// its contract and constants; this one includes them all.
#pragma once

#include "driver/platform/ConfigSnapshot.h"  // the configuration snapshot from PCD tokens
#include "driver/platform/DebugBackends.h"   // the port-0x80 stream and UART debug output
#include "driver/platform/DebugMessage.h"    // debug message routing to the print service
#include "driver/platform/FatalStop.h"       // the fatal stop and its time base
#include "driver/platform/HeapTransfer.h"    // the heap buffer transfer and its list
