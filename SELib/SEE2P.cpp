// The line table: the flash protocol drives the serial lines only through these, so a
// family with other register bits needs only other table entries.
#include "SEInternal.h"

void SETableE2P_Init(SEHANDLE hSE) {
  hSE->m_oTableE2P = SE_TABLE_E2P{
      LumSetE2PBYP_Low,  LumSetE2PBYP_High,  LumSetE2PBYPCLK_Low, LumSetE2PBYPCLK_High,
      LumSetE2PBYPD_Low, LumSetE2PBYPD_High, LumSetE2PBYPCSN_Low, LumSetE2PBYPCSN_High,
      LumGetE2PBYP,      LumGetE2PQ,
  };
}

void SETableE2P_Cleanup(SEHANDLE) {}

void SETableE2P_SetSerialBypass_Low(SEHANDLE hSE) { hSE->m_oTableE2P.SetSerialBypass_Low(hSE); }
void SETableE2P_SetSerialBypass_High(SEHANDLE hSE) { hSE->m_oTableE2P.SetSerialBypass_High(hSE); }
void SETableE2P_SetSerialClk_Low(SEHANDLE hSE) { hSE->m_oTableE2P.SetSerialClk_Low(hSE); }
void SETableE2P_SetSerialClk_High(SEHANDLE hSE) { hSE->m_oTableE2P.SetSerialClk_High(hSE); }
void SETableE2P_SetSerialDataIn_Low(SEHANDLE hSE) { hSE->m_oTableE2P.SetSerialDataIn_Low(hSE); }
void SETableE2P_SetSerialDataIn_High(SEHANDLE hSE) { hSE->m_oTableE2P.SetSerialDataIn_High(hSE); }
void SETableE2P_SetChipSelect_Low(SEHANDLE hSE) { hSE->m_oTableE2P.SetChipSelect_Low(hSE); }
void SETableE2P_SetChipSelect_High(SEHANDLE hSE) { hSE->m_oTableE2P.SetChipSelect_High(hSE); }

// Any nonzero value drives the line high.
void SETableE2P_SetSerialBypass(SEHANDLE hSE, UINT8 ucValue) {
  ucValue != 0 ? SETableE2P_SetSerialBypass_High(hSE) : SETableE2P_SetSerialBypass_Low(hSE);
}

void SETableE2P_SetSerialClk(SEHANDLE hSE, UINT8 ucValue) {
  ucValue != 0 ? SETableE2P_SetSerialClk_High(hSE) : SETableE2P_SetSerialClk_Low(hSE);
}

void SETableE2P_SetSerialDataIn(SEHANDLE hSE, UINT8 ucValue) {
  ucValue != 0 ? SETableE2P_SetSerialDataIn_High(hSE) : SETableE2P_SetSerialDataIn_Low(hSE);
}

void SETableE2P_SetChipSelect(SEHANDLE hSE, UINT8 ucValue) {
  ucValue != 0 ? SETableE2P_SetChipSelect_High(hSE) : SETableE2P_SetChipSelect_Low(hSE);
}

void SETableE2P_GetSerialBypass(SEHANDLE hSE, UINT8* pucValue) {
  hSE->m_oTableE2P.GetSerialBypass(hSE, pucValue);
}

void SETableE2P_GetSerialDataOut(SEHANDLE hSE, UINT8* pucValue) {
  hSE->m_oTableE2P.GetSerialDataOut(hSE, pucValue);
}
