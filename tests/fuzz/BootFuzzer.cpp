// Fuzzes a whole simulated boot: the driver's entry point, the start-up
// chain and the End-of-DXE work, on a platform described by the input.
//
// An input that begins with '{' is a platform description in the JSON
// format users write (the seeds include every description under
// tests/platforms). Any other input is read as a compact description, one
// field after another, each a byte or a few; a field past the end of the
// input reads 0, so the empty input is the default board:
//
//   flags      bit 0 NioTypeProtected absent, 1 no SMBIOS, 2 no PCD protocol,
//              3 no PI PCD protocol, 4 debug print service, 5 a heap buffer
//              list installed by another module, 6 no hand-off block list,
//              7 a UART
//   flags2     bit 0 no end block, 1 debug print appears after N lookups,
//              2 every allocation from N on fails, 3 the heap buffer list's
//              install fails, 4 a CPUID agent answers the stop, 5 own PCI
//              topology, 6 the variable is raw data, 7 own P-states
//   variable   the word (xor 0x200) and its size, or raw data
//   faults     allocations that fail alone
//   pcd        token values
//   hob list   blocks of every kind, malformed ones included
//   pci        root bridges, bridges (nested) and functions
//   uart, cpu, platform registers
//
// Every description goes through the platform parser, so a description it
// refuses is not booted. It refuses only with a PlatformError, what
// boardinv reports as a bad platform; any other exception escaping it is a
// finding. The checks are what must hold after any boot: no memory error
// (the sanitizers), no block freed twice or never allocated, nothing held
// but the heap buffer nodes once the boot has returned, a heap buffer list
// whose links agree both ways, and SMBIOS records that are well formed, at
// most one per layout row and connectors before slots.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <nlohmann/json.hpp>
#include <set>
#include <string>

#include "driver/firmware/Guids.h"
#include "host/boot/Boot.h"
#include "host/boot/Report.h"
#include "host/sim/Platform.h"
#include "driver/inventory/Inventory.h"
#include "tests/fuzz/FuzzFirmware.h"

namespace {

using nlohmann::json;

using fuzz::Check;

class Reader {
 public:
  Reader(const uint8_t *data, size_t size) : data_(data), size_(size) {}
  uint8_t Byte() { return offset_ < size_ ? data_[offset_++] : 0; }
  uint16_t U16() { return static_cast<uint16_t>(Byte() | (Byte() << 8)); }
  uint32_t U32() { return static_cast<uint32_t>(U16() | (static_cast<uint32_t>(U16()) << 16)); }
  uint64_t U64() { return U32() | (static_cast<uint64_t>(U32()) << 32); }
  std::string HexBytes(size_t count) {
    static const char kDigits[] = "0123456789ABCDEF";
    std::string text;
    for (size_t i = 0; i < count; i++) {
      const uint8_t value = Byte();
      text += i == 0 ? "" : " ";
      text += kDigits[value >> 4];
      text += kDigits[value & 0xF];
    }
    return text;
  }

