// boardinv devpath: runs the driver's device-path text converter in the
// simulated firmware and prints the binary paths it makes; --explain reads
// a binary path and lists its nodes or says why it is invalid; --to-text
// writes binary paths as text that converts back to the same bytes;
// --load-option reads a UEFI load option as efivarfs stores it.
#include <algorithm>
#include <cctype>
#include <cstring>
#include <cstdint>
#include <cstdio>
#include <iostream>
#include <iterator>
#include <memory>
#include <nlohmann/json.hpp>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

#include "driver/devpath/DevicePath.h"
#include "host/boot/Boot.h"
#include "host/boot/Report.h"
#include "host/devtext/DeviceText.h"
#include "host/devtext/LoadOption.h"
#include "host/harness/LinkedDriver.h"
#include "host/loader/MachineTraps.h"
#include "host/loader/PeImage.h"
#include "host/sim/InputFile.h"
#include "host/sim/Platform.h"
#include "host/sim/SimFirmware.h"
#include "host/sim/Text.h"
#include "driver/base/Memory.h"
#include "driver/base/Tables.h"
#include "tools/boardinv/Commands.h"

namespace boardinv {

namespace {

// The job ran and found a failure: an invalid path under --explain, a text
// that gave no path or could not be read as text.
constexpr int kExitFailure = 1;

// What --input (or standard input without TEXT) may hold: device-path
// texts, one per line.
constexpr size_t kTextInputLimit = size_t{16} << 20;
// What --explain --input may hold: the path as hex text, which for a path
// of the --binary limit (1 MiB) written "XX XX ..." takes 3 MiB.
constexpr size_t kHexTextLimit = size_t{4} << 20;
// What --load-option may hold: a UEFI variable (efivarfs attributes and
// data), which firmware keeps far smaller.
constexpr size_t kLoadOptionLimit = size_t{1} << 20;

struct DevpathOptions {
  std::vector<std::string> texts;
  bool node = false;
  std::string format = "text";
  bool explain = false;
  bool toText = false;
  std::string binaryFile;
  std::string loadOptionFile;
  std::string efiFile;
  std::string inputFile;
  // Whether each file option was given: an empty name is a name.
  bool efiGiven = false;
  bool binaryGiven = false;
  bool inputGiven = false;
  bool loadOptionGiven = false;
  bool Json() const { return format == "json"; }
};

using Bytes = std::vector<uint8_t>;

// UTF-8 to UCS-2. Returns an empty optional and says why when the text is
// not UTF-8 (anywhere in it: that reason comes first, so a text said to be
// UTF-8 is UTF-8 throughout), or else at the first character that UCS-2
// cannot hold (above U+FFFF) or that would end the text early (U+0000).
std::optional<std::u16string> Utf8ToUcs2(const std::string &text, std::string &problem) {
  std::u16string out;
  out.reserve(text.size());
  std::string notUcs2;
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
    if (code > 0xFFFF && notUcs2.empty()) {
      char hex[16];
      std::snprintf(hex, sizeof(hex), "U+%04X", static_cast<unsigned>(code));
      notUcs2 = std::string("holds the character ") + hex + ", which UCS-2 cannot represent";
    }
    if (code == 0 && notUcs2.empty()) {
      notUcs2 = "holds a NUL character, which would end the text";
    }
    out.push_back(static_cast<char16_t>(code));
    i += length;
  }
  if (!notUcs2.empty()) {
    problem = notUcs2;
    return std::nullopt;
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
  const CHAR8 *keyword = NodeTextKeyword(nodeText.c_str());
  return keyword != nullptr ? std::string(keyword) : "";
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
      image_ = LoadDriverImageOrDie(options.efiFile);
      inImage_ = std::make_unique<host::ImageDevicePathFunctions>(*image_, firmware_);
    } catch (const loader::ImageError &error) {
      Die(error.what());
    }
  }

  std::optional<Bytes> Convert(const std::u16string &text, bool node) {
    const DriverScope scope;
    if (inImage_ != nullptr) {
      // The image's answer, checked before any of it is used.
      return inImage_->Convert(text.c_str(), node);
    }
    EFI_DEVICE_PATH_PROTOCOL *result = node ? ConvertTextToDeviceNode(text.c_str()) : ConvertTextToDevicePath(text.c_str());
    if (result == nullptr) {
      return std::nullopt;
    }
    const uint64_t size = node ? DevicePathNodeLength(result) : GetDevicePathSize(result);
    const auto *start = reinterpret_cast<const uint8_t *>(result);
    Bytes bytes(start, start + size);
    PoolFree(result);
    return bytes;
  }

