// The typed log of the simulated firmware: one entry per service call it
// logs, in order, holding what the call concerned as data (the service, the
// GUID, the handle, the status, sizes and memory type, the variable name and
// the bytes returned, the device path given, the SMBIOS record stored).
// Reports and tests read these fields; FormatServiceCall is the one place
// that turns an entry into display text, naming device paths through the
// namer its caller gives (the host's text of a path lives above the
// simulated firmware). The firmware owns the one
// ServiceLog; each service it runs appends its calls there.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "driver/firmware/Uefi.h"

namespace sim {

// The services the log records.
enum class Service {
  AllocatePool,  // logged only when the pool refuses the allocation
  FreePool,      // logged only for a block the pool never gave out
  CreateEventEx,
  CloseEvent,
  InstallProtocolInterface,
  LocateProtocol,
  OpenProtocol,
  LocateDevicePath,
  GetVariable,
  SmbiosAdd,          // the SMBIOS protocol's Add
  PciIoGetLocation,   // a PCI I/O instance's GetLocation
  PciIoPciRead,       // a PCI I/O instance's Pci.Read
};

// A handle as the protocol database knew it when the call was made.
struct HandleRef {
  EFI_HANDLE handle = nullptr;
  uint64_t serial = 0;  // its number in the database; 0: null, or not a handle of the firmware
  // The device path it carries, nodes up to and including the end node;
  // empty when it carries none.
  std::vector<uint8_t> devicePath = {};
};

// Why the SMBIOS Add refused a record as malformed. A record in the pool is
// read no further than the end of the pool block that holds it; one
// outside the pool no further than kSmbiosRecordBound bytes (SimSmbios.h).
struct SmbiosRecordProblem {
  enum class Kind {
    HeaderOutside,         // its 4-byte header runs past the end of its pool block
    LengthBelowHeader,     // its Length is below 4, the header's own size
    FormattedAreaOutside,  // its formatted area (Length bytes) runs past the end of its pool block
    StringSetUnended,      // its string set has no double zero before the end of its block or the bound
  };
  Kind kind;
  uint8_t length = 0;  // the record's Length, when its header lies inside what is read
  // The pool block that holds the record, and where in it the record starts.
  bool inPool = false;
  uint64_t allocation = 0;
  uint64_t blockSize = 0;
  EFI_MEMORY_TYPE memoryType = EfiReservedMemoryType;
  uint64_t offset = 0;
  // Outside the pool: the bytes read from its start.
  uint64_t bound = 0;
};

// "its formatted area (Length 0x20) runs past the end of its pool block
// (allocation 5, 8 bytes of boot-services data)": the one text of a problem.
std::string SmbiosRecordProblemText(const SmbiosRecordProblem &problem);

struct ServiceCall {
  Service service;
  EFI_STATUS status = EFI_SUCCESS;

  // The protocol (InstallProtocolInterface, LocateProtocol, OpenProtocol,
  // LocateDevicePath), the event group (CreateEventEx) or the vendor GUID
  // (GetVariable); none when the caller passed none.
  std::optional<EFI_GUID> guid = {};
  // The handle the call concerned: the one opened (OpenProtocol), found
  // (LocateDevicePath) or installed on (InstallProtocolInterface), or the
  // PCI function whose PCI I/O instance was called (null when the instance
  // is not one the firmware made).
  HandleRef handle = {};

  // AllocatePool: the allocation's number (every call counts, from 1), the
  // bytes asked for and the memory type asked for.
  uint64_t allocation = 0;
  uint64_t size = 0;
  EFI_MEMORY_TYPE memoryType = EfiReservedMemoryType;
  // FreePool: the address given.
  uintptr_t buffer = 0;

  // GetVariable: the name asked for (none when the name, the GUID or the
  // size pointer was null) and the buffer size the caller offered.
  std::optional<std::u16string> variableName = {};
  std::optional<uint64_t> bufferSize = {};
  // The bytes the caller received on success: the variable's value
  // (GetVariable), the configuration space read (PciIo.Pci.Read).
  std::vector<uint8_t> data = {};

  // LocateDevicePath: the path the caller gave (none when it gave none),
  // exactly the bytes the firmware read of it: node by node up to and
  // including the end node, no further than the live pool block that holds
  // it (or, for a path in no pool block, than matching against the
  // installed paths needs), ending after the header of a node whose Length
  // is below 4 or runs past that bound.
  std::optional<std::vector<uint8_t>> devicePath = {};

  // SMBIOS Add: the record's Type (none for a null record); the record as
  // the table stores it, formatted area and strings with the assigned
  // handle (empty when refused); and that handle.
  std::optional<uint8_t> recordType = {};
  std::vector<uint8_t> record = {};
  uint16_t smbiosHandle = 0;
  // Why the record was refused as malformed; none when it was not.
  std::optional<SmbiosRecordProblem> recordProblem = {};

  // PciIo.Pci.Read: the register offset, the width and the count.
  uint32_t offset = 0;
  uint32_t width = 0;
  uint64_t count = 0;
};

// The log: the calls in the order they were made, shared by the services of
// one firmware.
class ServiceLog {
 public:
  ServiceLog() = default;
  ServiceLog(const ServiceLog &) = delete;
  ServiceLog &operator=(const ServiceLog &) = delete;

  void Add(ServiceCall call) { calls_.push_back(std::move(call)); }
  const std::vector<ServiceCall> &Calls() const { return calls_; }

 private:
  std::vector<ServiceCall> calls_;
};

// An entry as the reports show it.
struct ServiceCallText {
  std::string service;  // "GetVariable", "SMBIOS Add", "PciIo.Pci.Read", ...
  std::string detail;   // the protocol, variable, allocation or record it concerned
  std::string result;   // the handle it found or opened; empty where the status says all
};

// How a caller names the bytes of a device path in display text.
using PathNamer = std::string (*)(const std::vector<uint8_t> &path);

// The firmware's own naming of a path: its bytes, "path 01 01 06 00 ...".
std::string PathBytesText(const std::vector<uint8_t> &path);

// The display text of an entry: the one place it is made.
ServiceCallText FormatServiceCall(const ServiceCall &call, PathNamer paths = PathBytesText);

// A handle as reports name it: the text of its device path, else "handle N",
// else "not a handle"; empty for null.
std::string HandleText(const HandleRef &handle, PathNamer paths = PathBytesText);

}  // namespace sim
