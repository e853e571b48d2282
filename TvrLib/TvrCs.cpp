#include "TvrCs.h"

#include <algorithm>

#include "TvrIo.h"
#include "TvrPci.h"
#include "TvrUnits.h"

namespace {

constexpr IOHANDLE CONFIG_ADDRESS_PORT = 0xCF8;
constexpr IOHANDLE CONFIG_DATA_PORT = 0xCFC;
constexpr DWORD CONFIG_ENABLE = 0x80000000u;
// Bus, device and function fill the low 16 bits of a location. One with bits above them
// names no function: cut to 16 bits it would reach another card.
constexpr DWORD PCI_HANDLE_MASK = 0xFFFF;

constexpr DWORD ConfigAddressWord(PCIHANDLE hDevice, DWORD offset) {
  return CONFIG_ENABLE | (hDevice << 8) | (offset & ~3u);
}

// What an empty location answers: all ones to a read, nothing to a write.
DWORD NoFunction(BYTE* buffer, DWORD iSize, DWORD iAccess) {
  if (iAccess == CS_ACCESS_READ) {
    std::fill(buffer, buffer + iSize, BYTE{0xFF});
  }
  return 1;
}

// Bytes of the request that lie inside the 256-byte space; the address word has no room
// for an offset beyond it, which would address another function.
DWORD BytesInsideSpace(DWORD iOffset, DWORD iSize) {
  if (iOffset >= PCI_CFG_SIZE) {
    return 0;
  }
  const DWORD room = PCI_CFG_SIZE - iOffset;
  return iSize < room ? iSize : room;
}

}  // namespace

DWORD csReadWrite(PCIHANDLE hDevice, DWORD iOffset, void* pvBuffer, DWORD iSize, DWORD iAccess) {
  auto* buffer = static_cast<BYTE*>(pvBuffer);
  const DWORD size = BytesInsideSpace(iOffset, iSize);
  if ((hDevice & ~PCI_HANDLE_MASK) != 0) {
    return NoFunction(buffer, size, iAccess);
  }
  // Another user of the mechanism finds the address port as it left it.
  DWORD dwSave = 0xFFFFFFFFu;
  ioReadDword(CONFIG_ADDRESS_PORT, &dwSave);
  for (DWORD iWalk = 0; iWalk < size;) {
    const DWORD a = iOffset + iWalk;
    ioWriteDword(CONFIG_ADDRESS_PORT, ConfigAddressWord(hDevice, a));
    const DWORD piece = tvr::UnitSize(a, size - iWalk);
    ioReadWrite(CONFIG_DATA_PORT + (a & 3), buffer + iWalk, piece, iAccess);
    iWalk += piece;
  }
  ioWriteDword(CONFIG_ADDRESS_PORT, dwSave);
  return 1;
}

DWORD csRead(PCIHANDLE hDevice, DWORD iOffset, void* pvBuffer, DWORD iSize) {
  return csReadWrite(hDevice, iOffset, pvBuffer, iSize, CS_ACCESS_READ);
}

DWORD csWrite(PCIHANDLE hDevice, DWORD iOffset, void* pvBuffer, DWORD iSize) {
  return csReadWrite(hDevice, iOffset, pvBuffer, iSize, CS_ACCESS_WRITE);
}

DWORD csReadDword(PCIHANDLE hPci, DWORD iOffset, DWORD* pvBuffer) {
  return csRead(hPci, iOffset, pvBuffer, 4);
}
DWORD csReadWord(PCIHANDLE hPci, DWORD iOffset, WORD* pvBuffer) {
  return csRead(hPci, iOffset, pvBuffer, 2);
}
DWORD csReadByte(PCIHANDLE hPci, DWORD iOffset, BYTE* pvBuffer) {
  return csRead(hPci, iOffset, pvBuffer, 1);
}

DWORD csWriteDword(PCIHANDLE hPci, DWORD iOffset, DWORD pvBuffer) {
  return csWrite(hPci, iOffset, &pvBuffer, 4);
}
DWORD csWriteWord(PCIHANDLE hPci, DWORD iOffset, WORD pvBuffer) {
  return csWrite(hPci, iOffset, &pvBuffer, 2);
}
DWORD csWriteByte(PCIHANDLE hPci, DWORD iOffset, BYTE pvBuffer) {
  return csWrite(hPci, iOffset, &pvBuffer, 1);
}