  // The size of the path in bytes when it is valid, 0 when it is not.
  uint64_t PathSize(const Bytes &bytes) const {
    const DriverScope scope;
    const auto *path = reinterpret_cast<const EFI_DEVICE_PATH_PROTOCOL *>(bytes.data());
    return inImage_ != nullptr ? inImage_->GetDevicePathSize(path, bytes.size()) : GetDevicePathSize(path);
  }

  // The walk over bytes that may not be a path, within their size.
  uint64_t PathSizeWithin(const Bytes &bytes, DEVICE_PATH_WALK *walk) const {
    const DriverScope scope;
    const auto *path = reinterpret_cast<const EFI_DEVICE_PATH_PROTOCOL *>(bytes.data());
    return inImage_ != nullptr ? inImage_->GetDevicePathSizeWithin(path, bytes.size(), walk)
                               : GetDevicePathSizeWithin(path, bytes.size(), walk);
  }

  // The formatter of binary paths as text, which checks every keyword form
  // with this converter's node conversion (the image's with --efi). Made
  // on first use.
  const devtext::Formatter &Formatter() {
    if (formatter_ == nullptr) {
      formatter_ = std::make_unique<devtext::Formatter>(
          [this](const std::u16string &nodeText) { return Convert(nodeText, true); });
    }
    return *formatter_;
  }

 private:
  sim::SimFirmware firmware_;
  host::LinkedDriver linkedDriver_;  // the linked-in converter's pool is firmware_'s
  host::DriverImagePtr image_;
  std::unique_ptr<host::ImageDevicePathFunctions> inImage_;
  std::unique_ptr<devtext::Formatter> formatter_;
};

// A node's keyword in JSON: null for end nodes and for a node without one
// (a file name, or no text).
nlohmann::json KeywordJson(uint8_t type, const std::string &keyword) {
  return type == END_DEVICE_PATH_TYPE || keyword.empty() ? nlohmann::json(nullptr) : nlohmann::json(keyword);
}

// The keyword of a node's own text (printable ASCII), as the converter's
// keyword table claims it.
std::string KeywordOfText(const std::string &nodeText) {
  return KeywordOf(std::u16string(nodeText.begin(), nodeText.end()));
}

