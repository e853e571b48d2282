// Access to the card's register aperture, mapped through the memory device. The aperture is
// the one the second base address register gives.
#include "SEInternal.h"
#include "TvrMem.h"
#include "TvrPlatform.h"

namespace {
// Low bits of a base address register: bit 0 marks I/O space, bits 1-3 the memory type and
// prefetch flags. None of them is part of the address.
constexpr UINT32 kBarIoSpace = 0x1;
constexpr UINT32 kBarTypeBits = 0x6;
constexpr UINT32 kBarType32 = 0x0;
constexpr UINT32 kBarTypeBelow1MiB = 0x2;
constexpr UINT32 kBarType64 = 0x4;

// The memory device is opened once per process and kept: every object maps through it.
bool OpenMemoryDevice() {
  if (iFileDescriptor == -1) {
    iFileDescriptor = TvrGetPlatform().OpenPhysicalMemory();
  }
  return iFileDescriptor != -1;
}

// An I/O range or an unassigned base address has nothing to map: mapping physical page 0
// would aim every register write at system memory.
bool IsMappableBase(UINT32 ulBar) {
  return (ulBar & kBarIoSpace) == 0 && (ulBar & PCI_BAR_MEMORY_MASK) != 0;
}

// A 32-bit aperture (anywhere, or below 1 MiB), or a 64-bit one below 4 GiB (its upper
// half, in the next register, is 0). Above 4 GiB the low half alone would name some other
// physical address; the reserved type names none.
bool IsBelow4GiB(SEHANDLE hSE, UINT32 ulBar) {
  switch (ulBar & kBarTypeBits) {
    case kBarType32:
    case kBarTypeBelow1MiB:
      return true;
    case kBarType64: {
      UINT32 ulUpper = 0xFFFFFFFFu;
      SEConfigAccess_ReadDword(hSE, PCI_CFG_BAR1 + 4, &ulUpper);
      return ulUpper == 0;
    }
    default:
      return false;
  }
}
}  // namespace

BOOL32 SERegisterAccess_Init(SEHANDLE hSE) {
  MEMHANDLE& hRegs = hSE->m_oSERegisterAccess.m_hRegs;
  hRegs = 0;
  UINT32 ulBar = 0;
  SEConfigAccess_ReadDword(hSE, PCI_CFG_BAR1, &ulBar);
  if (!IsMappableBase(ulBar) || !IsBelow4GiB(hSE, ulBar) || !OpenMemoryDevice()) {
    return FALSE;
  }
  hRegs = memMap(ulBar & PCI_BAR_MEMORY_MASK, SE_REGS_MAP_LENGTH);
  return hRegs != 0 ? TRUE : FALSE;
}

void SERegisterAccess_Cleanup(SEHANDLE hSE) {
  MEMHANDLE& hRegs = hSE->m_oSERegisterAccess.m_hRegs;
  if (hRegs != 0) {
    memUnmap(hRegs);
    hRegs = 0;
  }
}

void SERegisterAccess_ReadDword(SEHANDLE hSE, UINT32 dwOffset, UINT32* pdwValue) {
  memReadDword(hSE->m_oSERegisterAccess.m_hRegs, dwOffset, pdwValue);
}

void SERegisterAccess_WriteDword(SEHANDLE hSE, UINT32 dwOffset, UINT32 dwValue) {
  memWriteDword(hSE->m_oSERegisterAccess.m_hRegs, dwOffset, dwValue);
}
