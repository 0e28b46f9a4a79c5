// The simulated platform's hardware: what the driver's hardware interface
// reaches in the host build. Every access is answered by this model and
// recorded, so tests can read back exactly what the driver did.
#pragma once

#include <csetjmp>
#include <cstdint>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "driver/firmware/BoardHardware.h"

namespace sim {

struct PortWrite {
  uint16_t port;
  uint8_t width;  // in bits: 8, 16 or 32
  uint32_t value;
  bool operator==(const PortWrite &) const = default;
};

struct MmioAccess {
  bool write;
  uint64_t address;
  uint8_t width;  // in bits
  uint64_t value;
};

// A window of the physical address space served by the model. Reads of
// addresses outside every window return all ones, as an unclaimed bus does.
// Where windows nest, the smallest one that holds an address serves it.
struct MmioWindow {
  std::string name;
  uint64_t base;
  uint64_t size;
  std::function<uint64_t(uint64_t offset, unsigned width)> read;
  std::function<void(uint64_t offset, unsigned width, uint64_t value)> write;
};

struct CpuidQuery {
  uint32_t eax, ebx, ecx;
  uint16_t si;
};

// The platform registers' index/data pair (driver/firmware/BoardHardware.h):
// writing a register number to the index register makes the data register
// show that platform register.
struct PlatformRegisterPair {
  static constexpr uint64_t kIndexAddress = PLATFORM_INDEX_REGISTER;
  static constexpr uint64_t kDataAddress = PLATFORM_DATA_REGISTER;
  uint32_t index = 0;
  std::map<uint32_t, uint32_t> registers;  // absent registers read 0
  std::vector<uint32_t> registerReads;     // register numbers read through the data register
};

// A 16550-compatible UART at the board's UART base, registers 4 bytes apart.
struct UartModel {
  static constexpr uint64_t kBase = UART_BASE;
  static constexpr uint64_t kTransmit = UART_TRANSMIT_OFFSET;
  static constexpr uint64_t kLineStatus = UART_LINE_STATUS_OFFSET;
  static constexpr uint64_t kModemStatus = UART_MODEM_STATUS_OFFSET;
  uint8_t lineStatus = 0x60;   // once ready: holding register and transmitter empty
  uint8_t modemStatus = 0x30;  // once clear to send
  // 1-based read, counted from power-on and again from each transmitted
  // byte, on which 0x60 first shows in the line status and 0x10 in the
  // modem status; 0: never. Before that those bits read clear.
  uint64_t lineStatusReadyOnRead = 1;
  uint64_t clearToSendOnRead = 1;
  // Records.
  uint64_t lineStatusReads = 0;
  uint64_t modemStatusReads = 0;
  uint64_t lineStatusReadsSinceTransmit = 0;
  uint64_t modemStatusReadsSinceTransmit = 0;
  std::vector<uint8_t> transmitted;
};

class HardwareModel {
 public:
  void AddWindow(MmioWindow window);

  void PortOut(uint16_t port, unsigned width, uint32_t value);
  uint64_t MmioRead(uint64_t address, unsigned width);
  void MmioWrite(uint64_t address, unsigned width, uint64_t value);
  uint64_t ReadMsr(uint32_t index);
  uint64_t ReadTsc();
  void Pause();
  uint16_t Cpuid(uint32_t eax, uint32_t ebx, uint32_t ecx, uint16_t si);

  // Serves the index/data register pair and the platform registers behind
  // it, and the UART, from the state below.
  void AttachPlatformRegisters();
  void AttachUart();

  // Settings.
  std::map<uint32_t, uint64_t> msrs;  // absent MSRs read 0
  uint64_t tsc = 0;
  uint64_t tscStep = 1;       // the counter advances by this much on every read (see holdStart)
  uint16_t stopOverrideAnswer = 0;  // what an intercepting agent puts in SI
  PlatformRegisterPair platformRegisters;
  UartModel uart;

