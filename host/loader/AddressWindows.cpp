// Address windows: the ranges of the physical address space the loader
// maps without access (PCI Express configuration space and the UART) so
// that the driver's accesses there fault into the emulation, and the names
// a message gives an address: image+0x..., a pool allocation, the stack, a
// module of this program, never the host's own numbers.
#include "host/loader/AddressWindows.h"

#include <cxxabi.h>
#include <dlfcn.h>
#include <setjmp.h>
#include <sys/mman.h>

#include <cstdio>
#include <cstring>
#include <optional>

#include "driver/firmware/BoardHardware.h"
#include "host/loader/TrapState.h"
#include "host/sim/SimFirmware.h"

namespace loader {

using namespace traps;

namespace {

struct Window {
  uint64_t base;
  uint64_t size;
};
constexpr Window kWindows[] = {
    {PCI_EXPRESS_BASE, PCI_EXPRESS_WINDOW_SIZE},  // PCI Express configuration space, 256 buses
    {UART_BASE, UART_WINDOW_SIZE},                // the UART's registers
};

// How far past a pool block's end an address still names it: its guard page
// and the bytes before it.
constexpr uint64_t kPoolNameReach = kPageSize + 8;

// The pool block an address belongs to, looked up so that a fault in the
// walk over the pool's headers (damaged by the driver) leaves it instead of
// ending the program from inside the handler.
bool LookUpPoolBlock(const sim::SimFirmware *firmware, uint64_t address, sim::PoolBlockInfo *block) {
  if (firmware == nullptr || gNamingPool != 0) {
    return false;
  }
  if (sigsetjmp(gNamingJump, 1) != 0) {
    gNamingPool = 0;
    return false;
  }
  gNamingPool = 1;
  const std::optional<sim::PoolBlockInfo> found =
      firmware->Pool().PoolBlockNear(reinterpret_cast<const void *>(address), kPoolNameReach);
  gNamingPool = 0;
  if (!found) {
    return false;
  }
  *block = *found;
  return true;
}

}  // namespace

namespace traps {

bool InWindow(uint64_t address) {
  for (const Window &window : kWindows) {
    if (address >= window.base && address - window.base < window.size) {
      return true;
    }
  }
  return false;
}

bool Canonical(uint64_t address) {
  const uint64_t top = address >> 47;
  return top == 0 || top == 0x1FFFF;
}

void ReserveWindows() {
  for (const Window &window : kWindows) {
    void *mapped = mmap(reinterpret_cast<void *>(window.base), window.size, PROT_NONE,
                        MAP_PRIVATE | MAP_ANONYMOUS | MAP_NORESERVE | MAP_FIXED_NOREPLACE, -1, 0);
    if (mapped != reinterpret_cast<void *>(window.base)) {
      if (mapped != MAP_FAILED) {
        munmap(mapped, window.size);
      }
      for (const Window &other : kWindows) {
        if (other.base == window.base) {
          break;
        }
        munmap(reinterpret_cast<void *>(other.base), other.size);
      }
      char text[96];
      std::snprintf(text, sizeof(text), "cannot reserve the hardware window at 0x%llX in this process",
                    static_cast<unsigned long long>(window.base));
      throw ImageError(text);
    }
  }
}

void ReleaseWindows() {
  for (const Window &window : kWindows) {
    munmap(reinterpret_cast<void *>(window.base), window.size);
  }
}

// Where an instruction ran: the image offset, the host function (or
// module) that holds it, or the named address outside both.
void NameCodeAddress(uint64_t rip, char *where, size_t size) {
  if (gImage != nullptr && gImage->Contains(rip)) {
    std::snprintf(where, size, "at image+0x%llX",
                  static_cast<unsigned long long>(rip - reinterpret_cast<uint64_t>(gImage->Base())));
    return;
  }
  Dl_info symbol{};
  const bool known = dladdr(reinterpret_cast<void *>(rip), &symbol) != 0;
  if (known && symbol.dli_sname != nullptr) {
    static char demangled[4096];
    size_t length = sizeof(demangled);
    int status = -1;
    abi::__cxa_demangle(symbol.dli_sname, demangled, &length, &status);
    std::snprintf(where, size, "in host function %.400s%s", status == 0 ? demangled : symbol.dli_sname,
                  gArmed ? ", which the driver called" : "");
  } else if (known && symbol.dli_fname != nullptr) {
    const char *name = std::strrchr(symbol.dli_fname, '/');
    std::snprintf(where, size, "in host code (%.200s+0x%llX)", name != nullptr ? name + 1 : symbol.dli_fname,
                  static_cast<unsigned long long>(rip - reinterpret_cast<uint64_t>(symbol.dli_fbase)));
  } else {
    char name[128];
    NameAddress(rip, gImage, gArmed ? gPoolFirmware : nullptr, name, sizeof(name));
    if (std::strncmp(name, "host memory", 11) == 0) {
      std::snprintf(where, size, "in host memory outside the image and the program");
    } else {
      std::snprintf(where, size, "at %s, outside the image and the program", name);
    }
  }
}

// " accessing NAME" for the address a faulting access reached: on the stack
// relative to the stack pointer, else named as NameAddress names it.
void NameDataAddress(uint64_t address, uint64_t stackPointer, char *access, size_t size) {
  constexpr uint64_t kStackReach = uint64_t{1} << 20;
  if (address >= kLowestMappable && Canonical(address) && (gImage == nullptr || !gImage->Contains(address)) &&
      !InWindow(address) && address + kStackReach >= stackPointer && address < stackPointer + kStackReach) {
    const bool below = address < stackPointer;
    std::snprintf(access, size, " accessing the stack at rsp%c0x%llX", below ? '-' : '+',
                  static_cast<unsigned long long>(below ? stackPointer - address : address - stackPointer));
    return;
  }
  char name[128];
  NameAddress(address, gImage, gArmed ? gPoolFirmware : nullptr, name, sizeof(name));
  std::snprintf(access, size, " accessing %s", name);
}

}  // namespace traps

void NameAddress(uint64_t address, const MappedImage *image, const sim::SimFirmware *firmware, char *out,
                 size_t size) {
  if (image != nullptr && image->Contains(address)) {
    std::snprintf(out, size, "image+0x%llX",
                  static_cast<unsigned long long>(address - reinterpret_cast<uint64_t>(image->Base())));
    return;
  }
  if (address < kLowestMappable || InWindow(address) || !Canonical(address)) {
    std::snprintf(out, size, "0x%llX", static_cast<unsigned long long>(address));
    return;
  }
  sim::PoolBlockInfo block{};
  if (LookUpPoolBlock(firmware, address, &block)) {
    const uint64_t start = reinterpret_cast<uint64_t>(block.start);
    const auto allocation = static_cast<unsigned long long>(block.allocation);
    const auto blockSize = static_cast<unsigned long long>(block.size);
    if (address < start) {
      std::snprintf(out, size, "pool allocation %llu-0x%llX, before its start", allocation,
                    static_cast<unsigned long long>(start - address));
    } else if (address - start < block.size) {
      std::snprintf(out, size, "pool allocation %llu+0x%llX (of %llu byte%s)", allocation,
                    static_cast<unsigned long long>(address - start), blockSize, blockSize == 1 ? "" : "s");
    } else {
      std::snprintf(out, size, "pool allocation %llu+0x%llX, past its end (%llu byte%s)", allocation,
                    static_cast<unsigned long long>(address - start), blockSize, blockSize == 1 ? "" : "s");
    }
    return;
  }
  Dl_info module{};
  if (dladdr(reinterpret_cast<void *>(address), &module) != 0 && module.dli_fname != nullptr &&
      module.dli_fname[0] != 0) {
    const char *name = std::strrchr(module.dli_fname, '/');
    std::snprintf(out, size, "host memory in %.200s+0x%llX", name != nullptr ? name + 1 : module.dli_fname,
                  static_cast<unsigned long long>(address - reinterpret_cast<uint64_t>(module.dli_fbase)));
    return;
  }
  std::snprintf(out, size, "host memory");
}

std::string NameAddress(const void *address, const MappedImage *image, const sim::SimFirmware *firmware) {
  char name[256];
  NameAddress(reinterpret_cast<uint64_t>(address), image, firmware, name, sizeof(name));
  return name;
}

}  // namespace loader
