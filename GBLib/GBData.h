// The image object's record and the functions its modules offer one another.
#pragma once

#include <cstddef>
#include <type_traits>

#include "GBLib.h"
#include "TvrCards.h"
#include "TvrPci.h"

struct GB_CONFIG {
  PCIHANDLE m_hDevice;
};

struct GB_CHIP_INFO {
  UINT16 m_usDeviceID;
};

struct GB_BIOS {
  UINT8* pucData;  // the image, ulSEepromSize bytes
  UINT32 ulSize;   // the BIOS proper: byte 2 of the header times 512
  UINT32 ulVersion;
  ACHAR pszVerExt[8];
  ACHAR pszProductID[8];
};

struct GB_PINS {
  UINT8* pucData;  // the working copy, usSize bytes; null when none was loaded
  UINT16 usPINSOffset;
  UINT16 usSize;
  UINT16 usCounter;
  BOOL32 bValid;
};

struct GB_SUBSYS {
  UINT32 ulSubsys;
  UINT32 ulSubSys_Offset;
  BOOL32 bSetByText;  // the PInS text gave the word: it goes to the card as it is
};

struct GB_MCS {
  BOOL32 bValid;
  UINT8* pucData;  // null when no block was found
  UINT32 ulSize;
};

using GB_PINS_TEXT_FCT = BOOL32 (*)(GBHANDLE hGB, ACHAR* pszBuffer, INT32 iBufferSize);
using GB_PINS_PARSE_FCT = BOOL32 (*)(GBHANDLE hGB, const ACHAR* pszBuffer, INT32 iBufferSize);
using GB_PINS_STAMP_FCT = void (*)(GBHANDLE hGB);

struct GB_TABLE {
  GB_PINS_TEXT_FCT PInSDataToASCII;
  GB_PINS_PARSE_FCT PInSASCIIToData;
  GB_PINS_STAMP_FCT UpdatePInSCountDate;
};

struct GB_DATA {
  GB_CONFIG m_oGBConfigAccess;
  SEHANDLE m_hSE;
  SE_INFO m_oSEInfo;
  GB_CHIP_INFO m_oGBChipInfo;
  GB_BIOS m_oBIOS;
  GB_PINS m_oPINS;
  GB_SUBSYS m_oSubSys;
  GB_MCS m_oMCS;
  GB_TABLE m_oTable;
};
// Creation clears the record with memset and the caller allocates it raw.
static_assert(std::is_trivially_copyable_v<GB_DATA> && std::is_standard_layout_v<GB_DATA>,
              "GB_DATA is a plain record");
static_assert(offsetof(GB_DATA, m_oGBConfigAccess) == 0, "the PCI location comes first");

// Numbers in the image, the PInS and the calibration block are little-endian.
inline UINT32 GBReadLE(const UINT8* puc, UINT32 ulBytes) {
  UINT32 ulValue = 0;
  for (UINT32 i = ulBytes; i-- > 0;) {
    ulValue = (ulValue << 8) | puc[i];
  }
  return ulValue;
}
inline void GBWriteLE(UINT8* puc, UINT32 ulValue, UINT32 ulBytes) {
  for (UINT32 i = 0; i < ulBytes; ++i, ulValue >>= 8) {
    puc[i] = static_cast<UINT8>(ulValue);
  }
}

// A buffer read as the image would hold it: its own bytes, then erased bytes (0xFF).
// Every read stays inside the buffer whatever offset a pointer in the data gives.
struct GBBufferView {
  const UINT8* pucData;
  UINT32 ulSize;

  BOOL32 Holds(UINT32 ulOffset, UINT32 ulLength) const {
    return ulOffset <= ulSize && ulLength <= ulSize - ulOffset;
  }
  UINT8 Byte(UINT32 ulOffset) const { return ulOffset < ulSize ? pucData[ulOffset] : 0xFF; }
  UINT16 Word(UINT32 ulOffset) const {
    return static_cast<UINT16>(Byte(ulOffset) | (Byte(ulOffset + 1) << 8));
  }
  BOOL32 Matches(UINT32 ulOffset, const char* pszText, UINT32 ulLength) const {
    for (UINT32 i = 0; i < ulLength; ++i) {
      if (Byte(ulOffset + i) != static_cast<UINT8>(pszText[i])) {
        return FALSE;
      }
    }
    return TRUE;
  }
};

// GBCore: analyses the image read from the card (PInS, subsystem word, version, product
// ID, family table, calibration block); 20001 for a chip of no known family, 0 when the
// calibration block cannot be copied.
GB_ERR GBInit(GBHANDLE hGB);

