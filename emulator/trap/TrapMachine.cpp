#include "TrapMachine.h"

#include <fcntl.h>
#include <sys/mman.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <exception>
#include <optional>
#include <string>

#include "Builder.h"
#include "FrontEnd.h"
#include "ProcessEnd.h"
#include "TrapHandover.h"

namespace trap {
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

constexpr char kPlaceholderDevice[] = "/dev/null";
// The placeholder keeps these of the program's open flags, so that the system answers
// F_GETFL, and refuses a write to a read-only descriptor, as for the device.
constexpr int kPlaceholderFlags = O_ACCMODE | O_CLOEXEC | O_NONBLOCK | O_SYNC;
constexpr int kPortPrivilegeLevel = 3;
constexpr std::size_t kLongestInstruction = 15;
constexpr int kRootUserId = 0;

int s_handshakeToken = -1;
bool s_saidReady = false;
// The library goes into the program when it starts, so its thread-local storage is static.
__attribute__((tls_model("initial-exec"))) thread_local int t_ioPrivilegeLevel = 0;

std::uintptr_t PageSize() { return static_cast<std::uintptr_t>(sysconf(_SC_PAGESIZE)); }

// Before the library's constructor runs, the token is still named in the environment.
int HandshakeToken() {
  const char* text = std::getenv(kHandshakeVariable);
  if (s_handshakeToken >= 0 || s_saidReady || text == nullptr) {
    return s_handshakeToken;
  }
  const std::optional<Handshake> handshake = DecodeHandshake(text);
  return handshake ? handshake->token : -1;
}

}  // namespace

void Fail(int status, const char* format, ...) {
  std::array<char, 512> text{};
  std::va_list args;
  va_start(args, format);
  std::vsnprintf(text.data(), text.size(), format, args);
  va_end(args);
  if (const int token = HandshakeToken(); token >= 0) {
    const ssize_t said = write(token, kRefusalWord, std::strlen(kRefusalWord));
    static_cast<void>(said);
  }
  const std::string line = std::string(kProgram) + ": " + text.data() + "\n";
  // The program's own streams may be mid-line or broken; the message goes out in one write.
  const ssize_t ignored = write(STDERR_FILENO, line.data(), line.size());
  static_cast<void>(ignored);
  _exit(status);
}

void HoldHandshake(int token) { s_handshakeToken = token; }

void SayReady() {
  const std::string word = std::to_string(getpid());
  if (write(s_handshakeToken, word.data(), word.size()) != static_cast<ssize_t>(word.size())) {
    Fail(emu::kRefusedStatus, "cannot tell the harness that the machine runs");
  }
  close(s_handshakeToken);
  s_handshakeToken = -1;
  s_saidReady = true;
}

int ThreadIoPrivilege() { return t_ioPrivilegeLevel; }
void SetThreadIoPrivilege(int level) { t_ioPrivilegeLevel = level; }

TrappedMachine::TrappedMachine(std::unique_ptr<emu::Machine> machine, bool stats, int ioRefusal)
    : m_stats(stats), m_machine(std::move(machine)), m_ioRefusal(ioRefusal) {}

TrappedMachine::~TrappedMachine() = default;

std::unique_ptr<TrappedMachine> StartMachine(const std::string& description) {
  const std::optional<std::vector<std::string>> args = DecodeArguments(description);
  emu::FrontEndOptions options;
  std::string error;
  if (!args || !emu::ParseFrontEndOptions(*args, options, error)) {
    Fail(emu::kRefusedStatus, "bad machine description: %s", error.c_str());
  }
  // A power cut on the card ends the traced program at once, as on a real machine.
  emu::InstallProcessEnd();
  try {
    return std::make_unique<TrappedMachine>(
        emu::BuildMachine(options).machine, options.stats,
        options.refusals[static_cast<std::size_t>(emu::Request::IoPrivilege)]);
  } catch (const std::exception& failure) {
    Fail(emu::kRefusedStatus, "%s", failure.what());
  }
}

void TrappedMachine::PrintStats() {
  if (m_stats) {
    const std::string stats = emu::FormatStats(*m_machine);
    std::fputs(stats.c_str(), stderr);
  }
}

