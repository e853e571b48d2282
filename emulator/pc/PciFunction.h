// One function on the PCI bus: its configuration space, the memory ranges it decodes and
// its answers to device accesses inside them.
#pragma once

#include <array>
#include <cstdint>
#include <vector>

#include "PciConfig.h"

namespace emu {

// What a read outside every function answers: the bus pulls every line high.
constexpr std::uint32_t kAllOnes = 0xFFFFFFFFu;

// The value bits of an access of `width` bytes (1, 2 or 4).
constexpr std::uint32_t WidthMask(std::uint32_t width) {
  return width >= 4 ? kAllOnes : (1u << (8 * width)) - 1;
}

// A memory range that a function decodes through one of its base address registers.
struct MemoryBar {
  std::uint32_t configOffset;  // 0x10 to 0x24
  std::uint32_t size;          // a power of two, at least one page
};

// Hears of every change to a function's configuration bytes: the machine decides from them,
// once per change, which function answers which physical addresses.
class ConfigListener {
 public:
  virtual void OnConfigChanged() = 0;

 protected:
  ~ConfigListener() = default;
};

// One PCI function: a 256-byte configuration space with per-byte write masks. The base
// class keeps the bytes; a device overrides the hooks it needs.
class PciFunction {
 public:
  PciFunction();
  virtual ~PciFunction() = default;

  // As the bus sees them (write masks applied on writes). Offsets stay inside 256 bytes.
  virtual std::uint32_t ConfigRead(std::uint32_t offset, std::uint32_t width);
  virtual void ConfigWrite(std::uint32_t offset, std::uint32_t width, std::uint32_t value);

  // For tests and set-up: the raw bytes, masks ignored.
  std::uint32_t Config32(std::uint32_t offset) const;
  void SetConfig32(std::uint32_t offset, std::uint32_t value);
  void SetConfig16(std::uint32_t offset, std::uint16_t value);
  void SetConfig8(std::uint32_t offset, std::uint8_t value);
  void SetWriteMask32(std::uint32_t offset, std::uint32_t mask);

  bool MemoryDecodingOn() const;  // command register bit 1
  // At most one listener; null for none.
  void SetConfigListener(ConfigListener* listener) { m_listener = listener; }

  // Memory ranges this function decodes; the base address is read from configuration space.
  virtual std::vector<MemoryBar> MemoryBars() const { return {}; }
  // An access inside one of those ranges while memory decoding is on: `bar` is the range's
  // configOffset, `offset` the byte offset from its base. By default reads all ones and
  // drops writes.
  virtual std::uint32_t DeviceRead(std::uint32_t bar, std::uint32_t offset, std::uint32_t width);
  virtual void DeviceWrite(std::uint32_t bar, std::uint32_t offset, std::uint32_t width,
                           std::uint32_t value);

 private:
  void ConfigChanged() const;

  std::array<std::uint8_t, kPciConfigSize> m_config{};
  std::array<std::uint8_t, kPciConfigSize> m_writeMask{};
  ConfigListener* m_listener = nullptr;
};

}  // namespace emu
