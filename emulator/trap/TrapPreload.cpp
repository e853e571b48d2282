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

#include <array>
#include <cerrno>
#include <cstdarg>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <exception>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "EmuFrontEnd.h"
#include "TrapDecoder.h"
#include "TrapHandover.h"

namespace {

#if defined(__x86_64__)
constexpr bool kLongMode = true;
constexpr std::array<int, 16> kRegisterSlots{REG_RAX, REG_RCX, REG_RDX, REG_RBX, REG_RSP, REG_RBP,
                                             REG_RSI, REG_RDI, REG_R8,  REG_R9,  REG_R10, REG_R11,
                                             REG_R12, REG_R13, REG_R14, REG_R15};
constexpr int kInstructionPointerSlot = REG_RIP;
#elif defined(__i386__)
constexpr bool kLongMode = false;
constexpr std::array<int, 8> kRegisterSlots{REG_EAX, REG_ECX, REG_EDX, REG_EBX,
                                            REG_ESP, REG_EBP, REG_ESI, REG_EDI};
constexpr int kInstructionPointerSlot = REG_EIP;
#else
#error "the trap harness runs x86 programs only"
#endif

constexpr char kMemoryDevice[] = "/dev/mem";
constexpr char kPlaceholderDevice[] = "/dev/null";
// The memory device is character device 1:1.
constexpr unsigned kMemoryDeviceMajor = 1;
constexpr unsigned kMemoryDeviceMinor = 1;
constexpr int kPortPrivilegeLevel = 3;
constexpr std::size_t kLongestInstruction = 15;
constexpr std::uint64_t kNsPerSecond = 1000000000;

[[noreturn]] void Fail(int status, const char* format, ...) __attribute__((format(printf, 2, 3)));

void Fail(int status, const char* format, ...) {
  std::array<char, 512> text{};
  std::va_list args;
  va_start(args, format);
  std::vsnprintf(text.data(), text.size(), format, args);
  va_end(args);
  const std::string line = std::string(trap::kMessagePrefix) + text.data() + "\n";
  // The program's own streams may be mid-line or broken; the message goes out in one write.
  const ssize_t ignored = write(STDERR_FILENO, line.data(), line.size());
  static_cast<void>(ignored);
  _exit(status);
}

template <class Function>
Function Real(const char* name) {
  void* found = dlsym(RTLD_NEXT, name);
  if (found == nullptr) {
    Fail(trap::kSetUpFailureStatus, "the C library has no %s", name);
  }
  return reinterpret_cast<Function>(found);
}

using OpenFunction = int (*)(const char*, int, ...);
using CloseFunction = int (*)(int);
using MmapFunction = void* (*)(void*, std::size_t, int, int, int, off_t);
using Mmap64Function = void* (*)(void*, std::size_t, int, int, int, off64_t);
using MunmapFunction = int (*)(void*, std::size_t);
using UidFunction = uid_t (*)();
using IoplFunction = int (*)(int);
using TimeFunction = std::time_t (*)(std::time_t*);
using ClockFunction = int (*)(clockid_t, struct timespec*);

// A range the program received for a mapping of the memory device: no access allowed, so
// that every access traps; `machineAddress` is what the machine handed out for it.
struct Aperture {
  std::uintptr_t start;
  std::size_t length;
  std::uintptr_t machineAddress;

  bool Holds(std::uintptr_t address, std::uint32_t width) const {
    return address >= start && address - start <= length - width;
  }
};

class Trap {
 public:
  explicit Trap(const emu::FrontEndOptions& options)
      : m_stats(options.stats), m_machine(emu::BuildMachine(options)) {}

  emu::Machine& Machine() { return *m_machine; }

  void PrintStats() {
    if (m_stats) {
      const std::string stats = emu::FormatStats(*m_machine);
      std::fputs(stats.c_str(), stderr);
    }
  }

