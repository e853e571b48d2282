// The data-in line as a part hears it: a bit on each rising clock edge while it is
// selected, gathered into bytes, most significant bit first. The flash part shifts its
// commands in with it, and so does anything else that listens to the wire.
#pragma once

#include <cstdint>

namespace emu {

class SpiShifter {
 public:
  // Chip select fell: a command starts.
  void Restart() { *this = {}; }
  // Takes one bit; true when it completes a byte, which Byte() then holds.
  bool Shift(bool bit) {
    m_byte = static_cast<std::uint8_t>((m_byte << 1) | (bit ? 1 : 0));
    return ++m_bits % 8 == 0;
  }
  std::uint8_t Byte() const { return m_byte; }
  // Bits taken since the command started.
  std::uint32_t Bits() const { return m_bits; }
  bool AtByteBoundary() const { return m_bits % 8 == 0; }

 private:
  std::uint8_t m_byte = 0;
  std::uint32_t m_bits = 0;
};

}  // namespace emu
