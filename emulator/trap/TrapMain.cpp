// tvrbios-trap: runs an unchanged program, normally the native tvrbios, on the emulated
// machine that tvrbios-emu builds from the same options. The program keeps its own
// standard streams and exit status; a preloaded library answers its calls to the system
// and emulates its port instructions and its accesses to the card's registers.
#include <fcntl.h>
#include <limits.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <string>
#include <vector>

#include "FrontEnd.h"
#include "TrapHandover.h"

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

// The library can go only into a program of its own word size; any other program would
// run unwatched on this computer's own ports and memory.
bool SameWordSize(const std::string& program, std::string& error) {
  constexpr std::array<char, 4> kElfMagic{0x7F, 'E', 'L', 'F'};
  constexpr unsigned char kElfClass32 = 1;
  constexpr unsigned char kElfClass64 = 2;
  std::array<char, 5> header{};
  const int descriptor = open(program.c_str(), O_RDONLY);
  const bool read = descriptor >= 0 && ::read(descriptor, header.data(), header.size()) ==
                                           static_cast<ssize_t>(header.size());
  const int readError = errno;
  if (descriptor >= 0) {
    close(descriptor);
  }
  if (!read) {
    error = "cannot read '" + program + "': " + std::strerror(readError);
    return false;
  }
  const unsigned char ownClass = sizeof(void*) == 8 ? kElfClass64 : kElfClass32;
  if (std::memcmp(header.data(), kElfMagic.data(), kElfMagic.size()) != 0 ||
      static_cast<unsigned char>(header[4]) != ownClass) {
    error = "'" + program + "' is not a " + std::to_string(8 * sizeof(void*)) + "-bit program";
    return false;
  }
  return true;
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
  if (!SameWordSize(program, error)) {
    return Refuse(error);
  }
  const std::string library = LibraryPath();
  if (access(library.c_str(), R_OK) != 0) {
    return Refuse("cannot find '" + library + "'");
  }
  const std::vector<std::string> machineArgs(
      args.begin(), args.end() - static_cast<std::ptrdiff_t>(options.utilityArgs.size()));
  setenv("LD_PRELOAD", library.c_str(), 1);
  setenv(trap::kMachineVariable, trap::EncodeArguments(machineArgs).c_str(), 1);
  std::vector<char*> programArgv;
  for (std::string& arg : options.utilityArgs) {
    programArgv.push_back(arg.data());
  }
  programArgv.push_back(nullptr);
  execv(program.c_str(), programArgv.data());
  return Refuse("cannot run '" + program + "': " + std::strerror(errno));
}
