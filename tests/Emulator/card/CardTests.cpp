// The card's configuration words and aperture registers, and the gate that the bypass bit
// puts between software and the flash part.
#include <gtest/gtest.h>

#include "SpiRig.h"

namespace emu::test {
namespace {

constexpr std::uint32_t kLineBits =
    kLineBypass | kLineClock | kLineDataIn | kLineChipSelectN | kLineDataOut;

TEST(CardConfig, ApertureSilentUntilMemoryDecodingIsOnAndItsBarSizesLikeARealOne) {
  Machine machine;
  const CardOptions options{.apertureSize = 0x2000};
  Card& card = machine.Emplace<Card>(0, 4, 0, machine.Clock(), options);
  const auto at = reinterpret_cast<std::uintptr_t>(
      machine.Map(0x2000, machine.OpenPhysicalMemory(), options.apertureBase));
  machine.DeviceWrite(at + 0x100, 4, 0x11223344);
  EXPECT_EQ(machine.DeviceRead(at + 0x100, 4), 0xFFFFFFFFu);
  card.ConfigWrite(0x04, 2, card.ConfigRead(0x04, 2) | kPciCommandMemory);
  EXPECT_EQ(machine.DeviceRead(at + 0x100, 4), 0u) << "the write before decoding was lost";
  machine.DeviceWrite(at + 0x100, 4, 0x11223344);
  EXPECT_EQ(machine.DeviceRead(at + 0x100, 4), 0x11223344u);

  card.ConfigWrite(0x14, 4, 0xFFFFFFFF);
  EXPECT_EQ(card.ConfigRead(0x14, 4), 0xFFFFE000u);
  card.ConfigWrite(0x14, 4, 0xE0001234);
  EXPECT_EQ(card.ConfigRead(0x14, 4), 0xE0000000u);
  card.ConfigWrite(0x40, 4, 0);
  EXPECT_EQ(card.ConfigRead(0x40, 4), 0x0E000000u) << "the BIOS word is not software's to change";
}

TEST(CardConfig, RefusesAnApertureItCannotDecode) {
  VirtualClock clock;
  for (const auto& [base, size] : {std::pair<std::uint32_t, std::uint32_t>{0xF4000000, 0x1000},
                                   {0xF4000000, 0x3000},
                                   {0xF4001000, 0x2000}}) {
    EXPECT_THROW(Card(clock, {.apertureBase = base, .apertureSize = size}), std::invalid_argument)
        << std::hex << base << " " << size;
  }
}

TEST(CardRegisters, PlainRegistersKeepWhatWasWrittenAtEveryWidth) {
  SpiRig rig;
  rig.Write(0x0, 0xDEADBEEF);
  rig.Write(0x3FFC, 0x01020304);
  EXPECT_EQ(rig.Read(0x0), 0xDEADBEEFu);
  EXPECT_EQ(rig.Read(0x3FFC), 0x01020304u);
  rig.Write(0x1, 0x55, 1);
  rig.Write(0x2, 0xAA99, 2);
  EXPECT_EQ(rig.Read(0x0), 0xAA9955EFu);
  EXPECT_EQ(rig.Read(0x3FFE, 2), 0x0102u);
}

TEST(CardRegisters, LineRegisterKeepsOtherBitsAndDataOutIsReadOnly) {
  SpiRig rig;
  const std::uint32_t powerUp = rig.Read(kLineRegister);
  EXPECT_NE(powerUp & ~kLineBits, 0u) << "other bits start with a pattern";
  EXPECT_EQ(powerUp & (kLineBypass | kLineClock), 0u);
  EXPECT_NE(powerUp & kLineChipSelectN, 0u) << "part deselected";
  EXPECT_NE(powerUp & kLineDataOut, 0u) << "undriven data-out reads 1";

  rig.Write(kLineRegister, 0);
  EXPECT_EQ(rig.Read(kLineRegister), kLineDataOut);
  rig.Write(kLineRegister, 0xFFFFFFFF);
  EXPECT_EQ(rig.Read(kLineRegister), 0xFFFFFFFFu);
  rig.Write(kLineRegister, powerUp & ~kLineDataOut);
  EXPECT_EQ(rig.Read(kLineRegister), powerUp);

  // A whole transaction by a careful driver leaves the other bits as they were.
  rig.ReadFlash(0, 4);
  rig.Status();
  EXPECT_EQ(rig.Read(kLineRegister) & ~kLineBits, powerUp & ~kLineBits);
}

TEST(CardRegisters, ProtectRegisterKeepsOtherBitsAndDrivesThePinFromBothBits) {
  SpiRig rig;
  const std::uint32_t powerUp = rig.Read(kProtectRegister);
  EXPECT_NE(powerUp & ~kProtectWritable, 0u);
  EXPECT_EQ(powerUp & kProtectWritable, 0u);
  rig.SetWritable(true);
  EXPECT_EQ(rig.Read(kProtectRegister), powerUp | 0x8020);
  rig.SetWritable(false);
  EXPECT_EQ(rig.Read(kProtectRegister), powerUp);
  rig.Write(kProtectRegister, 0x12345678);
  EXPECT_EQ(rig.Read(kProtectRegister), 0x12345678u);
}

TEST(CardBypass, EdgesReachThePartOnlyWhileBypassIsSet) {
  SpiRig rig;
  // The same write enable, clocked with bypass clear: the part sees nothing.
  rig.SetLine(kLineClock, false);
  rig.SetLine(kLineChipSelectN, false);
  rig.Send(kWriteEnable);
  rig.SetLine(kLineChipSelectN, true);
  EXPECT_EQ(rig.card().Flash().Status() & kStatusWriteEnable, 0);
  EXPECT_TRUE(rig.Line(kLineDataOut));

  rig.WriteEnable();
  EXPECT_EQ(rig.card().Flash().Status() & kStatusWriteEnable, kStatusWriteEnable);

  // Clearing bypass hands the lines back to the chip: the part sees itself deselected, so
  // a command still selected ends there.
  ASSERT_TRUE(rig.Take());
  rig.SetLine(kLineChipSelectN, false);
  rig.Send(kWriteDisable);
  EXPECT_EQ(rig.card().Flash().Status() & kStatusWriteEnable, kStatusWriteEnable)
      << "write disable takes effect only when the part is deselected";
  rig.Release();
  EXPECT_EQ(rig.card().Flash().Status() & kStatusWriteEnable, 0);
}

TEST(CardBypass, DataOutFollowsTheFallingEdge) {
  SpiRig rig(CardOptions{}, FlashStore::InMemory(Bytes(kFlashCapacity, 0x00)));
  ASSERT_TRUE(rig.Take());
  rig.SetLine(kLineChipSelectN, false);
  for (int bit = 7; bit >= 0; --bit) {
    rig.SetLine(kLineDataIn, ((0x15 >> bit) & 1) != 0);
    rig.SetLine(kLineClock, true);
    if (bit > 0) {
      rig.SetLine(kLineClock, false);
    }
  }
  // Clock still high after the last command bit: the answer has not started.
  EXPECT_TRUE(rig.Line(kLineDataOut));
  rig.SetLine(kLineClock, false);
  EXPECT_FALSE(rig.Line(kLineDataOut)) << "0x1F starts with a 0";
  for (int i = 0; i < 3; ++i) {
    rig.SetLine(kLineClock, true);
    EXPECT_FALSE(rig.Line(kLineDataOut)) << "a rising edge does not move data-out";
    rig.SetLine(kLineClock, false);
  }
  EXPECT_TRUE(rig.Line(kLineDataOut)) << "bit 4 of 0x1F";
}

TEST(CardLines, AWriteMovingTheClockWithAnotherLineIsCountedAndTheEdgeSeesTheOldLevels) {
  SpiRig rig(NewPart(FlashPart::At25f1024));
  ASSERT_TRUE(rig.Take());
  // Select and raise the clock in one write: the edge comes while the part is deselected.
  rig.Write(kLineRegister, (rig.Read(kLineRegister) & ~kLineChipSelectN) | kLineClock);
  rig.SetLine(kLineClock, false);
  // 0x06 with each bit's data moved in the same write as its rising edge: the part takes
  // the level before, 0x03, a read that changes nothing.
  for (int bit = 7; bit >= 0; --bit) {
    const std::uint32_t low = rig.Read(kLineRegister) & ~kLineClock & ~kLineDataIn;
    rig.Write(kLineRegister, low | kLineClock | ((0x06 >> bit & 1) != 0 ? kLineDataIn : 0));
    rig.SetLine(kLineClock, false);
  }
  rig.SetLine(kLineChipSelectN, true);
  rig.Release();
  EXPECT_EQ(rig.card().LineViolations(), 3u) << "the select and the two data changes";
  EXPECT_EQ(rig.card().Flash().Status(), 0x00) << "no write enable";
  rig.WriteEnable();
  EXPECT_EQ(rig.card().Flash().Status(), kStatusWriteEnable);
  EXPECT_EQ(rig.card().LineViolations(), 3u) << "one line per write is no violation";
}

}  // namespace
}  // namespace emu::test
