// A session record whose output and error channels are captured as text.
#pragma once

#include <gtest/gtest.h>

#include <string>

#include "UxPrint.h"

// Appends what a channel prints to the string its reference points at.
inline BOOL32 Capture(void* pvRefData, const ACHAR* pszString) {
  *static_cast<std::string*>(pvRefData) += pszString;
  return TRUE;
}

class CapturedSession : public ::testing::Test {
 protected:
  CapturedSession() { UxPrintInit(&m_session, Capture, &m_out, Capture, &m_err); }

  UX_DATA m_session{};
  std::string m_out;
  std::string m_err;
};
