// The serial EEPROM object's record and the operations its modules offer one another.
#pragma once

#include <type_traits>

#include "SELib.h"
#include "TvrCards.h"
#include "TvrPci.h"

// The card's BIOS configuration word, in its PCI configuration space.
constexpr UINT32 SE_CFG_BIOS_CONFIG = 0x40;

// Capacity of every supported part: the only size a write accepts, the total of every report.
constexpr UINT32 SE_CAPACITY = 0x20000;

struct SE_DATA;

struct SE_CONFIG {
  PCIHANDLE m_hDevice;
};

struct SE_REGS {
  MEMHANDLE m_hRegs;  // 0 while the aperture is not mapped
};

struct SE_CHIP_INFO {
  UINT16 m_usDeviceID;
};

struct SE_DEVCTRL_PATCH {
  UINT8 m_ucDEVCTRL;  // low byte of the command register as found at creation
};

struct SE_128K {
  UINT32 m_ulSEepromID;
  UINT8 m_pszSEepromID[SE_EEPROM_ID_LENGTH];
  UINT32 m_ulSEepromPage;
  UINT32 m_ulSEepromSize;
};
static_assert(sizeof(SE_128K{}.m_pszSEepromID) == sizeof(SE_INFO{}.pszSEepromID),
              "the part name is handed out whole");

struct UPDATE_STATUS {
  SE_WRITE_STATUS m_fnWriteStatus;
  void* m_pvRefIn;
};

struct SE_TABLE_BOARD {
  void (*SetHWProtection)(SEHANDLE hSE, BOOL32 bProtect);
};

using SE_LINE_FCT = void (*)(SEHANDLE hSE);
using SE_LINE_GET_FCT = void (*)(SEHANDLE hSE, UINT8* pucValue);

struct SE_TABLE_E2P {
  SE_LINE_FCT SetSerialBypass_Low;
  SE_LINE_FCT SetSerialBypass_High;
  SE_LINE_FCT SetSerialClk_Low;
  SE_LINE_FCT SetSerialClk_High;
  SE_LINE_FCT SetSerialDataIn_Low;
  SE_LINE_FCT SetSerialDataIn_High;
  SE_LINE_FCT SetChipSelect_Low;
  SE_LINE_FCT SetChipSelect_High;
  SE_LINE_GET_FCT GetSerialBypass;
  SE_LINE_GET_FCT GetSerialDataOut;
};

using SE_GETINFO_FCT = BOOL32 (*)(SEHANDLE hSE);
using SE_READ_FCT = BOOL32 (*)(SEHANDLE hSE, UINT32 ulStartIndex, UINT32 ulSize, UINT8* pucBuffer);
using SE_WRITE_FCT = BOOL32 (*)(SEHANDLE hSE, UINT8* pucBuffer, UINT32 ulStartIndex, UINT32 ulSize);

struct SE_TABLE_MAIN {
  SE_GETINFO_FCT SEGetInfo;
  SE_READ_FCT SERead;
  SE_WRITE_FCT SEWrite;
};

struct SE_DATA {
  SE_CONFIG m_oSEConfigAccess;
  SE_REGS m_oSERegisterAccess;
  SE_CHIP_INFO m_oSEChipInfo;
  SE_DEVCTRL_PATCH m_oSEDevCtrlPatch;
  SE_128K m_oSE128K;
  UPDATE_STATUS m_oUpdateStatus;
  SE_TABLE_BOARD m_oTableBoard;
  SE_TABLE_E2P m_oTableE2P;
  SE_TABLE_MAIN m_oTableMain;
};

// Creation fills the caller's storage with zero bytes, so the record must stay plain.
static_assert(std::is_trivially_copyable_v<SE_DATA> && std::is_standard_layout_v<SE_DATA>,
              "SE_DATA is filled with zero bytes at creation");

// SECore
SE_ERR SEInit(SEHANDLE hSE);

// SEInfo
BOOL32 SEChipInfo_Init(SEHANDLE hSE);
void SEChipInfo_Cleanup(SEHANDLE hSE);
UINT16 SEChipInfo_GetDeviceID(SEHANDLE hSE);
BOOL32 SEChipInfo_IsLumivaneFamily(SEHANDLE hSE);

// SEPatch
BOOL32 SEDevCtrlPatch_Init(SEHANDLE hSE);
void SEDevCtrlPatch_Cleanup(SEHANDLE hSE);

// SEConfig
BOOL32 SEConfigAccess_Init(SEHANDLE hSE);
void SEConfigAccess_Cleanup(SEHANDLE hSE);
void SEConfigAccess_SetHandle(SEHANDLE hSE, PCIHANDLE hPci);
PCIHANDLE SEConfigAccess_GetHandle(SEHANDLE hSE);
void SEConfigAccess_ReadByte(SEHANDLE hSE, UINT32 dwOffset, UINT8* pValue);
void SEConfigAccess_ReadWord(SEHANDLE hSE, UINT32 dwOffset, UINT16* pValue);
void SEConfigAccess_ReadDword(SEHANDLE hSE, UINT32 dwOffset, UINT32* pValue);
void SEConfigAccess_WriteByte(SEHANDLE hSE, UINT32 dwOffset, UINT8 oValue);
void SEConfigAccess_WriteWord(SEHANDLE hSE, UINT32 dwOffset, UINT16 oValue);
void SEConfigAccess_WriteDword(SEHANDLE hSE, UINT32 dwOffset, UINT32 oValue);

