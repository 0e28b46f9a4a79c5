// The board's hardware map: every address, port, register number, MSR and
// CPUID leaf that the driver reaches on this board family, declared once.
// The driver's services name their registers from here; the simulated
// hardware, the loader's address windows and the reports read the same
// names, never numbers of their own (tests/check_board_facts.py holds
// host/ and tools/ to that).
#pragma once

#include "driver/firmware/Uefi.h"

// PCI Express configuration space, memory-mapped: 1 MiB per bus over 256
// buses.
static constexpr UINTN PCI_EXPRESS_BASE = 0xE0000000ULL;
static constexpr UINTN PCI_EXPRESS_BUS_STRIDE = 0x100000;
static constexpr UINTN PCI_EXPRESS_WINDOW_SIZE = 0x10000000;

// The platform registers' index/data pair, at offsets 0xB8 and 0xBC of bus
// 0, device 0, function 0 in configuration space: a register number written
// to the index register makes the data register show that register.
static constexpr UINTN PLATFORM_INDEX_REGISTER = PCI_EXPRESS_BASE + 0xB8;
static constexpr UINTN PLATFORM_DATA_REGISTER = PCI_EXPRESS_BASE + 0xBC;
// The platform registers that select the port-0x80 stream.
static constexpr UINT32 STREAM_SELECT_REGISTER_A = 0x03810A84U;
static constexpr UINT32 STREAM_SELECT_REGISTER_B = 0x03810A88U;

// The memory-mapped UART: 8-bit registers 4 bytes apart in one page.
static constexpr UINTN UART_BASE = 0xFEDC9000ULL;
static constexpr UINTN UART_WINDOW_SIZE = 0x1000;
static constexpr UINTN UART_TRANSMIT_OFFSET = 0x00;
static constexpr UINTN UART_LINE_STATUS_OFFSET = 0x14;
static constexpr UINTN UART_MODEM_STATUS_OFFSET = 0x18;

// I/O ports: the POST code port carries the debug stream's frames and the
// stop display; the stop signature goes to a port of its own.
static constexpr UINT16 POST_CODE_PORT = 0x80;
static constexpr UINT16 STOP_SIGNATURE_PORT = 0xE0;

// The stop-override query: CPUID with the leaf in EAX, the subfunction in
// EBX and the stop code in ECX; an intercepting agent answers in SI.
static constexpr UINT32 STOP_OVERRIDE_LEAF = 0xBACCD00BU;
static constexpr UINT32 STOP_OVERRIDE_SUBFUNCTION = 2U;

// The P-state definition registers (MSRs), eight from the first.
static constexpr UINT32 PSTATE_DEFINITION_MSR_FIRST = 0xC0010064U;
static constexpr UINT32 PSTATE_DEFINITION_MSR_COUNT = 8;
