#include "TvrMem.h"

#include "TvrPlatform.h"
#include "TvrUnits.h"

namespace {

// Moves `size` bytes between the device at hMemory + offset and `buffer`, one platform
// access per unit, in ascending address order. The handle of a failed mapping (0) reaches
// no address at all.
void MoveDevice(MEMHANDLE hMemory, DWORD offset, BYTE* buffer, DWORD size, bool write) {
  if (hMemory == 0) {
    return;
  }
  TvrPlatform& platform = TvrGetPlatform();
  std::uintptr_t address = hMemory + offset;
  while (size != 0) {
    const DWORD unit = tvr::UnitSize(address, size);
    if (write) {
      platform.DeviceWrite(address, unit, tvr::LoadLittleEndian(buffer, unit));
    } else {
      tvr::StoreLittleEndian(buffer, platform.DeviceRead(address, unit), unit);
    }
    address += unit;
    buffer += unit;
    size -= unit;
  }
}

}  // namespace

DWORD memRead(MEMHANDLE hMemory, DWORD dwOffset, void* pvBuffer, DWORD dwSize) {
  MoveDevice(hMemory, dwOffset, static_cast<BYTE*>(pvBuffer), dwSize, false);
  return 1;
}

DWORD memWrite(MEMHANDLE hMemory, DWORD dwOffset, void* pvBuffer, DWORD dwSize) {
  MoveDevice(hMemory, dwOffset, static_cast<BYTE*>(pvBuffer), dwSize, true);
  return 1;
}

DWORD memReadWrite(MEMHANDLE hMemory, DWORD dwOffset, void* pvBuffer, DWORD dwSize, DWORD lAccess) {
  return lAccess == MEM_ACCESS_READ ? memRead(hMemory, dwOffset, pvBuffer, dwSize)
                                    : memWrite(hMemory, dwOffset, pvBuffer, dwSize);
}

DWORD memReadDword(MEMHANDLE hMemory, DWORD dwOffset, DWORD* pvBuffer) {
  return memRead(hMemory, dwOffset, pvBuffer, 4);
}
DWORD memReadWord(MEMHANDLE hMemory, DWORD dwOffset, WORD* pvBuffer) {
  return memRead(hMemory, dwOffset, pvBuffer, 2);
}
DWORD memReadByte(MEMHANDLE hMemory, DWORD dwOffset, BYTE* pvBuffer) {
  return memRead(hMemory, dwOffset, pvBuffer, 1);
}

DWORD memWriteDword(MEMHANDLE hMemory, DWORD dwOffset, DWORD pvBuffer) {
  return memWrite(hMemory, dwOffset, &pvBuffer, 4);
}
DWORD memWriteWord(MEMHANDLE hMemory, DWORD dwOffset, WORD pvBuffer) {
  return memWrite(hMemory, dwOffset, &pvBuffer, 2);
}
DWORD memWriteByte(MEMHANDLE hMemory, DWORD dwOffset, BYTE pvBuffer) {
  return memWrite(hMemory, dwOffset, &pvBuffer, 1);
}
