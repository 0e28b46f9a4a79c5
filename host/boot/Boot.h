// One simulated boot: load the driver into a simulated firmware built from
// a platform description, run its entry point, signal End-of-DXE, and
// gather what the driver left behind. RunDriver.cpp runs the driver,
// DriverImage.cpp loads a shipped image, BootOutcome.cpp and
// StartupOutcome.cpp derive the BootResult from the firmware's typed log and
// the driver's globals, SlotProbes.cpp and SkippedWork.cpp explain the slots
// and the skipped work (Explain.h), Failures.cpp judges what the driver got
// wrong. The result holds values and indices, no sentences: ReportJson.cpp
// and ReportText.cpp write it, each on its own, in the words of Wording.cpp.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <utility>
#include <string>
#include <vector>

#include "driver/devpath/DevicePath.h"
#include "driver/inventory/Inventory.h"
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

// Where the heap buffer list the driver left came from.
enum class HeapListSource {
  None,       // the driver began no list
  Installed,  // it installed its own interface
  Adopted,    // the look-up found another module's list, which it used
};

// The most nodes a walk of the heap buffer list follows.
constexpr size_t kHeapListWalkLimit = 100000;

// Where a walk of the heap buffer list ended. Addresses are named by what
// holds them (an image offset, the list interface, a pool allocation).
struct HeapListBreak {
  enum class Kind {
    HeadOutside,       // the list head lies outside the driver's memory and the pool
    NodeOutside,       // forward, node `position` lies outside them
    PayloadOutside,    // forward, node `position` with `payloadBytes` runs outside them
    ForwardUnending,   // forward, the links do not come back within kHeapListWalkLimit nodes
    EntryOutside,      // backward, entry `position` lies outside them
    BackwardUnending,  // backward, the links do not come back within kHeapListWalkLimit nodes
    NotReverse,        // the backward walk is not the reverse of the forward walk
  };
  Kind kind;
  size_t position = 0;
  uint32_t payloadBytes = 0;
  std::string at;  // the address where the walk ended
};

// For a loaded image: how the globals its map names disagree with what the
// image did. Addresses are named as in HeapListBreak.
struct HeapListMapProblem {
  enum class Kind {
    InstalledElsewhere,  // the driver installed its interface at `found`, not at the map's interface
    AnchorNull,          // the map's anchor holds null, but the driver began a list (`source`)
    AnchorElsewhere,     // the map's anchor points to `found`, not to the head `expected`
  };
  Kind kind;
  std::string mapPath;
  std::string anchorAt;     // where the map puts gHeapListAnchor
  std::string interfaceAt;  // where the map puts gHeapBufferListInterface
  std::string found;
  std::string expected;
  HeapListSource source = HeapListSource::None;
};

// What the start-up chain left: the snapshot, messages, the heap buffer
// list, everything written to ports and the UART, and a fatal stop.
struct StartupResult {
  std::vector<uint8_t> snapshot;  // the 26 bytes of the configuration snapshot
  std::vector<sim::PcdRead> pcdReads;
  std::vector<sim::DebugMessage> debugMessages;
  HeapListSource heapListSource = HeapListSource::None;
  std::optional<EFI_STATUS> heapListInstallStatus;
  std::vector<HeapBufferNodeView> heapNodes;  // in forward order
  bool heapListLinksConsistent = true;        // the backward walk gives the reverse
  std::optional<HeapListBreak> heapListBreak;  // why the links are not consistent: where a walk ended
  // For a loaded image: why the list was not read, when the globals its map
  // names do not describe what the image did (none: the map agrees).
  std::optional<HeapListMapProblem> heapListMapProblem;
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

// How a slot's probe ended. The calls named are in BootResult::calls.
enum class SlotProbe {
  PathNotConverted,   // no LocateDevicePath call took the slot's converted path
  NoHandle,           // the LocateDevicePath call failed (its status)
  Stopped,            // the probe made no further call about the handle found
  NoPciIo,            // OpenProtocol of PCI I/O on the handle failed (endCall)
  GetLocationFailed,  // GetLocation failed: the stored location was kept (endCall)
  ReadFailed,         // reading the secondary bus number failed: stored location kept (endCall)
  ReadBehindPort,     // the secondary bus number was read (endCall): what is behind the port
};

// One slot of the chosen layout: how its probe went and what was added.
struct SlotResult {
  uint8_t row = 0;                 // its row in the layout's slot table
  std::string designation;
  std::string devicePath;          // the row's device-path text
  // The LocateDevicePath call that took the row's path as the linked-in
  // converter makes it (the same bytes, read by the firmware); none when
  // no call did.
  std::optional<size_t> locateCall;
  SlotProbe probe = SlotProbe::PathNotConverted;
  std::optional<size_t> endCall;   // the call whose answer ended the probe
  bool rootPortOpened = false;     // PCI I/O was opened on the handle LocateDevicePath found
  // ReadBehindPort: the secondary bus number, and the vendor and device of
  // its device 0, function 0 (none when nothing answers there).
  uint8_t secondaryBus = 0;
  std::optional<std::pair<uint16_t, uint16_t>> deviceBehind;
  bool recordAdded = false;        // a Type 9 record with this designation is in the table
  std::vector<uint8_t> record;     // that record, as stored

