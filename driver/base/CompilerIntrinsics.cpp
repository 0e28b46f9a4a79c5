// What the compiler may call behind the driver's back on the target, where
// no C library exists: block copies and fills of structures, and the
// comparisons it lowers. Built into the target image only; the host build
// has the C library's.
#include "driver/base/Memory.h"

extern "C" {

void *memset(void *Buffer, int Value, size_t Length) {
  SetMem(Buffer, Length, (UINT8)Value);
  return Buffer;
}

void *memcpy(void *Destination, const void *Source, size_t Length) {
  CopyMem(Destination, Source, Length);
  return Destination;
}

void *memmove(void *Destination, const void *Source, size_t Length) {
  CopyMem(Destination, Source, Length);
  return Destination;
}

int memcmp(const void *Buffer1, const void *Buffer2, size_t Length) {
  INTN Difference = CompareMem(Buffer1, Buffer2, Length);
  return Difference < 0 ? -1 : (Difference > 0 ? 1 : 0);
}

}  // extern "C"