// subType is the key of the first releases, sub_type the snake_case one
// every other key follows; both are kept.
nlohmann::json NodeJson(const Bytes &bytes, size_t offset, const std::string &keyword) {
  return {{"offset", offset},
          {"type", bytes[offset]},
          {"subType", bytes[offset + 1]},
          {"sub_type", bytes[offset + 1]},
          {"length", LengthAt(bytes, offset)},
          {"keyword", KeywordJson(bytes[offset], keyword)}};
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

// A note on standard error about one input, named by where it came from
// ("line 7", "argument 2"), escaped as every such line.
void Note(const std::string &where, const std::string &message) { PrintMessage(where + ": " + message); }

// Answers one text: its bytes, null, or an error in its place so that the
// answers stay aligned with the inputs. Returns whether the text converted
// to a path. An argument is quoted in the note about it (escaped, so that
// it stays on one line and cannot drive the terminal); a line is found by
// its number.
bool Answer(Converter &converter, const DevpathOptions &options, const std::string &where, const std::string &text,
            bool quote) {
  std::string problem;
  const auto ucs2 = Utf8ToUcs2(text, problem);
  if (!ucs2) {
    const bool utf8 = problem.rfind("is not", 0) != 0;  // only that reason means the text is not UTF-8
    const std::string reason = "the text " + problem;
    if (options.Json()) {
      nlohmann::json out = {{"bytes", nullptr}, {"size", nullptr}, {"nodes", nullptr}, {"error", reason}};
      if (utf8) {
        out["text"] = text;
      } else {
        // Not UTF-8: no JSON string holds it; its bytes do.
        out["text"] = nullptr;
        out["text_bytes"] = host::HexBytes(Bytes(text.begin(), text.end()));
      }
      std::cout << out.dump() << '\n';
    } else {
      std::cout << "error: " << reason << '\n';
    }
    Note(where, quote ? "the text \"" + text + "\" " + problem : reason);
    return false;
  }
  const std::optional<Bytes> bytes = converter.Convert(*ucs2, options.node);
  if (options.node) {
    const size_t nodes = NodeTexts(*ucs2).size();
    if (nodes > 1) {
      Note(where, "--node converts one node; the text holds " + sim::Counted(nodes, "node", "nodes") +
                      " (only the first is converted)");
    }
  }
  if (!options.Json()) {
    std::cout << (bytes ? host::HexBytes(*bytes) : "null") << '\n';
    return bytes.has_value();
  }
  nlohmann::json out = {{"text", text}, {"bytes", nullptr}, {"size", nullptr}, {"nodes", nullptr}};
  if (bytes) {
    out["bytes"] = host::HexBytes(*bytes);
    out["size"] = bytes->size();
    out["nodes"] = options.node ? nlohmann::json::array({NodeJson(*bytes, 0, KeywordOf(*ucs2))})
                                : PathJson(converter, *ucs2, *bytes);
  }
  std::cout << out.dump() << '\n';
  return bytes.has_value();
}

// The whole of an input file (or standard input for "-"), up to its limit;
// a file that cannot be read ends the program with status 2.
Bytes ReadInputOrDie(const std::string &what, const std::string &path, size_t limit) {
  try {
    return sim::ReadInputFile(what, path, limit);
  } catch (const sim::FileError &error) {
    Die(error.what());
  }
}

// Answers each line of a text input with answer(name, line), the line
// exactly as written but for its ending (LF, or CR LF; the last line needs
// none) and named "line N". Returns how many answers failed.
template <typename AnswerLine>
uint64_t AnswerEachLine(const Bytes &input, AnswerLine answer) {
  const char *const data = reinterpret_cast<const char *>(input.data());
  uint64_t failed = 0;
  uint64_t number = 1;
  for (size_t start = 0; start < input.size(); number++) {
    const char *const newline = static_cast<const char *>(std::memchr(data + start, '\n', input.size() - start));
    size_t end = newline != nullptr ? static_cast<size_t>(newline - data) : input.size();
    const size_t next = newline != nullptr ? end + 1 : end;
    if (newline != nullptr && end > start && data[end - 1] == '\r') {
      end--;
    }
    failed += answer("line " + std::to_string(number), std::string(data + start, end - start)) ? 0 : 1;
    start = next;
  }
  return failed;
}

int RunConvert(const DevpathOptions &options, Converter &converter) {
  uint64_t failed = 0;
  if (!options.texts.empty()) {
    for (size_t i = 0; i < options.texts.size(); i++) {
      failed += Answer(converter, options, "argument " + std::to_string(i + 1), options.texts[i], true) ? 0 : 1;
    }
    return failed == 0 ? 0 : kExitFailure;
  }
  const Bytes input = ReadInputOrDie("device path text file", options.inputGiven ? options.inputFile : sim::kStandardStream,
                                     kTextInputLimit);
  failed += AnswerEachLine(input, [&](const std::string &name, const std::string &line) {
    return Answer(converter, options, name, line, false);
  });
  return failed == 0 ? 0 : kExitFailure;
}

// The path given as hex: pairs of hex digits, white space anywhere
// between them. SOURCES are the HEX arguments, each quoted in a message
// about it, or the text of the --input file named FILE, in which a message
// gives the offset. A path larger than --binary may read (1 MiB) is
// refused, as that file would be.
Bytes ParseHex(const std::vector<std::string> &sources, const std::string &file = "") {
  std::string digits;
  for (const std::string &source : sources) {
    for (size_t i = 0; i < source.size(); i++) {
      const char c = source[i];
      if (c == ' ' || c == '\t' || c == '\n' || c == '\r') {
        continue;
      }
      if (!std::isxdigit(static_cast<unsigned char>(c))) {
        Die("devpath --explain: " +
            (file.empty() ? "\"" + source + "\" is not hexadecimal bytes"
                          : file + ": offset " + std::to_string(i) + " holds what is not a hex digit or white space"));
      }
      digits += c;
    }
  }
  if (digits.empty() || digits.size() % 2 != 0) {
    Die("devpath --explain: give the path as whole bytes, two hex digits each");
  }
  if (digits.size() / 2 > sim::kDevicePathFileLimit) {
    Die("devpath --explain: the path is larger than the limit of " + sim::LimitText(sim::kDevicePathFileLimit));
  }
  Bytes bytes;
  bytes.reserve(digits.size() / 2);
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
      Die("devpath --explain: " +
          (options.binaryFile == sim::kStandardStream ? std::string("standard input") : options.binaryFile) +
          " is empty");
    }
  } else if (options.inputGiven) {
    const Bytes text = ReadInputOrDie("hex text file", options.inputFile, kHexTextLimit);
    const std::string path = options.inputFile == sim::kStandardStream ? "standard input" : options.inputFile;
    bytes = ParseHex({std::string(text.begin(), text.end())}, path);
  } else {
    if (options.texts.empty()) {
      Die("devpath --explain: give the path as HEX arguments, - or --input FILE|- (hex text), or --binary FILE|- "
          "(raw bytes)");
    }
    bytes = ParseHex(options.texts);
  }

  // The driver's own bounded walk (the image's with --efi): it reads
  // nothing past the bytes and says where and why it ended.
  DEVICE_PATH_WALK walk = {};
  converter.PathSizeWithin(bytes, &walk);
  const size_t at = walk.Offset;
  std::string reason = devtext::WalkProblem(bytes.data(), bytes.size(), walk);

  uint64_t size = 0;
  if (reason.empty()) {
    // In bounds up to the end node: the driver's own verdict.
    size = converter.PathSize(bytes);
    if (size == 0) {
      reason = "the driver's validation refuses it";
    }
  }

  // The nodes the walk stepped over, each of a Length that fits, and the
  // node it ended at when that node's header lies within the bytes. A path
  // of the largest size holds a quarter of a million nodes: each is written
  // as it is reached, so memory stays that of the bytes.
  auto forEachNode = [&](const auto &visit) {
    size_t offset = 0;
    for (; offset < at; offset += LengthAt(bytes, offset)) {
      visit(offset);
    }
    if (walk.Fault != DevicePathNoEndNode && walk.Fault != DevicePathNull) {
      visit(offset);
    }
  };

  // A node's text, when the node lies whole within the bytes.
  auto nodeText = [&](size_t offset) -> std::optional<std::string> {
    const uint16_t length = LengthAt(bytes, offset);
    if (length >= sizeof(EFI_DEVICE_PATH_PROTOCOL) && length <= bytes.size() - offset) {
      return converter.Formatter().NodeToText(bytes.data() + offset, length);
    }
    return std::nullopt;
  };
  std::string text;
  if (reason.empty()) {
    text = converter.Formatter().Path(bytes.data(), bytes.size()).text;
  }

  if (options.Json()) {
    // One line, as every devpath answer; its keys in the order of the
    // other JSON objects (sorted).
    std::cout << "{\"nodes\":[";
    bool first = true;
    forEachNode([&](size_t offset) {
      const std::optional<std::string> own = nodeText(offset);
      // The keyword of the node's own text, where it has one.
      nlohmann::json node = NodeJson(bytes, offset, own ? KeywordOfText(*own) : "");
      node["kind"] = KindName(bytes[offset], bytes[offset + 1]);
      node["text"] = own ? nlohmann::json(*own) : nlohmann::json(nullptr);
      std::cout << (first ? "" : ",") << node.dump();
      first = false;
    });
    // trailingBytes for the first releases' readers, trailing_bytes in the
    // snake_case of every other key: the bytes after the end node of a
    // valid path (0 for none), null for an invalid one.
    const nlohmann::json trailing = reason.empty() ? nlohmann::json(bytes.size() - size) : nlohmann::json(nullptr);
    std::cout << "],\"reason\":" << (reason.empty() ? nlohmann::json(nullptr) : nlohmann::json(reason)).dump()
              << ",\"size\":" << (reason.empty() ? nlohmann::json(size) : nlohmann::json(nullptr)).dump()
              << ",\"text\":" << (reason.empty() ? nlohmann::json(text) : nlohmann::json(nullptr)).dump()
              << ",\"trailingBytes\":" << trailing.dump() << ",\"trailing_bytes\":" << trailing.dump()
              << ",\"valid\":" << (reason.empty() ? "true" : "false") << "}\n";
  } else {
    std::cout << "offset  type  subtype  length  kind             text\n";
    forEachNode([&](size_t offset) {
      const std::optional<std::string> own = nodeText(offset);
      char columns[64];
      std::snprintf(columns, sizeof(columns), "%-7zu 0x%02X  0x%02X     %-7u %-16s ", offset, bytes[offset],
                    bytes[offset + 1], static_cast<unsigned>(LengthAt(bytes, offset)),
                    KindName(bytes[offset], bytes[offset + 1]));
      std::cout << columns << (own ? *own : "-") << '\n';
    });
    if (reason.empty()) {
      std::cout << "text: " << text << '\n';
      std::cout << "valid device path, " << sim::Counted(size, "byte", "bytes") << '\n';
      if (size < bytes.size()) {
        const size_t trailing = bytes.size() - size;
        std::cout << sim::Counted(trailing, "byte", "bytes") << " after the end node "
                  << (trailing == 1 ? "is" : "are") << " not part of the path\n";
      }
    } else {
      std::cout << "invalid device path: " << reason << '\n';
    }
  }
  return reason.empty() ? 0 : kExitFailure;
}

