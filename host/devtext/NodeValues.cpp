// A node's values as text (NodeValues.h): the readers of a node's
// little-endian fields and the writers of values in the forms the driver's
// converter reads back, and the fields of a ParseFieldNode row.
#include "host/devtext/NodeValues.h"

#include <algorithm>
#include <cstdio>

#include "host/sim/Text.h"

namespace devtext::detail {

uint64_t BigEndian64(const uint8_t *bytes) {
  uint64_t value = 0;
  for (int i = 0; i < 8; i++) {
    value = (value << 8) | bytes[i];
  }
  return value;
}

// The little-endian number of width bytes (at most 8).
uint64_t LittleEndian(const uint8_t *bytes, size_t width) {
  uint64_t value = 0;
  for (size_t i = width; i-- > 0;) {
    value = (value << 8) | bytes[i];
  }
  return value;
}

uint16_t Le16(const uint8_t *bytes) { return static_cast<uint16_t>(LittleEndian(bytes, 2)); }
uint32_t Le32(const uint8_t *bytes) { return static_cast<uint32_t>(LittleEndian(bytes, 4)); }

std::u16string U(const std::string &ascii) { return std::u16string(ascii.begin(), ascii.end()); }
std::u16string U(const char *ascii) { return std::u16string(ascii, ascii + std::strlen(ascii)); }

// A number as ParseNumber reads it: "0x" and upper-case hex digits.
std::u16string Num(uint64_t value) { return U(sim::Hex(value)); }

std::u16string Dec(uint64_t value) { return U(std::to_string(value)); }

// Hex digit pairs, no separator: the data of vendor and generic nodes.
std::u16string HexData(const uint8_t *bytes, size_t count) { return U(sim::HexBytes(bytes, count, "")); }

// The registry form ParseGuidText reads: Data1, Data2 and Data3 as numbers
// (stored little-endian), then the eight bytes of Data4 in order.
std::u16string GuidText(const uint8_t *bytes) {
  char text[37];
  std::snprintf(text, sizeof(text), "%08X-%04X-%04X-%02X%02X-%02X%02X%02X%02X%02X%02X", Le32(bytes), Le16(bytes + 4),
                Le16(bytes + 6), bytes[8], bytes[9], bytes[10], bytes[11], bytes[12], bytes[13], bytes[14],
                bytes[15]);
  return U(text);
}

std::u16string Ipv4Text(const uint8_t *bytes) {
  return Dec(bytes[0]) + u"." + Dec(bytes[1]) + u"." + Dec(bytes[2]) + u"." + Dec(bytes[3]);
}

// Eight groups, the longest run of two or more zero groups (the first of
// equal runs) written "::", lower-case digits.
std::u16string Ipv6Text(const uint8_t *bytes) {
  uint16_t groups[8];
  for (int i = 0; i < 8; i++) {
    groups[i] = static_cast<uint16_t>((bytes[2 * i] << 8) | bytes[2 * i + 1]);
  }
  int bestStart = -1, bestLength = 1;
  for (int i = 0; i < 8;) {
    int j = i;
    while (j < 8 && groups[j] == 0) {
      j++;
    }
    if (j - i > bestLength) {
      bestStart = i;
      bestLength = j - i;
    }
    i = j == i ? i + 1 : j;
  }
  std::string text;
  for (int i = 0; i < 8; i++) {
    if (i == bestStart) {
      text += "::";
      i += bestLength - 1;
      continue;
    }
    if (!text.empty() && text.back() != ':') {
      text += ':';
    }
    char group[8];
    std::snprintf(group, sizeof(group), "%x", groups[i]);
    text += group;
  }
  return U(text);
}

// A compressed EISA ID as EisaIdFromText reads it: three letters of
// EISA_LETTER_BITS each, the first the highest (1 is "A"; the other values
// are the characters whose low bits they are, "@" for 0), then four hex
// digits of the product number.
std::u16string EisaIdText(uint32_t id) {
  std::u16string text;
  for (size_t letter = EISA_LETTER_COUNT; letter-- > 0;) {
    text += static_cast<char16_t>(u'@' + ((id >> (letter * EISA_LETTER_BITS)) & EISA_LETTER_MASK));
  }
  char product[8];
  std::snprintf(product, sizeof(product), "%04X", id >> EISA_PRODUCT_SHIFT);
  return text + U(product);
}

// Single-byte characters as text, each byte a character.
std::u16string ByteText(const uint8_t *bytes, size_t count) { return std::u16string(bytes, bytes + count); }

// The word at index of a word list (WordIndex's form), or null when the
// list holds fewer words.
const CHAR8 *WordAt(const CHAR8 *words, uint64_t index) {
  for (; *words != 0; words += std::strlen(words) + 1, index--) {
    if (index == 0) {
      return words;
    }
  }
  return nullptr;
}

// The word of a value in a word list, else the value as a number: what
// the converter reads back for a parameter that is a word or a number.
std::u16string WordOrNum(const CHAR8 *words, uint64_t value) {
  const CHAR8 *word = WordAt(words, value);
  return word != nullptr ? U(word) : Num(value);
}

// The parameters joined into Keyword(...).
std::u16string Call(const std::u16string &keyword, std::initializer_list<std::u16string> parameters) {
  std::u16string text = keyword + u"(";
  bool first = true;
  for (const std::u16string &parameter : parameters) {
    text += first ? u"" : u",";
    text += parameter;
    first = false;
  }
  return text + u")";
}

std::u16string FieldText(const NODE_FIELD &field, const uint8_t *node, bool decimal) {
  const uint8_t *at = node + field.Offset;
  switch (field.Reader) {
    case EisaIdField:
      return EisaIdText(static_cast<uint32_t>(LittleEndian(at, field.Width)));
    case BigEndianField:
      return Num(BigEndian64(at));
    case GuidField:
      return GuidText(at);
    case HexBytesField:
      return HexData(at, field.Width);
    case NarrowTextField: {
      // Up to the first zero byte, which pads the field.
      const void *zero = std::memchr(at, 0, field.Width);
      return ByteText(at, zero != nullptr ? static_cast<const uint8_t *>(zero) - at : field.Width);
    }
    default:  // NumberField, HexField, AllOnesIfEmptyField: all read "0x" hexadecimal
      return decimal ? Dec(LittleEndian(at, field.Width)) : Num(LittleEndian(at, field.Width));
  }
}

std::u16string WriteFieldRow(const RowForm &form, const uint8_t *node, uint16_t length) {
  return FieldsText(form, node, length, [](const NODE_FIELD &) { return false; });
}

// The field of form's layout that reader fills; null for none.
const NODE_FIELD *FieldOfReader(const RowForm &form, NODE_FIELD_READER reader) {
  for (const NODE_FIELD *field = form.fields; field != nullptr && field->Width != 0; field++) {
    if (field->Reader == reader) {
      return field;
    }
  }
  return nullptr;
}

}  // namespace devtext::detail
