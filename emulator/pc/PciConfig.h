// Offsets and bits of a PCI function's configuration header, as every function on the bus
// lays them out.
#pragma once

#include <cstdint>

namespace emu {

constexpr std::uint32_t kPciVendorDevice = 0x00;
constexpr std::uint32_t kPciCommand = 0x04;
constexpr std::uint32_t kPciClassRevision = 0x08;
constexpr std::uint32_t kPciSubsystem = 0x2C;
// Configuration mechanism #1: the address latch, the data window of four ports behind it,
// and the latch's enable bit.
constexpr std::uint16_t kConfigAddressPort = 0xCF8;
constexpr std::uint16_t kConfigDataPort = 0xCFC;
constexpr std::uint32_t kConfigEnable = 0x80000000u;

// The size of a function's configuration space.
constexpr std::uint32_t kPciConfigSize = 256;

// Command register: bit 1 turns memory decoding on; the low eleven bits are the ones the
// bus defines, and so the ones software may change.
constexpr std::uint16_t kPciCommandMemory = 0x0002;
constexpr std::uint32_t kPciCommandWritable = 0x000007FF;

// The low bits of a memory base address register are flags, never address bits.
constexpr std::uint32_t kPciBarFlagBits = 0xF;

}  // namespace emu
