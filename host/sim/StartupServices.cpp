// The simulated platform's start-up services: the PCD protocols, the debug
// print service and its formatting, another module's heap buffer list, the
// hand-off block list in the configuration table, and the hardware behind
// the fatal stop and the debug output backends.
#include <csetjmp>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "firmware/Guids.h"
#include "host/sim/SimFirmware.h"

namespace sim {

namespace {

SimFirmware *gOwner = nullptr;

SimFirmware &Owner() {
  if (gOwner == nullptr) {
    std::fprintf(stderr, "start-up service called without a simulated firmware\n");
    std::abort();
  }
  return *gOwner;
}

[[noreturn]] void EFIAPI UnexpectedStartupService() {
  std::fprintf(stderr, "the driver called a PCD or debug print service the simulation does not provide\n");
  std::abort();
}

void FillUnexpected(void *table, size_t size) {
  auto **slots = static_cast<void **>(table);
  for (size_t i = 0; i < size / sizeof(void *); i++) {
    slots[i] = reinterpret_cast<void *>(&UnexpectedStartupService);
  }
}

UINT8 EFIAPI ThunkPcdGet8(UINTN token) { return static_cast<UINT8>(Owner().PcdGet("Get8", token, 8)); }
UINT32 EFIAPI ThunkPcdGet32(UINTN token) { return static_cast<UINT32>(Owner().PcdGet("Get32", token, 32)); }
BOOLEAN EFIAPI ThunkPcdGetBool(UINTN token) { return static_cast<BOOLEAN>(Owner().PcdGet("GetBool", token, 1)); }
VOID EFIAPI ThunkDebugPrint(UINTN errorLevel, const CHAR8 *format, VA_LIST marker) {
  Owner().DebugPrint(errorLevel, format, FormatDebugMessage(format, marker));
}

}  // namespace

void SimFirmware::InstallStartupServices() {
  gOwner = this;

  // The platform's start-up services: PCD protocols, the debug print
  // service, another module's heap buffer list, the hand-off block list.
  if (platform_.protocols.pcd) {
    FillUnexpected(&pcd_, sizeof(pcd_));
    pcd_.Get8 = ThunkPcdGet8;
    pcd_.Get32 = ThunkPcdGet32;
    pcd_.GetBool = ThunkPcdGetBool;
    EFI_HANDLE handle = nullptr;
    InstallProtocol(&handle, gPcdProtocolGuid, &pcd_);
  }
  if (platform_.protocols.efiPcd) {
    FillUnexpected(efiPcd_, sizeof(efiPcd_));
    EFI_HANDLE handle = nullptr;
    InstallProtocol(&handle, gEfiPcdProtocolGuid, efiPcd_);
  }
  debugPrint_.Print = ThunkDebugPrint;
  if (platform_.protocols.debugPrint) {
    EFI_HANDLE handle = nullptr;
    InstallProtocol(&handle, gDebugPrintServiceGuid, &debugPrint_);
    debugPrintInstalled_ = true;
  }
  if (platform_.protocols.heapBufferList) {
    heapBufferList_.revision = 1;
    heapBufferList_.forward = &heapBufferList_.forward;
    heapBufferList_.back = &heapBufferList_.forward;
    EFI_HANDLE handle = nullptr;
    InstallProtocol(&handle, gHeapBufferListProtocolGuid, &heapBufferList_);
  }
  if (platform_.hobList.present) {
    hobList_ = BuildHobList(platform_.hobList);
    AppendZerosTheChainReaches(hobList_);
    AddConfigurationTable(gEfiHobListGuid, hobList_.data());
  }

  // The hardware behind the start-up services.
  for (size_t i = 0; i < platform_.cpu.pstates.size() && i < 8; i++) {
    hardware_.msrs[0xC0010064 + static_cast<uint32_t>(i)] = platform_.cpu.pstates[i];
  }
  hardware_.tsc = platform_.cpu.tscStart;
  hardware_.tscStep = platform_.cpu.tscStep;
  hardware_.stopOverrideAnswer = platform_.cpu.stopOverride;
  hardware_.stopDisplayLimit = platform_.cpu.stopDisplayValues;
  hardware_.platformRegisters.index = platform_.platformRegisters.index;
  hardware_.platformRegisters.registers = platform_.platformRegisters.registers;
  hardware_.AttachPlatformRegisters();
  if (platform_.uart.present) {
    hardware_.uart.lineStatus = platform_.uart.lineStatus;
    hardware_.uart.modemStatus = platform_.uart.modemStatus;
    hardware_.uart.lineStatusReadyOnRead = platform_.uart.lineStatusReadyOnRead;
    hardware_.uart.clearToSendOnRead = platform_.uart.clearToSendOnRead;
    hardware_.AttachUart();
  }
}

uint64_t SimFirmware::PcdGet(const char *getter, UINTN token, unsigned width) {
  auto found = platform_.pcdTokens.find(token);
  uint64_t value = found == platform_.pcdTokens.end() ? 0 : found->second;
  if (width == 1) {
    value = value != 0 ? 1 : 0;
  } else if (width < 64) {
    value &= (1ULL << width) - 1;
  }
  pcdReads_.push_back({getter, token, value});
  return value;
}

void SimFirmware::DebugPrint(UINTN errorLevel, const CHAR8 *format, std::string text) {
  debugMessages_.push_back({errorLevel, format != nullptr ? format : "", std::move(text)});
}

std::string EFIAPI FormatDebugMessage(const CHAR8 *format, VA_LIST marker) {
  std::string out;
  if (format == nullptr) {
    return out;
  }
  for (const char *p = format; *p != 0; p++) {
    if (*p != '%') {
      out += *p;
      continue;
    }
    const char *start = p++;
    bool left = false, zero = false, plus = false, space = false, wide = false;
    for (;; p++) {
      if (*p == '-') {
        left = true;
      } else if (*p == '0') {
        zero = true;
      } else if (*p == '+') {
        plus = true;
      } else if (*p == ' ') {
        space = true;
      } else if (*p != ',') {
        break;
      }
    }
    int width = 0;
    if (*p == '*') {
      width = VA_ARG(marker, int);
      p++;
    } else {
      while (*p >= '0' && *p <= '9') {
        width = width * 10 + (*p++ - '0');
      }
    }
    int precision = -1;
    if (*p == '.') {
      p++;
      precision = 0;
      if (*p == '*') {
        precision = VA_ARG(marker, int);
        p++;
      } else {
        while (*p >= '0' && *p <= '9') {
          precision = precision * 10 + (*p++ - '0');
        }
      }
    }
    while (*p == 'l' || *p == 'L') {
      wide = true;
      p++;
    }
    if (*p == 0) {
      out += start;
      break;
    }
    std::string field;
    std::string sign;
    bool numeric = false;
    char digits[32];
    switch (*p) {
      case 'a': {
        const char *text = VA_ARG(marker, const char *);
        field = text != nullptr ? text : "<null string>";
        break;
      }
      case 's':
      case 'S': {
        const char16_t *text = VA_ARG(marker, const char16_t *);
        if (text == nullptr) {
          field = "<null string>";
        } else {
          for (; *text != 0; text++) {
            field += *text < 0x80 ? static_cast<char>(*text) : '?';
          }
        }
        break;
      }
      case 'c':
        field = std::string(1, static_cast<char>(VA_ARG(marker, int) & 0xFF));
        break;
      case 'd':
      case 'i': {
        const int64_t value = wide ? VA_ARG(marker, int64_t) : VA_ARG(marker, int32_t);
        const uint64_t magnitude = value < 0 ? 0 - static_cast<uint64_t>(value) : static_cast<uint64_t>(value);
        std::snprintf(digits, sizeof(digits), "%llu", static_cast<unsigned long long>(magnitude));
        field = digits;
        sign = value < 0 ? "-" : plus ? "+" : space ? " " : "";
        numeric = true;
        break;
      }
      case 'u':
      case 'x':
      case 'X': {
        const uint64_t value = wide ? VA_ARG(marker, uint64_t) : VA_ARG(marker, uint32_t);
        std::snprintf(digits, sizeof(digits), *p == 'u' ? "%llu" : *p == 'x' ? "%llx" : "%llX",
                      static_cast<unsigned long long>(value));
        field = digits;
        numeric = true;
        break;
      }
      case 'p': {
        const void *pointer = VA_ARG(marker, const void *);
        std::snprintf(digits, sizeof(digits), "%016llX",
                      static_cast<unsigned long long>(reinterpret_cast<uintptr_t>(pointer)));
        field = digits;
        break;
      }
      case 'g': {
        const EFI_GUID *guid = VA_ARG(marker, const EFI_GUID *);
        field = guid != nullptr ? GuidToString(*guid) : "<null guid>";
        break;
      }
      case 'r':
        field = StatusText(VA_ARG(marker, UINT64));
        break;
      case '%':
        field = "%";
        break;
      default:
        // Not a conversion: shown as written, no argument taken.
        field.assign(start, p + 1);
        width = 0;
        break;
    }
    if (!numeric && precision >= 0 && static_cast<size_t>(precision) < field.size()) {
      field.resize(static_cast<size_t>(precision));
    }
    if (numeric && precision >= 0 && static_cast<size_t>(precision) > field.size()) {
      field.insert(0, static_cast<size_t>(precision) - field.size(), '0');
    }
    const size_t used = sign.size() + field.size();
    const size_t pad = width > 0 && static_cast<size_t>(width) > used ? static_cast<size_t>(width) - used : 0;
    if (left) {
      out += sign + field + std::string(pad, ' ');
    } else if (zero && numeric) {
      out += sign + std::string(pad, '0') + field;
    } else {
      out += std::string(pad, ' ') + sign + field;
    }
  }
  return out;
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