 private:
  const uint8_t *data_;
  size_t size_;
  size_t offset_ = 0;
};

std::string Hex(uint64_t value) {
  char text[24];
  std::snprintf(text, sizeof(text), "0x%llX", static_cast<unsigned long long>(value));
  return text;
}

// Names of GUID extension blocks: the heap hand-off GUID, another, and the
// HOB list's own.
std::string BlockGuid(uint8_t which) {
  switch (which % 3) {
    case 0:
      return sim::GuidToString(gHeapHandOffGuid);
    case 1:
      return "12345678-1234-5678-9ABC-DEF012345678";
    default:
      return sim::GuidToString(gEfiHobListGuid);
  }
}

json PciFunction(Reader &in) {
  const uint8_t location = in.Byte();
  const uint8_t flags = in.Byte();
  json function = {{"device", location & 0x1F}, {"function", location >> 5}, {"vendor_id", Hex(in.U16() % 0xFFFF)}};
  function["device_id"] = Hex(in.U16());
  if (flags & 1) {
    function["fail_get_location"] = true;
  }
  if (flags & 2) {
    function["fail_pci_read"] = true;
  }
  if (flags & 4) {
    function["class_code"] = Hex(in.U32() & 0xFFFFFF);
  }
  return function;
}

json PciBridge(Reader &in, uint8_t &nextBus, int depth) {
  json bridge = PciFunction(in);
  const uint8_t shape = in.Byte();
  bridge["secondary_bus"] = nextBus++;
  json functions = json::array();
  for (int i = 0; i < (shape & 3); i++) {
    functions.push_back(PciFunction(in));
  }
  bridge["functions"] = functions;
  if (depth < 2 && (shape & 4) != 0) {
    json bridges = json::array();
    for (int i = 0; i < 1 + ((shape >> 3) & 1); i++) {
      bridges.push_back(PciBridge(in, nextBus, depth + 1));
    }
    bridge["bridges"] = bridges;
  }
  bridge["subordinate_bus"] = nextBus - 1;
  return bridge;
}

json PciTopology(Reader &in) {
  json roots = json::array();
  const uint8_t count = 1 + in.Byte() % 2;
  for (uint8_t r = 0; r < count; r++) {
    const uint8_t shape = in.Byte();
    uint8_t nextBus = static_cast<uint8_t>(r * 0x40 + 1);
    json root = {{"uid", r == 0 ? (shape >> 6) & 1 : 1 + ((shape >> 6) & 1)}, {"bus", r * 0x40}};
    json bridges = json::array();
    for (int i = 0; i < (shape & 3); i++) {
      bridges.push_back(PciBridge(in, nextBus, 0));
    }
    json functions = json::array();
    for (int i = 0; i < ((shape >> 2) & 3); i++) {
      functions.push_back(PciFunction(in));
    }
    root["bridges"] = bridges;
    root["functions"] = functions;
    roots.push_back(root);
  }
  return {{"root_bridges", roots}};
}

json HobBlock(Reader &in) {
  const uint8_t kind = in.Byte() % 5;
  const uint8_t flags = in.Byte();
  json block;
  switch (kind) {
    case 0:
      block = {{"kind", "heap"}, {"pool_kind", in.Byte()}, {"transfer_flag", in.Byte() % 3}};
      if (flags & 1) {
        block["signature"] = Hex(in.U32());
      }
      if (flags & 2) {
        block["size"] = Hex(in.U16());
      }
      if (flags & 4) {
        block["reserved"] = Hex(in.U32());
      }
      block["payload"] = in.HexBytes(in.Byte() % 48);
      break;
    case 1:
      block = {{"kind", "guid"}, {"name", BlockGuid(in.Byte())}, {"data", in.HexBytes(in.Byte() % 48)}};
      break;
    case 2:
      block = {{"kind", "other"}, {"hob_type", Hex(in.U16())}, {"data", in.HexBytes(in.Byte() % 32)}};
      break;
    case 3:
      return {{"kind", "raw"}, {"bytes", in.HexBytes(in.Byte() % 40)}};
    default:
      return {{"kind", "end"}};
  }
  if (flags & 8) {
    block["hob_length"] = Hex(in.U16());
  }
  return block;
}

// The compact form, as a description the platform parser reads.
json Describe(const uint8_t *data, size_t size) {
  Reader in(data, size);
  const uint8_t flags = in.Byte();
  const uint8_t flags2 = in.Byte();
  json platform = {{"name", "fuzzed"}};

  if ((flags & 1) == 0) {
    json variable = {{"name", "NioTypeProtected"}};
    if (flags2 & 0x40) {
      variable["data"] = in.HexBytes(in.Byte() % 12);
    } else {
      const uint32_t word = in.U32() ^ 0x200;
      const uint8_t size = in.Byte();
      const unsigned bytes = size == 0 ? 4 : size % 9;
      const uint64_t mask = bytes >= 8 ? ~0ULL : (1ULL << (8 * bytes)) - 1;
      variable["value"] = Hex(word & mask);
      variable["size"] = bytes;
    }
    const uint8_t attributes = in.Byte();
    if (attributes != 0) {
      variable["attributes"] = attributes;
    }
    platform["variables"] = json::array({variable});
  }

  json protocols = {{"smbios", (flags & 2) == 0},
                    {"pcd", (flags & 4) == 0},
                    {"efi_pcd", (flags & 8) == 0},
                    {"debug_print", (flags & 0x10) != 0},
                    {"heap_buffer_list", (flags & 0x20) != 0}};
  if (flags2 & 2) {
    protocols["debug_print_after_lookups"] = in.Byte() % 16;
  }
  platform["protocols"] = protocols;

  json faults = json::object();
  json failing = json::array();
  for (uint8_t count = in.Byte() % 4; count > 0; count--) {
    failing.push_back(1 + in.Byte());
  }
  faults["fail_allocations"] = failing;
  if (flags2 & 4) {
    faults["fail_allocations_from"] = 1 + in.Byte();
  }
  if (flags2 & 8) {
    faults["fail_installs"] = json::array(
        {{{"guid", sim::GuidToString(gHeapBufferListProtocolGuid)}, {"status", Hex(0x8000000000000000ULL | (in.Byte() % 32))}}});
  }
  platform["faults"] = faults;

  static const uint16_t kTokens[] = {625, 567, 628, 626, 576, 575, 627, 0};
  json tokens = json::object();
  for (uint8_t count = in.Byte() % 4; count > 0; count--) {
    const uint8_t token = in.Byte() % 8;
    tokens[std::to_string(token < 7 ? kTokens[token] : in.U16())] = Hex(in.U32());
  }
  platform["pcd_tokens"] = tokens;

  const uint8_t blocks = in.Byte() % 7;
  if (flags & 0x40) {
    platform["hob_list"] = {{"present", false}};
  } else if (blocks != 0) {
    json list = json::array();
    for (uint8_t i = 0; i < blocks; i++) {
      list.push_back(HobBlock(in));
    }
    platform["hob_list"] = {{"blocks", list}, {"end_block", (flags2 & 1) == 0}};
  }

  if (flags2 & 0x20) {
    platform["pci"] = PciTopology(in);
  }
  if (flags & 0x80) {
    platform["uart"] = {{"present", true},
                        {"line_status", Hex(in.Byte())},
                        {"modem_status", Hex(in.Byte())},
                        {"line_status_ready_on_read", in.Byte() % 4},
                        {"clear_to_send_on_read", in.Byte() % 4}};
  }
  json cpu = {{"stop_display_values", 1 + in.Byte() % 24}, {"tsc_start", in.U32()}};
  if (flags2 & 0x10) {
    cpu["stop_override"] = Hex(in.U16() | 1);
  }
  if (flags2 & 0x80) {
    json pstates = json::array();
    for (uint8_t count = in.Byte() % 4; count > 0; count--) {
      pstates.push_back(in.U64());
    }
    cpu["pstates"] = pstates;
  }
  platform["cpu"] = cpu;

  const uint8_t registers = in.Byte();
  if (registers != 0) {
    json values = json::object();
    if (registers & 1) {
      values["0x03810A84"] = Hex(in.U32());
    }
    if (registers & 2) {
      values["0x03810A88"] = Hex(in.U32());
    }
    platform["platform_registers"] = {{"index", Hex(in.U32())}, {"registers", values}};
  }
  return platform;
}

// Keeps the simulated time moving fast enough that the timed holds of the
// stop display take a few thousand counter reads, and keeps the counter
// far from wrapping: a machine's counter never gets near that.
void BoundSimulatedTime(sim::Platform &platform) {
  if (platform.cpu.tscStep < 10000000) {
    platform.cpu.tscStep = 10000000;
  }
  platform.cpu.tscStart &= (1ULL << 48) - 1;
  if (platform.cpu.stopDisplayValues > 24) {
    platform.cpu.stopDisplayValues = 24;
  }
}

void CheckRecords(const host::BootResult &result) {
  const BoardLayout *layout = nullptr;
  if (result.variantCode) {
    layout = LayoutForVariant(*result.variantCode);
  }
  Check(result.records.empty() || layout != nullptr, "records were added without a layout");
  size_t connectors = 0;
  size_t slots = 0;
  std::set<uint16_t> handles;
  for (const sim::SmbiosRecord &record : result.records) {
    const std::vector<uint8_t> &bytes = record.bytes;
    Check(bytes.size() >= 4 && bytes[1] <= bytes.size(), "a record shorter than its formatted area");
    Check(bytes[0] == 8 || bytes[0] == 9, "a record of a type the driver does not add");
    Check(bytes[0] == 8 ? bytes[1] == 9 : bytes[1] >= 0x11, "a record's formatted length is wrong");
    Check(bytes.size() >= static_cast<size_t>(bytes[1]) + 2 && bytes[bytes.size() - 1] == 0 &&
              bytes[bytes.size() - 2] == 0,
          "a record's string set is not closed by two zeros");
    Check(handles.insert(record.handle).second, "two records share a handle");
    if (bytes[0] == 8) {
      Check(slots == 0, "a connector record after a slot record");
      connectors++;
    } else {
      slots++;
    }
  }
  if (layout != nullptr) {
    Check(connectors <= layout->ConnectorCount, "more connector records than layout rows");
    Check(slots <= layout->SlotCount, "more slot records than layout slots");
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  sim::Platform platform;
  try {
    if (size > 0 && data[0] == '{') {
      platform = sim::ParsePlatformJson(std::string(reinterpret_cast<const char *>(data), size));
    } else {
      platform = sim::ParsePlatformJson(Describe(data, size).dump());
    }
  } catch (const sim::PlatformError &) {
    return -1;  // refused by the parser: not a platform
  }
  BoundSimulatedTime(platform);

  const host::BootResult result = host::RunBoot(platform);
  Check(result.pool.invalidFrees == 0, "a block was freed that the pool never gave out");
  Check(result.pool.damagedBlocks.empty(), "the guard bytes of a pool block were overwritten");
  Check(result.malformedRecords.empty(), "a malformed SMBIOS record was added");
  Check(result.startup.heapListLinksConsistent, "the heap buffer list's links disagree");
  if (!result.startup.parked) {
    Check(result.pool.outstandingBlocks == result.startup.heapNodes.size(),
          "pool blocks other than the heap buffer nodes are held after the boot");
    if (result.eventCreated) {
      Check(result.eventNotifications == 1, "the End-of-DXE notification ran other than once");
      Check(!result.installed || result.eventClosed, "the End-of-DXE event is left open after the install");
    }
  }
  for (const host::HeapBufferNodeView &node : result.startup.heapNodes) {
    Check(node.memoryType.has_value(), "a heap buffer node is not a pool block");
  }
  CheckRecords(result);
  // The reports read everything the boot left; they must take any of it.
  (void)host::BootReportJson(result).dump();
  (void)host::BootReportText(result);
  return 0;
}
