// The image object's public face: its life cycle, the PInS and calibration block transfers,
// and the replacement and write-back of the image.
#include <cstring>

#include "GBData.h"

namespace {

GB_ERR ReleaseAndReturn(GBHANDLE hGB, GB_ERR lResult) {
  GBReleaseHandle(hGB);
  return lResult;
}

BOOL32 Overlaps(UINT32 ulStart, UINT32 ulSize, UINT32 ulOtherStart, UINT32 ulOtherSize) {
  return ulSize && ulOtherSize && ulStart < ulOtherStart + ulOtherSize &&
         ulOtherStart < ulStart + ulSize;
}

// Where an update puts things: the PInS where the BIOS points, the calibration block
// directly behind the BIOS, the subsystem word near the end, and the BIOS checksum byte
// last. Each must lie inside the image and none may cover another or the PInS pointer, or
// the card would lose its record; a PInS in the free space behind the BIOS is fine. A
// BIOS of size 0 holds nothing to write.
BOOL32 LayoutFits(GBHANDLE hGB, UINT32 ulBiosSize, UINT32 ulPinsOffset, UINT32 ulPinsSize) {
  const UINT32 ulMcsSize = hGB->m_oMCS.pucData ? hGB->m_oMCS.ulSize : 0;
  const UINT32 ulSubsys = hGB->m_oSubSys.ulSubSys_Offset;
  const auto coversKeptPiece = [&](UINT32 ulStart, UINT32 ulSize) {
    return Overlaps(ulStart, ulSize, GB_PINS_POINTER_OFFSET, GB_PINS_POINTER_SIZE) ||
           Overlaps(ulStart, ulSize, ulSubsys, GB_SUBSYS_SIZE);
  };
  const BOOL32 bBiosFits = ulBiosSize > 0 && GBBiosHolds(hGB, 0, ulBiosSize);
  const BOOL32 bPinsFits = ulPinsSize >= GB_PINS_MIN_SIZE &&
                           GBBiosHolds(hGB, ulPinsOffset, ulPinsSize) &&
                           !coversKeptPiece(ulPinsOffset, ulPinsSize) &&
                           !Overlaps(ulPinsOffset, ulPinsSize, ulBiosSize - 1, 1) &&
                           !Overlaps(ulPinsOffset, ulPinsSize, ulBiosSize, ulMcsSize);
  const BOOL32 bMcsFits =
      GBBiosHolds(hGB, ulBiosSize, ulMcsSize) && !coversKeptPiece(ulBiosSize, ulMcsSize);
  return bBiosFits && bPinsFits && bMcsFits;
}

// The card's word as an update cut short leaves it: erased, or programmed, in the order the
// part takes the bytes, only up to some byte of the word the update was writing. The file
// that update came from (the backup) carries that word whole.
BOOL32 IsCutShortWordOf(UINT32 ulCard, UINT32 ulFile) {
  for (UINT32 ulBits = 0; ulBits < 32; ulBits += 8) {
    const UINT32 ulErased = GB_SUBSYS_ERASED << ulBits;
    if ((ulCard & ulErased) == ulErased && (ulCard & ~ulErased) == (ulFile & ~ulErased)) {
      return TRUE;
    }
  }
  return FALSE;
}

}  // namespace

GB_ERR GBInit(GBHANDLE hGB) {
  GBPinsInit(hGB);
  const UINT32 ulImage = hGB->m_oSEInfo.ulSEepromSize;
  hGB->m_oSubSys.ulSubSys_Offset = ulImage >= GB_SUBSYS_FROM_END ? ulImage - GB_SUBSYS_FROM_END : 0;
  hGB->m_oSubSys.ulSubsys = GBBiosGetDword(hGB, hGB->m_oSubSys.ulSubSys_Offset);
  GBBiosDetectVersion(hGB);
  GBBiosDetectProductID(hGB);
  if (!GBChipInfo_IsSupported(GBChipInfo_GetDeviceID(hGB))) {
    return GB_ERR_NOT_SUPPORTED;
  }
  hGB->m_oTable = GB_TABLE{LumPInSDataToASCII, LumPInSASCIIToData, LumUpdatePInSCountDate};
  return GBMCSInit(hGB);
}

