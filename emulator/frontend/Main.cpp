// tvrbios-emu: the utility's own front-end flow on an emulated machine built from the
// options that come first on the command line.
#include <cstdio>
#include <exception>
#include <optional>
#include <string>
#include <vector>

#include "Builder.h"
#include "FrontEnd.h"
#include "ProcessEnd.h"
#include "UxLinCore.h"
#include "UxLinSignals.h"

namespace {
constexpr const char* kProgram = "tvrbios-emu";
}  // namespace

int main(int argc, char** argv) {
  const std::vector<std::string> args(argv + 1, argv + argc);
  emu::FrontEndOptions options;
  if (const std::optional<int> status =
          emu::StartFrontEnd(kProgram, emu::FrontEndUsage(), args, options)) {
    return *status;
  }
  // A signal that waited for the card ends the emulator only after its own end of run: the
  // card's files put back under their names, the statistics printed, the traces written.
  const DeferredInterruptions afterTheEndOfRun;
  // A power cut on the card ends the emulator at once, as it ends a real machine's run; a
  // due signal is raised in it.
  emu::InstallProcessEnd();
  emu::BuiltMachine built;
  try {
    built = emu::BuildMachine(options);
  } catch (const std::exception& failure) {
    return emu::Refuse(kProgram, failure.what());
  }
  // The utility sees its own command line exactly as the native program would.
  std::vector<char*> utilityArgv{argv[0]};
  for (std::string& arg : options.utilityArgs) {
    utilityArgv.push_back(arg.data());
  }
  utilityArgv.push_back(nullptr);
  int status = 0;
  try {
    const emu::ScopedPlatform platform(*built.machine);
    status = UxLinMain(static_cast<int>(utilityArgv.size() - 1), utilityArgv.data());
  } catch (const emu::FatalAccess& fatal) {
    std::fflush(stdout);
    std::fprintf(stderr, "%s: fatal access: %s\n", kProgram, fatal.what());
    status = emu::kFatalAccessStatus;
  }
  if (options.stats) {
    std::fputs(emu::FormatStats(*built.machine).c_str(), stderr);
  }
  return status;
}
