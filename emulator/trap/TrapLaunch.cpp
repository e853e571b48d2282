#include "TrapLaunch.h"

#include <elf.h>
#include <fcntl.h>
#include <link.h>
#include <linux/capability.h>
#include <signal.h>
#include <sys/io.h>
#include <sys/prctl.h>
#include <sys/ptrace.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/user.h>
#include <sys/wait.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <optional>

#include "FrontEnd.h"
#include "TrapFilter.h"
#include "TrapHandover.h"

namespace trap {
namespace {

constexpr unsigned kPortCount = 65536;
constexpr long kBreakpoint = 0xCC;  // int3
constexpr long kLowByte = 0xFF;

int Refuse(const std::string& reason) { return emu::Refuse(kProgram, reason); }

#if defined(__x86_64__)
constexpr unsigned char kOwnClass = ELFCLASS64;
std::uintptr_t InstructionPointer(const user_regs_struct& regs) { return regs.rip; }
void SetInstructionPointer(user_regs_struct& regs, std::uintptr_t ip) { regs.rip = ip; }
#else
constexpr unsigned char kOwnClass = ELFCLASS32;
std::uintptr_t InstructionPointer(const user_regs_struct& regs) {
  return static_cast<std::uintptr_t>(regs.eip);
}
void SetInstructionPointer(user_regs_struct& regs, std::uintptr_t ip) {
  regs.eip = static_cast<long>(ip);
}
#endif

template <class T>
bool ReadAt(int descriptor, std::uint64_t offset, T& value) {
  return pread(descriptor, &value, sizeof(value), static_cast<off_t>(offset)) ==
         static_cast<ssize_t>(sizeof(value));
}

struct Segments {
  std::optional<ElfW(Phdr)> interpreter;
  std::optional<ElfW(Phdr)> dynamic;
};

bool ReadSegments(int descriptor, const ElfW(Ehdr) & header, Segments& segments) {
  for (unsigned i = 0; i < header.e_phnum; ++i) {
    ElfW(Phdr) segment{};
    if (!ReadAt(descriptor, header.e_phoff + std::uint64_t{i} * header.e_phentsize, segment)) {
      return false;
    }
    if (segment.p_type == PT_INTERP) {
      segments.interpreter = segment;
    } else if (segment.p_type == PT_DYNAMIC) {
      segments.dynamic = segment;
    }
  }
  return true;
}

// The loader a program names, as a file.
std::optional<struct stat> Loader(int descriptor, const ElfW(Phdr) & interpreter) {
  std::string path(interpreter.p_filesz, '\0');
  struct stat status {};
  if (pread(descriptor, path.data(), path.size(), static_cast<off_t>(interpreter.p_offset)) !=
          static_cast<ssize_t>(path.size()) ||
      stat(path.c_str(), &status) != 0) {
    return std::nullopt;
  }
  return status;
}

// The system's loader: the one that started the harness itself.
std::optional<struct stat> SystemLoader() {
  const int self = open("/proc/self/exe", O_RDONLY | O_CLOEXEC);
  ElfW(Ehdr) header{};
  Segments segments;
  std::optional<struct stat> loader;
  if (self >= 0 && ReadAt(self, 0, header) && ReadSegments(self, header, segments) &&
      segments.interpreter) {
    loader = Loader(self, *segments.interpreter);
  }
  close(self);
  return loader;
}

// The entries of the dynamic section by which code runs before the library's.
struct EarlyCode {
  ElfW(Sxword) tag;
  const char* what;
};
constexpr std::array<EarlyCode, 3> kEarlyCode{{
    {DT_PREINIT_ARRAY, "has a preinit array"},
    {DT_AUDIT, "names an audit library"},
    {DT_DEPAUDIT, "names an audit library"},
}};

std::optional<std::string> EarlyCodeObjection(int descriptor, const ElfW(Phdr) & dynamic) {
  for (std::uint64_t at = dynamic.p_offset;
       at + sizeof(ElfW(Dyn)) <= dynamic.p_offset + dynamic.p_filesz; at += sizeof(ElfW(Dyn))) {
    ElfW(Dyn) entry{};
    if (!ReadAt(descriptor, at, entry) || entry.d_tag == DT_NULL) {
      break;
    }
    for (const EarlyCode& early : kEarlyCode) {
      if (entry.d_tag == early.tag) {
        return std::string(early.what) + ", code that would run before the library";
      }
    }
  }
  return std::nullopt;
}

// What the program's ELF header and segments say against the library going into it.
std::optional<std::string> ElfObjection(int descriptor, const std::string& program) {
  const std::string named = "'" + program + "'";
  std::array<unsigned char, EI_NIDENT> ident{};
  if (!ReadAt(descriptor, 0, ident) || std::memcmp(ident.data(), ELFMAG, SELFMAG) != 0 ||
      ident[EI_CLASS] != kOwnClass) {
    return named + " is not a " + std::to_string(8 * sizeof(void*)) + "-bit program";
  }
  ElfW(Ehdr) header{};
  Segments segments;
  // A program without an interpreter is linked statically: no library goes into it.
  if (!ReadAt(descriptor, 0, header) || !ReadSegments(descriptor, header, segments) ||
      !segments.interpreter) {
    return named + " is linked statically: the library cannot go into it";
  }
  const std::optional<struct stat> loader = Loader(descriptor, *segments.interpreter);
  const std::optional<struct stat> system = SystemLoader();
  if (!loader || !system || loader->st_dev != system->st_dev || loader->st_ino != system->st_ino) {
    return named + " names a loader other than the system's: the library cannot go into it";
  }
  if (segments.dynamic) {
    if (const std::optional<std::string> early =
            EarlyCodeObjection(descriptor, *segments.dynamic)) {
      return named + " " + *early;
    }
  }
  return std::nullopt;
}

// iopl and ioperm survive fork and execve: nothing the harness inherited reaches the program.
void DropIoPrivilege() {
  // Each fails only where there is nothing to drop (a kernel without port I/O).
  static_cast<void>(iopl(0));
  static_cast<void>(ioperm(0, kPortCount, 0));
}

// Every set of the process's capabilities without CAP_SYS_RAWIO, which opens the ports and
// the memory device. Without CAP_SETPCAP the bounding set cannot change, but then nothing
// can raise the capability again under no-new-privileges.
bool DropRawIo() {
  if (prctl(PR_CAPBSET_DROP, CAP_SYS_RAWIO, 0, 0, 0) != 0 && errno != EPERM) {
    return false;
  }
  if (prctl(PR_CAP_AMBIENT, PR_CAP_AMBIENT_LOWER, CAP_SYS_RAWIO, 0, 0) != 0) {
    return false;
  }
  __user_cap_header_struct header{_LINUX_CAPABILITY_VERSION_3, 0};
  std::array<__user_cap_data_struct, _LINUX_CAPABILITY_U32S_3> sets{};
  if (syscall(SYS_capget, &header, sets.data()) != 0) {
    return false;
  }
  const std::uint32_t rawIo = CAP_TO_MASK(CAP_SYS_RAWIO);
  auto& set = sets[CAP_TO_INDEX(CAP_SYS_RAWIO)];
  set.effective &= ~rawIo;
  set.permitted &= ~rawIo;
  set.inheritable &= ~rawIo;
  return syscall(SYS_capset, &header, sets.data()) == 0;
}

// Whatever runs in the program's process, before the library or around it, the kernel
// refuses it this computer's ports and memory device.
void CloseTheDoors() {
  if (!DropRawIo() || prctl(PR_SET_NO_NEW_PRIVS, 1, 0, 0, 0) != 0 || !AddFilter(PortCallFilter())) {
    _exit(Refuse(std::string("cannot keep the program off this computer's ports: ") +
                 std::strerror(errno)));
  }
}

[[noreturn]] void StartProgram(const Launch& launch, const Handshake& handshake) {
  for (const int descriptor : {handshake.token, handshake.library}) {
    fcntl(descriptor, F_SETFD, 0);
  }
  setenv("LD_PRELOAD", ("/proc/self/fd/" + std::to_string(handshake.library)).c_str(), 1);
  setenv(kMachineVariable, launch.machine.c_str(), 1);
  setenv(kHandshakeVariable, EncodeHandshake(handshake).c_str(), 1);
  DropIoPrivilege();
  CloseTheDoors();
  if (ptrace(PTRACE_TRACEME, 0, nullptr, nullptr) != 0) {
    _exit(Refuse(std::string("cannot watch the program: ") + std::strerror(errno)));
  }
  std::vector<char*> argv;
  for (const std::string& arg : launch.argv) {
    argv.push_back(const_cast<char*>(arg.c_str()));
  }
  argv.push_back(nullptr);
  execv(launch.program.c_str(), argv.data());
  _exit(Refuse("cannot run '" + launch.program + "': " + std::strerror(errno)));
}

// The address of the program's first instruction, from its auxiliary vector.
std::optional<std::uintptr_t> EntryPoint(pid_t child) {
  std::ifstream auxv("/proc/" + std::to_string(child) + "/auxv", std::ios::binary);
  ElfW(auxv_t) entry{};
  while (auxv.read(reinterpret_cast<char*>(&entry), sizeof(entry))) {
    if (entry.a_type == AT_ENTRY) {
      return static_cast<std::uintptr_t>(entry.a_un.a_val);
    }
    if (entry.a_type == AT_NULL) {
      break;
    }
  }
  return std::nullopt;
}

pid_t s_child = -1;

void ForwardSignal(int signal) { kill(s_child, signal); }

// The terminal's signals reach the program by themselves; the others are passed on, so
// that the program ends in its own way while the harness waits for it.
void PassSignalsOn() {
  struct sigaction ignore {};
  ignore.sa_handler = SIG_IGN;
  struct sigaction forward {};
  forward.sa_handler = ForwardSignal;
  sigemptyset(&forward.sa_mask);
  for (const int signal : {SIGINT, SIGQUIT}) {
    sigaction(signal, &ignore, nullptr);
  }
  for (const int signal : {SIGTERM, SIGHUP}) {
    sigaction(signal, &forward, nullptr);
  }
}

int Wait(pid_t child) {
  int status = 0;
  while (waitpid(child, &status, 0) < 0 && errno == EINTR) {
  }
  return status;
}

// The program's end as the harness's own: its exit status, or its signal. The library's
// filter ends a program that starts another process with SIGSYS.
int EndAsTheProgram(int status) {
  if (!WIFSIGNALED(status)) {
    return WEXITSTATUS(status);
  }
  const int signal = WTERMSIG(status);
  if (signal == SIGSYS) {
    std::fprintf(stderr,
                 "%s: the program starts another process, which would run outside the machine\n",
                 kProgram);
    return kTrapFailureStatus;
  }
  const rlimit noCore{0, 0};
  setrlimit(RLIMIT_CORE, &noCore);
  ::signal(signal, SIG_DFL);
  sigset_t only;
  sigemptyset(&only);
  sigaddset(&only, signal);
  sigprocmask(SIG_UNBLOCK, &only, nullptr);
  raise(signal);
  return 128 + signal;
}

// What the library wrote on the handshake: the program's process ID once the machine runs,
// its refusal word when it ended the run itself; nothing when it never spoke.
std::string LibraryWord(int token) {
  std::array<char, 32> said{};
  fcntl(token, F_SETFL, O_NONBLOCK);
  const ssize_t length = read(token, said.data(), said.size() - 1);
  return length > 0 ? std::string(said.data(), static_cast<std::size_t>(length)) : std::string();
}

// How the program reached its first instruction: it did, it ended before (the library
// refused the machine, say), or it was stopped for what it did before.
struct Entry {
  std::optional<int> ended;
  std::string stopped;
};

constexpr int kExecEvent = SIGTRAP | (PTRACE_EVENT_EXEC << 8);

// Why a stop before the first instruction stops the program for good; empty when the
// program goes on.
std::string StopReason(pid_t child, int status) {
  if (status >> 8 == kExecEvent) {
    return "runs another program before its first instruction";
  }
  siginfo_t info{};
  if (WSTOPSIG(status) == SIGSYS && ptrace(PTRACE_GETSIGINFO, child, nullptr, &info) == 0 &&
      info.si_code == kStoppedCallCode) {
    return std::string("calls ") + StoppedCallName(info.si_syscall) + " before the library runs";
  }
  return "";
}

// Holds the program at its first instruction, after the loader and the libraries' own
// initialisation (the library's among them) ran.
Entry RunToEntry(pid_t child, std::uintptr_t entry, long original) {
  const auto address = reinterpret_cast<void*>(entry);
  ptrace(PTRACE_POKETEXT, child, address,
         reinterpret_cast<void*>((original & ~kLowByte) | kBreakpoint));
  ptrace(PTRACE_CONT, child, nullptr, nullptr);
  for (;;) {
    const int status = Wait(child);
    if (!WIFSTOPPED(status)) {
      return {status, ""};
    }
    const int signal = WSTOPSIG(status);
    user_regs_struct regs{};
    ptrace(PTRACE_GETREGS, child, nullptr, &regs);
    if (signal == SIGTRAP && InstructionPointer(regs) == entry + 1) {
      SetInstructionPointer(regs, entry);
      ptrace(PTRACE_SETREGS, child, nullptr, &regs);
      ptrace(PTRACE_POKETEXT, child, address, reinterpret_cast<void*>(original));
      return {};
    }
    const std::string stopped = StopReason(child, status);
    if (!stopped.empty()) {
      return {std::nullopt, stopped};
    }
    const int passed = status >> 8 == kExecEvent ? 0 : signal;
    ptrace(PTRACE_CONT, child, nullptr,
           reinterpret_cast<void*>(static_cast<std::intptr_t>(passed)));
  }
}

int StopForGood(pid_t child, int status, const std::string& line) {
  kill(child, SIGKILL);
  Wait(child);
  std::fprintf(stderr, "%s: %s\n", kProgram, line.c_str());
  return status;
}

int Watch(const Launch& launch, pid_t child, int token) {
  const int execStop = Wait(child);
  if (!WIFSTOPPED(execStop)) {
    return EndAsTheProgram(execStop);  // it never ran: the reason is on standard error
  }
  ptrace(PTRACE_SETOPTIONS, child, nullptr,
         reinterpret_cast<void*>(PTRACE_O_EXITKILL | PTRACE_O_TRACEEXEC));
  const std::string named = "'" + launch.program + "'";
  const std::optional<std::uintptr_t> entry = EntryPoint(child);
  errno = 0;
  const long original =
      entry ? ptrace(PTRACE_PEEKTEXT, child, reinterpret_cast<void*>(*entry), nullptr) : 0;
  if (!entry || errno != 0) {
    return StopForGood(child, emu::kRefusedStatus, "cannot find the first instruction of " + named);
  }
  const Entry reached = RunToEntry(child, *entry, original);
  if (!reached.stopped.empty()) {
    return StopForGood(child, kTrapFailureStatus,
                       named + " " + reached.stopped + "; it was stopped there");
  }
  const std::string word = LibraryWord(token);
  if (reached.ended) {
    // The library says why when it ends the run; anything else is the program's doing.
    if (word.empty()) {
      std::fprintf(stderr, "%s: %s ended before its first instruction without the library's word\n",
                   kProgram, named.c_str());
      return kTrapFailureStatus;
    }
    return EndAsTheProgram(*reached.ended);
  }
  if (word != std::to_string(child)) {
    return StopForGood(
        child, emu::kRefusedStatus,
        "the library did not go into " + named + "; it was stopped before its first instruction");
  }
  ptrace(PTRACE_DETACH, child, nullptr, nullptr);
  return EndAsTheProgram(Wait(child));
}

}  // namespace

bool CanGoInto(const std::string& program, std::string& error) {
  const int descriptor = open(program.c_str(), O_RDONLY | O_CLOEXEC);
  if (descriptor < 0) {
    error = "cannot read '" + program + "': " + std::strerror(errno);
    return false;
  }
  const std::optional<std::string> objection = ElfObjection(descriptor, program);
  close(descriptor);
  if (objection) {
    error = *objection;
  }
  return !objection;
}

int RunWatched(const Launch& launch) {
  Handshake handshake;
  handshake.library = open(launch.library.c_str(), O_RDONLY | O_CLOEXEC);
  if (handshake.library < 0) {
    return Refuse("cannot open '" + launch.library + "': " + std::strerror(errno));
  }
  std::array<int, 2> ends{};
  if (pipe2(ends.data(), O_CLOEXEC) != 0) {
    return Refuse(std::string("cannot make the handshake: ") + std::strerror(errno));
  }
  handshake.token = ends[1];
  const pid_t child = fork();
  if (child < 0) {
    return Refuse(std::string("cannot start the program: ") + std::strerror(errno));
  }
  if (child == 0) {
    close(ends[0]);
    StartProgram(launch, handshake);
  }
  close(ends[1]);
  close(handshake.library);
  s_child = child;
  PassSignalsOn();
  const int status = Watch(launch, child, ends[0]);
  close(ends[0]);
  return status;
}

}  // namespace trap
