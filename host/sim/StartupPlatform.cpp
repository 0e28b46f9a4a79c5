// The start-up services' part of a platform description: PCD protocols and
// tokens, the debug print service, the heap buffer list, the hand-off block
// list, the platform registers, the UART and the processor.
#include "host/sim/StartupPlatform.h"

#include <map>
#include <string>

#include "driver/firmware/Guids.h"
#include "host/sim/JsonFields.h"
#include "host/sim/Text.h"

namespace sim {

using nlohmann::json;

namespace {

// A GUID text field.
EFI_GUID ReadGuid(const json &value, const std::string &field) {
  if (!value.is_string()) {
    FailField(field, "must be a GUID text");
  }
  auto guid = GuidFromString(value.get<std::string>());
  if (!guid) {
    FailField(field, "not a GUID: \"" + value.get<std::string>() + "\"");
  }
  return *guid;
}

// The members of an object whose keys are numbers (decimal or 0x text, up
// to max), each handed to use(number, value, field) with the field
// "where.KEY". Keys are compared as numbers: two that name the same one in
// any spelling ("625", "0625", "0x271") are refused, naming both.
template <typename Use>
void ForEachNumberKey(const json &object, const std::string &where, const std::string &what, uint64_t max,
                      Use use) {
  std::map<uint64_t, std::string> spellings;
  for (auto it = object.begin(); it != object.end(); ++it) {
    const std::string field = where + "." + it.key();
    const uint64_t number = ReadUnsignedField(json(it.key()), field, max);
    const auto [earlier, added] = spellings.emplace(number, it.key());
    if (!added) {
      FailField(field, "the same " + what + " as \"" + earlier->second + "\" (" + Hex(number) + ")");
    }
    use(number, it.value(), field);
  }
}

HandOffBlock ReadHandOffBlock(const json &entry, const std::string &where) {
  if (!entry.is_object() || !entry.contains("kind") || !entry["kind"].is_string()) {
    FailField(where + ".kind", "required: \"heap\", \"guid\", \"other\", \"raw\" or \"end\"");
  }
  const std::string kind = entry["kind"].get<std::string>();
  HandOffBlock block;
  if (kind == "heap") {
    CheckFields(entry, where,
                {"kind", "name", "signature", "reserved", "size", "pool_kind", "transfer_flag", "reserved2", "payload",
                 "hob_length"});
    block.kind = HandOffBlock::Kind::Heap;
    block.name = entry.contains("name") ? ReadGuid(entry["name"], where + ".name") : gHeapHandOffGuid;
    if (entry.contains("signature")) {
      block.signature = static_cast<uint32_t>(ReadUnsignedField(entry["signature"], where + ".signature", 0xFFFFFFFF));
    }
    if (entry.contains("reserved")) {
      block.reserved = static_cast<uint32_t>(ReadUnsignedField(entry["reserved"], where + ".reserved", 0xFFFFFFFF));
    }
    if (entry.contains("size")) {
      block.size = static_cast<uint32_t>(ReadUnsignedField(entry["size"], where + ".size", 0xFFFFFFFF));
    }
    if (entry.contains("pool_kind")) {
      block.poolKind = static_cast<uint8_t>(ReadUnsignedField(entry["pool_kind"], where + ".pool_kind", 0xFF));
    }
    if (entry.contains("transfer_flag")) {
      block.transferFlag =
          static_cast<uint8_t>(ReadUnsignedField(entry["transfer_flag"], where + ".transfer_flag", 0xFF));
    }
    if (entry.contains("reserved2")) {
      block.reserved2 = static_cast<uint16_t>(ReadUnsignedField(entry["reserved2"], where + ".reserved2", 0xFFFF));
    }
    if (entry.contains("payload")) {
      block.data = ReadHexBytesField(entry["payload"], where + ".payload");
    }
  } else if (kind == "guid") {
    CheckFields(entry, where, {"kind", "name", "data", "hob_length"});
    block.kind = HandOffBlock::Kind::Guid;
    if (!entry.contains("name")) {
      FailField(where + ".name", "required for a \"guid\" block");
    }
    block.name = ReadGuid(entry["name"], where + ".name");
    if (entry.contains("data")) {
      block.data = ReadHexBytesField(entry["data"], where + ".data");
    }
  } else if (kind == "other") {
    CheckFields(entry, where, {"kind", "hob_type", "data", "hob_length"});
    block.kind = HandOffBlock::Kind::Other;
    if (!entry.contains("hob_type")) {
      FailField(where + ".hob_type", "required for an \"other\" block");
    }
    block.hobType = static_cast<uint16_t>(ReadUnsignedField(entry["hob_type"], where + ".hob_type", 0xFFFF));
    if (entry.contains("data")) {
      block.data = ReadHexBytesField(entry["data"], where + ".data");
    }
  } else if (kind == "raw") {
    CheckFields(entry, where, {"kind", "bytes"});
    block.kind = HandOffBlock::Kind::Raw;
    if (!entry.contains("bytes")) {
      FailField(where + ".bytes", "required for a \"raw\" block");
    }
    block.data = ReadHexBytesField(entry["bytes"], where + ".bytes");
  } else if (kind == "end") {
    CheckFields(entry, where, {"kind"});
    block.kind = HandOffBlock::Kind::End;
  } else {
    FailField(where + ".kind", "not a block kind: \"" + kind + "\" (heap, guid, other, raw, end)");
  }
  if (entry.contains("hob_length")) {
    block.hobLength = static_cast<uint16_t>(ReadUnsignedField(entry["hob_length"], where + ".hob_length", 0xFFFF));
  }
  try {
    BuildHobList({true, {block}, false});
  } catch (const PlatformError &error) {
    FailField(where, error.what());
  }
  return block;
}

uint64_t ReadPstate(const json &value, const std::string &field) {
  if (!value.is_object()) {
    return ReadUnsignedField(value, field, ~0ULL);
  }
  CheckFields(value, field, {"enabled", "multiplier", "divisor"});
  uint64_t definition = 0;
  if (value.contains("enabled") && ReadBoolField(value["enabled"], field + ".enabled")) {
    definition |= 1ULL << 63;
  }
  if (value.contains("multiplier")) {
    definition |= ReadUnsignedField(value["multiplier"], field + ".multiplier", 0xFF);
  }
  if (value.contains("divisor")) {
    definition |= ReadUnsignedField(value["divisor"], field + ".divisor", 0x3F) << 8;
  }
  return definition;
}

}  // namespace

void ReadStartupProtocolFields(const json &protocols, Platform &platform) {
  if (protocols.contains("pcd")) {
    platform.protocols.pcd = ReadBoolField(protocols["pcd"], "protocols.pcd");
  }
  if (protocols.contains("efi_pcd")) {
    platform.protocols.efiPcd = ReadBoolField(protocols["efi_pcd"], "protocols.efi_pcd");
  }
  if (protocols.contains("debug_print")) {
    platform.protocols.debugPrint = ReadBoolField(protocols["debug_print"], "protocols.debug_print");
  }
  if (protocols.contains("debug_print_after_lookups")) {
    if (platform.protocols.debugPrint) {
      FailField("protocols.debug_print_after_lookups", "goes with a debug print service that is not present at first");
    }
    platform.protocols.debugPrintAfterLookups =
        ReadUnsignedField(protocols["debug_print_after_lookups"], "protocols.debug_print_after_lookups", ~0ULL);
  }
  if (protocols.contains("heap_buffer_list")) {
    platform.protocols.heapBufferList = ReadBoolField(protocols["heap_buffer_list"], "protocols.heap_buffer_list");
  }
}

void ReadStartupFields(const json &root, Platform &platform) {
  if (root.contains("pcd_tokens")) {
    const json &tokens = root["pcd_tokens"];
    if (!tokens.is_object()) {
      FailField("pcd_tokens", "must be an object of token number to value");
    }
    ForEachNumberKey(tokens, "pcd_tokens", "token", ~0ULL,
                     [&](uint64_t token, const json &value, const std::string &field) {
                       platform.pcdTokens[token] = value.is_boolean() ? (value.get<bool>() ? 1 : 0)
                                                                      : ReadUnsignedField(value, field, 0xFFFFFFFF);
                     });
  }
  if (root.contains("hob_list")) {
    const json &hobList = root["hob_list"];
    CheckFields(hobList, "hob_list", {"present", "blocks", "end_block"});
    if (hobList.contains("present")) {
      platform.hobList.present = ReadBoolField(hobList["present"], "hob_list.present");
    }
    if (hobList.contains("end_block")) {
      platform.hobList.endBlock = ReadBoolField(hobList["end_block"], "hob_list.end_block");
    }
    if (hobList.contains("blocks")) {
      if (!hobList["blocks"].is_array()) {
        FailField("hob_list.blocks", "must be an array of blocks");
      }
      platform.hobList.blocks.clear();
      for (size_t i = 0; i < hobList["blocks"].size(); i++) {
        platform.hobList.blocks.push_back(
            ReadHandOffBlock(hobList["blocks"][i], "hob_list.blocks[" + std::to_string(i) + "]"));
      }
    }
  }
  if (root.contains("platform_registers")) {
    const json &registers = root["platform_registers"];
    CheckFields(registers, "platform_registers", {"index", "registers"});
    if (registers.contains("index")) {
      platform.platformRegisters.index =
          static_cast<uint32_t>(ReadUnsignedField(registers["index"], "platform_registers.index", 0xFFFFFFFF));
    }
    if (registers.contains("registers")) {
      const json &values = registers["registers"];
      if (!values.is_object()) {
        FailField("platform_registers.registers", "must be an object of register number to value");
      }
      ForEachNumberKey(values, "platform_registers.registers", "register", 0xFFFFFFFF,
                       [&](uint64_t number, const json &value, const std::string &field) {
                         platform.platformRegisters.registers[static_cast<uint32_t>(number)] =
                             static_cast<uint32_t>(ReadUnsignedField(value, field, 0xFFFFFFFF));
                       });
    }
  }
  if (root.contains("uart")) {
    const json &uart = root["uart"];
    CheckFields(uart, "uart",
                {"present", "line_status", "modem_status", "line_status_ready_on_read", "clear_to_send_on_read"});
    if (uart.contains("present")) {
      platform.uart.present = ReadBoolField(uart["present"], "uart.present");
    }
    if (uart.contains("line_status")) {
      platform.uart.lineStatus = static_cast<uint8_t>(ReadUnsignedField(uart["line_status"], "uart.line_status", 0xFF));
    }
    if (uart.contains("modem_status")) {
      platform.uart.modemStatus =
          static_cast<uint8_t>(ReadUnsignedField(uart["modem_status"], "uart.modem_status", 0xFF));
    }
    if (uart.contains("line_status_ready_on_read")) {
      platform.uart.lineStatusReadyOnRead =
          ReadUnsignedField(uart["line_status_ready_on_read"], "uart.line_status_ready_on_read", ~0ULL);
    }
    if (uart.contains("clear_to_send_on_read")) {
      platform.uart.clearToSendOnRead =
          ReadUnsignedField(uart["clear_to_send_on_read"], "uart.clear_to_send_on_read", ~0ULL);
    }
  }
  if (root.contains("cpu")) {
    const json &cpu = root["cpu"];
    CheckFields(cpu, "cpu", {"pstates", "tsc_start", "tsc_step", "stop_override", "stop_display_values"});
    if (cpu.contains("pstates")) {
      if (!cpu["pstates"].is_array() || cpu["pstates"].size() > 8) {
        FailField("cpu.pstates", "must be an array of at most 8 P-state definitions");
      }
      platform.cpu.pstates.clear();
      for (size_t i = 0; i < cpu["pstates"].size(); i++) {
        platform.cpu.pstates.push_back(ReadPstate(cpu["pstates"][i], "cpu.pstates[" + std::to_string(i) + "]"));
      }
    }
    if (cpu.contains("tsc_start")) {
      platform.cpu.tscStart = ReadUnsignedField(cpu["tsc_start"], "cpu.tsc_start", ~0ULL);
    }
    if (cpu.contains("tsc_step")) {
      platform.cpu.tscStep = ReadUnsignedField(cpu["tsc_step"], "cpu.tsc_step", ~0ULL);
      if (platform.cpu.tscStep == 0) {
        FailField("cpu.tsc_step", "must be at least 1, or a stop display would never move on");
      }
    }
    if (cpu.contains("stop_override")) {
      platform.cpu.stopOverride =
          static_cast<uint16_t>(ReadUnsignedField(cpu["stop_override"], "cpu.stop_override", 0xFFFF));
    }
    if (cpu.contains("stop_display_values")) {
      platform.cpu.stopDisplayValues =
          ReadUnsignedField(cpu["stop_display_values"], "cpu.stop_display_values", 1000000);
      if (platform.cpu.stopDisplayValues == 0) {
        FailField("cpu.stop_display_values", "must be at least 1");
      }
    }
  }
}

void ReadInstallFailureFields(const json &faults, Platform &platform) {
  if (!faults.contains("fail_installs")) {
    return;
  }
  if (!faults["fail_installs"].is_array()) {
    FailField("faults.fail_installs", "must be an array of protocol GUIDs or {\"guid\", \"status\"} objects");
  }
  for (size_t i = 0; i < faults["fail_installs"].size(); i++) {
    const std::string field = "faults.fail_installs[" + std::to_string(i) + "]";
    const json &entry = faults["fail_installs"][i];
    FaultInjection::InstallFailure failure{{}, EFI_OUT_OF_RESOURCES};
    if (entry.is_string()) {
      failure.guid = ReadGuid(entry, field);
    } else {
      CheckFields(entry, field, {"guid", "status"});
      if (!entry.contains("guid")) {
        FailField(field + ".guid", "required");
      }
      failure.guid = ReadGuid(entry["guid"], field + ".guid");
      if (entry.contains("status")) {
        failure.status = ReadUnsignedField(entry["status"], field + ".status", ~0ULL);
        if (failure.status == EFI_SUCCESS) {
          FailField(field + ".status", "a failure needs a nonzero status");
        }
      }
    }
    platform.faults.failInstalls.push_back(failure);
  }
}

std::map<uint64_t, uint64_t> Platform::DefaultPcdTokens() {
  // The 8-bit and 32-bit tokens hold their own numbers (cut to the width
  // they are read with), so that a snapshot shows where each landed; of the
  // two boolean tokens, 625 is true and 626 false.
  return {{625, 1}, {567, 0x37}, {628, 0x274}, {626, 0}, {576, 0x240}, {575, 0x23F}, {627, 0x73}};
}

HobListDescription Platform::DefaultHobList() {
  HobListDescription list;
  HandOffBlock bootBuffer;
  bootBuffer.name = gHeapHandOffGuid;
  bootBuffer.poolKind = 4;
  const std::string bootText = "boot heap buffer";
  bootBuffer.data.assign(bootText.begin(), bootText.end());
  HandOffBlock runtimeBuffer;
  runtimeBuffer.name = gHeapHandOffGuid;
  runtimeBuffer.poolKind = 8;
  const std::string runtimeText = "runtime-services buffer!";
  runtimeBuffer.data.assign(runtimeText.begin(), runtimeText.end());
  list.blocks = {bootBuffer, runtimeBuffer};
  return list;
}

std::vector<uint8_t> BuildHobList(const HobListDescription &description) {
  std::vector<uint8_t> bytes;
  auto put16 = [](std::vector<uint8_t> &out, uint16_t value) {
    out.push_back(static_cast<uint8_t>(value));
    out.push_back(static_cast<uint8_t>(value >> 8));
  };
  auto put32 = [&](std::vector<uint8_t> &out, uint32_t value) {
    put16(out, static_cast<uint16_t>(value));
    put16(out, static_cast<uint16_t>(value >> 16));
  };
  auto putGuid = [](std::vector<uint8_t> &out, const EFI_GUID &guid) {
    const auto *raw = reinterpret_cast<const uint8_t *>(&guid);
    out.insert(out.end(), raw, raw + sizeof(EFI_GUID));
  };
  auto emit = [&](const HandOffBlock &block) {
    std::vector<uint8_t> body;  // everything behind the 8-byte generic header
    uint16_t type = 0;
    switch (block.kind) {
      case HandOffBlock::Kind::Raw:
        bytes.insert(bytes.end(), block.data.begin(), block.data.end());
        return;
      case HandOffBlock::Kind::End:
        type = 0xFFFF;
        break;
      case HandOffBlock::Kind::Heap:
        type = 0x0004;
        putGuid(body, block.name);
        put32(body, block.signature);
        put32(body, block.reserved);
        put32(body, block.size.value_or(static_cast<uint32_t>(block.data.size())));
        body.push_back(block.poolKind);
        body.push_back(block.transferFlag);
        put16(body, block.reserved2);
        body.insert(body.end(), block.data.begin(), block.data.end());
        break;
      case HandOffBlock::Kind::Guid:
        type = 0x0004;
        putGuid(body, block.name);
        body.insert(body.end(), block.data.begin(), block.data.end());
        break;
      case HandOffBlock::Kind::Other:
        type = block.hobType;
        body.insert(body.end(), block.data.begin(), block.data.end());
        break;
    }
    // Blocks are 8-byte multiples, padded with zeros.
    const size_t length = (8 + body.size() + 7) & ~size_t{7};
    if (length > 0xFFFF) {
      throw PlatformError("the block does not fit a 16-bit HobLength (" + std::to_string(length) + " bytes)");
    }
    body.resize(length - 8, 0);
    put16(bytes, type);
    put16(bytes, block.hobLength.value_or(static_cast<uint16_t>(length)));
    put32(bytes, 0);
    bytes.insert(bytes.end(), body.begin(), body.end());
  };
  for (const HandOffBlock &block : description.blocks) {
    emit(block);
  }
  if (description.endBlock) {
    HandOffBlock end;
    end.kind = HandOffBlock::Kind::End;
    emit(end);
  }
  return bytes;
}

void AppendZerosTheChainReaches(std::vector<uint8_t> &list) {
  constexpr size_t kHeader = 8;
  for (size_t offset = 0;;) {
    if (offset + kHeader > list.size()) {
      list.resize(offset + kHeader, 0);  // a header cut by the end reads on into zeros
    }
    const uint16_t type = static_cast<uint16_t>(list[offset] | (list[offset + 1] << 8));
    const uint16_t length = static_cast<uint16_t>(list[offset + 2] | (list[offset + 3] << 8));
    if (type == 0xFFFF || length < kHeader) {
      return;
    }
    offset += length;
  }
}

}  // namespace sim
