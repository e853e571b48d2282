// The image object on the emulated card: creation and release, the public calls, and the
// flash after an update.
#include "GBTestSupport.h"
#include "RefusedAllocation.h"

namespace gbtest {
namespace {

constexpr UINT16 kStampedDate = 0x0ADE;  // 30 June 2005

// The card's own image: its board record, calibration block and subsystem word.
emu::SampleBiosOptions CardSample() {
  return {.serialNumber = "CARD-0001", .pinsCounter = 3, .subsystem = 0x20011F2E, .mcsSize = 200};
}

// A newer BIOS file with its own PInS elsewhere, and a subsystem word of its own.
emu::SampleBiosOptions FileSample(std::uint8_t blocks) {
  return {.versionByte = 0x30,
          .build = 9,
          .versionExt = "LV8",
          .serialNumber = "FILE-9999",
          .pinsCounter = 40,
          .biosBlocks = blocks,
          .pinsOffset = 0x6800,
          .subsystem = 0xAAAAAAAA,
          .withMcs = false};
}

Bytes Stamped(const Bytes& pins, std::uint16_t counter) {
  return testbytes::StampedPins(pins, kStampedDate, counter);
}

class GBCard : public ::testing::Test {
 protected:
  explicit GBCard(const Bytes& image = emu::BuildSampleBios(CardSample()))
      : m_cardImage(image), m_rig(image) {}

  GB_ERR SetBios(const Bytes& file, std::uint32_t length, UINT8 ucDefaultPInS) {
    return GBSetBIOS(h(), file.data(), static_cast<INT32>(length), ucDefaultPInS);
  }
  GBHANDLE h() { return m_object.Handle(); }
  Bytes ImageInMemory() { return Bytes(h()->m_oBIOS.pucData, h()->m_oBIOS.pucData + kImageSize); }
  Bytes CardPins() const { return Slice(m_cardImage, 0x7A00, 512); }

  void SetUp() override { ASSERT_EQ(GB_SUCCESS, m_object.Create()); }

