// The card's fixed numbers: where its words lie in configuration space, its aperture
// registers and their bits, what they hold at power-up, and the size of its flash part.
#pragma once

#include <cstddef>
#include <cstdint>

#include "PciConfig.h"

namespace emu {

// Configuration space beyond the common header: the register aperture's base address
// register and the BIOS configuration word.
constexpr std::uint32_t kConfigAperture = 0x14;
constexpr std::uint32_t kConfigBiosWord = 0x40;
// A display controller, revision 0.
constexpr std::uint32_t kDisplayControllerClass = 0x03000000;
// The smallest register aperture that holds every register.
constexpr std::uint32_t kMinimumAperture = 0x2000;
// Every aperture register is one 32-bit word.
constexpr std::uint32_t kRegisterWidth = 4;

// Aperture registers and their bits.
constexpr std::uint32_t kLineRegister = 0x304;
constexpr std::uint32_t kLineBypass = 1u << 0;
constexpr std::uint32_t kLineClock = 1u << 4;
constexpr std::uint32_t kLineDataIn = 1u << 8;
constexpr std::uint32_t kLineChipSelectN = 1u << 12;
constexpr std::uint32_t kLineDataOut = 1u << 16;
constexpr std::uint32_t kProtectRegister = 0x1C4C;
// Both bits set drive the part's write-protect pin high (writable); anything else holds it low.
constexpr std::uint32_t kProtectWritable = (1u << 5) | (1u << 15);

// Power-up contents. The bits that mean nothing to the serial lines hold a non-zero pattern,
// so that a driver that does not keep them shows up; the part starts deselected and
// write-protected.
constexpr std::uint32_t kLineRegisterPowerUp = 0xC3A02C42 | kLineChipSelectN;
constexpr std::uint32_t kProtectRegisterPowerUp = 0x2A1C0401;
static_assert((kLineRegisterPowerUp & (kLineBypass | kLineClock | kLineDataIn | kLineDataOut)) == 0,
              "the lines start released, the clock low");
static_assert((kProtectRegisterPowerUp & kProtectWritable) == 0, "the part starts write-protected");

// Every part the card carries holds 1 Mbit.
constexpr std::size_t kFlashCapacity = 131072;

}  // namespace emu
