// The one narrow interface between the driver and the hardware.
//
// On the target these are single x86 instructions (HardwareX64.cpp); on the
// host they reach the simulated platform's hardware model. Nothing else in
// the driver touches a port, a physical address or a processor register.
#pragma once

#include "driver/firmware/Uefi.h"

VOID IoWrite8(UINT16 Port, UINT8 Value);
VOID IoWrite16(UINT16 Port, UINT16 Value);
VOID IoWrite32(UINT16 Port, UINT32 Value);

UINT8 MmioRead8(UINTN Address);
UINT16 MmioRead16(UINTN Address);
UINT32 MmioRead32(UINTN Address);
VOID MmioWrite8(UINTN Address, UINT8 Value);
VOID MmioWrite16(UINTN Address, UINT16 Value);
VOID MmioWrite32(UINTN Address, UINT32 Value);

UINT64 ReadMsr(UINT32 Index);
UINT64 ReadTsc(VOID);
VOID CpuPause(VOID);

// Executes CPUID with the given EAX, EBX and ECX and with SI set to Si
// beforehand; returns SI afterwards. Only an agent that intercepts CPUID
// changes SI; every other register the instruction writes is discarded.
UINT16 CpuidWithSi(UINT32 Eax, UINT32 Ebx, UINT32 Ecx, UINT16 Si);
