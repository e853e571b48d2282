// What the other libraries include from the hardware library: the handles and the PCI location.
#pragma once

#include <cstdint>

#include "TvrType.h"

// Location of one PCI function: function in bits 0-2, device in bits 3-7, bus in bits 8-15.
using PCIHANDLE = DWORD;
// Process address of a mapped physical range, 0 for none. As wide as a pointer, so that a
// 64-bit build keeps the whole address.
using MEMHANDLE = std::uintptr_t;
// An I/O port number; only its low 16 bits reach the processor.
using IOHANDLE = DWORD;

struct PCILOCATION {
  DWORD function : 3;
  DWORD device : 5;
  DWORD bus : 8;
  DWORD reserved : 16;
};
static_assert(sizeof(PCILOCATION) == sizeof(PCIHANDLE), "PCILOCATION views one PCIHANDLE word");

constexpr PCIHANDLE MakePciHandle(DWORD bus, DWORD device, DWORD function = 0) {
  return ((bus & 0xFF) << 8) | ((device & 0x1F) << 3) | (function & 0x7);
}
