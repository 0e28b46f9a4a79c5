// Instruction rewriting: which of rdtsc and cpuid the processor traps here
// (probed once per process), the walk over the image's code that finds
// every rdtsc, cpuid and use of the thread pointer at an instruction
// boundary, and the rewriting of those sites into ud2 in the mapped copy
// (the same two bytes' length), so that each faults where it begins.
#include "host/loader/CodeRewriting.h"

#include <asm/prctl.h>
#include <setjmp.h>
#include <signal.h>
#include <sys/mman.h>
#include <sys/prctl.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>

#include "host/loader/TrapState.h"
#include "host/loader/X86Decoder.h"

namespace loader {

using namespace traps;

namespace {

constexpr uint8_t kUd2[2] = {0x0F, 0x0B};

// Executes code under a temporary SIGSEGV handler; true when it faulted.
sigjmp_buf gProbeJump;
void OnProbeFault(int) { siglongjmp(gProbeJump, 1); }
bool Faults(void (*code)()) {
  struct sigaction probe {};
  struct sigaction previous {};
  probe.sa_handler = OnProbeFault;
  sigemptyset(&probe.sa_mask);
  sigaction(SIGSEGV, &probe, &previous);
  const bool faulted = sigsetjmp(gProbeJump, 1) != 0;
  if (!faulted) {
    code();
  }
  sigaction(SIGSEGV, &previous, nullptr);
  return faulted;
}

void ExecuteRdtsc() {
  uint32_t low;
  uint32_t high;
  __asm__ __volatile__("rdtsc" : "=a"(low), "=d"(high));
}

void ExecuteCpuid() {
  uint32_t eax = 0;
  uint32_t ebx;
  uint32_t ecx = 0;
  uint32_t edx;
  __asm__ __volatile__("cpuid" : "+a"(eax), "=b"(ebx), "+c"(ecx), "=d"(edx));
}

int Protection(const Section &section) {
  return (section.Readable() ? PROT_READ : 0) | (section.Writable() ? PROT_WRITE : 0) |
         (section.Executable() ? PROT_EXEC : 0);
}

}  // namespace

namespace traps {

// Writes ud2 over the opcode of each site in the mapped code, opening each
// page for writing only while it is written.
void RewriteSites(const PeImage &file, MappedImage &image, const std::vector<RewrittenSite> &sites) {
  for (const RewrittenSite &site : sites) {
    for (const Section &section : file.sections) {
      if (site.rva < section.virtualAddress || site.rva - section.virtualAddress >= section.virtualSize) {
        continue;
      }
      uint8_t *at = static_cast<uint8_t *>(image.At(site.rva));
      const X86Instruction insn = DecodeX86(at, site.length);
      // rdtsc and cpuid: ud2 over the opcode, so that it faults where the
      // instruction begins. An instruction that reaches the thread pointer
      // (two bytes or more) is never run: ud2 over its first two bytes.
      uint8_t *opcode = site.kind == SiteKind::ThreadPointer ? at : at + insn.opcodeOffset;
      auto *first = reinterpret_cast<uint8_t *>(reinterpret_cast<uint64_t>(opcode) & ~(kPageSize - 1));
      const size_t span = static_cast<size_t>(opcode + 2 - first);
      mprotect(first, span, PROT_READ | PROT_WRITE);
      std::memcpy(opcode, kUd2, sizeof(kUd2));
      mprotect(first, span, Protection(section));
    }
  }
}

}  // namespace traps

ProcessorTraps ProbeProcessorTraps() {
  static const ProcessorTraps probed = [] {
    ProcessorTraps traps;
    if (prctl(PR_SET_TSC, PR_TSC_SIGSEGV, 0, 0, 0) == 0) {
      traps.rdtsc = Faults(ExecuteRdtsc);
      prctl(PR_SET_TSC, PR_TSC_ENABLE, 0, 0, 0);
    }
    if (syscall(SYS_arch_prctl, ARCH_SET_CPUID, 0) == 0) {
      traps.cpuid = Faults(ExecuteCpuid);
      syscall(SYS_arch_prctl, ARCH_SET_CPUID, 1);
    }
    return traps;
  }();
  return probed;
}

bool RewriteForcedByEnvironment() {
  const char *setting = std::getenv("BOARDINV_EFI_TRAPS");
  if (setting == nullptr || std::strcmp(setting, "") == 0 || std::strcmp(setting, "auto") == 0) {
    return false;
  }
  if (std::strcmp(setting, "rewrite") == 0) {
    return true;
  }
  throw ImageError(std::string("BOARDINV_EFI_TRAPS is \"") + setting + "\"; it takes auto or rewrite");
}

std::vector<uint32_t> CodeSymbols(const PeImage &image, const std::map<std::string, uint32_t> &symbols) {
  std::vector<uint32_t> code;
  for (const auto &[name, rva] : symbols) {
    const Section *section = image.SectionHolding(rva, 0);
    if (section != nullptr && section->Executable()) {
      code.push_back(rva);
    }
  }
  return code;
}

CodeWalk WalkCode(const PeImage &image, const std::vector<uint32_t> &codeSymbols) {
  std::vector<uint32_t> starts = codeSymbols;
  std::sort(starts.begin(), starts.end());
  starts.erase(std::unique(starts.begin(), starts.end()), starts.end());
  CodeWalk walk;
  for (const Section &section : image.sections) {
    if (!section.Executable()) {
      continue;
    }
    // Only the bytes the file holds; the rest of the section is zeros.
    const uint32_t begin = section.virtualAddress;
    const uint32_t end = begin + std::min(section.virtualSize, section.rawSize);
    const uint8_t *bytes = image.file.data() + section.rawOffset - section.virtualAddress;
    auto next = std::lower_bound(starts.begin(), starts.end(), begin);
    uint32_t at = begin;
    while (at < end) {
      if (next != starts.end() && *next < end && *next <= at) {
        if (*next < at) {
          walk.symbolsInsideInstructions.push_back(*next);
        }
        at = *next++;
        continue;
      }
      const uint32_t limit = next != starts.end() && *next < end ? *next : end;
      const X86Instruction insn = DecodeX86(bytes + at, end - at);
      if (insn.length == 0) {
        break;
      }
      if (at + insn.length <= limit && (IsRdtsc(insn) || IsCpuid(insn))) {
        walk.sites.push_back({at, static_cast<uint8_t>(insn.length), IsRdtsc(insn) ? SiteKind::Rdtsc : SiteKind::Cpuid, {}});
      } else if (at + insn.length <= limit && ThreadPointerUseOf(insn, bytes + at) != ThreadPointerUse::None) {
        char what[160];
        DescribeThreadPointerUse(insn, bytes + at, what, sizeof(what));
        walk.sites.push_back({at, static_cast<uint8_t>(insn.length), SiteKind::ThreadPointer, what});
      }
      at += insn.length;
    }
  }
  std::sort(walk.sites.begin(), walk.sites.end(),
            [](const RewrittenSite &a, const RewrittenSite &b) { return a.rva < b.rva; });
  return walk;
}

}  // namespace loader
