// The checksum rule of the BIOS and the PInS, and the object's allocations.
#include <new>

#include "GBData.h"

UINT8 GBSum8(const UINT8* pucBuffer, UINT32 ulSize) {
  UINT8 ucSum = 0;
  for (UINT32 i = 0; i < ulSize; ++i) {
    ucSum = static_cast<UINT8>(ucSum + pucBuffer[i]);
  }
  return ucSum;
}

// The last byte is set so that all ulSize bytes add up to 0 modulo 256. An empty block has
// no byte to carry the sum and is left alone.
BOOL32 ComputeCheckSum(UINT8* pucBuffer, UINT32 ulSize) {
  if (ulSize == 0) {
    return TRUE;
  }
  pucBuffer[ulSize - 1] = static_cast<UINT8>(0x100 - GBSum8(pucBuffer, ulSize - 1));
  return TRUE;
}

BOOL32 GBPoolInit(GBHANDLE) { return TRUE; }

void GBPoolCleanup(GBHANDLE) {}

void* GBPoolAlloc(GBHANDLE, UINT32 ulSize) { return new (std::nothrow) UINT8[ulSize]; }

void GBPoolFree(GBHANDLE, void* pvBuffer) { delete[] static_cast<UINT8*>(pvBuffer); }
