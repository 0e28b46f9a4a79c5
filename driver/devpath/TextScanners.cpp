// Readers of numbers, byte strings, GUIDs and IP addresses in UCS-2 texts.
//
// None allocates, and none writes its output when it fails. Every loop
// stops at the first character that does not belong to what it reads, so
// the terminator ends every text and nothing past it is read.
#include "driver/devpath/DevicePathParsers.h"

static constexpr UINT64 MAX_UINT64 = 0xFFFFFFFFFFFFFFFFULL;
// The digits of the number bases the scanners read, and the value of the
// first letter digit.
static constexpr UINTN DECIMAL_BASE = 10;
static constexpr UINTN HEX_BASE = 16;
static constexpr UINTN HEX_LETTER_VALUE = 10;

BOOLEAN IsDecimalDigit(CHAR16 Char) { return Char >= u'0' && Char <= u'9'; }

BOOLEAN IsHexDigit(CHAR16 Char) {
  return IsDecimalDigit(Char) || (Char >= u'A' && Char <= u'F') || (Char >= u'a' && Char <= u'f');
}

UINTN HexDigitValue(CHAR16 Char) {
  if (IsDecimalDigit(Char)) {
    return (UINTN)Char - u'0';
  }
  if (Char >= u'a' && Char <= u'z') {
    Char = (CHAR16)(Char - (u'a' - u'A'));
  }
  return (UINTN)Char - u'A' + HEX_LETTER_VALUE;
}

UINTN BoundedStrLen(const CHAR16 *Text, UINTN Maximum) {
  if (Text == nullptr) {
    return 0;
  }
  UINTN Length = 0;
  while (Length < Maximum && Text[Length] != 0) {
    Length++;
  }
  return Length;
}

static BOOLEAN IsWhiteSpace(CHAR16 Char) { return Char == u' ' || Char == u'\t'; }

// The common start of both scanners: refuses a null argument or an
// overlong text, then passes over white space and zeros.
static const CHAR16 *StartScan(const CHAR16 *Text, const CHAR16 **EndPointer, const UINT64 *Value) {
  if (Text == nullptr || Value == nullptr || BoundedStrLen(Text, MAX_SCAN_LENGTH + 1) > MAX_SCAN_LENGTH) {
    return nullptr;
  }
  if (EndPointer != nullptr) {
    *EndPointer = Text;
  }
  while (IsWhiteSpace(*Text)) {
    Text++;
  }
  while (*Text == u'0') {
    Text++;
  }
  return Text;
}

// Reads digits of Base (DECIMAL_BASE or HEX_BASE) from Text into *Value.
static EFI_STATUS ScanDigits(const CHAR16 *Text, UINTN Base, const CHAR16 **EndPointer, UINT64 *Value) {
  UINT64 Result = 0;
  for (; Base == HEX_BASE ? IsHexDigit(*Text) : IsDecimalDigit(*Text); Text++) {
    UINTN Digit = HexDigitValue(*Text);
    if (Result > (Base == HEX_BASE ? (MAX_UINT64 - Digit) >> 4 : (MAX_UINT64 - Digit) / DECIMAL_BASE)) {
      *Value = MAX_UINT64;
      if (EndPointer != nullptr) {
        *EndPointer = Text;
      }
      return EFI_UNSUPPORTED;
    }
    Result = Result * Base + Digit;
  }
  *Value = Result;
  if (EndPointer != nullptr) {
    *EndPointer = Text;
  }
  return EFI_SUCCESS;
}

EFI_STATUS ScanDecimal(const CHAR16 *Text, const CHAR16 **EndPointer, UINT64 *Value) {
  const CHAR16 *Digits = StartScan(Text, EndPointer, Value);
  if (Digits == nullptr) {
    return EFI_INVALID_PARAMETER;
  }
  return ScanDigits(Digits, DECIMAL_BASE, EndPointer, Value);
}

