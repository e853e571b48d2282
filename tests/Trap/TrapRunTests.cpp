// The shipped program run under the trap harness, against tvrbios-emu with the same
// options and arguments: the same standard output, standard error (where --stats puts the
// machine's counts and virtual time), exit status and files, so the native platform adds
// and drops no access. Test builds with a planted fault must differ. Whatever route a
// program takes to this computer's ports or memory device (before the harness's library
// runs, after it, or around the calls it answers), the run ends with a line and never
// reaches the hardware; what the library answers, it answers as a kernel does; accesses in
// the program's own signal handlers are emulated like any other.
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <filesystem>
#include <ostream>
#include <string>
#include <vector>

#include "ScenarioSupport.h"

namespace scenario {
namespace {

namespace fs = std::filesystem;
using Args = std::vector<std::string>;

constexpr int kRefusedStatus = 2;
constexpr int kTrapFailureStatus = 3;

const Args kOneCard{"--card", "100,image=a.bin"};

struct Case {
  const char* name;
  Args options;
  Args args;
};

void PrintTo(const Case& c, std::ostream* out) { *out << c.name; }

class TrapRun : public ScenarioTest {
 protected:
  void SetUp() override {
    ScenarioTest::SetUp();
    Write("new.bin", NewBiosFile());
  }

  RunResult RunHarness(const Args& args, const RunLimits& limits = {}) {
    return Run(TVRBIOS_TRAP_PATH, args, limits);
  }

  // Runs as an unprivileged user (when the test runs as root) that may enter the test's
  // folder, so that a harness that let a program through could not touch hardware either.
  RunLimits Unprivileged() {
    constexpr int kNobody = 65534;
    fs::permissions(m_root, fs::perms::owner_all | fs::perms::group_exec | fs::perms::others_exec);
    return {.userId = geteuid() == 0 ? kNobody : -1};
  }

  // Every file of the working directory, by name.
  std::vector<std::pair<std::string, Bytes>> Files() const {
    std::vector<std::pair<std::string, Bytes>> files;
    for (const fs::directory_entry& entry : fs::directory_iterator(m_work)) {
      const std::string name = entry.path().filename().string();
      files.emplace_back(name, Read(name));
    }
    std::sort(files.begin(), files.end());
    return files;
  }

  struct Outcome {
    RunResult run;
    std::vector<std::pair<std::string, Bytes>> files;
  };

  // Runs the program on the emulator, or under the harness, from the same starting files.
  Outcome Under(const std::string& runner, const std::string& program, const Args& options,
                const Args& args) {
    const fs::path start = m_root + "/start";
    if (!fs::exists(start)) {
      fs::copy(m_work, start);
    } else {
      fs::remove_all(m_work);
      fs::copy(start, m_work);
    }
    Args all{"--date", "2005-06-30", "--stats"};
    all.insert(all.end(), options.begin(), options.end());
    if (!program.empty()) {
      all.push_back("--");
      all.push_back(program);
    }
    all.insert(all.end(), args.begin(), args.end());
    Outcome outcome;
    outcome.run = Run(runner, all);
    outcome.files = Files();
    return outcome;
  }