std::uint32_t TrappedMachine::UserId() const { return m_machine->UserId(); }

// As a kernel: without port I/O every level is unknown, a level beyond 3 is invalid,
// lowering the level needs no privilege, raising it needs CAP_SYS_RAWIO (which only root
// has), and only level 3 opens the ports.
int TrappedMachine::RequestIoPrivilege(int level) {
  errno = m_ioRefusal == ENOSYS ? ENOSYS : EINVAL;
  if (m_ioRefusal == ENOSYS || level < 0 || level > kPortPrivilegeLevel) {
    return -1;
  }
  if (level > t_ioPrivilegeLevel) {
    errno = EPERM;
    if (m_machine->UserId() != kRootUserId) {
      return -1;
    }
    if (!m_machine->RequestIoPrivilege()) {
      errno = m_machine->RefusalReason();
      return -1;
    }
  }
  t_ioPrivilegeLevel = level;
  return 0;
}

int TrappedMachine::OpenMemoryDevice(int flags, OpenFunction realOpen) {
  // The device asks for CAP_SYS_RAWIO, which only root has.
  if (m_machine->UserId() != kRootUserId) {
    errno = EPERM;
    return -1;
  }
  const int machineDescriptor = m_machine->OpenPhysicalMemory();
  if (machineDescriptor < 0) {
    errno = m_machine->RefusalReason();
    return -1;
  }
  // A real descriptor, so that the program's descriptors number as they would.
  const int descriptor = realOpen(kPlaceholderDevice, flags & kPlaceholderFlags);
  if (descriptor >= 0) {
    m_descriptors[descriptor] = {machineDescriptor, flags & O_ACCMODE};
  }
  return descriptor;
}

void TrappedMachine::Close(int descriptor) { m_descriptors.erase(descriptor); }

void TrappedMachine::Duplicate(int descriptor, int copy) {
  m_descriptors.erase(copy);
  const auto device = m_descriptors.find(descriptor);
  if (device != m_descriptors.end() && copy >= 0) {
    m_descriptors[copy] = device->second;
  }
}

bool TrappedMachine::IsMemoryDevice(int descriptor) const {
  return m_descriptors.count(descriptor) != 0;
}

int TrappedMachine::AccessMode(int descriptor) const {
  return m_descriptors.at(descriptor).accessMode;
}

bool TrappedMachine::TouchesAperture(const void* address, std::size_t length) const {
  const auto begin = reinterpret_cast<std::uintptr_t>(address);
  const std::uintptr_t end = begin + ((length + PageSize() - 1) & ~(PageSize() - 1));
  return std::any_of(m_apertures.begin(), m_apertures.end(), [&](const Aperture& aperture) {
    return aperture.start < end && begin < aperture.End();
  });
}

bool TrappedMachine::InOneAperture(const void* address, std::size_t length) const {
  const auto begin = reinterpret_cast<std::uintptr_t>(address);
  return std::any_of(m_apertures.begin(), m_apertures.end(), [&](const Aperture& aperture) {
    return length != 0 && aperture.Holds(begin, 1) && aperture.End() - begin >= length;
  });
}

void* TrappedMachine::MapAperture(std::size_t length, int protection, int flags, int descriptor,
                                  std::uint64_t physical, Mmap64Function realMmap) {
  const MemoryDevice& device = m_descriptors.at(descriptor);
  // As a kernel: every mapping reads the file, a shared writable one also writes it.
  const bool sharedWrite = (flags & MAP_TYPE) == MAP_SHARED && (protection & PROT_WRITE) != 0;
  if (device.accessMode == O_WRONLY || (sharedWrite && device.accessMode == O_RDONLY)) {
    errno = EACCES;
    return MAP_FAILED;
  }
  if (protection != (PROT_READ | PROT_WRITE) || flags != MAP_SHARED) {
    Fail(kTrapFailureStatus,
         "the memory device is mapped with protection 0x%x and flags 0x%x, not shared for "
         "reading and writing",
         static_cast<unsigned>(protection), static_cast<unsigned>(flags));
  }
  if (physical > UINT32_MAX) {
    Fail(kTrapFailureStatus, "mapping at physical address 0x%llx, beyond 32 bits",
         static_cast<unsigned long long>(physical));
  }
  void* machineAddress =
      m_machine->Map(length, device.machineDescriptor, static_cast<UINT32>(physical));
  if (machineAddress == nullptr) {
    errno = m_machine->RefusalReason();
    return MAP_FAILED;
  }
  void* start =
      realMmap(nullptr, length, PROT_NONE, MAP_PRIVATE | MAP_ANONYMOUS | MAP_NORESERVE, -1, 0);
  if (start == MAP_FAILED) {
    m_machine->Unmap(machineAddress, length);
    return MAP_FAILED;
  }
  const std::size_t page = PageSize();
  m_apertures.push_back({reinterpret_cast<std::uintptr_t>(start), (length + page - 1) & ~(page - 1),
                         reinterpret_cast<std::uintptr_t>(machineAddress)});
  return start;
}

