// The library the harness preloads into an unchanged program. It answers the C library
// calls of the native platform from the emulated machine (I/O privilege, the memory device
// and its mappings, the user ID, the clock) and hands the program apertures it cannot
// touch. Each port instruction (the program has no real privilege) and each access to an
// aperture then faults; the fault handler decodes the instruction, makes the access on the
// machine, writes the result into the program's registers and resumes after it.
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
#include <exception>
#include <optional>
#include <string>
#include <vector>

#include "Options.h"
#include "TrapHandover.h"
#include "TrapMachine.h"

namespace {

constexpr char kMemoryDevice[] = "/dev/mem";
// The memory device is character device 1:1.
constexpr unsigned kMemoryDeviceMajor = 1;
constexpr unsigned kMemoryDeviceMinor = 1;

template <class Function>
Function Real(const char* name) {
  void* found = dlsym(RTLD_NEXT, name);
  if (found == nullptr) {
    trap::Fail(emu::kRefusedStatus, "the C library has no %s", name);
  }
  return reinterpret_cast<Function>(found);
}

using CloseFunction = int (*)(int);
using Mmap64Function = void* (*)(void*, std::size_t, int, int, int, off64_t);
using MunmapFunction = int (*)(void*, std::size_t);
using UidFunction = uid_t (*)();
using IoplFunction = int (*)(int);
using TimeFunction = std::time_t (*)(std::time_t*);
using ClockFunction = int (*)(clockid_t, struct timespec*);

// Set up before the program's own initialisation, gone after its end.
trap::TrappedMachine* s_trap = nullptr;

void OnFault(int, siginfo_t* info, void* context) {
  if (s_trap == nullptr) {
    trap::Fail(trap::kTrapFailureStatus, "fault while no machine runs");
  }
  s_trap->Emulate(*info, *static_cast<ucontext_t*>(context));
}

__attribute__((constructor)) void StartTrap() {
  const char* encoded = std::getenv(trap::kMachineVariable);
  if (encoded == nullptr) {
    return;  // a program the harness did not start (a child of the program): no machine
  }
  const std::optional<std::vector<std::string>> args = trap::DecodeArguments(encoded);
  emu::FrontEndOptions options;
  std::string error;
  if (!args || !emu::ParseFrontEndOptions(*args, options, error)) {
    trap::Fail(emu::kRefusedStatus, "bad machine description: %s", error.c_str());
  }
  unsetenv(trap::kMachineVariable);
  try {
    s_trap = new trap::TrappedMachine(options);
  } catch (const std::exception& failure) {
    trap::Fail(emu::kRefusedStatus, "%s", failure.what());
  }
  struct sigaction action {};
  action.sa_sigaction = OnFault;
  action.sa_flags = SA_SIGINFO;
  sigemptyset(&action.sa_mask);
  sigaction(SIGSEGV, &action, nullptr);
}

__attribute__((destructor)) void StopTrap() {
  if (s_trap != nullptr) {
    s_trap->PrintStats();
    delete s_trap;  // the machine writes its cards' flash back to their files
    s_trap = nullptr;
  }
}

int OpenFile(trap::OpenFunction realOpen, const char* path, int flags, std::va_list args) {
  if (s_trap != nullptr && std::strcmp(path, kMemoryDevice) == 0) {
    return s_trap->OpenMemoryDevice(realOpen);
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
                               Real<trap::MmapFunction>("mmap"));
  }
  if (IsRealMemoryDevice(descriptor)) {
    trap::Fail(trap::kTrapFailureStatus, "the program maps this computer's own memory device");
  }
  return std::nullopt;
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
  return Real<trap::MmapFunction>("mmap")(address, length, protection, flags, descriptor, offset);
}

void* mmap64(void* address, std::size_t length, int protection, int flags, int descriptor,
             off64_t offset) noexcept {
  if (const std::optional<void*> mapped =
          TrapMapping(length, protection, flags, descriptor, static_cast<std::uint64_t>(offset))) {
    return *mapped;
  }
  return Real<Mmap64Function>("mmap64")(address, length, protection, flags, descriptor, offset);
}

int munmap(void* address, std::size_t length) noexcept {
  if (s_trap != nullptr) {
    s_trap->UnmapAperture(address, length);
  }
  return Real<MunmapFunction>("munmap")(address, length);
}

int iopl(int level) noexcept {
  return s_trap != nullptr ? s_trap->RequestIoPrivilege(level) : Real<IoplFunction>("iopl")(level);
}

uid_t getuid() noexcept {
  return s_trap != nullptr ? s_trap->Machine().UserId() : Real<UidFunction>("getuid")();
}

std::time_t time(std::time_t* now) noexcept {
  if (s_trap == nullptr) {
    return Real<TimeFunction>("time")(now);
  }
  const std::time_t today = s_trap->Now();
  if (now != nullptr) {
    *now = today;
  }
  return today;
}

int clock_gettime(clockid_t clock, struct timespec* now) noexcept {
  if (s_trap == nullptr || clock != CLOCK_MONOTONIC) {
    return Real<ClockFunction>("clock_gettime")(clock, now);
  }
  s_trap->Monotonic(*now);
  return 0;
}

// The machine's clock, not the host's, bounds the program's waits: its tick is the one told.
int clock_getres(clockid_t clock, struct timespec* resolution) noexcept {
  if (s_trap == nullptr || clock != CLOCK_MONOTONIC) {
    return Real<ClockFunction>("clock_getres")(clock, resolution);
  }
  if (resolution != nullptr) {
    const std::uint64_t ns = s_trap->Machine().MonotonicResolutionNs();
    resolution->tv_sec = static_cast<std::time_t>(ns / 1000000000u);
    resolution->tv_nsec = static_cast<long>(ns % 1000000000u);
  }
  return 0;
}

}  // extern "C"
