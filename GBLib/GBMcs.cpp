// The calibration block some cards keep behind the BIOS: found, checked and copied whole,
// never interpreted or repaired.
#include <cstring>

#include "GBData.h"

namespace {

constexpr char kMcsSignature[] = "MCS ";
constexpr UINT32 kMcsSignatureLength = 4;
constexpr UINT32 kMcsSizeField = 4;
constexpr UINT32 kMcsCheckedLengthField = 10;

// The first "MCS " at or after the end of the BIOS; the image size when there is none.
UINT32 FindSignature(GBHANDLE hGB) {
  const UINT32 ulImage = hGB->m_oSEInfo.ulSEepromSize;
  const UINT8* pucImage = hGB->m_oBIOS.pucData;
  for (UINT32 pos = hGB->m_oBIOS.ulSize; pucImage && pos + kMcsSignatureLength <= ulImage; ++pos) {
    if (std::memcmp(pucImage + pos, kMcsSignature, kMcsSignatureLength) == 0) {
      return pos;
    }
  }
  return ulImage;
}

// The checked part must lie inside the block; a length of 0 checks nothing.
BOOL32 CheckedPartSumsToZero(const UINT8* pucBlock, UINT32 ulSize) {
  const UINT32 ulChecked = pucBlock[kMcsCheckedLengthField];
  return ulChecked <= ulSize && GBSum8(pucBlock, ulChecked) == 0;
}

}  // namespace

// A block too short to hold its checked length, or one whose size runs past the end of the
// image, is not taken: the card then counts as having no block. A block that is there but
// cannot be copied fails the object: counted as absent, an update would erase it.
GB_ERR GBMCSInit(GBHANDLE hGB) {
  const UINT32 ulStart = FindSignature(hGB);
  const UINT32 ulSize = GBBiosGetDword(hGB, ulStart + kMcsSizeField);
  if (ulSize <= kMcsCheckedLengthField || !GBBiosHolds(hGB, ulStart, ulSize)) {
    return GB_SUCCESS;
  }
  UINT8* pucCopy = static_cast<UINT8*>(GBPoolAlloc(hGB, ulSize));
  if (!pucCopy) {
    return GB_ERR_NO_MEMORY;
  }
  GBBiosGetBuffer(hGB, ulStart, pucCopy, ulSize);
  hGB->m_oMCS.pucData = pucCopy;
  hGB->m_oMCS.ulSize = ulSize;
  hGB->m_oMCS.bValid = CheckedPartSumsToZero(pucCopy, ulSize);
  return GB_SUCCESS;
}

void GBMCSCleanup(GBHANDLE hGB) {
  GBPoolFree(hGB, hGB->m_oMCS.pucData);
  hGB->m_oMCS = GB_MCS{};
}

GB_ERR GBMCSGetBuffer(GBHANDLE hGB, UINT32 ulOffset, void* pvBuffer, UINT32 ulSize) {
  const GB_MCS& oMcs = hGB->m_oMCS;
  if (!oMcs.pucData) {
    return GB_ERR_MCS_NOT_FOUND;
  }
  if (!oMcs.bValid) {
    return GB_ERR_INVALID_MCS;
  }
  if (ulOffset > oMcs.ulSize || ulSize > oMcs.ulSize - ulOffset || (ulSize && !pvBuffer)) {
    return GB_ERR_BUFFER_SIZE;
  }
  if (ulSize) {
    std::memcpy(pvBuffer, oMcs.pucData + ulOffset, ulSize);
  }
  return GB_SUCCESS;
}

GB_ERR GBMCSGetBufferAll(GBHANDLE hGB, void* pvBuffer) {
  return GBMCSGetBuffer(hGB, 0, pvBuffer, hGB->m_oMCS.ulSize);
}

INT32 GBMCSGetSize(GBHANDLE hGB) { return static_cast<INT32>(hGB->m_oMCS.ulSize); }
