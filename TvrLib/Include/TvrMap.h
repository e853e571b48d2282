// Mapping a physical range (a card's register aperture) into the process through the
// memory device. One mapping at a time: the release takes its length from iFileSize.
#pragma once

#include "TvrLib.h"

// The open memory device, -1 while none is open. The caller opens it (through the
// platform) and stores it here before memMap; the mapping module never opens or closes it.
// Changing the platform sets it back to -1.
extern int iFileDescriptor;
// The size given to the most recent memMap.
extern int iFileSize;

// A shared read-write mapping of dwSize bytes (rounded up to whole pages) at the
// page-aligned physical address dwPhysical; 0 on any failure.
MEMHANDLE memMap(DWORD dwPhysical, DWORD dwSize);
// Releases the mapping memMap returned last (nothing for the handle 0); returns 1.
DWORD memUnmap(MEMHANDLE hMemory);
