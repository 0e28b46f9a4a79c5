// A stand-in for PI firmware: the system table, boot and runtime services,
// a protocol database, events, a variable store, an SMBIOS table and pool
// accounting, built from a platform description. The driver reaches all of
// it through the same UEFI tables and calling convention as on a machine,
// and every call it logs is a typed ServiceCall (ServiceLog.h). The members
// live in one file per service: SimFirmware.cpp (tables, thunks),
// SimPool.cpp, SimProtocols.cpp, SimEvents.cpp, SimVariables.cpp,
// SimSmbios.cpp, SimStartupServices.cpp (with DebugPrintFormat.cpp).
#pragma once

#include <array>
#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "firmware/Protocol/DebugPrint.h"
#include "firmware/Protocol/Pcd.h"
#include "firmware/Protocol/Smbios.h"
#include "firmware/Uefi.h"
#include "host/sim/EfiValues.h"
#include "host/sim/HardwareModel.h"
#include "host/sim/PciModel.h"
#include "host/sim/Platform.h"
#include "host/sim/ServiceLog.h"

namespace sim {

// A live pool block, as the pool gave it out.
struct PoolBlockInfo {
  const uint8_t *start;
  uint64_t size;
  EFI_MEMORY_TYPE type;
  uint64_t allocation;  // the number of the AllocatePool call that made it (from 1)
};

// A pool block whose guard bytes were overwritten: the bytes right after
// its end, or the last bytes of its header right before its start.
struct DamagedPoolBlock {
  uint64_t allocation;
  uint64_t size;
  EFI_MEMORY_TYPE type;
  bool afterEnd;     // the guard bytes after its end
  bool beforeStart;  // the guard bytes before its start
  bool foundAtFree;  // found by FreePool; otherwise by CheckPoolGuards, the block still live
};

// "allocation 7 (13 bytes of boot-services data) overwritten after its
// end (found when it was freed)": the one text of a damaged block.
std::string DamagedPoolBlockText(const DamagedPoolBlock &block);

struct PoolStatistics {
  uint64_t allocations = 0;        // calls of AllocatePool, failed ones included
  uint64_t failedAllocations = 0;  // refused by fault injection
  uint64_t frees = 0;
  uint64_t invalidFrees = 0;  // FreePool of something the pool never gave out
  uint64_t outstandingBlocks = 0;
  uint64_t outstandingBytes = 0;
  // Blocks and bytes outstanding, by memory type (the index).
  std::array<std::pair<uint64_t, uint64_t>, EfiMaxMemoryType> outstandingByType{};
  // Blocks whose guard bytes were found overwritten, each once, in the
  // order found.
  std::vector<DamagedPoolBlock> damagedBlocks;
};

struct SmbiosRecord {
  uint16_t handle;
  std::vector<uint8_t> bytes;  // formatted area and string set, as stored
};

struct EventState {
  uint32_t type;
  EFI_TPL tpl;
  EFI_EVENT_NOTIFY notify;
  const void *context;
  bool hasGroup;
  EFI_GUID group;
  bool closed = false;
  uint64_t notifications = 0;
};

// A token read through the PCD protocol.
struct PcdRead {
  std::string getter;  // "Get8", "Get32", "GetBool"
  uint64_t token;
  uint64_t value;  // as returned
};

// A message handed to the debug print service, as it formatted it.
struct DebugMessage {
  uint64_t errorLevel;
  std::string format;
  std::string text;
};

// The layout of a heap buffer list interface: a revision, then the list head.
struct HeapBufferListImage {
  uint64_t revision;
  void *forward;
  void *back;
};

class SimFirmware {
 public:
  explicit SimFirmware(const Platform &platform);
  ~SimFirmware();
  SimFirmware(const SimFirmware &) = delete;
  SimFirmware &operator=(const SimFirmware &) = delete;

  // True once any simulated firmware has existed in this process: driver
  // code may have run here, and its module globals are no longer those of
  // a freshly loaded image.
  static bool EverActive();

  EFI_SYSTEM_TABLE *SystemTable() { return &systemTable_; }
  EFI_HANDLE ImageHandle() { return imageHandle_; }
  HardwareModel &Hardware() { return hardware_; }
  const Platform &Description() const { return platform_; }

  // Signals an event group: each open notify-signal event of the group is
  // notified once, with its own event and context.
  void SignalEventGroup(const EFI_GUID &group);

