// The PInS text: what the export writes, what the import accepts and refuses, the round
// trip, and the programming stamp.
#include <algorithm>
#include <cctype>
#include <random>
#include <sstream>

#include "GBTestSupport.h"

namespace gbtest {
namespace {

std::vector<std::string> Lines(const std::string& text) {
  std::vector<std::string> lines;
  std::stringstream in(text);
  for (std::string line; std::getline(in, line);) {
    lines.push_back(line);
  }
  return lines;
}

class LumText : public ::testing::Test {
 protected:
  // The family line asks the card's configuration space for the device ID.
  void Card(std::uint16_t deviceId) {
    emu::PciFunction& f = m_machine.Emplace<emu::PciFunction>(1, 0, 0);
    f.SetConfig16(0, TAVRIN_VENDOR_ID);
    f.SetConfig16(2, deviceId);
  }

  static std::string Export(MemoryImage& m, INT32 size = 4096) {
    std::string buffer(static_cast<std::size_t>(size), '#');
    EXPECT_EQ(TRUE, LumPInSDataToASCII(m.Handle(), buffer.data(), size));
    return buffer.substr(0, buffer.find('\0'));
  }

  static BOOL32 Import(MemoryImage& m, const std::string& text) {
    return LumPInSASCIIToData(m.Handle(), text.data(), static_cast<INT32>(text.size()));
  }

