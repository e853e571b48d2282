// Choosing and listing cards, who may run the utility, what command lines it takes, the
// emulator's own options. The native program runs under the trap harness (tests/Trap).
#include <string>
#include <vector>

#include "CaseNames.h"
#include "ScenarioSupport.h"

namespace scenario {
namespace {

constexpr const char* kNoDevice =
    "ERROR! No Tavrin graphics hardware supported by this\n"
    "       software was detected in your system.\n\n";
constexpr const char* kNotRoot = "\nError! You need root access to run this application.\n\n\n";
constexpr const char* kNoParameters = "Error! Invalid command line (No parameters).\n\n\n";
constexpr const char* kScanHeading = "Device  Model\n------  -----\n\n";

class Session : public ScenarioTest {};

TEST_F(Session, ScanWithOneCardListsTheReportedCard) {
  const RunResult run = Emu({"/scan"});
  EXPECT_EQ(run.out, kBanner + CardReport{}.Text() + kScanHeading + "100     " + kLumivaneModel +
                         ", #TS05A00017\n\n");
  EXPECT_EQ(run.err, "");
  EXPECT_EQ(run.status, 1);
}

TEST_F(Session, ScanWithSeveralCards) {
  emu::SampleBiosOptions z;
  z.deviceId = DEVID_Z_SERIES;
  z.serialNumber = "ABCDEFGHIJKLMNOP";  // fills its field, no terminator
  Write("z.bin", emu::BuildSampleBios(z));
  emu::SampleBiosOptions broken;
  broken.breakPinsChecksum = true;
  Write("broken.bin", emu::BuildSampleBios(broken));
  const std::string cards = std::string(kScanHeading) + "100     " + kLumivaneModel +
                            ", #TS05A00017\n" +
                            "208     Tavrin Z310/Z410/Tetra card, #ABCDEFGHIJKLMNOP\n";
  const std::vector<std::string> machine{"--card", "100",
                                         "--card", "208,model=z-series,image=z.bin",
                                         "--card", "180,subsys=90011F2E",
                                         "--card", "300,image=broken.bin"};

  // The last card listed has no readable PInS: the run ends with its code.
  std::vector<std::string> args = machine;
  args.push_back("/scan");
  const RunResult run = Emu(args);
  EXPECT_EQ(run.out,
            kBanner + CardReport{}.Text() + cards + "300     " + kLumivaneModel + ", #Unknown\n\n");
  EXPECT_EQ(run.err, "");
  EXPECT_EQ(run.status, 0);

  // Without it the scan succeeds.
  args.erase(args.end() - 3, args.end() - 1);
  const RunResult good = Emu(args);
  EXPECT_EQ(good.out, kBanner + CardReport{}.Text() + cards + "\n");
  EXPECT_EQ(good.status, 1);
}

// A card left out by its subsystem is reached only through /dev.
TEST_F(Session, DevMovesTheSessionBeforeTheReport) {
  Write("z.bin", emu::BuildSampleBios([] {
          emu::SampleBiosOptions z;
          z.deviceId = DEVID_Z_SERIES;
          return z;
        }()));
  const RunResult run =
      Emu({"--card", "100", "--card", "208,model=z-series,image=z.bin,subsys=90011F2E", "/dev",
           "208", "/o", "z-old.bin"});
  CardReport report;
  report.model = "Tavrin Z310/Z410/Tetra card";
  report.bus = 2;
  report.device = 1;
  EXPECT_EQ(run.out, kBanner + report.Text() + FileCreated("z-old.bin"));
  EXPECT_EQ(run.status, 1);
  EXPECT_EQ(Read("z-old.bin"), Read("z.bin"));
}

TEST_F(Session, DevToTheCurrentCardOpensNothingAgain) {
  const RunResult plain = Emu({"--stats", "/ds"});
  const RunResult again = Emu({"--stats", "/dev", "100", "/ds"});
  EXPECT_EQ(again.out, plain.out);
  EXPECT_EQ(again.status, 1);
  // The same accesses and virtual time: the card was read once.
  EXPECT_NE(plain.err.find("virtual time: "), std::string::npos);
  EXPECT_EQ(again.err, plain.err);
}

TEST_F(Session, DevToAnEmptyLocationExecutesNothing) {
  const RunResult run = Emu({"/dev", "300", "/o", "old.bin"});
  EXPECT_EQ(run.out, kBanner);
  EXPECT_EQ(run.err, "ERROR! Graphics hardware information couldn't be obtained. (#10001)\n\n");
  EXPECT_EQ(run.status, 0);
  EXPECT_FALSE(Exists("old.bin"));
}

TEST_F(Session, CardLeftOutByItsSubsystemIsNoCard) {
  const RunResult alone = Emu({"--card", "100,subsys=90011F2E", "/ds"});
  EXPECT_EQ(alone.out, kBanner);
  EXPECT_EQ(alone.err, kNoDevice);
  EXPECT_EQ(alone.status, 0);
}

TEST_F(Session, OnlyRootMayRunTheUtility) {
  const RunResult run = Emu({"--uid", "1000", "/o", "old.bin"});
  EXPECT_EQ(run.out, kNotRoot);
  EXPECT_EQ(run.err, "");
  EXPECT_EQ(run.status, 0);
  EXPECT_FALSE(Exists("old.bin"));
}

TEST_F(Session, ArgumentsOf255CharactersButNot256) {
  // A run of blanks inside one argument separates like a single blank.
  const std::string padding(255 - std::string("/o  old.bin").size(), ' ');
  const RunResult over = Emu({"/o", padding + " ", "old.bin"});
  EXPECT_EQ(over.out, std::string(kBanner) + kNoParameters);
  EXPECT_EQ(over.err, "");
  EXPECT_EQ(over.status, 0);
  EXPECT_FALSE(Exists("old.bin"));

  const RunResult fits = Emu({"/o", padding, "old.bin"});
  EXPECT_EQ(fits.out, kBanner + CardReport{}.Text() + FileCreated("old.bin"));
  EXPECT_EQ(fits.status, 1);
  EXPECT_TRUE(Exists("old.bin"));
}

class InvalidCommandLine : public ScenarioTest,
                           public ::testing::WithParamInterface<std::vector<std::string>> {};

TEST_P(InvalidCommandLine, RefusedBeforeTheReport) {
  const RunResult run = Emu(GetParam());
  EXPECT_EQ(run.out, kBanner);
  EXPECT_EQ(run.err, kInvalidCmdLine);
  EXPECT_EQ(run.status, 0);
}

INSTANTIATE_TEST_SUITE_P(
    Lines, InvalidCommandLine,
    ::testing::Values(std::vector<std::string>{}, std::vector<std::string>{"/x"},
                      std::vector<std::string>{"/o"}, std::vector<std::string>{"/o", "/ds"},
                      std::vector<std::string>{"/i", "./x/../new.bin", "/o", "-b.bin"},
                      std::vector<std::string>{"/dev", "0x100"},
                      std::vector<std::string>{"/tvout", "secam"},
                      std::vector<std::string>{"/o", "a.bin", "-O", "b.bin"},
                      std::vector<std::string>{"/dev", "100", "/i", "a.bin", "/o", "b.bin", "x"},
                      std::vector<std::string>{"/ds", "/scan", "/i", "a.bin", "/dmcs", "m.bin"},
                      std::vector<std::string>{"/o", std::string(64, 'a')}),
    [](const ::testing::TestParamInfo<std::vector<std::string>>& info) {
      std::string line;
      for (const std::string& arg : info.param) {
        line += arg + " ";
      }
      return testnames::CaseName(line);
    });

TEST_F(Session, EmulatorRefusesBadOptionsAndRunsNothing) {
  for (const auto& args : {std::vector<std::string>{"--card", "100,flash=m25p20", "/o", "a.bin"},
                           std::vector<std::string>{"--date", "2026-02-30", "/o", "a.bin"},
                           std::vector<std::string>{"--colour", "/o", "a.bin"}}) {
    const RunResult run = Run(TVRBIOS_EMU_PATH, args);
    EXPECT_EQ(run.out, "");
    EXPECT_EQ(run.err.rfind("tvrbios-emu: ", 0), 0u) << run.err;
    EXPECT_EQ(run.err.find('\n'), run.err.size() - 1) << run.err;
    EXPECT_EQ(run.status, 2);
    EXPECT_FALSE(Exists("a.bin"));
  }
}

TEST_F(Session, EmulatorSavesTheSampleBiosOfAModel) {
  const RunResult run = Run(TVRBIOS_EMU_PATH, {"--save-sample-bios", "z.bin,model=z-series"});
  EXPECT_EQ(run.out, "");
  EXPECT_EQ(run.err, "");
  EXPECT_EQ(run.status, 0);
  const emu::SampleBiosOptions saved = emu::NewerSampleBios(DEVID_Z_SERIES);
  EXPECT_EQ(Read("z.bin"), emu::BuildSampleBios(saved));
  const emu::SampleBiosOptions onTheCard;
  EXPECT_GT(saved.versionByte, onTheCard.versionByte) << "programming it shows a change";
}

}  // namespace
}  // namespace scenario