void TrappedMachine::UnmapAperture(void* address, std::size_t length) {
  const std::uintptr_t page = PageSize();
  const auto begin = reinterpret_cast<std::uintptr_t>(address);
  const std::uintptr_t end = begin + ((length + page - 1) & ~(page - 1));
  std::vector<Aperture> kept;
  for (const Aperture& aperture : m_apertures) {
    if (aperture.Holds(begin, 1)) {
      m_machine->Unmap(reinterpret_cast<void*>(aperture.machineAddress + (begin - aperture.start)),
                       length);
    }
    if (aperture.End() <= begin || aperture.start >= end) {
      kept.push_back(aperture);
      continue;
    }
    // The pages before and after the unmapped range stay mapped.
    if (aperture.start < begin) {
      kept.push_back({aperture.start, begin - aperture.start, aperture.machineAddress});
    }
    if (aperture.End() > end) {
      kept.push_back({end, aperture.End() - end, aperture.machineAddress + (end - aperture.start)});
    }
  }
  m_apertures = std::move(kept);
}

std::int64_t TrappedMachine::Now() {
  std::tm today{};
  if (!m_machine->LocalTime(today)) {
    return -1;
  }
  today.tm_isdst = -1;
  return static_cast<std::int64_t>(std::mktime(&today));
}

std::uint64_t TrappedMachine::MonotonicNs() const { return m_machine->Clock().Now(); }

std::uint64_t TrappedMachine::MonotonicResolutionNs() const {
  return m_machine->MonotonicResolutionNs();
}

std::uintptr_t TrappedMachine::Register(const ucontext_t& context, int reg) const {
  return static_cast<std::uintptr_t>(
      context.uc_mcontext.gregs[kRegisterSlots.at(static_cast<std::size_t>(reg))]);
}

void TrappedMachine::SetRegister(ucontext_t& context, const Instruction& instruction,
                                 std::uint32_t value) {
  greg_t& slot =
      context.uc_mcontext.gregs[kRegisterSlots.at(static_cast<std::size_t>(instruction.reg))];
  auto whole = static_cast<std::uint64_t>(static_cast<std::uintptr_t>(slot));
  if (instruction.destinationWidth >= 4) {
    // A 32-bit destination clears the upper half of a 64-bit register.
    whole = value;
  } else {
    const std::uint32_t shift = instruction.highByte ? 8 : 0;
    const std::uint64_t mask = ((std::uint64_t{1} << (8 * instruction.destinationWidth)) - 1)
                               << shift;
    whole = (whole & ~mask) | ((static_cast<std::uint64_t>(value) << shift) & mask);
  }
  slot = static_cast<greg_t>(static_cast<std::uintptr_t>(whole));
}

std::uint32_t TrappedMachine::SourceValue(const ucontext_t& context,
                                          const Instruction& instruction) const {
  const std::uint64_t value = instruction.reg == kNoRegister ? instruction.immediate
                                                             : Register(context, instruction.reg) >>
                                                                   (instruction.highByte ? 8 : 0);
  const std::uint64_t mask = (std::uint64_t{1} << (8 * instruction.width)) - 1;
  return static_cast<std::uint32_t>(value & mask);
}

