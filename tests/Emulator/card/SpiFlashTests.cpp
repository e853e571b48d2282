// The three flash parts as a driver sees them through register 0x304: identification,
// reading, programming, erasing, the status register and its lock, block protection and
// busy times on the virtual clock.
#include <gtest/gtest.h>

#include <numeric>
#include <string>
#include <utility>
#include <vector>

#include "SpiRig.h"

namespace emu::test {
namespace {

SpiRig Rig(FlashPart part, const Bytes& content = {}, AccessCosts costs = {}) {
  return SpiRig(NewPart(part), FlashStore::InMemory(content), costs);
}

Bytes Flash(SpiRig& rig) { return rig.card().Flash().Store().Copy(); }

// Clears the power-up block protection (the SST part's) and lets the status write end.
void Unprotect(SpiRig& rig) {
  rig.WriteStatus(0x00);
  rig.clock().Advance(10 * kMs);
}

// The part's row for `op`, as its table gives it.
const OpcodeEntry& Row(FlashPart part, FlashOp op) { return *FindOp(TraitsOf(part), op); }
std::uint8_t EraseOpcode(FlashPart part) { return Row(part, FlashOp::Erase).opcode; }

TEST(FlashIdentification, EachPartAnswersItsOwnCommandsAndIgnoresUnknownOnes) {
  struct Case {
    FlashPart part;
    Bytes command;
    Bytes answer;
  };
  const Case cases[] = {
      {FlashPart::At25f1024, {0x15}, {0x1F, 0x60, 0xFF}},
      {FlashPart::At25f1024, {0xAB, 0, 0, 0}, {0xFF, 0xFF}},
      {FlashPart::At25f1024, {0x90, 0, 0, 0}, {0xFF, 0xFF}},
      {FlashPart::At25f1024, {0x00, 0, 0, 0}, {0xFF, 0xFF}},
      {FlashPart::M25p10, {0xAB, 0, 0, 0}, {0x10, 0x10, 0x10}},
      {FlashPart::M25p10, {0x15}, {0xFF, 0xFF}},
      {FlashPart::M25p10, {0x90, 0, 0, 0}, {0xFF, 0xFF}},
      {FlashPart::Sst25vf010, {0xAB, 0, 0, 0}, {0xBF, 0x49, 0xBF, 0x49}},
      {FlashPart::Sst25vf010, {0xAB, 0, 0, 1}, {0x49, 0xBF, 0x49}},
      {FlashPart::Sst25vf010, {0x90, 0, 0, 0}, {0xBF, 0x49, 0xBF}},
      {FlashPart::Sst25vf010, {0x90, 0, 0, 3}, {0x49, 0xBF}},
      {FlashPart::Sst25vf010, {0x15}, {0xFF, 0xFF}},
  };
  for (const Case& c : cases) {
    SpiRig rig = Rig(c.part);
    EXPECT_EQ(rig.Command(c.command, c.answer.size()), c.answer)
        << FlashPartName(c.part) << " opcode " << int(c.command[0]);
  }
}

TEST(FlashRead, AnyAddressWrapsAtTheEndAndIgnoresHighAddressBits) {
  const Bytes content = Pattern();
  for (FlashPart part : kParts) {
    SpiRig rig = Rig(part, content);
    EXPECT_EQ(rig.ReadFlash(0x12345, 5),
              Bytes(content.begin() + 0x12345, content.begin() + 0x1234A));
    EXPECT_EQ(rig.ReadFlash(0x1FFFE, 4),
              (Bytes{content[0x1FFFE], content[0x1FFFF], content[0], content[1]}));
    EXPECT_EQ(rig.ReadFlash(0xFE0010, 2), (Bytes{content[0x10], content[0x11]}));
  }
}

TEST(FlashPageProgram, NeedsWriteEnableWhichItThenClears) {
  for (FlashPart part : {FlashPart::At25f1024, FlashPart::M25p10}) {
    SpiRig rig = Rig(part);
    rig.Command(Join(Header(kProgram, 0x40), {0x12, 0x34}));
    EXPECT_EQ(rig.ReadFlash(0x40, 2), (Bytes{0xFF, 0xFF})) << "no write enable";
    rig.Program(0x40, {0x12, 0x34});
    ASSERT_TRUE(rig.WaitReady());
    EXPECT_EQ(rig.ReadFlash(0x3F, 4), (Bytes{0xFF, 0x12, 0x34, 0xFF}));
    rig.Command(Join(Header(kProgram, 0x50), {0x00}));
    EXPECT_EQ(rig.ReadFlash(0x50, 1), Bytes{0xFF}) << "the latch was used up";
  }
}

TEST(FlashPageProgram, OnlyClearsBitsAndWrapsInsideThePage) {
  Bytes content(kFlashCapacity, 0xFF);
  content[0x1000] = 0x3C;
  SpiRig at = Rig(FlashPart::At25f1024, content);
  at.Program(0x1000, {0xF0});
  ASSERT_TRUE(at.WaitReady());
  at.Program(0x1FE, {0xA1, 0xA2, 0xA3, 0xA4});
  ASSERT_TRUE(at.WaitReady());
  const Bytes flash = Flash(at);
  EXPECT_EQ(flash[0x1000], 0x30);
  EXPECT_EQ(Bytes(flash.begin() + 0x1FE, flash.begin() + 0x200), (Bytes{0xA1, 0xA2}));
  EXPECT_EQ(Bytes(flash.begin() + 0x100, flash.begin() + 0x103), (Bytes{0xA3, 0xA4, 0xFF}));
  EXPECT_EQ(flash[0x200], 0xFF) << "the next page is untouched";

  // More than a 128-byte page: only the last page-worth is kept, at the wrapped places.
  SpiRig st = Rig(FlashPart::M25p10);
  Bytes data(130);
  std::iota(data.begin(), data.end(), 0);
  st.Program(0x80, data);
  ASSERT_TRUE(st.WaitReady());
  Bytes expected(data.begin(), data.begin() + 128);
  expected[0] = 128;
  expected[1] = 129;
  const Bytes stFlash = Flash(st);
  EXPECT_EQ(Bytes(stFlash.begin() + 0x80, stFlash.begin() + 0x100), expected);
  EXPECT_EQ(stFlash[0x7F], 0xFF);
  EXPECT_EQ(stFlash[0x100], 0xFF);
}

TEST(FlashPageProgram, TakesEffectOnlyAfterAWholeNumberOfBytes) {
  SpiRig rig = Rig(FlashPart::At25f1024);
  rig.WriteEnable();
  ASSERT_TRUE(rig.Take());
  rig.SetLine(kLineChipSelectN, false);
  for (std::uint8_t byte : Join(Header(kProgram, 0x20), {0x00})) {
    rig.Send(byte);
  }
  for (int bit = 0; bit < 4; ++bit) {
    rig.SetLine(kLineClock, true);
    rig.SetLine(kLineClock, false);
  }
  rig.SetLine(kLineChipSelectN, true);
  rig.Release();
  EXPECT_EQ(rig.ReadFlash(0x20, 1), Bytes{0xFF});
  EXPECT_EQ(rig.Status() & kStatusWriteEnable, kStatusWriteEnable)
      << "a discarded command leaves the latch";

  rig.Command(Header(kProgram, 0x20));
  EXPECT_EQ(rig.Status() & (kStatusWriteEnable | kStatusBusy), kStatusWriteEnable)
      << "a program without data does nothing";

  rig.Command({kWriteDisable, 0x00});
  EXPECT_EQ(rig.Status() & kStatusWriteEnable, kStatusWriteEnable) << "write disable is one byte";
  rig.Command({kWriteDisable});
  EXPECT_EQ(rig.Status() & kStatusWriteEnable, 0);
  rig.Command({kWriteEnable, 0x06});
  EXPECT_EQ(rig.Status() & kStatusWriteEnable, 0) << "write enable is one byte";
}

TEST(FlashBusy, TimesOnTheVirtualClockAndCommandsIgnoredMeanwhile) {
  struct Case {
    FlashPart part;
    const char* what;
    Bytes command;
    std::uint64_t busyNs;
    std::uint8_t statusAfter = 0x00;
  };
  std::vector<Case> cases;
  for (FlashPart part : kParts) {
    const PartTraits& traits = TraitsOf(part);
    const OperationTimes& times = traits.times[static_cast<std::size_t>(FlashTiming::Typical)];
    const auto programNs = [&times](std::uint32_t bytes) {
      return times.programNsPerCommand + bytes * times.programNsPerByte;
    };
    const OpcodeEntry& erase = Row(part, FlashOp::Erase);
    cases.push_back({part, "program 1", Join(Header(kProgram, 0), {0}), programNs(1)});
    cases.push_back({part, "program a page", Join(Header(kProgram, 0), Bytes(traits.pageSize, 0)),
                     programNs(traits.pageSize)});
    cases.push_back({part, "erase", {erase.opcode}, erase.eraseNs[0]});
    cases.push_back({part, "status write", {kWriteStatus, 0x00}, times.writeStatusNs});
    if (part == FlashPart::Sst25vf010) {
      cases.push_back(
          {part, "auto-increment", Join(Header(kAutoIncrement, 0), {0}), programNs(1), 0x42});
    }
  }
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(FlashPartName(c.part)) + " " + c.what);
    SpiRig rig = Rig(c.part, Pattern(), kFree);
    if (c.command[0] != kWriteStatus) {
      Unprotect(rig);
    }
    const std::uint8_t before = rig.Status();
    c.command[0] == kWriteStatus ? rig.ArmStatusWrite() : rig.WriteEnable();
    rig.Command(c.command);
    // The latch holds, and a status write's new bits wait, until the operation ends.
    EXPECT_EQ(rig.Status(), before | c.statusAfter | kStatusBusy | kStatusWriteEnable);
    // Busy: everything but read status is ignored.
    EXPECT_EQ(rig.ReadFlash(0x100, 2), (Bytes{0xFF, 0xFF}));
    EXPECT_EQ(rig.Command({0x15}, 1), Bytes{0xFF});
    rig.WriteEnable();
    rig.clock().Advance(c.busyNs - 1);
    EXPECT_EQ(rig.Status(), before | c.statusAfter | kStatusBusy | kStatusWriteEnable);
    rig.clock().Advance(1);
    EXPECT_EQ(rig.Status(), c.statusAfter)
        << "ready, and the write enable sent while busy was ignored";
  }
}

