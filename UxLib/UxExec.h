// Execution of the parsed switches against the session's card, and the single write-back
// of the image at the end of a run.
#pragma once

#include "UxLib.h"

// Runs the switches in command-line order, stops at the first failure, and writes the image
// back once when a switch changed it and all of them succeeded.
UX_ERR ProcessCmd(UXHANDLE hUx);

UX_ERR ProcessD_SWITCH(UXHANDLE hUx, const ACHAR* pszFileName);
UX_ERR ProcessDS_SWITCH(UXHANDLE hUx);
UX_ERR ProcessDMCS_SWITCH(UXHANDLE hUx, const ACHAR* pszFileName);
// bBypassPInS: take the file's own PInS (/k) instead of keeping the card's (/i).
UX_ERR ProcessI_SWITCH(UXHANDLE hUx, const ACHAR* pszFileName, BOOL32 bBypassPInS);
UX_ERR ProcessO_SWITCH(UXHANDLE hUx, const ACHAR* pszFileName);
UX_ERR ProcessS_SWITCH(UXHANDLE hUx, const ACHAR* pszFileName);
UX_ERR ProcessSCAN_SWITCH(UXHANDLE hUx);
UX_ERR ProcessTVOUT_SWITCH(UXHANDLE hUx, UINT32 ulTVOutStandard);