  emu::Machine m_machine;
  emu::ScopedPlatform m_platform{m_machine};
};

TEST_F(LumText, SampleTextLineByLine) {
  Card(DEVID_LUMIVANE_A);
  MemoryImage m(emu::BuildSampleBios());
  const std::string text = Export(m);
  EXPECT_EQ(0u, text.rfind("Fill:\t0\t511\t0xFF\n\n0\t2\t0x412E\n2\t2\t0x0200\n4\t2\t0x0102\n", 0));
  const std::string tail =
      "\n\n:FileType\t\tLumivane\n:PCBInfo\t\t42-03\n:SubSystemVendorID\t0x20011F2E";
  ASSERT_GT(text.size(), tail.size());
  EXPECT_EQ(tail, text.substr(text.size() - tail.size()));

  const std::vector<std::string> lines = Lines(text);
  ASSERT_EQ(1u + 1 + 138 + 1 + 3, lines.size());
  const std::vector<std::string> expected = {
      "6\t2\t0x0A6E",       "8\t2\t0x0003",       "10\t2\t0x0021",      "12\t16\t'TS05A00017'",
      "28\t6\t'RB-2'",      "36\t4\t1000",        "40\t4\t0x00C80000",  "44\t2\t100",
      "54\t2\t105",         "56\t4\t2000",        "116\t4\t-40",        "120\t4\t0x80000001",
      "124\t4\t250000",     "128\t4\t0x00000000", "132\t4\t0x01000111", "376\t16\t'CAL-05'",
      "392\t4\t0x00000000", "396\t4\t0x01010101", "508\t1\t0x01",       "509\t1\t0x00",
      "510\t1\t0x5A"};
  for (const std::string& line : expected) {
    EXPECT_NE(lines.end(), std::find(lines.begin(), lines.end(), line)) << line;
  }
  EXPECT_EQ("", lines[1]);
  EXPECT_EQ("510\t1\t0x5A", lines[139]);
  EXPECT_EQ("", lines[140]);
}

// A string goes out between quotes as it is; one holding a line feed, which would split its
// line, or whose first blank follows a quote, which would end it there, goes out as its
// bytes, which the import refuses for a string field.
TEST_F(LumText, StringLinesCarryTheirBytes) {
  Card(DEVID_LUMIVANE_A);
  const std::pair<const char*, const char*> cases[] = {
      {"ABCDEFGHIJKLMNOP", "12\t16\t'ABCDEFGHIJKLMNOP'"},  // no zero byte
      {"TS05 A00017", "12\t16\t'TS05 A00017'"},
      {" 'A' B\t'", "12\t16\t' 'A' B\t''"},
      {"A'B C' D'", "12\t16\t'A'B C' D''"},
      {"TS05\nA0\r", "12\t16\t0x545330350A41300D"},
      {"AB' CD", "12\t16\t0x414227204344"},
      {"AB'\r", "12\t16\t0x4142270D"},
  };
  for (const auto& [serial, line] : cases) {
    MemoryImage m(emu::BuildSampleBios({.serialNumber = serial}));
    const std::string text = Export(m);
    const std::vector<std::string> lines = Lines(text);
    EXPECT_EQ(line, lines[8]);
    EXPECT_EQ("28\t6\t'RB-2'", lines[9]);
    MemoryImage target(emu::BuildSampleBios());
    EXPECT_EQ(std::strchr(line, '\'') ? TRUE : FALSE, Import(target, text)) << line;
  }
}

TEST_F(LumText, FamilyLineFollowsTheCardsDeviceID) {
  const std::pair<std::uint16_t, const char*> cases[] = {
      {DEVID_LUMIVANE_B, "\n:FileType\t\tLumivane\n:PCBInfo"},
      {DEVID_Z_SERIES, "\n:FileType\t\tBrisel\n:PCBInfo"},
      {0x1234, "\n510\t1\t0x5A\n:PCBInfo"},  // no family line at all
  };
  emu::PciFunction& f = m_machine.Emplace<emu::PciFunction>(1, 0, 0);
  for (const auto& [deviceId, piece] : cases) {
    f.SetConfig16(2, deviceId);
    MemoryImage m(emu::BuildSampleBios());
    EXPECT_NE(std::string::npos, Export(m).find(piece)) << deviceId;
  }
}

TEST_F(LumText, PcbMajorAbove999IsShownWith6000Added) {
  Card(DEVID_LUMIVANE_A);
  const std::pair<std::uint16_t, const char*> cases[] = {
      {(999 << 4) | 2, ":PCBInfo\t\t999-02\n"},
      {(1000 << 4) | 0, ":PCBInfo\t\t7000-00\n"},
      {(1234 << 4) | 15, ":PCBInfo\t\t7234-15\n"},
  };
  for (const auto& [word, line] : cases) {
    MemoryImage m(emu::BuildSampleBios());
    GBPinsSetWord(m.Handle(), 34, word);
    EXPECT_NE(std::string::npos, Export(m).find(line)) << line;
  }
}

TEST_F(LumText, ExportStopsWhenThePieceLeavesNoRoomForTheZero) {
  Card(DEVID_LUMIVANE_A);
  MemoryImage m(emu::BuildSampleBios());
  const std::string full = Export(m);
  const INT32 exact = static_cast<INT32>(full.size()) + 1;
  EXPECT_EQ(full, Export(m, exact));

  std::string buffer(static_cast<std::size_t>(exact - 1), '#');
  EXPECT_EQ(FALSE, LumPInSDataToASCII(m.Handle(), buffer.data(), exact - 1));
  const std::string lastPiece = ":SubSystemVendorID\t0x20011F2E";
  EXPECT_EQ(full.substr(0, full.size() - lastPiece.size()), buffer.substr(0, buffer.find('\0')));
  EXPECT_EQ(std::string(lastPiece.size(), '\0'), buffer.substr(full.size() - lastPiece.size()));

  char one = '#';
  EXPECT_EQ(FALSE, LumPInSDataToASCII(m.Handle(), &one, 1));
  EXPECT_EQ('\0', one);
  EXPECT_EQ(FALSE, LumPInSDataToASCII(m.Handle(), &one, 0));
  EXPECT_EQ(FALSE, LumPInSDataToASCII(m.Handle(), &one, -5));
  EXPECT_EQ(GB_ERR_BUFFER_SIZE, GBGetPInSInASCIIBuffer(m.Handle(), buffer.data(), 19));
  EXPECT_EQ("Fill:\t0\t511\t0xFF\n\n", buffer.substr(0, buffer.find('\0')));
}

// The string fields of a PInS: offset and size.
constexpr std::pair<std::uint32_t, std::uint32_t> kStringFields[] = {{12, 16}, {28, 6}, {376, 16}};

// Bytes 0-510 of a PInS after a round trip: word 10 gains bit 15, string fields are 0xFF
// after their zero byte.
Bytes AfterRoundTrip(Bytes pins) {
  pins[11] |= 0x80;
  for (const auto& [offset, size] : kStringFields) {
    const auto field = pins.begin() + offset;
    const auto zero = std::find(field, field + size, 0);
    if (zero != field + size) {
      std::fill(zero + 1, field + size, 0xFF);
    }
  }
  return Slice(pins, 0, 511);
}

// A string no quoted line carries: a line feed splits the line, and a quote before the
// first blank would close the string there.
bool StringFieldUnquotable(const Bytes& pins) {
  for (const auto& [offset, size] : kStringFields) {
    const std::string text(pins.begin() + offset,
                           std::find(pins.begin() + offset, pins.begin() + offset + size, 0));
    const auto blank = std::find_if(text.begin(), text.end(), [](char c) {
      return std::isspace(static_cast<unsigned char>(c));
    });
    if (text.find('\n') != std::string::npos ||
        (blank != text.begin() && blank != text.end() && blank[-1] == '\'')) {
      return true;
    }
  }
  return false;
}

// Whatever a PInS of any model holds, its text reads back to the same bytes, or, when a
// string field holds what no quoted line carries, is refused.
TEST(LumTextRoundTrip, EveryModelsTextReadsBackExactlyOrIsRefused) {
  std::mt19937 random(11);
  const std::string kPrintable("AZ09-_'\";:\x7F\xA0\xFF\0", 14);
  const std::string kWithBlanks = kPrintable + " \t\n\r\v\f";
  for (const char* model : {"lumivane-a", "lumivane-b", "z-series"}) {
    emu::Machine machine;
    emu::ScopedPlatform platform(machine);
    machine.Emplace<emu::PciFunction>(1, 0, 0).SetConfig16(2, *emu::SampleModelDeviceId(model));
    int refused = 0;
    for (int round = 0; round < 100; ++round) {
      MemoryImage source(emu::BuildSampleBios());
      for (std::uint32_t i = 4; i < 511; ++i) {
        GBPinsSetByte(source.Handle(), i, static_cast<UINT8>(random()));
      }
      for (const auto& [offset, size] : kStringFields) {
        for (std::uint32_t i = offset; i < offset + size && round % 3 != 2; ++i) {
          const std::string& bytes = round % 3 == 0 ? kWithBlanks : kPrintable;
          GBPinsSetByte(source.Handle(), i, static_cast<UINT8>(bytes[random() % bytes.size()]));
        }
      }
      // Strings whose text would otherwise read as a shorter string and a line skipped.
      const char* const kSplitting[] = {"AB'\n;x", "AB'\n:k", "AB'\n", "AB'\r", "AB'\n\t;"};
      if (round < 5) {
        GBPinsSetBuffer(source.Handle(), 12, kSplitting[round], std::strlen(kSplitting[round]) + 1);
      }
      GBPinsComputeChecksum(source.Handle());
      source.Data().m_oSubSys.ulSubsys = random();
      std::string text(4096, '\0');
      ASSERT_EQ(GB_SUCCESS, GBGetPInSInASCIIBuffer(source.Handle(), text.data(), 4096));
      text.resize(text.find('\0'));

      MemoryImage target(emu::BuildSampleBios());
      const GB_ERR result =
          GBSetPInSFromASCIIBuffer(target.Handle(), text.data(), static_cast<INT32>(text.size()));
      if (StringFieldUnquotable(source.Pins())) {
        EXPECT_EQ(GB_ERR_INVALID_PINS_TEXT, result) << model << "\n" << text;
        ++refused;
        continue;
      }
      ASSERT_EQ(GB_SUCCESS, result) << model << "\n" << text;
      EXPECT_EQ(AfterRoundTrip(source.Pins()), Slice(target.Pins(), 0, 511)) << model << "\n"
                                                                             << text;
      EXPECT_EQ(source.Data().m_oSubSys.ulSubsys, target.Data().m_oSubSys.ulSubsys);
      // The same text with line ends of two characters reads the same.
      std::string windows;
      for (char c : text) {
        windows += c == '\n' ? std::string("\r\n") : std::string(1, c);
      }
      MemoryImage crlf(emu::BuildSampleBios());
      ASSERT_EQ(GB_SUCCESS, GBSetPInSFromASCIIBuffer(crlf.Handle(), windows.data(),
                                                     static_cast<INT32>(windows.size())));
      EXPECT_EQ(Slice(target.Pins(), 0, 511), Slice(crlf.Pins(), 0, 511)) << model << "\n" << text;
    }
    EXPECT_GT(refused, 20) << model;
    EXPECT_LT(refused, 40) << model;
  }
}

TEST_F(LumText, CommentsAndEmptyLinesOnlySetTheNoFileIDBit) {
  MemoryImage m(emu::BuildSampleBios());
  Bytes expected = m.Pins();
  expected[11] |= 0x80;
  EXPECT_EQ(TRUE, Import(m, "; a comment\n\n   \t\n;another 100 1 0x5\r\n"));
  EXPECT_EQ(expected, m.Pins());
  EXPECT_EQ(TRUE, Import(m, ""));
}

// The bytes of `text` and the zero byte that ends it.
Bytes Terminated(const std::string& text) {
  Bytes bytes(text.begin(), text.end());
  bytes.push_back(0);
  return bytes;
}

struct ImportCase {
  std::string text;
  BOOL32 accepted;
  std::uint32_t offset;  // where to look afterwards
  Bytes bytes;           // what lies there
};

TEST_F(LumText, ImportRulesLineByLine) {
  const ImportCase cases[] = {
      {"100\t3\t0x7", TRUE, 99, {0x00, 7, 7, 7, 0x00}},
      {"200\t4\t-2", TRUE, 200, {0xFE, 0xFF, 0xFF, 0xFF}},
      {"200\t4\t305419896", TRUE, 200, {0x78, 0x56, 0x34, 0x12}},
      {"200\t2\t  0xBEEF  ", TRUE, 200, {0xEF, 0xBE, 0x00}},
      {"200\t1\t-128", TRUE, 200, {0x80, 0x13}},
      {"200\t2\t65535", TRUE, 200, {0xFF, 0xFF, 0x00}},
      {"200\t2\t-32768", TRUE, 200, {0x00, 0x80, 0x00}},
      {"200\t4\t4294967295", TRUE, 200, {0xFF, 0xFF, 0xFF, 0xFF}},
      {"200\t4\t-2147483648", TRUE, 200, {0x00, 0x00, 0x00, 0x80}},
      {"200\t0\t0x9", TRUE, 200, {0x32}},
      {"28\t6\t'ab'", TRUE, 27, {0x00, 'a', 'b', 0, '2'}},
      {"12\t16\t'ABCDEFGHIJKLMNOP'", TRUE, 27, {'P', 0, 'B'}},
      {"28\t6\t''", TRUE, 28, {0, 'B'}},
      // No line writes a value at byte 511: it is the checksum, recomputed afterwards. A fill
      // may cover it, and the zero byte of a string as long as its field may land there.
      {"510\t1\t0x07", TRUE, 509, {0x00, 0x07}},
      {"509\t2\t0x0807", TRUE, 508, {0x01, 0x07, 0x08}},
      {"507\t4\t0x04030201", TRUE, 507, {1, 2, 3, 4}},
      {"508\t3\t0x6", TRUE, 507, {0x1C, 6, 6, 6}},
      {"495\t16\t'abc'", TRUE, 495, {'a', 'b', 'c', 0}},
      {"505\t6\t'abcdef'", TRUE, 510, {'f', 0}},
      {"511\t0\t0x9", TRUE, 510, {0x5A}},
      {"511\t1\t0x00", FALSE, 510, {0x5A}},
      {"510\t2\t0x0807", FALSE, 510, {0x5A}},
      {"508\t4\t0x01020304", FALSE, 508, {0x01, 0x00, 0x5A}},
      {"509\t3\t0x6", TRUE, 508, {0x01, 6, 6, 6}},
      {"496\t16\t'abc'", TRUE, 496, {'a', 'b', 'c', 0}},
      {"506\t6\t'abcd'", TRUE, 506, {'a', 'b', 'c', 'd', 0}},
      {"506\t6\t'abcde'", FALSE, 506, {0x1C}},
      {"496\t16\t'abcdefghijklmno'", FALSE, 496, {0x1A}},
      {"506\t6\t'abcdef'", FALSE, 506, {0x1C}},
      {"510\t4\t0x0", FALSE, 510, {0x5A}},
      {"0\t513\t0x0", FALSE, 0, {0x2E}},
      {"-1\t2\t0x1", FALSE, 0, {0x2E}},
      {"10\t-2\t0x1", FALSE, 10, {0x21}},
      {"abc\t2\t0x1", FALSE, 0, {0x2E}},
      {"12x\t2\t0x1", FALSE, 12, {'T'}},
      {"12\t2", FALSE, 12, {'T'}},
      {"12\t2\tx1", FALSE, 12, {'T'}},
      {"12\t16\tABC'", FALSE, 12, {'T'}},
      {"99999999999\t1\t0x1", FALSE, 0, {0x2E}},
      // A string runs to the last quote that ends a token: blanks and quotes are its own.
      {"12\t16\t'TS05 A0 0017'", TRUE, 12, Terminated("TS05 A0 0017")},
      {"12\t16\t' HELLO\t'", TRUE, 12, Terminated(" HELLO\t")},
      {"12\t16\t'HEL'LO WORLD'", TRUE, 12, Terminated("HEL'LO WORLD")},
      {"28\t6\t'''", TRUE, 28, {'\'', 0}},
      // A first token that ends with a quote is the string; what follows after white space
      // is a note, as is what follows the last quote; a quote glued to more ends nothing.
      {"12\t16\t'ABC' 'x'", TRUE, 12, {'A', 'B', 'C', 0, 'A'}},
      {"28\t6\t'AB' 'note'", TRUE, 28, {'A', 'B', 0, '2'}},
      {"12\t16\t'HELLO' WORLD'", TRUE, 12, {'H', 'E', 'L', 'L', 'O', 0, '0', '0'}},
      {"28\t6\t'AB C' x", TRUE, 28, {'A', 'B', ' ', 'C', 0}},
      {"28\t6\t'ab'\t; it's", TRUE, 28, {'a', 'b', 0}},
      {"28\t6\t'ab'x", FALSE, 28, {'R', 'B'}},
      {"12\t16\t'HELLO", FALSE, 12, {'T', 'S', '0', '5', 'A'}},
      {"12\t16\t'", FALSE, 12, {'T', 'S', '0', '5', 'A'}},
      {"28\t6\t'abcdefg'", FALSE, 28, {'R', 'B'}},
      {"28\t6\t'ab cdef'", FALSE, 28, {'R', 'B'}},
      {"12\t16\t0x545330350A", FALSE, 12, {'T', 'S'}},
      {"12\t16\t'ABCDEFGHIJKLMNOPQ'", FALSE, 12, {'T', 'S'}},
      {"200\t4\t0X64", FALSE, 200, {0x32, 0x13}},
      // A number glued to anything is refused; after white space comes a note.
      {"200\t4\t1e3", FALSE, 200, {0x32, 0x13}},
      {"200\t4\t0x12g", FALSE, 200, {0x32, 0x13}},
      {"200\t4\t0x5;", FALSE, 200, {0x32, 0x13}},
      {"200\t4\t5 6", TRUE, 200, {5, 0, 0, 0}},
      {"36\t4\t1000\t; note", TRUE, 36, {0xE8, 0x03, 0, 0}},
      {"200\t2\t0x0102 ;0x0304", TRUE, 200, {2, 1, 0}},
      {"200\t2\t0x12345", FALSE, 200, {0x32, 0x13}},
      {"200\t2\t65536", FALSE, 200, {0x32, 0x13}},
      {"200\t2\t-32769", FALSE, 200, {0x32, 0x13}},
      {"200\t1\t0x1FF", FALSE, 200, {0x32, 0x13}},
      {"200\t1\t256", FALSE, 200, {0x32, 0x13}},
      {"200\t4\t4294967296", FALSE, 200, {0x32, 0x13}},
      {"200\t4\t-2147483649", FALSE, 200, {0x32, 0x13}},
      {"100\t3\t0x100", FALSE, 100, {0x30}},
      {"Fill:\t0\t511\t0xFF 0", TRUE, 0, Bytes(1, 0xFF)},
      {":LumfileID\t0x12345", FALSE, 10, {0x21, 0x00}},
      {":LumfileID\t0x1234 0x5", TRUE, 10, {0x34, 0x12}},
      {":LumfileID\t0x1234;", FALSE, 10, {0x21, 0x00}},
      {":PCBInfo\t\t42-16", FALSE, 34, {0xA3, 0x02}},
      {":PCBInfo\t\t5000-1", FALSE, 34, {0xA3, 0x02}},
      {":PCBInfo\t\t42-3x", FALSE, 34, {0xA3, 0x02}},
      {":PCBInfo\t\t42-04 rev. B", TRUE, 34, {0xA4, 0x02}},
      {"Fill:\t0\t511\t0xFF", TRUE, 0, Bytes(1, 0xFF)},
      {"Fill:\t500\t11\t0x00", TRUE, 499, {0x1A, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0x16}},
      {"Fill:\t500\t12\t0x00", TRUE, 500, Bytes(12, 0)},
      {"Fill:\t0\t512\t0xFF", TRUE, 500, Bytes(12, 0xFF)},
      {"Fill:\t0\t513\t0x00", FALSE, 0, {0x2E}},
      {"Fill:\t0\tabc\t0xFF", FALSE, 0, {0x2E}},
      {":LumfileID\t0x1234", TRUE, 10, {0x34, 0x12}},
      {":LumfileID\tzz", FALSE, 10, {0x21, 0x00}},
      {":FileType\t\tLumivane", TRUE, 10, {0x21, 0x80}},
      {":FileType\t\tBrisel", TRUE, 10, {0x21, 0x80}},
      {":FileType\t\tlumivane", FALSE, 10, {0x21, 0x00}},
      {":FileType", FALSE, 10, {0x21, 0x00}},
      {":PCBInfo\t\t7234-05", TRUE, 34, {0x25, 0x4D}},
      {":PCBInfo\t\t7000-00", TRUE, 34, {0x80, 0x3E}},
      {":PCBInfo\t\t999-2", TRUE, 34, {0x72, 0x3E}},
      {":PCBInfo\t\t12", FALSE, 34, {0xA3, 0x02}},
      {":Unknown\tkey 1 2 3", TRUE, 10, {0x21, 0x80}},
      // A refused line keeps the lines before it, stops the reading and sets no bit 15.
      {"100\t3\t0x7\n510\t4\t0x0\n101\t1\t0x9\n:LumfileID\t0x0001", FALSE, 100, {7, 7, 7}},
      {"100\t3\t0x7\n510\t4\t0x0\n101\t1\t0x9\n:LumfileID\t0x0001", FALSE, 10, {0x21, 0x00}},
      // A zero byte ends a line.
      {std::string("100\t1\t0x5\0garbage\n101\t1\t0x6", 27), TRUE, 100, {5, 6}},
  };
  for (const ImportCase& c : cases) {
    MemoryImage m(emu::BuildSampleBios());
    EXPECT_EQ(c.accepted, Import(m, c.text)) << c.text;
    EXPECT_EQ(c.bytes, Slice(m.Pins(), c.offset, static_cast<std::uint32_t>(c.bytes.size())))
        << c.text;
  }
}

TEST_F(LumText, SubsystemKeySetsTheObjectsWord) {
  MemoryImage m(emu::BuildSampleBios());
  EXPECT_EQ(TRUE, Import(m, ":SubSystemVendorID\t0x12345678"));
  EXPECT_EQ(0x12345678u, m.Data().m_oSubSys.ulSubsys);
  EXPECT_EQ(FALSE, Import(m, ":SubSystemVendorID\t0x123456789"));
  EXPECT_EQ(0x12345678u, m.Data().m_oSubSys.ulSubsys);
}

TEST_F(LumText, LongLinesAndTokens) {
  // A line of up to 256 characters is read whole; a longer one reads as its first 256 when
  // the rest is white space, and refuses the text when the cut would change what it reads.
  std::string first = "100\t1\t0x5";
  first.resize(256, ' ');
  MemoryImage m(emu::BuildSampleBios());
  EXPECT_EQ(TRUE, Import(m, first + "\n101\t1\t0x6"));
  EXPECT_EQ(Bytes({5, 6}), Slice(m.Pins(), 100, 2));
  EXPECT_EQ(TRUE, Import(m, std::string(300, ' ') + "\n36\t4\t77" + std::string(250, ' ') +
                                "\r\n102\t1\t0x8"));
  EXPECT_EQ(Bytes({77, 0, 0, 0}), Slice(m.Pins(), 36, 4));
  EXPECT_EQ(Bytes({5, 6, 8}), Slice(m.Pins(), 100, 3));
  EXPECT_EQ(FALSE, Import(m, "101\t1\t0x7\n" + first + "Z\n102\t1\t0x9"));
  EXPECT_EQ(Bytes({5, 7, 8}), Slice(m.Pins(), 100, 3));
  EXPECT_EQ(FALSE, Import(m, "; a long note" + std::string(250, ' ') + "100 1 0x9"));
  EXPECT_EQ(Bytes({5, 7, 8}), Slice(m.Pins(), 100, 3));
  for (const std::string& line : {"36\t4\t" + std::string(249, ' ') + "123",
                                  "40\t4\t" + std::string(242, ' ') + "0x12345678"}) {
    MemoryImage card(emu::BuildSampleBios());
    const Bytes before = card.Pins();
    EXPECT_EQ(GB_ERR_INVALID_PINS_TEXT, GBSetPInSFromASCIIBuffer(card.Handle(), line.data(),
                                                                 static_cast<INT32>(line.size())));
    EXPECT_EQ(before, card.Pins());
  }

  const std::string token127(127, '7');
  EXPECT_EQ(TRUE, Import(m, ":" + token127.substr(1) + "\t1"));
  EXPECT_EQ(FALSE, Import(m, ":" + token127 + "\t1"));
  EXPECT_EQ(FALSE, Import(m, "12\t16\t'" + std::string(127, 'a') + "'"));
  EXPECT_EQ(FALSE, Import(m, std::string(4000, '1')));
}

// Each stamp writes the loaded counter plus one, whatever the copy holds, and today's date.
TEST_F(LumText, StampWritesTodayAndLoadedCounterPlusOne) {
  m_machine.SetLocalTime(Date(2027, 12, 31));
  MemoryImage m(emu::BuildSampleBios());
  ASSERT_EQ(TRUE, Import(m, "8\t2\t0x0099\n6\t2\t0x0001"));
  LumUpdatePInSCountDate(m.Handle());
  LumUpdatePInSCountDate(m.Handle());
  EXPECT_EQ((27 << 9) | (12 << 5) | 31, GBPinsGetWord(m.Handle(), 6));
  EXPECT_EQ(4, GBPinsGetWord(m.Handle(), 8));
  EXPECT_EQ(0, Sum8(m.Pins(), 0, 512));
}

TEST_F(LumText, ObjectTextCallsCheckThePins) {
  Card(DEVID_LUMIVANE_A);
  MemoryImage bad(emu::BuildSampleBios({.breakPinsChecksum = true}));
  std::string buffer(4096, '\0');
  EXPECT_EQ(GB_SUCCESS, GBGetPInSInASCIIBuffer(bad.Handle(), buffer.data(), 4096));
  EXPECT_EQ(GB_ERR_INVALID_PINS, GBSetPInSFromASCIIBuffer(bad.Handle(), buffer.data(), 10));

  MemoryImage good(emu::BuildSampleBios());
  EXPECT_EQ(GB_SUCCESS, GBSetPInSFromASCIIBuffer(good.Handle(), "100 1 0x5", 9));
  EXPECT_EQ(0, Sum8(good.Pins(), 0, 512));
  EXPECT_EQ(5, good.Pins()[100]);
  EXPECT_EQ(GB_ERR_INVALID_PINS_TEXT, GBSetPInSFromASCIIBuffer(good.Handle(), "", -1));
  EXPECT_EQ(GB_ERR_INVALID_HANDLE, GBSetPInSFromASCIIBuffer(nullptr, "", 0));
  EXPECT_EQ(GB_ERR_INVALID_HANDLE, GBGetPInSInASCIIBuffer(nullptr, buffer.data(), 4096));
}

}  // namespace
}  // namespace gbtest
