// The bit transport: the serial lines handed to software through the bypass bit, and
// bytes clocked in and out of the part one bit at a time (mode 0, most significant bit
// first). The flash commands (SE128K.cpp) speak through nothing else.
#include "SEInternal.h"

BOOL32 SE128KEnableE2P(SEHANDLE hSE) {
  UINT8 ucBypass = 0;
  SETableE2P_GetSerialBypass(hSE, &ucBypass);
  if (ucBypass != 0) {
    return FALSE;  // another user holds the lines
  }
  SETableE2P_SetSerialClk_Low(hSE);
  SETableE2P_SetChipSelect_High(hSE);
  SETableE2P_SetSerialBypass_High(hSE);
  return TRUE;
}

void SE128KDisableE2P(SEHANDLE hSE) { SETableE2P_SetSerialBypass_Low(hSE); }

// Most significant bit first; the part takes each bit on the rising clock edge.
void SE128KSendData(SEHANDLE hSE, UINT8 ucData) {
  for (int iBit = 7; iBit >= 0; --iBit) {
    SETableE2P_SetSerialClk_Low(hSE);
    SETableE2P_SetSerialDataIn(hSE, static_cast<UINT8>((ucData >> iBit) & 1));
    SETableE2P_SetSerialClk_High(hSE);
  }
  SETableE2P_SetSerialClk_Low(hSE);
}

// Each bit is sampled while the clock is high, after the rising edge.
UINT8 SE128KReceiveData(SEHANDLE hSE) {
  UINT8 ucData = 0;
  for (int iBit = 7; iBit >= 0; --iBit) {
    SETableE2P_SetSerialClk_Low(hSE);
    SETableE2P_SetSerialClk_High(hSE);
    UINT8 ucBit = 0;
    SETableE2P_GetSerialDataOut(hSE, &ucBit);
    ucData = static_cast<UINT8>(ucData | (ucBit << iBit));
  }
  SETableE2P_SetSerialClk_Low(hSE);
  return ucData;
}

void SE128KSendBytes(SEHANDLE hSE, const UINT8* pucData, UINT32 ulLength) {
  for (UINT32 i = 0; i < ulLength; ++i) {
    SE128KSendData(hSE, pucData[i]);
  }
}
