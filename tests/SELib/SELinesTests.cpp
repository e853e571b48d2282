// The serial lines and the card's write protection: each operation touches exactly its own
// bit with one read and one write, and bytes go and come most significant bit first.
#include <gtest/gtest.h>

#include <array>

#include "EmuTestSupport.h"
#include "SERig.h"

namespace setest {
namespace {

constexpr std::uint32_t kLines = SE_REG_SERIAL_LINES;
constexpr std::uint32_t kProtect = SE_REG_HW_PROTECTION;

struct LineCase {
  const char* name;
  void (*operation)(SEHANDLE);
  std::uint32_t bit;
  bool high;
};
constexpr std::array<LineCase, 8> kLineCases = {{
    {"bypass low", SETableE2P_SetSerialBypass_Low, emu::kLineBypass, false},
    {"bypass high", SETableE2P_SetSerialBypass_High, emu::kLineBypass, true},
    {"clock low", SETableE2P_SetSerialClk_Low, emu::kLineClock, false},
    {"clock high", SETableE2P_SetSerialClk_High, emu::kLineClock, true},
    {"data low", SETableE2P_SetSerialDataIn_Low, emu::kLineDataIn, false},
    {"data high", SETableE2P_SetSerialDataIn_High, emu::kLineDataIn, true},
    {"select", SETableE2P_SetChipSelect_Low, emu::kLineChipSelectN, false},
    {"deselect", SETableE2P_SetChipSelect_High, emu::kLineChipSelectN, true},
}};

class SerialLines : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_EQ(rig.Create(), SE_OK); }
  SEHANDLE hSE() { return rig.handle(); }
  void SetLines(std::uint32_t value) { SERegisterAccess_WriteDword(hSE(), kLines, value); }
  std::uint32_t Lines() { return rig.Register(kLines) & ~emu::kLineDataOut; }

  Rig rig;
};

TEST_F(SerialLines, EachLineOperationFlipsOnlyItsBitWithOneReadAndOneWrite) {
  for (const std::uint32_t pattern : {0xA5A5E0EEu, 0x5A5A1F11u, emu::kLineRegisterPowerUp}) {
    for (const LineCase& line : kLineCases) {
      SCOPED_TRACE(line.name);
      const std::uint32_t start =
          (line.high ? pattern & ~line.bit : pattern | line.bit) & ~emu::kLineDataOut;
      SetLines(start);
      rig.machine().ResetStats();
      line.operation(hSE());
      EXPECT_EQ(Lines(), start ^ line.bit);
      EXPECT_EQ(rig.RegisterReads(kLines), 1u);
      EXPECT_EQ(rig.RegisterWrites(kLines), 1u);
      EXPECT_EQ(rig.machine().Stats().deviceWrites, 1u);
    }
  }
}

TEST_F(SerialLines, HardwareProtectionMovesBothBitsAndKeepsTheOthers) {
  const auto setProtection = rig.handle()->m_oTableBoard.SetHWProtection;
  for (const std::uint32_t start : {emu::kProtectRegisterPowerUp, 0xFFFF7FDFu, 0x00000020u}) {
    SERegisterAccess_WriteDword(hSE(), kProtect, start);
    rig.machine().ResetStats();
    setProtection(hSE(), FALSE);
    EXPECT_EQ(rig.Register(kProtect), start | 0x8020u);
    setProtection(hSE(), TRUE);
    EXPECT_EQ(rig.Register(kProtect), start & ~0x8020u);
    EXPECT_EQ(rig.RegisterReads(kProtect), 2u);
    EXPECT_EQ(rig.RegisterWrites(kProtect), 2u);
    EXPECT_EQ(rig.machine().Stats().deviceWrites, 2u);
  }
}

TEST_F(SerialLines, TransactionOpensClockLowDeselectedThenBypassClosesWithBypassOnlyOrStopsOnBusy) {
  SetLines((emu::kLineRegisterPowerUp | emu::kLineClock) & ~emu::kLineChipSelectN);
  const std::uint32_t start = Lines();
  rig.machine().EnableTrace(true);
  ASSERT_TRUE(SE128KEnableE2P(hSE()));
  SE128KDisableE2P(hSE());
  std::vector<std::uint32_t> written;
  for (const emutest::Op& op : emutest::Ops(rig.machine(), emu::Access::DeviceWrite)) {
    written.push_back(op.value & ~emu::kLineDataOut);
  }
  const std::uint32_t clockLow = start & ~emu::kLineClock;
  const std::uint32_t deselected = clockLow | emu::kLineChipSelectN;
  const std::uint32_t bypass = deselected | emu::kLineBypass;
  EXPECT_EQ(written, (std::vector<std::uint32_t>{clockLow, deselected, bypass, deselected}));

  // A bypass bit found set means another user holds the lines: nothing is written.
  SetLines(0x00000001);
  rig.machine().ResetStats();
  EXPECT_EQ(SE128KEnableE2P(hSE()), FALSE);
  UINT8 status = 0xAA;
  EXPECT_EQ(SE128KReadStatusSPI(hSE(), &status), FALSE);
  EXPECT_EQ(status, 0);
  EXPECT_EQ(rig.machine().Stats().deviceWrites, 0u);
  EXPECT_EQ(rig.RegisterReads(kLines), 2u);
}

TEST_F(SerialLines, BytesGoAndComeMostSignificantBitFirstWithTheClockEndingLow) {
  rig.Script(0xA5, 16, {0xC3, 0x01});
  ASSERT_TRUE(SE128KEnableE2P(hSE()));
  SETableE2P_SetChipSelect_Low(hSE());
  SE128KSendData(hSE(), 0xA5);
  SE128KSendData(hSE(), 0x3C);
  EXPECT_EQ(Lines() & emu::kLineClock, 0u);
  EXPECT_EQ(SE128KReceiveData(hSE()), 0xC3);
  EXPECT_EQ(SE128KReceiveData(hSE()), 0x01);
  EXPECT_EQ(Lines() & emu::kLineClock, 0u);
  SETableE2P_SetChipSelect_High(hSE());
  SE128KDisableE2P(hSE());
  ASSERT_FALSE(rig.lines().Events().empty());
  const Bytes& head = rig.lines().Events().back().head;
  EXPECT_EQ(Bytes(head.begin(), head.begin() + 2), (Bytes{0xA5, 0x3C}));
}

}  // namespace
}  // namespace setest
