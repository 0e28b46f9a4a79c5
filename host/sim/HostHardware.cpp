// Host implementation of the driver's hardware interface: every access goes
// to the active simulated platform's hardware model.
#include "driver/firmware/Hardware.h"
#include "host/sim/HardwareModel.h"

VOID IoWrite8(UINT16 Port, UINT8 Value) { sim::ActiveHardware()->PortOut(Port, 8, Value); }
VOID IoWrite16(UINT16 Port, UINT16 Value) { sim::ActiveHardware()->PortOut(Port, 16, Value); }
VOID IoWrite32(UINT16 Port, UINT32 Value) { sim::ActiveHardware()->PortOut(Port, 32, Value); }

UINT8 MmioRead8(UINTN Address) { return static_cast<UINT8>(sim::ActiveHardware()->MmioRead(Address, 8)); }
UINT16 MmioRead16(UINTN Address) { return static_cast<UINT16>(sim::ActiveHardware()->MmioRead(Address, 16)); }
UINT32 MmioRead32(UINTN Address) { return static_cast<UINT32>(sim::ActiveHardware()->MmioRead(Address, 32)); }
VOID MmioWrite8(UINTN Address, UINT8 Value) { sim::ActiveHardware()->MmioWrite(Address, 8, Value); }
VOID MmioWrite16(UINTN Address, UINT16 Value) { sim::ActiveHardware()->MmioWrite(Address, 16, Value); }
VOID MmioWrite32(UINTN Address, UINT32 Value) { sim::ActiveHardware()->MmioWrite(Address, 32, Value); }

UINT64 ReadMsr(UINT32 Index) { return sim::ActiveHardware()->ReadMsr(Index); }
UINT64 ReadTsc(VOID) { return sim::ActiveHardware()->ReadTsc(); }
VOID CpuPause(VOID) { sim::ActiveHardware()->Pause(); }

UINT16 CpuidWithSi(UINT32 Eax, UINT32 Ebx, UINT32 Ecx, UINT16 Si) {
  return sim::ActiveHardware()->Cpuid(Eax, Ebx, Ecx, Si);
}
