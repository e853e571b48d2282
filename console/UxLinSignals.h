// Interruptions of a run. A program that dies between taking the card and letting it go
// leaves the flash half written and the card's lines and write protection in software's
// hands, so the signals by which a user or the system ends or stops a program wait while
// the card is held. A closed output stream or a file-size limit must become write errors
// that the run reports, never the end of the process.
#pragma once

#include <signal.h>

// Ignores SIGPIPE and SIGXFSZ for the rest of the process.
void IgnoreBrokenOutputSignals();

// Holds the ending and stopping signals for the life of the object; a signal that arrived
// meanwhile takes effect, as it would have, once the object is gone. Synchronous faults
// (SIGSEGV, SIGBUS, SIGILL, SIGFPE, SIGTRAP) are never held.
class HeldInterruptions {
 public:
  HeldInterruptions();
  ~HeldInterruptions();
  HeldInterruptions(const HeldInterruptions&) = delete;
  HeldInterruptions& operator=(const HeldInterruptions&) = delete;

 private:
  sigset_t m_previous;
};