TEST(FlashChipErase, EachPartErasesWithItsOwnOpcodeOnly) {
  const Bytes content = Pattern();
  for (FlashPart part : kParts) {
    SCOPED_TRACE(FlashPartName(part));
    SpiRig rig = Rig(part, content);
    Unprotect(rig);
    for (FlashPart other : kParts) {
      if (other != part) {
        rig.Erase(EraseOpcode(other));
      }
    }
    EXPECT_EQ(Flash(rig), content) << "the other parts' opcodes";
    rig.Command({kWriteDisable});
    rig.Command({EraseOpcode(part)});
    EXPECT_EQ(Flash(rig), content) << "no write enable";
    rig.Erase(EraseOpcode(part));
    rig.clock().Advance(2000 * kMs);
    EXPECT_EQ(Flash(rig), Bytes(kFlashCapacity, 0xFF));
  }
}

TEST(FlashAutoIncrement, ProgramsByteAfterByteUntilWriteDisableOrTheLastAddress) {
  SpiRig rig = Rig(FlashPart::Sst25vf010);
  Unprotect(rig);
  rig.Command(Join(Header(kAutoIncrement, 0x300), {0x11}));
  EXPECT_EQ(rig.ReadFlash(0x300, 1), Bytes{0xFF}) << "needs write enable first";

  rig.WriteEnable();
  rig.Command(Join(Header(kAutoIncrement, 0x300), {0x11}));
  ASSERT_TRUE(rig.WaitReady());
  EXPECT_EQ(rig.Status(), kStatusAutoIncrement | kStatusWriteEnable);
  rig.Command({kAutoIncrement, 0x22});
  ASSERT_TRUE(rig.WaitReady());
  // Inside the sequence the part takes nothing but status, 0xAF and 0x04; and later 0xAF
  // carry no address.
  EXPECT_EQ(rig.ReadFlash(0x300, 1), Bytes{0xFF});
  rig.Command(Join(Header(kAutoIncrement, 0x400), {0x99}));
  rig.Command({kAutoIncrement, 0x33});
  ASSERT_TRUE(rig.WaitReady());
  rig.Command({kWriteDisable});
  EXPECT_EQ(rig.Status(), 0x00);
  EXPECT_EQ(rig.ReadFlash(0x2FF, 5), (Bytes{0xFF, 0x11, 0x22, 0x33, 0xFF}));
  EXPECT_EQ(Flash(rig)[0x400], 0xFF);
  rig.Command({kAutoIncrement, 0x44});
  EXPECT_EQ(rig.ReadFlash(0x303, 1), Bytes{0xFF}) << "the sequence is over";

  // A sequence stops at the last address; a byte program takes one byte.
  rig.WriteEnable();
  rig.Command(Join(Header(kAutoIncrement, 0x1FFFE), {0x01}));
  for (std::uint8_t byte : {0x02, 0x03, 0x04}) {
    ASSERT_TRUE(rig.WaitReady());
    rig.Command({kAutoIncrement, byte});
  }
  ASSERT_TRUE(rig.WaitReady());
  rig.Command({kWriteDisable});
  EXPECT_EQ(rig.ReadFlash(0x1FFFE, 4), (Bytes{0x01, 0x02, 0xFF, 0xFF}));

  rig.Program(0x10, {0x5A});
  ASSERT_TRUE(rig.WaitReady());
  rig.Program(0x20, {0x01, 0x02});
  ASSERT_TRUE(rig.WaitReady());
  EXPECT_EQ(rig.ReadFlash(0x10, 1), Bytes{0x5A});
  EXPECT_EQ(rig.ReadFlash(0x20, 2), (Bytes{0x02, 0xFF})) << "a one-byte page keeps the last byte";
}

