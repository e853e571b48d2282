// Channel 2 of the 8254 interval timer (data port 0x42, control port 0x43, gate and output
// in port 0x61), counting at 1 193 182 Hz of virtual time, as the control word programs
// it: modes 0 (output rises at terminal count), 2 (rate generator: low for one clock per
// period), 3 (square wave) and 4 (software strobe); binary or BCD counting; low byte,
// high byte or both, in that order; the counter latch command and reads of the count.
// Modes 1 and 5 wait for a gate trigger, which this model never gives: their output
// stays high. Other channels and the read-back command are not modelled.
#pragma once

#include <cstdint>

namespace emu {

class IntervalTimer2 {
 public:
  static constexpr std::uint64_t kHz = 1193182;

  void WriteControl(std::uint8_t word, std::uint64_t nowNs);
  void WriteData(std::uint8_t byte, std::uint64_t nowNs);
  std::uint8_t ReadData(std::uint64_t nowNs);
  void SetGate(bool on, std::uint64_t nowNs);
  bool Output(std::uint64_t nowNs);

 private:
  enum Access : std::uint8_t { kLatch = 0, kLowByte = 1, kHighByte = 2, kLowThenHigh = 3 };

  void Sync(std::uint64_t nowNs);
  // The count loaded, in clocks: 0 stands for the largest count.
  std::uint32_t Period() const;
  // What the counting element holds now, in the counting format.
  std::uint16_t CountNow() const;
  // The byte of `value` the next read or write of the data port moves.
  static std::uint8_t ByteOf(std::uint16_t value, bool high) {
    return static_cast<std::uint8_t>(high ? value >> 8 : value);
  }

  std::uint8_t m_mode = 3;
  bool m_bcd = false;
  std::uint8_t m_access = kLowThenHigh;
  bool m_writeHigh = false;  // the next data write is the high byte
  bool m_readHigh = false;   // the next data read is the high byte
  bool m_latched = false;
  std::uint16_t m_latch = 0;
  bool m_loaded = false;
  bool m_gate = false;
  std::uint16_t m_pending = 0;
  std::uint16_t m_count = 0;
  std::uint64_t m_elapsed = 0;  // clocks counted since the count was loaded
  std::uint64_t m_lastTicks = 0;
};

}  // namespace emu