// Hex text to bytes: pairs of hex digits, white space anywhere between
// them. Empty, with the problem said, when the text is not that.
std::optional<Bytes> HexToBytes(const std::string &text, std::string &problem) {
  Bytes bytes;
  int high = -1;
  for (size_t i = 0; i < text.size(); i++) {
    const char c = text[i];
    if (c == ' ' || c == '\t' || c == '\r' || c == '\n') {
      continue;
    }
    if (!std::isxdigit(static_cast<unsigned char>(c))) {
      problem = "offset " + std::to_string(i) + " of the hex text holds what is not a hex digit or white space";
      return std::nullopt;
    }
    const int digit = std::isdigit(static_cast<unsigned char>(c)) ? c - '0' : std::toupper(c) - 'A' + 10;
    if (high < 0) {
      high = digit;
    } else {
      bytes.push_back(static_cast<uint8_t>(high << 4 | digit));
      high = -1;
    }
  }
  if (high >= 0) {
    problem = "the hex digits are not whole bytes (an odd count)";
    return std::nullopt;
  }
  return bytes;
}

// The nodes of a formatted path or node, for JSON, each with its offset
// from base plus its offset in the path.
nlohmann::json NodeTextsJson(const devtext::PathText &path, size_t base = 0) {
  nlohmann::json nodes = nlohmann::json::array();
  for (const devtext::NodeText &node : path.nodes) {
    nodes.push_back({{"offset", base + node.offset},
                     {"type", node.type},
                     {"sub_type", node.subType},
                     {"length", node.length},
                     {"keyword", KeywordJson(node.type, KeywordOfText(node.text))},
                     {"text", node.text}});
  }
  return nodes;
}