TEST(FlashStatus, PowerUpValuesAndOnlyTheProtectionBitsAreWritable) {
  // A card in the field: the Atmel and ST parts locked at level 3 by their last update.
  const std::array<std::uint8_t, 3> inTheField{0x8C, 0x8C, 0x0C};
  const std::array<std::uint8_t, 3> powerUp{0x00, 0x00, 0x0C};
  for (std::size_t i = 0; i < kParts.size(); ++i) {
    SCOPED_TRACE(FlashPartName(kParts[i]));
    EXPECT_EQ(SpiRig({.part = kParts[i]}).Status(), inTheField[i]);
    SpiRig rig = Rig(kParts[i]);
    EXPECT_EQ(rig.Status(), powerUp[i]);
    rig.Command({kWriteStatus, 0x84});
    EXPECT_EQ(rig.Status(), powerUp[i]) << "no write enable";
    rig.WriteStatus(0xFF);
    ASSERT_TRUE(rig.WaitReady());
    EXPECT_EQ(rig.Status(), 0x8C);
  }
}

// A part left locked by an update: bit 7 holds the register while the write-protect pin is
// low, that is until both writable bits of 0x1C4C are set; with the pin high it may go, and
// it may be set again with the pin low.
TEST(FlashStatus, BitSevenLocksTheRegisterWhileThePinIsLow) {
  for (FlashPart part : kParts) {
    SCOPED_TRACE(FlashPartName(part));
    SpiRig rig({.part = part, .flashStatus = 0xFF});
    EXPECT_EQ(rig.Status(), 0x8C) << "only the non-volatile bits are taken";
    for (std::uint32_t bits : {0u, 1u << 5, 1u << 15}) {
      rig.Write(kProtectRegister, (rig.Read(kProtectRegister) & ~kProtectWritable) | bits);
      rig.WriteStatus(0x00);
      ASSERT_TRUE(rig.WaitReady());
      EXPECT_EQ(rig.Status(), 0x8C | kStatusWriteEnable) << "protect bits " << std::hex << bits;
    }
    rig.SetWritable(true);
    rig.WriteStatus(0x00);
    ASSERT_TRUE(rig.WaitReady());
    EXPECT_EQ(rig.Status(), 0x00);
    rig.SetWritable(false);
    rig.WriteStatus(0x80);
    ASSERT_TRUE(rig.WaitReady());
    EXPECT_EQ(rig.Status(), 0x80) << "bit 7 may be set while the pin is low";
  }
}

