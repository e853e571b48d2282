// tvrbios-trap: runs an unchanged program, normally the native tvrbios, on the emulated
// machine that tvrbios-emu builds from the same options. The program keeps its own
// standard streams and exit status; a preloaded library answers its calls to the system
// and emulates its port instructions and its accesses to the card's registers. The program
// never runs without it: the harness lets it start only on the library's word.
#include <limits.h>
#include <unistd.h>

#include <array>
#include <optional>
#include <string>
#include <vector>

#include "FrontEnd.h"
#include "TrapHandover.h"
#include "TrapLaunch.h"

namespace {

int Refuse(const std::string& reason) { return emu::Refuse(trap::kProgram, reason); }

// The preloaded library lies beside this executable in a build, and in the library folder
// of the installed tree.
std::string LibraryPath() {
  std::array<char, PATH_MAX> self{};
  const ssize_t length = readlink("/proc/self/exe", self.data(), self.size() - 1);
  if (length <= 0) {
    return trap::kLibraryFile;
  }
  const std::string path(self.data(), static_cast<std::size_t>(length));
  const std::string folder = path.substr(0, path.rfind('/') + 1);
  const std::string beside = folder + trap::kLibraryFile;
  if (access(beside.c_str(), R_OK) == 0) {
    return beside;
  }
  return folder + TVR_TRAP_INSTALLED_LIBRARY_DIR + "/" + trap::kLibraryFile;
}

}  // namespace

int main(int argc, char** argv) {
  const std::vector<std::string> args(argv + 1, argv + argc);
  emu::FrontEndOptions options;
  if (const std::optional<int> status = emu::StartFrontEnd(trap::kProgram, args, options)) {
    return *status;
  }
  if (options.utilityArgs.empty()) {
    return Refuse("no program to run");
  }
  const std::string& program = options.utilityArgs.front();
  std::string error;
  if (!trap::CanGoInto(program, error)) {
    return Refuse(error);
  }
  const std::string library = LibraryPath();
  if (access(library.c_str(), R_OK) != 0) {
    return Refuse("cannot find '" + library + "'");
  }
  const std::vector<std::string> machineArgs(
      args.begin(), args.end() - static_cast<std::ptrdiff_t>(options.utilityArgs.size()));
  return trap::RunWatched(
      {program, options.utilityArgs, library, trap::EncodeArguments(machineArgs)});
}
