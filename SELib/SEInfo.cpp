// The graphics chip's device ID and the test for the supported family. The vendor ID is
// deliberately not examined: the family is known by its device IDs alone.
#include "SEInternal.h"

BOOL32 SEChipInfo_Init(SEHANDLE hSE) {
  SEConfigAccess_ReadWord(hSE, PCI_CFG_DEVICE_ID, &hSE->m_oSEChipInfo.m_usDeviceID);
  return TRUE;
}

void SEChipInfo_Cleanup(SEHANDLE) {}

UINT16 SEChipInfo_GetDeviceID(SEHANDLE hSE) { return hSE->m_oSEChipInfo.m_usDeviceID; }

BOOL32 SEChipInfo_IsLumivaneFamily(SEHANDLE hSE) {
  return TvrFindCard(SEChipInfo_GetDeviceID(hSE)) != nullptr ? TRUE : FALSE;
}
