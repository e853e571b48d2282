// The power-cut sweep: on each flash part, an update cut by a power failure at dozens of
// instants of virtual time between the start of the write (the unprotect step) and the end
// of the run (the final protection), each followed by the recovery a technician makes: the
// backup programmed with /k and the saved PInS text put back with /s. Every run is the
// tvrbios-emu program itself, in a child process, on a card whose flash is a file. The
// table says, per instant, what the cut left on the card and whether the recovery brought
// back the intended image (what the same recovery makes of the card before any cut); a
// recovery that does not makes the program fail.
//
// Usage: tvr-power-cut-sweep TVRBIOS_EMU OUTPUT.md
#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <array>
#include <cinttypes>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "SampleBios.h"
#include "ToolSupport.h"

namespace {

namespace fs = std::filesystem;
using tools::Bytes;

constexpr const char* kDate = "2026-12-09";
constexpr std::array<const char*, 3> kParts{"at25f1024", "m25p10", "sst25vf010"};
constexpr int kInstants = 24;
constexpr int kPowerCutStatus = 113;

struct Run {
  int status = -1;
  std::uint64_t virtualNs = 0;  // from --stats, 0 when the run ended without them
};

// tvrbios-emu in `dir` with the card at 100 whose flash is card.bin; output to files.
Run Emu(const std::string& program, const fs::path& dir, const std::string& part,
        const std::string& fault, const std::vector<std::string>& utility) {
  std::vector<std::string> args{
      program,  "--stats",
      "--date", kDate,
      "--card", "100,flash=" + part + ",image=card.bin" + (fault.empty() ? "" : ",fault=" + fault)};
  args.insert(args.end(), utility.begin(), utility.end());
  std::fflush(nullptr);
  const pid_t child = fork();
  if (child == 0) {
    if (chdir(dir.c_str()) != 0 || dup2(open("out", O_WRONLY | O_CREAT | O_TRUNC, 0644), 1) < 0 ||
        dup2(open("err", O_WRONLY | O_CREAT | O_TRUNC, 0644), 2) < 0) {
      _exit(127);
    }
    std::vector<char*> argv;
    for (std::string& arg : args) {
      argv.push_back(arg.data());
    }
    argv.push_back(nullptr);
    execv(argv[0], argv.data());
    _exit(127);
  }
  int wait = 0;
  waitpid(child, &wait, 0);
  Run run;
  run.status = WIFEXITED(wait) ? WEXITSTATUS(wait) : -1;
  std::ifstream err(dir / "err");
  std::string line;
  while (std::getline(err, line)) {
    unsigned long long seconds = 0;
    unsigned long long nanoseconds = 0;
    if (std::sscanf(line.c_str(), "virtual time: %llu.%llu s", &seconds, &nanoseconds) == 2) {
      run.virtualNs = seconds * 1000000000ull + nanoseconds;
    }
  }
  return run;
}

std::string Seconds(std::uint64_t ns) {
  char text[32];
  std::snprintf(text, sizeof(text), "%" PRIu64 ".%06" PRIu64, ns / 1000000000,
                ns % 1000000000 / 1000);
  return text;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 3) {
    std::fprintf(stderr, "usage: tvr-power-cut-sweep TVRBIOS_EMU OUTPUT.md\n");
    return 2;
  }
  const std::string program = fs::absolute(argv[1]).string();
  const fs::path dir =
      fs::temp_directory_path() / ("tvr-power-cut-sweep-" + std::to_string(getpid()));
  fs::create_directories(dir);
  const Bytes card = emu::BuildSampleBios();
  tools::WriteFile(dir / "new.bin", emu::BuildSampleBios(emu::NewerSampleBios()));
  const std::vector<std::string> update{"/i", "new.bin"};
  const std::vector<std::string> recovery{"/k", "backup.bin", "/s", "card.txt"};

  std::ostringstream table;
  table << "| part | cut at (s) | cut run exit | flash after the cut | recovery exit | flash after "
           "the recovery |\n"
        << "|---|---|---|---|---|---|\n";
  int failures = 0;
  for (const char* part : kParts) {
    const auto fresh = [&] { tools::WriteFile(dir / "card.bin", card); };
    fresh();
    const Run saved = Emu(program, dir, part, "", {"/o", "backup.bin", "/d", "card.txt"});
    fresh();
    const Run reading = Emu(program, dir, part, "", {"/ds"});
    fresh();
    const Run whole = Emu(program, dir, part, "", update);
    const Bytes updated = tools::ReadFile(dir / "card.bin");
    fresh();
    Emu(program, dir, part, "", recovery);
    const Bytes intended = tools::ReadFile(dir / "card.bin");
    if (saved.status != 1 || whole.status != 1 || reading.virtualNs >= whole.virtualNs) {
      std::fprintf(stderr, "%s: the runs without a cut failed\n", part);
      return 1;
    }
    // A run that only reads the card ends where the update's write begins.
    for (int i = 0; i < kInstants; ++i) {
      const std::uint64_t at = reading.virtualNs + (whole.virtualNs - reading.virtualNs) *
                                                       static_cast<std::uint64_t>(i) /
                                                       (kInstants - 1);
      fresh();
      const Run cut = Emu(program, dir, part, "power-cut-at=" + std::to_string(at) + "ns", update);
      const Bytes afterCut = tools::ReadFile(dir / "card.bin");
      const Run recovered = Emu(program, dir, part, "", recovery);
      const Bytes afterRecovery = tools::ReadFile(dir / "card.bin");
      const bool good = recovered.status == 1 && afterRecovery == intended;
      failures += good ? 0 : 1;
      table << "| " << part << " | " << Seconds(at) << " | " << cut.status
            << (cut.status == kPowerCutStatus ? " (cut)" : "") << " | "
            << tools::FlashState(afterCut, card, updated) << " | " << recovered.status << " | "
            << (good ? "the intended image"
                     : "**" + tools::FlashState(afterRecovery, card, intended) + "**")
            << " |\n";
    }
    std::fprintf(stderr, "%s done\n", part);
  }
  fs::remove_all(dir);
  std::ofstream(argv[2]) << table.str();
  return failures == 0 ? 0 : 1;
}
