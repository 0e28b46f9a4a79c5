#include "host/sim/Platform.h"

#include <cctype>
#include <cstring>
#include <cstdio>
#include <nlohmann/json.hpp>
#include <set>
#include <string>
#include <vector>

#include "driver/firmware/Guids.h"
#include "host/sim/InputFile.h"
#include "host/sim/JsonFields.h"
#include "host/sim/StartupPlatform.h"

namespace sim {

using nlohmann::json;

namespace {

const std::u16string kNioName = u"NioTypeProtected";

void Fail(const std::string &field, const std::string &message) { FailField(field, message); }

void CheckKeys(const json &object, const std::string &where, const std::set<std::string> &allowed) {
  CheckFields(object, where, allowed);
}

uint64_t ReadUnsigned(const json &value, const std::string &field, uint64_t max) {
  return ReadUnsignedField(value, field, max);
}

std::vector<uint8_t> ReadHexBytes(const json &value, const std::string &field) { return ReadHexBytesField(value, field); }

std::u16string Widen(const std::string &text, const std::string &field) {
  std::u16string out;
  for (unsigned char c : text) {
    if (c == 0 || c > 0x7E) {
      Fail(field, "variable names are printable ASCII here");
    }
    out += static_cast<char16_t>(c);
  }
  return out;
}

VariableDescription ReadVariable(const json &entry, const std::string &where) {
  CheckKeys(entry, where, {"name", "guid", "attributes", "value", "size", "data"});
  VariableDescription variable;
  if (!entry.contains("name") || !entry["name"].is_string() || entry["name"].get<std::string>().empty()) {
    Fail(where + ".name", "required, a non-empty text");
  }
  variable.name = Widen(entry["name"].get<std::string>(), where + ".name");
  variable.guid = gNioTypeVariableGuid;
  if (entry.contains("guid")) {
    if (!entry["guid"].is_string()) {
      Fail(where + ".guid", "must be a GUID text");
    }
    auto guid = GuidFromString(entry["guid"].get<std::string>());
    if (!guid) {
      Fail(where + ".guid", "not a GUID: \"" + entry["guid"].get<std::string>() + "\"");
    }
    variable.guid = *guid;
  }
  if (entry.contains("attributes")) {
    variable.attributes = static_cast<uint32_t>(ReadUnsigned(entry["attributes"], where + ".attributes", 0xFFFFFFFF));
  }
  const bool hasValue = entry.contains("value");
  const bool hasData = entry.contains("data");
  if (hasValue == hasData) {
    Fail(where, "give exactly one of \"value\" (with an optional \"size\") and \"data\"");
  }
  if (hasData) {
    if (entry.contains("size")) {
      Fail(where + ".size", "goes with \"value\", not with \"data\"");
    }
    variable.data = ReadHexBytes(entry["data"], where + ".data");
    if (variable.data.empty()) {
      // A variable always holds data: writing zero bytes deletes it.
      Fail(where + ".data", "must hold at least one byte (leave the variable out to have it absent)");
    }
  } else {
    uint64_t size = entry.contains("size") ? ReadUnsigned(entry["size"], where + ".size", 4096) : 4;
    if (size == 0) {
      Fail(where + ".size", "must be at least 1");
    }
    uint64_t max = size >= 8 ? ~0ULL : ((1ULL << (8 * size)) - 1);
    uint64_t value = ReadUnsigned(entry["value"], where + ".value", max);
    // Little-endian, padded with zero bytes to the size.
    for (uint64_t i = 0; i < size; i++) {
      variable.data.push_back(i < 8 ? static_cast<uint8_t>(value >> (8 * i)) : 0);
    }
  }
  return variable;
}

bool ReadBool(const json &value, const std::string &field) { return ReadBoolField(value, field); }

}  // namespace

std::string GuidToString(const EFI_GUID &guid) {
  char text[40];
  std::snprintf(text, sizeof(text), "%08X-%04X-%04X-%02X%02X-%02X%02X%02X%02X%02X%02X", guid.Data1, guid.Data2,
                guid.Data3, guid.Data4[0], guid.Data4[1], guid.Data4[2], guid.Data4[3], guid.Data4[4], guid.Data4[5],
                guid.Data4[6], guid.Data4[7]);
  return text;
}

std::optional<EFI_GUID> GuidFromString(const std::string &input) {
  std::string text = input;
  if (text.size() == 38 && text.front() == '{' && text.back() == '}') {
    text = text.substr(1, 36);
  }
  if (text.size() != 36) {
    return std::nullopt;
  }
  for (size_t i = 0; i < text.size(); i++) {
    const bool dash = i == 8 || i == 13 || i == 18 || i == 23;
    if (dash ? text[i] != '-' : !std::isxdigit(static_cast<unsigned char>(text[i]))) {
      return std::nullopt;
    }
  }
  auto hex = [&](size_t at, size_t n) { return std::stoull(text.substr(at, n), nullptr, 16); };
  EFI_GUID guid;
  guid.Data1 = static_cast<uint32_t>(hex(0, 8));
  guid.Data2 = static_cast<uint16_t>(hex(9, 4));
  guid.Data3 = static_cast<uint16_t>(hex(14, 4));
  guid.Data4[0] = static_cast<uint8_t>(hex(19, 2));
  guid.Data4[1] = static_cast<uint8_t>(hex(21, 2));
  for (int i = 0; i < 6; i++) {
    guid.Data4[2 + i] = static_cast<uint8_t>(hex(24 + 2 * i, 2));
  }
  return guid;
}

void SetNioTypeWord(Platform &platform, uint32_t word) {
  RemoveNioTypeVariable(platform);
  VariableDescription variable;
  variable.name = kNioName;
  variable.guid = gNioTypeVariableGuid;
  for (int i = 0; i < 4; i++) {
    variable.data.push_back(static_cast<uint8_t>(word >> (8 * i)));
  }
  platform.variables.push_back(variable);
}

void RemoveNioTypeVariable(Platform &platform) {
  std::erase_if(platform.variables, [](const VariableDescription &v) {
    return v.name == kNioName && std::memcmp(&v.guid, &gNioTypeVariableGuid, sizeof(EFI_GUID)) == 0;
  });
}

Platform DefaultPlatform() {
  Platform platform;
  platform.name = "default";
  SetNioTypeWord(platform, 0x00000200);
  return platform;
}

Platform ParsePlatformJson(const std::string &text) {
  const json root = ParseJsonDocument(text);
  CheckKeys(root, "", {"name", "variables", "protocols", "faults", "pcd_tokens", "hob_list", "platform_registers",
                       "uart", "cpu", "pci"});

  Platform platform;
  platform.name = "custom";
  if (root.contains("name")) {
    if (!root["name"].is_string()) {
      Fail("name", "must be a text");
    }
    platform.name = root["name"].get<std::string>();
  }
  if (root.contains("variables")) {
    if (!root["variables"].is_array()) {
      Fail("variables", "must be an array");
    }
    for (size_t i = 0; i < root["variables"].size(); i++) {
      const std::string where = "variables[" + std::to_string(i) + "]";
      VariableDescription variable = ReadVariable(root["variables"][i], where);
      for (const VariableDescription &other : platform.variables) {
        if (other.name == variable.name && std::memcmp(&other.guid, &variable.guid, sizeof(EFI_GUID)) == 0) {
          Fail(where, "the same name and GUID appear twice");
        }
      }
      platform.variables.push_back(std::move(variable));
    }
  }
  if (root.contains("protocols")) {
    const json &protocols = root["protocols"];
    CheckKeys(protocols, "protocols",
              {"smbios", "pcd", "efi_pcd", "debug_print", "debug_print_after_lookups", "heap_buffer_list"});
    if (protocols.contains("smbios")) {
      platform.protocols.smbios = ReadBool(protocols["smbios"], "protocols.smbios");
    }
    ReadStartupProtocolFields(protocols, platform);
  }
  if (root.contains("faults")) {
    const json &faults = root["faults"];
    CheckKeys(faults, "faults", {"fail_allocations", "fail_allocations_from", "fail_installs", "fail_create_event"});
    ReadInstallFailureFields(faults, platform);
    if (faults.contains("fail_create_event")) {
      const EFI_STATUS status = ReadUnsigned(faults["fail_create_event"], "faults.fail_create_event", ~0ULL);
      if (status == EFI_SUCCESS) {
        Fail("faults.fail_create_event", "a failure needs a nonzero status");
      }
      platform.faults.failCreateEvent = status;
    }
    if (faults.contains("fail_allocations")) {
      if (!faults["fail_allocations"].is_array()) {
        Fail("faults.fail_allocations", "must be an array of allocation numbers (from 1)");
      }
      for (size_t i = 0; i < faults["fail_allocations"].size(); i++) {
        const std::string field = "faults.fail_allocations[" + std::to_string(i) + "]";
        uint64_t index = ReadUnsigned(faults["fail_allocations"][i], field, ~0ULL);
        if (index == 0) {
          Fail(field, "allocations are numbered from 1");
        }
        platform.faults.failAllocations.push_back(index);
      }
    }
    if (faults.contains("fail_allocations_from")) {
      uint64_t index = ReadUnsigned(faults["fail_allocations_from"], "faults.fail_allocations_from", ~0ULL);
      if (index == 0) {
        Fail("faults.fail_allocations_from", "allocations are numbered from 1");
      }
      platform.faults.failAllocationsFrom = index;
    }
  }
  ReadStartupFields(root, platform);
  if (root.contains("pci")) {
    platform.pci = ParsePciTopology(root["pci"], "pci");
  }
  return platform;
}

Platform LoadPlatformFile(const std::string &path) {
  std::string content;
  try {
    const std::vector<uint8_t> bytes = ReadInputFile("platform file", path, kPlatformFileLimit);
    content.assign(bytes.begin(), bytes.end());
  } catch (const FileError &error) {
    throw PlatformError(error.what());
  }
  try {
    return ParsePlatformJson(content);
  } catch (const PlatformError &error) {
    // Named as ReadInputFile names the file ("platform file: PATH: ...").
    throw PlatformError(std::string("platform file: ") + (path == kStandardStream ? "standard input" : path) + ": " +
                        error.what());
  }
}

}  // namespace sim
