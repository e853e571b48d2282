// The emulator front end's own options and the machine they describe. `tvrbios-emu` takes
// these options first (each begins with "--"); the first argument that does not, or what
// follows a lone "--", is the utility's own command line.
#pragma once

#include <array>
#include <cstdint>
#include <ctime>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "Card.h"
#include "Clock.h"
#include "FrontEndNumbers.h"
#include "Machine.h"
#include "Vcd.h"

namespace emu {

// One --card: where the card sits, how it is configured, and where its flash lives.
struct FrontEndCard {
  std::uint32_t location = kDefaultLocation;  // bus in bits 8-15, device in 3-7, function in 0-2
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
  std::optional<std::tm> date;                // none: today
  AccessCosts costs;                          // --bus-costs PORT,READ,WRITE in ns
  std::array<int, kRequestCount> refusals{};  // --refuse CALL=ERROR: the reason per request
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

// The lines of --help that name every option; the emulator and the trap harness share them.
std::string MachineOptionsHelp();
// What the emulator's --help prints: the synopsis and every option.
std::string FrontEndUsage();

// The names each table takes, in table order: the options, the --card keys, the values of
// flash= and timing=, and the calls --refuse takes. The help text and the manual page list
// every one of them.
std::vector<std::string_view> OptionNames();
std::vector<std::string_view> CardKeyNames();
std::vector<std::string_view> FlashPartKeys();
std::vector<std::string_view> TimingKeys();
std::vector<std::string_view> RefusalNames();

}  // namespace emu
