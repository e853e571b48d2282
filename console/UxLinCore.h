// The console front end: binds the update session to a Linux terminal.
#pragma once

#include <cstddef>

#include "UxLib.h"

// The utility's version, shown in the banner.
constexpr UINT16 usMajorVer = 1;
constexpr UINT16 usMinorVer = 65;
// The joined command line with its terminating zero.
constexpr std::size_t UX_CMD_LINE_SIZE = 256;

// The whole run on the platform in force: root check, banner, joined arguments, session,
// release. Returns the exit status: 1 when the command line was executed successfully, 0
// otherwise.
int UxLinMain(int argc, char** argv);

// True when the real user ID is 0.
BOOL8 IsRoot();
// Prints the two-line banner and an empty line.
void DisplayConsoleAppInfo();
// Joins argv[1] to argv[argc-1] with single blanks; false when they do not fit, with the
// terminating zero, into strlenght bytes.
BOOL8 ArgvToStr(int argc, char** argv, char* pszStr, std::size_t strlenght);
// Print callbacks: the text goes out unchanged, never used as a format; TRUE when all of it
// reached the stream's file.
BOOL32 ConsolePrintOut(void* pvRefData, const ACHAR* pszString);
BOOL32 ConsolePrintErr(void* pvRefData, const ACHAR* pszString);
