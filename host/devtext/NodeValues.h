// A node's values read and written as the driver's converter reads them
// back (internal to host/devtext; NodeValues.cpp): the little-endian
// fields of a node, and the texts of numbers, GUIDs, addresses, EISA IDs
// and the words of a word list; the fields of a ParseFieldNode row.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <initializer_list>
#include <string>

#include "host/devtext/DeviceText.h"

static_assert(__BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__, "node fields are read as the host's own numbers");

namespace devtext::detail {

// ---------------------------------------------------------------------------
// Reading a node.

// The node's fixed portion as its layout, when the node is long enough to
// hold it. The layouts are packed, and the host is little-endian like the
// nodes, so the copy's members read as the node's fields.
template <typename Layout>
bool Read(const uint8_t *node, uint16_t length, Layout &out) {
  if (length < sizeof(Layout)) {
    return false;
  }
  std::memcpy(&out, node, sizeof(Layout));
  return true;
}

// The first byte of a field of the node laid out as Layout (for GUIDs and
// byte arrays, which are read where they lie).
#define AT(node, Layout, Member) ((node) + offsetof(Layout, Member))


uint64_t BigEndian64(const uint8_t *bytes);

// The little-endian number of width bytes (at most 8).
uint64_t LittleEndian(const uint8_t *bytes, size_t width);

uint16_t Le16(const uint8_t *bytes);
uint32_t Le32(const uint8_t *bytes);

// ---------------------------------------------------------------------------
// Writing a text. Texts are built in UCS-2, as the converter reads them.

std::u16string U(const std::string &ascii);
std::u16string U(const char *ascii);

// A number as ParseNumber reads it: "0x" and upper-case hex digits.
std::u16string Num(uint64_t value);

std::u16string Dec(uint64_t value);

// Hex digit pairs, no separator: the data of vendor and generic nodes.
std::u16string HexData(const uint8_t *bytes, size_t count);

// The registry form ParseGuidText reads: Data1, Data2 and Data3 as numbers
// (stored little-endian), then the eight bytes of Data4 in order.
std::u16string GuidText(const uint8_t *bytes);

std::u16string Ipv4Text(const uint8_t *bytes);

// Eight groups, the longest run of two or more zero groups (the first of
// equal runs) written "::", lower-case digits.
std::u16string Ipv6Text(const uint8_t *bytes);

// A compressed EISA ID as EisaIdFromText reads it: three letters of
// EISA_LETTER_BITS each, the first the highest (1 is "A"; the other values
// are the characters whose low bits they are, "@" for 0), then four hex
// digits of the product number.
std::u16string EisaIdText(uint32_t id);

// Single-byte characters as text, each byte a character.
std::u16string ByteText(const uint8_t *bytes, size_t count);

// The word at index of a word list (WordIndex's form), or null when the
// list holds fewer words.
const CHAR8 *WordAt(const CHAR8 *words, uint64_t index);

// The word of a value in a word list, else the value as a number: what
// the converter reads back for a parameter that is a word or a number.
std::u16string WordOrNum(const CHAR8 *words, uint64_t value);

// The parameters joined into Keyword(...).
std::u16string Call(const std::u16string &keyword, std::initializer_list<std::u16string> parameters);

// ---------------------------------------------------------------------------
// The writer of ParseFieldNode rows: a field as its reader reads it back.

std::u16string FieldText(const NODE_FIELD &field, const uint8_t *node, bool decimal);

// Keyword(field,...) of the fields, but those that Skip names; empty for
// a node of another length than the fields' layout.
template <typename Skip>
std::u16string FieldsText(const RowForm &form, const uint8_t *node, uint16_t length, Skip skip) {
  if (length != form.fieldsLength) {
    return u"";
  }
  std::u16string text = form.keyword + u"(";
  bool first = true;
  for (const NODE_FIELD *field = form.fields; field->Width != 0; field++) {
    if (!skip(*field)) {
      text += first ? u"" : u",";
      text += FieldText(*field, node, form.decimal);
      first = false;
    }
  }
  return text + u")";
}

std::u16string WriteFieldRow(const RowForm &form, const uint8_t *node, uint16_t length);

// The field of form's layout that reader fills; null for none.
const NODE_FIELD *FieldOfReader(const RowForm &form, NODE_FIELD_READER reader);

// The writer of each parser's rows (RowWriters.cpp); null for the rows of
// the generic forms ("Path", "HardwarePath" ...), which say any node of
// their type and are written last (Formatter::GenericText).
RowWriter WriterOfParser(NODE_PARSER_ID parser);

}  // namespace devtext::detail
