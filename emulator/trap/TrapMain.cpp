// tvrbios-trap: runs an unchanged program, normally the native tvrbios, on the emulated
// machine that tvrbios-emu builds from the same options. The program keeps its own
// standard streams and exit status; a preloaded library answers its calls to the system
// and emulates its port instructions and its accesses to the card's registers. The program
// never runs without it: the harness lets it start only on the library's word.
#include <limits.h>
#include <unistd.h>

#include <array>
#include <cstdlib>
#include <optional>
#include <string>
#include <vector>

#include "FrontEnd.h"
#include "TrapHandover.h"
#include "TrapLaunch.h"

namespace {

int Refuse(const std::string& reason) { return emu::Refuse(trap::kProgram, reason); }

std::string Usage() {
  return "Usage: tvrbios-trap [OPTION]... [--] PROGRAM [ARGUMENT]...\n"
         "Runs PROGRAM, unchanged (normally the native tvrbios), on the emulated machine that\n"
         "tvrbios-emu builds from the same options; the program keeps its own streams, files\n"
         "and exit status.\n"
         "\n" +
         emu::MachineOptionsHelp() +
         "\n"
         "Exit status: the program's own; 2 for a bad option or a program the harness cannot\n"
         "go into, 3 when the program does what the harness does not emulate or what would\n"
         "reach this computer's own hardware, 128 + N after signal N.\n";
}

// An audit library named in the environment would run before the library.
constexpr const char* kAuditVariable = "LD_AUDIT";

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
  if (const std::optional<int> status =
          emu::StartFrontEnd(trap::kProgram, Usage(), args, options)) {
    return *status;
  }
  if (options.utilityArgs.empty()) {
    return Refuse("no program to run");
  }
  if (std::getenv(kAuditVariable) != nullptr) {
    return Refuse(std::string(kAuditVariable) +
                  " names an audit library, code that would run before the library");
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
