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

// Buffer bytes hold port and register values little-endian, whatever the host.
inline UINT32 LoadLittleEndian(const void* buffer, DWORD width) {
  const auto* bytes = static_cast<const BYTE*>(buffer);
  UINT32 value = 0;
  for (DWORD i = 0; i < width; ++i) {
    value |= static_cast<UINT32>(bytes[i]) << (8 * i);
  }
  return value;
}

inline void StoreLittleEndian(void* buffer, UINT32 value, DWORD width) {
  auto* bytes = static_cast<BYTE*>(buffer);
  for (DWORD i = 0; i < width; ++i) {
    bytes[i] = static_cast<BYTE>(value >> (8 * i));
  }
}

}  // namespace tvr
