// The system-call filter: a seccomp program that turns every system call
// made from inside the mapped image into SIGSYS (a fault of the driver's,
// named as such) and lets every other one through.
#include "host/loader/SystemCallFilter.h"

#include <linux/filter.h>
#include <linux/seccomp.h>
#include <stddef.h>
#include <sys/prctl.h>
#include <sys/syscall.h>
#include <unistd.h>

namespace loader::traps {

bool TrapSystemCallsFrom(uint64_t start, uint64_t size) {
  const uint64_t last = start + size - 1;
  const auto hi = [](uint64_t value) { return static_cast<uint32_t>(value >> 32); };
  const auto lo = [](uint64_t value) { return static_cast<uint32_t>(value); };
  constexpr uint32_t kIpLow = offsetof(seccomp_data, instruction_pointer);
  constexpr uint32_t kIpHigh = kIpLow + 4;
  sock_filter program[] = {
      /* 0 */ BPF_STMT(BPF_LD | BPF_W | BPF_ABS, kIpHigh),
      /* 1 */ BPF_JUMP(BPF_JMP | BPF_JGE | BPF_K, hi(start), 0, 9),  // below the image: allow
      /* 2 */ BPF_JUMP(BPF_JMP | BPF_JGT | BPF_K, hi(start), 2, 0),  // above its first word: check the end
      /* 3 */ BPF_STMT(BPF_LD | BPF_W | BPF_ABS, kIpLow),
      /* 4 */ BPF_JUMP(BPF_JMP | BPF_JGE | BPF_K, lo(start), 0, 6),
      /* 5 */ BPF_STMT(BPF_LD | BPF_W | BPF_ABS, kIpHigh),
      /* 6 */ BPF_JUMP(BPF_JMP | BPF_JGT | BPF_K, hi(last), 4, 0),   // above the image: allow
      /* 7 */ BPF_JUMP(BPF_JMP | BPF_JGE | BPF_K, hi(last), 0, 2),   // below its last word: trap
      /* 8 */ BPF_STMT(BPF_LD | BPF_W | BPF_ABS, kIpLow),
      /* 9 */ BPF_JUMP(BPF_JMP | BPF_JGT | BPF_K, lo(last), 1, 0),
      /* 10 */ BPF_STMT(BPF_RET | BPF_K, SECCOMP_RET_TRAP),
      /* 11 */ BPF_STMT(BPF_RET | BPF_K, SECCOMP_RET_ALLOW),
  };
  sock_fprog filter{static_cast<unsigned short>(sizeof(program) / sizeof(program[0])), program};
  return prctl(PR_SET_NO_NEW_PRIVS, 1, 0, 0, 0) == 0 &&
         syscall(SYS_seccomp, SECCOMP_SET_MODE_FILTER, 0, &filter) == 0;
}

}  // namespace loader::traps