// What separates the texts of the paths of one --to-text input on its
// line: a tab, which no path text holds (they are printable ASCII).
constexpr char kPathSeparator = '\t';

// Answers one input of --to-text on one line: the texts of the paths it
// holds, one after the other, separated by a tab (or the text of its one
// node, with --node), or an error in its place. Returns whether the answer
// is a text.
bool AnswerText(Converter &converter, const DevpathOptions &options, const std::string &where,
                const std::optional<Bytes> &bytes, const std::string &problem) {
  // offset: where in the input the path in error starts.
  auto answerError = [&](size_t offset, const std::string &reason) {
    if (options.Json()) {
      std::cout << nlohmann::json({{"offset", offset},
                                   {"bytes", nullptr},
                                   {"size", nullptr},
                                   {"text", nullptr},
                                   {"nodes", nullptr},
                                   {"paths", nullptr},
                                   {"error", reason}})
                       .dump()
                << '\n';
    } else {
      std::cout << "error: " << reason << '\n';
    }
    Note(where, reason);
  };
  if (!bytes) {
    answerError(0, problem);
    return false;
  }
  if (bytes->empty()) {
    answerError(0, "there are no bytes");
    return false;
  }
  const devtext::Formatter &formatter = converter.Formatter();
  std::vector<std::pair<size_t, devtext::PathText>> paths;  // each with its offset in the input
  for (size_t offset = 0; offset < bytes->size();) {
    devtext::PathText path = options.node ? formatter.Node(bytes->data(), bytes->size())
                                          : formatter.Path(bytes->data() + offset, bytes->size() - offset);
    if (!path.Valid()) {
      // Offsets in the reason count from the path's start.
      answerError(offset, offset == 0 ? path.error : "the path at offset " + std::to_string(offset) + ": " + path.error);
      return false;
    }
    const size_t size = path.size;
    paths.emplace_back(offset, std::move(path));
    offset += size;
  }
  std::string line;
  for (const auto &[offset, path] : paths) {
    line += (offset == 0 ? "" : std::string(1, kPathSeparator)) + path.text;
  }
  if (!options.Json()) {
    std::cout << line << '\n';
    return true;
  }
  nlohmann::json nodes = nlohmann::json::array();
  nlohmann::json pathsJson = nlohmann::json::array();
  for (const auto &[offset, path] : paths) {
    for (nlohmann::json &node : NodeTextsJson(path, offset)) {
      nodes.push_back(std::move(node));
    }
    pathsJson.push_back({{"offset", offset}, {"size", path.size}, {"text", path.text}});
  }
  std::cout << nlohmann::json({{"offset", 0},
                               {"bytes", host::HexBytes(*bytes)},
                               {"size", bytes->size()},
                               {"text", line},
                               {"nodes", std::move(nodes)},
                               {"paths", std::move(pathsJson)}})
                   .dump()
            << '\n';
  return true;
}