  // Protocol database.
  EFI_HANDLE NewHandle();
  EFI_STATUS InstallProtocol(EFI_HANDLE *handle, const EFI_GUID &guid, void *interface);
  std::vector<EFI_HANDLE> Handles() const;
  void *HandleProtocol(EFI_HANDLE handle, const EFI_GUID &guid) const;
  // A handle as the log records it: its number and its device path.
  HandleRef Ref(EFI_HANDLE handle) const;

  void AddConfigurationTable(const EFI_GUID &guid, void *table);

  // The typed log of the service calls, in order (see ServiceLog.h).
  const std::vector<ServiceCall> &Calls() const { return calls_; }
  // Logs a call; the models of other services (PCI I/O) log theirs here too.
  void Log(ServiceCall call) { calls_.push_back(std::move(call)); }
  // The PCI topology as served to the driver.
  const PciModel &Pci() const { return *pci_; }
  const std::vector<PcdRead> &PcdReads() const { return pcdReads_; }
  const std::vector<DebugMessage> &DebugMessages() const { return debugMessages_; }
  bool DebugPrintInstalled() const { return debugPrintInstalled_; }
  // The hand-off block list in the configuration table (empty when absent).
  const std::vector<uint8_t> &HobList() const { return hobList_; }
  // The heap buffer list interface that the platform installed, if any.
  HeapBufferListImage *PreinstalledHeapBufferList() {
    return platform_.protocols.heapBufferList ? &heapBufferList_ : nullptr;
  }
  const HeapBufferListImage *PreinstalledHeapBufferList() const {
    return platform_.protocols.heapBufferList ? &heapBufferList_ : nullptr;
  }
  // The memory type of a pool block the pool gave out and still holds.
  std::optional<EFI_MEMORY_TYPE> PoolBlockType(const void *buffer) const;
  // Whether [p, p + n) lies inside one pool block the pool gave out and
  // still holds (anywhere in it, not only at its start).
  bool PoolHolds(const void *p, size_t n) const;
  // The live pool block whose bytes p points into, or whose end it points
  // at (start <= p <= start + size).
  std::optional<PoolBlockInfo> PoolBlockAt(const void *p) const;
  // The live pool block that p belongs to, for naming an address: the one
  // whose bytes p points into, else one whose header p points into or
  // whose end p lies at or past by less than `after` bytes. Reads only the
  // pool's own headers, so a fault handler may ask it.
  std::optional<PoolBlockInfo> PoolBlockNear(const void *p, uint64_t after) const;
  // From now on every pool block ends right before an inaccessible page, so
  // that an access past its end faults at once (for a loaded image, whose
  // code no sanitizer watches). Only before the pool served its first block.
  void PlacePoolBlocksBeforeGuardPages();
  // Checks the guard bytes of every live pool block (FreePool checks those
  // of each block it frees); a damaged block not yet found is added to
  // Pool().damagedBlocks. Run at the end of every boot and of every harness.
  void CheckPoolGuards();
  const PoolStatistics &Pool() const { return pool_; }
  const std::vector<SmbiosRecord> &SmbiosRecords() const { return smbiosRecords_; }
  std::vector<EventState> Events() const;
  // The variable store's content of a variable, if present.
  const VariableDescription *FindVariable(const std::u16string &name, const EFI_GUID &guid) const;

  // Service implementations, reached through the EFIAPI thunks.
  EFI_STATUS AllocatePool(EFI_MEMORY_TYPE type, UINTN size, VOID **buffer);
  EFI_STATUS FreePool(VOID *buffer);
  EFI_STATUS CreateEventEx(UINT32 type, EFI_TPL tpl, EFI_EVENT_NOTIFY notify, const VOID *context,
                           const EFI_GUID *group, EFI_EVENT *event);
  EFI_STATUS CloseEvent(EFI_EVENT event);
  EFI_STATUS InstallProtocolInterface(EFI_HANDLE *handle, const EFI_GUID *guid, EFI_INTERFACE_TYPE type,
                                      VOID *interface);
  EFI_STATUS LocateProtocol(const EFI_GUID *guid, VOID *registration, VOID **interface);
  EFI_STATUS OpenProtocol(EFI_HANDLE handle, const EFI_GUID *guid, VOID **interface, EFI_HANDLE agent,
                          EFI_HANDLE controller, UINT32 attributes);
  EFI_STATUS LocateDevicePath(const EFI_GUID *guid, struct EFI_DEVICE_PATH_PROTOCOL **path, EFI_HANDLE *device);
  EFI_STATUS GetVariable(const CHAR16 *name, const EFI_GUID *guid, UINT32 *attributes, UINTN *size, VOID *data);
  uint64_t PcdGet(const char *getter, UINTN token, unsigned width);
  void DebugPrint(UINTN errorLevel, const CHAR8 *format, std::string text);
  EFI_STATUS SmbiosAdd(EFI_SMBIOS_PROTOCOL *self, EFI_HANDLE producer, EFI_SMBIOS_HANDLE *handle,
                       EFI_SMBIOS_TABLE_HEADER *record);

