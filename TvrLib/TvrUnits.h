// Private to the hardware library: how a run of ports, configuration bytes or device
// bytes is cut into accesses, and how an access's value sits in a caller's buffer.
#pragma once

#include <cstdint>

#include "TvrType.h"

namespace tvr {

// The widest aligned unit at `address` with `remaining` bytes left: 4 bytes on a 4-byte
// boundary when more than 3 remain, 2 bytes on an even address when more than 1 remains,
// otherwise one byte.
constexpr DWORD UnitSize(std::uintptr_t address, DWORD remaining) {
  if (address % 4 == 0 && remaining > 3) {
    return 4;
  }
  if (address % 2 == 0 && remaining > 1) {
    return 2;
  }
  return 1;
}

// Buffer bytes hold port and register values little-endian, whatever the host. An access is
// 1, 2 or 4 bytes wide; each width is spelled out, so that the compiler makes it one move.
inline UINT32 LoadLittleEndian(const void* buffer, DWORD width) {
  const auto* bytes = static_cast<const BYTE*>(buffer);
  switch (width) {
    case 4:
      return static_cast<UINT32>(bytes[0]) | static_cast<UINT32>(bytes[1]) << 8 |
             static_cast<UINT32>(bytes[2]) << 16 | static_cast<UINT32>(bytes[3]) << 24;
    case 2:
      return static_cast<UINT32>(bytes[0]) | static_cast<UINT32>(bytes[1]) << 8;
    default:
      return bytes[0];
  }
}

inline void StoreLittleEndian(void* buffer, UINT32 value, DWORD width) {
  auto* bytes = static_cast<BYTE*>(buffer);
  switch (width) {
    case 4:
      bytes[3] = static_cast<BYTE>(value >> 24);
      bytes[2] = static_cast<BYTE>(value >> 16);
      [[fallthrough]];
    case 2:
      bytes[1] = static_cast<BYTE>(value >> 8);
      [[fallthrough]];
    default:
      bytes[0] = static_cast<BYTE>(value);
  }
}

}  // namespace tvr
