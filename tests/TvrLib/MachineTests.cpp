// The emulated PC core itself: what the configuration mechanism, the timer, the costs and
// the counters do at the ports, as the real machine would.
#include <ctime>

#include "EmuTestSupport.h"
#include "TvrCpu.h"
#include "TvrMap.h"

using namespace emutest;

namespace {

class MachineCore : public ::testing::Test {
 protected:
  MachineCore() { machine.RequestIoPrivilege(); }
  emu::Machine machine;
};

TEST_F(MachineCore, ConfigurationMechanismAnswersOnlyThroughAnEnabledDwordAddress) {
  AttachFunction(machine, 2, 3, 1, 0x0A101F2E);
  const DWORD address = 0x80021900;  // bus 2, device 3, function 1
  machine.PortWrite(0xCF8, 4, address);
  EXPECT_EQ(machine.PortRead(0xCFC, 4), 0x0A101F2Eu);
  EXPECT_EQ(machine.PortRead(0xCFE, 4), 0xFFFFFFFFu);  // runs past the data window
  machine.PortWrite(0xCF8, 1, 0x00);                   // not a dword: not the address latch
  EXPECT_EQ(machine.PortRead(0xCF8, 4), address);
  machine.PortWrite(0xCF8, 4, address | 0x7F000007);  // reserved bits read back as 0
  EXPECT_EQ(machine.PortRead(0xCF8, 4), address | 0x04);
  machine.PortWrite(0xCF8, 4, address & 0x7FFFFFFF);
  EXPECT_EQ(machine.PortRead(0xCFC, 4), 0xFFFFFFFFu);
  machine.PortWrite(0xCF8, 4, 0x80002100);  // function 1 of device 4: nothing there
  EXPECT_EQ(machine.PortRead(0xCFC, 1), 0xFFu);
}

TEST_F(MachineCore, CostsCountersAndFaultsAreKeptPerAccess) {
  machine.PortRead(0x80, 1);
  machine.PortWrite(0x80, 1, 0);
  machine.PortWrite(0x80, 2, 0);
  EXPECT_EQ(machine.Clock().Now(), 3000u);
  EXPECT_EQ(machine.Stats().portReadsAt.at(0x80), 1u);
  EXPECT_EQ(machine.Stats().portWritesAt.at(0x80), 2u);

  const int fd = machine.OpenPhysicalMemory();
  void* mapped = machine.Map(4096, fd, 0xF0000000);
  ASSERT_NE(mapped, nullptr);
  const auto address = reinterpret_cast<std::uintptr_t>(mapped);
  machine.DeviceRead(address + 8, 4);
  machine.DeviceWrite(address + 8, 4, 1);
  EXPECT_EQ(machine.Clock().Now(), 3600u);
  EXPECT_EQ(machine.Stats().deviceReadsAt.at(0xF0000008), 1u);
  EXPECT_EQ(machine.Stats().deviceWritesAt.at(0xF0000008), 1u);
  const auto fatal = [](auto access, const char* message) {
    try {
      access();
      ADD_FAILURE() << "no fatal access: " << message;
    } catch (const emu::FatalAccess& stop) {
      EXPECT_STREQ(stop.what(), message);
    }
  };
  fatal([&] { machine.DeviceRead(address + 4094, 4); },  // runs off the mapping
        "device read of 4 bytes at 0x40000FFE outside every mapping");
  machine.Unmap(mapped, 8192);
  EXPECT_EQ(machine.Stats().badUnmaps, 1u);
  machine.Unmap(mapped, 4096);
  EXPECT_EQ(machine.Stats().badUnmaps, 1u);
  fatal([&] { machine.DeviceWrite(address, 1, 0); },
        "device write of 1 byte at 0x40000000 outside every mapping");

  emu::Machine unprivileged;
  fatal([&] { unprivileged.PortWrite(0x80, 1, 0); },
        "port write of 1 byte at 0x80 without I/O privilege");
  fatal([&] { unprivileged.PortRead(0x61, 1); },
        "port read of 1 byte at 0x61 without I/O privilege");
  EXPECT_EQ(unprivileged.Clock().Now(), 0u);
  EXPECT_EQ(unprivileged.Stats().portReads + unprivileged.Stats().portWrites, 0u);
}

TEST_F(MachineCore, Channel2OutputFollowsTheCountTheGateAndItsControlWord) {
  constexpr std::uint64_t kClockNs = 838;  // one count at 1 193 182 Hz, rounded down
  const auto output = [&] { return (machine.PortRead(0x61, 1) & 0x20) != 0; };
  const auto load = [&](std::uint8_t control, std::uint16_t count) {
    machine.PortWrite(0x43, 1, control);
    machine.PortWrite(0x42, 1, count & 0xFF);
    machine.PortWrite(0x42, 1, count >> 8);
  };
  const auto read = [&] {
    const std::uint32_t low = machine.PortRead(0x42, 1);
    return low | machine.PortRead(0x42, 1) << 8;
  };
  machine.PortWrite(0x61, 1, 0x01);
  load(0xB0, 100);
  EXPECT_FALSE(output());
  machine.Clock().Advance(80000);  // about 95 counts
  EXPECT_FALSE(output());
  machine.PortWrite(0x61, 1, 0x00);  // gate off: counting stops
  machine.Clock().Advance(1000000);
  EXPECT_FALSE(output());
  machine.PortWrite(0x61, 1, 0x01);
  machine.Clock().Advance(10000);  // about 12 more: past 101
  EXPECT_TRUE(output());

  load(0xB6, 1000);  // square wave
  EXPECT_TRUE(output());
  machine.Clock().Advance(500000);  // about 597 counts: second half of the period
  EXPECT_FALSE(output());
  machine.Clock().Advance(400000);  // about 1075 counts: the next period
  EXPECT_TRUE(output());

  // Mode 2 keeps the output high but for one count per period: a wait for it to rise ends
  // at once.
  load(0xB4, 1000);
  EXPECT_TRUE(output());
  machine.Clock().Advance(500 * kClockNs);
  EXPECT_TRUE(output());

  // The latch command holds the count for the reads that follow, low byte then high.
  load(0xB0, 1000);
  machine.Clock().Advance(100 * kClockNs);
  machine.PortWrite(0x43, 1, 0x80);
  machine.Clock().Advance(300 * kClockNs);
  const std::uint32_t latched = read();
  EXPECT_GE(latched, 890u);
  EXPECT_LE(latched, 900u);
  const std::uint32_t live = read();
  EXPECT_GE(live, 590u);
  EXPECT_LE(live, 600u);

  // BCD: 0x1000 counts a thousand, not 4096.
  load(0xB1, 0x1000);
  machine.Clock().Advance(1003 * kClockNs);
  EXPECT_TRUE(output());
  load(0xB0, 0x1000);
  machine.Clock().Advance(1003 * kClockNs);
  EXPECT_FALSE(output());
  machine.PortWrite(0x43, 1, 0x80);
  EXPECT_EQ(read() & 0xFF00, 0x0C00u) << "binary: about 3090 left";

  // Low byte only: one write loads the count, whose high byte is 0.
  machine.PortWrite(0x43, 1, 0x90);
  machine.PortWrite(0x42, 1, 50);
  EXPECT_FALSE(output());
  machine.Clock().Advance(53 * kClockNs);
  EXPECT_TRUE(output());
}

TEST(PlatformSeam, ChangingThePlatformForgetsDescriptorAndPrivilege) {
  emu::Machine machine;
  machine.SetUserId(1000);
  std::tm when{};
  when.tm_mday = 9;
  machine.SetLocalTime(when);
  {
    emu::ScopedPlatform installed(machine);
    EXPECT_EQ(&TvrGetPlatform(), &machine);
    EXPECT_EQ(TvrGetPlatform().UserId(), 1000u);
    std::tm got{};
    ASSERT_TRUE(TvrGetPlatform().LocalTime(got));
    EXPECT_EQ(got.tm_mday, 9);
    EXPECT_EQ(iFileDescriptor, -1);
    EXPECT_EQ(cpuHavePortPrivilege(), TRUE);
    iFileDescriptor = TvrGetPlatform().OpenPhysicalMemory();
    EXPECT_GE(iFileDescriptor, 0);
  }
  EXPECT_NE(&TvrGetPlatform(), &machine);
  EXPECT_EQ(iFileDescriptor, -1);
  EXPECT_EQ(g_iHavePerm, 0);
}

}  // namespace
