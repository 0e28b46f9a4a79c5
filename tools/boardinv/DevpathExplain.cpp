// devpath --explain: reads a binary device path and lists its nodes, with
// their kind and text, or says why the driver finds it invalid.
#include "tools/boardinv/Devpath.h"

#include <cstdio>
#include <iostream>

#include "host/sim/InputFile.h"
#include "host/sim/Text.h"
#include "tools/boardinv/Commands.h"

namespace boardinv::devpath {

namespace {

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

}  // namespace

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

}  // namespace boardinv::devpath