 private:
  struct Handle {
    uint64_t serial;
    std::vector<std::pair<EFI_GUID, void *>> protocols;
  };
  // The pool's header before each block it gives out (SimPool.cpp).
  struct PoolBlockHeader;
  struct SmbiosInstance {
    EFI_SMBIOS_PROTOCOL protocol;  // first: the driver's This points here
    SimFirmware *owner;
  };

  void InstallStartupServices();
  Handle *FindHandle(EFI_HANDLE handle) const;

  Platform platform_;
  HardwareModel hardware_;
  EFI_SYSTEM_TABLE systemTable_{};
  EFI_BOOT_SERVICES bootServices_{};
  EFI_RUNTIME_SERVICES runtimeServices_{};
  std::vector<EFI_CONFIGURATION_TABLE> configurationTable_;
  EFI_HANDLE imageHandle_ = nullptr;

  std::vector<std::unique_ptr<Handle>> handles_;
  uint64_t nextHandleSerial_ = 1;
  PoolBlockHeader *FindPoolBlock(const void *p, bool startOnly) const;
  void CheckGuards(PoolBlockHeader &header, bool atFree);
  void ReleasePoolBlock(PoolBlockHeader *header);
  void ReleasePoolBlocks();
  // Host memory for a pool block of total bytes (header and guards
  // included): a recycled one of that size, else fresh from the heap.
  void *HeapBlock(size_t total);
  void ReleaseRecycledBlocks();
  void ReleaseStartupServices();

  // The live pool blocks, newest first, linked through their headers.
  PoolBlockHeader *newestPoolBlock_ = nullptr;
  bool guardPages_ = false;
  // Freed host memory kept for the next block of the same total size,
  // linked through its first bytes; index: total size / 8.
  struct RecycledBlocks {
    void *first = nullptr;
    size_t count = 0;
  };
  static constexpr size_t kMostRecycledBytes = 1024;
  static constexpr size_t kRecycledPerSize = 32;
  RecycledBlocks recycled_[kMostRecycledBytes / 8] = {};
  PoolStatistics pool_;
  std::vector<std::unique_ptr<EventState>> events_;
  std::vector<ServiceCall> calls_;

  SmbiosInstance smbios_{};
  std::vector<SmbiosRecord> smbiosRecords_;

  PCD_PROTOCOL pcd_{};
  void *efiPcd_[32]{};  // the PI PCD protocol: present, never called
  DEBUG_PRINT_SERVICE debugPrint_{};
  bool debugPrintInstalled_ = false;
  uint64_t locateProtocolCalls_ = 0;
  HeapBufferListImage heapBufferList_{};
  std::vector<uint8_t> hobList_;
  std::vector<PcdRead> pcdReads_;
  std::vector<DebugMessage> debugMessages_;

  std::unique_ptr<PciModel> pci_;
};

// Formats a debug message the way the platform's debug print service does:
// %a (8-bit text), %s (UCS-2 text), %c, %d, %i, %u, %x, %X, %p, %g (GUID),
// %r (status), %%, with the flags '-', '0', ' ', '+', a width and a
// precision (or '*'), and 'l' or 'L' for 64-bit integers.
std::string EFIAPI FormatDebugMessage(const CHAR8 *format, VA_LIST marker);

// The SMBIOS table as a file that a decoder reads with --from-dump: an
// SMBIOS 3.0 64-bit entry point at offset 0, the structure table at 0x20,
// closed by a Type 127 end-of-table record.
std::vector<uint8_t> BuildSmbiosDump(const std::vector<SmbiosRecord> &records);

// The most bytes the SMBIOS Add reads of a record that lies outside the
// pool, from its start: a record in the pool is read up to the end of its
// pool block.
constexpr size_t kSmbiosRecordBound = 0xFFFF;

// Measures an SMBIOS record within limit bytes: its formatted area and
// string set up to and including the double zero. 0 when the record is
// malformed (*problem then says why) or does not end within limit bytes.
size_t MeasureSmbiosRecord(const uint8_t *record, size_t limit, SmbiosRecordProblem::Kind *problem = nullptr);

}  // namespace sim
