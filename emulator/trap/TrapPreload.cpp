// The library the harness preloads into an unchanged program. It answers the C library
// calls of the native platform from the emulated machine (I/O privilege, the memory device
// and its mappings, the user ID, the clock) and hands the program apertures it cannot
// touch. Each port instruction (the program has no real privilege) and each access to an
// aperture then faults; the fault handler decodes the instruction, makes the access on the
// machine, writes the result into the program's registers and resumes after it.
//
// Each entry point is defined here under the name the C library exports it by, both sizes
// of file offset and (on 32-bit) of clock reading among them. The header redirections of a
// large-file or 64-bit-time build would fold open into open64 or time into __time64, so
// this file is built with the C library's own sizes.
#undef _FILE_OFFSET_BITS
#undef _TIME_BITS

#include <dlfcn.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <sys/types.h>
#include <ucontext.h>
#include <unistd.h>

#include <cstdarg>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <memory>
#include <optional>
#include <string>

#include "FrontEndNumbers.h"
#include "TrapChildren.h"
#include "TrapHandover.h"
#include "TrapMachine.h"

namespace {

constexpr char kMemoryDevice[] = "/dev/mem";
// The memory device is character device 1:1.
constexpr unsigned kMemoryDeviceMajor = 1;
constexpr unsigned kMemoryDeviceMinor = 1;
constexpr std::uint64_t kNsPerSecond = 1000000000;

template <class Function>
Function Real(const char* name) {
  void* found = dlsym(RTLD_NEXT, name);
  if (found == nullptr) {
    trap::Fail(emu::kRefusedStatus, "the C library has no %s", name);
  }
  return reinterpret_cast<Function>(found);
}

using CloseFunction = int (*)(int);
using MmapFunction = void* (*)(void*, std::size_t, int, int, int, off_t);
using MunmapFunction = int (*)(void*, std::size_t);
using UidFunction = uid_t (*)();
using IoplFunction = int (*)(int);

// Set up before the program's own initialisation, gone after its end.
trap::TrappedMachine* s_trap = nullptr;

void OnFault(int, siginfo_t* info, void* context) {
  if (s_trap == nullptr) {
    trap::Fail(trap::kTrapFailureStatus, "fault while no machine runs");
  }
  s_trap->Emulate(*info, *static_cast<ucontext_t*>(context));
}

// The harness holds the program at its first instruction until the token comes: nothing
// of the program runs before the machine does.
__attribute__((constructor)) void StartTrap() {
  const char* handshakeText = std::getenv(trap::kHandshakeVariable);
  const char* description = std::getenv(trap::kMachineVariable);
  const std::optional<trap::Handshake> handshake =
      handshakeText != nullptr ? trap::DecodeHandshake(handshakeText) : std::nullopt;
  if (!handshake || description == nullptr) {
    trap::Fail(emu::kRefusedStatus, "the library runs only in a program that %s starts",
               trap::kProgram);
  }
  const std::string machine = description;
  close(handshake->library);
  for (const char* variable : {"LD_PRELOAD", trap::kHandshakeVariable, trap::kMachineVariable}) {
    unsetenv(variable);
  }
  s_trap = trap::StartMachine(machine).release();
  struct sigaction action {};
  action.sa_sigaction = OnFault;
  action.sa_flags = SA_SIGINFO;
  sigemptyset(&action.sa_mask);
  sigaction(SIGSEGV, &action, nullptr);
  trap::RefuseChildren();
  const std::string token = std::to_string(getpid());
  if (write(handshake->token, token.data(), token.size()) != static_cast<ssize_t>(token.size())) {
    trap::Fail(emu::kRefusedStatus, "cannot tell the harness that the machine runs");
  }
  close(handshake->token);
}

__attribute__((destructor)) void StopTrap() {
  // The machine's own files are released through the real calls from here on.
  const std::unique_ptr<trap::TrappedMachine> machine(s_trap);
  s_trap = nullptr;
  if (machine) {
    machine->PrintStats();
  }
}  // the machine writes its cards' flash back to their files

int OpenFile(trap::OpenFunction realOpen, const char* path, int flags, std::va_list args) {
  if (s_trap != nullptr && std::strcmp(path, kMemoryDevice) == 0) {
    return s_trap->OpenMemoryDevice(flags, realOpen);
  }
  // The mode is there only when the call creates a file.
  if ((flags & O_CREAT) != 0 || (flags & O_TMPFILE) == O_TMPFILE) {
    return realOpen(path, flags, va_arg(args, mode_t));
  }
  return realOpen(path, flags);
}

// A mapping of the machine's real memory device would reach real hardware.
bool IsRealMemoryDevice(int descriptor) {
  struct stat status {};
  return descriptor >= 0 && fstat(descriptor, &status) == 0 && S_ISCHR(status.st_mode) &&
         major(status.st_rdev) == kMemoryDeviceMajor && minor(status.st_rdev) == kMemoryDeviceMinor;
}

// What the harness maps in the program's place; nothing when the call is the program's own.
std::optional<void*> TrapMapping(std::size_t length, int protection, int flags, int descriptor,
                                 std::uint64_t offset) {
  if (s_trap == nullptr) {
    return std::nullopt;
  }
  if (s_trap->IsMemoryDevice(descriptor)) {
    return s_trap->MapAperture(length, protection, flags, descriptor, offset,
                               Real<trap::Mmap64Function>("mmap64"));
  }
  if (IsRealMemoryDevice(descriptor)) {
    trap::Fail(trap::kTrapFailureStatus, "the program maps this computer's own memory device");
  }
  return std::nullopt;
}

// The machine's clock readings, in whichever size of seconds the program asks for.
template <class Seconds>
Seconds MachineTime(Seconds* now) {
  const auto today = static_cast<Seconds>(s_trap->Now());
  if (now != nullptr) {
    *now = today;
  }
  return today;
}

template <class Timespec>
void ToTimespec(std::uint64_t ns, Timespec& out) {
  out.tv_sec = static_cast<decltype(out.tv_sec)>(ns / kNsPerSecond);
  out.tv_nsec = static_cast<decltype(out.tv_nsec)>(ns % kNsPerSecond);
}

template <class Timespec>
void MachineMonotonic(Timespec& now) {
  ToTimespec(s_trap->MonotonicNs(), now);
}

template <class Timespec>
void MachineResolution(Timespec& resolution) {
  ToTimespec(s_trap->MonotonicResolutionNs(), resolution);
}

}  // namespace

