// The fault matrix: every fault of the emulated card during every switch that touches the
// flash, on each flash part. Each case is the emulator front end's own option syntax and
// runs the console flow (UxLinMain) in a child process of its own, on a card whose flash is
// a file, exactly as tvrbios-emu runs it; afterwards the child also records the card's
// protection, which no file keeps. The table says, per case, the messages, the exit
// status, the flash content and the protection; a case where the utility reports success
// for a card that is not right is marked and makes the program fail.
//
// Usage: tvr-fault-matrix OUTPUT.md
#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <sstream>
#include <string>
#include <vector>

#include "Builder.h"
#include "FrontEndNumbers.h"
#include "ProcessEnd.h"
#include "SampleBios.h"
#include "ToolSupport.h"
#include "UxLinCore.h"

namespace {

namespace fs = std::filesystem;
using tools::Bytes;
using tools::FlashState;
using tools::ReadFile;
using tools::WriteFile;

constexpr const char* kDate = emu::kFixedRunDate;
constexpr std::uint8_t kProtectionBits = 0x0C;
constexpr std::uint8_t kLockBit = 0x80;

constexpr std::array<const char*, 3> kParts{"at25f1024", "m25p10", "sst25vf010"};
// No fault first: the reference every other case is compared with.
constexpr std::array<const char*, 10> kFaults{
    "",         "lines-busy",     "no-flash",       "stuck-busy",  "erase-hang",
    "wp-stuck", "corrupt-pass=1", "corrupt-pass=3", "power-cut=0", "power-cut=65536"};

struct SwitchCase {
  std::vector<std::string> args;
  bool writes;  // the run ends by programming the card
};

const std::array<SwitchCase, 5> kSwitches{{
    {{"/i", "new.bin"}, true},
    {{"/k", "new.bin"}, true},
    {{"/s", "pins.txt"}, true},
    {{"/tvout", "pal"}, true},
    {{"/o", "backup.bin"}, false},
}};

struct Outcome {
  int status = -1;
  std::string out;
  Bytes flash;
  Bytes backup;            // what /o wrote, if anything
  bool haveState = false;  // the child lived to record the protection
  std::uint8_t flashStatus = 0;
  bool writeProtectPinHigh = false;
};

std::string CardOption(const std::string& part, const std::string& fault) {
  return "100,flash=" + part + ",image=card.bin" + (fault.empty() ? "" : ",fault=" + fault);
}

// In the child: the front end's options, its machine with the one card, the console flow,
// then the card's protection into "state". Output is unbuffered, as on a terminal, so that
// what was printed before a power cut is kept.
[[noreturn]] void RunChild(const fs::path& dir, const std::vector<std::string>& args) {
  if (chdir(dir.c_str()) != 0 || !std::freopen("out", "w", stdout) || dup2(fileno(stdout), 2) < 0) {
    std::_Exit(127);
  }
  std::setvbuf(stdout, nullptr, _IONBF, 0);
  emu::FrontEndOptions options;
  std::string error;
  if (!emu::ParseFrontEndOptions(args, options, error) || options.cards.size() != 1 ||
      !options.date) {
    std::_Exit(126);
  }
  emu::InstallProcessEnd();  // a power cut ends the child as it ends tvrbios-emu
  const emu::BuiltMachine built = emu::BuildMachine(options);
  emu::Card& card = *built.cards.at(options.cards[0].location);
  std::vector<char*> argv{const_cast<char*>("tvrbios-emu")};
  for (std::string& arg : options.utilityArgs) {
    argv.push_back(arg.data());
  }
  argv.push_back(nullptr);
  int status = 0;
  {
    const emu::ScopedPlatform platform(*built.machine);
    status = UxLinMain(static_cast<int>(argv.size() - 1), argv.data());
  }
  const std::uint32_t protect = card.DeviceRead(emu::kConfigAperture, emu::kProtectRegister, 4);
  std::ofstream("state") << static_cast<int>(card.Flash().Status()) << " "
                         << ((protect & emu::kProtectWritable) == emu::kProtectWritable) << "\n";
  std::_Exit(status);
}

Outcome Run(const fs::path& dir, const std::string& part, const std::string& fault,
            const SwitchCase& sw) {
  fs::remove(dir / "state");
  fs::remove(dir / "backup.bin");
  std::vector<std::string> args{"--date", kDate, "--card", CardOption(part, fault)};
  args.insert(args.end(), sw.args.begin(), sw.args.end());
  std::fflush(nullptr);
  const pid_t child = fork();
  if (child == 0) {
    RunChild(dir, args);
  }
  int wait = 0;
  waitpid(child, &wait, 0);
  Outcome outcome;
  outcome.status = WIFEXITED(wait) ? WEXITSTATUS(wait) : -1;
  const Bytes out = ReadFile(dir / "out");
  outcome.out.assign(out.begin(), out.end());
  outcome.flash = ReadFile(dir / "card.bin");
  outcome.backup = ReadFile(dir / "backup.bin");
  std::ifstream state(dir / "state");
  int status = 0;
  outcome.haveState = static_cast<bool>(state >> status >> outcome.writeProtectPinHigh);
  outcome.flashStatus = static_cast<std::uint8_t>(status);
  return outcome;
}

// The first line of every message: what a technician reads.
std::string Messages(const std::string& out) {
  std::istringstream lines(out);
  std::string line;
  std::string text;
  while (std::getline(lines, line)) {
    if (line.rfind("ERROR!", 0) == 0 || line.rfind("SUCCESS!", 0) == 0) {
      text += (text.empty() ? "" : " / ") + line;
    }
  }
  if (out.find("................") != std::string::npos) {
    text = "progress dots, then " + (text.empty() ? "nothing" : text);
  }
  return text.empty() ? "(none)" : text;
}

std::string Protection(const Outcome& outcome) {
  if (!outcome.haveState) {
    return "(power lost)";
  }
  const int level = (outcome.flashStatus & kProtectionBits) >> 2;
  return "level " + std::to_string(level) + ((outcome.flashStatus & kLockBit) ? ", locked" : "") +
         (outcome.writeProtectPinHigh ? ", WP pin high" : "");
}

// Success reported for a card (or a backup) that is not what it should be.
bool FalseSuccess(const Outcome& outcome, const SwitchCase& sw, const Bytes& before,
                  const Bytes& updated) {
  if (outcome.status != 1) {
    return false;
  }
  return sw.writes ? outcome.flash != updated : outcome.backup != before;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: tvr-fault-matrix OUTPUT.md\n");
    return 2;
  }
  const fs::path dir = fs::temp_directory_path() / ("tvr-fault-matrix-" + std::to_string(getpid()));
  fs::create_directories(dir);
  const Bytes card = emu::BuildSampleBios();
  WriteFile(dir / "new.bin", emu::BuildSampleBios(emu::NewerSampleBios()));

