// Target implementation of the hardware interface: one instruction each.
#include "driver/firmware/Hardware.h"

VOID IoWrite8(UINT16 Port, UINT8 Value) { __asm__ __volatile__("outb %b0, %w1" : : "a"(Value), "Nd"(Port)); }

VOID IoWrite16(UINT16 Port, UINT16 Value) { __asm__ __volatile__("outw %w0, %w1" : : "a"(Value), "Nd"(Port)); }

VOID IoWrite32(UINT16 Port, UINT32 Value) { __asm__ __volatile__("outl %0, %w1" : : "a"(Value), "Nd"(Port)); }

UINT8 MmioRead8(UINTN Address) { return *(volatile UINT8 *)Address; }

UINT16 MmioRead16(UINTN Address) { return *(volatile UINT16 *)Address; }

UINT32 MmioRead32(UINTN Address) { return *(volatile UINT32 *)Address; }

VOID MmioWrite8(UINTN Address, UINT8 Value) { *(volatile UINT8 *)Address = Value; }

VOID MmioWrite16(UINTN Address, UINT16 Value) { *(volatile UINT16 *)Address = Value; }

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

// Microsoft x64 convention: Eax in ECX, Ebx in EDX, Ecx in R8D, Si in R9W;
// the answer in AX. RBX, RCX, RDX, RSI and the flags are saved before the
// query and restored after it, so the caller finds them as they were; what
// CPUID leaves in EAX, EBX, ECX and EDX is discarded.
__attribute__((naked)) UINT16 CpuidWithSi(UINT32 Eax, UINT32 Ebx, UINT32 Ecx, UINT16 Si) {
  __asm__ __volatile__(
      "pushfq\n\t"
      "pushq %rbx\n\t"
      "pushq %rcx\n\t"
      "pushq %rdx\n\t"
      "pushq %rsi\n\t"
      "movl %ecx, %eax\n\t"
      "movl %edx, %ebx\n\t"
      "movl %r8d, %ecx\n\t"
      "movzwl %r9w, %esi\n\t"
      "cpuid\n\t"
      "movzwl %si, %eax\n\t"
      "popq %rsi\n\t"
      "popq %rdx\n\t"
      "popq %rcx\n\t"
      "popq %rbx\n\t"
      "popfq\n\t"
      "retq\n\t");
}
