#include "driver/firmware/Hardware.h"
#include "driver/platform/ConfigSnapshot.h"
#include "driver/platform/DebugBackends.h"
#include "driver/platform/FatalStop.h"

static BOOLEAN NotPolled(VOID) { return FALSE; }

static VOID NothingToInitialize(VOID) {}

static BOOLEAN Port80StreamDetect(VOID) { return Port80StreamSelected(); }

// One frame: start marker, the bytes one by one, end marker.
static VOID Port80StreamWrite(const UINT8 *Bytes, UINTN Count) {
  IoWrite32(POST_CODE_PORT, STREAM_START_MARKER);
  for (UINTN Index = 0; Index < Count; Index++) {
    IoWrite8(POST_CODE_PORT, Bytes[Index]);
  }
  IoWrite32(POST_CODE_PORT, STREAM_END_MARKER);
}

static BOOLEAN UartDetect(VOID) {
  if (Port80StreamSelected()) {
    return FALSE;
  }
  return MmioRead8(UART_MODEM_STATUS) != UART_MSR_ABSENT;
}

// Reads Register until all of Bits are set, at most UART_POLL_READS times;
// TRUE only when they were seen within the first UART_POLL_READS - 1 reads.
static BOOLEAN UartWaitFor(UINTN Register, UINT8 Bits) {
  for (UINTN Reads = 1; Reads <= UART_POLL_READS; Reads++) {
    if ((MmioRead8(Register) & Bits) == Bits) {
      return Reads < UART_POLL_READS;
    }
  }
  return FALSE;
}

// A byte that the UART is not ready for in time is dropped, not retried.
static VOID UartWrite(const UINT8 *Bytes, UINTN Count) {
  for (UINTN Index = 0; Index < Count; Index++) {
    if (!UartWaitFor(UART_LINE_STATUS, UART_LSR_TRANSMIT_EMPTY)) {
      continue;
    }
    if (!UartWaitFor(UART_MODEM_STATUS, UART_MSR_CLEAR_TO_SEND)) {
      continue;
    }
    MmioWrite8(UART_TRANSMIT, Bytes[Index]);
  }
}

const DEBUG_OUTPUT_BACKEND gPort80StreamBackend = {Port80StreamDetect, NothingToInitialize, NotPolled,
                                                   Port80StreamWrite};
const DEBUG_OUTPUT_BACKEND gUartBackend = {UartDetect, NothingToInitialize, NotPolled, UartWrite};
const DEBUG_OUTPUT_BACKEND *const gDebugBackendTable[3] = {&gPort80StreamBackend, &gUartBackend, nullptr};

VOID StoreByWidth(UINT32 WidthCode, UINTN Destination, const VOID *Source) {
  switch (WidthCode) {
    case STORE_WIDTH_8:
    case STORE_WIDTH_8 | STORE_WIDTH_ALTERNATE: {
      UINT8 Value;
      __builtin_memcpy(&Value, Source, sizeof(Value));
      MmioWrite8(Destination, Value);
      return;
    }
    case STORE_WIDTH_16:
    case STORE_WIDTH_16 | STORE_WIDTH_ALTERNATE: {
      UINT16 Value;
      __builtin_memcpy(&Value, Source, sizeof(Value));
      MmioWrite16(Destination, Value);
      return;
    }
    case STORE_WIDTH_32:
    case STORE_WIDTH_32 | STORE_WIDTH_ALTERNATE: {
      UINT32 Value;
      __builtin_memcpy(&Value, Source, sizeof(Value));
      MmioWrite32(Destination, Value);
      return;
    }
    default:
      // Nothing is stored.
      if (gPlatformConfigSnapshot.FatalStopEnabled != 0) {
        FatalStop(STOP_CODE_STORE_WIDTH);
      }
      return;
  }
}

UINT32 ReadIndexedRegister(UINT32 Register) {
  UINT32 SavedIndex = MmioRead32(PLATFORM_INDEX_REGISTER);
  MmioWrite32(PLATFORM_INDEX_REGISTER, Register & PLATFORM_REGISTER_ALIGN_MASK);
  UINT32 Value = MmioRead32(PLATFORM_DATA_REGISTER);
  StoreByWidth(STORE_WIDTH_32, PLATFORM_INDEX_REGISTER, &SavedIndex);
  return Value;
}

BOOLEAN Port80StreamSelected(VOID) {
  UINT32 SavedIndex = MmioRead32(PLATFORM_INDEX_REGISTER);
  MmioWrite32(PLATFORM_INDEX_REGISTER, STREAM_SELECT_REGISTER_A);
  UINT32 RegisterA = MmioRead32(PLATFORM_DATA_REGISTER);
  StoreByWidth(STORE_WIDTH_32, PLATFORM_INDEX_REGISTER, &SavedIndex);
  if ((RegisterA & STREAM_SELECT_MASK_A) != 0) {
    return TRUE;
  }
  return (ReadIndexedRegister(STREAM_SELECT_REGISTER_B) & STREAM_SELECT_BIT_B) != 0;
}

BOOLEAN AnyDebugBackendPresent(VOID) {
  // Every backend is asked, also after one has answered.
  BOOLEAN Present = FALSE;
  for (UINTN Index = 0; gDebugBackendTable[Index] != nullptr; Index++) {
    if (gDebugBackendTable[Index]->Detect()) {
      Present = TRUE;
    }
  }
  return Present;
}

VOID InitializeDebugBackends(VOID) {
  if (!AnyDebugBackendPresent()) {
    return;
  }
  for (UINTN Index = 0; gDebugBackendTable[Index] != nullptr; Index++) {
    if (gDebugBackendTable[Index]->Detect()) {
      gDebugBackendTable[Index]->Init();
    }
  }
}
