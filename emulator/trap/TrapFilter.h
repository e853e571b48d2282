// The system-call filters of the harness, in the kernel's own filter language: the
// program's calls are judged by the kernel, whatever route they take to it.
#pragma once

#include <linux/filter.h>

#include <cstdint>
#include <vector>

namespace trap {

sock_filter LoadWord(std::uint32_t offset);
sock_filter Return(std::uint32_t action);
sock_filter SkipUnlessEqual(std::uint32_t value, std::uint8_t skip);
sock_filter SkipIfEqual(std::uint32_t value, std::uint8_t skip);
sock_filter SkipUnlessAnyBit(std::uint32_t bits, std::uint8_t skip);

// The start of every filter: a call of another instruction set (the 32-bit calls of a
// 64-bit process, x32) kills the process; then the call's number is loaded.
std::vector<sock_filter> FilterStart();

// Adds the filter for the rest of the process's life and of every program it runs.
// False with errno; no-new-privileges must be set.
bool AddFilter(std::vector<sock_filter> filter);

// The calls that grant port I/O, iopl and ioperm, raise SIGSYS instead (code SYS_SECCOMP,
// the call in si_syscall). The library never makes them: it answers iopl itself.
std::vector<sock_filter> PortCallFilter();

// The signal code of a call a filter stopped (SYS_SECCOMP).
constexpr int kStoppedCallCode = 1;

// The name of a call the filters stop, for the line that ends the run.
const char* StoppedCallName(int call);

}  // namespace trap
