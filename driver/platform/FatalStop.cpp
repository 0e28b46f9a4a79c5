#include "driver/firmware/Hardware.h"
#include "driver/platform/FatalStop.h"

UINT64 gTscTicksPerSecond = 0;

static constexpr UINT64 MICROSECONDS_PER_SECOND = 1000000;
static constexpr UINT64 TICKS_PER_MEGAHERTZ = 1000000;

static UINT64 RotateLeft64(UINT64 Value, unsigned Count) { return (Value << Count) | (Value >> (64 - Count)); }

// Busy-waits until the time-stamp counter has passed the start stamp by
// the hold of one display value, measured with the current frequency.
static VOID HoldStopDisplayValue(VOID) {
  UINT64 Frequency = TscTicksPerSecond();
  UINT64 HoldTicks = Frequency * STOP_DISPLAY_HOLD_MICROSECONDS;
  UINT64 Start = ReadTimeStamp();
  UINT64 Target = Start + HoldTicks / MICROSECONDS_PER_SECOND;
  while (ReadTimeStamp() <= Target) {
    PauseCpu();
  }
}

UINT64 StopCodeWord(UINT32 Code) { return ((UINT64)STOP_SIGNATURE << 48) | ((UINT64)Code << 16); }

UINT16 QueryStopOverride(UINT32 Code) {
  // SI starts at 0 and comes back unchanged from a processor that executes
  // CPUID itself; only an intercepting agent answers otherwise.
  return CpuidWithSi(STOP_OVERRIDE_LEAF, STOP_OVERRIDE_SUBFUNCTION, Code, 0);
}

UINT64 TscTicksPerSecond(VOID) {
  if (gTscTicksPerSecond != 0) {
    return gTscTicksPerSecond;
  }
  UINT64 Definition = 0;
  BOOLEAN Found = FALSE;
  for (UINT32 Index = 0; Index < PSTATE_DEFINITION_MSR_COUNT; Index++) {
    Definition = ReadMsr(PSTATE_DEFINITION_MSR_FIRST + Index);
    if ((Definition & PSTATE_ENABLED_BIT) != 0) {
      Found = TRUE;
      break;
    }
  }
  if (!Found) {
    return TSC_TICKS_WITHOUT_PSTATE;
  }
  UINT32 Multiplier = (UINT32)(Definition & PSTATE_MULTIPLIER_MASK);
  UINT32 Divisor = (UINT32)((Definition >> PSTATE_DIVISOR_SHIFT) & PSTATE_DIVISOR_MASK);
  UINT32 Megahertz;
  if (Divisor == 0) {
    Megahertz = 0;
  } else if (Divisor < PSTATE_DIVISOR_LOWEST || Divisor > PSTATE_DIVISOR_HIGHEST) {
    Megahertz = Multiplier * PSTATE_STEP_MEGAHERTZ;
  } else {
    Megahertz = (Multiplier * PSTATE_DIVIDED_MEGAHERTZ) / Divisor;
  }
  // A frequency of 0 is returned but not kept.
  gTscTicksPerSecond = (UINT64)Megahertz * TICKS_PER_MEGAHERTZ;
  return gTscTicksPerSecond;
}

UINT64 ReadTimeStamp(VOID) { return ReadTsc(); }

VOID PauseCpu(VOID) { CpuPause(); }

VOID FatalStop(UINT32 Code) {
  IoWrite16(STOP_SIGNATURE_PORT, STOP_SIGNATURE);
  IoWrite32(POST_CODE_PORT, Code);
  if (QueryStopOverride(Code) != 0) {
    return;
  }

  // Six rotations by 8 and one by 16 bring the word back to where it
  // started, so the display repeats the same six values without end
  // (STOP_DISPLAY_VALUES_PER_CYCLE).
  UINT64 Word = StopCodeWord(Code);
  for (;;) {
    for (UINTN Shown = 0; Shown < STOP_DISPLAY_VALUES_PER_CYCLE; Shown++) {
      Word = RotateLeft64(Word, 8);
      IoWrite32(POST_CODE_PORT, (UINT32)Word);
      HoldStopDisplayValue();
    }
    Word = RotateLeft64(Word, 16);
  }
}
