// The debug print service: when it appears, and the messages it keeps
// (DebugPrintFormat.cpp formats them).
#include "host/sim/SimDebugPrint.h"

#include <link.h>

#include <cstdint>
#include <utility>

#include "driver/firmware/Guids.h"

namespace sim {

namespace {

// The loadable segment of this program (or of a library it loaded) that
// holds an address: the linked-in driver's static data lies in one.
struct SegmentSearch {
  uintptr_t address;
  size_t left = 0;
  bool found = false;
};

int FindSegment(dl_phdr_info *info, size_t, void *data) {
  auto *search = static_cast<SegmentSearch *>(data);
  for (ElfW(Half) i = 0; i < info->dlpi_phnum; i++) {
    const ElfW(Phdr) &header = info->dlpi_phdr[i];
    if (header.p_type != PT_LOAD) {
      continue;
    }
    const uintptr_t start = info->dlpi_addr + header.p_vaddr;
    if (search->address >= start && search->address - start < header.p_memsz) {
      search->left = static_cast<size_t>(header.p_memsz - (search->address - start));
      search->found = true;
      return 1;
    }
  }
  return 0;
}

}  // namespace

DebugPrint::DebugPrint(const ProtocolPresence &presence, ProtocolDatabase &protocols, void *interface,
                       const Pool &pool)
    : present_(presence.debugPrint),
      afterLookups_(presence.debugPrintAfterLookups),
      protocols_(protocols),
      interface_(interface),
      pool_(pool) {}

void DebugPrint::Install() {
  EFI_HANDLE handle = nullptr;
  protocols_.InstallProtocol(&handle, gDebugPrintServiceGuid, interface_);
  installed_ = true;
}

void DebugPrint::InstallIfPresent() {
  if (present_) {
    Install();
  }
}

void DebugPrint::Print(UINTN errorLevel, const CHAR8 *format, VA_LIST marker) {
  std::string text = FormatDebugMessage(format, marker, [this](const void *p) { return LimitAt(p); });
  messages_.push_back({errorLevel, format != nullptr ? BoundedText(format, LimitAt(format)) : "", std::move(text)});
}

ReadLimit DebugPrint::LimitAt(const void *p) const {
  if (const std::optional<PoolBlockInfo> block = pool_.PoolBlockAt(p)) {
    return {static_cast<size_t>(block->start + block->size - static_cast<const uint8_t *>(p)), "its pool block"};
  }
  const auto *bytes = static_cast<const uint8_t *>(p);
  if (imageBase_ != nullptr && bytes >= imageBase_ && bytes < imageBase_ + imageSize_) {
    return {static_cast<size_t>(imageBase_ + imageSize_ - bytes), "the driver's image"};
  }
  SegmentSearch search{reinterpret_cast<uintptr_t>(p)};
  dl_iterate_phdr(FindSegment, &search);
  if (search.found) {
    return {search.left, "its segment of the program"};
  }
  return {kDebugTextBound, "the " + std::to_string(kDebugTextBound) + " bytes read"};
}

}  // namespace sim