// --to-text: the binary paths of --binary FILE (raw bytes), of the HEX
// arguments (one input each), or of the lines of --input FILE, of standard
// input for "-" or without HEX (hex text, one input a line).
int RunToText(const DevpathOptions &options, Converter &converter) {
  uint64_t failed = 0;
  if (options.binaryGiven) {
    const Bytes bytes = ReadInputOrDie("device path file", options.binaryFile, sim::kDevicePathFileLimit);
    if (bytes.empty()) {
      Die("devpath --to-text: " +
          (options.binaryFile == sim::kStandardStream ? std::string("standard input") : options.binaryFile) +
          " is empty");
    }
    return AnswerText(converter, options, "device path file", bytes, "") ? 0 : kExitFailure;
  }
  if (!options.texts.empty()) {
    for (size_t i = 0; i < options.texts.size(); i++) {
      std::string problem;
      const std::optional<Bytes> bytes = HexToBytes(options.texts[i], problem);
      if (bytes && bytes->size() > sim::kDevicePathFileLimit) {
        Die("devpath --to-text: argument " + std::to_string(i + 1) + " is larger than the limit of " +
            sim::LimitText(sim::kDevicePathFileLimit));
      }
      failed += AnswerText(converter, options, "argument " + std::to_string(i + 1), bytes, problem) ? 0 : 1;
    }
    return failed == 0 ? 0 : kExitFailure;
  }
  const Bytes input = ReadInputOrDie("hex text file", options.inputGiven ? options.inputFile : sim::kStandardStream,
                                     kTextInputLimit);
  failed += AnswerEachLine(input, [&](const std::string &name, const std::string &line) {
    std::string problem;
    const std::optional<Bytes> bytes = HexToBytes(line, problem);
    return AnswerText(converter, options, name, bytes, problem);
  });
  return failed == 0 ? 0 : kExitFailure;
}

// What the JSON of a load option holds in place of its description until
// the description is written in: no other string there holds a control
// character.
constexpr const char *kDescriptionStandIn = "\x01" "description" "\x01";

// --load-option: a load option as efivarfs stores it (4 bytes of variable
// attributes, then the EFI_LOAD_OPTION).
int RunLoadOption(const DevpathOptions &options, Converter &converter) {
  const Bytes variable = ReadInputOrDie("load option", options.loadOptionFile, kLoadOptionLimit);
  const std::string name =
      options.loadOptionFile == sim::kStandardStream ? std::string("standard input") : options.loadOptionFile;
  devtext::LoadOption option;
  try {
    option = devtext::ReadLoadOption(variable, converter.Formatter());
  } catch (const devtext::LoadOptionError &error) {
    Die("load option: " + name + ": " + error.what());
  }
  auto joined = [](const std::vector<std::string> &names) {
    std::string text;
    for (const std::string &name : names) {
      text += (text.empty() ? "" : ", ") + name;
    }
    return text;
  };
  if (options.Json()) {
    nlohmann::json paths = nlohmann::json::array();
    for (const auto &path : option.paths) {
      paths.push_back({{"offset", path.offset},
                       {"bytes", host::HexBytes(path.bytes)},
                       {"size", path.bytes.size()},
                       {"text", path.text.text},
                       {"nodes", NodeTextsJson(path.text)}});
    }
    nlohmann::json out = {
        {"variable_attributes", {{"value", sim::Hex(option.variableAttributes, 8)},
                                 {"names", devtext::VariableAttributeNames(option.variableAttributes)}}},
        {"attributes", {{"value", sim::Hex(option.attributes, 8)},
                        {"names", devtext::LoadOptionAttributeNames(option.attributes)}}},
        // A stand-in, replaced below by the description written exactly,
        // unit for unit, which nlohmann::json cannot write: it holds text
        // as UTF-8, where a lone surrogate has no place.
        {"description", kDescriptionStandIn},
        {"file_path_list_length", option.filePathListLength},
        {"paths", paths},
        {"optional_data", host::HexBytes(option.optionalData)},
        {"optional_data_size", option.optionalData.size()},
    };
    std::string document = out.dump(2);
    const std::string standIn = nlohmann::json(kDescriptionStandIn).dump();
    document.replace(document.find(standIn), standIn.size(), devtext::JsonString(option.description));
    std::cout << document << '\n';
    return 0;
  }
  std::cout << "variable attributes: " << sim::Hex(option.variableAttributes, 8) << " ("
            << joined(devtext::VariableAttributeNames(option.variableAttributes)) << ")\n";
  std::cout << "attributes: " << sim::Hex(option.attributes, 8) << " ("
            << joined(devtext::LoadOptionAttributeNames(option.attributes)) << ")\n";
  std::cout << "description: " << sim::Escaped(devtext::Utf8(option.description)) << '\n';
  std::cout << "file path list: " << sim::Counted(option.filePathListLength, "byte", "bytes") << ", "
            << sim::Counted(option.paths.size(), "path", "paths") << '\n';
  for (size_t i = 0; i < option.paths.size(); i++) {
    std::cout << "path " << i + 1 << ": " << option.paths[i].text.text << '\n';
  }
  std::cout << "optional data: "
            << (option.optionalData.empty() ? std::string("none")
                                            : sim::Counted(option.optionalData.size(), "byte", "bytes") + ": " +
                                                  host::HexBytes(option.optionalData))
            << '\n';
  return 0;
}

