// The layouts the code relies on, checked where the compiler can (sizes, offsets, the room
// one field gives another it is copied into) and at run time where only the target's ABI
// can tell (bit-field order in the views of configuration and timer words). A 32-bit and a
// 64-bit build must agree on every one of them.
#include <gtest/gtest.h>

#include <cstddef>
#include <cstdint>
#include <cstring>

#include "GBData.h"
#include "SEInternal.h"
#include "TvrPci.h"
#include "TvrTimer.h"
#include "UxLib.h"

namespace {

// Records copied or cleared as plain bytes between the libraries.
static_assert(sizeof(UINT8) == 1 && sizeof(UINT16) == 2 && sizeof(UINT32) == 4, "fixed widths");
static_assert(sizeof(INT32) == 4 && sizeof(BOOL32) == 4, "status codes and truth values are 32 bits");
static_assert(sizeof(MEMHANDLE) == sizeof(void*), "a mapped address is as wide as a pointer");
static_assert(sizeof(PCIHANDLE) == 4 && sizeof(IOHANDLE) == 4, "PCI and port handles are 32 bits");

// The EEPROM description a caller receives: no padding the ABI could move, and the part
// name handed out whole from the object's own record.
static_assert(offsetof(SE_INFO, hPci) == 0, "SE_INFO starts with the location");
static_assert(offsetof(SE_INFO, pszSEepromID) == 4, "the part name follows the location");
static_assert(offsetof(SE_INFO, ulSEepromPage) == 4 + SE_EEPROM_ID_LENGTH, "page size after the name");
static_assert(offsetof(SE_INFO, ulSEepromSize) == 8 + SE_EEPROM_ID_LENGTH, "capacity last");
static_assert(sizeof(SE_INFO) == 12 + SE_EEPROM_ID_LENGTH, "SE_INFO is the same on 32 and 64 bits");
static_assert(sizeof(SE_128K{}.m_pszSEepromID) == sizeof(SE_INFO{}.pszSEepromID), "the part name fits");
static_assert(SE_CAPACITY == 131072, "the parts the object speaks to are 1 Mbit");

// The image summary: the version texts are copied by the size of the field they fill, so
// every source must be at least as long as its destination.
static_assert(sizeof(GB_INFO{}.pszBIOSVerExt) >= sizeof(GB_BIOS{}.pszVerExt), "the extension fits");
static_assert(sizeof(GB_BIOS{}.pszProductID) >= sizeof(GB_INFO{}.pszProductID),
              "the product ID copy reads inside its source");
static_assert(sizeof(GB_BIOS_IDENT{}.pszVerExt) >= sizeof(GB_BIOS{}.pszVerExt),
              "the detected extension fills the image's field from inside");
static_assert(sizeof(GB_BIOS_IDENT{}.pszProductID) >= sizeof(GB_BIOS{}.pszProductID),
              "the detected product ID fills the image's field from inside");
static_assert(offsetof(GB_INFO, ulBIOSVersion) % 4 == 0, "the version word is aligned");

// The board record and where an image keeps things.
static_assert(GB_PINS_SIZE == 512, "the family's PInS is 512 bytes");
static_assert(GB_PINS_MIN_SIZE <= GB_PINS_SIZE, "a whole PInS passes the size check");
static_assert(GB_PINS_COUNTER_FIELD + 2 < GB_PINS_MIN_SIZE, "the counter lies inside the smallest PInS");
static_assert(GB_PINS_POINTER_OFFSET + GB_PINS_POINTER_SIZE <= SE_CAPACITY, "the PInS pointer lies in the image");
static_assert(GB_SUBSYS_FROM_END >= GB_SUBSYS_SIZE, "the subsystem word lies inside the image");
static_assert(GB_PCIR_POINTER_OFFSET + 2 <= GB_BIOS_BLOCK, "the PCI data pointer is in the first block");
static_assert(255 * GB_BIOS_BLOCK <= SE_CAPACITY, "the largest BIOS the size byte can give fits");

// The session record: three switch slots, operands with room for their zero, and a serial
// number as long as the PInS field it is copied from (offset 12, 16 bytes).
static_assert(UX_MAX_SWITCHES == 3, "three switches per line");
static_assert(sizeof(SWITCH{}.ulID) == UX_MAX_SWITCHES * sizeof(UINT32), "one identifier per slot");
static_assert(sizeof(SWITCH{}.pszOption) == UX_MAX_SWITCHES * UX_OPTION_SIZE, "operand slots are packed");
static_assert(sizeof(UX_DATA{}.szSerialNumber) == 16, "the serial number field of the PInS");
static_assert(sizeof(UX_DATA{}.hSEInfo) == sizeof(SE_INFO), "the session keeps the whole description");

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
