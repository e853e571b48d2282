// The bit-field order in the views of configuration and timer words, which only the
// target's ABI can tell: checked at run time. (The layouts the compiler can check stand
// beside their records.) A 32-bit and a 64-bit build must agree on every one of them.
#include <gtest/gtest.h>

#include <cstring>

#include "TvrPci.h"
#include "TvrTimer.h"

namespace {

TEST(Layout, ConfigurationWordViewsPutTheVendorInTheLowHalf) {
  ST_PCI_DEVID id{};
  id.all = 0x0A101F2Eu;
  EXPECT_EQ(id.f.VendorID, 0x1F2Eu);
  EXPECT_EQ(id.f.DeviceID, 0x0A10u);
  ST_PCI_SUBSYSID subsystem{};
  subsystem.all = 0x20011F2Eu;
  EXPECT_EQ(subsystem.f.SubsystemVendorID, 0x1F2Eu);
  EXPECT_EQ(subsystem.f.SubsystemID, 0x2001u);
}

TEST(Layout, PciLocationViewMatchesTheHandleBits) {
  const PCIHANDLE handle = MakePciHandle(0xA5, 0x1B, 0x6);
  EXPECT_EQ(handle, 0xA5DEu);
  PCILOCATION location{};
  static_assert(sizeof(location) == sizeof(handle));
  std::memcpy(&location, &handle, sizeof(handle));
  EXPECT_EQ(location.bus, 0xA5u);
  EXPECT_EQ(location.device, 0x1Bu);
  EXPECT_EQ(location.function, 0x6u);
  EXPECT_EQ(location.reserved, 0u);
}

TEST(Layout, TimerControlWordBitsFromTheLowEnd) {
  TIMER_CTRL control{};
  control.f.CountDownSelect = 1;
  control.f.CounterMode = 3;
  control.f.RW_Select = 3;
  control.f.CounterSelect = 2;
  // BCD, mode 3, low then high byte, channel 2.
  EXPECT_EQ(control.fullreg, 0xB7);
}

}  // namespace
