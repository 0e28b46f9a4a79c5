// Target implementation of the hardware interface: one instruction each.
#include "firmware/Hardware.h"

VOID IoWrite8(UINT16 Port, UINT8 Value) { __asm__ __volatile__("outb %b0, %w1" : : "a"(Value), "Nd"(Port)); }

VOID IoWrite16(UINT16 Port, UINT16 Value) { __asm__ __volatile__("outw %w0, %w1" : : "a"(Value), "Nd"(Port)); }

VOID IoWrite32(UINT16 Port, UINT32 Value) { __asm__ __volatile__("outl %0, %w1" : : "a"(Value), "Nd"(Port)); }

UINT8 MmioRead8(UINTN Address) { return *(volatile UINT8 *)Address; }

UINT16 MmioRead16(UINTN Address) { return *(volatile UINT16 *)Address; }

UINT32 MmioRead32(UINTN Address) { return *(volatile UINT32 *)Address; }

VOID MmioWrite8(UINTN Address, UINT8 Value) { *(volatile UINT8 *)Address = Value; }

VOID MmioWrite32(UINTN Address, UINT32 Value) { *(volatile UINT32 *)Address = Value; }

UINT64 ReadMsr(UINT32 Index) {
  UINT32 Low;
  UINT32 High;
  __asm__ __volatile__("rdmsr" : "=a"(Low), "=d"(High) : "c"(Index));
  return ((UINT64)High << 32) | Low;
}

UINT64 ReadTsc(VOID) {
  UINT32 Low;
  UINT32 High;
  __asm__ __volatile__("rdtsc" : "=a"(Low), "=d"(High));
  return ((UINT64)High << 32) | Low;
}

VOID CpuPause(VOID) { __asm__ __volatile__("pause" ::: "memory"); }

UINT16 CpuidWithSi(UINT32 Eax, UINT32 Ebx, UINT32 Ecx, UINT16 Si) {
  // RSI carries the channel in and out. RBX is saved by hand because it may
  // serve as the base pointer; RDX and the flags are declared clobbered, so
  // the compiler restores whatever it needs of them.
  UINT64 Rsi = Si;
  UINT32 OutEax = Eax;
  UINT32 OutEcx = Ecx;
  UINT64 RbxValue = Ebx;
  __asm__ __volatile__(
      "xchgq %%rbx, %q[Ebx]\n\t"
      "cpuid\n\t"
      "xchgq %%rbx, %q[Ebx]\n\t"
      : "+a"(OutEax), "+c"(OutEcx), "+S"(Rsi), [Ebx] "+r"(RbxValue)
      :
      : "rdx", "cc", "memory");
  return (UINT16)Rsi;
}
