// Choosing and listing cards, who may run the utility, what command lines it takes, the
// emulator's own options. The native program runs under the trap harness (tests/Trap).
#include <string>
#include <utility>
#include <vector>

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

// Alone, or with others (one left out by its subsystem, one whose PInS cannot be read).
TEST_F(Session, ScanListsTheCards) {
  const std::string report = kBanner + CardReport{}.Text();
  const std::string first =
      std::string(kScanHeading) + "100     " + kLumivaneModel + ", #TS05A00017\n";
  EXPECT_EQ(SaidBy(Emu({"/scan"})), (Said{report + first + "\n", "", 1}));

  // The serial number fills its field, no terminator.
  Write("z.bin",
        emu::BuildSampleBios({.deviceId = DEVID_Z_SERIES, .serialNumber = "ABCDEFGHIJKLMNOP"}));
  Write("broken.bin", emu::BuildSampleBios({.breakPinsChecksum = true}));
  const std::string cards = first + "208     Tavrin Z310/Z410/Tetra card, #ABCDEFGHIJKLMNOP\n";
  std::vector<std::string> args{"--card", "100",
                                "--card", "208,model=z-series,image=z.bin",
                                "--card", "180,subsys=90011F2E",
                                "--card", "300,image=broken.bin",
                                "/scan"};
  // The last card listed has no readable PInS: the run ends with its code.
  const std::string unknown = "300     " + std::string(kLumivaneModel) + ", #Unknown\n\n";
  EXPECT_EQ(SaidBy(Emu(args)), (Said{report + cards + unknown, "", 0}));
  // Without it the scan succeeds.
  args.erase(args.end() - 3, args.end() - 1);
  EXPECT_EQ(SaidBy(Emu(args)), (Said{report + cards + "\n", "", 1}));
}

// A card left out by its subsystem is reached only through /dev; /dev to the current card
// opens nothing again.
TEST_F(Session, DevMovesTheSessionBeforeTheReportOrOpensNothingAgain) {
  Write("z.bin", emu::BuildSampleBios({.deviceId = DEVID_Z_SERIES}));
  const RunResult run =
      Emu({"--card", "100", "--card", "208,model=z-series,image=z.bin,subsys=90011F2E", "/dev",
           "208", "/o", "z-old.bin"});
  const CardReport report{.model = "Tavrin Z310/Z410/Tetra card", .bus = 2, .device = 1};
  EXPECT_EQ(SaidBy(run), (Said{kBanner + report.Text() + FileCreated("z-old.bin"), "", 1}));
  EXPECT_EQ(Read("z-old.bin"), Read("z.bin"));

  const RunResult plain = Emu({"--stats", "/ds"});
  const RunResult again = Emu({"--stats", "/dev", "100", "/ds"});
  EXPECT_EQ(again.out, plain.out);
  EXPECT_EQ(again.status, 1);
  // The same accesses and virtual time: the card was read once.
  EXPECT_NE(plain.err.find("virtual time: "), std::string::npos);
  EXPECT_EQ(again.err, plain.err);
}

// Each refused before anything is run; a run of blanks inside one argument separates like a
// single blank, so that a line of 255 characters but one blank more has no parameters.
TEST_F(Session, RefusedRunsRunNothing) {
  const std::string padding(255 - std::string("/o  old.bin").size(), ' ');
  const Said invalid{kBanner, kInvalidCmdLine, 0};
  const std::vector<std::pair<std::vector<std::string>, Said>> refused{
      {{"/dev", "300", "/o", "old.bin"},
       {kBanner, "ERROR! Graphics hardware information couldn't be obtained. (#10001)\n\n", 0}},
      {{"--card", "100,subsys=90011F2E", "/ds"}, {kBanner, kNoDevice, 0}},
      {{"--uid", "1000", "/o", "old.bin"}, {kNotRoot, "", 0}},
      {{"/o", padding + " ", "old.bin"}, {kBanner + std::string(kNoParameters), "", 0}},
      {{}, invalid},
      {{"/x"}, invalid},
      {{"/o"}, invalid},
      {{"/o", "/ds"}, invalid},
      {{"/i", "./x/../new.bin", "/o", "-b.bin"}, invalid},
      {{"/dev", "0x100"}, invalid},
      {{"/tvout", "secam"}, invalid},
      {{"/o", "a.bin", "-O", "b.bin"}, invalid},
      {{"/dev", "100", "/i", "a.bin", "/o", "b.bin", "x"}, invalid},
      {{"/ds", "/scan", "/i", "a.bin", "/dmcs", "m.bin"}, invalid},
      {{"/o", std::string(64, 'a')}, invalid}};
  for (const auto& [args, said] : refused) {
    SCOPED_TRACE(::testing::PrintToString(args));
    EXPECT_EQ(SaidBy(Emu(args)), said);
    EXPECT_FALSE(Exists("old.bin"));
  }
  EXPECT_EQ(SaidBy(Emu({"/o", padding, "old.bin"})),
            (Said{kBanner + CardReport{}.Text() + FileCreated("old.bin"), "", 1}));
  EXPECT_TRUE(Exists("old.bin"));
}

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
  EXPECT_EQ(SaidBy(Run(TVRBIOS_EMU_PATH, {"--save-sample-bios", "z.bin,model=z-series"})),
            (Said{"", "", 0}));
  EXPECT_EQ(Read("z.bin"), emu::BuildSampleBios(emu::NewerSampleBios(DEVID_Z_SERIES)));
}

}  // namespace
}  // namespace scenario