  Bytes m_cardImage;
  CardRig m_rig;
  CardObject m_object;
};

TEST_F(GBCard, CreationReadsAndDescribesTheCard) {
  EXPECT_EQ(m_cardImage, ImageInMemory());
  GB_INFO info;
  std::memset(&info, 0x5A, sizeof(info));
  ASSERT_EQ(GB_SUCCESS, GBGetInfo(h(), &info));
  EXPECT_EQ(kCardLocation, info.hPci);
  EXPECT_EQ(h()->m_hSE, info.hSE);
  EXPECT_NE(nullptr, info.hSE);
  EXPECT_EQ(0x200405u, info.ulBIOSVersion);
  EXPECT_STREQ("LV7", info.pszBIOSVerExt);
  EXPECT_STREQ("TLV", info.pszProductID);
  EXPECT_EQ(131072u, h()->m_oSEInfo.ulSEepromSize);
}

TEST_F(GBCard, ReadImageFromHardwareNeedsRoomForAllOfIt) {
  Bytes buffer(kImageSize, 0);
  EXPECT_EQ(GB_ERR_BUFFER_SIZE, GBReadImageFromHW(h(), buffer.data(), kImageSize - 1));
  EXPECT_EQ(Bytes(kImageSize, 0), buffer);
  EXPECT_EQ(GB_SUCCESS, GBReadImageFromHW(h(), buffer.data(), kImageSize));
  EXPECT_EQ(m_rig.Flash(), buffer);
}

// A card whose subsystem word an update cut short (erased, or programmed only up to some
// byte of the word being written) takes the word of the file that update came from; a word
// of its own, or one the PInS text set in the same run, erased or not, goes back as it is.
TEST(GBCardSubsystem, WordCutShortTakesTheFilesWholeWordUnlessTheTextSetOne) {
  struct Case {
    std::uint32_t card;
    const char* text;
    std::uint32_t file;
    std::uint32_t written;
  };
  const Case cases[] = {
      {0xFFFFFFFF, "", 0xAAAAAAAA, 0xAAAAAAAA},
      {0xFFFF1F2E, "", 0x20011F2E, 0x20011F2E},
      {0xFFFFFF2E, "", 0x20011F2E, 0x20011F2E},
      {0xFF011F2E, "", 0x20011F2E, 0x20011F2E},
      {0xFFFF1F2E, "", 0xAAAAAAAA, 0xFFFF1F2E},
      {0xFFFF1F2E, "", 0x2001202E, 0xFFFF1F2E},
      {0x20011F2E, "", 0xAAAAAAAA, 0x20011F2E},
      {0x2001FFFF, "", 0x2001AAAA, 0x2001FFFF},
      {0xFFFFFFFF, ":SubSystemVendorID\t0xFFFFFFFF", 0xAAAAAAAA, 0xFFFFFFFF},
      {0x20011F2E, ":SubSystemVendorID\t0xFFFF1F2E", 0x20011F2E, 0xFFFF1F2E},
  };
  for (const Case& c : cases) {
    for (const UINT8 ucFilesPins : {0, 1}) {
      emu::SampleBiosOptions card = CardSample();
      card.subsystem = c.card;
      CardRig rig(emu::BuildSampleBios(card));
      CardObject object;
      ASSERT_EQ(GB_SUCCESS, object.Create());
      const std::string text = c.text;
      ASSERT_EQ(GB_SUCCESS, GBSetPInSFromASCIIBuffer(object.Handle(), text.data(),
                                                     static_cast<INT32>(text.size())));
      emu::SampleBiosOptions fileOptions = FileSample(0x60);
      fileOptions.subsystem = c.file;
      const Bytes file = emu::BuildSampleBios(fileOptions);
      ASSERT_EQ(GB_SUCCESS, GBSetBIOS(object.Handle(), file.data(), static_cast<INT32>(kImageSize),
                                      ucFilesPins));
      ASSERT_EQ(GB_SUCCESS, GBWriteImageToHW(object.Handle()));
      EXPECT_EQ(c.written, Le(rig.Flash(), 131064, 4))
          << std::hex << c.card << " " << c.text << " " << c.file;
    }
  }
}

TEST_F(GBCard, WriteWithoutNewBiosStampsInPlaceWithLoadedCounter) {
  GBPinsSetWord(h(), 8, 0x1234);  // the counter written is the loaded one plus 1 all the same
  GBPinsComputeChecksum(h());
  ASSERT_EQ(GB_SUCCESS, GBWriteImageToHW(h()));
  Bytes expected = m_cardImage;
  const Bytes pins = Stamped(CardPins(), 4);
  std::copy(pins.begin(), pins.end(), expected.begin() + 0x7A00);
  const std::uint32_t biosSize = 0x60 * 512;
  expected[biosSize - 1] = static_cast<std::uint8_t>(0x100 - Sum8(expected, 0, biosSize - 1));
  EXPECT_EQ(expected, m_rig.Flash());
}

TEST_F(GBCard, RefusedFilesLeaveTheImageAsItWas) {
  const Bytes file = emu::BuildSampleBios(FileSample(0x50));
  Bytes tooLong = file;
  tooLong.push_back(0xFF);
  EXPECT_EQ(GB_ERR_BUFFER_SIZE, SetBios(tooLong, kImageSize + 1, 0));
  EXPECT_EQ(GB_ERR_BUFFER_SIZE, GBSetBIOS(h(), file.data(), -1, 0));
  EXPECT_EQ(GB_ERR_BUFFER_SIZE, GBSetBIOS(h(), nullptr, 100, 0));
  EXPECT_EQ(GB_ERR_INVALID_HANDLE, GBSetBIOS(nullptr, file.data(), 100, 0));

  // The PInS would cover the PInS pointer at 0x7FFC, kept or taken from the file.
  emu::SampleBiosOptions late = FileSample(0x40);
  late.pinsOffset = 0x7DFF;
  EXPECT_EQ(GB_ERR_BUFFER_SIZE, SetBios(emu::BuildSampleBios(late), kImageSize, 0));
  EXPECT_EQ(GB_ERR_BUFFER_SIZE, SetBios(emu::BuildSampleBios(late), kImageSize, 1));
  // The PInS would reach the checksum byte of a 24576-byte BIOS.
  emu::SampleBiosOptions small = FileSample(0x30);
  small.pinsOffset = 0x5E00;
  EXPECT_EQ(GB_ERR_BUFFER_SIZE, SetBios(emu::BuildSampleBios(small), kImageSize, 0));
  // A file's PInS size that is too large, or too small for the header.
  for (std::uint16_t size : {std::uint16_t(0x9000), std::uint16_t(10), std::uint16_t(0)}) {
    emu::SampleBiosOptions odd = FileSample(0x60);
    odd.pinsSizeWord = size;
    EXPECT_EQ(GB_ERR_BUFFER_SIZE, SetBios(emu::BuildSampleBios(odd), kImageSize, 1)) << size;
  }
  // A BIOS size of 0 leaves no room for a PInS.
  Bytes empty = file;
  empty[2] = 0;
  EXPECT_EQ(GB_ERR_BUFFER_SIZE, SetBios(empty, kImageSize, 0));
  EXPECT_EQ(m_cardImage, ImageInMemory());
  EXPECT_EQ(3, h()->m_oPINS.usCounter);
  EXPECT_EQ(0x7A00, h()->m_oPINS.usPINSOffset);
  EXPECT_EQ(m_cardImage, m_rig.Flash());
}

// An update writes the file (a smaller BIOS given as a short file, or a larger one given
// whole) with the card's PInS or the file's where the file points, and behind the new BIOS
// the card's calibration block; the card's subsystem word stays. A file's PInS with a wrong
// checksum inside a BIOS whose sum is right is mended, and with it the BIOS sum. Behind a
// 24576-byte BIOS the calibration block takes 0x6000-0x60C7: a PInS that does not cover it,
// behind the BIOS or inside it right before its checksum byte, is written there.
TEST(GBCardUpdate, EitherPinsGoesWhereItCorruptsNothingBesideTheCardsMcsAndWord) {
  struct Case {
    std::uint8_t blocks;
    std::uint32_t length;
    std::uint16_t pinsAt;
    bool brokenPins;
    GB_ERR expected;
  };
  const Case cases[] = {
      {0x50, 0x50 * 512, 0x6800, false, GB_SUCCESS},
      {0x70, kImageSize, 0x6800, false, GB_SUCCESS},
      {0x58, 0x58 * 512, 0x6800, false, GB_SUCCESS},
      {0x58, 0x58 * 512, 0x6800, true, GB_SUCCESS},
      {0x30, kImageSize, 0x6800, false, GB_SUCCESS},
      {0x30, kImageSize, 0x60C8, false, GB_SUCCESS},
      {0x30, kImageSize, 0x60C7, false, GB_ERR_BUFFER_SIZE},
      {0x30, kImageSize, 0x5DFF, false, GB_SUCCESS},
  };
  const Bytes card = emu::BuildSampleBios(CardSample());
  for (const Case& c : cases) {
    for (const UINT8 takeFilePins : {0, 1}) {
      SCOPED_TRACE(testing::Message() << int(c.blocks) << " at " << c.pinsAt << " broken "
                                      << c.brokenPins << " file's " << int(takeFilePins));
      emu::SampleBiosOptions o = FileSample(c.blocks);
      o.pinsOffset = c.pinsAt;
      o.breakPinsChecksum = c.brokenPins;
      const Bytes file = emu::BuildSampleBios(o);
      CardRig rig(card);
      CardObject object;
      ASSERT_EQ(GB_SUCCESS, object.Create());
      ASSERT_EQ(c.expected, GBSetBIOS(object.Handle(), file.data(), c.length, takeFilePins));
      if (c.expected != GB_SUCCESS) {
        continue;
      }
      ASSERT_EQ(GB_SUCCESS, GBWriteImageToHW(object.Handle()));
      const Bytes pins = takeFilePins ? Stamped(Slice(file, c.pinsAt, 512), 41)
                                      : Stamped(Slice(card, 0x7A00, 512), 4);
      const Bytes flash = rig.Flash();
      EXPECT_EQ(
          UpdatedImage(file, c.length, pins, c.pinsAt, Slice(card, 0x60 * 512, 200), 0x20011F2E),
          flash);
      EXPECT_EQ(0, Sum8(flash, 0, c.blocks * 512u));
      EXPECT_EQ(0, Sum8(flash, c.pinsAt, 512));
    }
  }
}

// The card's calibration block behind a 130560-byte BIOS: it must end inside the image and
// before the subsystem word.
TEST(GBCardUpdate, CalibrationBlockMustFitBehindTheNewBios) {
  const std::pair<std::uint32_t, GB_ERR> cases[] = {
      {504, GB_SUCCESS}, {505, GB_ERR_BUFFER_SIZE}, {520, GB_ERR_BUFFER_SIZE}};
  for (const auto& [mcsSize, expected] : cases) {
    emu::SampleBiosOptions card = CardSample();
    card.mcsSize = mcsSize;
    CardRig rig(emu::BuildSampleBios(card));
    CardObject object;
    ASSERT_EQ(GB_SUCCESS, object.Create());
    ASSERT_EQ(static_cast<INT32>(mcsSize), GBMCSGetSize(object.Handle()));
    const Bytes file = emu::BuildSampleBios(FileSample(0xFF));
    EXPECT_EQ(expected, GBSetBIOS(object.Handle(), file.data(), kImageSize, 0)) << mcsSize;
  }
}

TEST(GBCardWrite, EepromWriteFailurePassesItsCodeOn) {
  const Bytes image = emu::BuildSampleBios(CardSample());
  CardRig rig(image, {.faults = {.eraseHang = true}});
  CardObject object;
  ASSERT_EQ(GB_SUCCESS, object.Create());
  EXPECT_EQ(10005, GBWriteImageToHW(object.Handle()));
  EXPECT_EQ(image, rig.Flash());
}

TEST(GBCardCreation, FailuresAndReleaseFreeEverythingAndReleaseRepeats) {
  struct Case {
    const char* name;
    emu::CardOptions options;
    GB_ERR expected;
  };
  const Case cases[] = {{"foreign", {.deviceId = 0x0A12}, 10001},
                        {"no-eeprom", {.biosWord = 0x0C000000}, 10002},
                        {"no-flash", {.faults = {.noFlash = true}}, 10003},
                        {"lines-busy", {.faults = {.linesBusy = true}}, 10003},
                        {"released", {}, GB_SUCCESS}};
  for (const Case& c : cases) {
    CardRig rig(emu::BuildSampleBios(), c.options);
    CardObject object;
    EXPECT_EQ(c.expected, object.Create()) << c.name;
    if (c.expected == GB_SUCCESS) {
      EXPECT_EQ(GB_SUCCESS, GBReleaseHandle(object.Handle()));
    }
    GB_DATA& d = *object.Handle();
    EXPECT_EQ(nullptr, d.m_hSE) << c.name;
    EXPECT_EQ(nullptr, d.m_oBIOS.pucData) << c.name;
    EXPECT_EQ(nullptr, d.m_oPINS.pucData) << c.name;
    EXPECT_EQ(nullptr, d.m_oMCS.pucData) << c.name;
    EXPECT_EQ(GB_SUCCESS, GBReleaseHandle(object.Handle())) << c.name;
    EXPECT_EQ(GB_SUCCESS, GBReleaseHandle(object.Handle())) << c.name;
    // The card's command register is as it was found: memory decoding off again.
    EXPECT_FALSE(rig.Card().MemoryDecodingOn()) << c.name;
  }
  CardRig rig(emu::BuildSampleBios());
  CardObject nobody;
  EXPECT_NE(GB_SUCCESS, nobody.Create(MakePciHandle(2, 0)));
  EXPECT_EQ(nullptr, nobody.Handle()->m_hSE);
}

// Counted as absent, the card's calibration block would be erased by the next update.
TEST(GBCardCreation, CalibrationBlockThatCannotBeCopiedFailsCreation) {
  CardRig rig(emu::BuildSampleBios({.mcsSize = 777}));
  CardObject object;
  {
    testsupport::RefuseAllocation refuse(777);
    EXPECT_EQ(GB_ERR_NO_MEMORY, object.Create());
  }
  const GB_DATA& d = *object.Handle();
  EXPECT_EQ(nullptr, d.m_hSE);
  EXPECT_EQ(nullptr, d.m_oBIOS.pucData);
  EXPECT_EQ(nullptr, d.m_oPINS.pucData);
  EXPECT_FALSE(rig.Card().MemoryDecodingOn());

  ASSERT_EQ(GB_SUCCESS, object.Create());
  EXPECT_EQ(777, GBMCSGetSize(object.Handle()));
}

TEST(GBCardCreation, ErasedCardCanOnlyTakeTheFilesPins) {
  CardRig rig(Bytes(kImageSize, 0xFF));
  CardObject object;
  ASSERT_EQ(GB_SUCCESS, object.Create());
  GBHANDLE h = object.Handle();
  EXPECT_EQ(FALSE, GBPinsIsValid(h));
  EXPECT_EQ(130560u, h->m_oBIOS.ulSize);
  const Bytes file = emu::BuildSampleBios(FileSample(0x60));
  EXPECT_EQ(GB_ERR_INVALID_PINS, GBSetBIOS(h, file.data(), 0x60 * 512, 0));
  // Its own block (65535 bytes at 0xFFFF) cannot go back inside a 130560-byte BIOS.
  EXPECT_EQ(GB_ERR_BUFFER_SIZE, GBWriteImageToHW(h));
  EXPECT_EQ(Bytes(kImageSize, 0xFF), rig.Flash());
  ASSERT_EQ(GB_SUCCESS, GBSetBIOS(h, file.data(), 0x60 * 512, 1));
  ASSERT_EQ(GB_SUCCESS, GBWriteImageToHW(h));
  const Bytes flash = rig.Flash();
  EXPECT_EQ(Stamped(Slice(file, 0x6800, 512), 41), Slice(flash, 0x6800, 512));
  EXPECT_EQ(0xFFFFFFFFu, Le(flash, 131064, 4));  // the erased card's own subsystem word
}

TEST(GBPublic, NullHandleIsRefusedEverywhere) {
  UINT8 buffer[16];
  INT32 written = 7;
  GB_INFO info;
  EXPECT_EQ(GB_ERR_INVALID_HANDLE, GBCreateHandle(nullptr, kCardLocation));
  EXPECT_EQ(GB_ERR_INVALID_HANDLE, GBGetInfo(nullptr, &info));
  EXPECT_EQ(GB_ERR_INVALID_HANDLE, GBReleaseHandle(nullptr));
  EXPECT_EQ(GB_ERR_INVALID_HANDLE, GBSetPInSFromBuffer(nullptr, buffer, 16));
  EXPECT_EQ(GB_ERR_INVALID_HANDLE, GBReadImageFromHW(nullptr, buffer, 16));
  EXPECT_EQ(GB_ERR_INVALID_HANDLE, GBWriteImageToHW(nullptr));
  EXPECT_EQ(GB_ERR_INVALID_HANDLE, GBGetMCSInBuffer(nullptr, buffer, 16, &written));
  EXPECT_EQ(0, written);
}

}  // namespace
}  // namespace gbtest
