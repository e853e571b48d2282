// The image buffer: the card's whole EEPROM, its BIOS size and checksum, and the version,
// version extension and product ID the BIOS carries.
#include <algorithm>
#include <cstring>

#include "GBData.h"

namespace {

constexpr char kRomSignature[] = "\x55\xAA";
constexpr UINT32 kMakerNameOffset = 0x2D;
constexpr char kMakerName[] = "TAVRIN";
constexpr char kPcirSignature[] = "PCIR";
constexpr UINT32 kPcirVendorID = 4;
constexpr UINT32 kPcirDeviceID = 6;
constexpr UINT32 kPcirVersionByte = 0x12;
constexpr UINT32 kPcirBuildByte = 0x13;
constexpr UINT32 kPcirProductID = 0x18;
constexpr UINT32 kProductIDLength = 3;

// The version text lies in the first 5120 bytes: "BIOS", then "(" and four characters,
// then the extension up to ")".
constexpr char kBiosWord[] = "BIOS";
constexpr UINT32 kBiosWordLastStart = 5119;
constexpr UINT32 kOpenParenLast = 5121;
constexpr UINT32 kExtensionSkip = 5;
constexpr UINT32 kExtensionCopyLast = 5120;
constexpr UINT32 kExtensionStopLast = 5119;
constexpr UINT32 kVerExtCapacity = sizeof(GB_BIOS{}.pszVerExt);

UINT32 PackVersion(UINT8 ucVersion, UINT8 ucBuild) {
  return (static_cast<UINT32>(ucVersion >> 4) << 20) |
         (static_cast<UINT32>(ucVersion & 0x0F) << 10) | ucBuild;
}

UINT32 FindBiosWord(const GBBufferView& view) {
  for (UINT32 pos = 0; pos <= kBiosWordLastStart; ++pos) {
    if (view.Matches(pos, kBiosWord, 4)) {
      return pos;
    }
  }
  return kBiosWordLastStart + 1;
}

UINT32 FindOpenParen(const GBBufferView& view, UINT32 pos) {
  for (; pos <= kOpenParenLast; ++pos) {
    if (view.Byte(pos) == '(') {
      return pos;
    }
  }
  return kOpenParenLast;
}

// A text longer than the field keeps its first seven characters.
void FindVersionExtension(const GBBufferView& view, GB_BIOS_IDENT* pIdent) {
  UINT32 pos = FindOpenParen(view, FindBiosWord(view)) + kExtensionSkip;
  UINT32 ulLength = 0;
  for (; pos <= kExtensionCopyLast && view.Byte(pos) != ')'; ++pos) {
    if (ulLength < kVerExtCapacity - 1) {
      pIdent->pszVerExt[ulLength++] = static_cast<ACHAR>(view.Byte(pos));
    }
  }
  pIdent->bVerExt = pos <= kExtensionStopLast;
  pIdent->pszVerExt[pIdent->bVerExt ? ulLength : 0] = '\0';
}

// The PCI data structure: where the word at 0x18 points, when "PCIR" is there.
BOOL32 FindPcir(const GBBufferView& view, UINT32* pulPcir) {
  *pulPcir = view.Word(GB_PCIR_POINTER_OFFSET);
  return view.Matches(*pulPcir, kPcirSignature, 4);
}

BOOL32 HoldsWord(const GBBufferView& view, UINT32 ulOffset, UINT16 usValue) {
  return view.Holds(ulOffset, 2) && view.Word(ulOffset) == usValue;
}

BOOL32 BiosSumIsZero(const GBBufferView& view) {
  const UINT32 ulBiosSize = view.Byte(GB_BIOS_SIZE_OFFSET) * GB_BIOS_BLOCK;
  return view.Holds(0, ulBiosSize) && GBSum8(view.pucData, ulBiosSize) == 0;
}

BOOL32 HasMakersPcir(const GBBufferView& view) {
  UINT32 ulPcir = 0;
  return FindPcir(view, &ulPcir) && HoldsWord(view, ulPcir + kPcirVendorID, TAVRIN_VENDOR_ID);
}

BOOL32 HasPinsSignature(const GBBufferView& view) {
  return HoldsWord(view, view.Word(GB_PINS_POINTER_OFFSET), GB_PINS_SIGNATURE);
}

GB_BIOS_IDENT IdentifyImage(GBHANDLE hGB) {
  GB_BIOS_IDENT oIdent;
  GBIdentifyBiosBuffer(hGB->m_oBIOS.pucData,
                       hGB->m_oBIOS.pucData ? hGB->m_oSEInfo.ulSEepromSize : 0, &oIdent);
  return oIdent;
}

}  // namespace

void GBIdentifyBiosBuffer(const UINT8* pucBuffer, UINT32 ulSize, GB_BIOS_IDENT* pIdent) {
  std::memset(pIdent, 0, sizeof(*pIdent));
  const GBBufferView view{pucBuffer, pucBuffer ? ulSize : 0};
  UINT32 ulPcir = 0;
  if (!FindPcir(view, &ulPcir)) {
    return;
  }
  pIdent->bPCIR = TRUE;
  pIdent->ulVersion =
      PackVersion(view.Byte(ulPcir + kPcirVersionByte), view.Byte(ulPcir + kPcirBuildByte));
  for (UINT32 i = 0; i < kProductIDLength; ++i) {
    pIdent->pszProductID[i] = static_cast<ACHAR>(view.Byte(ulPcir + kPcirProductID + i));
  }
  FindVersionExtension(view, pIdent);
}

