// The description of a simulated machine: what the firmware holds and
// offers when the driver is loaded. A built-in default describes a kind 2
// board; a JSON file describes any other (see the README for the format).
#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

#include "driver/firmware/Uefi.h"
#include "host/sim/PciModel.h"

namespace sim {

struct VariableDescription {
  std::u16string name;
  EFI_GUID guid;
  uint32_t attributes = 0x7;  // non-volatile, boot-service and runtime access
  std::vector<uint8_t> data;
};

struct ProtocolPresence {
  bool smbios = true;
  bool pcd = true;     // the PCD protocol, gPcdProtocolGuid
  bool efiPcd = true;  // the PI PCD protocol, gEfiPcdProtocolGuid
  // The debug print service: present from the start, or installed once the
  // firmware has answered this many LocateProtocol calls (of any GUID).
  bool debugPrint = false;
  std::optional<uint64_t> debugPrintAfterLookups;
  // A heap buffer list interface installed by another module, its list empty.
  bool heapBufferList = false;
};

// One block of the hand-off block list, as the platform lays it out.
struct HandOffBlock {
  enum class Kind {
    Heap,   // GUID extension with a heap hand-off header and payload
    Guid,   // GUID extension with other data
    Other,  // any other block type, with data
    Raw,    // the block's bytes exactly as given (malformed lists)
    End,    // the end of the list
  };
  Kind kind = Kind::Heap;
  EFI_GUID name{};           // Heap, Guid
  uint16_t hobType = 0x0003;  // Other
  // The heap hand-off header (Heap).
  uint32_t signature = 0x50414548;
  uint32_t reserved = 0;
  std::optional<uint32_t> size;  // default: the payload length
  uint8_t poolKind = 4;
  uint8_t transferFlag = 1;
  uint16_t reserved2 = 0;
  std::vector<uint8_t> data;  // the payload (Heap), the data (Guid, Other), the bytes (Raw)
  // HobLength as stored; default: the block's length rounded up to 8.
  std::optional<uint16_t> hobLength;
};

struct HobListDescription {
  bool present = true;  // in the configuration table under the HOB list GUID
  std::vector<HandOffBlock> blocks;
  bool endBlock = true;  // append the end block behind the blocks
};

// The platform registers' index/data pair (driver/firmware/BoardHardware.h) and the platform
// registers behind it; registers not listed read 0.
struct PlatformRegisterDescription {
  uint32_t index = 0;  // the index register's value at power-on
  std::map<uint32_t, uint32_t> registers;
};

// The memory-mapped UART. Absent, its registers read all ones.
struct UartDescription {
  bool present = false;
  uint8_t lineStatus = 0x60;   // line status once ready
  uint8_t modemStatus = 0x30;  // modem status once clear to send
  // 1-based read, counted from power-on and again from each transmitted
  // byte, on which the line status first shows 0x60 and the modem status
  // first shows 0x10 (clear to send); 0: never.
  uint64_t lineStatusReadyOnRead = 1;
  uint64_t clearToSendOnRead = 1;
};

struct CpuDescription {
  // The P-state definition registers, from the first; missing ones read 0.
  std::vector<uint64_t> pstates = {0x8000000000000878ULL};  // enabled, 120 x 200 / 8 MHz
  uint64_t tscStart = 0;
  uint64_t tscStep = 1000000;  // the counter advances by this on every read
  uint16_t stopOverride = 0;   // the SI answer of an agent intercepting CPUID
  // Stop display values on the POST code port after which the simulation
  // takes control back and reports the driver parked there.
  uint64_t stopDisplayValues = 12;
};

struct FaultInjection {
  // 1-based indices of pool allocations that fail.
  std::vector<uint64_t> failAllocations;
  // Every allocation from this 1-based index on fails.
  std::optional<uint64_t> failAllocationsFrom;
  // InstallProtocolInterface of these GUIDs answers the status given.
  struct InstallFailure {
    EFI_GUID guid;
    EFI_STATUS status;
  };
  std::vector<InstallFailure> failInstalls;
  // CreateEventEx answers this status: an error creates no event, a
  // warning creates it and returns the warning.
  std::optional<EFI_STATUS> failCreateEvent;
};

struct Platform {
  std::string name = "default";
  std::vector<VariableDescription> variables;
  ProtocolPresence protocols;
  FaultInjection faults;
  // PCD token values by token number; tokens not listed read 0.
  std::map<uint64_t, uint64_t> pcdTokens = DefaultPcdTokens();
  HobListDescription hobList = DefaultHobList();
  PlatformRegisterDescription platformRegisters;
  UartDescription uart;
  CpuDescription cpu;
  // The built-in board's topology unless a description gives its own.
  PciTopology pci = DefaultPciTopology();

  static std::map<uint64_t, uint64_t> DefaultPcdTokens();
  static HobListDescription DefaultHobList();
};

// The hand-off block list as bytes, as the configuration table holds it.
std::vector<uint8_t> BuildHobList(const HobListDescription &description);

// Memory after the list reads as zeros. Follows the chain of HobLengths from
// the first block as a walk does (to an end block or a length below the
// generic header) and, where the chain leaves the list (no end block, or a
// raw block or HobLength pointing past the end), appends the zeros it
// reaches up to and including a zero header, which a walk reads as the end.
// A closed list is left exactly as it is.
void AppendZerosTheChainReaches(std::vector<uint8_t> &list);

class PlatformError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// The built-in default: a kind 2 board, NioTypeProtected = 0x00000200.
Platform DefaultPlatform();

// Parses a platform description (see ParseJsonDocument in JsonFields.h for
// how numbers are read and what text that is not JSON gives); unknown
// fields and bad values throw PlatformError naming the field
// ("cpu.tsc_step: must be at least 1, ..."); no error of the JSON library
// escapes.
Platform ParsePlatformJson(const std::string &text);
// Reads (up to kPlatformFileLimit bytes, see InputFile.h) and parses a
// platform file. Every error is a PlatformError of one line that names the
// file as ReadInputFile does: "platform file: PATH: REASON" with the
// system's reason for a file that cannot be read, or the parser's message
// ("platform file: p.json: cpu.tsc_step: ...", "platform file: standard
// input: line 1, column 2: not valid JSON: ...").
Platform LoadPlatformFile(const std::string &path);

// Sets NioTypeProtected to a 4-byte word, or removes it.
void SetNioTypeWord(Platform &platform, uint32_t word);
void RemoveNioTypeVariable(Platform &platform);

// GUID text in registry form, without braces.
std::string GuidToString(const EFI_GUID &guid);
std::optional<EFI_GUID> GuidFromString(const std::string &text);

}  // namespace sim
