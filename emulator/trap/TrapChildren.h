// A process the program starts would run outside the machine, on this computer's own
// ports, memory device and clock. The system refuses to create one for the program, or to
// replace the program by another; the run then ends with the harness's failure status.
#pragma once

namespace trap {

// For the rest of the process's life, threads excepted. Ends the run with the front end's
// refusal status when the system cannot filter the program's calls.
void RefuseChildren();

}  // namespace trap
