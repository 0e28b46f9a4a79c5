// One simulated boot: load the driver into a simulated firmware built from
// a platform description, run its entry point, signal End-of-DXE, and
// gather what the driver left behind. RunDriver.cpp runs the driver,
// DriverImage.cpp loads a shipped image, BootOutcome.cpp and
// StartupOutcome.cpp derive the BootResult from the firmware's typed log and
// the driver's globals, SlotProbes.cpp and SkippedWork.cpp explain the slots
// and the skipped work (Explain.h), Report.cpp writes the reports.
#pragma once

#include <cstdint>
#include <nlohmann/json.hpp>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "driver/devpath/DevicePath.h"
#include "host/sim/Platform.h"
#include "host/sim/SimFirmware.h"

namespace host {

// A node of the heap buffer list the driver left behind.
struct HeapBufferNodeView {
  uint32_t signature = 0;
  uint32_t reserved = 0;
  uint32_t size = 0;
  uint8_t poolKind = 0;
  uint8_t transferFlag = 0;
  uint16_t reserved2 = 0;
  std::optional<EFI_MEMORY_TYPE> memoryType;  // of its pool block; none when not from the pool
  std::vector<uint8_t> payload;
};

// What the start-up chain left: the snapshot, messages, the heap buffer
// list, everything written to ports and the UART, and a fatal stop.
struct StartupResult {
  std::vector<uint8_t> snapshot;  // the 26 bytes of the configuration snapshot
  std::vector<sim::PcdRead> pcdReads;
  std::vector<sim::DebugMessage> debugMessages;
  std::string heapListSource;  // "installed", "adopted" or "none"
  std::optional<EFI_STATUS> heapListInstallStatus;
  std::vector<HeapBufferNodeView> heapNodes;  // in forward order
  bool heapListLinksConsistent = true;        // the backward walk gives the reverse
  std::string heapListProblem;  // why the links are not consistent: where a walk ended
  // For a loaded image: why the list was not read, when the globals its map
  // names do not describe what the image did (empty: the map agrees).
  std::string heapListMapProblem;
  std::vector<sim::PortWrite> portTrace;
  std::vector<uint64_t> portTraceTsc;  // the counter at each port write
  size_t stopDisplayFirstWrite = 0;    // index in portTrace of the first display value
  // Display writes left out of portTrace (it keeps the display's first 16
  // and last 16): they came between portTrace[stopDisplayFirstWrite + 15]
  // and the write after it.
  uint64_t stopDisplayLeftOut = 0;
  std::vector<uint8_t> uartOutput;
  uint32_t indexRegisterBefore = 0;
  uint32_t indexRegisterAfter = 0;
  std::vector<uint32_t> platformRegisterReads;
  uint64_t tscTicksPerSecond = 0;  // the driver's frequency cache
  bool parked = false;             // in the fatal stop display, for good
  std::optional<uint32_t> stopCode;
};

// One slot of the chosen layout: how its probe went and what was added.
struct SlotResult {
  std::string designation;
  std::string devicePath;          // the slot's device-path text
  std::string rootPort;            // the handle the probe found, if it got that far
  std::string probe;               // what the probe found, or why it ended
  bool pathConverted = false;      // a LocateDevicePath call took the slot's converted path
  bool recordAdded = false;        // a Type 9 record with this designation is in the table
  std::vector<uint8_t> record;     // that record, as stored
};

// Work the driver left undone because the pool refused an allocation.
struct SkippedWork {
  std::string what;          // e.g. Type 8 record of connector row 5 ("CON2")
  sim::ServiceCall refusal;  // the refused allocation, as the firmware logged it
};

struct BootResult {
  std::string platformName;
  bool entryReturned = true;  // false: DriverEntry never returned (parked in a fatal stop)
  EFI_STATUS entryStatus = EFI_SUCCESS;

  // The variant variable as stored and as the driver read it.
  bool variablePresent = false;
  size_t variableStoredSize = 0;
  bool variableRead = false;  // the driver called GetVariable for it
  EFI_STATUS variableStatus = EFI_SUCCESS;
  std::optional<uint32_t> nioWord;  // what the driver received

