// tvrbios-emu: the utility's own front-end flow on an emulated machine built from the
// options that come first on the command line.
#include <cstdio>
#include <exception>
#include <memory>
#include <string>
#include <vector>

#include "EmuFrontEnd.h"
#include "UxLinCore.h"

namespace {

// A bad option or value: nothing else runs.
constexpr int kBadOptionStatus = 2;
// --save-sample-bios, --help and --version: nothing of the utility runs.
constexpr int kEmulatorOnlyStatus = 0;

int Refuse(const std::string& reason) {
  std::fprintf(stderr, "tvrbios-emu: %s\n", reason.c_str());
  return kBadOptionStatus;
}

}  // namespace

int main(int argc, char** argv) {
  const std::vector<std::string> args(argv + 1, argv + argc);
  emu::FrontEndOptions options;
  std::string error;
  if (!emu::ParseFrontEndOptions(args, options, error)) {
    return Refuse(error);
  }
  if (options.help || options.version) {
    std::fputs(options.help ? emu::FrontEndUsage().c_str() : "tvrbios-emu " TVR_VERSION "\n",
               stdout);
    return kEmulatorOnlyStatus;
  }
  if (options.sampleFile) {
    return emu::SaveSampleBios(*options.sampleFile, options.sampleDeviceId, error)
               ? kEmulatorOnlyStatus
               : Refuse(error);
  }
  std::unique_ptr<emu::Machine> machine;
  try {
    machine = emu::BuildMachine(options);
  } catch (const std::exception& failure) {
    return Refuse(failure.what());
  }
  // The utility sees its own command line exactly as the native program would.
  std::vector<char*> utilityArgv{argv[0]};
  for (std::string& arg : options.utilityArgs) {
    utilityArgv.push_back(arg.data());
  }
  utilityArgv.push_back(nullptr);
  int status = 0;
  {
    const emu::ScopedPlatform platform(*machine);
    status = UxLinMain(static_cast<int>(utilityArgv.size() - 1), utilityArgv.data());
  }
  if (options.stats) {
    std::fputs(emu::FormatStats(*machine).c_str(), stderr);
  }
  return status;
}
