// Port I/O: a run of ports moved in the widest aligned port accesses. Every operation
// returns 1; without port privilege the accesses are skipped and a read leaves its buffer
// as it was.
#pragma once

#include "TvrLib.h"

// Moves lSize bytes between ports hPort .. hPort + lSize - 1 and pvBuffer; lAccess 0
// reads, any other value writes.
DWORD ioReadWrite(IOHANDLE hPort, void* pvBuffer, DWORD lSize, DWORD lAccess);
DWORD ioRead(IOHANDLE hPort, void* pvBuffer, DWORD lSize);
DWORD ioWrite(IOHANDLE hPort, void* pvBuffer, DWORD lSize);

DWORD ioReadDword(IOHANDLE hPort, DWORD* pvBuffer);
DWORD ioReadWord(IOHANDLE hPort, WORD* pvBuffer);
DWORD ioReadByte(IOHANDLE hPort, BYTE* pvBuffer);
DWORD ioWriteDword(IOHANDLE hPort, DWORD pvBuffer);
DWORD ioWriteWord(IOHANDLE hPort, WORD pvBuffer);
DWORD ioWriteByte(IOHANDLE hPort, BYTE pvBuffer);