// Nothing else arms the SST part's status write, not even a plain write enable: a driver
// that sends 0x06 instead would leave a real card locked.
TEST(FlashStatus, SstTakesEnableWriteStatusOnlyRightBeforeTheWrite) {
  SpiRig rig = Rig(FlashPart::Sst25vf010);
  rig.Command({kEnableWriteStatus});
  rig.Command({kReadStatus}, 1);
  rig.Command({kWriteStatus, 0x00});
  EXPECT_EQ(rig.Status(), 0x0C);
  rig.WriteEnable();
  rig.Command({kWriteStatus, 0x00});
  EXPECT_EQ(rig.Status(), 0x0C | kStatusWriteEnable) << "after 0x06";
  rig.Command({kEnableWriteStatus});
  rig.WriteEnable();
  rig.Command({kWriteStatus, 0x00});
  EXPECT_EQ(rig.Status(), 0x0C | kStatusWriteEnable) << "after 0x50 and 0x06";
  rig.Command({kEnableWriteStatus});
  rig.Command({kWriteStatus, 0x00});
  ASSERT_TRUE(rig.WaitReady());
  EXPECT_EQ(rig.Status(), 0x00);

  SpiRig at = Rig(FlashPart::At25f1024);
  at.Command({kEnableWriteStatus});
  at.Command({kWriteStatus, 0x0C});
  EXPECT_EQ(at.Status(), 0x00) << "0x50 means nothing to the other parts";
}

