#include "TvrIo.h"

#include "TvrCpu.h"
#include "TvrUnits.h"

namespace {

DWORD BankForWidth(DWORD width) {
  return width == 4 ? CPU_BANK_PORT32 : width == 2 ? CPU_BANK_PORT16 : CPU_BANK_PORT8;
}

}  // namespace

DWORD ioReadWrite(IOHANDLE hPort, void* pvBuffer, DWORD lSize, DWORD lAccess) {
  auto* buffer = static_cast<BYTE*>(pvBuffer);
  for (DWORD lOffset = 0; lOffset < lSize;) {
    const IOHANDLE port = hPort + lOffset;
    const DWORD width = tvr::UnitSize(port, lSize - lOffset);
    // A refused access leaves the buffer as it was; the port layer reports nothing.
    cpuReadWrite(BankForWidth(width), port, buffer + lOffset, lAccess);
    lOffset += width;
  }
  return 1;
}

DWORD ioRead(IOHANDLE hPort, void* pvBuffer, DWORD lSize) {
  return ioReadWrite(hPort, pvBuffer, lSize, 0);
}

DWORD ioWrite(IOHANDLE hPort, void* pvBuffer, DWORD lSize) {
  return ioReadWrite(hPort, pvBuffer, lSize, 1);
}

DWORD ioReadDword(IOHANDLE hPort, DWORD* pvBuffer) { return ioRead(hPort, pvBuffer, 4); }
DWORD ioReadWord(IOHANDLE hPort, WORD* pvBuffer) { return ioRead(hPort, pvBuffer, 2); }
DWORD ioReadByte(IOHANDLE hPort, BYTE* pvBuffer) { return ioRead(hPort, pvBuffer, 1); }

DWORD ioWriteDword(IOHANDLE hPort, DWORD pvBuffer) { return ioWrite(hPort, &pvBuffer, 4); }
DWORD ioWriteWord(IOHANDLE hPort, WORD pvBuffer) { return ioWrite(hPort, &pvBuffer, 2); }
DWORD ioWriteByte(IOHANDLE hPort, BYTE pvBuffer) { return ioWrite(hPort, &pvBuffer, 1); }
