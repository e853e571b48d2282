// Whatever route a program takes to this computer's ports or memory device (before the
// harness's library runs, after it, or around the calls it answers), the run ends with a
// line and never reaches the hardware; what the library answers, it answers as a kernel
// does; accesses in the program's own signal handlers are emulated like any other. The
// routes run as an unprivileged user, so that a harness that let one through could not
// touch hardware either.
#include <unistd.h>

#include <cerrno>
#include <filesystem>
#include <string>
#include <vector>

#include "ScenarioSupport.h"

namespace scenario {
namespace {

namespace fs = std::filesystem;
using Args = std::vector<std::string>;

constexpr int kRefusedStatus = 2;
constexpr int kTrapFailureStatus = 3;
constexpr int kNobody = 65534;

std::string Named(const char* program) { return "'" + std::string(program) + "'"; }

struct Route {
  const char* program;
  const char* arg;    // the route the program takes, or nullptr
  const char* early;  // the route of the library the program needs, or nullptr
  int status;
  std::string line;
};

class TrapDoors : public ScenarioTest {
 protected:
  RunResult Trapped(const Args& args, const RunLimits& limits = {}) {
    return Run(TVRBIOS_TRAP_PATH, args, limits);
  }
};

TEST_F(TrapDoors, EveryRouteToTheHardwareEndsWithALine) {
  const std::string readAsFile =
      "tvrbios-trap: the program calls read on the memory device, which the harness does not "
      "emulate\n";
  const std::string noMachine =
      "tvrbios-trap: the program asks for I/O privilege while no machine runs\n";
  const Route routes[] = {
      {TVR_TRAP_ROUTE_PATH, "ioperm", nullptr, kTrapFailureStatus,
       "tvrbios-trap: the program calls ioperm, which would reach this computer's ports\n"},
      {TVR_TRAP_ROUTE_PATH, "syscall-iopl", nullptr, kTrapFailureStatus,
       "tvrbios-trap: the program calls iopl, which would reach this computer's ports\n"},
      {TVR_TRAP_ROUTE_PATH, "slashes", nullptr, kTrapFailureStatus, readAsFile},
      {TVR_TRAP_ROUTE_PATH, "dot", nullptr, kTrapFailureStatus, readAsFile},
      {TVR_TRAP_ROUTE_PATH, "openat", nullptr, kTrapFailureStatus, readAsFile},
      {TVR_TRAP_ROUTE_PATH, "fortified", nullptr, kTrapFailureStatus, readAsFile},
      {TVR_TRAP_ROUTE_PATH, "stream", nullptr, kTrapFailureStatus,
       "tvrbios-trap: the program opens '/dev/mem' as a stream, which the harness does not "
       "emulate\n"},
      {TVR_TRAP_ROUTE_PATH, "child", nullptr, kTrapFailureStatus,
       "tvrbios-trap: the program starts another process, which would run outside the machine\n"},
      {TVR_TRAP_ROUTE_PATH, "privilege", "constructor", kTrapFailureStatus, noMachine},
      {TVR_TRAP_ROUTE_PATH, "privilege", "destructor", kTrapFailureStatus, noMachine},
      {TVR_TRAP_ROUTE_PATH, "privilege", "memory", kTrapFailureStatus,
       "tvrbios-trap: the program opens the memory device while no machine runs\n"},
      {TVR_TRAP_ROUTE_PATH, "privilege", "raw", kTrapFailureStatus,
       "tvrbios-trap: " + Named(TVR_TRAP_ROUTE_PATH) +
           " calls iopl before the library runs; it was stopped there\n"},
      {TVR_TRAP_ROUTE_PATH, "privilege", "exec", kTrapFailureStatus,
       "tvrbios-trap: " + Named(TVR_TRAP_ROUTE_PATH) +
           " runs another program before its first instruction; it was stopped there\n"},
      {TVR_TRAP_ROUTE_PATH, "privilege", "exit", kTrapFailureStatus,
       "tvrbios-trap: " + Named(TVR_TRAP_ROUTE_PATH) +
           " ended before its first instruction without the library's word\n"},
      {TVR_TRAP_PREINIT_PATH, nullptr, nullptr, kRefusedStatus,
       "tvrbios-trap: " + Named(TVR_TRAP_PREINIT_PATH) +
           " has a preinit array, code that would run before the library\n"},
      {TVR_TRAP_AUDIT_PATH, nullptr, nullptr, kRefusedStatus,
       "tvrbios-trap: " + Named(TVR_TRAP_AUDIT_PATH) +
           " names an audit library, code that would run before the library\n"},
      {TVR_TRAP_OWN_LOADER_PATH, nullptr, nullptr, kRefusedStatus,
       "tvrbios-trap: " + Named(TVR_TRAP_OWN_LOADER_PATH) +
           " names a loader other than the system's: the library cannot go into it\n"},
  };
  const RunLimits nobody{.userId = geteuid() == 0 ? kNobody : -1};
  fs::permissions(m_root, fs::perms::owner_all | fs::perms::group_exec | fs::perms::others_exec);
  for (const Route& each : routes) {
    RunLimits limits = nobody;
    if (each.early != nullptr) {
      limits.environment.push_back(std::string("TVR_TRAP_EARLY=") + each.early);
    }
    Args args{"--", each.program};
    if (each.arg != nullptr) {
      args.push_back(each.arg);
    }
    const RunResult run = Trapped(args, limits);
    const std::string what = std::string(each.program) + " " +
                             (each.arg != nullptr ? each.arg : "") + " " +
                             (each.early != nullptr ? each.early : "");
    EXPECT_EQ(run.status, each.status) << what << ": " << run.err;
    EXPECT_NE(run.err.find(each.line), std::string::npos) << what << ": " << run.err;
    EXPECT_EQ(run.out, "") << what;
  }
}

// What the harness answers as a kernel would, and what it cannot emulate: the run ends
// loudly, an instruction shown with its bytes.
TEST_F(TrapDoors, AnswersAsAKernelOrEndsLoudly) {
  const std::string bytes = ", bytes ";
  const struct {
    Args options;
    const char* what;
    std::string shown;  // how the program's output begins; a line of the harness for status 3
    int status;
    std::string within = "";  // and a piece of it
  } calls[] = {
      {Args{}, "device",
       "1:1 0 " + std::to_string(EBADF) + " " + std::to_string(EACCES) + " register read\n", 0},
      {Args{"--uid", "1000"}, "privilege",
       "0 " + std::to_string(EPERM) + " " + std::to_string(EPERM) + "\n", 0},
      {Args{"--refuse", "iopl=ENOSYS"}, "privilege",
       std::to_string(ENOSYS) + " " + std::to_string(ENOSYS) + " 0\n", 0},
      {Args{"--refuse", "open=EPERM"}, "privilege", "0 0 " + std::to_string(EPERM) + "\n", 0},
      {Args{}, "levels", std::to_string(EINVAL) + " " + std::to_string(EINVAL) + "\n", 0},
      {Args{}, "threads", "0x", 0},
      {Args{}, "read-only",
       "tvrbios-trap: the program changes the protection of an aperture to 0x1,",
       kTrapFailureStatus},
      {Args{}, "remap", "tvrbios-trap: the program remaps an aperture,", kTrapFailureStatus},
      {Args{}, "pread", "tvrbios-trap: the program calls pread on the memory device,",
       kTrapFailureStatus},
      {Args{}, "early-thread", "tvrbios-trap: port instruction without I/O privilege at 0x",
       kTrapFailureStatus},
      {Args{}, "port", "tvrbios-trap: port 0x80, which the machine does not have at 0x",
       kTrapFailureStatus, bytes},
      {Args{}, "form", "tvrbios-trap: fault in an instruction the harness does not emulate at 0x",
       kTrapFailureStatus, bytes},
      {Args{}, "outside", "tvrbios-trap: access to 0x", kTrapFailureStatus, bytes},
      // The page that stays mapped is read; the unmapped one ends the run.
      {Args{}, "partial", "tvrbios-trap: access to 0x", kTrapFailureStatus,
       " outside every aperture at 0x"},
      {Args{}, "offset",
       "tvrbios-trap: mapping at physical address 0xfffffffff0000000, beyond 32 bits\n",
       kTrapFailureStatus},
  };
  for (const auto& call : calls) {
    Args args = call.options;
    args.insert(args.end(), {"--", TVR_TRAP_ROUTE_PATH, call.what});
    const RunResult run = Trapped(args);
    EXPECT_EQ(run.status, call.status) << call.what << ": " << run.err;
    const std::string& shown = call.status == 0 ? run.out : run.err;
    EXPECT_EQ(shown.rfind(call.shown, 0), 0u) << call.what << ": " << shown;
    EXPECT_NE(shown.find(call.within), std::string::npos) << call.what << ": " << shown;
  }
}

TEST_F(TrapDoors, FaultsInSignalHandlers) {
  EXPECT_EQ(SaidBy(Trapped({TVR_TRAP_ROUTE_PATH, "alarm"})), (Said{"alarms read ports\n", "", 0}));
  EXPECT_EQ(SaidBy(Trapped({TVR_TRAP_ROUTE_PATH, "default"})),
            (Said{"",
                  "tvrbios-trap: the program changes the handling of SIGSEGV, which the harness "
                  "needs for itself\n",
                  kTrapFailureStatus}));

  const RunResult raised = Trapped({TVR_TRAP_ROUTE_PATH, "raise"});
  EXPECT_EQ(
      raised.err.rfind("tvrbios-trap: SIGSEGV with code -6, which no access explains, at 0x", 0),
      0u)
      << raised.err;
  EXPECT_EQ(raised.status, kTrapFailureStatus);
}

TEST_F(TrapDoors, HelpAndPageAreTheHarnesss) {
  const RunResult help = Trapped({"--help"});
  EXPECT_EQ(help.out.rfind("Usage: tvrbios-trap [OPTION]... [--] PROGRAM [ARGUMENT]...\n", 0), 0u)
      << help.out;
  const std::string page = FileText(TVR_TRAP_MANUAL);
  for (const char* option : {"--refuse CALL=ERROR", "--uid N", "--stats"}) {
    EXPECT_NE(help.out.find(option), std::string::npos) << option;
  }
  for (const char* refusal :
       {"\\-\\-refuse", "iopl=EPERM", "iopl=ENOSYS", "open=EPERM", "mmap=EPERM"}) {
    EXPECT_NE(page.find(refusal), std::string::npos) << refusal;
  }
}

}  // namespace
}  // namespace scenario
