#include "PortBus.h"

#include "PciConfig.h"

namespace emu {

namespace {

// Bits 30-24 and 1-0 of the address latch are reserved: the host bridge reads them as 0.
constexpr std::uint32_t kConfigAddressBits = 0x80FFFFFCu;
constexpr std::uint16_t kTimer2DataPort = 0x42;
constexpr std::uint16_t kTimerControlPort = 0x43;
constexpr std::uint16_t kSystemControlPortB = 0x61;

constexpr std::uint8_t kPortBWritableBits = 0x0F;
constexpr std::uint8_t kPortBGate2 = 0x01;
constexpr std::uint8_t kPortBOutput2 = 0x20;

bool IsConfigDataPort(std::uint16_t port) {
  return port >= kConfigDataPort && port <= kConfigDataPort + 3;
}

}  // namespace

bool PortBus::Models(std::uint16_t port) {
  return port == kConfigAddressPort || IsConfigDataPort(port) || port == kTimer2DataPort ||
         port == kTimerControlPort || port == kSystemControlPortB;
}

PciFunction* PortBus::SelectedFunction() const {
  if ((m_configAddress & kConfigEnable) == 0) {
    return nullptr;
  }
  const auto found = m_functions.find((m_configAddress >> 8) & 0xFFFF);
  return found == m_functions.end() ? nullptr : found->second.get();
}

std::pair<PciFunction*, std::uint32_t> PortBus::ConfigTarget(std::uint16_t port,
                                                             std::uint32_t width) const {
  const std::uint32_t lane = port - kConfigDataPort;
  if (lane + width > 4) {
    return {nullptr, 0};
  }
  return {SelectedFunction(), (m_configAddress & 0xFC) + lane};
}

std::uint32_t PortBus::Read(std::uint16_t port, std::uint32_t width, std::uint64_t now) {
  if (port == kConfigAddressPort && width == 4) {
    return m_configAddress;
  }
  if (IsConfigDataPort(port)) {
    const auto [function, offset] = ConfigTarget(port, width);
    return function != nullptr ? function->ConfigRead(offset, width) : kAllOnes;
  }
  if (port == kTimer2DataPort && width == 1) {
    return m_timer.ReadData(now);
  }
  if (port == kSystemControlPortB && width == 1) {
    return (m_portB & kPortBWritableBits) | (m_timer.Output(now) ? kPortBOutput2 : 0);
  }
  return kAllOnes;
}

void PortBus::Write(std::uint16_t port, std::uint32_t width, std::uint32_t value,
                    std::uint64_t now) {
  if (port == kConfigAddressPort && width == 4) {
    m_configAddress = value & kConfigAddressBits;
  } else if (IsConfigDataPort(port)) {
    const auto [function, offset] = ConfigTarget(port, width);
    if (function != nullptr) {
      function->ConfigWrite(offset, width, value);
    }
  } else if (width != 1) {
    return;
  } else if (port == kTimerControlPort) {
    m_timer.WriteControl(static_cast<std::uint8_t>(value), now);
  } else if (port == kTimer2DataPort) {
    m_timer.WriteData(static_cast<std::uint8_t>(value), now);
  } else if (port == kSystemControlPortB) {
    m_portB = static_cast<std::uint8_t>(value & kPortBWritableBits);
    m_timer.SetGate((value & kPortBGate2) != 0, now);
  }
}

}  // namespace emu