  int RequestIoPrivilege(int level) {
    if (!m_machine->RequestIoPrivilege()) {
      errno = EPERM;
      return -1;
    }
    m_portPrivilege = level == kPortPrivilegeLevel;
    return 0;
  }

  int OpenMemoryDevice(OpenFunction realOpen) {
    const int machineDescriptor = m_machine->OpenPhysicalMemory();
    if (machineDescriptor < 0) {
      errno = EACCES;
      return -1;
    }
    // A real descriptor, so that the program's descriptors number as they would.
    const int descriptor = realOpen(kPlaceholderDevice, O_RDWR);
    if (descriptor >= 0) {
      m_descriptors[descriptor] = machineDescriptor;
    }
    return descriptor;
  }

  void Close(int descriptor) { m_descriptors.erase(descriptor); }

  bool IsMemoryDevice(int descriptor) const { return m_descriptors.count(descriptor) != 0; }

  void* MapAperture(std::size_t length, int protection, int flags, int descriptor,
                    std::uint64_t physical, MmapFunction realMmap) {
    if (protection != (PROT_READ | PROT_WRITE) || flags != MAP_SHARED) {
      Fail(trap::kTrapFailureStatus,
           "the memory device is mapped with protection 0x%x and flags 0x%x, not shared for "
           "reading and writing",
           static_cast<unsigned>(protection), static_cast<unsigned>(flags));
    }
    if (physical > UINT32_MAX) {
      Fail(trap::kTrapFailureStatus, "mapping at physical address 0x%llx, beyond 32 bits",
           static_cast<unsigned long long>(physical));
    }
    void* machineAddress =
        m_machine->Map(length, m_descriptors.at(descriptor), static_cast<UINT32>(physical));
    if (machineAddress == nullptr) {
      errno = EINVAL;
      return MAP_FAILED;
    }
    void* start = realMmap(nullptr, length, PROT_NONE, MAP_PRIVATE | MAP_ANONYMOUS | MAP_NORESERVE,
                           -1, 0);
    if (start == MAP_FAILED) {
      m_machine->Unmap(machineAddress, length);
      return MAP_FAILED;
    }
    m_apertures.push_back({reinterpret_cast<std::uintptr_t>(start), length,
                           reinterpret_cast<std::uintptr_t>(machineAddress)});
    return start;
  }

  // When `address` is an aperture, the machine judges the length.
  void UnmapAperture(void* address, std::size_t length) {
    const auto start = reinterpret_cast<std::uintptr_t>(address);
    for (auto it = m_apertures.begin(); it != m_apertures.end(); ++it) {
      if (it->start == start) {
        m_machine->Unmap(reinterpret_cast<void*>(it->machineAddress), length);
        m_apertures.erase(it);
        return;
      }
    }
  }

  // The local time as a clock reading: the machine's day, read back by localtime.
  std::time_t Now() {
    std::tm today{};
    if (!m_machine->LocalTime(today)) {
      return static_cast<std::time_t>(-1);
    }
    today.tm_isdst = -1;
    return std::mktime(&today);
  }

  void Monotonic(struct timespec& now) const {
    const std::uint64_t ns = m_machine->Clock().Now();
    now.tv_sec = static_cast<std::time_t>(ns / kNsPerSecond);
    now.tv_nsec = static_cast<long>(ns % kNsPerSecond);
  }

  void Emulate(const siginfo_t& info, ucontext_t& context);

 private:
  std::uintptr_t Register(const ucontext_t& context, int reg) const;
  void SetRegister(ucontext_t& context, const trap::Instruction& instruction, std::uint32_t value);
  std::uint32_t SourceValue(const ucontext_t& context, const trap::Instruction& instruction) const;
  std::uintptr_t EffectiveAddress(const ucontext_t& context, const trap::Instruction& instruction,
                                  std::uintptr_t next) const;
  void EmulatePort(ucontext_t& context, const trap::Instruction& instruction, std::uintptr_t ip);
  void EmulateDevice(const siginfo_t& info, ucontext_t& context,
                     const trap::Instruction& instruction, std::uintptr_t ip);
  [[noreturn]] void Unknown(std::uintptr_t ip, const char* what) const;

