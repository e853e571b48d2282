// The family's serial lines and hardware write protection: each operation is one
// read-modify-write of a whole register, so every other bit keeps its value.
#include "SEInternal.h"

namespace {
void LumUpdateBits(SEHANDLE hSE, UINT32 dwOffset, UINT32 ulMask, bool bSet) {
  UINT32 ulTemp = 0;
  SERegisterAccess_ReadDword(hSE, dwOffset, &ulTemp);
  ulTemp = bSet ? (ulTemp | ulMask) : (ulTemp & ~ulMask);
  SERegisterAccess_WriteDword(hSE, dwOffset, ulTemp);
}

void LumSetLine(SEHANDLE hSE, UINT32 ulMask, bool bHigh) {
  LumUpdateBits(hSE, SE_REG_SERIAL_LINES, ulMask, bHigh);
}

UINT8 LumGetLine(SEHANDLE hSE, UINT32 ulMask) {
  UINT32 ulTemp = 0;
  SERegisterAccess_ReadDword(hSE, SE_REG_SERIAL_LINES, &ulTemp);
  return (ulTemp & ulMask) != 0 ? 1 : 0;
}
}  // namespace

void LumSetE2PBYP_Low(SEHANDLE hSE) { LumSetLine(hSE, LUM_E2PBYP, false); }
void LumSetE2PBYP_High(SEHANDLE hSE) { LumSetLine(hSE, LUM_E2PBYP, true); }
void LumSetE2PBYPCLK_Low(SEHANDLE hSE) { LumSetLine(hSE, LUM_E2PBYPCLK, false); }
void LumSetE2PBYPCLK_High(SEHANDLE hSE) { LumSetLine(hSE, LUM_E2PBYPCLK, true); }
void LumSetE2PBYPD_Low(SEHANDLE hSE) { LumSetLine(hSE, LUM_E2PBYPD, false); }
void LumSetE2PBYPD_High(SEHANDLE hSE) { LumSetLine(hSE, LUM_E2PBYPD, true); }
void LumSetE2PBYPCSN_Low(SEHANDLE hSE) { LumSetLine(hSE, LUM_E2PBYPCSN, false); }
void LumSetE2PBYPCSN_High(SEHANDLE hSE) { LumSetLine(hSE, LUM_E2PBYPCSN, true); }

void LumGetE2PBYP(SEHANDLE hSE, UINT8* ucData) { *ucData = LumGetLine(hSE, LUM_E2PBYP); }
void LumGetE2PQ(SEHANDLE hSE, UINT8* ucData) { *ucData = LumGetLine(hSE, LUM_E2PQ); }

// Both bits set make the flash writable; both clear protect it.
void LumSetHWProtection(SEHANDLE hSE, BOOL32 bProtect) {
  LumUpdateBits(hSE, SE_REG_HW_PROTECTION, LUM_HW_WRITABLE, bProtect == FALSE);
}