int RunDevpath(DevpathOptions options) {
  if (options.loadOptionGiven) {
    if (options.explain || options.toText || options.node || options.binaryGiven || options.inputGiven ||
        !options.texts.empty()) {
      Die("devpath --load-option reads one load option; TEXT, --input, --binary, --node, --explain and --to-text "
          "do not apply");
    }
    Converter converter(options);
    return RunLoadOption(options, converter);
  }
  if (options.explain && options.toText) {
    Die("devpath: --explain and --to-text are two modes; give one");
  }
  if (options.binaryGiven && !options.explain && !options.toText) {
    Die("devpath: --binary goes with --explain or --to-text");
  }
  if (options.explain && options.node) {
    Die("devpath: --explain reads a whole path; --node does not apply");
  }
  const std::string mode = options.toText ? "devpath --to-text" : options.explain ? "devpath --explain" : "devpath";
  const std::string arguments = options.toText || options.explain ? "HEX arguments" : "TEXT arguments";
  // "-" among the arguments stands for standard input, which then holds
  // every input: it comes alone.
  const bool dash = std::find(options.texts.begin(), options.texts.end(), sim::kStandardStream) != options.texts.end();
  if (dash && options.texts.size() > 1) {
    Die(mode + ": - reads " +
        (options.toText    ? "the paths from standard input (hex, one input a line)"
         : options.explain ? "the path from standard input (hex)"
                           : "the texts from standard input (one a line)") +
        "; give it alone, not with " + arguments);
  }
  if (options.binaryGiven + options.inputGiven + !options.texts.empty() > 1) {
    Die(mode + ": give the " + (options.toText ? "paths" : options.explain ? "path" : "texts") + " one way: " +
        arguments + (options.toText || options.explain ? ", -, --input FILE|- or --binary FILE|-"
                                                        : ", - or --input FILE|-"));
  }
  if (dash) {
    options.texts.clear();
    options.inputGiven = true;
    options.inputFile = sim::kStandardStream;
  }
  Converter converter(options);
  return options.toText ? RunToText(options, converter)
         : options.explain ? RunExplain(options, converter)
                           : RunConvert(options, converter);
}

}  // namespace