  bool m_stats;
  std::unique_ptr<emu::Machine> m_machine;
  bool m_portPrivilege = false;
  std::map<int, int> m_descriptors;  // the program's descriptor, the machine's
  std::vector<Aperture> m_apertures;
};

std::uintptr_t Trap::Register(const ucontext_t& context, int reg) const {
  return static_cast<std::uintptr_t>(
      context.uc_mcontext.gregs[kRegisterSlots.at(static_cast<std::size_t>(reg))]);
}

void Trap::SetRegister(ucontext_t& context, const trap::Instruction& instruction,
                       std::uint32_t value) {
  greg_t& slot = context.uc_mcontext.gregs[kRegisterSlots.at(static_cast<std::size_t>(instruction.reg))];
  auto whole = static_cast<std::uint64_t>(static_cast<std::uintptr_t>(slot));
  if (instruction.destinationWidth >= 4) {
    // A 32-bit destination clears the upper half of a 64-bit register.
    whole = value;
  } else {
    const std::uint32_t shift = instruction.highByte ? 8 : 0;
    const std::uint64_t mask = ((std::uint64_t{1} << (8 * instruction.destinationWidth)) - 1) << shift;
    whole = (whole & ~mask) | ((static_cast<std::uint64_t>(value) << shift) & mask);
  }
  slot = static_cast<greg_t>(static_cast<std::uintptr_t>(whole));
}

std::uint32_t Trap::SourceValue(const ucontext_t& context,
                                const trap::Instruction& instruction) const {
  const std::uint64_t value =
      instruction.reg == trap::kNoRegister
          ? instruction.immediate
          : Register(context, instruction.reg) >> (instruction.highByte ? 8 : 0);
  const std::uint64_t mask = (std::uint64_t{1} << (8 * instruction.width)) - 1;
  return static_cast<std::uint32_t>(value & mask);
}

std::uintptr_t Trap::EffectiveAddress(const ucontext_t& context,
                                      const trap::Instruction& instruction,
                                      std::uintptr_t next) const {
  const trap::MemoryOperand& memory = instruction.memory;
  std::uintptr_t address = static_cast<std::uintptr_t>(static_cast<std::intptr_t>(memory.displacement));
  if (memory.ripRelative) {
    address += next;
  }
  if (memory.base != trap::kNoRegister) {
    address += Register(context, memory.base);
  }
  if (memory.index != trap::kNoRegister) {
    address += Register(context, memory.index) * memory.scale;
  }
  return address;
}

void Trap::Unknown(std::uintptr_t ip, const char* what) const {
  // The bytes up to the end of the page that holds the instruction, at most one instruction's.
  const auto page = static_cast<std::uintptr_t>(sysconf(_SC_PAGESIZE));
  const std::size_t count =
      std::min<std::size_t>(kLongestInstruction, page - (ip & (page - 1)));
  std::string bytes;
  for (std::size_t i = 0; i < count; ++i) {
    std::array<char, 4> hex{};
    std::snprintf(hex.data(), hex.size(), " %02x", reinterpret_cast<const std::uint8_t*>(ip)[i]);
    bytes += hex.data();
  }
  Fail(trap::kTrapFailureStatus, "%s at 0x%llx, bytes%s", what, static_cast<unsigned long long>(ip),
       bytes.c_str());
}

void Trap::EmulatePort(ucontext_t& context, const trap::Instruction& instruction,
                       std::uintptr_t ip) {
  const auto port = static_cast<std::uint16_t>(
      instruction.portInDx ? Register(context, trap::kRegisterDx) : instruction.portImmediate);
  if (!m_portPrivilege) {
    Unknown(ip, "port instruction without I/O privilege");
  }
  if (!emu::Machine::ModelsPort(port)) {
    std::array<char, 64> what{};
    std::snprintf(what.data(), what.size(), "port 0x%x, which the machine does not have",
                  static_cast<unsigned>(port));
    Unknown(ip, what.data());
  }
  if (instruction.op == trap::Op::PortIn) {
    SetRegister(context, instruction, m_machine->PortRead(port, instruction.width));
  } else {
    m_machine->PortWrite(port, instruction.width, SourceValue(context, instruction));
  }
}

void Trap::EmulateDevice(const siginfo_t& info, ucontext_t& context,
                         const trap::Instruction& instruction, std::uintptr_t ip) {
  const std::uintptr_t address = EffectiveAddress(context, instruction, ip + instruction.length);
  const auto faulted = reinterpret_cast<std::uintptr_t>(info.si_addr);
  if (faulted - address >= instruction.width) {
    Unknown(ip, "memory fault the instruction does not explain");
  }
  const Aperture* aperture = nullptr;
  for (const Aperture& candidate : m_apertures) {
    if (candidate.Holds(address, instruction.width)) {
      aperture = &candidate;
    }
  }
  if (aperture == nullptr) {
    std::array<char, 64> what{};
    std::snprintf(what.data(), what.size(), "access to 0x%llx outside every aperture",
                  static_cast<unsigned long long>(address));
    Unknown(ip, what.data());
  }
  const std::uintptr_t machineAddress = aperture->machineAddress + (address - aperture->start);
  if (instruction.op == trap::Op::Load) {
    SetRegister(context, instruction, m_machine->DeviceRead(machineAddress, instruction.width));
  } else {
    m_machine->DeviceWrite(machineAddress, instruction.width, SourceValue(context, instruction));
  }
}

void Trap::Emulate(const siginfo_t& info, ucontext_t& context) {
  greg_t& ipSlot = context.uc_mcontext.gregs[kInstructionPointerSlot];
  const auto ip = static_cast<std::uintptr_t>(ipSlot);
  const std::optional<trap::Instruction> instruction =
      trap::Decode(reinterpret_cast<const std::uint8_t*>(ip), kLongestInstruction, kLongMode);
  if (!instruction) {
    Unknown(ip, "fault in an instruction the harness does not emulate");
  }
  if (instruction->op == trap::Op::PortIn || instruction->op == trap::Op::PortOut) {
    EmulatePort(context, *instruction, ip);
  } else {
    EmulateDevice(info, context, *instruction, ip);
  }
  ipSlot = static_cast<greg_t>(ip + instruction->length);
}

// Set up before the program's own initialisation, gone after its end.
Trap* s_trap = nullptr;

void OnFault(int, siginfo_t* info, void* context) {
  if (s_trap == nullptr) {
    Fail(trap::kTrapFailureStatus, "fault before the machine was built");
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
    Fail(trap::kSetUpFailureStatus, "bad machine description: %s", error.c_str());
  }
  unsetenv(trap::kMachineVariable);
  try {
    s_trap = new Trap(options);
  } catch (const std::exception& failure) {
    Fail(trap::kSetUpFailureStatus, "%s", failure.what());
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

int OpenFile(OpenFunction realOpen, const char* path, int flags, std::va_list args) {
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
                               Real<MmapFunction>("mmap"));
  }
  if (IsRealMemoryDevice(descriptor)) {
    Fail(trap::kTrapFailureStatus, "the program maps this computer's own memory device");
  }
  return std::nullopt;
}

}  // namespace

// The C library calls the native platform makes, answered for the program.
extern "C" {

int open(const char* path, int flags, ...) {
  std::va_list args;
  va_start(args, flags);
  const int descriptor = OpenFile(Real<OpenFunction>("open"), path, flags, args);
  va_end(args);
  return descriptor;
}

int open64(const char* path, int flags, ...) {
  std::va_list args;
  va_start(args, flags);
  const int descriptor = OpenFile(Real<OpenFunction>("open64"), path, flags, args);
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

}  // extern "C"
