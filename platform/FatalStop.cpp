#include "firmware/Hardware.h"
#include "platform/PlatformServices.h"

UINT64 gTscTicksPerSecond = 0;

namespace {

constexpr UINT64 kMicrosecondsPerSecond = 1000000;
constexpr UINT64 kTicksPerMegahertz = 1000000;
constexpr UINTN kDisplayValuesPerCycle = 6;

UINT64 RotateLeft64(UINT64 Value, unsigned Count) { return (Value << Count) | (Value >> (64 - Count)); }

// Busy-waits until the time-stamp counter has passed the start stamp by
// the hold of one display value, measured with the current frequency.
VOID HoldStopDisplayValue(VOID) {
  UINT64 Frequency = TscTicksPerSecond();
  UINT64 HoldTicks = Frequency * STOP_DISPLAY_HOLD_MICROSECONDS;
  UINT64 Start = ReadTimeStamp();
  UINT64 Target = Start + HoldTicks / kMicrosecondsPerSecond;
  while (ReadTimeStamp() <= Target) {
    PauseCpu();
  }
}

}  // namespace

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
  BOOLEAN Found = false;
  for (UINT32 Index = 0; Index < PSTATE_DEFINITION_MSR_COUNT; Index++) {
    Definition = ReadMsr(PSTATE_DEFINITION_MSR_FIRST + Index);
    if ((Definition & PSTATE_ENABLED_BIT) != 0) {
      Found = true;
      break;
    }
  }
  if (!Found) {
    return TSC_TICKS_WITHOUT_PSTATE;
  }
  UINT32 Multiplier = (UINT32)(Definition & 0xFF);
  UINT32 Divisor = (UINT32)((Definition >> 8) & 0x3F);
  UINT32 Megahertz;
  if (Divisor == 0) {
    Megahertz = 0;
  } else if (Divisor < 8 || Divisor > 60) {
    Megahertz = Multiplier * 25;
  } else {
    Megahertz = (Multiplier * 200) / Divisor;
  }
  // A frequency of 0 is returned but not kept.
  gTscTicksPerSecond = (UINT64)Megahertz * kTicksPerMegahertz;
  return gTscTicksPerSecond;
}

UINT64 ReadTimeStamp(VOID) { return ReadTsc(); }

VOID PauseCpu(VOID) { CpuPause(); }

VOID FatalStop(UINT32 Code) {
  IoWrite16(STOP_SIGNATURE_PORT, STOP_SIGNATURE);
  IoWrite32(STOP_DISPLAY_PORT, Code);
  if (QueryStopOverride(Code) != 0) {
    return;
  }

  // Six rotations by 8 and one by 16 bring the word back to where it
  // started, so the display repeats the same six values without end.
  UINT64 Word = StopCodeWord(Code);
  for (;;) {
    for (UINTN Shown = 0; Shown < kDisplayValuesPerCycle; Shown++) {
      Word = RotateLeft64(Word, 8);
      IoWrite32(STOP_DISPLAY_PORT, (UINT32)Word);
      HoldStopDisplayValue();
    }
    Word = RotateLeft64(Word, 16);
  }
}
