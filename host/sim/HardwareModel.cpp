#include "host/sim/HardwareModel.h"

#include <csetjmp>
#include <cstddef>
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

const HardwareModel *ActiveHardwareIfAny() { return gActiveHardware; }

void SetActiveHardware(HardwareModel *model) { gActiveHardware = model; }

void HardwareModel::ReportProgress(const char *what) {
  progressWhat = what;
  progress++;
}

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

bool HardwareModel::LeavingDisplayOut() const {
  return inStopDisplay && portLog.size() - stopDisplayFirstWrite >= kStopDisplayKeptFirst + kStopDisplayKeptLast;
}

bool HardwareModel::HoldingNextToLeftOut() const {
  return inStopDisplay && stopDisplayLimit > kStopDisplayKeptFirst + kStopDisplayKeptLast &&
         stopDisplayValues >= kStopDisplayKeptFirst && stopDisplayValues + kStopDisplayKeptLast <= stopDisplayLimit;
}

void HardwareModel::PortOut(uint16_t port, unsigned width, uint32_t value) {
  PortWrite write{port, static_cast<uint8_t>(width), value};
  const bool displayValue = inStopDisplay && port == POST_CODE_PORT && width == 32;
  if (displayValue && stopDisplayValues > 0 && holdAtTscStep && tscReadsSincePortWrite > 1) {
    // A hold between values kept ended with this value.
    keptHoldSpan = holdLastRead - holdStart;
  }
  tscReadsSincePortWrite = 0;
  if (LeavingDisplayOut()) {
    // The oldest of the last writes kept makes room for this one.
    const size_t oldest = stopDisplayFirstWrite + kStopDisplayKeptFirst;
    portLog.erase(portLog.begin() + static_cast<std::ptrdiff_t>(oldest));
    portWriteTsc.erase(portWriteTsc.begin() + static_cast<std::ptrdiff_t>(oldest));
    stopDisplayLeftOut++;
  }
  portLog.push_back(write);
  portWriteTsc.push_back(tsc);
  if (onPortWrite) {
    onPortWrite(write);
  }
  if (displayValue) {
    ReportProgress("stop display value");
  }
  if (displayValue && ++stopDisplayValues >= stopDisplayLimit) {
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
  if (LeavingDisplayOut()) {
    msrReadsLeftOut++;
  } else {
    msrReads.push_back(index);
  }
  auto found = msrs.find(index);
  return found == msrs.end() ? 0 : found->second;
}

uint64_t HardwareModel::ReadTsc() {
  tscReads++;
  uint64_t step = tscStep;
  const bool quick = HoldingNextToLeftOut();
  if (tscReadsSincePortWrite == 0) {
    holdAtTscStep = !quick;
  }
  if (quick && tscReadsSincePortWrite == 1 && keptHoldSpan != 0 && tsc - holdStart < keptHoldSpan) {
    // Where the hold would have read last at tscStep.
    tsc = holdStart + keptHoldSpan;
  } else if (quick && tscReadsSincePortWrite > 1) {
    // Longer than the hold learned: doubled once for each read since the
    // last port write, no further than the counter's width allows.
    for (uint64_t doubling = 0; doubling < tscReadsSincePortWrite && step <= ~0ULL / 2; doubling++) {
      step *= 2;
    }
  }
  const uint64_t value = tsc;
  if (tscReadsSincePortWrite == 0) {
    holdStart = value;
  }
  holdLastRead = value;
  tscReadsSincePortWrite++;
  tsc += step;
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
    stopDisplayLeftOut = 0;
    keptHoldSpan = 0;
  }
  return stopOverrideAnswer;
}

void HardwareModel::AttachPlatformRegisters() {
  MmioWindow window;
  window.name = "platform index/data registers";
  window.base = PlatformRegisterPair::kIndexAddress;
  window.size = 8;
  window.read = [this](uint64_t offset, unsigned width) -> uint64_t {
    if (width != 32 || (offset != 0 && offset != 4)) {
      return ~0ULL;
    }
    if (offset == 0) {
      return platformRegisters.index;
    }
    platformRegisters.registerReads.push_back(platformRegisters.index);
    auto found = platformRegisters.registers.find(platformRegisters.index);
    return found == platformRegisters.registers.end() ? 0 : found->second;
  };
  window.write = [this](uint64_t offset, unsigned width, uint64_t value) {
    if (offset != 0) {
      return;
    }
    // Narrower writes replace the low bytes only.
    const uint32_t mask = width >= 32 ? 0xFFFFFFFFu : (1u << width) - 1;
    platformRegisters.index = (platformRegisters.index & ~mask) | (static_cast<uint32_t>(value) & mask);
  };
  AddWindow(std::move(window));
}

void HardwareModel::AttachUart() {
  MmioWindow window;
  window.name = "UART";
  window.base = UartModel::kBase;
  window.size = 0x20;
  window.read = [this](uint64_t offset, unsigned width) -> uint64_t {
    if (width != 8) {
      return ~0ULL;
    }
    if (offset == UartModel::kLineStatus) {
      uart.lineStatusReads++;
      const uint64_t read = ++uart.lineStatusReadsSinceTransmit;
      const bool ready = uart.lineStatusReadyOnRead != 0 && read >= uart.lineStatusReadyOnRead;
      return ready ? uart.lineStatus : (uart.lineStatus & ~0x60u);
    }
    if (offset == UartModel::kModemStatus) {
      uart.modemStatusReads++;
      const uint64_t read = ++uart.modemStatusReadsSinceTransmit;
      const bool clear = uart.clearToSendOnRead != 0 && read >= uart.clearToSendOnRead;
      return clear ? uart.modemStatus : (uart.modemStatus & ~0x10u);
    }
    return 0;
  };
  window.write = [this](uint64_t offset, unsigned width, uint64_t value) {
    if (offset == UartModel::kTransmit && width == 8) {
      uart.transmitted.push_back(static_cast<uint8_t>(value));
      uart.lineStatusReadsSinceTransmit = 0;
      uart.modemStatusReadsSinceTransmit = 0;
    }
  };
  AddWindow(std::move(window));
}

bool RunUntilParked(HardwareModel &model, const std::function<void()> &body) {
  std::jmp_buf here;
  model.parkJump = &here;
  if (setjmp(here) != 0) {
    model.parkJump = nullptr;
    return true;
  }
  body();
  model.parkJump = nullptr;
  return false;
}

}  // namespace sim
