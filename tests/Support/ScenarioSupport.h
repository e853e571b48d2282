// Runs the programs as a user does: its own process in its own working directory, with
// relative file names, standard output and standard error kept apart, and the exit status.
// Also the texts every run prints and the pieces of a flash image the checks look at.
#pragma once

#include <gtest/gtest.h>
#include <sys/types.h>

#include <cstdint>
#include <functional>
#include <ostream>
#include <string>
#include <vector>

#include "FrontEndNumbers.h"
#include "ImageBytes.h"
#include "SampleBios.h"

namespace scenario {

using testbytes::Bytes;
using testbytes::kPinsCounter;
using testbytes::kPinsDate;
using testbytes::Le;
using testbytes::Slice;
using testbytes::Sum8;

struct RunResult {
  int status = -1;  // the exit status, or -1 when the process did not exit normally
  int signal = 0;   // the signal that ended the process, if one did
  std::string out;
  std::string err;
  double seconds = 0;  // from the start to the end of the process
};

// What a run says, compared whole: standard output, standard error, exit status.
struct Said {
  std::string out;
  std::string err;
  int status = -1;
  bool operator==(const Said&) const = default;
};
Said SaidBy(const RunResult& run);
void PrintTo(const Said& said, std::ostream* out);

// What a run's surroundings take from it, and do to it.
struct RunLimits {
  std::uint64_t fileSizeLimit = 0;  // bytes any file of the run may grow to; 0: no limit
  // Not empty: standard output is a pipe whose reader goes away once this text has come.
  std::string closeOutputAfter{};
  // Standard output is a pipe whose reader has gone before the run starts.
  bool outputClosed = false;
  // Set: standard output is a pipe, and once `actAfter` has come on it, `act` is called
  // with the process's ID while the output is read on to its end.
  std::string actAfter{};
  std::function<void(pid_t)> act{};
  // Variables the run gets on top of the test's own, as NAME=VALUE.
  std::vector<std::string> environment{};
  // Signals the run starts with ignored, as whoever started it left them.
  std::vector<int> ignoredSignals{};
  // 0 or more: the run's user and group ID, taken by a run started as root.
  int userId = -1;
  // Not 0: a run still going after this long is killed, so that a run that hangs fails its
  // test instead of holding up the suite.
  int killAfterSeconds = 0;
};

// Every run is dated so that the stamp in the PInS is known: 9 December 2026.
constexpr const char* kDate = emu::kFixedRunDate;
constexpr std::uint16_t kDateWord = (26 << 9) | (12 << 5) | 9;

constexpr const char* kBanner =
    "\nTavrin BIOS update utility - Version 1.65\n"
    "Copyright (c) Tavrin. All rights reserved.\n\n";
constexpr const char* kWarning =
    "WARNING! Don't restart or turn off your computer while\n"
    "         the BIOS of your Tavrin graphics hardware is\n"
    "         being updated.\n\n";
constexpr const char* kUpdated =
    "SUCCESS! Programming of Tavrin BIOS is completed.\n\n"
    "For changes to take effect, your computer must be restarted.\n"
    "Before your computer is restarted, close all programs and\n"
    "remove any disk from your disk drives.\n\n";
constexpr const char* kNotUpdated =
    "ERROR! The BIOS of your Tavrin graphics hardware couldn't be updated.\n\n";
// The answers to the first signal that waits while the card is held, on standard error.
constexpr const char* kInterrupted =
    "WARNING! Interrupted. The program goes on until your Tavrin\n"
    "         graphics hardware is safe again, and then it ends.\n\n";
constexpr const char* kStopping =
    "WARNING! Stopping. The program goes on until your Tavrin\n"
    "         graphics hardware is safe again, and then it stops.\n\n";
constexpr const char* kInvalidCmdLine = "ERROR! Invalid command line.\n\n";
constexpr const char* kPinsUnrecognizable =
    "ERROR! The product information structure in the\n"
    "       current BIOS is unrecognizable.\n\n";
constexpr const char* kLumivaneModel = "Tavrin Lumivane/Vesk/Orn card";

// The card report as the sample card gives it, with what a test changes.
struct CardReport {
  std::string model = kLumivaneModel;
  std::string serial = "TS05A00017";
  int bus = 1;
  int device = 0;
  std::string version = "2.1 - 5 LV7";
  std::string productId = "TLV";
  std::string part = "ST M25P10";

  std::string Text() const;
};

// A BIOS file's report.
std::string FileReport(const std::string& version, const std::string& productId);
// The progress bar: 46 dots for parts written in 256-byte pages, 48 for 128-byte pages.
std::string Dots(std::size_t count);
// The warning, the progress bar and the success of a programming run.
std::string Programmed(std::size_t dots = 48);
std::string FileCreated(const std::string& name);

// The new BIOS the programming tests install: another version, serial number, counter and
// subsystem word than the card's, a smaller BIOS, no calibration block, 64 KiB long.
emu::SampleBiosOptions NewBiosOptions();
Bytes NewBiosFile();

// Pieces of an image.
std::uint32_t BiosSize(const Bytes& image);
std::uint32_t PinsOffset(const Bytes& image);
Bytes Pins(const Bytes& image);
std::string PinsSerial(const Bytes& pins);

// The whole of a file, empty when it cannot be read.
std::string FileText(const std::string& path);
// The argument vector of `command` for an exec call, ended by a null pointer; `command`
// outlives it.
std::vector<char*> Argv(const std::vector<std::string>& command);
// What a shell command prints on standard output; empty when it fails.
std::string CommandOutput(const std::string& command);

class ScenarioTest : public ::testing::Test {
 protected:
  void SetUp() override;
  void TearDown() override;

  // tvrbios-emu with --date and the arguments.
  RunResult Emu(const std::vector<std::string>& args, const RunLimits& limits = {});
  // A program run with its arguments as they are.
  RunResult Run(const std::string& program, const std::vector<std::string>& args,
                const RunLimits& limits = {});

  void Write(const std::string& name, const Bytes& bytes);
  void WriteText(const std::string& name, const std::string& text);
  Bytes Read(const std::string& name) const;
  std::string ReadText(const std::string& name) const;
  bool Exists(const std::string& name) const;
  std::string Path(const std::string& name) const;

  std::string m_root;  // holds the working directory and the captured streams
  std::string m_work;
};

// Runs on the sample card at 100, whose flash is card.bin, with the new BIOS in new.bin.
class CardTest : public ScenarioTest {
 protected:
  void SetUp() override;
  // tvrbios-emu on that card with its further `keys`, then the utility's arguments.
  RunResult OnCard(const std::string& keys, std::vector<std::string> args,
                   const RunLimits& limits = {});
  // The banner and the card's report, as a run on the sample card begins.
  static std::string Report();
  // What a run says that only created `name`.
  static Said Created(const std::string& name) { return {Report() + FileCreated(name), "", 1}; }

  Bytes m_card = emu::BuildSampleBios();
  const Bytes m_file = NewBiosFile();
  const std::string m_newReport = FileReport("2.2 - 7 NV8", "TNV");
};

}  // namespace scenario
