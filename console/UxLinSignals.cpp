#include "UxLinSignals.h"

#include <array>

namespace {

// Signals that end or stop a program on someone else's behalf: the terminal, the session,
// another process, a timer. SIGKILL and SIGSTOP cannot be held.
constexpr std::array<int, 13> kInterruptions{SIGINT,  SIGTERM, SIGHUP,    SIGQUIT, SIGTSTP,
                                             SIGTTIN, SIGTTOU, SIGUSR1,   SIGUSR2, SIGALRM,
                                             SIGVTALRM, SIGPROF, SIGXCPU};

// Writes that cannot go on: reported by the write that failed.
constexpr std::array<int, 2> kBrokenOutput{SIGPIPE, SIGXFSZ};

sigset_t InterruptionSet() {
  sigset_t set;
  sigemptyset(&set);
  for (const int signal : kInterruptions) {
    sigaddset(&set, signal);
  }
  return set;
}

}  // namespace

void IgnoreBrokenOutputSignals() {
  for (const int signal : kBrokenOutput) {
    ::signal(signal, SIG_IGN);
  }
}

HeldInterruptions::HeldInterruptions() {
  const sigset_t held = InterruptionSet();
  pthread_sigmask(SIG_BLOCK, &held, &m_previous);
}

HeldInterruptions::~HeldInterruptions() { pthread_sigmask(SIG_SETMASK, &m_previous, nullptr); }
