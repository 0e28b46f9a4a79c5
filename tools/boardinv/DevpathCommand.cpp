// boardinv devpath: runs the driver's device-path text converter in the
// simulated firmware and prints the binary paths it makes; --explain reads
// a binary path and lists its nodes or says why it is invalid.
#include <cctype>
#include <cstdint>
#include <cstdio>
#include <iostream>
#include <iterator>
#include <memory>
#include <nlohmann/json.hpp>
#include <optional>
#include <string>
#include <vector>

#include "devpath/DevicePath.h"
#include "host/boot/Boot.h"
#include "host/boot/Report.h"
#include "host/harness/LinkedDriver.h"
#include "host/loader/PeImage.h"
#include "host/sim/InputFile.h"
#include "host/sim/Platform.h"
#include "host/sim/SimFirmware.h"
#include "startup/Memory.h"
#include "startup/Startup.h"
#include "tools/boardinv/Commands.h"

namespace boardinv {

namespace {

constexpr int kExitInvalidPath = 1;

struct DevpathOptions {
  std::vector<std::string> texts;
  bool node = false;
  bool json = false;
  bool explain = false;
  std::string binaryFile;
  std::string efiFile;
  bool efiGiven = false;
  bool binaryGiven = false;  // an empty name is a name
};

using Bytes = std::vector<uint8_t>;

// UTF-8 to UCS-2. Returns an empty optional and says why when the text is
// not UTF-8 or holds a character that UCS-2 cannot (above U+FFFF) or that
// would end the text early (U+0000).
std::optional<std::u16string> Utf8ToUcs2(const std::string &text, std::string &problem) {
  std::u16string out;
  out.reserve(text.size());
  for (size_t i = 0; i < text.size();) {
    const auto lead = static_cast<unsigned char>(text[i]);
    size_t length = lead < 0x80 ? 1 : (lead >> 5) == 0x6 ? 2 : (lead >> 4) == 0xE ? 3 : (lead >> 3) == 0x1E ? 4 : 0;
    if (length == 0 || i + length > text.size()) {
      problem = "is not valid UTF-8";
      return std::nullopt;
    }
    uint32_t code = length == 1 ? lead : lead & (0x7F >> length);
    for (size_t k = 1; k < length; k++) {
      const auto next = static_cast<unsigned char>(text[i + k]);
      if ((next & 0xC0) != 0x80) {
        problem = "is not valid UTF-8";
        return std::nullopt;
      }
      code = (code << 6) | (next & 0x3F);
    }
    static const uint32_t kSmallest[] = {0, 0, 0x80, 0x800, 0x10000};
    if (code < kSmallest[length] || code > 0x10FFFF || (code >= 0xD800 && code <= 0xDFFF)) {
      problem = "is not valid UTF-8";
      return std::nullopt;
    }
    if (code > 0xFFFF) {
      char hex[16];
      std::snprintf(hex, sizeof(hex), "U+%04X", static_cast<unsigned>(code));
      problem = std::string("holds the character ") + hex + ", which UCS-2 cannot represent";
      return std::nullopt;
    }
    if (code == 0) {
      problem = "holds a NUL character, which would end the text";
      return std::nullopt;
    }
    out.push_back(static_cast<char16_t>(code));
    i += length;
  }
  return out;
}

std::string Ascii(const CHAR16 *text) {
  std::string out;
  for (; *text != 0; text++) {
    out += static_cast<char>(*text);
  }
  return out;
}

// The Length of the node at offset, read by the driver's own reader; the
// node's header lies within the bytes.
uint16_t LengthAt(const Bytes &bytes, size_t offset) {
  return DevicePathNodeLength(reinterpret_cast<const EFI_DEVICE_PATH_PROTOCOL *>(bytes.data() + offset));
}

// The keyword that made a node text's node: the driver's own keyword
// matching. Empty when no keyword claims it (the text names a file).
std::string KeywordOf(const std::u16string &nodeText) {
  const CHAR16 *keyword = NodeTextKeyword(nodeText.c_str());
  return keyword != nullptr ? Ascii(keyword) : "";
}

// The node texts of a path text, cut by the driver's own routine, exactly
// where the converter cuts them; an unbalanced tail is dropped, as the
// converter drops it.
std::vector<std::u16string> NodeTexts(const std::u16string &text) {
  std::u16string working = text;  // holds no NUL: Utf8ToUcs2 refuses one
  std::vector<std::u16string> nodes;
  CHAR16 *cursor = working.data();
  while (*cursor != 0) {
    BOOLEAN instanceEnd = FALSE;
    const CHAR16 *nodeText = CutNodeText(&cursor, &instanceEnd);
    if (nodeText == nullptr) {
      break;
    }
    nodes.emplace_back(nodeText);
  }
  return nodes;
}

// The driver's converter, with a simulated firmware for its pool: the one
// linked into boardinv, or the one inside a shipped image (--efi).
class Converter {
 public:
  explicit Converter(const DevpathOptions &options) : firmware_(sim::DefaultPlatform()), linkedDriver_(firmware_) {
    if (!options.efiGiven) {
      return;
    }
    try {
      image_ = host::LoadDriverImage(options.efiFile);
      inImage_ = std::make_unique<host::ImageDevicePathFunctions>(*image_, firmware_);
    } catch (const loader::ImageError &error) {
      Die(error.what());
    }
  }

