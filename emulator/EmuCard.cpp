#include "EmuCard.h"

#include <stdexcept>

namespace emu {
namespace {

constexpr std::uint32_t kConfigVendorDevice = 0x00;
constexpr std::uint32_t kConfigClassRevision = 0x08;
constexpr std::uint32_t kDisplayControllerClass = 0x03000000;
constexpr std::uint32_t kMinimumAperture = 0x2000;
constexpr std::uint32_t kBarFlagBits = 0xF;
// Command register bits that software may change: the ones the bus defines.
constexpr std::uint32_t kCommandWritable = 0x000007FF;
constexpr std::uint32_t kRegisterWidth = 4;

bool Overlaps(std::uint32_t offset, std::uint32_t width, std::uint32_t registerOffset) {
  return offset < registerOffset + kRegisterWidth && registerOffset < offset + width;
}

void CheckAperture(const CardOptions& options) {
  const std::uint32_t size = options.apertureSize;
  const bool powerOfTwo = size != 0 && (size & (size - 1)) == 0;
  if (!powerOfTwo || size < kMinimumAperture || (options.apertureBase & (size - 1)) != 0) {
    throw std::invalid_argument(
        "card aperture must be a power of two of at least 0x2000 bytes on a base aligned to it");
  }
}

std::unique_ptr<FlashStore> ContentOrErased(std::unique_ptr<FlashStore> flash) {
  return flash ? std::move(flash) : FlashStore::InMemory();
}

}  // namespace

Card::Card(const VirtualClock& clock, const CardOptions& options, std::unique_ptr<FlashStore> flash)
    : m_options((CheckAperture(options), options)),
      m_aperture(options.apertureSize, 0),
      m_flash(options.part, ContentOrErased(std::move(flash)), clock, options.faults,
              options.flashStatus) {
  SetConfig16(kConfigVendorDevice, options.vendorId);
  SetConfig16(kConfigVendorDevice + 2, options.deviceId);
  SetConfig32(kConfigCommand, options.command);
  SetConfig32(kConfigClassRevision, kDisplayControllerClass);
  SetConfig32(kConfigAperture, options.apertureBase);
  SetConfig16(kConfigSubsystem, options.subsystemVendorId);
  SetConfig16(kConfigSubsystem + 2, options.subsystemId);
  SetConfig32(kConfigBiosWord, options.biosWord);
  SetWriteMask32(kConfigCommand, kCommandWritable);
  SetWriteMask32(kConfigAperture, ~(options.apertureSize - 1) & ~kBarFlagBits);

  Store32(kLineRegister, kLineRegisterPowerUp);
  Store32(kProtectRegister, kProtectRegisterPowerUp);
  m_flash.SetWriteProtectPin(false);
}

std::vector<MemoryBar> Card::MemoryBars() const {
  return {{kConfigAperture, m_options.apertureSize}};
}

std::uint32_t Card::DeviceRead(std::uint32_t, std::uint32_t offset, std::uint32_t width) {
  std::uint32_t value = 0;
  for (std::uint32_t i = 0; i < width && i < kRegisterWidth; ++i) {
    value |= static_cast<std::uint32_t>(ByteAt(offset + i)) << (8 * i);
  }
  return value;
}

void Card::DeviceWrite(std::uint32_t, std::uint32_t offset, std::uint32_t width, std::uint32_t value) {
  if (width > kRegisterWidth || offset > m_aperture.size() - width) return;
  const std::uint32_t linesBefore = Stored32(kLineRegister);
  const std::uint32_t protectBefore = Stored32(kProtectRegister);
  for (std::uint32_t i = 0; i < width; ++i) {
    m_aperture[offset + i] = static_cast<std::uint8_t>(value >> (8 * i));
  }
  if (Overlaps(offset, width, kLineRegister)) OnLineRegisterWritten(linesBefore);
  if (Overlaps(offset, width, kProtectRegister)) OnProtectRegisterWritten(protectBefore);
}

std::uint8_t Card::ByteAt(std::uint32_t offset) const {
  if (offset >= m_aperture.size()) return 0xFF;
  if (Overlaps(offset, 1, kLineRegister)) {
    return static_cast<std::uint8_t>(LiveLineRegister() >> (8 * (offset - kLineRegister)));
  }
  return m_aperture[offset];
}

std::uint32_t Card::LiveLineRegister() const {
  std::uint32_t value = Stored32(kLineRegister);
  // Another user of the lines has the bypass bit set whenever software looks.
  if (m_options.faults.linesBusy) value |= kLineBypass;
  // Nothing drives data-out unless the part is on the lines: the line then reads 1.
  const bool dataOut = !LinesReachPart(value) || m_flash.DataOut();
  return dataOut ? value | kLineDataOut : value & ~kLineDataOut;
}

bool Card::LinesReachPart(std::uint32_t lineRegister) const {
  const FaultSet& faults = m_options.faults;
  return (lineRegister & kLineBypass) != 0 && !faults.linesBusy && !faults.noFlash;
}

Card::Lines Card::SeenByPart(std::uint32_t lineRegister) const {
  // While the chip drives the lines itself, the part sees itself deselected.
  if (!LinesReachPart(lineRegister)) return {};
  return {(lineRegister & kLineChipSelectN) == 0, (lineRegister & kLineClock) != 0,
          (lineRegister & kLineDataIn) != 0};
}

void Card::OnLineRegisterWritten(std::uint32_t before) {
  const std::uint32_t after = Stored32(kLineRegister) & ~kLineDataOut;  // data-out is read-only
  Store32(kLineRegister, after);
  const Lines was = SeenByPart(before);
  const Lines now = SeenByPart(after);
  // One write may move several lines: data settles first, a falling select opens the
  // command before the clock edge, a rising select closes it after.
  if (!was.selected && now.selected) m_flash.Select();
  if (!was.clock && now.clock) m_flash.ClockRise(now.dataIn);
  if (was.clock && !now.clock) m_flash.ClockFall();
  if (was.selected && !now.selected) m_flash.Deselect();
}

void Card::OnProtectRegisterWritten(std::uint32_t before) {
  if (m_options.faults.wpStuck) Store32(kProtectRegister, before);
  m_flash.SetWriteProtectPin((Stored32(kProtectRegister) & kProtectWritable) == kProtectWritable);
}

std::uint32_t Card::Stored32(std::uint32_t offset) const {
  std::uint32_t value = 0;
  for (std::uint32_t i = 0; i < kRegisterWidth; ++i) {
    value |= static_cast<std::uint32_t>(m_aperture[offset + i]) << (8 * i);
  }
  return value;
}

void Card::Store32(std::uint32_t offset, std::uint32_t value) {
  for (std::uint32_t i = 0; i < kRegisterWidth; ++i) {
    m_aperture[offset + i] = static_cast<std::uint8_t>(value >> (8 * i));
  }
}

}  // namespace emu
