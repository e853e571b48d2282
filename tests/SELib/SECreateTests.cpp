// Creating and releasing the object: the family and configuration checks, the mapping of
// the aperture, identification of the flash part, and the command byte put back.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <tuple>

#include "CaseNames.h"
#include "SERig.h"
#include "TvrMap.h"

namespace setest {
namespace {

std::string RecordName(SEHANDLE hSE) {
  return reinterpret_cast<const char*>(hSE->m_oSE128K.m_pszSEepromID);
}

// The Atmel part answers its own command at once; the others see it as unknown before the
// second command. While an answer is clocked in, the data line keeps the last bit sent.
TEST(Identification, RecordsEachPart) {
  struct PartCase {
    emu::FlashPart part;
    const char* name;
    UINT32 makerId;
    UINT32 page;
    std::vector<Bytes> commands;  // identification commands as the part sees them
  };
  const Bytes atmel = {0x15, 0xFF};
  const Bytes id = {0xAB, 0x00, 0x00, 0x00, 0x00};
  const PartCase cases[] = {
      {emu::FlashPart::At25f1024, "ATMEL AT25F1024", 0x1F, 256, {atmel}},
      {emu::FlashPart::M25p10, "ST M25P10", 0x10, 128, {atmel, id}},
      {emu::FlashPart::Sst25vf010, "SST SST25VF010", 0xBF, 1, {atmel, id}},
  };
  for (const PartCase& expected : cases) {
    SCOPED_TRACE(expected.name);
    Rig rig({.part = expected.part});
    ASSERT_EQ(rig.Create(), SE_OK);
    SE_INFO info;
    std::memset(&info, 0xEE, sizeof(info));
    ASSERT_EQ(SEGetInfo(rig.handle(), &info), SE_OK);
    EXPECT_EQ(info.hPci, kCardLocation);
    EXPECT_STREQ(reinterpret_cast<const char*>(info.pszSEepromID), expected.name);
    EXPECT_EQ(info.ulSEepromPage, expected.page);
    EXPECT_EQ(info.ulSEepromSize, 131072u);
    EXPECT_EQ(rig.handle()->m_oSE128K.m_ulSEepromID, expected.makerId);
    std::vector<Bytes> heads;
    for (const CardEvent& event : rig.lines().Events()) {
      heads.push_back(event.head);
    }
    EXPECT_EQ(heads, expected.commands);
  }
}

// Parts that answer as the script says, on the lines in place of the card's own part.
TEST(Identification, TheAnswersDecideThePart) {
  struct AnswerCase {
    Bytes atmelAnswer;
    Bytes idAnswer;
    SE_ERR result;
    const char* name;
    std::uint32_t commandBytes;  // clocked in during identification, answers included
  };
  const AnswerCase cases[] = {
      {{0x1F, 0x00}, {0xBF, 0x49}, SE_OK, "ATMEL AT25F1024", 2},
      {{0x1E}, {0x10, 0x00}, SE_OK, "ST M25P10", 2 + 6},
      {{0xFF}, {0x10, 0x49}, SE_OK, "ST M25P10", 2 + 6},
      {{0xFF}, {0x10, 0xFF}, SE_OK, "ST M25P10", 2 + 6},
      {{0x9F}, {0xBF, 0x49}, SE_OK, "SST SST25VF010", 2 + 6},
      {{0xFF}, {0xBF, 0x48}, SE_ERR_NO_FLASH_PART, "Unknown", 2 + 6},
      {{0xFF}, {0x49, 0xBF}, SE_ERR_NO_FLASH_PART, "Unknown", 2 + 6},
      {{0x10}, {0x1F, 0x10}, SE_ERR_NO_FLASH_PART, "Unknown", 2 + 6},
  };
  for (const AnswerCase& expected : cases) {
    SCOPED_TRACE(testnames::HexName(expected.atmelAnswer) + " then " +
                 testnames::HexName(expected.idAnswer));
    Rig rig;
    rig.Script(0x15, 8, expected.atmelAnswer);
    rig.Script(0xAB, 32, expected.idAnswer);
    EXPECT_EQ(rig.Create(), expected.result);
    EXPECT_EQ(RecordName(rig.handle()), expected.name);
    std::uint32_t clocked = 0;
    for (const CardEvent& event : rig.lines().Events()) {
      clocked += event.length;
    }
    EXPECT_EQ(clocked, expected.commandBytes);
  }
}

// The family is known by the device ID alone, whatever the vendor; a chip outside it is
// refused before any mapping, with the command byte restored.
TEST(Creation, TheFamilyIsKnownByDeviceIdAloneAndOthersAreRefusedBeforeAnyMapping) {
  for (const UINT16 deviceId : {DEVID_LUMIVANE_A, DEVID_LUMIVANE_B, DEVID_Z_SERIES}) {
    Rig rig({.vendorId = 0x1234, .deviceId = deviceId});
    EXPECT_EQ(rig.Create(), SE_OK) << std::hex << deviceId;
  }
  for (const UINT16 deviceId : {UINT16{0x0A12}, UINT16{0x0A0F}, UINT16{0x0B31}, UINT16{0x1F2E}}) {
    Rig rig({.deviceId = deviceId});
    EXPECT_EQ(rig.Create(), SE_ERR_UNSUPPORTED_DEVICE) << std::hex << deviceId;
    EXPECT_EQ(rig.CommandByte(), 0x01);
    EXPECT_EQ(rig.machine().ConfigWrites(), (std::vector<std::uint32_t>{0x04, 0x04}));
    EXPECT_EQ(rig.machine().Opens(), 0);
    EXPECT_EQ(rig.machine().Stats().deviceReads + rig.machine().Stats().deviceWrites, 0u);
  }
}

TEST(Creation, AConfigurationWordWithoutAllThreeBitsIsRefusedAfterMappingAndUnmapped) {
  for (const UINT32 word : {0x0C000000u, 0x0A000000u, 0x06000000u, 0xF1FFFFFFu}) {
    Rig rig({.biosWord = word});
    EXPECT_EQ(rig.Create(), SE_ERR_NO_SERIAL_EEPROM) << std::hex << word;
    EXPECT_EQ(rig.machine().Opens(), 1);
    EXPECT_EQ(rig.machine().LiveMappings(), 0);
    EXPECT_EQ(rig.handle()->m_oSERegisterAccess.m_hRegs, 0u);
    EXPECT_EQ(rig.RegisterWrites(SE_REG_SERIAL_LINES), 0u);
    EXPECT_EQ(rig.CommandByte(), 0x01);
  }
}

TEST(Creation, NoAnsweringPartOrBusyLinesGiveNoPartWithTheApertureUnmapped) {
  for (const bool busy : {false, true}) {
    Rig rig({.faults = {.linesBusy = busy, .noFlash = !busy}});
    EXPECT_EQ(rig.Create(), SE_ERR_NO_FLASH_PART);
    EXPECT_EQ(RecordName(rig.handle()), "Unknown");
    EXPECT_EQ(rig.machine().LiveMappings(), 0);
    EXPECT_EQ(rig.CommandByte(), 0x01);
    EXPECT_EQ(rig.handle()->m_oTableMain.SERead, nullptr);
    EXPECT_EQ(rig.handle()->m_oTableMain.SEWrite, nullptr);
    // Busy lines are only looked at: the two identification attempts read the bypass bit.
    if (busy) {
      EXPECT_EQ(rig.RegisterReads(SE_REG_SERIAL_LINES), 2u);
      EXPECT_EQ(rig.RegisterWrites(SE_REG_SERIAL_LINES), 0u);
    }
  }
}

// Memory type in bits 2-1: 32-bit (00, and 01 below 1 MiB), 64-bit with the upper half at
// 0x18 (10), reserved (11); bit 3 (prefetchable) is no part of the address. I/O space, an
// unassigned base, a base the mapping refuses (not page-aligned) and a memory device that
// cannot be opened end creation before any register access, with nothing to read or write
// through afterwards.
TEST(Creation, OnlyAMemoryApertureBelow4GiBIsMapped) {
  const UINT32 base = emu::CardOptions{}.apertureBase;
  const std::tuple<UINT32, UINT32, bool, SE_ERR> cases[] = {
      {base | 0x4, 0, true, SE_OK},
      {base | 0xC, 0, true, SE_OK},
      {base | 0x2, 0x12345678u, true, SE_OK},
      {base | 0xA, 1, true, SE_OK},
      {base | 0x4, 1, true, SE_ERR_MEMORY_MAP},
      {base | 0x4, 0x80000000u, true, SE_ERR_MEMORY_MAP},
      {base | 0x6, 0, true, SE_ERR_MEMORY_MAP},
      {0xF4000001u, 0, true, SE_ERR_MEMORY_MAP},
      {0x00000000u, 0, true, SE_ERR_MEMORY_MAP},
      {0x00000008u, 0, true, SE_ERR_MEMORY_MAP},
      {0xF4000810u, 0, true, SE_ERR_MEMORY_MAP},
      {base | 0x4, 0, false, SE_ERR_MEMORY_MAP},
  };
  for (const auto& [bar, upper, memoryDevice, expected] : cases) {
    SCOPED_TRACE(testing::Message() << std::hex << bar << " " << upper << " " << memoryDevice);
    Rig rig;
    rig.card().SetConfig32(0x14, bar);
    rig.card().SetConfig32(0x18, upper);
    rig.machine().SetPhysicalMemoryAllowed(memoryDevice);
    EXPECT_EQ(rig.Create(), expected);
    if (expected == SE_OK) {
      EXPECT_GT(rig.RegisterReads(SE_REG_SERIAL_LINES), 0u);
      continue;
    }
    EXPECT_EQ(rig.machine().LiveMappings(), 0);
    EXPECT_EQ(rig.CommandByte(), 0x01);
    EXPECT_EQ(rig.handle()->m_oTableE2P.SetSerialClk_High, nullptr);
    UINT8 byte = 0;
    EXPECT_EQ(SERead(rig.handle(), 0, 1, &byte), SE_ERR_READ);
    EXPECT_EQ(SEWrite(rig.handle(), &byte, 0, 131072), SE_ERR_WRITE);
    EXPECT_EQ(rig.machine().Stats().deviceReads + rig.machine().Stats().deviceWrites, 0u);
  }
}

TEST(Creation, TheMemoryDeviceIsOpenedOnceForManyObjects) {
  Rig rig;
  for (int i = 0; i < 6; ++i) {
    ASSERT_EQ(rig.Create(), SE_OK);
    ASSERT_EQ(SEReleaseHandle(rig.handle()), SE_OK);
  }
  EXPECT_EQ(rig.machine().Opens(), 1);
  EXPECT_EQ(rig.machine().LiveMappings(), 0);
  const int descriptor = iFileDescriptor;
  rig.machine().SetPhysicalMemoryAllowed(false);
  EXPECT_EQ(rig.Create(), SE_OK) << "the open descriptor is reused";
  EXPECT_EQ(iFileDescriptor, descriptor);
}

// Memory decoding is on during the object's life; the command byte is written only when
// it was off, and is as it was found after the release.
TEST(Creation, MemoryDecodingIsOnDuringTheObjectsLifeAndRestoredAfter) {
  for (const std::uint16_t command : {0x0001, 0x0007}) {
    Rig rig({.command = command});
    ASSERT_EQ(rig.Create(), SE_OK);
    EXPECT_EQ(rig.CommandByte(), command | 0x02);
    EXPECT_EQ(rig.machine().ConfigWrites().size(), command == 0x0001 ? 1u : 0u);
    EXPECT_EQ(SEReleaseHandle(rig.handle()), SE_OK);
    EXPECT_EQ(rig.machine().ConfigWrites(),
              std::vector<std::uint32_t>(command == 0x0001 ? 2 : 1, 0x04));
    EXPECT_EQ(rig.CommandByte(), command);
    EXPECT_EQ(rig.machine().LiveMappings(), 0);
  }
}

TEST(Creation, EveryCallRefusesANullHandleWithoutTouchingTheMachine) {
  Rig rig;
  SE_INFO info{};
  UINT8 byte = 0;
  EXPECT_EQ(SECreateHandle(nullptr, kCardLocation), SE_ERR_NULL_HANDLE);
  EXPECT_EQ(SESetWriteStatusFct(nullptr, nullptr, nullptr), SE_ERR_NULL_HANDLE);
  EXPECT_EQ(SERead(nullptr, 0, 1, &byte), SE_ERR_NULL_HANDLE);
  EXPECT_EQ(SEWrite(nullptr, &byte, 0, 1), SE_ERR_NULL_HANDLE);
  EXPECT_EQ(SEGetInfo(nullptr, &info), SE_ERR_NULL_HANDLE);
  EXPECT_EQ(SEReleaseHandle(nullptr), SE_ERR_NULL_HANDLE);
  EXPECT_EQ(rig.machine().Stats().portReads + rig.machine().Stats().portWrites, 0u);
}

}  // namespace
}  // namespace setest