std::function<int()> AddDevpathCommand(CLI::App &app) {
  auto options = std::make_shared<DevpathOptions>();
  CLI::App *command = app.add_subcommand(
      "devpath",
      "Convert device-path texts to binary device paths with the driver's converter.\n"
      "Prints one line per text: the bytes as upper-case hex pairs separated by single spaces,\n"
      "or the word null when the conversion gives no path (an empty text, for one).\n"
      "The texts are the TEXT arguments; or, one per line, the lines of standard input (TEXT -,\n"
      "alone, or --input -, or no TEXT and no --input) or of --input FILE. A line is taken\n"
      "exactly as written (only the line ending, LF or CR LF, is removed); the text \"-\" itself\n"
      "is such a line. Wherever - stands for standard input it comes alone: - with other TEXT\n"
      "or HEX arguments, or with --input or --binary, is bad usage (exit status 2).\n"
      "A text that is not valid UTF-8, or holds a NUL or a character outside UCS-2, is answered\n"
      "with a line \"error: REASON\" in its place; a note on standard error names its line or\n"
      "argument (\"boardinv: line 7: the text is not valid UTF-8\"; an argument is quoted, every\n"
      "byte outside printable ASCII as \\xHH) and the rest is converted.\n"
      "With --node, a text of several nodes gives a note on standard error: only its first node\n"
      "is converted.\n"
      "With --format json (or --json), prints one JSON object per text, on one line: text, bytes,\n"
      "size and the nodes (offset, type, sub_type and its older name subType, length, and the\n"
      "keyword that made the node, null for end nodes and file names); for a text in error, the\n"
      "error, with text null and the text's bytes in text_bytes when it is not UTF-8.\n"
      "Exit status 1 when any answer is null or an error.\n"
      "With --explain, reads a binary device path (HEX arguments, or - or --input FILE|-\n"
      "holding them as text, or --binary FILE|- holding the raw bytes) and lists its nodes with\n"
      "their text and its size, or says why it is invalid (exit status 1); with --format json,\n"
      "as one JSON object on one line (valid, size, reason, text, trailing_bytes, and the nodes,\n"
      "each with kind, text and the keyword of its text).\n"
      "With --to-text, writes binary device paths as text that converts back to exactly the same\n"
      "bytes: the keyword form of each node where converting it gives back the node's bytes,\n"
      "else the generic form (HardwarePath, AcpiPath, Msg, MediaPath, BbsPath, Path); instances\n"
      "separated by \",\". The inputs are HEX arguments (one input each), the lines of standard\n"
      "input (- alone, --input -, or no HEX) or of --input FILE (hex text, one input a line), or\n"
      "the raw bytes of --binary FILE|- (one input). Each input gives one line: an input may\n"
      "hold several paths one after the other, written on its line separated by a tab. An\n"
      "input in error is answered \"error: REASON\" naming the offset (exit status 1). With\n"
      "--node each input is one node. --format json gives one object per input: its bytes,\n"
      "size and text (its line), its nodes (offset in the input, type, sub_type, length,\n"
      "keyword, text) and its paths (offset in the input, size, text).\n"
      "With --load-option FILE|-, reads a UEFI load option as efivarfs stores it (4 bytes of\n"
      "variable attributes, then Attributes, FilePathListLength, the description, the device\n"
      "paths and the optional data) and shows the attributes by name, the description, each\n"
      "path as text and the optional data as hex; a malformed option gives exit status 2 and one\n"
      "line naming each place as a byte of the variable (\"at byte 48 of the variable\").\n"
      "With --efi FILE, every mode converts and validates with the functions inside that driver\n"
      "binary instead of those linked into boardinv.");
  command->add_option("TEXT", options->texts,
                      "Device-path texts (UTF-8); with --explain, the path's hex bytes; with --to-text, hex bytes "
                      "of paths, one input each (up to " +
                          sim::LimitText(sim::kDevicePathFileLimit) +
                          " of path); - alone reads them from standard input instead, as --input - does");
  command->add_flag("--node", options->node, "Convert each text as one node (ConvertTextToDeviceNode)");
  CLI::Option *format =
      command->add_option("--format", options->format, "Output format: text or json")->check(CLI::IsMember({"text", "json"}));
  CLI::Option *json = command->add_flag_callback(
      "--json", [options]() { options->format = "json"; }, "The same as --format json");
  json->excludes(format);
  command->add_flag("--explain", options->explain, "Validate a binary device path and list its nodes");
  command->add_flag("--to-text", options->toText,
                    "Write binary device paths (HEX, -, --input FILE|-, --binary FILE|-) as device-path text");
  CLI::Option *loadOption =
      command
          ->add_option("--load-option", options->loadOptionFile,
                       InputFileHelp("Read a UEFI load option as efivarfs stores it from FILE (- reads standard "
                                     "input) and show it, its device paths as text",
                                     kLoadOptionLimit))
          ->type_name("FILE");
  CLI::Option *input =
      command
          ->add_option("--input", options->inputFile,
                       "Read the texts from FILE, one per line (- reads standard input; read up to " +
                           sim::LimitText(kTextInputLimit) + "); with --to-text, hex bytes of paths, one input a line (read up to " +
                           sim::LimitText(kTextInputLimit) + "); with --explain, the path's hex bytes (read up to " +
                           sim::LimitText(kHexTextLimit) + ")")
          ->type_name("FILE");
  CLI::Option *binary =
      command
          ->add_option("--binary", options->binaryFile,
                       InputFileHelp("With --explain or --to-text: read the path's raw bytes from FILE (- reads "
                                     "standard input)",
                                     sim::kDevicePathFileLimit))
          ->type_name("FILE");
  CLI::Option *efi =
      command
          ->add_option("--efi", options->efiFile,
                       InputFileHelp("Convert with the converter inside this driver binary (BoardInventory.efi, with "
                                     "its .map beside it, so not -) instead of the one linked into boardinv",
                                     sim::kImageFileLimit))
          ->type_name("FILE");
  return [command, options, input, binary, efi, loadOption]() {
    if (!command->parsed()) {
      return -1;
    }
    options->inputGiven = input->count() > 0;
    options->binaryGiven = binary->count() > 0;
    options->efiGiven = efi->count() > 0;
    options->loadOptionGiven = loadOption->count() > 0;
    return RunDevpath(*options);
  };
}

}  // namespace boardinv
