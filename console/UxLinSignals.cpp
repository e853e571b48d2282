#include "UxLinSignals.h"

#include <signal.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <csignal>
#include <cstdint>
#include <cstring>

namespace {

// Never held: SIGKILL and SIGSTOP cannot be caught; a fault of the program's own must end
// it where it happens; the rest do not end or stop a program by default.
constexpr std::array<int, 12> kNeverHeld{SIGKILL, SIGSTOP, SIGSEGV, SIGBUS,   SIGILL, SIGFPE,
                                         SIGTRAP, SIGSYS,  SIGCHLD, SIGWINCH, SIGURG, SIGCONT};

// A program in the background that writes to its terminal (with `stty tostop`) or reads
// from it. Blocked rather than caught: the kernel then lets the write go out and fails the
// read, where a handler would have the same write restarted and stopped again for ever.
constexpr std::array<int, 2> kTerminalAccess{SIGTTIN, SIGTTOU};

// The user's stop (Ctrl-Z): the program stops once the card is safe, it does not end.
constexpr std::array<int, 1> kStops{SIGTSTP};

// Writes that cannot go on: reported by the write that failed.
constexpr std::array<int, 2> kBrokenOutput{SIGPIPE, SIGXFSZ};

constexpr char kMsgInterrupted[] =
    "WARNING! Interrupted. The program goes on until your Tavrin\n"
    "         graphics hardware is safe again, and then it ends.\n\n";
constexpr char kMsgStopping[] =
    "WARNING! Stopping. The program goes on until your Tavrin\n"
    "         graphics hardware is safe again, and then it stops.\n\n";
constexpr char kLineEnd[] = "\n";

// The kernel's own signal set, one bit per number from 1 on. The C library's set refuses
// the numbers it keeps for itself, and its mask calls leave them out; the kernel delivers
// them to any process all the same, so the hold blocks them with the system call itself.
using KernelSet = std::uint64_t;

KernelSet Bit(int signal) { return KernelSet{1} << (signal - 1); }

void ChangeKernelMask(int how, KernelSet set, KernelSet* previous) {
  ::syscall(SYS_rt_sigprocmask, how, &set, previous, sizeof(KernelSet));
}

KernelSet KernelPending() {
  KernelSet pending = 0;
  ::syscall(SYS_rt_sigpending, &pending, sizeof(KernelSet));
  return pending;
}

// The dispositions are the process's, so is the hold. Only the handler writes `arrived`,
// `answered...` and `endArrived` while the hold lasts; the rest of the program reads them
// with every held signal blocked, or reads single flags.
struct Hold {
  bool active = false;
  int deferrals = 0;
  std::array<struct sigaction, NSIG> previous{};
  std::array<bool, NSIG> caught{};
  sigset_t arrived{};
  KernelSet blockedEnding = 0;  // ending signals the hold can only block
  KernelSet maskBefore = 0;
  bool sharedStream = false;  // standard output and standard error reach the same file
  volatile std::sig_atomic_t endArrived = 0;
  volatile std::sig_atomic_t answeredEnd = 0;
  volatile std::sig_atomic_t answeredStop = 0;
  volatile std::sig_atomic_t lineOpen = 0;  // the console's last text left a line open
};
Hold g_hold;

template <std::size_t N>
bool IsIn(const std::array<int, N>& signals, int signal) {
  return std::find(signals.begin(), signals.end(), signal) != signals.end();
}

// Every held signal of the system, from 1 to the last real-time one.
template <class Action>
void ForEachHeld(Action action) {
  for (int signal = 1; signal <= SIGRTMAX; ++signal) {
    if (!IsIn(kNeverHeld, signal)) {
      action(signal);
    }
  }
}

sigset_t CaughtSet() {
  sigset_t set;
  sigemptyset(&set);
  ForEachHeld([&set](int signal) { sigaddset(&set, signal); });
  return set;
}

KernelSet HeldKernelSet() {
  KernelSet set = 0;
  ForEachHeld([&set](int signal) { set |= Bit(signal); });
  return set;
}

bool SameFile(int first, int second) {
  struct stat64 a {};
  struct stat64 b {};
  return ::fstat64(first, &a) == 0 && ::fstat64(second, &b) == 0 && a.st_dev == b.st_dev &&
         a.st_ino == b.st_ino;
}

// Only async-signal-safe calls from here on, until the end of the handler.
void WriteAll(int fd, const char* text, std::size_t size) {
  while (size > 0) {
    const ssize_t written = ::write(fd, text, size);
    if (written < 0 && errno == EINTR) {
      continue;
    }
    if (written <= 0) {
      return;
    }
    text += written;
    size -= static_cast<std::size_t>(written);
  }
}

// Once for an end; for a stop only while no end was answered, since the program will end.
// The answer starts a line of its own, after a line of progress dots on the same screen.
void Answer(bool stop) {
  volatile std::sig_atomic_t& answered = stop ? g_hold.answeredStop : g_hold.answeredEnd;
  if (g_hold.answeredEnd != 0 || answered != 0) {
    return;
  }
  answered = 1;
  if (g_hold.lineOpen != 0 && g_hold.sharedStream) {
    WriteAll(STDERR_FILENO, kLineEnd, sizeof kLineEnd - 1);
    g_hold.lineOpen = 0;
  }
  const char* text = stop ? kMsgStopping : kMsgInterrupted;
  WriteAll(STDERR_FILENO, text, std::strlen(text));
}

extern "C" void OnHeldInterruption(int signal) {
  const int savedErrno = errno;
  sigaddset(&g_hold.arrived, signal);
  const bool stop = IsIn(kStops, signal);
  if (!stop) {
    g_hold.endArrived = 1;
  }
  Answer(stop);
  errno = savedErrno;
}

// A blocked signal runs no handler: it is noticed, and answered, when the program looks.
void NoticeBlockedInterruptions() {
  if (g_hold.active && (KernelPending() & g_hold.blockedEnding) != 0) {
    g_hold.endArrived = 1;
    Answer(false);
  }
}

// The C library answers nothing about the numbers it keeps for itself: the kernel tells
// whether one of them was left ignored (make leaves both so).
bool KernelIgnores(int signal) {
  struct {
    __sighandler_t handler;
    unsigned long flags;
    void (*restorer)();
    KernelSet mask;
  } action{};
  return ::syscall(SYS_rt_sigaction, signal, nullptr, &action, sizeof(KernelSet)) == 0 &&
         action.handler == SIG_IGN;
}

// Catches a signal, or tells why it cannot: false when the C library keeps the number for
// itself. A signal that was ignored stays so.
bool Catch(int signal, const struct sigaction& ours) {
  const auto index = static_cast<std::size_t>(signal);
  struct sigaction& previous = g_hold.previous[index];
  if (sigaction(signal, nullptr, &previous) != 0) {
    return false;
  }
  g_hold.caught[index] = previous.sa_handler != SIG_IGN && sigaction(signal, &ours, nullptr) == 0;
  return true;
}

void HoldSignals() {
  sigemptyset(&g_hold.arrived);
  g_hold.endArrived = 0;
  g_hold.answeredEnd = 0;
  g_hold.answeredStop = 0;
  g_hold.sharedStream = SameFile(STDOUT_FILENO, STDERR_FILENO);
  struct sigaction ours {};
  ours.sa_handler = OnHeldInterruption;
  ours.sa_mask = CaughtSet();
  ours.sa_flags = SA_RESTART;
  KernelSet blocked = 0;
  g_hold.blockedEnding = 0;
  ForEachHeld([&ours, &blocked](int signal) {
    if (IsIn(kTerminalAccess, signal)) {
      blocked |= Bit(signal);
    } else if (!Catch(signal, ours) && !KernelIgnores(signal)) {
      g_hold.blockedEnding |= Bit(signal);
    }
  });
  ChangeKernelMask(SIG_BLOCK, blocked | g_hold.blockedEnding, &g_hold.maskBefore);
  g_hold.active = true;
}

// The dispositions and the mask go back as they were and every signal that arrived is made
// pending again, so that the kernel delivers them as it would have without the hold. A
// stop is dropped when the program ends anyway.
void ReleaseHeldSignals() {
  NoticeBlockedInterruptions();
  ChangeKernelMask(SIG_BLOCK, HeldKernelSet(), nullptr);
  ForEachHeld([](int signal) {
    const auto index = static_cast<std::size_t>(signal);
    if (g_hold.caught[index]) {
      sigaction(signal, &g_hold.previous[index], nullptr);
      g_hold.caught[index] = false;
    }
    const bool dropped = IsIn(kStops, signal) && g_hold.endArrived != 0;
    if (sigismember(&g_hold.arrived, signal) == 1 && !dropped) {
      ::raise(signal);
    }
  });
  g_hold.active = false;
  ChangeKernelMask(SIG_SETMASK, g_hold.maskBefore, nullptr);
}

}  // namespace

void IgnoreBrokenOutputSignals() {
  for (const int signal : kBrokenOutput) {
    ::signal(signal, SIG_IGN);
  }
}

bool InterruptionWaits() {
  NoticeBlockedInterruptions();
  return g_hold.active && g_hold.endArrived != 0;
}

void NoteConsoleText(bool standardOutput, const char* text) {
  const std::size_t length = std::strlen(text);
  if (length > 0 && (standardOutput || g_hold.sharedStream)) {
    g_hold.lineOpen = text[length - 1] != '\n' ? 1 : 0;
  }
  NoticeBlockedInterruptions();
}

HeldInterruptions::HeldInterruptions() {
  if (!g_hold.active) {
    HoldSignals();
  }
}

HeldInterruptions::~HeldInterruptions() {
  if (g_hold.deferrals == 0) {
    ReleaseHeldSignals();
  }
}

DeferredInterruptions::DeferredInterruptions() { ++g_hold.deferrals; }

DeferredInterruptions::~DeferredInterruptions() {
  if (--g_hold.deferrals == 0 && g_hold.active) {
    ReleaseHeldSignals();
  }
}