  // The stop display. An answer of 0 to the stop-override query (CPUID leaf
  // STOP_OVERRIDE_LEAF) leaves the processor in the display loop for good;
  // after this many 32-bit values on the POST code port the model takes
  // control back by a long jump to RunUntilParked.
  static constexpr uint32_t kStopOverrideLeaf = STOP_OVERRIDE_LEAF;
  uint64_t stopDisplayLimit = 12;
  bool inStopDisplay = false;
  uint32_t stopCode = 0;        // the code of the query that began it
  uint64_t stopDisplayValues = 0;
  size_t stopDisplayFirstWrite = 0;  // index in portLog of the first display value
  bool parked = false;
  // A display may run for up to a million values; its trace is bounded.
  // Of the port writes from the first display value on, portLog keeps the
  // first kStopDisplayKeptFirst and the last kStopDisplayKeptLast, with
  // their counters in portWriteTsc, and counts the writes between them in
  // stopDisplayLeftOut. MSR reads (the holds' frequency look-ups) made once
  // the trace holds all it keeps are counted in msrReadsLeftOut, not listed.
  static constexpr size_t kStopDisplayKeptFirst = 16;
  static constexpr size_t kStopDisplayKeptLast = 16;
  uint64_t stopDisplayLeftOut = 0;
  uint64_t msrReadsLeftOut = 0;
  // A hold next to a value the trace leaves out is seen by no one, so it
  // takes two counter reads, not hold / tscStep: the second read returns
  // the start stamp plus the span the last hold between values kept took
  // at tscStep (its start stamp to its last read), which ends a hold of
  // the same length with the counter exactly where tscStep would have
  // brought it. A hold longer than that one goes on at a step that doubles
  // at each further read. The holds between the values kept run with
  // tscStep throughout.
  uint64_t tscReadsSincePortWrite = 0;
  uint64_t holdStart = 0;         // the counter the hold under way read first
  uint64_t holdLastRead = 0;      // the counter it read last
  bool holdAtTscStep = false;     // it ran with tscStep throughout
  uint64_t keptHoldSpan = 0;      // 0 until a hold between values kept has ended
  std::jmp_buf *parkJump = nullptr;

  // Records.
  std::vector<PortWrite> portLog;
  std::vector<uint64_t> portWriteTsc;  // the counter at each port write, beside portLog
  std::vector<MmioAccess> mmioLog;
  std::vector<uint32_t> msrReads;
  std::vector<CpuidQuery> cpuidQueries;
  uint64_t tscReads = 0;
  uint64_t pauses = 0;

  // Progress: how many observable outputs the model saw that lead towards
  // an end the model itself sets, for a watchdog that tells a long run from
  // a hang (the loader's). The model counts each stop display value (it
  // takes control back after stopDisplayLimit of them); outputs that
  // nothing bounds (a POST code, a byte to the UART) do not count, so that
  // a loop writing them for ever is still a hang. Any other source (a
  // window's handler, say) may count its own with ReportProgress.
  // progressWhat names the last output counted, for the watchdog's message.
  void ReportProgress(const char *what);
  uint64_t progress = 0;
  const char *progressWhat = nullptr;

  // Called after every port write; the host may use it to take control back
  // from code that never returns on real hardware.
  std::function<void(const PortWrite &)> onPortWrite;

 private:
  const MmioWindow *FindWindow(uint64_t address) const;
  // The display has filled what its trace keeps: what comes now is left out
  // or pushes out the oldest of the last writes kept.
  bool LeavingDisplayOut() const;
  // A display with values left out has written its 16th value and not yet
  // the first of its last 16: the hold under way leads to or from a value
  // left out.
  bool HoldingNextToLeftOut() const;
  std::vector<MmioWindow> windows_;
};

// Runs body; true when the code it ran ended parked in the stop display
// (the model's long jump came back here), false when body returned.
bool RunUntilParked(HardwareModel &model, const std::function<void()> &body);

// The model that the driver's hardware interface reaches; one at a time.
HardwareModel *ActiveHardware();
// The same, or null when there is none (ActiveHardware ends the program
// then); safe to ask from a signal handler.
const HardwareModel *ActiveHardwareIfAny();
void SetActiveHardware(HardwareModel *model);

}  // namespace sim
