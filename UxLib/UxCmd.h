// The command-line parser: turns the joined command string into the CMD record of at most
// three switches with their operands.
#pragma once

#include "UxLib.h"

// The most arguments a command line may hold.
constexpr UINT8 UX_MAX_ARGS = 6;

// Fills hUx->hCmd; the string is lowered and cut in place. True when the line is acceptable.
BOOL32 InitCmd(UXHANDLE hUx, ACHAR* pszCmdLine);
// Cuts the string at blanks into at most ucArgcMax arguments.
BOOL32 StrToArgv(ACHAR* pszCmdLine, INT32* argc, ACHAR** argv, UINT8 ucArgcMax);
// Matches the arguments against the switch set.
BOOL32 FillCmdStruct(INT32 argc, ACHAR** argv, CMD* pCmd);
// Reads a hexadecimal number without prefix; only the last eight digits count.
BOOL32 atoh(ACHAR* pszString, UINT32* ulHexValue);