// SERegs
constexpr UINT32 SE_REG_SERIAL_LINES = 0x304;
constexpr UINT32 SE_REG_HW_PROTECTION = 0x1C4C;
constexpr UINT32 SE_REGS_MAP_LENGTH = 0x1FFF;

BOOL32 SERegisterAccess_Init(SEHANDLE hSE);
void SERegisterAccess_Cleanup(SEHANDLE hSE);
void SERegisterAccess_ReadDword(SEHANDLE hSE, UINT32 dwOffset, UINT32* pdwValue);
void SERegisterAccess_WriteDword(SEHANDLE hSE, UINT32 dwOffset, UINT32 dwValue);

// SEE2P
void SETableE2P_Init(SEHANDLE hSE);
void SETableE2P_Cleanup(SEHANDLE hSE);
void SETableE2P_SetSerialBypass(SEHANDLE hSE, UINT8 ucValue);
void SETableE2P_SetSerialBypass_Low(SEHANDLE hSE);
void SETableE2P_SetSerialBypass_High(SEHANDLE hSE);
void SETableE2P_SetSerialClk(SEHANDLE hSE, UINT8 ucValue);
void SETableE2P_SetSerialClk_Low(SEHANDLE hSE);
void SETableE2P_SetSerialClk_High(SEHANDLE hSE);
void SETableE2P_SetSerialDataIn(SEHANDLE hSE, UINT8 ucValue);
void SETableE2P_SetSerialDataIn_Low(SEHANDLE hSE);
void SETableE2P_SetSerialDataIn_High(SEHANDLE hSE);
void SETableE2P_SetChipSelect(SEHANDLE hSE, UINT8 ucValue);
void SETableE2P_SetChipSelect_Low(SEHANDLE hSE);
void SETableE2P_SetChipSelect_High(SEHANDLE hSE);
void SETableE2P_GetSerialBypass(SEHANDLE hSE, UINT8* pucValue);
void SETableE2P_GetSerialDataOut(SEHANDLE hSE, UINT8* pucValue);

// SELum: bits of the serial-line register and of the protection register.
constexpr UINT32 LUM_E2PBYP = 1u << 0;
constexpr UINT32 LUM_E2PBYPCLK = 1u << 4;
constexpr UINT32 LUM_E2PBYPD = 1u << 8;
constexpr UINT32 LUM_E2PBYPCSN = 1u << 12;
constexpr UINT32 LUM_E2PQ = 1u << 16;
constexpr UINT32 LUM_HW_WRITABLE = (1u << 5) | (1u << 15);

void LumSetE2PBYP_Low(SEHANDLE hSE);
void LumSetE2PBYP_High(SEHANDLE hSE);
void LumSetE2PBYPCLK_Low(SEHANDLE hSE);
void LumSetE2PBYPCLK_High(SEHANDLE hSE);
void LumSetE2PBYPD_Low(SEHANDLE hSE);
void LumSetE2PBYPD_High(SEHANDLE hSE);
void LumSetE2PBYPCSN_Low(SEHANDLE hSE);
void LumSetE2PBYPCSN_High(SEHANDLE hSE);
void LumGetE2PBYP(SEHANDLE hSE, UINT8* ucData);
void LumGetE2PQ(SEHANDLE hSE, UINT8* ucData);
void LumSetHWProtection(SEHANDLE hSE, BOOL32 bProtect);

// SE128K
BOOL32 SE128KGetInfo(SEHANDLE hSE);
BOOL32 SE128KRead(SEHANDLE hSE, UINT32 ulStartIndex, UINT32 ulSize, UINT8* pucBuffer);
BOOL32 SE128K_ATMEL_STWrite(SEHANDLE hSE, UINT8* pucBuffer, UINT32 ulStartIndex, UINT32 ulSize);
BOOL32 SE128K_SSTWrite(SEHANDLE hSE, UINT8* pucBuffer, UINT32 ulStartIndex, UINT32 ulSize);
BOOL32 SE128KErase(SEHANDLE hSE);
BOOL32 SE128KSetProtection(SEHANDLE hSE, UINT8 ucBlock);
BOOL32 SE128KReadStatusSPI(SEHANDLE hSE, UINT8* pucStatus);

// SESpi: the bit transport under the commands
BOOL32 SE128KEnableE2P(SEHANDLE hSE);
void SE128KDisableE2P(SEHANDLE hSE);
void SE128KSendData(SEHANDLE hSE, UINT8 ucData);
void SE128KSendBytes(SEHANDLE hSE, const UINT8* pucData, UINT32 ulLength);
UINT8 SE128KReceiveData(SEHANDLE hSE);
