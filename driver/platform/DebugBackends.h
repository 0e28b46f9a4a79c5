// The debug output backends: a framed byte stream on port 0x80, chosen by
// platform registers behind the index/data pair, and a memory-mapped UART.
// InitializeDebugBackends runs at start-up; every backend has Detect, Init,
// Poll and Write.
#pragma once

#include "driver/firmware/BoardHardware.h"
#include "driver/firmware/Uefi.h"

// The register numbers the index register takes are 4-byte aligned.
static constexpr UINT32 PLATFORM_REGISTER_ALIGN_MASK = ~(UINT32)3;

// The port-0x80 stream is selected when register A has any of bits 3..0
// set, or register B has bit 16 set.
static constexpr UINT32 STREAM_SELECT_MASK_A = 0x0000000FU;
static constexpr UINT32 STREAM_SELECT_BIT_B = 1U << 16;

// A stream frame on the POST code port: the start marker (32 bits), the
// bytes (8 bits each), the end marker (32 bits). The stop display shares
// the port.
static constexpr UINT32 STREAM_START_MARKER = 0x5F535452U;  // "_STR", most significant byte first
static constexpr UINT32 STREAM_END_MARKER = 0x5F454E44U;    // "_END", most significant byte first

// The UART's registers.
static constexpr UINTN UART_TRANSMIT = UART_BASE + UART_TRANSMIT_OFFSET;
static constexpr UINTN UART_LINE_STATUS = UART_BASE + UART_LINE_STATUS_OFFSET;
static constexpr UINTN UART_MODEM_STATUS = UART_BASE + UART_MODEM_STATUS_OFFSET;
// Line status: the holding register and the transmitter are empty.
static constexpr UINT8 UART_LSR_TRANSMIT_EMPTY = 0x60;
// Modem status: clear to send; all ones where no UART answers.
static constexpr UINT8 UART_MSR_CLEAR_TO_SEND = 0x10;
static constexpr UINT8 UART_MSR_ABSENT = 0xFF;
// Reads of a status register before a byte is given up.
static constexpr UINTN UART_POLL_READS = 2000;

// StoreByWidth's width codes; the alternate bit may be set or clear, the
// width is the same.
static constexpr UINT32 STORE_WIDTH_8 = 1;
static constexpr UINT32 STORE_WIDTH_16 = 2;
static constexpr UINT32 STORE_WIDTH_32 = 3;
static constexpr UINT32 STORE_WIDTH_ALTERNATE = 0x80;

typedef struct {
  BOOLEAN (*Detect)(VOID);
  VOID (*Init)(VOID);
  BOOLEAN (*Poll)(VOID);
  VOID (*Write)(const UINT8 *Bytes, UINTN Count);
} DEBUG_OUTPUT_BACKEND;

extern const DEBUG_OUTPUT_BACKEND gPort80StreamBackend;
extern const DEBUG_OUTPUT_BACKEND gUartBackend;
// Port80StreamBackend, UartBackend, then null.
extern const DEBUG_OUTPUT_BACKEND *const gDebugBackendTable[3];

// Start-up step: when any backend is present, initialises every present
// backend in table order.
VOID InitializeDebugBackends(VOID);

// Asks every backend of the table; TRUE when any is present.
BOOLEAN AnyDebugBackendPresent(VOID);

// TRUE when debug output is routed to the port-0x80 stream.
BOOLEAN Port80StreamSelected(VOID);

// Reads a platform register through the index/data pair; the index register
// is left as it was found.
UINT32 ReadIndexedRegister(UINT32 Register);

// Stores 8, 16 or 32 bits from the caller's memory at Source into the
// register at Destination, by width code (1/129, 2/130, 3/131); any other
// code stores nothing and, with the stop policy on, stops.
VOID StoreByWidth(UINT32 WidthCode, UINTN Destination, const VOID *Source);