EFI_STATUS ScanHex(const CHAR16 *Text, const CHAR16 **EndPointer, UINT64 *Value) {
  const CHAR16 *Digits = StartScan(Text, EndPointer, Value);
  if (Digits == nullptr) {
    return EFI_INVALID_PARAMETER;
  }
  if (*Digits == u'x' || *Digits == u'X') {
    if (Digits == Text || Digits[-1] != u'0') {
      // An "x" that no "0" introduces: no number, and nothing consumed.
      *Value = 0;
      return EFI_SUCCESS;
    }
    Digits++;
  }
  return ScanDigits(Digits, HEX_BASE, EndPointer, Value);
}

UINT64 ParseHexValue(const CHAR16 *Text) {
  UINT64 Value = 0;
  ScanHex(Text, nullptr, &Value);
  return Value;
}

VOID ParseNumber64(const CHAR16 *Text, UINT64 *Value) {
  if (Value == nullptr) {
    return;
  }
  UINT64 Number = 0;
  if (Text != nullptr) {
    // Only spaces lead to a prefix: after a tab the number reads as decimal.
    const CHAR16 *Ahead = Text;
    while (*Ahead == u' ') {
      Ahead++;
    }
    while (*Ahead == u'0') {
      Ahead++;
    }
    if (*Ahead == u'x' || *Ahead == u'X') {
      Number = ParseHexValue(Text);
    } else {
      ScanDecimal(Text, nullptr, &Number);
    }
  }
  *Value = Number;
}

EFI_STATUS HexTextToBytes(const CHAR16 *Text, UINTN Count, UINT8 *Buffer, UINTN BufferSize) {
  if (Text == nullptr || Buffer == nullptr || Count > MAX_SCAN_LENGTH || Count % 2 != 0) {
    return EFI_INVALID_PARAMETER;
  }
  if (BufferSize < Count / 2) {
    return EFI_BUFFER_TOO_SMALL;
  }
  for (UINTN Index = 0; Index < Count; Index++) {
    if (!IsHexDigit(Text[Index])) {
      return EFI_UNSUPPORTED;
    }
  }
  for (UINTN Index = 0; Index < Count / 2; Index++) {
    Buffer[Index] = (UINT8)((HexDigitValue(Text[2 * Index]) << 4) | HexDigitValue(Text[2 * Index + 1]));
  }
  return EFI_SUCCESS;
}

EFI_STATUS ParseGuidText(const CHAR16 *Text, EFI_GUID *Guid) {
  // The five groups of digits: first character and count. Each but the
  // last is followed by "-".
  static const UINT8 gGuidGroups[5][2] = {{0, 8}, {9, 4}, {14, 4}, {19, 4}, {24, 12}};
  if (Text == nullptr || Guid == nullptr) {
    return EFI_INVALID_PARAMETER;
  }
  UINT8 Bytes[16];
  UINTN Filled = 0;
  for (UINTN Group = 0; Group < 5; Group++) {
    const CHAR16 *Digits = Text + gGuidGroups[Group][0];
    UINTN Count = gGuidGroups[Group][1];
    if (HexTextToBytes(Digits, Count, Bytes + Filled, Count / 2) != EFI_SUCCESS) {
      return EFI_UNSUPPORTED;
    }
    Filled += Count / 2;
    if (Group < 4 && Digits[Count] != u'-') {
      return EFI_UNSUPPORTED;
    }
  }
  // Data1, Data2 and Data3 are written most significant digit first and
  // stored little-endian; Data4 is stored in text order.
  static const UINT8 gGuidByteOrder[16] = {3, 2, 1, 0, 5, 4, 7, 6, 8, 9, 10, 11, 12, 13, 14, 15};
  UINT8 *Out = (UINT8 *)Guid;
  for (UINTN Index = 0; Index < 16; Index++) {
    Out[Index] = Bytes[gGuidByteOrder[Index]];
  }
  return EFI_SUCCESS;
}

VOID WriteGuidText(UINT8 *Destination, const CHAR16 *Text) {
  EFI_GUID Guid;
  if (ParseGuidText(Text, &Guid) == EFI_SUCCESS) {
    CopyMem(Destination, &Guid, sizeof(Guid));
  }
}

