// Cards whose flash holds hostile content, opened the way a run opens them: the session
// reads the whole EEPROM through the serial lines and analyses it. The image object must be
// the one the flash fuzz target builds by analysing the same bytes without the read, and
// nothing that only reads may change the card.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "CorpusFiles.h"
#include "FuzzRig.h"
#include "SampleBios.h"

namespace {

namespace fs = std::filesystem;
using fuzz::Bytes;

void ExpectSameObject(const fuzz::ImageState& read, const fuzz::ImageState& analysed) {
  EXPECT_EQ(read.image, analysed.image);
  EXPECT_EQ(read.biosSize, analysed.biosSize);
  EXPECT_EQ(read.pinsOffset, analysed.pinsOffset);
  EXPECT_EQ(read.pins, analysed.pins);
  EXPECT_EQ(read.mcs, analysed.mcs);
  EXPECT_EQ(read.subsystem, analysed.subsystem);
}

TEST(HostileFlash, ReadingTheCardGivesTheObjectTheFuzzTargetAnalyses) {
  const std::vector<fs::path> inputs = CorpusFiles("flashimage");
  ASSERT_FALSE(inputs.empty());
  for (const fs::path& input : inputs) {
    SCOPED_TRACE(input.string());
    const Bytes content = ReadAll(input);
    const Bytes flash = fuzz::AsImage(content.data(), content.size());
    fuzz::ImageState read;
    {
      fuzz::CardMachine machine(flash);
      fuzz::Session session;
      ASSERT_EQ(session.Open(), UX_OK);
      read = fuzz::StateOf(session.Image());
    }
    fuzz::CardMachine machine(emu::BuildSampleBios());
    fuzz::Session session;
    ASSERT_EQ(session.Open(), UX_OK);
    fuzz::Reanalyse(session.Image(), flash);
    ExpectSameObject(read, fuzz::StateOf(session.Image()));
  }
}

// A flash that is all one byte value has no BIOS, no PInS and no calibration block: the card
// is still reported, and the switches that need a missing piece say so and fail without
// writing anything.
TEST(HostileFlash, UniformFlashIsReportedAndRefusedSwitchBySwitch) {
  const fuzz::TempDir dir;
  for (const std::uint8_t fill : {0x00, 0xFF}) {
    SCOPED_TRACE(static_cast<int>(fill));
    fuzz::CardMachine machine(Bytes(emu::kFlashCapacity, fill));
    fuzz::Session session;
    ASSERT_EQ(session.Open(), UX_OK);
    const std::uint64_t writesOfCreation = machine.Machine().Stats().deviceWrites;
    EXPECT_EQ(session.Exec("/tvout pal"), GB_ERR_INVALID_PINS);
    EXPECT_NE(session.Out().find("Graphics card information\n"), std::string::npos);
    EXPECT_NE(session.Out().find("current BIOS is unrecognizable."), std::string::npos);
    EXPECT_EQ(session.Exec("/dmcs " + dir.Operand("mcs.bin")), GB_ERR_MCS_NOT_FOUND);
    EXPECT_EQ(machine.Machine().Stats().deviceWrites, writesOfCreation)
        << "the card is not touched";
    EXPECT_EQ(machine.Flash(), Bytes(emu::kFlashCapacity, fill));
  }
}

}  // namespace
