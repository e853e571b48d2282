// PCI configuration access for the object's own function. The hardware calls cannot fail
// in a way they report, so their results are not passed on.
#include "SEInternal.h"
#include "TvrCs.h"

BOOL32 SEConfigAccess_Init(SEHANDLE) { return TRUE; }

void SEConfigAccess_Cleanup(SEHANDLE) {}

void SEConfigAccess_SetHandle(SEHANDLE hSE, PCIHANDLE hPci) {
  hSE->m_oSEConfigAccess.m_hDevice = hPci;
}

PCIHANDLE SEConfigAccess_GetHandle(SEHANDLE hSE) { return hSE->m_oSEConfigAccess.m_hDevice; }

void SEConfigAccess_ReadByte(SEHANDLE hSE, UINT32 dwOffset, UINT8* pValue) {
  csReadByte(SEConfigAccess_GetHandle(hSE), dwOffset, pValue);
}

void SEConfigAccess_ReadWord(SEHANDLE hSE, UINT32 dwOffset, UINT16* pValue) {
  csReadWord(SEConfigAccess_GetHandle(hSE), dwOffset, pValue);
}

void SEConfigAccess_ReadDword(SEHANDLE hSE, UINT32 dwOffset, UINT32* pValue) {
  csReadDword(SEConfigAccess_GetHandle(hSE), dwOffset, pValue);
}

void SEConfigAccess_WriteByte(SEHANDLE hSE, UINT32 dwOffset, UINT8 oValue) {
  csWriteByte(SEConfigAccess_GetHandle(hSE), dwOffset, oValue);
}

void SEConfigAccess_WriteWord(SEHANDLE hSE, UINT32 dwOffset, UINT16 oValue) {
  csWriteWord(SEConfigAccess_GetHandle(hSE), dwOffset, oValue);
}

void SEConfigAccess_WriteDword(SEHANDLE hSE, UINT32 dwOffset, UINT32 oValue) {
  csWriteDword(SEConfigAccess_GetHandle(hSE), dwOffset, oValue);
}
