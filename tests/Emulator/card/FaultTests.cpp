// Named faults: how they are switched on by name, and what each does to a driver.
#include <gtest/gtest.h>

#include <csignal>
#include <cstring>
#include <fstream>

#include "BuildsEmulator.h"
#include "FileStores.h"
#include "FrontEndNumbers.h"
#include "ProcessEnd.h"
#include "SpiRig.h"

namespace emu::test {
namespace {

constexpr std::uint64_t kSecond = 1000 * kMs;

CardOptions WithFault(const char* name, CardOptions options = NewPart(FlashPart::At25f1024)) {
  std::string error;
  if (!ParseFault(name, options.faults, error)) {
    ADD_FAILURE() << error;
  }
  return options;
}

// Programs the whole Atmel part page by page, as one pass of an update does. The clock is
// moved past each page's programming time rather than polled, to keep the test quick.
void ProgramPass(SpiRig& rig, const Bytes& image) {
  constexpr std::size_t kPage = 256;
  constexpr std::uint64_t kPageProgramNs = 256 * 20000;
  for (std::size_t at = 0; at < image.size(); at += kPage) {
    rig.Program(static_cast<std::uint32_t>(at),
                Bytes(image.begin() + at, image.begin() + at + kPage));
    rig.clock().Advance(kPageProgramNs);
  }
  ASSERT_EQ(rig.Status(), 0x00);
}

// The flash faults below each switch theirs on by name (WithFault); here the numbers.
TEST(FaultNames, CountsSignalsAndTimesAreTakenInTheirUnits) {
  FaultSet faults;
  std::string error;
  ASSERT_TRUE(ParseFault("signal=TERM:262144", faults, error)) << error;
  EXPECT_EQ(faults.signal, SIGTERM);
  EXPECT_EQ(faults.signalAfterBytes, 262144u);
  ASSERT_TRUE(ParseFault("power-cut=0", faults, error)) << error;
  EXPECT_TRUE(faults.powerCut);
  EXPECT_EQ(faults.powerCutAfter, 0u);
  for (const auto& [time, ns] : {std::pair<const char*, std::uint64_t>{"7ns", 7},
                                 {"7us", 7000},
                                 {"1500ms", 1500000000},
                                 {"7s", 7000000000}}) {
    FaultSet timed;
    ASSERT_TRUE(ParseFault(std::string("power-cut-at=") + time, timed, error)) << time;
    EXPECT_TRUE(timed.powerCutAt);
    EXPECT_EQ(timed.powerCutAtNs, ns) << time;
  }
  EXPECT_FALSE(faults.linesBusy || faults.noFlash || faults.stuckBusy || faults.eraseHang ||
               faults.wpStuck || faults.powerCutAt || faults.corruptPasses != 0);
}

TEST(FaultNames, BadNamesAndNumbersAreRefusedWithAReason) {
  // Each reason, and the names refused for it; the name as given ends the reason.
  const std::pair<const char*, std::vector<const char*>> cases[] = {
      {"unknown fault: ", {"power-surge", "", "Lines-Busy"}},
      {"fault takes no number: ", {"no-flash=1"}},
      {"fault needs =N with a decimal count: ",
       {"corrupt-pass", "corrupt-pass=", "power-cut=-1", "power-cut=12abc",
        "power-cut=4294967296"}},
      {"fault needs =NAME:N with a signal and a count: ",
       {"signal=INT", "signal=SIGINT:1", "signal"}},
      {"fault needs =TIME, a decimal count with ns, us, ms or s: ",
       {"power-cut-at=15", "power-cut-at=ms", "power-cut-at=2m", "power-cut-at=99999999999s"}},
  };
  for (const auto& [reason, names] : cases) {
    for (const char* name : names) {
      FaultSet faults;
      faults.corruptPasses = 7;
      std::string error;
      EXPECT_FALSE(ParseFault(name, faults, error)) << name;
      EXPECT_EQ(error, reason + std::string(name));
      EXPECT_EQ(faults.corruptPasses, 7u) << name;
      EXPECT_FALSE(faults.powerCut || faults.powerCutAt || faults.noFlash) << name;
    }
  }
}

TEST(FlashFaults, LinesBusyShowsBypassSetAndKeepsSoftwareOff) {
  SpiRig rig(WithFault("lines-busy"));
  rig.Write(kLineRegister, rig.Read(kLineRegister) & ~kLineBypass);
  EXPECT_TRUE(rig.Line(kLineBypass));
  EXPECT_FALSE(rig.Take());
  // A driver that goes on regardless reaches nothing.
  rig.SetLine(kLineChipSelectN, false);
  rig.Send(kWriteEnable);
  rig.SetLine(kLineChipSelectN, true);
  EXPECT_EQ(rig.card().Flash().Status(), 0x00);
  EXPECT_TRUE(rig.Line(kLineDataOut));
}

TEST(FlashFaults, NoFlashAnswersAllOnesAndKeepsNothing) {
  for (FlashPart part : kParts) {
    SpiRig rig(WithFault("no-flash", NewPart(part)),
               FlashStore::InMemory(Bytes(kFlashCapacity, 0x00)));
    EXPECT_EQ(rig.Command({0x15}, 1), Bytes{0xFF});
    EXPECT_EQ(rig.Command({0xAB, 0, 0, 0}, 2), (Bytes{0xFF, 0xFF}));
    EXPECT_EQ(rig.ReadFlash(0, 2), (Bytes{0xFF, 0xFF}));
    rig.WriteEnable();
    EXPECT_EQ(rig.Status(), 0xFF);
    EXPECT_EQ(rig.card().Flash().Status() & kStatusWriteEnable, 0);
  }
}

TEST(FlashFaults, StuckBusyNeverClearsOnceSet) {
  SpiRig rig(WithFault("stuck-busy"), FlashStore::InMemory(Bytes(kFlashCapacity, 0x5A)));
  EXPECT_EQ(rig.Command({0x15}, 1), Bytes{0x1F}) << "idle until the first write";
  rig.WriteStatus(0x00);
  rig.clock().Advance(100 * kSecond);
  EXPECT_FALSE(rig.WaitReady(100));
  EXPECT_EQ(rig.ReadFlash(0, 1), Bytes{0xFF});
}

TEST(FlashFaults, EraseHangStaysBusyAndErasesNothing) {
  const Bytes content(kFlashCapacity, 0x5A);
  SpiRig rig(WithFault("erase-hang"), FlashStore::InMemory(content));
  rig.WriteStatus(0x00);
  EXPECT_TRUE(rig.WaitReady()) << "a status write still ends";
  rig.Erase(0x62);
  rig.clock().Advance(1000 * kSecond);
  EXPECT_EQ(rig.Status(), kStatusBusy | kStatusWriteEnable) << "the latch holds while it hangs";
  EXPECT_EQ(rig.card().Flash().Store().Copy(), content);
}

TEST(FlashFaults, WpStuckKeepsALockedPartLocked) {
  SpiRig rig(WithFault("wp-stuck", {.part = FlashPart::M25p10, .flashStatus = 0x8C}));
  const std::uint32_t powerUp = rig.Read(kProtectRegister);
  rig.Write(kProtectRegister, 0xFFFFFFFF);
  EXPECT_EQ(rig.Read(kProtectRegister), powerUp);
  rig.SetWritable(true);
  rig.WriteStatus(0x80);
  ASSERT_TRUE(rig.WaitReady());
  EXPECT_EQ(rig.Status(), 0x8C | kStatusWriteEnable) << "the pin stayed low";
}

TEST(FlashFaults, CorruptPassesLeaveOneBitSetThatTheNextPassMends) {
  const Bytes image = Pattern();
  // The first byte with a bit to clear: 0x00 at 0, which keeps bit 0 on both passes.
  Bytes corrupted = image;
  corrupted[0] = 0x01;
  SpiRig rig(WithFault("corrupt-pass=2"));
  for (int pass = 1; pass <= 2; ++pass) {
    ProgramPass(rig, image);
    EXPECT_EQ(rig.card().Flash().Store().Copy(), corrupted) << "pass " << pass;
  }
  ProgramPass(rig, image);
  EXPECT_EQ(rig.card().Flash().Store().Copy(), image);
}

using FlashFileDeathTest = testing::Test;

std::unique_ptr<StateStore> KeptState(const std::string& path, const CardOptions& options = {}) {
  return MapStateFile(path, PowerUpState(options));
}

// The flash and the machine's state are files: a run killed in the middle of a status write
// leaves the card's lines held, its protection lifted and the part busy, and the next run
// finds them so, the busy period going on for what was left of it.
TEST_F(FlashFileDeathTest, AKilledRunLeavesTheFileAsTheCardWasLeft) {
  GTEST_FLAG_SET(death_test_style, testbuild::kDeathTestStyle);
  const std::string path = FreshPath("killed.bin");
  const std::string state = FreshPath("killed.st");
  const CardOptions atmel = NewPart(FlashPart::At25f1024);
  const auto programThenDie = [&] {
    SpiRig rig(atmel, MapFlashFile(path), {}, KeptState(state, atmel));
    rig.Program(0x100, {0xC0, 0xDE});
    rig.WaitReady();
    rig.SetWritable(true);
    rig.WriteStatus(0x00);  // 10 ms busy
    rig.clock().Advance(4 * kMs);
    rig.Status();
    rig.Take();
    std::raise(SIGKILL);
  };
  EXPECT_EXIT(programThenDie(), testing::KilledBySignal(SIGKILL), "");
  SpiRig next(atmel, MapFlashFile(path), {}, KeptState(state, atmel));
  EXPECT_TRUE(next.Line(kLineBypass)) << "the lines are still held";
  EXPECT_EQ(next.Read(kProtectRegister) & kProtectWritable, kProtectWritable);
  EXPECT_NE(next.card().Flash().Status() & kStatusBusy, 0);
  next.clock().Advance(5 * kMs);
  EXPECT_NE(next.card().Flash().Status() & kStatusBusy, 0);
  next.clock().Advance(1 * kMs);
  EXPECT_EQ(next.card().Flash().Status() & kStatusBusy, 0);
  next.Release();
  EXPECT_EQ(next.ReadFlash(0xFF, 4), (Bytes{0xFF, 0xC0, 0xDE, 0xFF}));
}

TEST(MachineStateFile, OnlyAStateOfThisLayoutIsTaken) {
  const std::string path = FreshPath("other.st");
  for (const std::size_t size : {10, 64}) {
    std::ofstream(path, std::ios::binary | std::ios::trunc) << std::string(size, 'x');
    try {
      KeptState(path);
      ADD_FAILURE() << size << " bytes taken";
    } catch (const std::runtime_error& e) {
      EXPECT_EQ(std::string(e.what()),
                "state file " + path + ": " +
                    (size == 64 ? "not a card state of this emulator" : "size is not 64 bytes"));
    }
  }
}

TEST_F(FlashFileDeathTest, PowerCutEndsTheProcessWithExactlyNBytesProgrammed) {
  GTEST_FLAG_SET(death_test_style, testbuild::kDeathTestStyle);
  const std::string path = FreshPath("power-cut.bin");
  const std::string state = FreshPath("power-cut.st");
  const CardOptions options = WithFault("power-cut=300");
  const auto update = [&] {
    InstallProcessEnd();
    SpiRig rig(options, MapFlashFile(path), {}, KeptState(state, options));
    rig.SetWritable(true);
    rig.WriteStatus(kStatusLock);
    rig.WaitReady();
    for (std::uint32_t page = 0; page < 4; ++page) {
      rig.Program(page * 256, Bytes(256, 0x00));
      rig.WaitReady();
    }
    std::exit(0);
  };
  EXPECT_EXIT(update(), testing::ExitedWithCode(kPowerCutExitCode), "");
  EXPECT_EQ(ReadFile(path), Join(Bytes(300, 0x00), Bytes(kFlashCapacity - 300, 0xFF)));
  // A power cut is a reboot: the state is the power-up one, but for the part's lock bit.
  CardState expected = PowerUpState(options);
  expected.part.nonVolatile = kStatusLock;
  const CardState kept = KeptState(state, options)->State();
  EXPECT_EQ(std::memcmp(&kept, &expected, sizeof(CardState)), 0);
}

TEST_F(FlashFileDeathTest, PowerCutAtATimeLeavesAChipEraseDoneInAddressOrderUpToThatTime) {
  GTEST_FLAG_SET(death_test_style, testbuild::kDeathTestStyle);
  const std::string path = FreshPath("power-cut-at.bin");
  const auto erase = [&path] {
    InstallProcessEnd();
    SpiRig rig(WithFault("power-cut-at=45ms", {.part = FlashPart::Sst25vf010}),
               MapFlashFile(path, Bytes(kFlashCapacity, 0x00)), kFree);
    rig.WriteStatus(0x00);
    rig.clock().Advance(10 * kMs);
    rig.Erase(0x60);  // 70 ms from 10 ms: half done at 45 ms
    rig.clock().Advance(60 * kMs);
    std::exit(0);
  };
  EXPECT_EXIT(erase(), testing::ExitedWithCode(kPowerCutExitCode), "");
  EXPECT_EQ(ReadFile(path), Join(Bytes(kFlashCapacity / 2, 0xFF), Bytes(kFlashCapacity / 2, 0x00)));
}

}  // namespace
}  // namespace emu::test
