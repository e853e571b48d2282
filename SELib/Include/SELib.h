// The serial EEPROM library: one object per card through which the BIOS flash part behind
// the card's serial-line register is identified, read, and written with verification.
#pragma once

#include <cstddef>

#include "TvrLib.h"

// The object's record; its storage belongs to the caller (SEGetHandleSize bytes).
struct SE_DATA;
using SEHANDLE = SE_DATA*;

// Status of the public calls: 1 is success, everything else a failure code below.
using SE_ERR = INT32;

constexpr SE_ERR SE_OK = 1;
constexpr SE_ERR SE_ERR_NULL_HANDLE = 10000;  // null handle, or null record for SEGetInfo
constexpr SE_ERR SE_ERR_UNSUPPORTED_DEVICE = 10001;
constexpr SE_ERR SE_ERR_NO_SERIAL_EEPROM = 10002;  // BIOS configuration word lacks bits 25-27
constexpr SE_ERR SE_ERR_NO_FLASH_PART = 10003;     // no part answered, or the lines were busy
constexpr SE_ERR SE_ERR_READ = 10004;
constexpr SE_ERR SE_ERR_WRITE = 10005;
constexpr SE_ERR SE_ERR_MEMORY_MAP = 10006;  // memory device not opened or aperture not mapped

constexpr UINT32 SE_LIB_VERSION = 8;
constexpr std::size_t SE_EEPROM_ID_LENGTH = 64;

// Progress of a write: position just past the last byte sent, the total, the caller's value.
using SE_WRITE_STATUS = void (*)(INT32 iCurrentPos, INT32 iMaxPos, void* pvRefIn);

// What SEGetInfo hands out.
struct SE_INFO {
  PCIHANDLE hPci;
  UINT8 pszSEepromID[SE_EEPROM_ID_LENGTH];  // NUL-terminated part name
  UINT32 ulSEepromPage;                     // bytes per program command
  UINT32 ulSEepromSize;                     // capacity in bytes
};
// Handed to callers as it is: no padding the ABI could move, one layout on 32 and 64 bits.
static_assert(offsetof(SE_INFO, pszSEepromID) == 4 &&
                  offsetof(SE_INFO, ulSEepromPage) == 4 + SE_EEPROM_ID_LENGTH &&
                  offsetof(SE_INFO, ulSEepromSize) == 8 + SE_EEPROM_ID_LENGTH &&
                  sizeof(SE_INFO) == 12 + SE_EEPROM_ID_LENGTH,
              "SE_INFO is the same on 32 and 64 bits");

UINT32 SEGetLibVersion();
UINT32 SEGetHandleSize();
SE_ERR SECreateHandle(SEHANDLE hSE, PCIHANDLE hPci);
SE_ERR SESetWriteStatusFct(SEHANDLE hSE, SE_WRITE_STATUS fnWriteStatus, void* pvRefIn);
SE_ERR SERead(SEHANDLE hSE, UINT32 ulStartIndex, UINT32 ulSize, UINT8* pucBuffer);
SE_ERR SEWrite(SEHANDLE hSE, UINT8* pucBuffer, UINT32 ulStartIndex, UINT32 ulSize);
SE_ERR SEGetInfo(SEHANDLE hSE, SE_INFO* pSEInfo);
SE_ERR SEReleaseHandle(SEHANDLE hSE);
