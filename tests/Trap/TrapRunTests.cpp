// The shipped program run under the trap harness, against tvrbios-emu with the same
// options and arguments: the same standard output, standard error (where --stats puts the
// machine's counts and virtual time), exit status and files, so the native platform adds
// and drops no access. Test builds with a planted fault must differ. The harness answers as
// a kernel would, and never lets a program run without the machine.
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <ostream>
#include <string>
#include <vector>

#include "ScenarioSupport.h"

namespace scenario {
namespace {

namespace fs = std::filesystem;

using Args = std::vector<std::string>;

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
  const RunResult run =
      Run(TVRBIOS_TRAP_PATH, {"--card", "100", "--card", "1f8", "--", TVR_NATIVE_SCAN_PATH});
  EXPECT_EQ(SaidBy(run),
            (Said{"Supported cards found: 2\n  bus 1, device 0\n  bus 1, device 31\n", "", 0}));
}

// Whatever goes wrong, a program the harness was given never runs on this computer's own
// ports and memory. The runs are made as an unprivileged user, so that a harness that let
// the program through could not touch hardware either.
TEST_F(TrapRun, NeverUnwatched) {
  constexpr int kNobody = 65534;
  const RunLimits nobody{.userId = geteuid() == 0 ? kNobody : -1};
  fs::permissions(m_root, fs::perms::owner_all | fs::perms::group_exec | fs::perms::others_exec);
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
  EXPECT_EQ(unloaded.status, 2);

  const RunResult statically = Run(TVRBIOS_TRAP_PATH, {TVRBIOS_STATIC_PATH, "/ds"}, nobody);
  EXPECT_EQ(statically.out, "");
  EXPECT_EQ(statically.err, "tvrbios-trap: '" + std::string(TVRBIOS_STATIC_PATH) +
                                "' is linked statically: the library cannot go into it\n");
  EXPECT_EQ(statically.status, 2);
}

TEST_F(TrapRun, BadOptionsRunNothing) {
  for (const Args& args : {Args{"--card", "100,flash=m25p20", TVRBIOS_PATH, "/o", "a.bin"},
                           Args{"--stats"}, Args{"--", "no-such-program", "/o", "a.bin"}}) {
    const RunResult run = Run(TVRBIOS_TRAP_PATH, args);
    EXPECT_EQ(run.out, "");
    EXPECT_EQ(run.err.rfind("tvrbios-trap: ", 0), 0u) << run.err;
    EXPECT_EQ(run.status, 2);
    EXPECT_FALSE(Exists("a.bin"));
  }
}

}  // namespace
}  // namespace scenario
