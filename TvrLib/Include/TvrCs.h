// PCI configuration access through mechanism #1: the address word at port 0xCF8, the data
// at ports 0xCFC-0xCFF. Every operation returns 1; without port privilege a read leaves
// the buffer as it was.
#pragma once

#include "TvrLib.h"

// Directions of csReadWrite (and of the port layer below it).
constexpr DWORD CS_ACCESS_READ = 0;
constexpr DWORD CS_ACCESS_WRITE = 1;

// Moves iSize bytes between configuration space at iOffset and pvBuffer; iAccess 0 reads,
// 1 writes. Byte k of the buffer is configuration byte iOffset + k. iOffset + iSize must
// stay within 256.
DWORD csReadWrite(PCIHANDLE hDevice, DWORD iOffset, void* pvBuffer, DWORD iSize, DWORD iAccess);
DWORD csRead(PCIHANDLE hDevice, DWORD iOffset, void* pvBuffer, DWORD iSize);
DWORD csWrite(PCIHANDLE hDevice, DWORD iOffset, void* pvBuffer, DWORD iSize);

DWORD csReadDword(PCIHANDLE hPci, DWORD iOffset, DWORD* pvBuffer);
DWORD csReadWord(PCIHANDLE hPci, DWORD iOffset, WORD* pvBuffer);
DWORD csReadByte(PCIHANDLE hPci, DWORD iOffset, BYTE* pvBuffer);
DWORD csWriteDword(PCIHANDLE hPci, DWORD iOffset, DWORD pvBuffer);
DWORD csWriteWord(PCIHANDLE hPci, DWORD iOffset, WORD pvBuffer);
DWORD csWriteByte(PCIHANDLE hPci, DWORD iOffset, BYTE pvBuffer);