// GBGen: checksum rule and allocation. The pool is the heap: it needs no setting up.
BOOL32 ComputeCheckSum(UINT8* pucBuffer, UINT32 ulSize);
UINT8 GBSum8(const UINT8* pucBuffer, UINT32 ulSize);
BOOL32 GBPoolInit(GBHANDLE hGB);
void GBPoolCleanup(GBHANDLE hGB);
void* GBPoolAlloc(GBHANDLE hGB, UINT32 ulSize);
void GBPoolFree(GBHANDLE hGB, void* pvBuffer);

// GBInfo: the card's device ID.
BOOL32 GBChipInfo_Init(GBHANDLE hGB);
void GBChipInfo_Cleanup(GBHANDLE hGB);
UINT16 GBChipInfo_GetDeviceID(GBHANDLE hGB);
BOOL32 GBChipInfo_IsSupported(UINT16 usDeviceID);

// GBConfig: the card's PCI configuration space (the device ID word is what the library
// reads). Each access is one configuration access at the card's location.
BOOL32 GBConfigAccess_Init(GBHANDLE hGB);
void GBConfigAccess_Cleanup(GBHANDLE hGB);
void GBConfigAccess_SetHandle(GBHANDLE hGB, PCIHANDLE hDevice);
PCIHANDLE GBConfigAccess_GetHandle(GBHANDLE hGB);
void GBConfigAccess_ReadByte(GBHANDLE hGB, UINT32 dwOffset, UINT8* pucValue);
void GBConfigAccess_ReadWord(GBHANDLE hGB, UINT32 dwOffset, UINT16* pusValue);
void GBConfigAccess_ReadDword(GBHANDLE hGB, UINT32 dwOffset, UINT32* pulValue);
void GBConfigAccess_WriteByte(GBHANDLE hGB, UINT32 dwOffset, UINT8 ucValue);
void GBConfigAccess_WriteWord(GBHANDLE hGB, UINT32 dwOffset, UINT16 usValue);
void GBConfigAccess_WriteDword(GBHANDLE hGB, UINT32 dwOffset, UINT32 ulValue);

// GBBios: the image buffer. Accessors outside the buffer read 0 and write nothing.
constexpr UINT32 GB_BIOS_BLOCK = 512;
constexpr UINT32 GB_BIOS_SIZE_OFFSET = 0x02;
constexpr UINT32 GB_PCIR_POINTER_OFFSET = 0x18;
constexpr UINT32 GB_PINS_POINTER_OFFSET = 0x7FFC;
constexpr UINT32 GB_PINS_POINTER_SIZE = 2;
constexpr UINT32 GB_SUBSYS_FROM_END = 8;
constexpr UINT32 GB_SUBSYS_SIZE = 4;
// What an erased flash reads where the word was: no vendor at all.
constexpr UINT32 GB_SUBSYS_ERASED = 0xFFFFFFFF;
GB_ERR GBBiosInit(GBHANDLE hGB);
void GBBiosCleanup(GBHANDLE hGB);
void GBBiosReset(GBHANDLE hGB);
void GBBiosDetectSize(GBHANDLE hGB);
void GBBiosComputeChecksum(GBHANDLE hGB);
GB_ERR GBBiosDetectVersion(GBHANDLE hGB);
GB_ERR GBBiosDetectProductID(GBHANDLE hGB);
UINT8 GBBiosGetByte(GBHANDLE hGB, UINT32 ulOffset);
UINT16 GBBiosGetWord(GBHANDLE hGB, UINT32 ulOffset);
UINT32 GBBiosGetDword(GBHANDLE hGB, UINT32 ulOffset);
BOOL32 GBBiosGetBuffer(GBHANDLE hGB, UINT32 ulOffset, void* pvBuffer, UINT32 ulSize);
BOOL32 GBBiosSetDword(GBHANDLE hGB, UINT32 ulOffset, UINT32 ulValue);
BOOL32 GBBiosSetBuffer(GBHANDLE hGB, UINT32 ulOffset, const void* pvBuffer, UINT32 ulSize);
BOOL32 GBBiosHolds(GBHANDLE hGB, UINT32 ulOffset, UINT32 ulSize);

