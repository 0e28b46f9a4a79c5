#include "host/sim/HardwareModel.h"

#include <cstdio>
#include <cstdlib>

namespace sim {

namespace {
HardwareModel *gActiveHardware = nullptr;

uint64_t AllOnes(unsigned width) { return width >= 64 ? ~0ULL : ((1ULL << width) - 1); }
}  // namespace

HardwareModel *ActiveHardware() {
  if (gActiveHardware == nullptr) {
    std::fprintf(stderr, "hardware access without a simulated platform\n");
    std::abort();
  }
  return gActiveHardware;
}

void SetActiveHardware(HardwareModel *model) { gActiveHardware = model; }

void HardwareModel::AddWindow(MmioWindow window) { windows_.push_back(std::move(window)); }

// Windows may nest (registers inside the configuration space of one PCI
// function): the smallest window holding the address answers.
const MmioWindow *HardwareModel::FindWindow(uint64_t address) const {
  const MmioWindow *best = nullptr;
  for (const MmioWindow &window : windows_) {
    if (address >= window.base && address - window.base < window.size && (best == nullptr || window.size < best->size)) {
      best = &window;
    }
  }
  return best;
}

void HardwareModel::PortOut(uint16_t port, unsigned width, uint32_t value) {
  PortWrite write{port, static_cast<uint8_t>(width), value};
  portLog.push_back(write);
  portWriteTsc.push_back(tsc);
  if (onPortWrite) {
    onPortWrite(write);
  }
  if (inStopDisplay && port == 0x80 && width == 32 && ++stopDisplayValues >= stopDisplayLimit) {
    parked = true;
    if (parkJump == nullptr) {
      std::fprintf(stderr, "the driver is parked in the stop display (code 0x%08X) and nothing takes control back\n",
                   stopCode);
      std::abort();
    }
    std::longjmp(*parkJump, 1);
  }
}

uint64_t HardwareModel::MmioRead(uint64_t address, unsigned width) {
  const MmioWindow *window = FindWindow(address);
  uint64_t value = AllOnes(width);
  if (window != nullptr && window->read) {
    value = window->read(address - window->base, width) & AllOnes(width);
  }
  mmioLog.push_back({false, address, static_cast<uint8_t>(width), value});
  return value;
}

void HardwareModel::MmioWrite(uint64_t address, unsigned width, uint64_t value) {
  value &= AllOnes(width);
  mmioLog.push_back({true, address, static_cast<uint8_t>(width), value});
  const MmioWindow *window = FindWindow(address);
  if (window != nullptr && window->write) {
    window->write(address - window->base, width, value);
  }
}

uint64_t HardwareModel::ReadMsr(uint32_t index) {
  msrReads.push_back(index);
  auto found = msrs.find(index);
  return found == msrs.end() ? 0 : found->second;
}

uint64_t HardwareModel::ReadTsc() {
  tscReads++;
  uint64_t value = tsc;
  tsc += tscStep;
  return value;
}

void HardwareModel::Pause() { pauses++; }

uint16_t HardwareModel::Cpuid(uint32_t eax, uint32_t ebx, uint32_t ecx, uint16_t si) {
  cpuidQueries.push_back({eax, ebx, ecx, si});
  if (eax != kStopOverrideLeaf) {
    return si;
  }
  if (stopOverrideAnswer == 0) {
    inStopDisplay = true;
    stopCode = ecx;
    stopDisplayValues = 0;
    stopDisplayFirstWrite = portLog.size();
  }
  return stopOverrideAnswer;
}

}  // namespace sim
