#include "TrapChildren.h"

#include <linux/audit.h>
#include <linux/filter.h>
#include <linux/seccomp.h>
#include <sched.h>
#include <sys/prctl.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <vector>

#include "FrontEndNumbers.h"
#include "TrapMachine.h"

namespace trap {
namespace {

#if defined(__x86_64__)
constexpr std::uint32_t kArchitecture = AUDIT_ARCH_X86_64;
// The x32 calls of a 64-bit kernel; the program never makes one.
constexpr std::uint32_t kX32Calls = 0x40000000;
#else
constexpr std::uint32_t kArchitecture = AUDIT_ARCH_I386;
constexpr std::uint32_t kX32Calls = 0;
#endif

// The calls that start a process or replace the program, besides clone, which is refused
// unless it makes a thread.
constexpr std::array<long, 4> kStarts{SYS_fork, SYS_vfork, SYS_execve, SYS_execveat};

constexpr std::uint32_t kCallNumber = offsetof(seccomp_data, nr);
constexpr std::uint32_t kCallArchitecture = offsetof(seccomp_data, arch);
// The low half of clone's first argument, its flags.
constexpr std::uint32_t kCloneFlags = offsetof(seccomp_data, args);

sock_filter Load(std::uint32_t offset) {
  return BPF_STMT(BPF_LD | BPF_W | BPF_ABS, offset);
}
sock_filter Return(std::uint32_t action) { return BPF_STMT(BPF_RET | BPF_K, action); }
sock_filter SkipUnlessEqual(std::uint32_t value, std::uint8_t skip) {
  return BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, value, 0, skip);
}
sock_filter SkipIfEqual(std::uint32_t value, std::uint8_t skip) {
  return BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, value, skip, 0);
}
sock_filter SkipUnlessAnyBit(std::uint32_t bits, std::uint8_t skip) {
  return BPF_JUMP(BPF_JMP | BPF_JSET | BPF_K, bits, 0, skip);
}

std::vector<sock_filter> ChildFilter() {
  std::vector<sock_filter> filter{
      Load(kCallArchitecture),
      SkipIfEqual(kArchitecture, 1),
      Return(SECCOMP_RET_KILL_PROCESS),
      Load(kCallNumber),
  };
  if (kX32Calls != 0) {
    filter.push_back(SkipUnlessAnyBit(kX32Calls, 1));
    filter.push_back(Return(SECCOMP_RET_KILL_PROCESS));
  }
  // The C library falls back from clone3, whose flags a filter cannot see, to clone.
  filter.push_back(SkipUnlessEqual(SYS_clone3, 1));
  filter.push_back(Return(SECCOMP_RET_ERRNO | ENOSYS));
  filter.push_back(SkipUnlessEqual(SYS_clone, 4));
  filter.push_back(Load(kCloneFlags));
  filter.push_back(SkipUnlessAnyBit(CLONE_THREAD, 1));
  filter.push_back(Return(SECCOMP_RET_ALLOW));
  filter.push_back(Return(SECCOMP_RET_KILL_PROCESS));
  for (const long call : kStarts) {
    filter.push_back(SkipUnlessEqual(static_cast<std::uint32_t>(call), 1));
    filter.push_back(Return(SECCOMP_RET_KILL_PROCESS));
  }
  filter.push_back(Return(SECCOMP_RET_ALLOW));
  return filter;
}

}  // namespace

void RefuseChildren() {
  std::vector<sock_filter> filter = ChildFilter();
  const sock_fprog program{static_cast<unsigned short>(filter.size()), filter.data()};
  // The filter guards no secret, so the program keeps its speculative speed.
  if (prctl(PR_SET_NO_NEW_PRIVS, 1, 0, 0, 0) != 0 ||
      syscall(SYS_seccomp, SECCOMP_SET_MODE_FILTER, SECCOMP_FILTER_FLAG_SPEC_ALLOW, &program) != 0) {
    Fail(emu::kRefusedStatus, "cannot keep the program's children on the machine: %s",
         std::strerror(errno));
  }
}

}  // namespace trap
