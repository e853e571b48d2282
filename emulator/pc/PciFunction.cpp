#include "PciFunction.h"

#include "PciConfig.h"

namespace emu {

PciFunction::PciFunction() = default;

namespace {

template <std::size_t N>
std::uint32_t LoadBytes(const std::array<std::uint8_t, N>& bytes, std::uint32_t offset,
                        std::uint32_t width) {
  std::uint32_t value = 0;
  for (std::uint32_t i = 0; i < width && offset + i < N; ++i) {
    value |= static_cast<std::uint32_t>(bytes[offset + i]) << (8 * i);
  }
  return value;
}

template <std::size_t N>
void StoreBytes(std::array<std::uint8_t, N>& bytes, std::uint32_t offset, std::uint32_t value,
                std::uint32_t width) {
  for (std::uint32_t i = 0; i < width && offset + i < N; ++i) {
    bytes[offset + i] = static_cast<std::uint8_t>(value >> (8 * i));
  }
}

}  // namespace

std::uint32_t PciFunction::ConfigRead(std::uint32_t offset, std::uint32_t width) {
  return LoadBytes(m_config, offset, width);
}

void PciFunction::ConfigWrite(std::uint32_t offset, std::uint32_t width, std::uint32_t value) {
  for (std::uint32_t i = 0; i < width && offset + i < m_config.size(); ++i) {
    const auto byte = static_cast<std::uint8_t>(value >> (8 * i));
    const std::uint8_t mask = m_writeMask[offset + i];
    m_config[offset + i] =
        static_cast<std::uint8_t>((m_config[offset + i] & ~mask) | (byte & mask));
  }
  ConfigChanged();
}

std::uint32_t PciFunction::Config32(std::uint32_t offset) const {
  return LoadBytes(m_config, offset, 4);
}

void PciFunction::SetConfig32(std::uint32_t offset, std::uint32_t value) {
  StoreBytes(m_config, offset, value, 4);
  ConfigChanged();
}
void PciFunction::SetConfig16(std::uint32_t offset, std::uint16_t value) {
  StoreBytes(m_config, offset, value, 2);
  ConfigChanged();
}
void PciFunction::SetConfig8(std::uint32_t offset, std::uint8_t value) {
  StoreBytes(m_config, offset, value, 1);
  ConfigChanged();
}
void PciFunction::SetWriteMask32(std::uint32_t offset, std::uint32_t mask) {
  StoreBytes(m_writeMask, offset, mask, 4);
}

void PciFunction::ConfigChanged() const {
  if (m_listener != nullptr) {
    m_listener->OnConfigChanged();
  }
}

bool PciFunction::MemoryDecodingOn() const {
  return (Config32(kPciCommand) & kPciCommandMemory) != 0;
}

std::uint32_t PciFunction::DeviceRead(std::uint32_t, std::uint32_t, std::uint32_t width) {
  return WidthMask(width);
}

void PciFunction::DeviceWrite(std::uint32_t, std::uint32_t, std::uint32_t, std::uint32_t) {}

}  // namespace emu