UINT32 GBGetLibVersion() { return GB_LIB_VERSION; }

UINT32 GBGetHandleSize() { return sizeof(GB_DATA); }

GB_ERR GBCreateHandle(GBHANDLE hGB, PCIHANDLE hPci) {
  if (!hGB) {
    return GB_ERR_INVALID_HANDLE;
  }
  std::memset(hGB, 0, sizeof(*hGB));
  GBPoolInit(hGB);
  GBConfigAccess_Init(hGB);
  GBConfigAccess_SetHandle(hGB, hPci);
  GBChipInfo_Init(hGB);
  hGB->m_hSE = static_cast<SEHANDLE>(GBPoolAlloc(hGB, SEGetHandleSize()));
  if (!hGB->m_hSE) {
    return GB_ERR_NO_MEMORY;
  }
  const GB_ERR lCreated = SECreateHandle(hGB->m_hSE, hPci);
  if (lCreated != GB_SUCCESS) {
    // A failed creation has already released the EEPROM object; only its storage is left.
    GBPoolFree(hGB, hGB->m_hSE);
    hGB->m_hSE = nullptr;
    return ReleaseAndReturn(hGB, lCreated);
  }
  SEGetInfo(hGB->m_hSE, &hGB->m_oSEInfo);
  const GB_ERR lRead = GBBiosInit(hGB);
  if (lRead != GB_SUCCESS) {
    return ReleaseAndReturn(hGB, lRead);
  }
  const GB_ERR lInit = GBInit(hGB);
  if (lInit != GB_SUCCESS) {
    return ReleaseAndReturn(hGB, lInit);
  }
  return GB_SUCCESS;
}

GB_ERR GBGetInfo(GBHANDLE hGB, GB_INFO* pGBInfo) {
  if (!hGB) {
    return GB_ERR_INVALID_HANDLE;
  }
  if (!pGBInfo) {
    return GB_ERR_BUFFER_SIZE;
  }
  std::memset(pGBInfo, 0, sizeof(*pGBInfo));
  pGBInfo->hPci = GBConfigAccess_GetHandle(hGB);
  pGBInfo->hSE = hGB->m_hSE;
  pGBInfo->ulBIOSVersion = hGB->m_oBIOS.ulVersion;
  static_assert(sizeof(pGBInfo->pszBIOSVerExt) >= sizeof(hGB->m_oBIOS.pszVerExt),
                "the extension fits");
  std::memcpy(pGBInfo->pszBIOSVerExt, hGB->m_oBIOS.pszVerExt, sizeof(hGB->m_oBIOS.pszVerExt));
  static_assert(sizeof(hGB->m_oBIOS.pszProductID) >= sizeof(pGBInfo->pszProductID),
                "the product ID fits");
  std::memcpy(pGBInfo->pszProductID, hGB->m_oBIOS.pszProductID, sizeof(pGBInfo->pszProductID));
  return GB_SUCCESS;
}

GB_ERR GBReleaseHandle(GBHANDLE hGB) {
  if (!hGB) {
    return GB_ERR_INVALID_HANDLE;
  }
  GBMCSCleanup(hGB);
  GBPinsCleanup(hGB);
  GBBiosCleanup(hGB);
  if (hGB->m_hSE) {
    SEReleaseHandle(hGB->m_hSE);
    GBPoolFree(hGB, hGB->m_hSE);
    hGB->m_hSE = nullptr;
  }
  GBChipInfo_Cleanup(hGB);
  GBConfigAccess_Cleanup(hGB);
  GBPoolCleanup(hGB);
  return GB_SUCCESS;
}

