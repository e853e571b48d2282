// Board-level functions of the session: finding the supported cards on the PCI bus, naming
// them, checking BIOS files and printing the reports and error messages.
#pragma once

#include "TvrCards.h"
#include "TvrLib.h"
#include "UxLib.h"

// Locations a bus scan stores; a list handed to SetPCIHANDLE holds this many.
constexpr UINT32 UX_PCI_LIST_SIZE = 5;

// Whether the function at hPci is a supported card (its vendor ID is not looked at).
BOOL32 IsBoardSupported(PCIHANDLE hPci);
// Scans function 0 of every device on buses 0-255 and stores the supported cards in
// pPci, in bus then device order, at most UX_PCI_LIST_SIZE of them (the scan ends when
// the list is full). TRUE when at least one was found.
BOOL32 SetPCIHANDLE(PCIHANDLE* pPci, UINT32* pulNbDeviceDetected);

// Reports and file checks of the session.

constexpr UINT32 UX_MODEL_SIZE = 32;
// Shown for a card that is not supported, and for codes 10001 and 20001.
constexpr const ACHAR* kMsgNotSupported =
    "ERROR! Hardware device is not supported by this software.";

// Writes the model text of the card at hPci into pszModel (nBufferMax bytes); TRUE for a
// supported device ID.
BOOL32 GetGrapCardModel(PCIHANDLE hPci, ACHAR* pszModel, INT32 nBufferMax);
// Copies the 16-byte serial number out of a PInS copy (no terminator when it fills them).
BOOL32 GetGrapCardSerialNumber(PCIHANDLE hPci, const UINT8* pucPInS, ACHAR* pszSerialNumber);
// The checks a BIOS file of the family passes; every read stays within ulLength bytes and a
// file too short for any of them is not valid.
BOOL32 IsValidBinFile(const UINT8* pucBuffer, UINT32 ulLength);
// TRUE when the file's PCI data structure names the card's device ID.
BOOL32 IsBinFileMatchWithBoard(PCIHANDLE hPci, const UINT8* pucBuffer, UINT32 ulLength);
// Prints the card report and fills szSerialNumber and pszDevID.
BOOL32 DisplayBoardInfo(UXHANDLE hUx);
// Prints the BIOS file report; TRUE when the file's version extension was found.
BOOL32 DisplayBinaryFileInfo(UXHANDLE hUx, const UINT8* pucBuffer, UINT32 ulLength);
// Prints the message of a status code through the error channel; FALSE for a code that has
// none.
BOOL32 DispatchErrMsg(UXHANDLE hUx, UINT32 ulErrMsgID);
