// What the interruptions of a run do to the process that runs the machine, as on a real
// one: a power cut ends it at once with kPowerCutExitCode (nothing is flushed, nothing
// more is written), a due signal is delivered to it.
#pragma once

namespace emu {

// Installs the hook for the process (see Interruptions.h); installing it again changes
// nothing.
void InstallProcessEnd();

}  // namespace emu
