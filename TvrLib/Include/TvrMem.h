// Device register access inside a mapped range: each device access is one volatile load
// or store of the widest aligned unit, in ascending address order. Every operation
// returns 1; the handle must come from memMap and the range must lie inside the mapping.
// The handle 0 of a failed mapping touches nothing.
#pragma once

#include "TvrLib.h"
#include "TvrMap.h"

constexpr DWORD MEM_ACCESS_READ = 0;
constexpr DWORD MEM_ACCESS_WRITE = 1;

DWORD memRead(MEMHANDLE hMemory, DWORD dwOffset, void* pvBuffer, DWORD dwSize);
DWORD memWrite(MEMHANDLE hMemory, DWORD dwOffset, void* pvBuffer, DWORD dwSize);
// lAccess 0 reads, any other value writes.
DWORD memReadWrite(MEMHANDLE hMemory, DWORD dwOffset, void* pvBuffer, DWORD dwSize, DWORD lAccess);

DWORD memReadDword(MEMHANDLE hMemory, DWORD dwOffset, DWORD* pvBuffer);
DWORD memReadWord(MEMHANDLE hMemory, DWORD dwOffset, WORD* pvBuffer);
DWORD memReadByte(MEMHANDLE hMemory, DWORD dwOffset, BYTE* pvBuffer);
DWORD memWriteDword(MEMHANDLE hMemory, DWORD dwOffset, DWORD pvBuffer);
DWORD memWriteWord(MEMHANDLE hMemory, DWORD dwOffset, WORD pvBuffer);
DWORD memWriteByte(MEMHANDLE hMemory, DWORD dwOffset, BYTE pvBuffer);
