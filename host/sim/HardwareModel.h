// The simulated platform's hardware: what the driver's hardware interface
// reaches in the host build. Every access is answered by this model and
// recorded, so tests can read back exactly what the driver did.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <string>
#include <vector>

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

  // Settings.
  std::map<uint32_t, uint64_t> msrs;  // absent MSRs read 0
  uint64_t tsc = 0;
  uint64_t tscStep = 1;       // the counter advances by this much on every read
  uint16_t stopOverrideAnswer = 0;  // what an intercepting agent puts in SI

  // Records.
  std::vector<PortWrite> portLog;
  std::vector<MmioAccess> mmioLog;
  std::vector<uint32_t> msrReads;
  std::vector<CpuidQuery> cpuidQueries;
  uint64_t tscReads = 0;
  uint64_t pauses = 0;

  // Called after every port write; the host may use it to take control back
  // from code that never returns on real hardware.
  std::function<void(const PortWrite &)> onPortWrite;

 private:
  const MmioWindow *FindWindow(uint64_t address) const;
  std::vector<MmioWindow> windows_;
};

// The model that the driver's hardware interface reaches; one at a time.
HardwareModel *ActiveHardware();
void SetActiveHardware(HardwareModel *model);

}  // namespace sim
