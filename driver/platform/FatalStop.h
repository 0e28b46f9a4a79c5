// The fatal stop and its time base. A fatal condition, with the stop
// policy on (the snapshot's FatalStopEnabled), announces a stop code on
// ports 0xE0 and 0x80, asks an agent that intercepts CPUID whether to
// return, and otherwise shows the code on the port-0x80 display for good,
// each value held for 2.5 s measured on the time-stamp counter.
#pragma once

#include "driver/firmware/BoardHardware.h"
#include "driver/firmware/Uefi.h"

// Stop codes, one per fatal condition.
static constexpr UINT32 STOP_CODE_HEAP_LIST_INSTALL = 0x00080225U;  // the heap buffer list was not installed
static constexpr UINT32 STOP_CODE_RUNTIME_POOL = 0x00080134U;       // no runtime-services pool for a heap buffer
static constexpr UINT32 STOP_CODE_BOOT_POOL = 0x00080137U;          // no boot-services pool for a heap buffer
static constexpr UINT32 STOP_CODE_STORE_WIDTH = 0x00010320U;        // StoreByWidth met an unknown width code

// The stop signature, written to its own port before the code.
static constexpr UINT16 STOP_SIGNATURE = 0xDEAD;
// The display on the POST code port: the code first, then the display
// values.
// How long each display value stands.
static constexpr UINT64 STOP_DISPLAY_HOLD_MICROSECONDS = 2500000ULL;
// Six values a cycle: six rotations by 8 and one by 16 bring the stop code
// word back to where it started, so every cycle shows the same six.
static constexpr UINTN STOP_DISPLAY_VALUES_PER_CYCLE = 6;

// The P-state definition registers are read for the time base: the first
// enabled one gives the core frequency.
static constexpr UINT64 PSTATE_ENABLED_BIT = 1ULL << 63;
// The multiplier in bits 7..0, the divisor in bits 13..8.
static constexpr UINT64 PSTATE_MULTIPLIER_MASK = 0xFF;
static constexpr UINT32 PSTATE_DIVISOR_SHIFT = 8;
static constexpr UINT64 PSTATE_DIVISOR_MASK = 0x3F;
// A divisor from 8 to 60 divides the multiplier times 200 MHz; outside
// that range the multiplier counts steps of 25 MHz; a divisor of 0 gives
// no frequency.
static constexpr UINT32 PSTATE_DIVISOR_LOWEST = 8;
static constexpr UINT32 PSTATE_DIVISOR_HIGHEST = 60;
static constexpr UINT32 PSTATE_DIVIDED_MEGAHERTZ = 200;
static constexpr UINT32 PSTATE_STEP_MEGAHERTZ = 25;
// The time base when no P-state is enabled; it is not kept.
static constexpr UINT64 TSC_TICKS_WITHOUT_PSTATE = 256ULL;

// Announces the stop code on ports 0xE0 and 0x80; returns only when an
// agent that intercepts CPUID asks for it, otherwise shows the code on the
// port-0x80 display for good.
VOID FatalStop(UINT32 Code);

// Asks an agent that intercepts CPUID whether to skip the stop; nonzero
// means skip. On bare hardware the answer is 0.
UINT16 QueryStopOverride(UINT32 Code);

// 0xDEAD in bits 63..48, the code in bits 47..16, zero below.
UINT64 StopCodeWord(UINT32 Code);

// Ticks of the time-stamp counter per second, from the first enabled
// P-state definition; cached once known.
UINT64 TscTicksPerSecond(VOID);
UINT64 ReadTimeStamp(VOID);
VOID PauseCpu(VOID);

// The frequency cache; zero while the frequency is not known.
extern UINT64 gTscTicksPerSecond;
