// The emulator front end's own options and the machine they describe. `tvrbios-emu` takes
// these options first (each begins with "--"); the first argument that does not, or what
// follows a lone "--", is the utility's own command line.
#pragma once

#include <cstdint>
#include <ctime>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "EmuCard.h"
#include "EmuMachine.h"
#include "EmuVcd.h"

namespace emu {

// One --card: where the card sits, how it is configured, and where its flash lives.
struct FrontEndCard {
  std::uint32_t location = 0x100;  // bus in bits 8-15, device in 3-7, function in 0-2
  CardOptions options;
  std::string imageFile;  // empty: the sample image, in memory
  std::string stateFile;  // empty: the card starts powered up, its state in memory
};

// One --vcd: a trace of one card's lines over a window of chip-select cycles.
struct FrontEndTrace {
  std::string file;
  VcdWindow window;
  std::optional<std::uint32_t> location;  // none: the first card
};

struct FrontEndOptions {
  std::vector<FrontEndCard> cards;
  std::uint32_t uid = 0;
  std::optional<std::tm> date;  // none: today
  AccessCosts costs;            // --bus-costs PORT,READ,WRITE in ns
  bool stats = false;
  std::vector<FrontEndTrace> traces;
  // --help and --version: print and exit.
  bool help = false;
  bool version = false;
  // --save-sample-bios: the file and the device its sample BIOS is built for.
  std::optional<std::string> sampleFile;
  std::uint16_t sampleDeviceId = DEVID_LUMIVANE_A;
  // The utility's command line, without a program name.
  std::vector<std::string> utilityArgs;
};

// Parses the arguments after the program name. False with a one-line reason in `error`.
// Without any --card the machine gets the built-in card.
bool ParseFrontEndOptions(const std::vector<std::string>& args, FrontEndOptions& options,
                          std::string& error);

// The machine with its cards and their line traces. Throws std::runtime_error when a card's
// flash or state file cannot be created or mapped, or a trace file cannot be written.
std::unique_ptr<Machine> BuildMachine(const FrontEndOptions& options);

// Writes a newer sample BIOS for the device than the emulated cards start with to `path`;
// false with the reason in `error`.
bool SaveSampleBios(const std::string& path, std::uint16_t deviceId, std::string& error);

// What --help prints: the synopsis and every option.
std::string FrontEndUsage();

// The exit status of a front end that refuses its options or cannot set up its machine.
constexpr int kRefusedStatus = 2;

// What every front end does first: parses the options, and carries out --help, --version
// and --save-sample-bios. Returns the exit status when the run ends there (a refusal
// prints "PROGRAM: reason" on standard error), nothing when the machine is to run.
std::optional<int> StartFrontEnd(const char* program, const std::vector<std::string>& args,
                                 FrontEndOptions& options);
// Prints "PROGRAM: reason" on standard error; returns kRefusedStatus.
int Refuse(const char* program, const std::string& reason);

// The virtual time and the access counts, one per line.
std::string FormatStats(Machine& machine);

}  // namespace emu