  bool PathConverted() const { return locateCall.has_value(); }
};

// Work the driver left undone because the pool refused an allocation.
struct SkippedWork {
  enum class Kind {
    RestOfBoot,      // the stop policy parked the driver in the fatal stop display at start-up
    HandOffBuffer,   // a hand-off heap buffer: without its node it is not transferred
    ConnectorRecord,  // the Type 8 record of connector row `index`
    SlotPathArray,   // every Type 9 record: the slots' path array
    SlotProbe,       // the PCI probe of slot `index` (BootResult::slots): its path was not built
    SlotRecord,      // the Type 9 record of slot `index`
    Unnamed,         // nothing the report can name
  };
  Kind kind = Kind::Unnamed;
  size_t index = 0;
  sim::ServiceCall refusal;  // the refused allocation, as the firmware logged it
};

// How the boot's End-of-DXE work ended, or why nothing was installed.
enum class BootOutcome {
  Parked,                  // in the fatal stop display (startup.stopCode; during start-up unless entryReturned)
  EntryFailed,             // DriverEntry returned an error: no End-of-DXE notification
  NotificationDidNotRun,   // the notification never read the variable
  VariableMissing,         // GetVariable: Not Found
  VariableWrongSize,       // GetVariable: Buffer Too Small (variableStoredSize)
  VariableUnreadable,      // GetVariable failed otherwise (variableStatus)
  WordZero,                // the word is 0: nothing to install
  KindNotActedOn,          // the word's NIO kind is not one the driver acts on
  SmbiosNotFound,          // the SMBIOS protocol was not found
  NoLayout,                // the variant code has no board layout
  Installed,               // the layout was installed
};

// One thing a boot shows the driver got wrong (BootResult::Failures).
struct BootFailure {
  enum class Kind {
    HeldBeyondList,   // once returned, it holds `count` pool blocks beyond the list's `listNodes` nodes
    InvalidFrees,     // it freed `count` blocks the pool never gave out
    DamagedGuard,     // it overwrote the guard bytes of pool.damagedBlocks[index]
    MalformedRecord,  // the SMBIOS table refused malformedRecords[index] as malformed
  };
  Kind kind;
  uint64_t count = 0;
  uint64_t listNodes = 0;
  size_t index = 0;
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
  const BoardLayout *workedLayout = nullptr;  // the layout the driver worked through; null for none
  bool smbiosLocateAttempted = false;
  bool smbiosLocated = false;
  bool installed = false;
  BootOutcome outcome = BootOutcome::NotificationDidNotRun;

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

  // The pool blocks the driver holds beyond the heap buffer list's nodes
  // once it has returned (negative: fewer than the nodes); none when it is
  // parked in the fatal stop display, which holds what it holds.
  std::optional<int64_t> BlocksBeyondList() const;
  // Everything the boot shows the driver got wrong, in the order the
  // reports name it: the blocks held beyond the list (not told through a
  // map that does not match the image), the invalid frees, each damaged
  // guard, each malformed record. boardinv boot exits 1 on any; a sweep
  // boot with any is not sound.
  std::vector<BootFailure> Failures() const;
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

// Runs work in a child process, so that a boot there meets the driver as a
// freshly loaded image (module globals at their load-time values), and
// returns the bytes work returned there. The caller chooses what a boot
// hands back (a report it wrote, the facts it needs). Throws
// std::runtime_error when the child dies.
std::string RunIsolated(const std::function<std::string()> &work);

}  // namespace host
