// BIOS file checks, card naming, the file report and the error messages.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "CapturedSession.h"
#include "Machine.h"
#include "SampleBios.h"
#include "UxGen.h"

namespace {

constexpr PCIHANDLE kCard = 0x108;  // bus 1, device 1

class Reports : public CapturedSession {
 protected:
  Reports() { m_session.hPci = kCard; }
  void PutDevice(UINT32 id) {
    auto& pci = m_machine.Emplace<emu::PciFunction>(1, 1, 0);
    pci.SetConfig32(0x00, id);
  }
  bool Valid(const std::vector<UINT8>& file) {
    return IsValidBinFile(file.data(), static_cast<UINT32>(file.size())) == TRUE;
  }
  // Changes a byte of the BIOS and makes up for it in a filler byte, so the sum still holds.
  static void SetKeepingSum(std::vector<UINT8>& file, std::size_t offset, UINT8 value) {
    constexpr std::size_t kFiller = 0x6000;
    file[kFiller] = static_cast<UINT8>(file[kFiller] + file[offset] - value);
    file[offset] = value;
  }

  emu::Machine m_machine;
  emu::ScopedPlatform m_platform{m_machine};
};

TEST_F(Reports, SampleFileIsValidAndEachDamageMakesItInvalid) {
  EXPECT_TRUE(Valid(emu::BuildSampleBios()));
  EXPECT_FALSE(Valid(emu::BuildSampleBios({.breakSignature = true})));
  EXPECT_FALSE(Valid(emu::BuildSampleBios({.breakBiosChecksum = true})));
  EXPECT_FALSE(Valid(emu::BuildSampleBios({.withMakerName = false})));
  EXPECT_FALSE(Valid(emu::BuildSampleBios({.breakPcirSignature = true})));
  EXPECT_FALSE(Valid(emu::BuildSampleBios({.vendorId = 0x1234})));
  EXPECT_FALSE(Valid(emu::BuildSampleBios({.breakPinsSignature = true})));
  // Only the PInS signature counts, not its checksum.
  EXPECT_TRUE(Valid(emu::BuildSampleBios({.breakPinsChecksum = true})));
  // Any byte of the BIOS counts in its sum; a size byte of zero sums nothing.
  std::vector<UINT8> file = emu::BuildSampleBios();
  file[0x100] ^= 0x01;
  EXPECT_FALSE(Valid(file));
  file[2] = 0;
  EXPECT_TRUE(Valid(file));
}

TEST_F(Reports, FileTooShortForAnyReadIsInvalid) {
  const std::vector<UINT8> whole = emu::BuildSampleBios();
  // The PInS pointer at 0x7FFC is the farthest fixed read.
  std::vector<UINT8> cut(whole.begin(), whole.begin() + 0x7FFD);
  EXPECT_FALSE(Valid(cut));
  EXPECT_FALSE(IsValidBinFile(whole.data(), 0));
  EXPECT_FALSE(IsValidBinFile(whole.data(), 2));
  // A sum that would run past the end of the file.
  std::vector<UINT8> shortBios(whole.begin(), whole.begin() + 0x8000);
  shortBios[2] = 0xFF;
  EXPECT_FALSE(Valid(shortBios));
  // A BIOS only as long as its own header reads: valid.
  std::vector<UINT8> exact = emu::BuildSampleBios({.biosBlocks = 0x40});
  exact.resize(0x8000);
  EXPECT_TRUE(Valid(exact));
  // The same with a PInS pointer to its very last byte: the signature would run past it.
  std::vector<UINT8> pointer = exact;
  SetKeepingSum(pointer, 0x7FFC, 0xFF);
  SetKeepingSum(pointer, 0x7FFD, 0x7F);
  EXPECT_FALSE(Valid(pointer));
}

TEST_F(Reports, FileMatchesOnlyTheCardsDevice) {
  PutDevice(0x0A101F2E);
  std::vector<UINT8> file = emu::BuildSampleBios();
  const auto length = static_cast<UINT32>(file.size());
  EXPECT_TRUE(IsBinFileMatchWithBoard(kCard, file.data(), length));
  std::vector<UINT8> otherFile = emu::BuildSampleBios({.deviceId = 0x0A11});
  EXPECT_TRUE(Valid(otherFile));
  EXPECT_FALSE(IsBinFileMatchWithBoard(kCard, otherFile.data(), length));
  // The device word itself lies past the end.
  EXPECT_FALSE(IsBinFileMatchWithBoard(kCard, file.data(), 0x180 + 7));
}

TEST_F(Reports, ModelTextsByDevice) {
  std::array<ACHAR, 64> model{};
  PutDevice(0x0A111F2E);
  EXPECT_TRUE(GetGrapCardModel(kCard, model.data(), 64));
  EXPECT_STREQ(model.data(), "Tavrin Lumivane/Vesk/Orn card");
  PutDevice(0x0B301F2E);
  EXPECT_TRUE(GetGrapCardModel(kCard, model.data(), 32));
  EXPECT_STREQ(model.data(), "Tavrin Z310/Z410/Tetra card");
  PutDevice(0x0C001F2E);
  EXPECT_FALSE(GetGrapCardModel(kCard, model.data(), 64));
  EXPECT_STREQ(model.data(), "Unknown");
  std::array<ACHAR, 4> tiny{};
  GetGrapCardModel(kCard, tiny.data(), 4);
  EXPECT_STREQ(tiny.data(), "Unk");
}

TEST_F(Reports, SerialNumberIsCopiedAsSixteenBytesOnlyForSupportedCards) {
  std::array<UINT8, 512> pins{};
  std::memcpy(pins.data() + 12, "0123456789ABCDEFXYZ", 19);
  std::array<ACHAR, 17> serial{};
  PutDevice(0x0C001F2E);
  EXPECT_FALSE(GetGrapCardSerialNumber(kCard, pins.data(), serial.data()));
  EXPECT_STREQ(serial.data(), "");
  PutDevice(0x0A101F2E);
  EXPECT_TRUE(GetGrapCardSerialNumber(kCard, pins.data(), serial.data()));
  EXPECT_STREQ(serial.data(), "0123456789ABCDEF");
}

TEST_F(Reports, CardReportWithNothingKnownSaysUnknown) {
  PutDevice(0x0A101F2E);
  EXPECT_TRUE(DisplayBoardInfo(&m_session));
  EXPECT_EQ(m_out,
            "Graphics card information\n"
            "\tModel:\t\tTavrin Lumivane/Vesk/Orn card\n"
            "\tSerial Number:\tUnknown\n"
            "\tPCI location:\tBus: 1 Device: 1 Function: 0\n"
            "\tGraphics BIOS:\tVersion: Unknown\n"
            "\t\t\tProduct ID: Unknown\n"
            "\tSerial EEPROM:\tType: Unknown\n"
            "\t\t\tSize: Unknown\n\n");
  EXPECT_STREQ(m_session.pszDevID.data(), "Tavrin Lumivane/Vesk/Orn card");
}

TEST_F(Reports, FileReportWithAndWithoutTheVersionText) {
  for (const bool withText : {true, false}) {
    const std::vector<UINT8> file = emu::BuildSampleBios({.withVersionText = withText});
    m_out.clear();
    EXPECT_EQ(DisplayBinaryFileInfo(&m_session, file.data(), static_cast<UINT32>(file.size())),
              withText ? TRUE : FALSE);
    EXPECT_EQ(m_out, withText ? "Tavrin BIOS file information\tVersion:\n"
                                "\tVersion:\t2.1 - 5 LV7\n"
                                "\tProduct ID:\tTLV\n\n"
                              : "Tavrin BIOS file information\tVersion:\n"
                                "\tVersion:\t2.1 - 5 \n"
                                "\tProduct ID:\t\n\n");
  }
}

TEST_F(Reports, ErrorMessagesOfKnownCodesOnly) {
  const std::array<std::pair<UINT32, const char*>, 6> known{{
      {10001, "ERROR! Hardware device is not supported by this software.\n\n"},
      {20001, "ERROR! Hardware device is not supported by this software.\n\n"},
      {10004, "ERROR! Data from the serial EEPROM couldn't be read.\n\n"},
      {20004,
       "ERROR! The product information structure in the\n       current BIOS is "
       "unrecognizable.\n\n"},
      {20005, "ERROR! The Medical Calibration Structure (MCS) couldn't be found.\n\n"},
      {20006,
       "ERROR! The Medical Calibration Structure (MCS) in the\n       current BIOS is "
       "unrecognizable.\n\n"},
  }};
  for (const auto& [code, text] : known) {
    m_err.clear();
    EXPECT_TRUE(DispatchErrMsg(&m_session, code));
    EXPECT_EQ(m_err, text);
  }
  m_err.clear();
  for (UINT32 code : {0u, 10002u, 20002u, 20003u, 30000u}) {
    EXPECT_FALSE(DispatchErrMsg(&m_session, code));
  }
  EXPECT_EQ(m_err, "");
  EXPECT_EQ(m_out, "");
}

}  // namespace