EFI_STATUS ParseIpv4Text(const CHAR16 *Text, EFI_IPv4_ADDRESS *Address) {
  if (Text == nullptr || Address == nullptr) {
    return EFI_INVALID_PARAMETER;
  }
  UINT8 Bytes[4];
  UINT64 Value;
  for (UINTN Component = 0; Component < 4; Component++) {
    if (!IsDecimalDigit(*Text) || ScanDecimal(Text, &Text, &Value) != EFI_SUCCESS || Value > 255) {
      return EFI_UNSUPPORTED;
    }
    Bytes[Component] = (UINT8)Value;
    if (Component < 3) {
      if (*Text != u'.') {
        return EFI_UNSUPPORTED;
      }
      Text++;
    }
  }
  while (*Text == u'/') {
    Text++;
  }
  if (IsDecimalDigit(*Text) && (ScanDecimal(Text, &Text, &Value) != EFI_SUCCESS || Value > 32)) {
    return EFI_UNSUPPORTED;
  }
  CopyMem(Address->Addr, Bytes, sizeof(Bytes));
  return EFI_SUCCESS;
}

EFI_STATUS ParseIpv6Text(const CHAR16 *Text, EFI_IPv6_ADDRESS *Address) {
  if (Text == nullptr || Address == nullptr) {
    return EFI_INVALID_PARAMETER;
  }
  UINT8 Bytes[16];
  UINTN Count = 0;          // bytes read
  UINTN DoubleColonAt = 0;  // byte count where "::" stood
  BOOLEAN DoubleColon = FALSE;
  BOOLEAN Prefix = FALSE;
  UINT64 Value;
  const CHAR16 *End;

  for (;;) {
    // At the start, or after a separator.
    if (*Text == u':') {
      if (Prefix || DoubleColon || Count == 16) {
        return EFI_UNSUPPORTED;
      }
      Text++;
      DoubleColon = TRUE;
      DoubleColonAt = Count;
      if (Count == 0) {
        // Elsewhere the first ":" of the pair was the separator after a group.
        if (*Text != u':') {
          return EFI_UNSUPPORTED;
        }
        Text++;
      }
      if (*Text == u'/') {
        Prefix = TRUE;
        Text++;
        continue;
      }
      if (!IsHexDigit(*Text)) {
        break;
      }
    } else if (!IsHexDigit(*Text)) {
      return EFI_UNSUPPORTED;
    }

    if (Prefix) {
      if (ScanDecimal(Text, &End, &Value) != EFI_SUCCESS || End == Text || Value > 128) {
        return EFI_UNSUPPORTED;
      }
      break;
    }

    // A group of at most four characters.
    if (Count == 16 || ScanHex(Text, &End, &Value) != EFI_SUCCESS || End - Text > 4) {
      return EFI_UNSUPPORTED;
    }
    Bytes[Count] = (UINT8)(Value >> 8);
    Bytes[Count + 1] = (UINT8)Value;
    Count += 2;
    Text = End;
    if (*Text == u'/') {
      Prefix = TRUE;
      Text++;
    } else if (*Text == u':' && Count < 16) {
      Text++;
    } else {
      break;
    }
  }

  if (DoubleColon == (Count == 16)) {
    return EFI_UNSUPPORTED;
  }
  UINT8 *Out = Address->Addr;
  UINTN Tail = Count - DoubleColonAt;
  if (!DoubleColon) {
    DoubleColonAt = Count;
    Tail = 0;
  }
  ZeroMem(Out, 16);
  CopyMem(Out, Bytes, DoubleColonAt);
  CopyMem(Out + 16 - Tail, Bytes + DoubleColonAt, Tail);
  return EFI_SUCCESS;
}

BOOLEAN TextIsWord(const CHAR16 *Text, const CHAR8 *Word) {
  while (*Word != 0 && *Text == (UINT8)*Word) {
    Text++;
    Word++;
  }
  return *Text == (UINT8)*Word;
}

UINTN WordIndex(const CHAR16 *Text, const CHAR8 *Words) {
  UINTN Index = 0;
  for (; *Words != 0 && !TextIsWord(Text, Words); Index++) {
    while (*Words++ != 0) {
    }
  }
  return Index;
}
