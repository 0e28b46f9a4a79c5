// Reading UEFI load options as efivarfs stores them.
#include "host/devtext/LoadOption.h"

#include <initializer_list>

#include "host/sim/Text.h"

namespace devtext {

namespace {

// The efivarfs attributes, then Attributes and FilePathListLength.
constexpr size_t kVariableAttributesSize = 4;
constexpr size_t kDescriptionOffset = kVariableAttributesSize + 4 + 2;

uint32_t Le32(const uint8_t *bytes) {
  return static_cast<uint32_t>(bytes[0]) | (static_cast<uint32_t>(bytes[1]) << 8) |
         (static_cast<uint32_t>(bytes[2]) << 16) | (static_cast<uint32_t>(bytes[3]) << 24);
}

struct Bit {
  uint32_t mask;
  const char *name;
};

// The named bits that are set, then whatever else is set as one number.
std::vector<std::string> Names(uint32_t value, std::initializer_list<Bit> bits) {
  std::vector<std::string> names;
  for (const Bit &bit : bits) {
    if ((value & bit.mask) != 0) {
      names.push_back(bit.name);
      value &= ~bit.mask;
    }
  }
  if (value != 0) {
    names.push_back(sim::Hex(value, 8));
  }
  return names;
}

}  // namespace

std::vector<std::string> LoadOptionAttributeNames(uint32_t attributes) {
  std::vector<std::string> names =
      Names(attributes & ~LOAD_OPTION_CATEGORY, {{LOAD_OPTION_ACTIVE, "ACTIVE"},
                                                 {LOAD_OPTION_FORCE_RECONNECT, "FORCE_RECONNECT"},
                                                 {LOAD_OPTION_HIDDEN, "HIDDEN"}});
  const uint32_t category = attributes & LOAD_OPTION_CATEGORY;
  const std::string categoryName = category == LOAD_OPTION_CATEGORY_BOOT ? "CATEGORY_BOOT"
                                   : category == LOAD_OPTION_CATEGORY_APP ? "CATEGORY_APP"
                                                                          : "CATEGORY " + sim::Hex(category, 4);
  // The category before the unnamed bits, which come last.
  const bool unnamed = !names.empty() && names.back().rfind("0x", 0) == 0;
  names.insert(unnamed ? names.end() - 1 : names.end(), categoryName);
  return names;
}

std::vector<std::string> VariableAttributeNames(uint32_t attributes) {
  return Names(attributes, {{0x01, "NON_VOLATILE"},
                            {0x02, "BOOTSERVICE_ACCESS"},
                            {0x04, "RUNTIME_ACCESS"},
                            {0x08, "HARDWARE_ERROR_RECORD"},
                            {0x10, "AUTHENTICATED_WRITE_ACCESS"},
                            {0x20, "TIME_BASED_AUTHENTICATED_WRITE_ACCESS"},
                            {0x40, "APPEND_WRITE"},
                            {0x80, "ENHANCED_AUTHENTICATED_ACCESS"}});
}

std::string Utf8(const std::u16string &text) {
  std::string out;
  for (char16_t unit : text) {
    uint32_t code = unit >= 0xD800 && unit <= 0xDFFF ? 0xFFFD : unit;
    if (code < 0x80) {
      out += static_cast<char>(code);
    } else if (code < 0x800) {
      out += static_cast<char>(0xC0 | (code >> 6));
      out += static_cast<char>(0x80 | (code & 0x3F));
    } else {
      out += static_cast<char>(0xE0 | (code >> 12));
      out += static_cast<char>(0x80 | ((code >> 6) & 0x3F));
      out += static_cast<char>(0x80 | (code & 0x3F));
    }
  }
  return out;
}

LoadOption ReadLoadOption(const Bytes &variable, const Formatter &formatter) {
  const size_t size = variable.size();
  if (size < kDescriptionOffset) {
    throw LoadOptionError(sim::Counted(size, "byte", "bytes") +
                          ": a load option in efivarfs starts with 4 bytes of variable attributes, then 4 of "
                          "Attributes and 2 of FilePathListLength (10 bytes)");
  }
  LoadOption option;
  option.variableAttributes = Le32(variable.data());
  option.attributes = Le32(variable.data() + kVariableAttributesSize);
  option.filePathListLength = static_cast<uint16_t>(variable[8] | (variable[9] << 8));

  size_t at = kDescriptionOffset;
  for (;; at += 2) {
    if (at + 2 > size) {
      throw LoadOptionError("the description from offset " + std::to_string(kDescriptionOffset) +
                            " has no terminating NUL character before the end (offset " + std::to_string(size) + ")");
    }
    const char16_t unit = static_cast<char16_t>(variable[at] | (variable[at + 1] << 8));
    if (unit == 0) {
      break;
    }
    option.description += unit;
  }
  option.filePathListOffset = at + 2;

  const size_t listEnd = option.filePathListOffset + option.filePathListLength;
  if (option.filePathListLength == 0) {
    throw LoadOptionError("FilePathListLength is 0: a load option holds at least one device path (offset " +
                          std::to_string(option.filePathListOffset) + ")");
  }
  if (listEnd > size) {
    throw LoadOptionError("FilePathListLength " + std::to_string(option.filePathListLength) +
                          " runs past the end: the file path list at offset " +
                          std::to_string(option.filePathListOffset) + " would end at offset " +
                          std::to_string(listEnd) + ", the option at " + std::to_string(size));
  }
  for (size_t offset = option.filePathListOffset; offset < listEnd;) {
    const PathText text = formatter.Path(variable.data() + offset, listEnd - offset);
    if (!text.Valid()) {
      throw LoadOptionError("device path " + std::to_string(option.paths.size() + 1) + " at offset " +
                            std::to_string(offset) + " of the option (FilePathListLength " +
                            std::to_string(option.filePathListLength) + "): " + text.error);
    }
    option.paths.push_back({offset, Bytes(variable.begin() + offset, variable.begin() + offset + text.size), text});
    offset += text.size;
  }
  option.optionalDataOffset = listEnd;
  option.optionalData.assign(variable.begin() + listEnd, variable.end());
  return option;
}

}  // namespace devtext
