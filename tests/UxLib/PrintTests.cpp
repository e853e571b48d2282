// The output channel and the progress bar drawn while the EEPROM is written.
#include <gtest/gtest.h>

#include <string>
#include <tuple>

#include "CapturedSession.h"
#include "UxPrint.h"

namespace {

class Channel : public CapturedSession {
 protected:
  // Reports every `step` positions up to `total`, as the EEPROM writer does.
  void Bar(INT32 step, INT32 total) {
    for (INT32 position = step; position <= total; position += step) {
      UxDisplayProgBar(position, total, &m_session);
    }
  }
  static std::string Dots(std::size_t count) { return std::string(count, '.') + "\n\n"; }
};

TEST_F(Channel, MessagesGoToTheirChannelsUnchanged) {
  UxPrintOut(&m_session, "100% done\n");
  UxPrintErrMessage(&m_session, "ERROR! x");
  UxPrintOutFileMessage(&m_session, "SUCCESS! y", "a%sb.bin");
  EXPECT_EQ(m_out, "100% done\nSUCCESS! y a%sb.bin\n\n");
  EXPECT_EQ(m_err, "ERROR! x\n\n");
}

TEST_F(Channel, NullCallbacksDiscard) {
  UxPrintInit(&m_session, nullptr, &m_out, nullptr, &m_err);
  UxPrintOut(&m_session, "lost");
  UxPrintErr(&m_session, "lost too");
  EXPECT_EQ(m_out + m_err, "");
}

// The first report at or beyond about a fiftieth of the total fixes the step, and each of
// its multiples draws a dot; a single final report draws one; a retried pass a second bar.
TEST_F(Channel, BarDrawsADotPerFiftiethReachedAndEndsWithAnEmptyLine) {
  const std::tuple<INT32, int, std::size_t> bars[] = {
      {256, 1, 46}, {128, 1, 48}, {1, 1, 50}, {131072, 1, 1}, {256, 2, 46}};
  for (const auto& [step, passes, dots] : bars) {
    m_out.clear();
    std::string expected;
    for (int pass = 0; pass < passes; ++pass) {
      Bar(step, 131072);
      expected += Dots(dots);
    }
    EXPECT_EQ(m_out, expected) << step << " x" << passes;
  }
}

TEST_F(Channel, PositionsOfZeroOrLessAreIgnored) {
  UxDisplayProgBar(0, 131072, &m_session);
  UxDisplayProgBar(-256, 131072, &m_session);
  UxDisplayProgBar(0, 0, &m_session);
  EXPECT_EQ(m_out, "");
  // The bar that follows is not disturbed.
  Bar(256, 131072);
  EXPECT_EQ(m_out, Dots(46));
}

}  // namespace
