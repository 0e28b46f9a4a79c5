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

void PutUtf8(std::string &out, char16_t unit) {
  const uint32_t code = unit;
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
    PutUtf8(out, unit);
  }
  return out;
}

std::string JsonString(const std::u16string &text) {
  static const char kDigits[] = "0123456789abcdef";
  auto escaped = [](char16_t unit) {
    return std::string("\\u") + kDigits[unit >> 12] + kDigits[(unit >> 8) & 0xF] + kDigits[(unit >> 4) & 0xF] +
           kDigits[unit & 0xF];
  };
  std::string out = "\"";
  for (char16_t unit : text) {
    switch (unit) {
      case u'"': out += "\\\""; break;
      case u'\\': out += "\\\\"; break;
      case u'\b': out += "\\b"; break;
      case u'\f': out += "\\f"; break;
      case u'\n': out += "\\n"; break;
      case u'\r': out += "\\r"; break;
      case u'\t': out += "\\t"; break;
      default:
        if (unit < 0x20 || (unit >= 0xD800 && unit <= 0xDFFF)) {
          out += escaped(unit);
        } else {
          PutUtf8(out, unit);
        }
    }
  }
  return out + "\"";
}

namespace {

// "byte N of the variable": every place a message names is counted from
// the start of the variable as efivarfs stores it.
std::string VariableByte(size_t offset) { return "byte " + std::to_string(offset) + " of the variable"; }

// Why the path at start, which may reach no further than end, is invalid,
// as the driver's bounded walk found it, every place named as a byte of
// the variable.
std::string PathProblem(const Bytes &variable, size_t start, size_t end) {
  DEVICE_PATH_WALK walk = {};
  GetDevicePathSizeWithin(reinterpret_cast<const EFI_DEVICE_PATH_PROTOCOL *>(variable.data() + start), end - start,
                          &walk);
  const size_t at = start + walk.Offset;
  auto length = [&] { return std::to_string(variable[at + 2] | (variable[at + 3] << 8)); };
  switch (walk.Fault) {
    case DevicePathValid:
    case DevicePathNull:
      break;
    case DevicePathNoEndNode:
      return "no end node: the file path list ends at " + VariableByte(end) + " inside or before a node header";
    case DevicePathEndNodeLength:
      return "the end node at " + VariableByte(at) + " has Length " + length() + ", not 4";
    case DevicePathNodeTooShort:
      return "the node at " + VariableByte(at) + " has Length " + length() + ", below 4";
    case DevicePathNodePastLimit:
      return "the node at " + VariableByte(at) + " has Length " + length() +
             ", which runs past the end of the file path list at " + VariableByte(end);
    case DevicePathFileNameUnterminated:
      return "the file-path node at " + VariableByte(at) + " does not end in a zero character";
  }
  return "";
}

}  // namespace

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
      throw LoadOptionError("the description from " + VariableByte(kDescriptionOffset) +
                            " has no terminating NUL character before the variable ends at byte " +
                            std::to_string(size));
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
    throw LoadOptionError("FilePathListLength is 0: a load option holds at least one device path (the file path "
                          "list would start at " +
                          VariableByte(option.filePathListOffset) + ")");
  }
  if (listEnd > size) {
    throw LoadOptionError("FilePathListLength " + std::to_string(option.filePathListLength) +
                          " runs past the end: the file path list from " + VariableByte(option.filePathListOffset) +
                          " would end at " + VariableByte(listEnd) + ", which ends at byte " + std::to_string(size));
  }
  for (size_t offset = option.filePathListOffset; offset < listEnd;) {
    const PathText text = formatter.Path(variable.data() + offset, listEnd - offset);
    if (!text.Valid()) {
      std::string problem = PathProblem(variable, offset, listEnd);
      if (problem.empty()) {
        problem = text.error + " (counted from the path's start)";
      }
      throw LoadOptionError("device path " + std::to_string(option.paths.size() + 1) + " at " + VariableByte(offset) +
                            " (FilePathListLength " + std::to_string(option.filePathListLength) + "): " + problem);
    }
    option.paths.push_back({offset, Bytes(variable.begin() + offset, variable.begin() + offset + text.size), text});
    offset += text.size;
  }
  option.optionalDataOffset = listEnd;
  option.optionalData.assign(variable.begin() + listEnd, variable.end());
  return option;
}

}  // namespace devtext
