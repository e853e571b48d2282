// The hardware library held against a PC: the configuration space of every function on
// bus 0 read at every width and offset the library allows and compared with a reference
// copy, tmDelay timed against the monotonic clock with the counts it loads, and the state
// it leaves in port 0x61 and channel 2 of the interval timer. Everything goes through the
// platform in force, so the same probe runs on a real kernel and on the emulated machine.
#pragma once

#include <array>
#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "TvrLib.h"

namespace probe {

using ConfigSpace = std::array<BYTE, 256>;
// The functions of bus 0 by location, each with its configuration space as another
// observer (the kernel, or the machine the emulated one is built like) gives it.
using References = std::map<PCIHANDLE, ConfigSpace>;

// "00:01.3".
std::string LocationText(PCIHANDLE location);
// Two hexadecimal digits a byte, and back; false for a text that is not 256 bytes.
std::string HexText(const ConfigSpace& bytes);
bool ParseHexText(const std::string& text, ConfigSpace& bytes);

// Runs the whole probe against `references`, prints its report on standard output and
// returns how many checks failed. A machine without the timer's read-back command
// (`readBackModelled` false) has its answer shown but not judged.
int RunProbe(const References& references, bool readBackModelled);

}  // namespace probe
