// What every front end of the emulator does around its machine: start-up (the options,
// --help, --version, --save-sample-bios), refusals, and the statistics at the end.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "Machine.h"
#include "Options.h"

namespace emu {

// Writes a newer sample BIOS for the device than the emulated cards start with to `path`;
// false with the reason in `error`.
bool SaveSampleBios(const std::string& path, std::uint16_t deviceId, std::string& error);

// Parses the options, and carries out --help (printing `usage`), --version and
// --save-sample-bios. Returns the exit status when the run ends there (a refusal prints
// "PROGRAM: reason" on standard error), nothing when the machine is to run.
std::optional<int> StartFrontEnd(const char* program, const std::string& usage,
                                 const std::vector<std::string>& args, FrontEndOptions& options);
// Prints "PROGRAM: reason" on standard error; returns kRefusedStatus.
int Refuse(const char* program, const std::string& reason);

// The virtual time and the access counts, one per line.
std::string FormatStats(Machine& machine);

}  // namespace emu
