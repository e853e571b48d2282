// The public calls of the serial EEPROM object: creation fills its function tables, and
// every read and write is dispatched through them.
#include <cstring>
#include <new>

#include "SEInternal.h"

namespace {
constexpr char kUnknownPart[] = "Unknown";
static_assert(sizeof(kUnknownPart) <= SE_EEPROM_ID_LENGTH, "the name fits its field");

// The three configuration bits the BIOS sets when it boots from a serial EEPROM.
constexpr UINT32 kBiosCfgSerialEeprom = 0x0E000000;

// Starts the record's lifetime in the caller's storage, all bytes zero.
SEHANDLE SEClearRecord(SEHANDLE hSE) {
  SEHANDLE hRecord = new (hSE) SE_DATA;
  std::memset(hRecord, 0, sizeof(SE_DATA));
  return hRecord;
}
}  // namespace

UINT32 SEGetLibVersion() { return SE_LIB_VERSION; }

UINT32 SEGetHandleSize() { return sizeof(SE_DATA); }

SE_ERR SECreateHandle(SEHANDLE hSE, PCIHANDLE hPci) {
  if (hSE == nullptr) {
    return SE_ERR_NULL_HANDLE;
  }
  hSE = SEClearRecord(hSE);
  std::memcpy(hSE->m_oSE128K.m_pszSEepromID, kUnknownPart, sizeof(kUnknownPart));
  SEConfigAccess_Init(hSE);
  SEConfigAccess_SetHandle(hSE, hPci);
  SEChipInfo_Init(hSE);
  hSE->m_oUpdateStatus = UPDATE_STATUS{nullptr, nullptr};
  SEDevCtrlPatch_Init(hSE);
  const SE_ERR iResult = SEInit(hSE);
  if (iResult != SE_OK) {
    SEReleaseHandle(hSE);
  }
  return iResult;
}

// No register is touched unless the aperture is mapped: a failed mapping ends creation.
SE_ERR SEInit(SEHANDLE hSE) {
  if (!SEChipInfo_IsLumivaneFamily(hSE)) {
    return SE_ERR_UNSUPPORTED_DEVICE;
  }
  if (!SERegisterAccess_Init(hSE)) {
    return SE_ERR_MEMORY_MAP;
  }
  hSE->m_oTableBoard.SetHWProtection = LumSetHWProtection;
  SETableE2P_Init(hSE);
  UINT32 ulBiosCfg = 0;
  SEConfigAccess_ReadDword(hSE, SE_CFG_BIOS_CONFIG, &ulBiosCfg);
  if ((ulBiosCfg & kBiosCfgSerialEeprom) != kBiosCfgSerialEeprom) {
    return SE_ERR_NO_SERIAL_EEPROM;
  }
  hSE->m_oTableMain.SEGetInfo = SE128KGetInfo;
  return hSE->m_oTableMain.SEGetInfo(hSE) ? SE_OK : SE_ERR_NO_FLASH_PART;
}

SE_ERR SESetWriteStatusFct(SEHANDLE hSE, SE_WRITE_STATUS fnWriteStatus, void* pvRefIn) {
  if (hSE == nullptr) {
    return SE_ERR_NULL_HANDLE;
  }
  hSE->m_oUpdateStatus = UPDATE_STATUS{fnWriteStatus, pvRefIn};
  return SE_OK;
}

// A slot left empty by a failed creation, or no buffer to read into, fails the read
// without touching the part.
SE_ERR SERead(SEHANDLE hSE, UINT32 ulStartIndex, UINT32 ulSize, UINT8* pucBuffer) {
  if (hSE == nullptr) {
    return SE_ERR_NULL_HANDLE;
  }
  const SE_READ_FCT fnRead = hSE->m_oTableMain.SERead;
  const bool bUsable = fnRead != nullptr && (pucBuffer != nullptr || ulSize == 0);
  return bUsable && fnRead(hSE, ulStartIndex, ulSize, pucBuffer) == TRUE ? SE_OK : SE_ERR_READ;
}

SE_ERR SEWrite(SEHANDLE hSE, UINT8* pucBuffer, UINT32 ulStartIndex, UINT32 ulSize) {
  if (hSE == nullptr) {
    return SE_ERR_NULL_HANDLE;
  }
  const SE_WRITE_FCT fnWrite = hSE->m_oTableMain.SEWrite;
  const bool bUsable = fnWrite != nullptr && pucBuffer != nullptr;
  return bUsable && fnWrite(hSE, pucBuffer, ulStartIndex, ulSize) == TRUE ? SE_OK : SE_ERR_WRITE;
}

// Reports what creation found; the part is not asked again.
SE_ERR SEGetInfo(SEHANDLE hSE, SE_INFO* pSEInfo) {
  if (hSE == nullptr || pSEInfo == nullptr) {
    return SE_ERR_NULL_HANDLE;
  }
  const SE_128K& oPart = hSE->m_oSE128K;
  pSEInfo->hPci = SEConfigAccess_GetHandle(hSE);
  std::memcpy(pSEInfo->pszSEepromID, oPart.m_pszSEepromID, SE_EEPROM_ID_LENGTH);
  pSEInfo->pszSEepromID[SE_EEPROM_ID_LENGTH - 1] = '\0';
  pSEInfo->ulSEepromPage = oPart.m_ulSEepromPage;
  pSEInfo->ulSEepromSize = oPart.m_ulSEepromSize;
  return SE_OK;
}

// The command byte goes back first, then the aperture; safe to repeat.
SE_ERR SEReleaseHandle(SEHANDLE hSE) {
  if (hSE == nullptr) {
    return SE_ERR_NULL_HANDLE;
  }
  SEDevCtrlPatch_Cleanup(hSE);
  SERegisterAccess_Cleanup(hSE);
  SEChipInfo_Cleanup(hSE);
  SEConfigAccess_Cleanup(hSE);
  return SE_OK;
}