// Level 1 protects the top quarter, level 2 the top half, level 3 everything; a chip erase
// is refused at every level.
TEST(FlashProtection, EachLevelRefusesProgramFromItsFirstProtectedByteAndChipErase) {
  const std::pair<std::uint8_t, std::uint32_t> levels[] = {
      {0x04, 0x18000}, {0x08, 0x10000}, {0x0C, 0}};
  for (FlashPart part : kParts) {
    for (const auto& [bits, firstProtected] : levels) {
      SCOPED_TRACE(std::string(FlashPartName(part)) + " level " + std::to_string(bits >> 2));
      SpiRig rig = Rig(part, Bytes(kFlashCapacity, 0x5A));
      rig.WriteStatus(bits);
      ASSERT_TRUE(rig.WaitReady());
      rig.Erase(EraseOpcode(part));
      ASSERT_TRUE(rig.WaitReady());
      Bytes expected(kFlashCapacity, 0x5A);
      if (firstProtected > 0) {
        rig.Program(firstProtected - 1, {0x00});
        ASSERT_TRUE(rig.WaitReady());
        expected[firstProtected - 1] = 0x00;
      }
      rig.Program(firstProtected, {0x00});
      ASSERT_TRUE(rig.WaitReady());
      EXPECT_EQ(Flash(rig), expected);
    }
  }
}

}  // namespace
}  // namespace emu::test