std::uintptr_t TrappedMachine::EffectiveAddress(const ucontext_t& context,
                                                const Instruction& instruction,
                                                std::uintptr_t next) const {
  const MemoryOperand& memory = instruction.memory;
  std::uintptr_t address =
      static_cast<std::uintptr_t>(static_cast<std::intptr_t>(memory.displacement));
  if (memory.ripRelative) {
    address += next;
  }
  if (memory.base != kNoRegister) {
    address += Register(context, memory.base);
  }
  if (memory.index != kNoRegister) {
    address += Register(context, memory.index) * memory.scale;
  }
  return address;
}

void TrappedMachine::Unknown(std::uintptr_t ip, const char* what) const {
  // The bytes up to the end of the page that holds the instruction, at most one instruction's.
  const std::uintptr_t page = PageSize();
  const std::size_t count = std::min<std::size_t>(kLongestInstruction, page - (ip & (page - 1)));
  std::string bytes;
  for (std::size_t i = 0; i < count; ++i) {
    std::array<char, 4> hex{};
    std::snprintf(hex.data(), hex.size(), " %02x", reinterpret_cast<const std::uint8_t*>(ip)[i]);
    bytes += hex.data();
  }
  Fail(kTrapFailureStatus, "%s at 0x%llx, bytes%s", what, static_cast<unsigned long long>(ip),
       bytes.c_str());
}

void TrappedMachine::EmulatePort(ucontext_t& context, const Instruction& instruction,
                                 std::uintptr_t ip) {
  const auto port = static_cast<std::uint16_t>(instruction.portInDx ? Register(context, kRegisterDx)
                                                                    : instruction.portImmediate);
  if (t_ioPrivilegeLevel != kPortPrivilegeLevel) {
    Unknown(ip, "port instruction without I/O privilege");
  }
  if (!emu::Machine::ModelsPort(port)) {
    std::array<char, 64> what{};
    std::snprintf(what.data(), what.size(), "port 0x%x, which the machine does not have",
                  static_cast<unsigned>(port));
    Unknown(ip, what.data());
  }
  if (instruction.op == Op::PortIn) {
    SetRegister(context, instruction, m_machine->PortRead(port, instruction.width));
  } else {
    m_machine->PortWrite(port, instruction.width, SourceValue(context, instruction));
  }
}

void TrappedMachine::EmulateDevice(const siginfo_t& info, ucontext_t& context,
                                   const Instruction& instruction, std::uintptr_t ip) {
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
  if (instruction.op == Op::Load) {
    SetRegister(context, instruction, m_machine->DeviceRead(machineAddress, instruction.width));
  } else {
    m_machine->DeviceWrite(machineAddress, instruction.width, SourceValue(context, instruction));
  }
}

void TrappedMachine::Emulate(const siginfo_t& info, ucontext_t& context) {
  greg_t& ipSlot = context.uc_mcontext.gregs[kInstructionPointerSlot];
  const auto ip = static_cast<std::uintptr_t>(ipSlot);
  // A port instruction without privilege is a protection fault; a memory access finds its
  // page without access (an aperture) or unmapped. Any other SIGSEGV (one a process sent,
  // say) is none of the machine's.
  const bool byKernel =
      info.si_code == SI_KERNEL || info.si_code == SEGV_ACCERR || info.si_code == SEGV_MAPERR;
  if (!byKernel) {
    Fail(kTrapFailureStatus, "SIGSEGV with code %d, which no access explains, at 0x%llx",
         info.si_code, static_cast<unsigned long long>(ip));
  }
  const std::optional<Instruction> instruction =
      Decode(reinterpret_cast<const std::uint8_t*>(ip), kLongestInstruction, kLongMode);
  if (!instruction) {
    Unknown(ip, "fault in an instruction the harness does not emulate");
  }
  const bool port = instruction->op == Op::PortIn || instruction->op == Op::PortOut;
  if (port != (info.si_code == SI_KERNEL)) {
    Unknown(ip, "fault the instruction does not explain");
  }
  if (port) {
    EmulatePort(context, *instruction, ip);
  } else {
    EmulateDevice(info, context, *instruction, ip);
  }
  ipSlot = static_cast<greg_t>(ip + instruction->length);
}

}  // namespace trap
