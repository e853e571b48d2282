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
#include <pthread.h>
#include <signal.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <sys/types.h>
#include <ucontext.h>
#include <unistd.h>

#include <algorithm>
#include <cstdarg>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "FrontEndNumbers.h"
#include "TrapChildren.h"
#include "TrapFilter.h"
#include "TrapHandover.h"
#include "TrapMachine.h"

namespace {

// The memory device is character device 1:1, the port device 1:4.
constexpr unsigned kMemoryDeviceMajor = 1;
constexpr unsigned kMemoryDeviceMinor = 1;
constexpr unsigned kPortDeviceMinor = 4;
constexpr std::uint64_t kNsPerSecond = 1000000000;

enum class Device : std::uint8_t { Other, Memory, Ports };

struct KnownDevice {
  const char* path;
  unsigned minor;
  Device device;
};
constexpr KnownDevice kKnownDevices[] = {
    {"/dev/mem", kMemoryDeviceMinor, Device::Memory},
    {"/dev/port", kPortDeviceMinor, Device::Ports},
};

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
using SigactionFunction = int (*)(int, const struct sigaction*, struct sigaction*);

// Set up before the program's own initialisation, gone after its end.
trap::TrappedMachine* s_trap = nullptr;

void OnFault(int, siginfo_t* info, void* context) {
  if (s_trap == nullptr) {
    trap::Fail(trap::kTrapFailureStatus, "fault while no machine runs");
  }
  s_trap->Emulate(*info, *static_cast<ucontext_t*>(context));
}

// The kernel stops iopl and ioperm, whoever makes them.
void OnStoppedCall(int, siginfo_t* info, void*) {
  trap::Fail(trap::kTrapFailureStatus,
             "the program calls %s, which would reach this computer's ports",
             trap::StoppedCallName(info->si_syscall));
}

// The signals the harness handles itself; a program that changed their handling would
// die, or emulate nothing, at its next access.
constexpr int kHarnessSignals[] = {SIGSEGV, SIGBUS, SIGSYS};

bool IsHarnessSignal(int signal) {
  return std::find(std::begin(kHarnessSignals), std::end(kHarnessSignals), signal) !=
         std::end(kHarnessSignals);
}

[[noreturn]] void RefuseHandling(int signal) {
  trap::Fail(trap::kTrapFailureStatus,
             "the program changes the handling of SIG%s, which the harness needs for itself",
             sigabbrev_np(signal));
}

// Every signal waits while the handler runs, so that a handler of the program that makes
// an access of its own finds the fault signal free; returning restores the program's mask.
void Handle(int signal, void (*handler)(int, siginfo_t*, void*)) {
  struct sigaction action {};
  action.sa_sigaction = handler;
  action.sa_flags = SA_SIGINFO;
  sigfillset(&action.sa_mask);
  Real<SigactionFunction>("sigaction")(signal, &action, nullptr);
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
  trap::HoldHandshake(handshake->token);
  const std::string machine = description;
  close(handshake->library);
  for (const char* variable : {"LD_PRELOAD", trap::kHandshakeVariable, trap::kMachineVariable}) {
    unsetenv(variable);
  }
  s_trap = trap::StartMachine(machine).release();
  Handle(SIGSEGV, OnFault);
  Handle(SIGSYS, OnStoppedCall);
  trap::RefuseChildren();
  trap::SayReady();
}

__attribute__((destructor)) void StopTrap() {
  // The machine's own files are released through the real calls from here on.
  const std::unique_ptr<trap::TrappedMachine> machine(s_trap);
  s_trap = nullptr;
  if (machine) {
    machine->PrintStats();
  }
}  // the machine writes its cards' flash back to their files

// An absolute path with its empty and "." parts dropped and ".." parts applied.
std::string PlainPath(const char* path) {
  std::vector<std::string> parts;
  for (const char* at = path; *at != '\0';) {
    const char* end = std::strchr(at, '/');
    const std::string part(at, end != nullptr ? end : at + std::strlen(at));
    if (part == ".." && !parts.empty()) {
      parts.pop_back();
    } else if (!part.empty() && part != "." && part != "..") {
      parts.push_back(part);
    }
    at = end != nullptr ? end + 1 : at + part.size();
  }
  std::string plain;
  for (const std::string& part : parts) {
    plain += "/" + part;
  }
  return plain;
}

// What a path opens: a device by its numbers wherever it lies, or by its place where this
// computer has no such device.
Device DeviceAt(int directory, const char* path) {
  struct stat status {};
  const bool found = fstatat(directory, path, &status, 0) == 0;
  const std::string plain = path[0] == '/' ? PlainPath(path) : std::string();
  for (const KnownDevice& known : kKnownDevices) {
    const bool byNumbers = found && S_ISCHR(status.st_mode) &&
                           major(status.st_rdev) == kMemoryDeviceMajor &&
                           minor(status.st_rdev) == known.minor;
    if (byNumbers || (!found && plain == known.path)) {
      return known.device;
    }
  }
  return Device::Other;
}

// The memory device, answered by the machine; the port device, or either while no
// machine runs, ends the run.
std::optional<int> TrapOpen(int directory, const char* path, int flags,
                            trap::OpenFunction realOpen) {
  const Device device = DeviceAt(directory, path);
  if (device == Device::Other) {
    return std::nullopt;
  }
  if (device == Device::Ports) {
    trap::Fail(trap::kTrapFailureStatus, "the program opens this computer's port device '%s'",
               path);
  }
  if (s_trap == nullptr) {
    trap::Fail(trap::kTrapFailureStatus,
               "the program opens the memory device while no machine runs");
  }
  return s_trap->OpenMemoryDevice(flags, realOpen);
}

// The mode is there only when the call creates a file.
bool TakesMode(int flags) { return (flags & O_CREAT) != 0 || (flags & O_TMPFILE) == O_TMPFILE; }

int OpenFile(trap::OpenFunction realOpen, const char* path, int flags, std::va_list args) {
  if (const std::optional<int> trapped = TrapOpen(AT_FDCWD, path, flags, realOpen)) {
    return *trapped;
  }
  if (TakesMode(flags)) {
    return realOpen(path, flags, va_arg(args, mode_t));
  }
  return realOpen(path, flags);
}

using OpenatFunction = int (*)(int, const char*, int, ...);

int OpenFileAt(OpenatFunction realOpenat, int directory, const char* path, int flags,
               std::va_list args) {
  if (const std::optional<int> trapped =
          TrapOpen(directory, path, flags, Real<trap::OpenFunction>("open"))) {
    return *trapped;
  }
  if (TakesMode(flags)) {
    return realOpenat(directory, path, flags, va_arg(args, mode_t));
  }
  return realOpenat(directory, path, flags);
}

// The memory device read or written as a file: this computer's memory, which the machine
// does not give. A call the descriptor's mode refuses goes to the placeholder, which
// refuses it as the device would.
bool EndsOnMemoryDevice(int descriptor, int refusedMode, const char* call) {
  if (s_trap != nullptr && s_trap->IsMemoryDevice(descriptor) &&
      s_trap->AccessMode(descriptor) != refusedMode) {
    trap::Fail(trap::kTrapFailureStatus,
               "the program calls %s on the memory device, which the harness does not emulate",
               call);
  }
  return false;
}

template <class Stat>
int DeviceStatus(int descriptor, Stat* status, int (*realFstat)(int, Stat*)) {
  const int result = realFstat(descriptor, status);
  if (result == 0 && s_trap != nullptr && s_trap->IsMemoryDevice(descriptor)) {
    status->st_rdev = makedev(kMemoryDeviceMajor, kMemoryDeviceMinor);
  }
  return result;
}

int Duplicated(int descriptor, int copy) {
  if (s_trap != nullptr && copy >= 0) {
    s_trap->Duplicate(descriptor, copy);
  }
  return copy;
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

int openat(int directory, const char* path, int flags, ...) {
  std::va_list args;
  va_start(args, flags);
  const int descriptor = OpenFileAt(Real<OpenatFunction>("openat"), directory, path, flags, args);
  va_end(args);
  return descriptor;
}

int openat64(int directory, const char* path, int flags, ...) {
  std::va_list args;
  va_start(args, flags);
  const int descriptor = OpenFileAt(Real<OpenatFunction>("openat64"), directory, path, flags, args);
  va_end(args);
  return descriptor;
}

// The fortified opens, which take no mode.
int __open_2(const char* path, int flags) { return open(path, flags); }
int __open64_2(const char* path, int flags) { return open64(path, flags); }
int __openat_2(int directory, const char* path, int flags) {
  return openat(directory, path, flags);
}
int __openat64_2(int directory, const char* path, int flags) {
  return openat64(directory, path, flags);
}

// A stream opens its file inside the C library: a device is matched here, and a stream on
// the memory device is more than the harness emulates.
FILE* fopen(const char* path, const char* mode) {
  if (DeviceAt(AT_FDCWD, path) != Device::Other) {
    trap::Fail(trap::kTrapFailureStatus,
               "the program opens '%s' as a stream, which the harness does not emulate", path);
  }
  return Real<decltype(&fopen)>("fopen")(path, mode);
}

FILE* fopen64(const char* path, const char* mode) {
  if (DeviceAt(AT_FDCWD, path) != Device::Other) {
    return fopen(path, mode);
  }
  return Real<decltype(&fopen64)>("fopen64")(path, mode);
}

ssize_t read(int descriptor, void* buffer, std::size_t size) {
  static const auto real = Real<decltype(&read)>("read");
  EndsOnMemoryDevice(descriptor, O_WRONLY, "read");
  return real(descriptor, buffer, size);
}

ssize_t write(int descriptor, const void* buffer, std::size_t size) {
  static const auto real = Real<decltype(&write)>("write");
  EndsOnMemoryDevice(descriptor, O_RDONLY, "write");
  return real(descriptor, buffer, size);
}

ssize_t pread(int descriptor, void* buffer, std::size_t size, off_t offset) {
  EndsOnMemoryDevice(descriptor, O_WRONLY, "pread");
  return Real<decltype(&pread)>("pread")(descriptor, buffer, size, offset);
}

ssize_t pread64(int descriptor, void* buffer, std::size_t size, off64_t offset) {
  EndsOnMemoryDevice(descriptor, O_WRONLY, "pread");
  return Real<decltype(&pread64)>("pread64")(descriptor, buffer, size, offset);
}

ssize_t pwrite(int descriptor, const void* buffer, std::size_t size, off_t offset) {
  EndsOnMemoryDevice(descriptor, O_RDONLY, "pwrite");
  return Real<decltype(&pwrite)>("pwrite")(descriptor, buffer, size, offset);
}

ssize_t pwrite64(int descriptor, const void* buffer, std::size_t size, off64_t offset) {
  EndsOnMemoryDevice(descriptor, O_RDONLY, "pwrite");
  return Real<decltype(&pwrite64)>("pwrite64")(descriptor, buffer, size, offset);
}

int fstat(int descriptor, struct stat* status) noexcept {
  return DeviceStatus(descriptor, status, Real<decltype(&fstat)>("fstat"));
}

int fstat64(int descriptor, struct stat64* status) noexcept {
  return DeviceStatus(descriptor, status, Real<decltype(&fstat64)>("fstat64"));
}

int dup(int descriptor) noexcept {
  return Duplicated(descriptor, Real<decltype(&dup)>("dup")(descriptor));
}

int dup2(int descriptor, int copy) noexcept {
  return Duplicated(descriptor, Real<decltype(&dup2)>("dup2")(descriptor, copy));
}

int dup3(int descriptor, int copy, int flags) noexcept {
  return Duplicated(descriptor, Real<decltype(&dup3)>("dup3")(descriptor, copy, flags));
}

using FcntlFunction = int (*)(int, int, ...);

int FileControl(FcntlFunction real, int descriptor, int command, std::va_list args) {
  void* argument = va_arg(args, void*);
  const int result = real(descriptor, command, argument);
  const bool duplicates = command == F_DUPFD || command == F_DUPFD_CLOEXEC;
  return duplicates ? Duplicated(descriptor, result) : result;
}

int fcntl(int descriptor, int command, ...) {
  std::va_list args;
  va_start(args, command);
  const int result = FileControl(Real<FcntlFunction>("fcntl"), descriptor, command, args);
  va_end(args);
  return result;
}

int fcntl64(int descriptor, int command, ...) {
  std::va_list args;
  va_start(args, command);
  const int result = FileControl(Real<FcntlFunction>("fcntl64"), descriptor, command, args);
  va_end(args);
  return result;
}

// An aperture stays read-write and trapped: asking for that again changes nothing; any
// other protection would make it plain memory or need a fault the machine does not give.
int mprotect(void* address, std::size_t length, int protection) noexcept {
  if (s_trap != nullptr && s_trap->TouchesAperture(address, length)) {
    if (protection == (PROT_READ | PROT_WRITE) && s_trap->InOneAperture(address, length)) {
      return 0;
    }
    trap::Fail(trap::kTrapFailureStatus,
               "the program changes the protection of an aperture to 0x%x, which the harness "
               "does not emulate",
               static_cast<unsigned>(protection));
  }
  return Real<decltype(&mprotect)>("mprotect")(address, length, protection);
}

void* mremap(void* address, std::size_t length, std::size_t newLength, int flags, ...) noexcept {
  if (s_trap != nullptr && s_trap->TouchesAperture(address, length)) {
    trap::Fail(trap::kTrapFailureStatus,
               "the program remaps an aperture, which the harness does not emulate");
  }
  std::va_list args;
  va_start(args, flags);
  void* target = (flags & MREMAP_FIXED) != 0 ? va_arg(args, void*) : nullptr;
  va_end(args);
  return Real<void* (*)(void*, std::size_t, std::size_t, int, ...)>("mremap")(
      address, length, newLength, flags, target);
}

int sigaction(int signal, const struct sigaction* action, struct sigaction* previous) noexcept {
  if (s_trap != nullptr && action != nullptr && IsHarnessSignal(signal)) {
    RefuseHandling(signal);
  }
  return Real<SigactionFunction>("sigaction")(signal, action, previous);
}

sighandler_t signal(int signal, sighandler_t handler) noexcept {
  if (s_trap != nullptr && IsHarnessSignal(signal)) {
    RefuseHandling(signal);
  }
  return Real<decltype(&::signal)>("signal")(signal, handler);
}

// A thread starts with its creator's I/O privilege.
struct ThreadStart {
  void* (*routine)(void*);
  void* argument;
  int ioPrivilege;
};

void* StartThread(void* start) {
  const std::unique_ptr<ThreadStart> own(static_cast<ThreadStart*>(start));
  trap::SetThreadIoPrivilege(own->ioPrivilege);
  return own->routine(own->argument);
}

int pthread_create(pthread_t* thread, const pthread_attr_t* attributes, void* (*routine)(void*),
                   void* argument) noexcept {
  auto start =
      std::make_unique<ThreadStart>(ThreadStart{routine, argument, trap::ThreadIoPrivilege()});
  const int result = Real<decltype(&pthread_create)>("pthread_create")(thread, attributes,
                                                                       StartThread, start.get());
  if (result == 0) {
    static_cast<void>(start.release());
  }
  return result;
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
  if (s_trap == nullptr) {
    trap::Fail(trap::kTrapFailureStatus,
               "the program asks for I/O privilege while no machine runs");
  }
  return s_trap->RequestIoPrivilege(level);
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
