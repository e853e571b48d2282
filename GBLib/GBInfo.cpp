// The graphics chip behind the image: its PCI device ID and whether this library knows it.
#include "GBData.h"

BOOL32 GBChipInfo_Init(GBHANDLE hGB) {
  // A location with no function behind it reads all ones, which no supported chip carries.
  UINT16 usDeviceID = 0xFFFF;
  GBConfigAccess_ReadWord(hGB, PCI_CFG_DEVICE_ID, &usDeviceID);
  hGB->m_oGBChipInfo.m_usDeviceID = usDeviceID;
  return TRUE;
}

void GBChipInfo_Cleanup(GBHANDLE) {}

UINT16 GBChipInfo_GetDeviceID(GBHANDLE hGB) { return hGB->m_oGBChipInfo.m_usDeviceID; }

BOOL32 GBChipInfo_IsSupported(UINT16 usDeviceID) { return TvrFindCard(usDeviceID) != nullptr; }
