#include "UxPrint.h"

#include <string>

namespace {

constexpr INT32 kMaxDots = 50;
constexpr const ACHAR* kDot = ".";
constexpr const ACHAR* kBarEnd = "\n\n";

// Distance between two dots of the bar in progress; 0 while no bar has chosen its step.
INT32 s_StepIncrement = 0;

std::string MessageLine(const ACHAR* pszMessage) { return std::string(pszMessage) + "\n\n"; }

std::string FileMessageLine(const ACHAR* pszMessage, const ACHAR* pszFileName) {
  return std::string(pszMessage) + " " + pszFileName + "\n\n";
}

}  // namespace

BOOL32 UxPrintInit(UXHANDLE hUx, FCT_DISPLAY fnPrintOut, void* pvRefOut, FCT_DISPLAY fnPrintErr,
                   void* pvRefErr) {
  UX_PRINT& print = hUx->m_oPRINT;
  print.m_fnPrintOut = fnPrintOut ? fnPrintOut : UxPrintDefault;
  print.m_pvRefOut = fnPrintOut ? pvRefOut : nullptr;
  print.m_fnPrintErr = fnPrintErr ? fnPrintErr : UxPrintDefault;
  print.m_pvRefErr = fnPrintErr ? pvRefErr : nullptr;
  return TRUE;
}

void UxPrintCleanup(UXHANDLE) {}

BOOL32 UxPrintOut(UXHANDLE hUx, const ACHAR* pszString) {
  return hUx->m_oPRINT.m_fnPrintOut(hUx->m_oPRINT.m_pvRefOut, pszString);
}

BOOL32 UxPrintErr(UXHANDLE hUx, const ACHAR* pszString) {
  return hUx->m_oPRINT.m_fnPrintErr(hUx->m_oPRINT.m_pvRefErr, pszString);
}

BOOL32 UxPrintDefault(void*, const ACHAR*) { return TRUE; }

void UxPrintOutMessage(UXHANDLE hUx, const ACHAR* pszMessage) {
  UxPrintOut(hUx, MessageLine(pszMessage).c_str());
}

void UxPrintErrMessage(UXHANDLE hUx, const ACHAR* pszMessage) {
  UxPrintErr(hUx, MessageLine(pszMessage).c_str());
}

void UxPrintOutFileMessage(UXHANDLE hUx, const ACHAR* pszMessage, const ACHAR* pszFileName) {
  UxPrintOut(hUx, FileMessageLine(pszMessage, pszFileName).c_str());
}

void UxPrintErrFileMessage(UXHANDLE hUx, const ACHAR* pszMessage, const ACHAR* pszFileName) {
  UxPrintErr(hUx, FileMessageLine(pszMessage, pszFileName).c_str());
}

void UxDisplayProgBar(INT32 iCurrentPos, INT32 iMaxPos, void* pvRefIn) {
  // The writer reports positions past the data sent, so they start at 1; anything else is
  // no progress and must not reach the division below.
  if (iCurrentPos <= 0) {
    return;
  }
  const auto hUx = static_cast<UXHANDLE>(pvRefIn);
  if (s_StepIncrement == 0) {
    // The first report at or beyond about a fiftieth of the total fixes the step.
    if (iMaxPos / iCurrentPos <= kMaxDots) {
      s_StepIncrement = iCurrentPos;
      UxPrintOut(hUx, kDot);
    }
  } else if (iCurrentPos % s_StepIncrement == 0) {
    UxPrintOut(hUx, kDot);
  }
  if (iCurrentPos == iMaxPos) {
    s_StepIncrement = 0;
    UxPrintOut(hUx, kBarEnd);
  }
}
