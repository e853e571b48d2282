// The PInS working copy: loaded from the image at creation, changed through the accessors,
// put back into the image when the image is written to the card.
#include <cstring>

#include "GBData.h"

namespace {

BOOL32 PinsHolds(GBHANDLE hGB, UINT32 ulOffset, UINT32 ulSize) {
  const UINT32 ulPins = hGB->m_oPINS.usSize;
  return hGB->m_oPINS.pucData && ulOffset <= ulPins && ulSize <= ulPins - ulOffset;
}

UINT32 PinsGet(GBHANDLE hGB, UINT32 ulOffset, UINT32 ulBytes) {
  return PinsHolds(hGB, ulOffset, ulBytes) ? GBReadLE(hGB->m_oPINS.pucData + ulOffset, ulBytes) : 0;
}

BOOL32 PinsSet(GBHANDLE hGB, UINT32 ulOffset, UINT32 ulValue, UINT32 ulBytes) {
  if (!PinsHolds(hGB, ulOffset, ulBytes)) {
    return FALSE;
  }
  GBWriteLE(hGB->m_oPINS.pucData + ulOffset, ulValue, ulBytes);
  return TRUE;
}

void InstallCopy(GBHANDLE hGB, UINT8* pucCopy, UINT16 usOffset, UINT16 usSize) {
  GBPinsCleanup(hGB);
  hGB->m_oPINS.pucData = pucCopy;
  hGB->m_oPINS.usPINSOffset = usOffset;
  hGB->m_oPINS.usSize = usSize;
  hGB->m_oPINS.usCounter = GBPinsGetWord(hGB, GB_PINS_COUNTER_FIELD);
}

}  // namespace

// The pointer at 0x7FFC and the size word are taken as they are; a block that is too small
// for its header or reaches past the image is not loaded and counts as not valid.
GB_ERR GBPinsInit(GBHANDLE hGB) {
  const UINT16 usOffset = GBBiosGetWord(hGB, GB_PINS_POINTER_OFFSET);
  const UINT16 usSize = GBBiosGetWord(hGB, usOffset + GB_PINS_SIZE_FIELD);
  hGB->m_oPINS.usPINSOffset = usOffset;
  if (usSize < GB_PINS_MIN_SIZE || !GBBiosHolds(hGB, usOffset, usSize)) {
    return GB_SUCCESS;
  }
  UINT8* pucCopy = static_cast<UINT8*>(GBPoolAlloc(hGB, usSize));
  if (!pucCopy) {
    return GB_ERR_NO_MEMORY;
  }
  GBBiosGetBuffer(hGB, usOffset, pucCopy, usSize);
  InstallCopy(hGB, pucCopy, usOffset, usSize);
  GBPinsValidate(hGB);
  return GB_SUCCESS;
}

BOOL32 GBPinsTake(GBHANDLE hGB, const GBBufferView& view, UINT16 usOffset, UINT16 usSize) {
  UINT8* pucCopy = static_cast<UINT8*>(GBPoolAlloc(hGB, usSize));
  if (!pucCopy) {
    return FALSE;
  }
  for (UINT32 i = 0; i < usSize; ++i) {
    pucCopy[i] = view.Byte(usOffset + i);
  }
  InstallCopy(hGB, pucCopy, usOffset, usSize);
  GBPinsComputeChecksum(hGB);
  hGB->m_oPINS.bValid = TRUE;
  return TRUE;
}

void GBPinsCleanup(GBHANDLE hGB) {
  GBPoolFree(hGB, hGB->m_oPINS.pucData);
  hGB->m_oPINS.pucData = nullptr;
  hGB->m_oPINS.usSize = 0;
  hGB->m_oPINS.bValid = FALSE;
}

void GBPinsValidate(GBHANDLE hGB) {
  GB_PINS& oPins = hGB->m_oPINS;
  oPins.bValid = oPins.pucData && GBPinsGetWord(hGB, 0) == GB_PINS_SIGNATURE &&
                 GBSum8(oPins.pucData, oPins.usSize) == 0;
}

BOOL32 GBPinsIsValid(GBHANDLE hGB) { return hGB->m_oPINS.bValid; }

UINT32 GBPinsGetSize(GBHANDLE hGB) { return hGB->m_oPINS.usSize; }

void GBPinsComputeChecksum(GBHANDLE hGB) {
  if (hGB->m_oPINS.pucData) {
    ComputeCheckSum(hGB->m_oPINS.pucData, hGB->m_oPINS.usSize);
  }
}

UINT8 GBPinsGetByte(GBHANDLE hGB, UINT32 ulOffset) {
  return static_cast<UINT8>(PinsGet(hGB, ulOffset, 1));
}

UINT16 GBPinsGetWord(GBHANDLE hGB, UINT32 ulOffset) {
  return static_cast<UINT16>(PinsGet(hGB, ulOffset, 2));
}

UINT32 GBPinsGetDword(GBHANDLE hGB, UINT32 ulOffset) { return PinsGet(hGB, ulOffset, 4); }

BOOL32 GBPinsGetBuffer(GBHANDLE hGB, UINT32 ulOffset, void* pvBuffer, UINT32 ulSize) {
  if (!PinsHolds(hGB, ulOffset, ulSize)) {
    return FALSE;
  }
  std::memcpy(pvBuffer, hGB->m_oPINS.pucData + ulOffset, ulSize);
  return TRUE;
}

BOOL32 GBPinsGetBufferAll(GBHANDLE hGB, void* pvBuffer) {
  return GBPinsGetBuffer(hGB, 0, pvBuffer, hGB->m_oPINS.usSize);
}

BOOL32 GBPinsSetByte(GBHANDLE hGB, UINT32 ulOffset, UINT8 byValue) {
  return PinsSet(hGB, ulOffset, byValue, 1);
}

BOOL32 GBPinsSetWord(GBHANDLE hGB, UINT32 ulOffset, UINT16 wValue) {
  return PinsSet(hGB, ulOffset, wValue, 2);
}

BOOL32 GBPinsSetDword(GBHANDLE hGB, UINT32 ulOffset, UINT32 dwValue) {
  return PinsSet(hGB, ulOffset, dwValue, 4);
}

BOOL32 GBPinsSetString(GBHANDLE hGB, UINT32 ulOffset, const ACHAR* pszValue) {
  return GBPinsSetBuffer(hGB, ulOffset, pszValue, static_cast<UINT32>(std::strlen(pszValue)) + 1);
}

BOOL32 GBPinsSetBuffer(GBHANDLE hGB, UINT32 ulOffset, const void* pvBuffer, UINT32 ulSize) {
  if (!PinsHolds(hGB, ulOffset, ulSize)) {
    return FALSE;
  }
  std::memcpy(hGB->m_oPINS.pucData + ulOffset, pvBuffer, ulSize);
  return TRUE;
}

BOOL32 GBPinsSetBufferAll(GBHANDLE hGB, const void* pvBuffer) {
  return GBPinsSetBuffer(hGB, 0, pvBuffer, hGB->m_oPINS.usSize);
}

BOOL32 GBPinsFill(GBHANDLE hGB, UINT32 ulOffset, UINT32 ulSize, UINT8 byValue) {
  if (!PinsHolds(hGB, ulOffset, ulSize)) {
    return FALSE;
  }
  std::memset(hGB->m_oPINS.pucData + ulOffset, byValue, ulSize);
  return TRUE;
}