  std::optional<Bytes> Convert(const std::u16string &text, bool node) {
    EFI_DEVICE_PATH_PROTOCOL *result = nullptr;
    if (inImage_ != nullptr) {
      result = node ? inImage_->ConvertTextToDeviceNode(text.c_str()) : inImage_->ConvertTextToDevicePath(text.c_str());
    } else {
      result = node ? ConvertTextToDeviceNode(text.c_str()) : ConvertTextToDevicePath(text.c_str());
    }
    if (result == nullptr) {
      return std::nullopt;
    }
    const uint64_t size = node ? DevicePathNodeLength(result) : PathSize(result);
    const auto *start = reinterpret_cast<const uint8_t *>(result);
    Bytes bytes(start, start + size);
    PoolFree(result);
    return bytes;
  }

  // The size of a valid path, 0 for an invalid one.
  uint64_t PathSize(const EFI_DEVICE_PATH_PROTOCOL *path) const {
    return inImage_ != nullptr ? inImage_->GetDevicePathSize(path) : GetDevicePathSize(path);
  }

  // The walk over bytes that may not be a path, within their size.
  uint64_t PathSizeWithin(const Bytes &bytes, DEVICE_PATH_WALK *walk) const {
    const auto *path = reinterpret_cast<const EFI_DEVICE_PATH_PROTOCOL *>(bytes.data());
    return inImage_ != nullptr ? inImage_->GetDevicePathSizeWithin(path, bytes.size(), walk)
                               : GetDevicePathSizeWithin(path, bytes.size(), walk);
  }

