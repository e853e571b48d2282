// The card's PCI configuration space, at the location the object was created for.
#include "GBData.h"
#include "TvrCs.h"

void GBConfigAccess_SetHandle(GBHANDLE hGB, PCIHANDLE hDevice) { hGB->m_oGBConfigAccess.m_hDevice = hDevice; }

PCIHANDLE GBConfigAccess_GetHandle(GBHANDLE hGB) { return hGB->m_oGBConfigAccess.m_hDevice; }

void GBConfigAccess_ReadWord(GBHANDLE hGB, UINT32 dwOffset, UINT16* pusValue) {
  csReadWord(hGB->m_oGBConfigAccess.m_hDevice, dwOffset, pusValue);
}
