#include "driver/base/Memory.h"

VOID ZeroMem(VOID *Buffer, UINTN Length) { SetMem(Buffer, Length, 0); }

VOID SetMem(VOID *Buffer, UINTN Length, UINT8 Value) {
  UINT8 *Bytes = (UINT8 *)Buffer;
  // Whole 8-byte words first, then the bytes left over; volatile keeps the
  // compiler from turning the last loop back into a call to memset, which
  // on the target is built on this very routine.
  UINT64 Word = Value * 0x0101010101010101ULL;
  UINTN Index = 0;
  for (; Length - Index >= 8; Index += 8) {
    __builtin_memcpy(Bytes + Index, &Word, 8);
  }
  for (; Index < Length; Index++) {
    ((volatile UINT8 *)Bytes)[Index] = Value;
  }
}

VOID CopyMem(VOID *Destination, const VOID *Source, UINTN Length) {
  UINT8 *To = (UINT8 *)Destination;
  const UINT8 *From = (const UINT8 *)Source;
  if (Length == 0 || To == From) {
    return;
  }
  if (To < From || To >= From + Length) {
    // Upward: a destination below the source never overwrites bytes that a
    // later 8-byte word still has to read.
    UINTN Index = 0;
    for (; Length - Index >= 8; Index += 8) {
      UINT64 Word;
      __builtin_memcpy(&Word, From + Index, 8);
      __builtin_memcpy(To + Index, &Word, 8);
    }
    for (; Index < Length; Index++) {
      ((volatile UINT8 *)To)[Index] = From[Index];
    }
    return;
  }
  // The destination overlaps the end of the source: backward from the ends.
  for (UINTN Index = Length; Index > 0; Index--) {
    ((volatile UINT8 *)To)[Index - 1] = From[Index - 1];
  }
}

INTN CompareMem(const VOID *Buffer1, const VOID *Buffer2, UINTN Length) {
  const UINT8 *Left = (const UINT8 *)Buffer1;
  const UINT8 *Right = (const UINT8 *)Buffer2;
  for (UINTN Index = 0; Index < Length; Index++) {
    if (Left[Index] != Right[Index]) {
      return (INTN)Left[Index] - (INTN)Right[Index];
    }
  }
  return 0;
}

UINTN AsciiStrLen(const CHAR8 *String) {
  UINTN Length = 0;
  while (String[Length] != 0) {
    Length++;
  }
  return Length;
}
