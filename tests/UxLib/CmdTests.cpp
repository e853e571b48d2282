// The command-line parser: switch words, operands, limits and refusals.
#include <gtest/gtest.h>

#include <array>
#include <cstring>
#include <string>
#include <tuple>

#include "UxCmd.h"

namespace {

class Parser : public ::testing::Test {
 protected:
  bool Parse(const std::string& line) {
    std::array<ACHAR, 256> text{};
    std::strncpy(text.data(), line.c_str(), text.size() - 1);
    return InitCmd(&m_session, text.data()) == TRUE;
  }
  const CMD& Cmd() const { return m_session.hCmd; }
  std::string Option(UINT32 slot) const { return Cmd().hSwitch.pszOption[slot].data(); }

  UX_DATA m_session{};
};

TEST_F(Parser, FillsSlotsInCommandLineOrderWithLoweredOperands) {
  ASSERT_TRUE(Parse("/DEV 1A0 -I NEW.BIN /o Old.Bin"));
  ASSERT_EQ(Cmd().ucNumOfSwitch, 3);
  EXPECT_EQ(Cmd().hSwitch.ulID[0], UX_SWITCH_DEV);
  EXPECT_EQ(Cmd().hSwitch.ulOption[0], 0x1A0u);
  EXPECT_EQ(Option(0), "1a0");
  EXPECT_EQ(Cmd().hSwitch.ulID[1], UX_SWITCH_I);
  EXPECT_EQ(Option(1), "new.bin");
  EXPECT_EQ(Cmd().hSwitch.ulID[2], UX_SWITCH_O);
  EXPECT_EQ(Option(2), "old.bin");
}

TEST_F(Parser, EverySwitchHasTwoWords) {
  const std::array<std::pair<const char*, UINT32>, 10> lines{{
      {"d a", UX_SWITCH_D},
      {"dev 100", UX_SWITCH_DEV},
      {"ds", UX_SWITCH_DS},
      {"dmcs a", UX_SWITCH_DMCS},
      {"i a", UX_SWITCH_I},
      {"k a", UX_SWITCH_K},
      {"o a", UX_SWITCH_O},
      {"s a", UX_SWITCH_S},
      {"scan", UX_SWITCH_SCAN},
      {"tvout pal", UX_SWITCH_TVOUT},
  }};
  for (const auto& [line, id] : lines) {
    for (const char* prefix : {"/", "-"}) {
      SCOPED_TRACE(std::string(prefix) + line);
      ASSERT_TRUE(Parse(std::string(prefix) + line));
      EXPECT_EQ(Cmd().ucNumOfSwitch, 1);
      EXPECT_EQ(Cmd().hSwitch.ulID[0], id);
    }
  }
}

TEST_F(Parser, TvStandardsInAnyCase) {
  ASSERT_TRUE(Parse("/tvout PAL"));
  EXPECT_EQ(Cmd().hSwitch.ulOption[0], UX_TVOUT_PAL);
  ASSERT_TRUE(Parse("/tvout ntsc"));
  EXPECT_EQ(Cmd().hSwitch.ulOption[0], UX_TVOUT_NTSC);
}

TEST_F(Parser, AcceptsCombinationsAndExtraBlanks) {
  EXPECT_TRUE(Parse("/ds /scan"));
  EXPECT_EQ(Cmd().ucNumOfSwitch, 2);
  EXPECT_TRUE(Parse("/i a.bin /k b.bin"));
  EXPECT_TRUE(Parse("/i  a.bin   /o  b.bin"));
  EXPECT_EQ(Option(1), "b.bin");
  EXPECT_TRUE(Parse("/i ./x/new.bin"));
  EXPECT_EQ(Option(0), "./x/new.bin");
}

TEST_F(Parser, RefusesInvalidLines) {
  const std::array<const char*, 19> refused{
      "",                              // no argument
      " /ds",                          // empty first argument
      "/ds ",                          // empty last argument is no switch
      "/ix a",                         // not a switch word
      "ds",                            // no prefix
      "/o",                            // operand missing at the end
      "/o /ds",                        // operand missing before a switch
      "/i /tmp/new.bin",               // absolute path counts as missing
      "/i -new.bin",                   //
      "/dev 0x1a0",                    // no prefix allowed
      "/dev 1g",                       //
      "/tvout secam",                  //
      "/tvout",                        //
      "/o a.bin /o b.bin",             // the same switch twice
      "/o a.bin -o b.bin",             //
      "/dev 100 /i a.bin /o b.bin x",  // seven arguments
      "/ds /scan /dev 100 /d a",       // four switches
      "/ds /scan /tvout pal /d a",     //
      "/i a.bin /k b.bin /ds /scan",   // fourth switch after three
  };
  for (const char* line : refused) {
    SCOPED_TRACE(line);
    EXPECT_FALSE(Parse(line));
  }
}

TEST_F(Parser, OperandsUpToSixtyThreeCharacters) {
  const std::string longest(63, 'a');
  ASSERT_TRUE(Parse("/o " + longest));
  EXPECT_EQ(Option(0), longest);
  EXPECT_FALSE(Parse("/o " + longest + "b"));
  EXPECT_FALSE(Parse("/dev 0000000000000000000000000000000000000000000000000000000000000100"));
}

TEST(ArgumentCutting, SplitsInPlaceAndStopsAtTheMaximum) {
  std::array<ACHAR, 32> text{};
  std::strcpy(text.data(), "a  b c");
  std::array<ACHAR*, 6> argv{};
  INT32 argc = 0;
  ASSERT_TRUE(StrToArgv(text.data(), &argc, argv.data(), 6));
  ASSERT_EQ(argc, 3);
  EXPECT_STREQ(argv[0], "a");
  EXPECT_STREQ(argv[1], "b");
  EXPECT_STREQ(argv[2], "c");

  std::strcpy(text.data(), "a b c");
  EXPECT_FALSE(StrToArgv(text.data(), &argc, argv.data(), 2));
  std::strcpy(text.data(), "a b ");
  EXPECT_FALSE(StrToArgv(text.data(), &argc, argv.data(), 2));
}

TEST(HexReading, DigitsOnlyAndTheLastEightCount) {
  const std::tuple<std::string, bool, UINT32> cases[] = {{"1aF0", true, 0x1AF0u},
                                                         {"", true, 0u},
                                                         {"123456789", true, 0x23456789u},
                                                         {"12x4", false, 0x12u}};
  UINT32 value = 0;
  for (auto [text, valid, expected] : cases) {
    EXPECT_EQ(atoh(text.data(), &value) != FALSE, valid) << text;
    EXPECT_EQ(value, expected) << text;
  }
}

}  // namespace
