// The PInS, calibration block and TV-out switches as a technician runs them.
#include <algorithm>
#include <string>
#include <vector>

#include "ScenarioSupport.h"

namespace scenario {
namespace {

constexpr std::size_t kIdentOffset = 10;
constexpr std::size_t kTvOutByte = 161;
constexpr const char* kSerialLine = "12\t16\t'TS05A00017'\n";
constexpr const char* kSubsystemLine = ":SubSystemVendorID\t0x20011F2E";
constexpr const char* kInvalidText =
    "ERROR! An invalid product information structure file has been encountered.\n\n";
constexpr const char* kNoMcs =
    "ERROR! The Medical Calibration Structure (MCS) couldn't be found.\n\n";

std::string Replace(std::string text, const std::string& from, const std::string& to) {
  const std::size_t at = text.find(from);
  EXPECT_NE(at, std::string::npos) << from;
  return at == std::string::npos ? text : text.replace(at, from.size(), to);
}

class PinsSwitches : public CardTest {
 protected:
  // The card's PInS as text, saved by /d.
  std::string SavedText() {
    EXPECT_EQ(OnCard("", {"/d", "card.txt"}).status, 1);
    return ReadText("card.txt");
  }
};

TEST_F(PinsSwitches, TextFileAndDisplayShowTheSameText) {
  EXPECT_EQ(SaidBy(OnCard("", {"/d", "card.txt"})), Created("card.txt"));
  const std::string text = ReadText("card.txt");
  EXPECT_EQ(text.rfind("Fill:\t0\t511\t0xFF\n\n0\t2\t0x412E\n", 0), 0u);
  EXPECT_NE(text.find(kSerialLine), std::string::npos);
  EXPECT_EQ(text.substr(text.size() - std::string(kSubsystemLine).size()), kSubsystemLine);

  EXPECT_EQ(SaidBy(OnCard("", {"/ds"})), (Said{Report() + text + "\n", "", 1}));
  EXPECT_EQ(Read("card.bin"), m_card);
}

// A serial number with a blank reads back as it is; one with a line feed, which no line of
// the text can carry, is refused rather than stored as something else.
TEST_F(PinsSwitches, UneditedTextKeepsTheFieldsButTheImageIsStillWritten) {
  for (const std::string serial : {"TS05 A00017", "TS05\nA00017"}) {
    const Bytes card = emu::BuildSampleBios({.serialNumber = serial});
    Write("card.bin", card);
    SavedText();
    const bool refused = serial.find('\n') != std::string::npos;
    const RunResult run = OnCard("", {"/s", "card.txt"});
    EXPECT_EQ(run.err, refused ? kInvalidText : "");
    EXPECT_EQ(run.status, refused ? 0 : 1);
    EXPECT_EQ(Read("card.bin") == card, refused) << "written only when read back";
    EXPECT_EQ(PinsSerial(Pins(Read("card.bin"))), serial);
  }
  Write("card.bin", m_card);
  const std::string text = SavedText();
  EXPECT_EQ(SaidBy(OnCard("", {"/s", "card.txt"})), (Said{Report() + Programmed(), "", 1}));
  const Bytes before = Pins(m_card);
  const Bytes after = Pins(Read("card.bin"));
  EXPECT_EQ(PinsSerial(after), "TS05A00017");
  EXPECT_EQ(Le(after, kPinsCounter, 2), Le(before, kPinsCounter, 2) + 1);
  // A text without an identification key marks word 10.
  EXPECT_EQ(Le(after, kIdentOffset, 2), Le(before, kIdentOffset, 2) | 0x8000);
  // Numbers keep their values; strings keep theirs up to their zero byte.
  const auto stringEnd = std::find(before.begin() + 376, before.begin() + 392, 0) - before.begin();
  for (std::size_t i = 36; i < 511; ++i) {
    const bool stringTail = static_cast<std::ptrdiff_t>(i) > stringEnd && i < 392;
    if (!stringTail) {
      EXPECT_EQ(after[i], before[i]) << "PInS byte " << i;
    }
  }
}

// Alone, and before or after another BIOS, whose PInS /k takes.
TEST_F(PinsSwitches, EditedTextChangesSerialNumberAndSubsystemWord) {
  std::string text = Replace(SavedText(), kSerialLine, "12\t16\t'EDITED99'\n");
  WriteText("edited.txt", Replace(text, kSubsystemLine, ":SubSystemVendorID\t0x20021F2E"));
  EXPECT_EQ(SaidBy(OnCard("", {"/s", "edited.txt"})), (Said{Report() + Programmed(), "", 1}));
  const Bytes edited = Read("card.bin");
  EXPECT_EQ(PinsSerial(Pins(edited)), "EDITED99");
  EXPECT_EQ(Le(edited, emu::kSampleSubsystemOffset, 4), 0x20021F2Eu);

  const std::vector<std::pair<std::vector<std::string>, std::string>> runs{
      {{"/s", "edited.txt", "/i", "new.bin"}, "EDITED99"},
      {{"/s", "edited.txt", "/k", "new.bin"}, "FILESERIAL01"},
      {{"/k", "new.bin", "/s", "edited.txt"}, "EDITED99"},
  };
  for (const auto& [args, serial] : runs) {
    Write("card.bin", m_card);
    const RunResult run = OnCard("", args);
    EXPECT_EQ(run.status, 1) << args[0];
    const Bytes flash = Read("card.bin");
    EXPECT_EQ(PinsOffset(flash), NewBiosOptions().pinsOffset);
    EXPECT_EQ(PinsSerial(Pins(flash)), serial) << args[0];
  }
}

// Among them lines that would store something else: cut after 256 characters, or written
// into the checksum byte.
TEST_F(PinsSwitches, InvalidTextIsRefusedAndNothingIsWritten) {
  for (const std::string& bad :
       {std::string("Fill:\t0\t511\t0xFF\n\n:FileType\t\tlumivane\n"),
        "36\t4\t" + std::string(249, ' ') + "123", "40\t4\t" + std::string(242, ' ') + "0x12345678",
        std::string("511\t1\t0x00\n")}) {
    WriteText("bad.txt", bad);
    EXPECT_EQ(SaidBy(OnCard("", {"/s", "bad.txt"})), (Said{Report(), kInvalidText, 0})) << bad;
    EXPECT_EQ(Read("card.bin"), m_card);
  }
}

// Into a pipe whose reader has gone: a display or listing is lost, and says so where it
// can; a programming run still programs and reports its own result.
TEST_F(PinsSwitches, TextThatCannotBeWrittenFailsItsSwitchButNotAProgramming) {
  const RunLimits closed{.outputClosed = true};
  EXPECT_EQ(SaidBy(OnCard("", {"/ds"}, closed)),
            (Said{"", "ERROR! Product information structure couldn't be displayed.\n\n", 0}));
  EXPECT_EQ(SaidBy(OnCard("", {"/scan"}, closed)), (Said{"", "", 0}));
  const RunResult stopped = OnCard("", {"/ds", "/tvout", "pal"}, closed);
  EXPECT_EQ(stopped.status, 0);
  EXPECT_EQ(Read("card.bin"), m_card);

  EXPECT_EQ(SaidBy(OnCard("", {"/tvout", "pal"}, closed)), (Said{"", "", 1}));
  EXPECT_EQ(Pins(Read("card.bin"))[kTvOutByte] & 1, 1);
}

TEST_F(PinsSwitches, CalibrationBlockSavedByteForByte) {
  EXPECT_EQ(SaidBy(OnCard("", {"/dmcs", "mcs.bin"})), Created("mcs.bin"));
  EXPECT_EQ(Read("mcs.bin"), Slice(m_card, BiosSize(m_card), emu::SampleBiosOptions{}.mcsSize));
}

TEST_F(PinsSwitches, CardWithoutCalibrationBlockLeavesNoFileAndStopsTheRun) {
  m_card = emu::BuildSampleBios({.withMcs = false});
  Write("card.bin", m_card);
  EXPECT_EQ(SaidBy(OnCard("", {"/dmcs", "mcs.bin"})), (Said{Report(), kNoMcs, 0}));
  EXPECT_FALSE(Exists("mcs.bin"));

  EXPECT_EQ(SaidBy(OnCard("", {"/i", "new.bin", "/dmcs", "mcs.bin"})),
            (Said{Report() + m_newReport, kNoMcs, 0}));
  EXPECT_EQ(Read("card.bin"), m_card);
}

TEST_F(PinsSwitches, TvOutStandardIsBitZeroOfByte161) {
  for (const auto& [standard, bit] : {std::pair{"PAL", 1}, std::pair{"ntsc", 0}}) {
    const Bytes before = Pins(Read("card.bin"));
    EXPECT_EQ(SaidBy(OnCard("", {"/tvout", standard})), (Said{Report() + Programmed(), "", 1}));
    Bytes after = Pins(Read("card.bin"));
    EXPECT_EQ(after[kTvOutByte] & 1, bit) << standard;
    EXPECT_EQ(after[kTvOutByte] & 0xFE, before[kTvOutByte] & 0xFE);
    EXPECT_EQ(Sum8(after, 0, emu::kSamplePinsSize), 0);
  }
}

// A PInS whose checksum is wrong, or a valid record too short for byte 161 (128 bytes, or
// 162 where byte 161 is its checksum byte), fails and writes nothing; one of 163 bytes is
// written.
TEST_F(PinsSwitches, TvOutOnAnUnrecognizableOrShortPinsFailsAndWritesNothing) {
  const Bytes sample = m_card;
  for (const std::size_t size : {0, 128, 162, 163}) {  // 0: the checksum broken
    m_card = size == 0 ? emu::BuildSampleBios({.breakPinsChecksum = true}) : sample;
    const std::size_t at = PinsOffset(m_card);
    const std::size_t biosEnd = BiosSize(m_card);
    if (size != 0) {
      m_card[at + 2] = static_cast<std::uint8_t>(size);
      m_card[at + 3] = 0;
      m_card[at + size - 1] = 0;
      m_card[at + size - 1] = static_cast<std::uint8_t>(-Sum8(m_card, at, size));
      m_card[biosEnd - 1] =
          static_cast<std::uint8_t>(m_card[biosEnd - 1] - Sum8(m_card, 0, biosEnd));
    }
    Write("card.bin", m_card);
    CardReport report;
    report.serial = size == 0 ? "Unknown" : report.serial;

    const RunResult run = OnCard("", {"/tvout", "pal"});
    if (size > kTvOutByte + 1) {
      EXPECT_EQ(run.status, 1) << size;
      EXPECT_EQ(Read("card.bin")[at + kTvOutByte] & 1, 1) << size;
      continue;
    }
    EXPECT_EQ(SaidBy(run), (Said{kBanner + report.Text(), kPinsUnrecognizable, 0})) << size;
    EXPECT_EQ(Read("card.bin"), m_card) << size;
  }
}

}  // namespace
}  // namespace scenario
