#include "UxLinSignals.h"

#include <signal.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <csignal>

namespace {

// Never held: SIGKILL and SIGSTOP cannot be caught; a fault of the program's own must end
// it where it happens; the rest do not end or stop a program by default.
constexpr std::array<int, 12> kNeverHeld{SIGKILL, SIGSTOP,  SIGSEGV, SIGBUS,  SIGILL,  SIGFPE,
                                         SIGTRAP, SIGSYS,   SIGCHLD, SIGWINCH, SIGURG, SIGCONT};

// Writes that cannot go on: reported by the write that failed.
constexpr std::array<int, 2> kBrokenOutput{SIGPIPE, SIGXFSZ};

constexpr char kMsgInterrupted[] =
    "WARNING! Interrupted. The program goes on until your Tavrin\n"
    "         graphics hardware is safe again, and then it ends.\n\n";

// The dispositions are the process's, so is the hold. Only the handler writes `arrived`
// and `answered` while the hold lasts; the rest of the program reads them with every held
// signal blocked.
struct Hold {
  bool active = false;
  int deferrals = 0;
  std::array<struct sigaction, NSIG> previous{};
  std::array<bool, NSIG> caught{};
  sigset_t arrived{};
  volatile std::sig_atomic_t answered = 0;
};
Hold g_hold;

bool IsHeld(int signal) {
  return std::find(kNeverHeld.begin(), kNeverHeld.end(), signal) == kNeverHeld.end();
}

// Every held signal of the system, from 1 to the last real-time one. Numbers the C library
// keeps for itself are refused by sigaddset and sigaction, and so left out.
template <class Action>
void ForEachHeld(Action action) {
  for (int signal = 1; signal <= SIGRTMAX; ++signal) {
    if (IsHeld(signal)) {
      action(signal);
    }
  }
}

sigset_t HeldSet() {
  sigset_t set;
  sigemptyset(&set);
  ForEachHeld([&set](int signal) { sigaddset(&set, signal); });
  return set;
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

extern "C" void OnHeldInterruption(int signal) {
  const int savedErrno = errno;
  sigaddset(&g_hold.arrived, signal);
  if (g_hold.answered == 0) {
    g_hold.answered = 1;
    WriteAll(STDERR_FILENO, kMsgInterrupted, sizeof kMsgInterrupted - 1);
  }
  errno = savedErrno;
}

void CatchHeldSignals() {
  sigemptyset(&g_hold.arrived);
  g_hold.answered = 0;
  struct sigaction ours {};
  ours.sa_handler = OnHeldInterruption;
  ours.sa_mask = HeldSet();
  ours.sa_flags = SA_RESTART;
  ForEachHeld([&ours](int signal) {
    struct sigaction& previous = g_hold.previous[static_cast<std::size_t>(signal)];
    g_hold.caught[static_cast<std::size_t>(signal)] = sigaction(signal, nullptr, &previous) == 0 &&
                                                      previous.sa_handler != SIG_IGN &&
                                                      sigaction(signal, &ours, nullptr) == 0;
  });
  g_hold.active = true;
}

// The dispositions go back as they were and every signal that arrived is made pending
// again, so that the kernel delivers them as it would have without the hold.
void ReleaseHeldSignals() {
  const sigset_t held = HeldSet();
  sigset_t before;
  pthread_sigmask(SIG_BLOCK, &held, &before);
  ForEachHeld([](int signal) {
    const auto index = static_cast<std::size_t>(signal);
    if (g_hold.caught[index]) {
      sigaction(signal, &g_hold.previous[index], nullptr);
      g_hold.caught[index] = false;
    }
    if (sigismember(&g_hold.arrived, signal) == 1) {
      ::raise(signal);
    }
  });
  g_hold.active = false;
  pthread_sigmask(SIG_SETMASK, &before, nullptr);
}

}  // namespace

void IgnoreBrokenOutputSignals() {
  for (const int signal : kBrokenOutput) {
    ::signal(signal, SIG_IGN);
  }
}

HeldInterruptions::HeldInterruptions() {
  if (!g_hold.active) {
    CatchHeldSignals();
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
