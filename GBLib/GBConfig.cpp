// The card's PCI configuration space, at the location the object was created for.
#include "GBData.h"
#include "TvrCs.h"

void GBConfigAccess_SetHandle(GBHANDLE hGB, PCIHANDLE hDevice) {
  hGB->m_oGBConfigAccess.m_hDevice = hDevice;
}

PCIHANDLE GBConfigAccess_GetHandle(GBHANDLE hGB) { return hGB->m_oGBConfigAccess.m_hDevice; }

BOOL32 GBConfigAccess_Init(GBHANDLE) { return TRUE; }

void GBConfigAccess_Cleanup(GBHANDLE) {}

void GBConfigAccess_ReadByte(GBHANDLE hGB, UINT32 dwOffset, UINT8* pucValue) {
  csReadByte(hGB->m_oGBConfigAccess.m_hDevice, dwOffset, pucValue);
}

void GBConfigAccess_ReadWord(GBHANDLE hGB, UINT32 dwOffset, UINT16* pusValue) {
  csReadWord(hGB->m_oGBConfigAccess.m_hDevice, dwOffset, pusValue);
}

void GBConfigAccess_ReadDword(GBHANDLE hGB, UINT32 dwOffset, UINT32* pulValue) {
  csReadDword(hGB->m_oGBConfigAccess.m_hDevice, dwOffset, pulValue);
}

void GBConfigAccess_WriteByte(GBHANDLE hGB, UINT32 dwOffset, UINT8 ucValue) {
  csWriteByte(hGB->m_oGBConfigAccess.m_hDevice, dwOffset, ucValue);
}

void GBConfigAccess_WriteWord(GBHANDLE hGB, UINT32 dwOffset, UINT16 usValue) {
  csWriteWord(hGB->m_oGBConfigAccess.m_hDevice, dwOffset, usValue);
}

void GBConfigAccess_WriteDword(GBHANDLE hGB, UINT32 dwOffset, UINT32 ulValue) {
  csWriteDword(hGB->m_oGBConfigAccess.m_hDevice, dwOffset, ulValue);
}
