#include <array>
#include <vector>

#include "EmuTestSupport.h"
#include "TvrCpu.h"
#include "TvrCs.h"
#include "TvrIo.h"
#include "TvrTimer.h"

using namespace emutest;

namespace {

using IoTest = MachineTest;

TEST_F(IoTest, RunsOfPortsAreCutIntoTheWidestAlignedAccessesAndSizeZeroMakesNone) {
  BYTE untouched = 0x3C;
  EXPECT_EQ(ioRead(0xCFC, &untouched, 0), 1u);
  EXPECT_EQ(ioWrite(0xCFC, &untouched, 0), 1u);
  EXPECT_EQ(untouched, 0x3C);
  std::array<BYTE, 4> readBack = {0, 0, 0, 0x5A};
  EXPECT_EQ(ioRead(0x80, readBack.data(), 3), 1u);
  EXPECT_EQ(readBack, (std::array<BYTE, 4>{0xFF, 0xFF, 0xFF, 0x5A}));  // nothing answers there
  std::array<BYTE, 4> data = {0x11, 0x22, 0x33, 0x44};
  EXPECT_EQ(ioWrite(0x61, data.data(), 4), 1u);
  EXPECT_EQ(ioWriteDword(0x80, 0x11223344), 1u);
  EXPECT_EQ(ioWriteWord(0x81, 0x5566), 1u);
  EXPECT_EQ(Ops(machine), (std::vector<Op>{
                              PortRd(0x80, 2, 0xFFFF),
                              PortRd(0x82, 1, 0xFF),
                              PortWr(0x61, 1, 0x11),
                              PortWr(0x62, 2, 0x3322),
                              PortWr(0x64, 1, 0x44),
                              PortWr(0x80, 4, 0x11223344),
                              PortWr(0x81, 1, 0x66),
                              PortWr(0x82, 1, 0x55),
                          }));
}

TEST_F(IoTest, BanksOutsideTheThreePortKindsAreRefusedAfterThePrivilegeIsObtained) {
  DWORD value = 0xCAFEF00D;
  EXPECT_EQ(cpuRead(5, 0x80, &value), FALSE);
  EXPECT_EQ(g_iHavePerm, 1);
  EXPECT_EQ(cpuRead(9, 0x80, &value), FALSE);
  EXPECT_EQ(cpuWrite(0, 0x80, &value), FALSE);
  EXPECT_EQ(value, 0xCAFEF00Du);
  EXPECT_TRUE(machine.Trace().empty());
  EXPECT_EQ(machine.PrivilegeRequests(), 1u);

  EXPECT_EQ(cpuReadWrite(CPU_BANK_PORT16, 0x80, &value, 2), TRUE);  // any non-zero writes
  EXPECT_EQ(Ops(machine), (std::vector<Op>{PortWr(0x80, 2, 0xF00D)}));
}

// Port, configuration and timer calls alike: each access asks for the privilege again.
TEST(WithoutPrivilege, EveryCallAsksAgainLeavesTheBufferAndMakesNoAccess) {
  emu::Machine refusing;
  refusing.SetPortPrivilege(false);
  refusing.EnableTrace(true);
  emu::ScopedPlatform other(refusing);
  std::array<BYTE, 4> buffer = {1, 2, 3, 4};
  EXPECT_EQ(ioRead(0x61, buffer.data(), 4), 1u);
  EXPECT_EQ(buffer, (std::array<BYTE, 4>{1, 2, 3, 4}));
  EXPECT_EQ(refusing.PrivilegeRequests(), 3u);
  EXPECT_EQ(cpuRead(CPU_BANK_PORT8, 0x61, buffer.data()), FALSE);
  EXPECT_EQ(cpuWrite(CPU_BANK_PORT8, 0x61, buffer.data()), FALSE);
  EXPECT_EQ(refusing.PrivilegeRequests(), 5u);
  DWORD value = 0x12345678;
  EXPECT_EQ(csReadDword(MakePciHandle(1, 2), 0, &value), 1u);
  EXPECT_EQ(value, 0x12345678u);
  EXPECT_EQ(refusing.PrivilegeRequests(), 9u);  // save, address word, data, restore
  EXPECT_EQ(tmDelay(1000), 1u);
  EXPECT_EQ(g_iHavePerm, 0);
  EXPECT_TRUE(refusing.Trace().empty());
}

}  // namespace
