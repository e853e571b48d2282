#include "UxLinCore.h"

#include <array>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "TvrPlatform.h"
#include "UxLinInhibit.h"
#include "UxLinSignals.h"

namespace {

constexpr const ACHAR* kTitle = "Tavrin BIOS update utility - Version";
constexpr const ACHAR* kNotice = "Copyright (c) Tavrin. All rights reserved.";
constexpr const ACHAR* kMsgNotRoot = "Error! You need root access to run this application.\n\n";
constexpr const ACHAR* kMsgNoParameters = "Error! Invalid command line (No parameters).\n\n";

BOOL32 Write(std::FILE* stream, const ACHAR* pszString) {
  const bool bWritten = std::fputs(pszString, stream) >= 0;
  const bool bFlushed = std::fflush(stream) == 0;
  NoteConsoleText(stream == stdout, pszString);
  return bFlushed && bWritten ? TRUE : FALSE;
}

// The card is written only when nothing has asked for the end before: an interruption that
// came earlier ends the run with the card as it was.
BOOL32 MayWriteCard(void*) { return InterruptionWaits() ? FALSE : TRUE; }

}  // namespace

BOOL8 IsRoot() { return TvrGetPlatform().UserId() == 0 ? 1 : 0; }

void DisplayConsoleAppInfo() {
  const std::string title = "\n" + std::string(kTitle) + " " + std::to_string(usMajorVer) + "." +
                            std::to_string(usMinorVer);
  const std::string banner = title + "\n" + kNotice + "\n\n";
  ConsolePrintOut(nullptr, banner.c_str());
}

BOOL8 ArgvToStr(int argc, char** argv, char* pszStr, std::size_t strlenght) {
  if (strlenght == 0) {
    return 0;
  }
  pszStr[0] = '\0';
  std::size_t used = 0;
  for (int i = 1; i < argc; ++i) {
    const std::size_t length = std::strlen(argv[i]);
    const bool last = i == argc - 1;
    const std::size_t needed = length + (last ? 0 : 1);
    // The joined text must keep room for its terminating zero.
    if (needed >= strlenght - used) {
      return 0;
    }
    std::memcpy(pszStr + used, argv[i], length);
    used += length;
    if (!last) {
      pszStr[used++] = ' ';
    }
    pszStr[used] = '\0';
  }
  return 1;
}

BOOL32 ConsolePrintOut(void*, const ACHAR* pszString) { return Write(stdout, pszString); }

BOOL32 ConsolePrintErr(void*, const ACHAR* pszString) { return Write(stderr, pszString); }

namespace {

// The session on the first card, from taking it to letting it go, with the ending
// signals held and sleep and shutdown held off throughout; the lock ends first.
UX_ERR RunSession(UXHANDLE hUx, ACHAR* pszCmdLine) {
  const HeldInterruptions held;
  const SleepInhibitor inhibitor;
  if (UxCreateHandle(hUx, 0, ConsolePrintOut, nullptr, ConsolePrintErr, nullptr) != UX_OK) {
    return UX_ERR_REFUSED;
  }
  UxSetWriteGate(hUx, MayWriteCard, nullptr);
  const UX_ERR result = UxExecLibrary(hUx, pszCmdLine);
  UxReleaseHandle(hUx);
  return result;
}

}  // namespace

int UxLinMain(int argc, char** argv) {
  IgnoreBrokenOutputSignals();
  if (!IsRoot()) {
    const std::string text = "\n" + std::string(kMsgNotRoot) + "\n";
    ConsolePrintOut(nullptr, text.c_str());
    return 0;
  }
  DisplayConsoleAppInfo();
  std::array<char, UX_CMD_LINE_SIZE> cmdLine{};
  if (!ArgvToStr(argc, argv, cmdLine.data(), cmdLine.size())) {
    const std::string text = std::string(kMsgNoParameters) + "\n";
    ConsolePrintOut(nullptr, text.c_str());
    return 0;
  }
  const auto hUx = static_cast<UXHANDLE>(std::malloc(UxGetHandleSize()));
  if (hUx == nullptr) {
    return 0;
  }
  const UX_ERR result = RunSession(hUx, cmdLine.data());
  std::free(hUx);
  return result == UX_OK ? 1 : 0;
}