// GBPins: the PInS working copy. Accessors outside the copy read 0 and write nothing.
constexpr UINT16 GB_PINS_SIGNATURE = 0x412E;
constexpr UINT32 GB_PINS_SIZE_FIELD = 2;
constexpr UINT32 GB_PINS_DATE_FIELD = 6;
constexpr UINT32 GB_PINS_COUNTER_FIELD = 8;
// Signature, size, date and counter, and a checksum byte behind them.
constexpr UINT32 GB_PINS_MIN_SIZE = GB_PINS_COUNTER_FIELD + 2 + 1;
GB_ERR GBPinsInit(GBHANDLE hGB);
void GBPinsCleanup(GBHANDLE hGB);
void GBPinsValidate(GBHANDLE hGB);
BOOL32 GBPinsIsValid(GBHANDLE hGB);
UINT32 GBPinsGetSize(GBHANDLE hGB);
void GBPinsComputeChecksum(GBHANDLE hGB);
// Installs a new copy of usSize bytes taken from a BIOS file at usOffset, with its checksum
// made right (the file's PInS of an update); FALSE, with the old copy kept, when it cannot
// be allocated.
BOOL32 GBPinsTake(GBHANDLE hGB, const GBBufferView& view, UINT16 usOffset, UINT16 usSize);
UINT8 GBPinsGetByte(GBHANDLE hGB, UINT32 ulOffset);
UINT16 GBPinsGetWord(GBHANDLE hGB, UINT32 ulOffset);
UINT32 GBPinsGetDword(GBHANDLE hGB, UINT32 ulOffset);
// ulSize bytes from ulOffset; FALSE, with the buffer untouched, when they pass the copy.
BOOL32 GBPinsGetBuffer(GBHANDLE hGB, UINT32 ulOffset, void* pvBuffer, UINT32 ulSize);
BOOL32 GBPinsGetBufferAll(GBHANDLE hGB, void* pvBuffer);
BOOL32 GBPinsSetByte(GBHANDLE hGB, UINT32 ulOffset, UINT8 byValue);
BOOL32 GBPinsSetWord(GBHANDLE hGB, UINT32 ulOffset, UINT16 wValue);
BOOL32 GBPinsSetDword(GBHANDLE hGB, UINT32 ulOffset, UINT32 dwValue);
// The text and its NUL, or nothing at all when they would pass the end of the copy.
BOOL32 GBPinsSetString(GBHANDLE hGB, UINT32 ulOffset, const ACHAR* pszValue);
BOOL32 GBPinsSetBuffer(GBHANDLE hGB, UINT32 ulOffset, const void* pvBuffer, UINT32 ulSize);
BOOL32 GBPinsSetBufferAll(GBHANDLE hGB, const void* pvBuffer);
BOOL32 GBPinsFill(GBHANDLE hGB, UINT32 ulOffset, UINT32 ulSize, UINT8 byValue);

// GBMcs: the calibration block. Finding none is no error; 0 when it cannot be copied.
GB_ERR GBMCSInit(GBHANDLE hGB);
void GBMCSCleanup(GBHANDLE hGB);
GB_ERR GBMCSGetBuffer(GBHANDLE hGB, UINT32 ulOffset, void* pvBuffer, UINT32 ulSize);
GB_ERR GBMCSGetBufferAll(GBHANDLE hGB, void* pvBuffer);
INT32 GBMCSGetSize(GBHANDLE hGB);

// GBLum: the PInS text of this chip family and the programming stamp.
BOOL32 LumPInSDataToASCII(GBHANDLE hGB, ACHAR* pszBuffer, INT32 iBufferSize);
BOOL32 LumPInSASCIIToData(GBHANDLE hGB, const ACHAR* pszBuffer, INT32 iBufferSize);
void LumUpdatePInSCountDate(GBHANDLE hGB);

// Where an image keeps things, and the copies between the records: every field read lies
// where it should, every text copied by its destination's size reads inside its source.
static_assert(GB_SUBSYS_FROM_END >= GB_SUBSYS_SIZE, "the subsystem word lies inside the image");
static_assert(GB_PCIR_POINTER_OFFSET + 2 <= GB_BIOS_BLOCK,
              "the PCI data pointer is in the first block");
static_assert(sizeof(GB_INFO{}.pszBIOSVerExt) >= sizeof(GB_BIOS{}.pszVerExt), "the extension fits");
static_assert(sizeof(GB_BIOS{}.pszProductID) >= sizeof(GB_INFO{}.pszProductID),
              "the product ID copy reads inside its source");
static_assert(sizeof(GB_BIOS_IDENT{}.pszVerExt) >= sizeof(GB_BIOS{}.pszVerExt),
              "the detected extension fills the image's field from inside");
static_assert(sizeof(GB_BIOS_IDENT{}.pszProductID) >= sizeof(GB_BIOS{}.pszProductID),
              "the detected product ID fills the image's field from inside");