 private:
  sim::SimFirmware firmware_;
  host::LinkedDriver linkedDriver_;  // the linked-in converter's pool is firmware_'s
  host::DriverImagePtr image_;
  std::unique_ptr<host::ImageDevicePathFunctions> inImage_;
};

nlohmann::json NodeJson(const Bytes &bytes, size_t offset, const std::string &keyword) {
  nlohmann::json node = {{"offset", offset},
                         {"type", bytes[offset]},
                         {"subType", bytes[offset + 1]},
                         {"length", LengthAt(bytes, offset)},
                         {"keyword", nullptr}};
  if (!keyword.empty()) {
    node["keyword"] = keyword;
  }
  return node;
}

// Per node of a converted path: where it lies and which keyword made it,
// found by converting each node text alone and matching it to the path's
// nodes in order. End nodes and file-name nodes have no keyword.
nlohmann::json PathJson(Converter &converter, const std::u16string &text, const Bytes &bytes) {
  std::vector<std::pair<Bytes, std::string>> made;
  for (const auto &nodeText : NodeTexts(text)) {
    if (auto node = converter.Convert(nodeText, true)) {
      made.emplace_back(*node, KeywordOf(nodeText));
    }
  }
  nlohmann::json nodes = nlohmann::json::array();
  size_t next = 0;
  for (size_t offset = 0; offset + 4 <= bytes.size(); offset += LengthAt(bytes, offset)) {
    const uint16_t length = LengthAt(bytes, offset);
    std::string keyword;
    if (bytes[offset] != END_DEVICE_PATH_TYPE) {
      const Bytes node(bytes.begin() + offset, bytes.begin() + offset + length);
      for (size_t k = next; k < made.size(); k++) {
        if (made[k].first == node) {
          keyword = made[k].second;
          next = k + 1;
          break;
        }
      }
    }
    nodes.push_back(NodeJson(bytes, offset, keyword));
    if (bytes[offset] == END_DEVICE_PATH_TYPE && bytes[offset + 1] == END_ENTIRE_DEVICE_PATH_SUBTYPE) {
      break;
    }
  }
  return nodes;
}

void PrintConversion(Converter &converter, const DevpathOptions &options, const std::string &text,
                     const std::u16string &ucs2) {
  const std::optional<Bytes> bytes = converter.Convert(ucs2, options.node);
  if (!options.json) {
    std::cout << (bytes ? host::HexBytes(*bytes) : "null") << '\n';
    return;
  }
  nlohmann::json out = {{"text", text}, {"bytes", nullptr}, {"size", nullptr}, {"nodes", nullptr}};
  if (bytes) {
    out["bytes"] = host::HexBytes(*bytes);
    out["size"] = bytes->size();
    out["nodes"] = options.node ? nlohmann::json::array({NodeJson(*bytes, 0, KeywordOf(ucs2))})
                                : PathJson(converter, ucs2, *bytes);
  }
  std::cout << out.dump() << '\n';
}

int RunConvert(const DevpathOptions &options, Converter &converter) {
  std::ios::sync_with_stdio(false);
  std::string problem;
  if (!options.texts.empty()) {
    for (const auto &text : options.texts) {
      const auto ucs2 = Utf8ToUcs2(text, problem);
      if (!ucs2) {
        Die("devpath: \"" + text + "\" " + problem);
      }
      PrintConversion(converter, options, text, *ucs2);
    }
    return 0;
  }
  // One text per line, exactly as written; only the line ending goes.
  std::string line;
  for (uint64_t number = 1; std::getline(std::cin, line); number++) {
    if (!std::cin.eof() && !line.empty() && line.back() == '\r') {
      line.pop_back();
    }
    const auto ucs2 = Utf8ToUcs2(line, problem);
    if (!ucs2) {
      std::cout.flush();
      Die("devpath: standard input line " + std::to_string(number) + " " + problem);
    }
    PrintConversion(converter, options, line, *ucs2);
  }
  return 0;
}

Bytes ParseHexArguments(const std::vector<std::string> &arguments) {
  std::string digits;
  for (const auto &argument : arguments) {
    for (char c : argument) {
      if (c == ' ' || c == '\t' || c == '\n') {
        continue;
      }
      if (!std::isxdigit(static_cast<unsigned char>(c))) {
        Die(std::string("devpath --explain: \"") + argument + "\" is not hexadecimal bytes");
      }
      digits += c;
    }
  }
  if (digits.empty() || digits.size() % 2 != 0) {
    Die("devpath --explain: give the path as whole bytes, two hex digits each");
  }
  Bytes bytes;
  for (size_t i = 0; i < digits.size(); i += 2) {
    bytes.push_back(static_cast<uint8_t>(std::stoul(digits.substr(i, 2), nullptr, 16)));
  }
  return bytes;
}

const char *KindName(uint8_t type, uint8_t subType) {
  struct Kind {
    uint8_t type, subType;
    const char *name;
  };
  static const Kind kKinds[] = {
      {HARDWARE_DEVICE_PATH, HW_PCI_DP, "PCI"},
      {HARDWARE_DEVICE_PATH, HW_PCCARD_DP, "PC Card"},
      {HARDWARE_DEVICE_PATH, HW_MEMMAP_DP, "memory mapped"},
      {HARDWARE_DEVICE_PATH, HW_VENDOR_DP, "hardware vendor"},
      {HARDWARE_DEVICE_PATH, HW_CONTROLLER_DP, "controller"},
      {HARDWARE_DEVICE_PATH, HW_BMC_DP, "BMC"},
      {ACPI_DEVICE_PATH, ACPI_DP, "ACPI"},
      {ACPI_DEVICE_PATH, ACPI_EXTENDED_DP, "expanded ACPI"},
      {ACPI_DEVICE_PATH, ACPI_ADR_DP, "ACPI _ADR"},
      {MESSAGING_DEVICE_PATH, MSG_VENDOR_DP, "messaging vendor"},
      {MEDIA_DEVICE_PATH, MEDIA_VENDOR_DP, "media vendor"},
      {MEDIA_DEVICE_PATH, MEDIA_FILEPATH_DP, "file path"},
      {END_DEVICE_PATH_TYPE, END_INSTANCE_DEVICE_PATH_SUBTYPE, "end of instance"},
      {END_DEVICE_PATH_TYPE, END_ENTIRE_DEVICE_PATH_SUBTYPE, "end of path"},
  };
  for (const auto &kind : kKinds) {
    if (kind.type == type && kind.subType == subType) {
      return kind.name;
    }
  }
  switch (type) {
    case HARDWARE_DEVICE_PATH: return "hardware";
    case ACPI_DEVICE_PATH: return "ACPI";
    case MESSAGING_DEVICE_PATH: return "messaging";
    case MEDIA_DEVICE_PATH: return "media";
    case BBS_DEVICE_PATH: return "BIOS boot";
    default: return "unknown type";
  }
}

// Walks the bytes within their bounds with the driver's bounded walk, which
// stops at the first reason the path is invalid. Only a path that walk
// finds valid inside the bytes is then handed to GetDevicePathSize for its
// verdict. With --efi both are the image's own.
int RunExplain(const DevpathOptions &options, Converter &converter) {
  Bytes bytes;
  if (options.binaryGiven) {
    try {
      bytes = sim::ReadInputFile("device path file", options.binaryFile, sim::kDevicePathFileLimit);
    } catch (const sim::FileError &error) {
      Die(error.what());
    }
    if (bytes.empty()) {
      Die("devpath --explain: " + options.binaryFile + " is empty");
    }
  } else {
    if (options.texts.empty()) {
      Die("devpath --explain: give the path as HEX bytes or --binary FILE");
    }
    bytes = ParseHexArguments(options.texts);
  }

  // The driver's own bounded walk (the image's with --efi): it reads
  // nothing past the bytes and says where and why it ended.
  DEVICE_PATH_WALK walk = {};
  converter.PathSizeWithin(bytes, &walk);
  const size_t at = walk.Offset;
  std::string reason;
  switch (walk.Fault) {
    case DevicePathValid:
      break;
    case DevicePathNull:
      reason = "there are no bytes";
      break;
    case DevicePathNoEndNode:
      reason = "no end node: the bytes end at offset " + std::to_string(bytes.size()) + " inside or before a node header";
      break;
    case DevicePathEndNodeLength:
      reason = "the end node at offset " + std::to_string(at) + " has Length " + std::to_string(LengthAt(bytes, at)) +
               ", not 4";
      break;
    case DevicePathNodeTooShort:
      reason = "the node at offset " + std::to_string(at) + " has Length " + std::to_string(LengthAt(bytes, at)) +
               ", below 4";
      break;
    case DevicePathNodePastLimit:
      reason = "the node at offset " + std::to_string(at) + " has Length " + std::to_string(LengthAt(bytes, at)) +
               ", which runs past the end of the bytes";
      break;
    case DevicePathFileNameUnterminated:
      reason = "the file-path node at offset " + std::to_string(at) + " does not end in a zero character";
      break;
  }

  // The nodes the walk stepped over, each of a Length that fits, and the
  // node it ended at when that node's header lies within the bytes.
  nlohmann::json nodes = nlohmann::json::array();
  auto list = [&](size_t offset) {
    nodes.push_back(NodeJson(bytes, offset, ""));
    nodes.back()["kind"] = KindName(bytes[offset], bytes[offset + 1]);
  };
  size_t offset = 0;
  for (; offset < at; offset += LengthAt(bytes, offset)) {
    list(offset);
  }
  if (walk.Fault != DevicePathNoEndNode && walk.Fault != DevicePathNull) {
    list(offset);
  }

  uint64_t size = 0;
  if (reason.empty()) {
    // In bounds up to the end node: the driver's own verdict.
    size = converter.PathSize(reinterpret_cast<const EFI_DEVICE_PATH_PROTOCOL *>(bytes.data()));
    if (size == 0) {
      reason = "the driver's validation refuses it";
    }
  }

  if (options.json) {
    nlohmann::json out = {{"valid", reason.empty()}, {"nodes", nodes}};
    out["size"] = reason.empty() ? nlohmann::json(size) : nlohmann::json(nullptr);
    out["reason"] = reason.empty() ? nlohmann::json(nullptr) : nlohmann::json(reason);
    if (reason.empty() && size < bytes.size()) {
      out["trailingBytes"] = bytes.size() - size;
    }
    std::cout << out.dump(2) << '\n';
  } else {
    std::printf("%-7s %-5s %-8s %-7s %s\n", "offset", "type", "subtype", "length", "kind");
    for (const auto &node : nodes) {
      std::printf("%-7zu 0x%02X  0x%02X     %-7u %s\n", node["offset"].get<size_t>(), node["type"].get<unsigned>(),
                  node["subType"].get<unsigned>(), node["length"].get<unsigned>(),
                  node["kind"].get<std::string>().c_str());
    }
    if (reason.empty()) {
      std::printf("valid device path, %llu bytes\n", static_cast<unsigned long long>(size));
      if (size < bytes.size()) {
        std::printf("%zu byte(s) after the end node are not part of the path\n", bytes.size() - size);
      }
    } else {
      std::printf("invalid device path: %s\n", reason.c_str());
    }
  }
  return reason.empty() ? 0 : kExitInvalidPath;
}

int RunDevpath(const DevpathOptions &options) {
  if (options.binaryGiven && !options.explain) {
    Die("devpath: --binary goes with --explain");
  }
  if (options.explain) {
    if (options.node) {
      Die("devpath: --explain reads a whole path; --node does not apply");
    }
    if (options.binaryGiven && !options.texts.empty()) {
      Die("devpath --explain: give HEX bytes or --binary FILE, not both");
    }
  }
  Converter converter(options);
  return options.explain ? RunExplain(options, converter) : RunConvert(options, converter);
}

}  // namespace

std::function<int()> AddDevpathCommand(CLI::App &app) {
  auto options = std::make_shared<DevpathOptions>();
  CLI::App *command = app.add_subcommand(
      "devpath",
      "Convert device-path texts to binary device paths with the driver's converter.\n"
      "Prints one line per TEXT: the bytes as upper-case hex pairs separated by single spaces,\n"
      "or the word null when the conversion gives no path (an empty text, for one).\n"
      "Without TEXT, reads one text per line from standard input, taken exactly as written\n"
      "(only the line ending, LF or CR LF, is removed), and answers line by line.\n"
      "With --json, prints one JSON object per text, on one line: text, bytes, size and the\n"
      "nodes (offset, type, subType, length, and the keyword that made the node, null for end\n"
      "nodes and file names).\n"
      "With --explain, reads a binary device path (HEX bytes, or --binary FILE) and lists its\n"
      "nodes and size, or says why it is invalid (exit status 1).\n"
      "With --efi FILE, every mode converts and validates with the functions inside that driver\n"
      "binary instead of those linked into boardinv.");
  command->add_option("TEXT", options->texts, "Device-path texts (UTF-8); with --explain, the path's hex bytes");
  command->add_flag("--node", options->node, "Convert each text as one node (ConvertTextToDeviceNode)");
  command->add_flag("--json", options->json, "Print JSON instead of hex lines");
  command->add_flag("--explain", options->explain, "Validate a binary device path and list its nodes");
  CLI::Option *binary =
      command
          ->add_option("--binary", options->binaryFile,
                       InputFileHelp("With --explain: read the path's raw bytes from FILE", sim::kDevicePathFileLimit))
          ->type_name("FILE");
  CLI::Option *efi =
      command
          ->add_option("--efi", options->efiFile,
                       InputFileHelp("Convert with the converter inside this driver binary (BoardInventory.efi, with "
                                     "its .map beside it) instead of the one linked into boardinv",
                                     sim::kImageFileLimit))
          ->type_name("FILE");
  return [command, options, binary, efi]() {
    if (!command->parsed()) {
      return -1;
    }
    options->binaryGiven = binary->count() > 0;
    options->efiGiven = efi->count() > 0;
    return RunDevpath(*options);
  };
}

}  // namespace boardinv
