#include "Timer8254.h"

namespace emu {
namespace {

constexpr std::uint8_t kChannel2 = 2;
constexpr std::uint32_t kBinaryModulus = 0x10000;
constexpr std::uint32_t kBcdModulus = 10000;

enum Mode : std::uint8_t {
  kTerminalCount = 0,
  kOneShot = 1,
  kRateGenerator = 2,
  kSquareWave = 3,
  kSoftwareStrobe = 4,
  kHardwareStrobe = 5,
};

std::uint64_t Ticks(std::uint64_t ns) {
  constexpr std::uint64_t kNsPerSecond = 1000000000;
  return ns / kNsPerSecond * IntervalTimer2::kHz +
         ns % kNsPerSecond * IntervalTimer2::kHz / kNsPerSecond;
}

// Four decimal digits, one per nibble; a nibble above 9 counts with its own value, as the
// counter's decade logic takes it.
std::uint32_t FromBcd(std::uint16_t value) {
  return (value >> 12 & 0xF) * 1000u + (value >> 8 & 0xF) * 100u + (value >> 4 & 0xF) * 10u +
         (value & 0xF);
}

std::uint16_t ToBcd(std::uint32_t value) {
  return static_cast<std::uint16_t>((value / 1000 % 10) << 12 | (value / 100 % 10) << 8 |
                                    (value / 10 % 10) << 4 | value % 10);
}

}  // namespace

void IntervalTimer2::WriteControl(std::uint8_t word, std::uint64_t nowNs) {
  if (word >> 6 != kChannel2) {
    return;  // other channels and the read-back command
  }
  Sync(nowNs);
  const std::uint8_t access = (word >> 4) & 3;
  if (access == kLatch) {
    if (!m_latched) {
      m_latch = CountNow();
      m_latched = true;
      m_readHigh = m_access == kHighByte;
    }
    return;
  }
  const std::uint8_t mode = (word >> 1) & 7;
  m_mode = mode > kHardwareStrobe ? mode - 4 : mode;  // 6 and 7 are 2 and 3
  m_bcd = (word & 1) != 0;
  m_access = access;
  m_writeHigh = access == kHighByte;
  m_readHigh = access == kHighByte;
  m_latched = false;
  m_loaded = false;
}

void IntervalTimer2::WriteData(std::uint8_t byte, std::uint64_t nowNs) {
  Sync(nowNs);
  if (m_writeHigh) {
    m_pending = static_cast<std::uint16_t>((m_pending & 0x00FF) | (byte << 8));
  } else {
    m_pending = static_cast<std::uint16_t>((m_pending & 0xFF00) | byte);
  }
  const bool complete = m_access != kLowThenHigh || m_writeHigh;
  if (m_access == kLowThenHigh) {
    m_writeHigh = !m_writeHigh;
  } else if (m_access == kLowByte) {
    m_pending &= 0x00FF;
  } else {
    m_pending &= 0xFF00;
  }
  if (complete) {
    m_count = m_pending;
    m_loaded = true;
    m_elapsed = 0;
  } else if (m_mode == kTerminalCount) {
    m_loaded = false;  // the first byte of a new count stops the count in mode 0
  }
}

std::uint8_t IntervalTimer2::ReadData(std::uint64_t nowNs) {
  Sync(nowNs);
  const std::uint16_t value = m_latched ? m_latch : CountNow();
  const bool high = m_readHigh;
  const bool complete = m_access != kLowThenHigh || high;
  if (m_access == kLowThenHigh) {
    m_readHigh = !m_readHigh;
  }
  if (complete) {
    m_latched = false;
  }
  return ByteOf(value, high);
}

void IntervalTimer2::SetGate(bool on, std::uint64_t nowNs) {
  Sync(nowNs);
  m_gate = on;
}

bool IntervalTimer2::Output(std::uint64_t nowNs) {
  Sync(nowNs);
  if (!m_loaded) {
    return m_mode != kTerminalCount;
  }
  const std::uint64_t period = Period();
  const std::uint64_t e = m_elapsed;  // the first clock loads the count
  switch (m_mode) {
    case kTerminalCount:
      return e >= period + 1;
    case kRateGenerator:
      // Low for the one clock in which the count is 1; a low gate holds it high.
      return !m_gate || e == 0 || (e - 1) % period != period - 1;
    case kSquareWave:
      return !m_gate || e == 0 || (e - 1) % period < (period + 1) / 2;
    case kSoftwareStrobe:
      return e != period + 1;
    default:
      return true;
  }
}

void IntervalTimer2::Sync(std::uint64_t nowNs) {
  const std::uint64_t ticks = Ticks(nowNs);
  if (m_loaded && m_gate && m_mode != kOneShot && m_mode != kHardwareStrobe) {
    m_elapsed += ticks - m_lastTicks;
  }
  m_lastTicks = ticks;
}

std::uint32_t IntervalTimer2::Period() const {
  const std::uint32_t modulus = m_bcd ? kBcdModulus : kBinaryModulus;
  const std::uint32_t count = m_bcd ? FromBcd(m_count) : m_count;
  return count == 0 ? modulus : count;
}

std::uint16_t IntervalTimer2::CountNow() const {
  if (!m_loaded || m_elapsed == 0) {
    return m_count;
  }
  const std::uint32_t period = Period();
  const std::uint64_t clocks = m_elapsed - 1;
  std::uint32_t value = period;
  switch (m_mode) {
    case kTerminalCount:
    case kSoftwareStrobe: {
      // After the terminal count the counter runs on through its whole range.
      const std::uint32_t modulus = m_bcd ? kBcdModulus : kBinaryModulus;
      value = static_cast<std::uint32_t>((period + modulus - clocks % modulus) % modulus);
      break;
    }
    case kRateGenerator:
      value = static_cast<std::uint32_t>(period - clocks % period);
      break;
    case kSquareWave:
      value = static_cast<std::uint32_t>(period - (2 * clocks) % period);
      break;
    default:
      break;
  }
  return m_bcd ? ToBcd(value) : static_cast<std::uint16_t>(value);
}

}  // namespace emu