  std::optional<uint8_t> variantCode;
  std::string layout;  // empty when no layout was chosen
  bool smbiosLocateAttempted = false;
  bool smbiosLocated = false;
  bool installed = false;
  std::string outcome;  // what happened, or why nothing was installed

  std::vector<sim::SmbiosRecord> records;
  // The SMBIOS Add calls refused because the record was malformed, in order.
  std::vector<sim::ServiceCall> malformedRecords;
  std::vector<SlotResult> slots;  // the layout's slots, in table order
  std::vector<SkippedWork> skipped;  // one entry per refused allocation, in order

  bool eventCreated = false;
  uint64_t eventNotifications = 0;
  bool eventClosed = false;

  sim::PoolStatistics pool;  // its guards checked once the driver ran
  std::vector<sim::ServiceCall> calls;  // the firmware's typed log, in order

  StartupResult startup;
};

// The shipped driver binary, loaded into this process (see
// host/loader/): checked, mapped, relocated, with its symbol map read from
// beside it (FILE.map for FILE.efi). Throws loader::ImageError.
struct DriverImage;
struct DriverImageDeleter {
  void operator()(DriverImage *image) const;
};
using DriverImagePtr = std::unique_ptr<DriverImage, DriverImageDeleter>;
DriverImagePtr LoadDriverImage(const std::string &path);

// Resets the driver's module globals, boots, and gathers the result. A
// driver parked in the fatal stop display is taken back after the number
// of display values the platform gives, and reported as parked. Boots the
// driver linked into this program, or the loaded image. An image serves one
// boot: its data is the boot's.
BootResult RunBoot(const sim::Platform &platform, const DriverImage *image = nullptr);

// The device-path functions inside a loaded image, for converting with the
// shipped binary's own converter. The image's gBootServices is pointed at
// the firmware's boot services (its pool); each call runs the image's code
// (Microsoft x64 convention) under the loader's traps, so a fault ends the
// program with one line and status 3, as in a boot. What the image answers
// is checked before the host uses any of it, against the host's own bounded
// walk (the linked-in GetDevicePathSizeWithin) and the firmware's pool; an
// answer that does not hold up ends the program the same way, naming the
// function and what was wrong (loader::EndWithDriverFault), and nothing of
// it is shown. Throws loader::ImageError when the map lacks a symbol.
class ImageDevicePathFunctions {
 public:
  ImageDevicePathFunctions(DriverImage &image, sim::SimFirmware &firmware);
  ~ImageDevicePathFunctions();
  ImageDevicePathFunctions(const ImageDevicePathFunctions &) = delete;
  ImageDevicePathFunctions &operator=(const ImageDevicePathFunctions &) = delete;

  // The image's ConvertTextToDevicePath of text (ConvertTextToDeviceNode
  // with node): nothing for null, else the bytes of what it returned, whose
  // pool block is then freed. The answer must be the start of a live pool
  // block; a path must be whole within that block by the host's walk, with
  // the size the image's GetDevicePathSize gives it; a node (an end node
  // included, which a text may name) must fit the block by its Length.
  std::optional<std::vector<uint8_t>> Convert(const CHAR16 *text, bool node) const;
  // The image's GetDevicePathSize of the path in the size bytes at path,
  // which must be what the host's walk of those bytes gives (a path the walk
  // finds invalid within them is not handed to the image: 0).
  UINT64 GetDevicePathSize(const EFI_DEVICE_PATH_PROTOCOL *path, UINT64 size) const;
  // The image's bounded walk, which must end where and as the host's does.
  UINT64 GetDevicePathSizeWithin(const EFI_DEVICE_PATH_PROTOCOL *path, UINT64 limit, DEVICE_PATH_WALK *walk) const;

 private:
  struct Functions;
  std::unique_ptr<Functions> functions_;
};

// Runs the boot in a child process, so that it meets the driver as a freshly
// loaded image (module globals at their load-time values), and returns the
// child's JSON report. Throws std::runtime_error when the child dies.
nlohmann::json RunBootIsolated(const sim::Platform &platform);

}  // namespace host
