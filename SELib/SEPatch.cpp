// The card's memory decoding must be on for the register aperture to answer; it is switched
// on for the object's life and the command byte found at creation is put back on release.
#include "SEInternal.h"

namespace {
// A test build of the program leaves the restore out, to show that the trap harness
// finds a missing restore; the shipped program always restores.
#ifdef TVR_FAULT_NO_COMMAND_RESTORE
constexpr bool kRestoreCommandByte = false;
#else
constexpr bool kRestoreCommandByte = true;
#endif
}  // namespace

BOOL32 SEDevCtrlPatch_Init(SEHANDLE hSE) {
  UINT8& ucDEVCTRL = hSE->m_oSEDevCtrlPatch.m_ucDEVCTRL;
  SEConfigAccess_ReadByte(hSE, PCI_CFG_COMMAND, &ucDEVCTRL);
  if ((ucDEVCTRL & PCI_COMMAND_MEMORY_ENABLE) == 0) {
    SEConfigAccess_WriteByte(hSE, PCI_CFG_COMMAND,
                             static_cast<UINT8>(ucDEVCTRL | PCI_COMMAND_MEMORY_ENABLE));
  }
  return TRUE;
}

// Written back unconditionally, so the byte is what it was even if something else changed it.
void SEDevCtrlPatch_Cleanup(SEHANDLE hSE) {
  if (kRestoreCommandByte) {
    SEConfigAccess_WriteByte(hSE, PCI_CFG_COMMAND, hSE->m_oSEDevCtrlPatch.m_ucDEVCTRL);
  }
}
