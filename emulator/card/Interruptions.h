// The moments at which a fault interrupts the run: the power goes, or the process is due a
// signal. The part reports them here and carries on as the hardware would; what they do to
// the process (end it, deliver the signal) is up to the hook that whoever runs the machine
// installs. Without a hook a report does nothing.
#pragma once

namespace emu {

class Interruptions {
 public:
  // The power went: the part has already left its cells and its state as the cut leaves them.
  virtual void PowerCut() = 0;
  // A `signal=` fault's signal is due now.
  virtual void SignalDue(int signal) = 0;

 protected:
  ~Interruptions() = default;
};

// Installs `hook` for the process; nullptr for none.
void SetInterruptions(Interruptions* hook);

void ReportPowerCut();
void ReportSignalDue(int signal);

}  // namespace emu