BOOL32 GBCheckBiosFile(const UINT8* pucBuffer, UINT32 ulSize) {
  const GBBufferView view{pucBuffer, pucBuffer ? ulSize : 0};
  return view.Matches(0, kRomSignature, 2) && BiosSumIsZero(view) &&
         view.Matches(kMakerNameOffset, kMakerName, 6) && HasMakersPcir(view) &&
         HasPinsSignature(view);
}

BOOL32 GBGetBiosFileDeviceID(const UINT8* pucBuffer, UINT32 ulSize, UINT16* pusDeviceID) {
  const GBBufferView view{pucBuffer, pucBuffer ? ulSize : 0};
  UINT32 ulPcir = 0;
  if (!FindPcir(view, &ulPcir) || !view.Holds(ulPcir + kPcirDeviceID, 2)) {
    return FALSE;
  }
  *pusDeviceID = view.Word(ulPcir + kPcirDeviceID);
  return TRUE;
}

BOOL32 GBBiosHolds(GBHANDLE hGB, UINT32 ulOffset, UINT32 ulSize) {
  const UINT32 ulImage = hGB->m_oSEInfo.ulSEepromSize;
  return hGB->m_oBIOS.pucData && ulOffset <= ulImage && ulSize <= ulImage - ulOffset;
}

GB_ERR GBBiosInit(GBHANDLE hGB) {
  const UINT32 ulImage = hGB->m_oSEInfo.ulSEepromSize;
  hGB->m_oBIOS.pucData = static_cast<UINT8*>(GBPoolAlloc(hGB, ulImage));
  if (!hGB->m_oBIOS.pucData) {
    return GB_ERR_NO_MEMORY;
  }
  const GB_ERR lResult = SERead(hGB->m_hSE, 0, ulImage, hGB->m_oBIOS.pucData);
  if (lResult == GB_SUCCESS) {
    GBBiosDetectSize(hGB);
  }
  return lResult;
}

void GBBiosCleanup(GBHANDLE hGB) {
  GBPoolFree(hGB, hGB->m_oBIOS.pucData);
  hGB->m_oBIOS.pucData = nullptr;
}

void GBBiosReset(GBHANDLE hGB) {
  if (hGB->m_oBIOS.pucData) {
    std::memset(hGB->m_oBIOS.pucData, 0xFF, hGB->m_oSEInfo.ulSEepromSize);
  }
}

void GBBiosDetectSize(GBHANDLE hGB) {
  hGB->m_oBIOS.ulSize = GBBiosGetByte(hGB, GB_BIOS_SIZE_OFFSET) * GB_BIOS_BLOCK;
}

void GBBiosComputeChecksum(GBHANDLE hGB) {
  if (GBBiosHolds(hGB, 0, hGB->m_oBIOS.ulSize)) {
    ComputeCheckSum(hGB->m_oBIOS.pucData, hGB->m_oBIOS.ulSize);
  }
}

GB_ERR GBBiosDetectVersion(GBHANDLE hGB) {
  const GB_BIOS_IDENT oIdent = IdentifyImage(hGB);
  if (!oIdent.bPCIR) {
    return 0;
  }
  hGB->m_oBIOS.ulVersion = oIdent.ulVersion;
  std::memcpy(hGB->m_oBIOS.pszVerExt, oIdent.pszVerExt, sizeof(hGB->m_oBIOS.pszVerExt));
  return oIdent.bVerExt ? 1 : 0;
}

GB_ERR GBBiosDetectProductID(GBHANDLE hGB) {
  const GB_BIOS_IDENT oIdent = IdentifyImage(hGB);
  if (!oIdent.bPCIR) {
    return 0;
  }
  std::memcpy(hGB->m_oBIOS.pszProductID, oIdent.pszProductID, sizeof(hGB->m_oBIOS.pszProductID));
  return 1;
}

UINT8 GBBiosGetByte(GBHANDLE hGB, UINT32 ulOffset) {
  return GBBiosHolds(hGB, ulOffset, 1) ? hGB->m_oBIOS.pucData[ulOffset] : 0;
}

UINT16 GBBiosGetWord(GBHANDLE hGB, UINT32 ulOffset) {
  UINT8 auc[2] = {};
  GBBiosGetBuffer(hGB, ulOffset, auc, sizeof(auc));
  return static_cast<UINT16>(GBReadLE(auc, sizeof(auc)));
}

UINT32 GBBiosGetDword(GBHANDLE hGB, UINT32 ulOffset) {
  UINT8 auc[4] = {};
  GBBiosGetBuffer(hGB, ulOffset, auc, sizeof(auc));
  return GBReadLE(auc, sizeof(auc));
}

BOOL32 GBBiosGetBuffer(GBHANDLE hGB, UINT32 ulOffset, void* pvBuffer, UINT32 ulSize) {
  if (!GBBiosHolds(hGB, ulOffset, ulSize)) {
    return FALSE;
  }
  if (ulSize) {
    std::memcpy(pvBuffer, hGB->m_oBIOS.pucData + ulOffset, ulSize);
  }
  return TRUE;
}

BOOL32 GBBiosSetDword(GBHANDLE hGB, UINT32 ulOffset, UINT32 ulValue) {
  UINT8 auc[4];
  GBWriteLE(auc, ulValue, sizeof(auc));
  return GBBiosSetBuffer(hGB, ulOffset, auc, sizeof(auc));
}

BOOL32 GBBiosSetBuffer(GBHANDLE hGB, UINT32 ulOffset, const void* pvBuffer, UINT32 ulSize) {
  if (!GBBiosHolds(hGB, ulOffset, ulSize)) {
    return FALSE;
  }
  if (ulSize) {
    std::memcpy(hGB->m_oBIOS.pucData + ulOffset, pvBuffer, ulSize);
  }
  return TRUE;
}
