// A process the program starts would run outside the machine, on this computer's own
// ports, memory device and clock. The system kills the program, with SIGSYS, at the call
// that would create one or replace the program by another, whatever signals it blocks;
// the harness, seeing that end, says why and ends with its failure status.
#pragma once

namespace trap {

// For the rest of the process's life, threads excepted. Ends the run with the front end's
// refusal status when the system cannot filter the program's calls.
void RefuseChildren();

}  // namespace trap