  std::ostringstream table;
  table
      << "| part | switch | fault | messages | exit | flash afterwards | protection afterwards |\n"
      << "|---|---|---|---|---|---|---|\n";
  int falseSuccesses = 0;
  for (const char* part : kParts) {
    // The PInS text /s reads: the card's own, as /d writes it.
    WriteFile(dir / "card.bin", card);
    Run(dir, part, "", SwitchCase{{"/d", "pins.txt"}, false});
    for (const SwitchCase& sw : kSwitches) {
      Bytes updated;
      for (const char* fault : kFaults) {
        WriteFile(dir / "card.bin", card);
        const Outcome outcome = Run(dir, part, fault, sw);
        if (*fault == '\0') {
          updated = outcome.flash;
        }
        const bool falseSuccess = FalseSuccess(outcome, sw, card, updated);
        falseSuccesses += falseSuccess;
        table << "| " << part << " | " << sw.args[0] << " | " << (*fault ? fault : "none") << " | "
              << Messages(outcome.out) << " | " << outcome.status << " | "
              << FlashState(outcome.flash, card, updated)
              << (falseSuccess ? " **SUCCESS REPORTED**" : "") << " | " << Protection(outcome)
              << " |\n";
      }
      std::fprintf(stderr, "%s %s done\n", part, sw.args[0].c_str());
    }
  }
  fs::remove_all(dir);
  std::ofstream(argv[1]) << table.str();
  return falseSuccesses == 0 ? 0 : 1;
}