// The C library calls the native platform makes, answered for the program.
extern "C" {

int open(const char* path, int flags, ...) {
  std::va_list args;
  va_start(args, flags);
  const int descriptor = OpenFile(Real<trap::OpenFunction>("open"), path, flags, args);
  va_end(args);
  return descriptor;
}

int open64(const char* path, int flags, ...) {
  std::va_list args;
  va_start(args, flags);
  const int descriptor = OpenFile(Real<trap::OpenFunction>("open64"), path, flags, args);
  va_end(args);
  return descriptor;
}

int close(int descriptor) {
  if (s_trap != nullptr) {
    s_trap->Close(descriptor);
  }
  return Real<CloseFunction>("close")(descriptor);
}

void* mmap(void* address, std::size_t length, int protection, int flags, int descriptor,
           off_t offset) noexcept {
  if (const std::optional<void*> mapped =
          TrapMapping(length, protection, flags, descriptor, static_cast<std::uint64_t>(offset))) {
    return *mapped;
  }
  return Real<MmapFunction>("mmap")(address, length, protection, flags, descriptor, offset);
}

void* mmap64(void* address, std::size_t length, int protection, int flags, int descriptor,
             off64_t offset) noexcept {
  if (const std::optional<void*> mapped =
          TrapMapping(length, protection, flags, descriptor, static_cast<std::uint64_t>(offset))) {
    return *mapped;
  }
  return Real<trap::Mmap64Function>("mmap64")(address, length, protection, flags, descriptor,
                                              offset);
}

int munmap(void* address, std::size_t length) noexcept {
  const int result = Real<MunmapFunction>("munmap")(address, length);
  if (result == 0 && s_trap != nullptr) {
    s_trap->UnmapAperture(address, length);
  }
  return result;
}

int iopl(int level) noexcept {
  return s_trap != nullptr ? s_trap->RequestIoPrivilege(level) : Real<IoplFunction>("iopl")(level);
}

uid_t getuid() noexcept {
  return s_trap != nullptr ? s_trap->UserId() : Real<UidFunction>("getuid")();
}

std::time_t time(std::time_t* now) noexcept {
  if (s_trap == nullptr) {
    return Real<decltype(&time)>("time")(now);
  }
  return MachineTime(now);
}

int clock_gettime(clockid_t clock, struct timespec* now) noexcept {
  if (s_trap == nullptr || clock != CLOCK_MONOTONIC) {
    return Real<decltype(&clock_gettime)>("clock_gettime")(clock, now);
  }
  MachineMonotonic(*now);
  return 0;
}

// The machine's clock, not the host's, bounds the program's waits: its tick is the one told.
int clock_getres(clockid_t clock, struct timespec* resolution) noexcept {
  if (s_trap == nullptr || clock != CLOCK_MONOTONIC) {
    return Real<decltype(&clock_getres)>("clock_getres")(clock, resolution);
  }
  if (resolution != nullptr) {
    MachineResolution(*resolution);
  }
  return 0;
}

#if defined(__i386__)
// A 32-bit program built with 64-bit clock readings calls these instead.
struct Timespec64 {
  std::int64_t tv_sec;
  std::int32_t tv_nsec;
  std::int32_t padding;
};

std::int64_t __time64(std::int64_t* now) {
  if (s_trap == nullptr) {
    return Real<decltype(&__time64)>("__time64")(now);
  }
  return MachineTime(now);
}

int __clock_gettime64(clockid_t clock, Timespec64* now) {
  if (s_trap == nullptr || clock != CLOCK_MONOTONIC) {
    return Real<decltype(&__clock_gettime64)>("__clock_gettime64")(clock, now);
  }
  MachineMonotonic(*now);
  return 0;
}

int __clock_getres64(clockid_t clock, Timespec64* resolution) {
  if (s_trap == nullptr || clock != CLOCK_MONOTONIC) {
    return Real<decltype(&__clock_getres64)>("__clock_getres64")(clock, resolution);
  }
  if (resolution != nullptr) {
    MachineResolution(*resolution);
  }
  return 0;
}
#endif

}  // extern "C"
