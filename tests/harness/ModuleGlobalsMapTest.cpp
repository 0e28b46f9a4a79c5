// The globals the harness resets are exactly the image's writable globals:
// every symbol that the linker's map places in a writable section of
// BoardInventory.efi is in host::ModuleGlobals() (the table pointers the
// harness wires included), every listed global is such a symbol, and the
// bytes the harness resets cover the symbol and no more. A global added to
// the driver without a reset fails here, by name.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstdio>
#include <fstream>
#include <functional>
#include <map>
#include <ostream>
#include <set>
#include <span>
#include <stdexcept>
#include <string>
#include <vector>

#include "host/boot/DriverState.h"
#include "host/harness/DriverGlobals.h"
#include "host/loader/PeImage.h"

namespace {

// The identifier a symbol's name begins with: "gSmbios" for
// ?gSmbios@@3PEAUEFI_SMBIOS_PROTOCOL@@EA, "gLayoutASlots" for
// ?gLayoutASlots@?A0x8BA99188@@3PAUSystemSlotEntry@@A; an undecorated
// name (extern "C") as it is, and so a compiler-made one ("??_C@...").
std::string Identifier(const std::string &symbol) {
  if (symbol.size() > 1 && symbol[0] == '?' && symbol[1] != '?') {
    const size_t at = symbol.find('@');
    return symbol.substr(1, at == std::string::npos ? std::string::npos : at - 1);
  }
  return symbol;
}

std::string Hex(uint64_t value) {
  char text[24];
  std::snprintf(text, sizeof(text), "0x%llX", static_cast<unsigned long long>(value));
  return text;
}

// Every difference between the symbols in the image's writable sections and
// the globals the harness resets, one line each, naming the global.
std::vector<std::string> Differences(const loader::PeImage &image, const std::map<std::string, uint32_t> &symbols,
                                     std::span<const host::ModuleGlobal> list) {
  struct Found {
    std::string symbol;
    uint32_t rva;
    const loader::Section *section;
  };
  std::map<std::string, std::vector<Found>> writable;  // by identifier
  std::set<uint32_t> starts;                           // of every symbol, to measure each one's room
  for (const auto &[symbol, rva] : symbols) {
    starts.insert(rva);
    const loader::Section *section = image.SectionHolding(rva, 1);
    if (section != nullptr && section->Writable()) {
      writable[Identifier(symbol)].push_back({symbol, rva, section});
    }
  }

  std::vector<std::string> differences;
  std::set<std::string> listed;
  for (const host::ModuleGlobal &global : list) {
    const std::string name = global.name;
    if (!listed.insert(name).second) {
      differences.push_back(name + ": listed more than once");
      continue;
    }
    const auto found = writable.find(name);
    if (found == writable.end()) {
      differences.push_back(name + ": reset by the harness, but no symbol of a writable section of the image");
      continue;
    }
    if (found->second.size() > 1) {
      std::string all;
      for (const Found &each : found->second) {
        all += (all.empty() ? "" : ", ") + each.symbol;
      }
      differences.push_back(name + ": " + std::to_string(found->second.size()) +
                            " symbols in writable sections of the image (" + all + "), the harness resets one");
      continue;
    }
    // Its room: up to the next symbol, or to the end of its section.
    const Found &symbol = found->second.front();
    uint64_t end = uint64_t{symbol.section->virtualAddress} + symbol.section->MemorySize();
    if (const auto next = starts.upper_bound(symbol.rva); next != starts.end() && *next < end) {
      end = *next;
    }
    const uint64_t room = end - symbol.rva;
    if (global.size > room) {
      differences.push_back(name + ": the harness resets " + std::to_string(global.size) + " bytes, but only " +
                            std::to_string(room) + " lie between its symbol and the next");
    } else if (room - global.size >= 16) {
      differences.push_back(name + ": the harness resets " + std::to_string(global.size) + " bytes of the " +
                            std::to_string(room) + " between its symbol and the next");
    }
  }
  for (const auto &[identifier, found] : writable) {
    if (listed.count(identifier) == 0) {
      for (const Found &each : found) {
        differences.push_back(identifier + " (" + each.symbol + ", RVA " + Hex(each.rva) + " in " +
                              each.section->name + "): a writable global of the image that the harness does not reset");
      }
    }
  }
  return differences;
}

std::string Lines(const std::vector<std::string> &lines) {
  std::string text;
  for (const std::string &line : lines) {
    text += "  " + line + "\n";
  }
  return text;
}

TEST(ModuleGlobalsMapTest, TheImagesWritableGlobalsAreExactlyTheOnesTheHarnessResets) {
  loader::PeImage image;
  std::map<std::string, uint32_t> symbols;
  try {
    image = loader::ReadPeImage(BOARDINV_EFI_IMAGE);
    symbols = loader::ReadSymbolMap(BOARDINV_EFI_MAP);
  } catch (const loader::ImageError &error) {
    FAIL() << error.what() << " (the efi preset builds the image and its map)";
  }
  size_t inWritableSections = 0;
  for (const auto &[symbol, rva] : symbols) {
    const loader::Section *section = image.SectionHolding(rva, 1);
    inWritableSections += section != nullptr && section->Writable() ? 1 : 0;
  }
  EXPECT_GT(inWritableSections, 0u) << "the map places nothing in a writable section";
  const std::vector<std::string> differences = Differences(image, symbols, host::ModuleGlobals());
  EXPECT_TRUE(differences.empty()) << BOARDINV_EFI_MAP << " and host::ModuleGlobals() differ:\n" << Lines(differences);
}

// A fake image: code, read-only data, writable data (with a zero-filled
// tail) and a second writable section of another name. Its map places the
// listed globals from 0x3100 in .data, one after the other, 8-byte aligned,
// and a few symbols of code and constants.
struct Fake {
  loader::PeImage image;
  std::map<std::string, uint32_t> symbols;  // decorated name, RVA
  std::vector<host::ModuleGlobal> list = {host::ModuleGlobals().begin(), host::ModuleGlobals().end()};
};

std::string FakeDecoration(const std::string &name) {
  const bool anonymousNamespace = name.size() > 5 && name.compare(name.size() - 5, 5, "Slots") == 0;
  return "?" + name + (anonymousNamespace ? "@?A0x1234ABCD@@3PAUSystemSlotEntry@@A" : "@@3PEAXEA");
}

Fake MakeFake() {
  Fake fake;
  uint32_t at = 0x3100;
  for (const host::ModuleGlobal &global : fake.list) {
    fake.symbols[FakeDecoration(global.name)] = at;
    at += static_cast<uint32_t>((global.size + 7) / 8 * 8);
  }
  fake.symbols["DriverEntry"] = 0x1000;
  fake.symbols["?OnEndOfDxe@@YAXPEAX0@Z"] = 0x1040;
  fake.symbols["?gLayoutAConnectors@?A0x1234ABCD@@3QBUPortConnectorEntry@@B"] = 0x2000;
  fake.symbols["??_C@_01LOCGONAA@?$AA?$AA@"] = 0x2080;
  const uint32_t read = loader::kScnMemRead;
  const uint32_t write = loader::kScnMemWrite;
  fake.image.sections = {
      {".text", 0x1000, 0x1000, 0x400, 0x1000, loader::kScnMemExecute | read},
      {".rdata", 0x2000, 0x1000, 0x1400, 0x1000, read},
      {".data", 0x3000, at - 0x3000, 0x2400, 0x200, read | write},
      {".wdat", 0x4000, 0x1000, 0x2600, 0x200, read | write},
  };
  return fake;
}

// The map as lld-link writes it, read back by the loader's map reader.
std::map<std::string, uint32_t> WriteAndReadMap(const Fake &fake, const std::string &name) {
  std::string text =
      " BoardInventory\n\n Timestamp is 00000000 (Repro mode)\n\n Preferred load address is 0000000000000000\n\n"
      " Start         Length     Name                   Class\n";
  for (size_t i = 0; i < fake.image.sections.size(); i++) {
    char line[128];
    const loader::Section &section = fake.image.sections[i];
    std::snprintf(line, sizeof(line), " %04zu:00000000 %08XH %-22s %s\n", i + 1, section.virtualSize,
                  section.name.c_str(), section.Executable() ? "CODE" : "DATA");
    text += line;
  }
  text += "\n  Address         Publics by Value              Rva+Base               Lib:Object\n\n";
  for (const auto &[symbol, rva] : fake.symbols) {
    const loader::Section *section = fake.image.SectionHolding(rva, 1);
    const size_t number = section == nullptr ? 0 : section - fake.image.sections.data() + 1;
    char address[32];
    std::snprintf(address, sizeof(address), " %04zu:%08X       ", number,
                  section == nullptr ? rva : rva - section->virtualAddress);
    char base[24];
    std::snprintf(base, sizeof(base), " %016X", rva);
    text += address + symbol + base + "     Fake.cpp.obj\n";
  }
  text += "\n entry point at         0001:00000000\n";
  const std::string path = ::testing::TempDir() + "/harness-" + name + ".map";
  std::ofstream(path) << text;
  return loader::ReadSymbolMap(path);
}

uint32_t FakeRva(const Fake &fake, const std::string &name) { return fake.symbols.at(FakeDecoration(name)); }

host::ModuleGlobal &Listed(Fake &fake, const std::string &name) {
  for (host::ModuleGlobal &global : fake.list) {
    if (global.name == name) {
      return global;
    }
  }
  throw std::logic_error(name + " is not listed");
}

struct FakeCase {
  std::string name;
  std::function<void(Fake &)> change;
  // What Differences must say; "RVA(x)" stands for the RVA of the symbol x
  // (a decorated name, or a listed global's name) in the changed fake.
  std::vector<std::string> expected;
};

const std::vector<FakeCase> kFakeCases = {
    {"as_listed", [](Fake &) {}, {}},
    {"code_and_constants_added",
     [](Fake &fake) {
       fake.symbols["?NewHelper@@YAXXZ"] = 0x1100;
       fake.symbols["?kNewTable@@3QBEB"] = 0x2200;
     },
     {}},
    {"a_global_added_to_data", [](Fake &fake) { fake.symbols["?gNewCounter@@3_KA"] = 0x3000; },
     {"gNewCounter (?gNewCounter@@3_KA, RVA 0x3000 in .data): a writable global of the image that the harness does "
      "not reset"}},
    {"a_global_in_the_zero_filled_tail",
     [](Fake &fake) {
       loader::Section &data = fake.image.sections[2];
       fake.symbols["?gLateFlag@@3EA"] = data.virtualAddress + data.virtualSize;
       data.virtualSize += 8;
     },
     {"gLateFlag (?gLateFlag@@3EA, RVA RVA(?gLateFlag@@3EA) in .data): a writable global of the image that the "
      "harness does not reset"}},
    {"a_global_in_a_writable_section_of_another_name", [](Fake &fake) { fake.symbols["?gOther@@3HA"] = 0x4010; },
     {"gOther (?gOther@@3HA, RVA 0x4010 in .wdat): a writable global of the image that the harness does not reset"}},
    {"a_functions_static", [](Fake &fake) { fake.symbols["?sCalls@?1??OnEndOfDxe@@YAXPEAX0@Z@4_KA"] = 0x3008; },
     {"sCalls (?sCalls@?1??OnEndOfDxe@@YAXPEAX0@Z@4_KA, RVA 0x3008 in .data): a writable global of the image that the "
      "harness does not reset"}},
    {"an_undecorated_global", [](Fake &fake) { fake.symbols["gPlainFlag"] = 0x3010; },
     {"gPlainFlag (gPlainFlag, RVA 0x3010 in .data): a writable global of the image that the harness does not reset"}},
    {"a_global_gone_from_the_image", [](Fake &fake) { fake.symbols.erase(FakeDecoration("gTscTicksPerSecond")); },
     {"gTscTicksPerSecond: reset by the harness, but no symbol of a writable section of the image"}},
    {"a_global_become_constant", [](Fake &fake) { fake.symbols[FakeDecoration("gSmbios")] = 0x2100; },
     {"gSmbios: reset by the harness, but no symbol of a writable section of the image"}},
    {"a_name_in_two_anonymous_namespaces",
     [](Fake &fake) { fake.symbols["?gLayoutASlots@?A0x99999999@@3PAUSystemSlotEntry@@A"] = 0x4000; },
     {"gLayoutASlots: 2 symbols in writable sections of the image (?gLayoutASlots@?A0x1234ABCD@@3PAUSystemSlotEntry@@A, "
      "?gLayoutASlots@?A0x99999999@@3PAUSystemSlotEntry@@A), the harness resets one"}},
    {"a_global_listed_under_another_name", [](Fake &fake) { Listed(fake, "gSmbios").name = "gSmbiosProtocol"; },
     {"gSmbiosProtocol: reset by the harness, but no symbol of a writable section of the image",
      "gSmbios (?gSmbios@@3PEAXEA, RVA RVA(gSmbios) in .data): a writable global of the image that the harness does not "
      "reset"}},
    {"a_global_listed_twice", [](Fake &fake) { fake.list.push_back(Listed(fake, "gHobList")); },
     {"gHobList: listed more than once"}},
    {"a_global_reset_in_part", [](Fake &fake) { Listed(fake, "gHeapBufferListInterface").size = 8; },
     {"gHeapBufferListInterface: the harness resets 8 bytes of the 24 between its symbol and the next"}},
    {"a_global_reset_beyond_its_end", [](Fake &fake) { Listed(fake, "gHobList").size = 16; },
     {"gHobList: the harness resets 16 bytes, but only 8 lie between its symbol and the next"}},
};

void PrintTo(const FakeCase &c, std::ostream *os) { *os << c.name; }

class FakeMapTest : public ::testing::TestWithParam<FakeCase> {};

TEST_P(FakeMapTest, NamesEveryGlobalMissingFromEitherSide) {
  const FakeCase &c = GetParam();
  Fake fake = MakeFake();
  c.change(fake);
  std::vector<std::string> expected;
  for (std::string line : c.expected) {
    if (const size_t at = line.find("RVA("); at != std::string::npos) {
      const size_t close = line.find(')', at);
      const std::string name = line.substr(at + 4, close - at - 4);
      const auto found = fake.symbols.find(name);
      line.replace(at, close + 1 - at, Hex(found != fake.symbols.end() ? found->second : FakeRva(fake, name)));
    }
    expected.push_back(line);
  }
  const std::map<std::string, uint32_t> symbols = WriteAndReadMap(fake, c.name);
  EXPECT_EQ(symbols, fake.symbols) << "the map reader read back another map than was written";
  const std::vector<std::string> differences = Differences(fake.image, symbols, fake.list);
  EXPECT_EQ(differences, expected) << "got:\n" << Lines(differences);
}

INSTANTIATE_TEST_SUITE_P(Maps, FakeMapTest, ::testing::ValuesIn(kFakeCases),
                         [](const ::testing::TestParamInfo<FakeCase> &info) { return info.param.name; });

TEST(ModuleGlobalsMapTest, IdentifiersAreReadFromDecoratedNames) {
  EXPECT_EQ(Identifier("?gSmbios@@3PEAUEFI_SMBIOS_PROTOCOL@@EA"), "gSmbios");
  EXPECT_EQ(Identifier("?gLayoutASlots@?A0x8BA99188@@3PAUSystemSlotEntry@@A"), "gLayoutASlots");
  EXPECT_EQ(Identifier("?gGuidGroups@?1??ParseGuidText@@YA_KPEB_SPEAUEFI_GUID@@@Z@4QAY01$$CBEA"), "gGuidGroups");
  EXPECT_EQ(Identifier("DriverEntry"), "DriverEntry");
  EXPECT_EQ(Identifier("??_C@_01LOCGONAA@?$AA?$AA@"), "??_C@_01LOCGONAA@?$AA?$AA@");
  EXPECT_EQ(Identifier("?"), "?");
}

// The list is the one place that says what else the host does with a
// global: the globals it marks as read by the report are exactly those the
// report's view of the linked-in driver points at (a loaded image's are
// found in its map through these marks), and those it marks as table
// pointers are the three the harness wires.
TEST(ModuleGlobalsMapTest, TheListMarksTheGlobalsTheReportReadsAndTheTablePointers) {
  const host::DriverState linked;
  const std::set<const void *> read = {linked.snapshot, linked.tscTicksPerSecond, linked.heapListAnchor,
                                       linked.listInterface};
  std::set<const void *> marked;
  std::vector<std::string> tables;
  for (const host::ModuleGlobal &global : host::ModuleGlobals()) {
    EXPECT_FALSE(global.readByReport && global.firmwareTable) << global.name;
    if (global.readByReport) {
      marked.insert(global.address);
    }
    if (global.firmwareTable) {
      tables.push_back(global.name);
    }
    EXPECT_EQ(host::ModuleGlobalAt(global.address), &global) << global.name;
  }
  EXPECT_EQ(marked, read);
  EXPECT_EQ(tables, (std::vector<std::string>{"gSystemTable", "gBootServices", "gRuntimeServices"}));
  EXPECT_EQ(host::MapNamePrefix(*host::ModuleGlobalAt(linked.snapshot)), "?gPlatformConfigSnapshot@@");
  EXPECT_EQ(host::ModuleGlobalAt(&linked), nullptr);
}

}  // namespace
