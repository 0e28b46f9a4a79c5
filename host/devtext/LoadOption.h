// UEFI load options (Boot####, Driver####, SysPrep####...) as Linux shows
// them in efivarfs: the variable's 4-byte attributes, then the
// EFI_LOAD_OPTION: UINT32 Attributes, UINT16 FilePathListLength, the
// description (UCS-2, NUL-terminated), FilePathListLength bytes of device
// paths one after the other, and the optional data to the end.
#pragma once

#include <cstddef>
#include <cstdint>
#include <stdexcept>
#include <string>
#include <vector>

#include "host/devtext/DeviceText.h"

namespace devtext {

// Load option attributes.
inline constexpr uint32_t LOAD_OPTION_ACTIVE = 0x00000001;
inline constexpr uint32_t LOAD_OPTION_FORCE_RECONNECT = 0x00000002;
inline constexpr uint32_t LOAD_OPTION_HIDDEN = 0x00000008;
inline constexpr uint32_t LOAD_OPTION_CATEGORY = 0x00001F00;
inline constexpr uint32_t LOAD_OPTION_CATEGORY_BOOT = 0x00000000;
inline constexpr uint32_t LOAD_OPTION_CATEGORY_APP = 0x00000100;

// A load option that cannot be read, with where and why: one sentence
// naming each place as a byte of the variable ("at byte 48 of the
// variable": counted from the start of the efivarfs file, its attributes
// included).
class LoadOptionError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

struct LoadOption {
  uint32_t variableAttributes = 0;  // efivarfs' first four bytes
  uint32_t attributes = 0;
  std::u16string description;       // without its NUL
  uint16_t filePathListLength = 0;
  size_t filePathListOffset = 0;    // in the variable's bytes
  struct DevicePath {
    size_t offset = 0;              // in the variable's bytes
    Bytes bytes;
    PathText text;
  };
  std::vector<DevicePath> paths;    // at least one
  size_t optionalDataOffset = 0;
  Bytes optionalData;
};

// Reads a load option as efivarfs stores it; the paths are checked with the
// driver's bounded walk and formatted by formatter. Throws LoadOptionError.
LoadOption ReadLoadOption(const Bytes &variable, const Formatter &formatter);

// The names of the set attribute bits ("ACTIVE", "FORCE_RECONNECT",
// "HIDDEN"), then the category ("CATEGORY_BOOT", "CATEGORY_APP", or
// "CATEGORY 0x...."), then any other bits as one hex number.
std::vector<std::string> LoadOptionAttributeNames(uint32_t attributes);

// The names of the set variable attribute bits (NON_VOLATILE,
// BOOTSERVICE_ACCESS, RUNTIME_ACCESS, ...), then any other bits as one hex
// number.
std::vector<std::string> VariableAttributeNames(uint32_t attributes);

// UCS-2 to UTF-8, each unit on its own: a surrogate unit (half of a pair,
// which UCS-2 does not give a meaning) in the three bytes of its number
// (D800 as ED A0 80), which valid UTF-8 never holds. So no unit is lost
// or changed, and escaped text output (\xED\xA0\x80) shows it exactly.
std::string Utf8(const std::u16string &text);

// UCS-2 as a JSON string, quotes included, exact unit for unit: '"', '\\'
// and the control characters escaped as nlohmann::json escapes them (\n,
// \u001b), every surrogate unit as a \u escape of its own (\ud800), which
// JSON's grammar allows and no UTF-8 can hold, and the rest as UTF-8.
std::string JsonString(const std::u16string &text);

}  // namespace devtext