GB_ERR GBGetPInSInBuffer(GBHANDLE hGB, UINT8* pucBuffer, INT32 lBufferSize,
                         INT32* lpNbByteWritten) {
  if (lpNbByteWritten) {
    *lpNbByteWritten = 0;
  }
  if (!hGB) {
    return GB_ERR_INVALID_HANDLE;
  }
  if (!GBPinsIsValid(hGB)) {
    return GB_ERR_INVALID_PINS;
  }
  const INT32 lSize = static_cast<INT32>(GBPinsGetSize(hGB));
  if (lBufferSize < lSize || !pucBuffer) {
    return GB_ERR_BUFFER_SIZE;
  }
  GBPinsGetBufferAll(hGB, pucBuffer);
  if (lpNbByteWritten) {
    *lpNbByteWritten = lSize;
  }
  return GB_SUCCESS;
}

GB_ERR GBGetPInSInASCIIBuffer(GBHANDLE hGB, ACHAR* pszBuffer, INT32 lBufferSize) {
  if (!hGB) {
    return GB_ERR_INVALID_HANDLE;
  }
  if (!hGB->m_oTable.PInSDataToASCII) {
    return GB_ERR_NOT_SUPPORTED;
  }
  return hGB->m_oTable.PInSDataToASCII(hGB, pszBuffer, lBufferSize) ? GB_SUCCESS
                                                                    : GB_ERR_BUFFER_SIZE;
}

GB_ERR GBSetPInSFromBuffer(GBHANDLE hGB, const UINT8* pucBuffer, INT32 lBufferSize) {
  if (!hGB) {
    return GB_ERR_INVALID_HANDLE;
  }
  if (!GBPinsIsValid(hGB)) {
    return GB_ERR_INVALID_PINS;
  }
  if (lBufferSize < static_cast<INT32>(GBPinsGetSize(hGB)) || !pucBuffer) {
    return GB_ERR_BUFFER_SIZE;
  }
  GBPinsSetBufferAll(hGB, pucBuffer);
  GBPinsComputeChecksum(hGB);
  return GB_SUCCESS;
}

GB_ERR GBSetPInSFromASCIIBuffer(GBHANDLE hGB, const ACHAR* pszBuffer, INT32 lBufferSize) {
  if (!hGB) {
    return GB_ERR_INVALID_HANDLE;
  }
  if (!GBPinsIsValid(hGB)) {
    return GB_ERR_INVALID_PINS;
  }
  if (!hGB->m_oTable.PInSASCIIToData) {
    return GB_ERR_NOT_SUPPORTED;
  }
  if (!hGB->m_oTable.PInSASCIIToData(hGB, pszBuffer, lBufferSize)) {
    return GB_ERR_INVALID_PINS_TEXT;
  }
  GBPinsComputeChecksum(hGB);
  return GB_SUCCESS;
}

GB_ERR GBGetMCSInBuffer(GBHANDLE hGB, UINT8* pucBuffer, INT32 lBufferSize, INT32* lpNbByteWritten) {
  if (lpNbByteWritten) {
    *lpNbByteWritten = 0;
  }
  if (!hGB) {
    return GB_ERR_INVALID_HANDLE;
  }
  const INT32 lSize = GBMCSGetSize(hGB);
  if (lBufferSize < lSize) {
    return GB_ERR_BUFFER_SIZE;
  }
  const GB_ERR lResult = GBMCSGetBufferAll(hGB, pucBuffer);
  if (lResult == GB_SUCCESS && lpNbByteWritten) {
    *lpNbByteWritten = lSize;
  }
  return lResult;
}

