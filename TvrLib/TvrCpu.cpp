#include "TvrCpu.h"

#include <array>

#include "TvrPlatform.h"
#include "TvrUnits.h"

int g_iHavePerm = 0;

namespace {

// Bytes moved by each bank code; 0 for the codes that serve no access.
constexpr std::array<DWORD, 9> kBankWidth = {0, 0, 0, 0, 0, 0, 1, 2, 4};

DWORD BankWidth(DWORD lBank) { return lBank < kBankWidth.size() ? kBankWidth[lBank] : 0; }

}  // namespace

BOOL32 cpuHavePortPrivilege() {
  if (g_iHavePerm == 0) {
    if (!TvrGetPlatform().RequestIoPrivilege()) {
      return FALSE;
    }
    g_iHavePerm = 1;
  }
  return TRUE;
}

namespace {

// Bytes one access of the kind lBank moves once the privilege is held; 0 when there is no
// access to make. The privilege is asked for first, whatever the bank.
DWORD AccessWidth(DWORD lBank) { return cpuHavePortPrivilege() ? BankWidth(lBank) : 0; }

}  // namespace

BOOL32 cpuRead(DWORD lBank, DWORD lIndex, void* pvBuffer) {
  const DWORD width = AccessWidth(lBank);
  if (width == 0) {
    return FALSE;
  }
  const UINT32 value = TvrGetPlatform().PortRead(static_cast<UINT16>(lIndex), width);
  tvr::StoreLittleEndian(pvBuffer, value, width);
  return TRUE;
}

BOOL32 cpuWrite(DWORD lBank, DWORD lIndex, void* pvBuffer) {
  const DWORD width = AccessWidth(lBank);
  if (width == 0) {
    return FALSE;
  }
  TvrGetPlatform().PortWrite(static_cast<UINT16>(lIndex), width,
                             tvr::LoadLittleEndian(pvBuffer, width));
  return TRUE;
}

BOOL32 cpuReadWrite(DWORD lBank, DWORD lIndex, void* pvBuffer, DWORD lAccess) {
  return lAccess == 0 ? cpuRead(lBank, lIndex, pvBuffer) : cpuWrite(lBank, lIndex, pvBuffer);
}
