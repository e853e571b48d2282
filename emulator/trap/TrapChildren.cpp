#include "TrapChildren.h"

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
#include "TrapFilter.h"
#include "TrapMachine.h"

namespace trap {
namespace {

// The calls that start a process or replace the program, besides clone, which is refused
// unless it makes a thread.
constexpr std::array<long, 4> kStarts{SYS_fork, SYS_vfork, SYS_execve, SYS_execveat};

// The low half of clone's first argument, its flags.
constexpr std::uint32_t kCloneFlags = offsetof(seccomp_data, args);

std::vector<sock_filter> ChildFilter() {
  std::vector<sock_filter> filter = FilterStart();
  // The C library falls back from clone3, whose flags a filter cannot see, to clone.
  filter.push_back(SkipUnlessEqual(SYS_clone3, 1));
  filter.push_back(Return(SECCOMP_RET_ERRNO | ENOSYS));
  filter.push_back(SkipUnlessEqual(SYS_clone, 4));
  filter.push_back(LoadWord(kCloneFlags));
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
  if (prctl(PR_SET_NO_NEW_PRIVS, 1, 0, 0, 0) != 0 || !AddFilter(ChildFilter())) {
    Fail(emu::kRefusedStatus, "cannot keep the program's children on the machine: %s",
         std::strerror(errno));
  }
}

}  // namespace trap