// Everything is checked against the file before the image changes, so a refused file
// leaves the image as it was.
GB_ERR GBSetBIOS(GBHANDLE hGB, const UINT8* pucBuffer, INT32 lBufferSize, UINT8 ucDefaultPInS) {
  if (!hGB) {
    return GB_ERR_INVALID_HANDLE;
  }
  if (!ucDefaultPInS && !GBPinsIsValid(hGB)) {
    return GB_ERR_INVALID_PINS;
  }
  const UINT32 ulImage = hGB->m_oSEInfo.ulSEepromSize;
  if (lBufferSize < 0 || static_cast<UINT32>(lBufferSize) > ulImage ||
      (lBufferSize && !pucBuffer)) {
    return GB_ERR_BUFFER_SIZE;
  }
  const GBBufferView file{pucBuffer, static_cast<UINT32>(lBufferSize)};
  const UINT32 ulBiosSize = file.Byte(GB_BIOS_SIZE_OFFSET) * GB_BIOS_BLOCK;
  const UINT16 usPinsOffset = file.Word(GB_PINS_POINTER_OFFSET);
  const UINT16 usPinsSize =
      ucDefaultPInS ? file.Word(usPinsOffset + GB_PINS_SIZE_FIELD) : hGB->m_oPINS.usSize;
  if (!LayoutFits(hGB, ulBiosSize, usPinsOffset, usPinsSize)) {
    return GB_ERR_BUFFER_SIZE;
  }
  if (ucDefaultPInS && !GBPinsTake(hGB, file, usPinsOffset, usPinsSize)) {
    return GB_ERR_NO_MEMORY;
  }

  GBBiosReset(hGB);
  GBBiosSetBuffer(hGB, 0, pucBuffer, file.ulSize);
  GBBiosDetectSize(hGB);
  hGB->m_oPINS.usPINSOffset = usPinsOffset;
  // A card whose word an update cut short has none to keep: the file's goes on. A word the
  // PInS text set stays.
  GB_SUBSYS& oSubsys = hGB->m_oSubSys;
  const UINT32 ulFileSubsys = GBBiosGetDword(hGB, oSubsys.ulSubSys_Offset);
  if (!oSubsys.bSetByText && IsCutShortWordOf(oSubsys.ulSubsys, ulFileSubsys)) {
    oSubsys.ulSubsys = ulFileSubsys;
  }
  GBBiosComputeChecksum(hGB);
  return GB_SUCCESS;
}

GB_ERR GBReadImageFromHW(GBHANDLE hGB, UINT8* pucBuffer, UINT32 ulBufferSize) {
  if (!hGB) {
    return GB_ERR_INVALID_HANDLE;
  }
  if (ulBufferSize < hGB->m_oSEInfo.ulSEepromSize || !pucBuffer) {
    return GB_ERR_BUFFER_SIZE;
  }
  return SERead(hGB->m_hSE, 0, hGB->m_oSEInfo.ulSEepromSize, pucBuffer);
}

GB_ERR GBWriteImageToHW(GBHANDLE hGB) {
  if (!hGB) {
    return GB_ERR_INVALID_HANDLE;
  }
  if (!hGB->m_oPINS.pucData) {
    return GB_ERR_INVALID_PINS;
  }
  if (!hGB->m_oTable.UpdatePInSCountDate) {
    return GB_ERR_NOT_SUPPORTED;
  }
  GB_BIOS& oBios = hGB->m_oBIOS;
  GB_PINS& oPins = hGB->m_oPINS;
  if (!LayoutFits(hGB, oBios.ulSize, oPins.usPINSOffset, oPins.usSize)) {
    return GB_ERR_BUFFER_SIZE;
  }

  hGB->m_oTable.UpdatePInSCountDate(hGB);
  GBBiosSetBuffer(hGB, oPins.usPINSOffset, oPins.pucData, oPins.usSize);
  if (hGB->m_oMCS.pucData) {
    GBBiosSetBuffer(hGB, oBios.ulSize, hGB->m_oMCS.pucData, hGB->m_oMCS.ulSize);
  }
  GBBiosSetDword(hGB, hGB->m_oSubSys.ulSubSys_Offset, hGB->m_oSubSys.ulSubsys);
  GBBiosComputeChecksum(hGB);
  return SEWrite(hGB->m_hSE, oBios.pucData, 0, hGB->m_oSEInfo.ulSEepromSize);
}
