#include "TrapFilter.h"

#include <linux/audit.h>
#include <linux/seccomp.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <cstddef>

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

constexpr std::uint32_t kCallNumber = offsetof(seccomp_data, nr);
constexpr std::uint32_t kCallArchitecture = offsetof(seccomp_data, arch);

}  // namespace

sock_filter LoadWord(std::uint32_t offset) { return BPF_STMT(BPF_LD | BPF_W | BPF_ABS, offset); }
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

std::vector<sock_filter> FilterStart() {
  std::vector<sock_filter> filter{
      LoadWord(kCallArchitecture),
      SkipIfEqual(kArchitecture, 1),
      Return(SECCOMP_RET_KILL_PROCESS),
      LoadWord(kCallNumber),
  };
  if (kX32Calls != 0) {
    filter.push_back(SkipUnlessAnyBit(kX32Calls, 1));
    filter.push_back(Return(SECCOMP_RET_KILL_PROCESS));
  }
  return filter;
}

bool AddFilter(std::vector<sock_filter> filter) {
  const sock_fprog program{static_cast<unsigned short>(filter.size()), filter.data()};
  // The filters guard no secret, so the program keeps its speculative speed.
  return syscall(SYS_seccomp, SECCOMP_SET_MODE_FILTER, SECCOMP_FILTER_FLAG_SPEC_ALLOW, &program) ==
         0;
}

std::vector<sock_filter> PortCallFilter() {
  std::vector<sock_filter> filter = FilterStart();
  for (const long call : {SYS_iopl, SYS_ioperm}) {
    filter.push_back(SkipUnlessEqual(static_cast<std::uint32_t>(call), 1));
    filter.push_back(Return(SECCOMP_RET_TRAP));
  }
  filter.push_back(Return(SECCOMP_RET_ALLOW));
  return filter;
}

const char* StoppedCallName(int call) {
  return call == SYS_iopl ? "iopl" : (call == SYS_ioperm ? "ioperm" : "a system call");
}

}  // namespace trap
