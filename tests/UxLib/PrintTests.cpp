// The output channel and the progress bar drawn while the EEPROM is written.
#include <gtest/gtest.h>

#include <string>

#include "UxPrint.h"

namespace {

struct Captured {
  std::string text;
};

BOOL32 Capture(void* pvRefData, const ACHAR* pszString) {
  static_cast<Captured*>(pvRefData)->text += pszString;
  return TRUE;
}

class Channel : public ::testing::Test {
 protected:
  void SetUp() override { UxPrintInit(&m_session, Capture, &m_out, Capture, &m_err); }

  // Reports every `step` positions up to `total`, as the EEPROM writer does.
  void Bar(INT32 step, INT32 total) {
    for (INT32 position = step; position <= total; position += step) {
      UxDisplayProgBar(position, total, &m_session);
    }
  }
  static std::string Dots(std::size_t count) { return std::string(count, '.') + "\n\n"; }

  UX_DATA m_session{};
  Captured m_out;
  Captured m_err;
};

TEST_F(Channel, MessagesGoToTheirChannelsUnchanged) {
  UxPrintOut(&m_session, "100% done\n");
  UxPrintErrMessage(&m_session, "ERROR! x");
  UxPrintOutFileMessage(&m_session, "SUCCESS! y", "a%sb.bin");
  EXPECT_EQ(m_out.text, "100% done\nSUCCESS! y a%sb.bin\n\n");
  EXPECT_EQ(m_err.text, "ERROR! x\n\n");
}

TEST_F(Channel, NullCallbacksDiscardAndDropTheirReference) {
  UxPrintInit(&m_session, nullptr, &m_out, Capture, nullptr);
  EXPECT_EQ(m_session.m_oPRINT.m_pvRefOut, nullptr);
  UxPrintOut(&m_session, "lost");
  EXPECT_EQ(m_out.text, "");
  UxPrintInit(&m_session, nullptr, nullptr, nullptr, nullptr);
  UxPrintErr(&m_session, "lost too");
}

TEST_F(Channel, BarOfPagesOf256Has46Dots) {
  Bar(256, 131072);
  EXPECT_EQ(m_out.text, Dots(46));
}

TEST_F(Channel, BarOfPagesOf128Has48Dots) {
  Bar(128, 131072);
  EXPECT_EQ(m_out.text, Dots(48));
}

TEST_F(Channel, BarOfSingleBytesHas50Dots) {
  Bar(1, 131072);
  EXPECT_EQ(m_out.text, Dots(50));
}

TEST_F(Channel, SingleFinalReportDrawsOneDotAndEndsTheBar) {
  UxDisplayProgBar(131072, 131072, &m_session);
  EXPECT_EQ(m_out.text, Dots(1));
}

TEST_F(Channel, RetriedPassDrawsASecondWholeBar) {
  Bar(256, 131072);
  Bar(256, 131072);
  EXPECT_EQ(m_out.text, Dots(46) + Dots(46));
}

TEST_F(Channel, PositionsOfZeroOrLessAreIgnored) {
  UxDisplayProgBar(0, 131072, &m_session);
  UxDisplayProgBar(-256, 131072, &m_session);
  UxDisplayProgBar(0, 0, &m_session);
  EXPECT_EQ(m_out.text, "");
  // The bar that follows is not disturbed.
  Bar(256, 131072);
  EXPECT_EQ(m_out.text, Dots(46));
}

}  // namespace