  Outcome Emulated(const Args& options, const Args& args) {
    return Under(TVRBIOS_EMU_PATH, "", options, args);
  }
  Outcome Trapped(const std::string& program, const Args& options, const Args& args) {
    return Under(TVRBIOS_TRAP_PATH, program, options, args);
  }
};

class SameAsEmulator : public TrapRun, public ::testing::WithParamInterface<Case> {};

TEST_P(SameAsEmulator, StreamsStatusFilesAndCounts) {
  const Case& c = GetParam();
  const Outcome emulated = Emulated(c.options, c.args);
  const Outcome trapped = Trapped(TVRBIOS_PATH, c.options, c.args);
  EXPECT_EQ(SaidBy(trapped.run), SaidBy(emulated.run));
  EXPECT_TRUE(trapped.files == emulated.files) << "the files differ";
  // Not a comparison of two empty runs: the machine was used.
  EXPECT_NE(emulated.run.err.find("port reads: "), std::string::npos) << emulated.run.err;
}

// A card that answers is read whole when the session takes it: 5.5 million trapped accesses.
// One run pays that (the update: the read, the backup's read, the erase, every page, the
// verification, the protections); the others are short because no flash part answers.
INSTANTIATE_TEST_SUITE_P(
    Runs, SameAsEmulator,
    ::testing::Values(Case{"WholeUpdate", kOneCard, {"/ds", "/o", "saved.bin", "/i", "new.bin"}},
                      Case{"ScanOfTwoMuteCards",
                           {"--card", "100,fault=no-flash", "--card",
                            "200,model=z-series,flash=sst25vf010,fault=no-flash"},
                           {"/scan"}},
                      Case{"NotRoot", Args{"--uid", "1000"}, {"/ds"}},
                      Case{"NoFlashAnswers", {"--card", "100,fault=no-flash"}, {"/ds"}},
                      Case{"PortsRefused", {"--refuse", "iopl=EPERM"}, {"/ds"}},
                      Case{"NoPortIo", {"--refuse", "iopl=ENOSYS"}, {"/ds"}},
                      Case{"ApertureRefused", {"--refuse", "mmap=EPERM"}, {"/ds"}}),
    [](const ::testing::TestParamInfo<Case>& info) { return std::string(info.param.name); });

TEST_F(TrapRun, PlantedFaultsOfTheNativeProgramShow) {
  const struct {
    const char* program;
    Args options;
  } planted[] = {
      {TVRBIOS_FAULT_PORT_WIDTH_PATH, kOneCard},
      {TVRBIOS_FAULT_REGISTER_WIDTH_PATH, kOneCard},
      {TVRBIOS_FAULT_NO_COMMAND_RESTORE_PATH, {"--card", "100,fault=no-flash"}},
  };
  for (const auto& fault : planted) {
    const Outcome emulated = Emulated(fault.options, {"/ds"});
    const Outcome trapped = Trapped(fault.program, fault.options, {"/ds"});
    // The planted program ran on the machine, and something shows.
    EXPECT_NE(trapped.run.err.find("port reads: "), std::string::npos) << trapped.run.err;
    EXPECT_TRUE(SaidBy(trapped.run) != SaidBy(emulated.run) || trapped.files != emulated.files)
        << fault.program << " looks like the shipped program";
  }
}

TEST_F(TrapRun, NativeScanFindsTheMachinesCards) {
  const RunResult run = RunHarness({"--card", "100", "--card", "1f8", "--", TVR_NATIVE_SCAN_PATH});
  EXPECT_EQ(SaidBy(run),
            (Said{"Supported cards found: 2\n  bus 1, device 0\n  bus 1, device 31\n", "", 0}));
}

// Whatever goes wrong, a program the harness was given never runs on this computer's own
// ports and memory.
TEST_F(TrapRun, NeverUnwatched) {
  const RunLimits nobody = Unprivileged();
  const std::string blank = m_root + "/with blank: and colon";
  const std::string lure = m_root + "/lure";
  for (const std::string& folder : {blank, lure}) {
    fs::create_directory(folder);
    fs::copy_file(TVRBIOS_TRAP_PATH, folder + "/tvrbios-trap");
  }
  fs::copy_file(fs::path(TVRBIOS_TRAP_PATH).parent_path() / "libtvrbios-trap.so",
                blank + "/libtvrbios-trap.so");
  WriteText("not-a-library", "not a library\n");
  fs::copy_file(Path("not-a-library"), lure + "/libtvrbios-trap.so");

  // Quick, and only a trapped program is root.
  const RunResult emulated = Run(TVRBIOS_EMU_PATH, {"--refuse", "iopl=EPERM", "/ds"});
  const RunResult moved =
      Run(blank + "/tvrbios-trap", {"--refuse", "iopl=EPERM", "--", TVRBIOS_PATH, "/ds"}, nobody);
  EXPECT_EQ(SaidBy(moved), SaidBy(emulated));

  const RunResult unloaded = Run(lure + "/tvrbios-trap", {TVRBIOS_PATH, "/ds"}, nobody);
  EXPECT_EQ(unloaded.out, "");
  const std::string stopped = "tvrbios-trap: the library did not go into '" +
                              std::string(TVRBIOS_PATH) +
                              "'; it was stopped before its first instruction\n";
  EXPECT_TRUE(unloaded.err.ends_with(stopped)) << unloaded.err;
  EXPECT_EQ(unloaded.status, kRefusedStatus);

  const RunResult statically = RunHarness({TVRBIOS_STATIC_PATH, "/ds"}, nobody);
  EXPECT_EQ(statically.out, "");
  EXPECT_EQ(statically.err, "tvrbios-trap: '" + std::string(TVRBIOS_STATIC_PATH) +
                                "' is linked statically: the library cannot go into it\n");
  EXPECT_EQ(statically.status, kRefusedStatus);
}

TEST_F(TrapRun, BadOptionsRunNothing) {
  for (const Args& args : {Args{"--card", "100,flash=m25p20", TVRBIOS_PATH, "/o", "a.bin"},
                           Args{"--stats"}, Args{"--", "no-such-program", "/o", "a.bin"}}) {
    const RunResult run = RunHarness(args);
    EXPECT_EQ(run.out, "");
    EXPECT_EQ(run.err.rfind("tvrbios-trap: ", 0), 0u) << run.err;
    EXPECT_EQ(run.status, kRefusedStatus);
    EXPECT_FALSE(Exists("a.bin"));
  }
}

std::string Named(const char* program) { return "'" + std::string(program) + "'"; }

struct Route {
  const char* program;
  const char* arg;    // the route the program takes, or nullptr
  const char* early;  // the route of the library the program needs, or nullptr
  int status;
  std::string line;
};

using TrapDoors = TrapRun;

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
  const RunLimits nobody = Unprivileged();
  for (const Route& each : routes) {
    RunLimits limits = nobody;
    if (each.early != nullptr) {
      limits.environment.push_back(std::string("TVR_TRAP_EARLY=") + each.early);
    }
    Args args{"--", each.program};
    if (each.arg != nullptr) {
      args.push_back(each.arg);
    }
    const RunResult run = RunHarness(args, limits);
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
    const RunResult run = RunHarness(args);
    EXPECT_EQ(run.status, call.status) << call.what << ": " << run.err;
    const std::string& shown = call.status == 0 ? run.out : run.err;
    EXPECT_EQ(shown.rfind(call.shown, 0), 0u) << call.what << ": " << shown;
    EXPECT_NE(shown.find(call.within), std::string::npos) << call.what << ": " << shown;
  }
}

TEST_F(TrapDoors, FaultsInSignalHandlers) {
  EXPECT_EQ(SaidBy(RunHarness({TVR_TRAP_ROUTE_PATH, "alarm"})),
            (Said{"alarms read ports\n", "", 0}));
  EXPECT_EQ(SaidBy(RunHarness({TVR_TRAP_ROUTE_PATH, "default"})),
            (Said{"",
                  "tvrbios-trap: the program changes the handling of SIGSEGV, which the harness "
                  "needs for itself\n",
                  kTrapFailureStatus}));

  const RunResult raised = RunHarness({TVR_TRAP_ROUTE_PATH, "raise"});
  EXPECT_EQ(
      raised.err.rfind("tvrbios-trap: SIGSEGV with code -6, which no access explains, at 0x", 0),
      0u)
      << raised.err;
  EXPECT_EQ(raised.status, kTrapFailureStatus);
}

TEST_F(TrapDoors, HelpAndPageAreTheHarnesss) {
  const RunResult help = RunHarness({"--help"});
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
