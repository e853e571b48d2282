// Interruptions of a run. A program that dies between taking the card and letting it go
// leaves the flash half written and the card's lines and write protection in software's
// hands, so every signal by which a user or the system ends or stops a program waits while
// the card is held. A closed output stream or a file-size limit must become write errors
// that the run reports, never the end of the process.
#pragma once

// Ignores SIGPIPE and SIGXFSZ for the rest of the process.
void IgnoreBrokenOutputSignals();

// Makes every signal whose default action ends or stops the process wait for the life of
// the object, whatever its number (those the C library keeps for itself included), but
// those that cannot be caught (SIGKILL, SIGSTOP) and the faults the program raises itself
// (SIGSEGV, SIGBUS, SIGILL, SIGFPE, SIGTRAP, SIGSYS). The first one that would end the
// program is answered with one warning on standard error, a stop (Ctrl-Z) with another; the
// run goes on. A background program's own terminal output goes out meanwhile instead of
// stopping it. Once the object is gone, every signal that arrived takes effect as it would
// have without the hold: an ending one ends the program, a stop stops it. A signal that was
// ignored when the hold began stays ignored.
class HeldInterruptions {
 public:
  HeldInterruptions();
  ~HeldInterruptions();
  HeldInterruptions(const HeldInterruptions&) = delete;
  HeldInterruptions& operator=(const HeldInterruptions&) = delete;
};

// True when a signal that ends the program arrived during the hold: the card must not be
// written any more, since the user, or the system, asked for the end before it began.
bool InterruptionWaits();

// For the console's print callbacks, after each text: whether it left a line open (a line
// of progress dots), so that an answer starts a line of its own. An interruption that could
// only be blocked is noticed, and answered, here.
void NoteConsoleText(bool standardOutput, const char* text);

// For a front end with work of its own after the card is let go (files to put back,
// statistics to print): while this object lives, signals that a hold made wait keep
// waiting after the hold ends, and take effect when this object is gone. It holds nothing
// by itself.
class DeferredInterruptions {
 public:
  DeferredInterruptions();
  ~DeferredInterruptions();
  DeferredInterruptions(const DeferredInterruptions&) = delete;
  DeferredInterruptions& operator=(const DeferredInterruptions&) = delete;
};
