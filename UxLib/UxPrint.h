// The session's output channel: the two print callbacks of the host program, the message
// shapes every module uses, and the progress bar drawn while the EEPROM is written.
#pragma once

#include "UxLib.h"

// A null callback gets UxPrintDefault and a null reference: output there is discarded.
BOOL32 UxPrintInit(UXHANDLE hUx, FCT_DISPLAY fnPrintOut, void* pvRefOut, FCT_DISPLAY fnPrintErr,
                   void* pvRefErr);
void UxPrintCleanup(UXHANDLE hUx);
// TRUE when the channel took the whole text.
BOOL32 UxPrintOut(UXHANDLE hUx, const ACHAR* pszString);
BOOL32 UxPrintErr(UXHANDLE hUx, const ACHAR* pszString);
// Discards the text, as asked: TRUE.
BOOL32 UxPrintDefault(void* pvRefData, const ACHAR* pszString);

// A message followed by an empty line ("%s\n\n").
void UxPrintOutMessage(UXHANDLE hUx, const ACHAR* pszMessage);
void UxPrintErrMessage(UXHANDLE hUx, const ACHAR* pszMessage);
// A message naming a file, followed by an empty line ("%s %s\n\n").
void UxPrintOutFileMessage(UXHANDLE hUx, const ACHAR* pszMessage, const ACHAR* pszFileName);
void UxPrintErrFileMessage(UXHANDLE hUx, const ACHAR* pszMessage, const ACHAR* pszFileName);

// Write-progress callback of the EEPROM object; pvRefIn is the session handle.
void UxDisplayProgBar(INT32 iCurrentPos, INT32 iMaxPos, void* pvRefIn);
