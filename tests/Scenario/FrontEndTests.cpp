// The front end's own parts: joining the arguments, and the emulator's option parser and
// machine.
#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

#include "Builder.h"
#include "FrontEnd.h"
#include "UxLinCore.h"

namespace {

bool Join(std::vector<std::string> args, std::string& joined, std::size_t capacity = 256) {
  std::vector<char*> argv{const_cast<char*>("tvrbios")};
  for (std::string& arg : args) {
    argv.push_back(arg.data());
  }
  std::vector<char> buffer(capacity, 'x');
  const bool ok = ArgvToStr(static_cast<int>(argv.size()), argv.data(), buffer.data(), capacity);
  joined = buffer.data();
  return ok;
}

// Single blanks between the arguments, nothing else changed; at most 255 characters.
TEST(ArgumentJoin, SingleBlanksAndAtMost255Characters) {
  std::string joined;
  ASSERT_TRUE(Join({"/I", "New File.bin", "/o", ""}, joined));
  EXPECT_EQ(joined, "/I New File.bin /o ");
  ASSERT_TRUE(Join({}, joined));
  EXPECT_EQ(joined, "");
  const std::string first(200, 'a');
  EXPECT_TRUE(Join({first, std::string(54, 'b')}, joined));
  EXPECT_EQ(joined.size(), 255u);
  EXPECT_FALSE(Join({first, std::string(55, 'b')}, joined));
  EXPECT_FALSE(Join({std::string(256, 'a')}, joined));
  EXPECT_TRUE(Join({"ab"}, joined, 3));
  EXPECT_FALSE(Join({"ab", ""}, joined, 3));
}

class EmulatorOptions : public ::testing::Test {
 protected:
  bool Parse(const std::vector<std::string>& args) {
    return emu::ParseFrontEndOptions(args, m_options, m_error);
  }
  emu::FrontEndOptions m_options;
  std::string m_error;
};

TEST_F(EmulatorOptions, CardKeys) {
  ASSERT_TRUE(
      Parse({"--card",
             "1a8,model=z-series,vendor=0x1234,subsys=90011F2E,flash=sst25vf010,"
             "image=c.bin,cfg40=0x0C000000,fault=stuck-busy,fault=corrupt-pass=2,"
             "timing=max,status=0",
             "--card", "200,model=lumivane-b,devid=0A12", "--bus-costs", "900,300,20", "/scan"}));
  ASSERT_EQ(m_options.cards.size(), 2u);
  const emu::CardOptions& first = m_options.cards[0].options;
  EXPECT_EQ(m_options.cards[0].location, 0x1A8u);
  EXPECT_EQ(first.deviceId, DEVID_Z_SERIES);
  EXPECT_EQ(first.vendorId, 0x1234);
  EXPECT_EQ(first.subsystemVendorId, 0x1F2E);
  EXPECT_EQ(first.subsystemId, 0x9001);
  EXPECT_EQ(first.part, emu::FlashPart::Sst25vf010);
  EXPECT_EQ(m_options.cards[0].imageFile, "c.bin");
  EXPECT_EQ(first.biosWord, 0x0C000000u);
  EXPECT_TRUE(first.faults.stuckBusy);
  EXPECT_EQ(first.faults.corruptPasses, 2u);
  EXPECT_EQ(first.timing, emu::FlashTiming::Max);
  EXPECT_EQ(first.flashStatus, std::optional<std::uint8_t>(0));
  EXPECT_EQ(m_options.cards[1].options.deviceId, 0x0A12);
  EXPECT_EQ(m_options.cards[1].options.part, emu::FlashPart::M25p10);
  EXPECT_EQ(m_options.cards[1].options.timing, emu::FlashTiming::Typical);
  EXPECT_FALSE(m_options.cards[1].options.flashStatus) << "a card in the field";
  EXPECT_EQ(m_options.costs.portNs, 900u);
  EXPECT_EQ(m_options.costs.deviceReadNs, 300u);
  EXPECT_EQ(m_options.costs.deviceWriteNs, 20u);
}

// Trace windows name their cards; what follows "--" is the utility's.
TEST_F(EmulatorOptions, UserDateStatsTracesAndTheEndOfTheOptions) {
  ASSERT_TRUE(Parse({"--uid", "1000", "--date", "2024-02-29", "--stats", "--vcd",
                     "a.vcd,skip=5,keep=2,card=208", "--card", "100", "--card", "208", "--vcd",
                     "b.vcd,last=3", "--help", "--version", "--", "--card"}));
  EXPECT_EQ(m_options.uid, 1000u);
  ASSERT_TRUE(m_options.date);
  EXPECT_EQ(m_options.date->tm_year, 124);
  EXPECT_EQ(m_options.date->tm_mon, 1);
  EXPECT_EQ(m_options.date->tm_mday, 29);
  EXPECT_TRUE(m_options.stats);
  EXPECT_EQ(m_options.utilityArgs, std::vector<std::string>{"--card"});
  ASSERT_EQ(m_options.traces.size(), 2u);
  EXPECT_EQ(m_options.traces[0].file, "a.vcd");
  EXPECT_EQ(m_options.traces[0].window.skip, 5u);
  EXPECT_EQ(m_options.traces[0].window.keep, 2u);
  EXPECT_EQ(m_options.traces[0].location, 0x208u);
  EXPECT_EQ(m_options.traces[1].window.last, 3u);
  EXPECT_FALSE(m_options.traces[1].location) << "the first card";
  EXPECT_TRUE(m_options.help);
  EXPECT_TRUE(m_options.version);
}

TEST_F(EmulatorOptions, BadOptionsAndValuesAreRefusedWithAReason) {
  const std::vector<std::vector<std::string>> refused{
      {"--cards", "100"},
      {"--card"},
      {"--card", "10000"},
      {"--card", "1g0"},
      {"--card", "100,model=lumivane-c"},
      {"--card", "100,devid=10000"},
      {"--card", "100,flash=m25p20"},
      {"--card", "100,image="},
      {"--card", "100,fault=melt"},
      {"--card", "100,fault=power-cut"},
      {"--card", "100,colour=red"},
      {"--card", "100,timing=slow"},
      {"--card", "100,status=100"},
      {"--bus-costs", "1,2"},
      {"--bus-costs", "1,2,x"},
      {"--refuse", "mmap=ENOSYS"},
      {"--card", "100", "--card", "0x100"},
      {"--uid", "-1"},
      {"--date", "2023-02-29"},
      {"--date", "2024-13-01"},
      {"--date", "24-01-01"},
      {"--save-sample-bios", ",model=z-series"},
      {"--save-sample-bios", "a.bin,model=x"},
      {"--vcd", ",keep=1"},
      {"--vcd", "a.vcd,keep=0"},
      {"--vcd", "a.vcd,last=2,skip=1"},
      {"--vcd", "a.vcd,card=208"},
      {"--vcd", "a.vcd,from=3"},
  };
  for (const auto& args : refused) {
    SCOPED_TRACE(args[0] + (args.size() > 1 ? " " + args[1] : ""));
    m_error.clear();
    EXPECT_FALSE(Parse(args));
    EXPECT_FALSE(m_error.empty());
    EXPECT_EQ(m_error.find('\n'), std::string::npos);
  }
}

// The user and the date reach the machine as every run shows.
TEST_F(EmulatorOptions, MachineHoldsTheCardsWhereTheOptionsPutThem) {
  ASSERT_TRUE(Parse({"--card", "108,subsys=12345678", "--card", "209,model=z-series"}));
  const std::unique_ptr<emu::Machine> machine = emu::BuildMachine(m_options).machine;
  ASSERT_TRUE(machine->RequestIoPrivilege());
  // Configuration mechanism #1: bus 1 device 1, then bus 2 device 1 function 1.
  machine->PortWrite(0xCF8, 4, 0x80010800);
  EXPECT_EQ(machine->PortRead(0xCFC, 4), 0x0A101F2Eu);
  machine->PortWrite(0xCF8, 4, 0x80010800 | 0x2C);
  EXPECT_EQ(machine->PortRead(0xCFC, 4), 0x12345678u);
  machine->PortWrite(0xCF8, 4, 0x80020900);
  EXPECT_EQ(machine->PortRead(0xCFC, 4), 0x0B301F2Eu);
  machine->PortWrite(0xCF8, 4, 0x80010000);
  EXPECT_EQ(machine->PortRead(0xCFC, 4), 0xFFFFFFFFu);
}

TEST(EmulatorStats, VirtualTimeAndAccessCounts) {
  emu::Machine machine;
  machine.Clock().Advance(3000000123);
  ASSERT_TRUE(machine.RequestIoPrivilege());
  machine.PortWrite(0x43, 1, 0xB0);
  machine.PortRead(0x61, 1);
  const std::string stats = emu::FormatStats(machine);
  EXPECT_EQ(stats.substr(0, 28), "virtual time: 3.000002123 s\n");
  EXPECT_NE(stats.find("port reads: 1\nport writes: 1\ndevice reads: 0\ndevice writes: 0\n"),
            std::string::npos);
}

}  // namespace
