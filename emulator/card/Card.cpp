#include "Card.h"

#include <array>
#include <stdexcept>

namespace emu {
namespace {

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

std::unique_ptr<StateStore> StateOrPowerUp(std::unique_ptr<StateStore> state,
                                           const CardOptions& options) {
  return state ? std::move(state) : StateStore::InMemory(PowerUpState(options));
}

// The aperture registers that live in the card's state, by offset.
struct StateRegister {
  std::uint32_t offset;
  std::uint32_t CardRegisters::*field;
};

constexpr std::array<StateRegister, 2> kStateRegisters{{
    {kLineRegister, &CardRegisters::lineRegister},
    {kProtectRegister, &CardRegisters::protectRegister},
}};

// The state register that holds the aperture byte at `offset`, if any.
const StateRegister* StateRegisterAt(std::uint32_t offset) {
  for (const StateRegister& entry : kStateRegisters) {
    if (Overlaps(offset, 1, entry.offset)) {
      return &entry;
    }
  }
  return nullptr;
}

// The state register that an aligned access of its whole width reaches, if any.
const StateRegister* WholeStateRegister(std::uint32_t offset, std::uint32_t width) {
  const StateRegister* reg = StateRegisterAt(offset);
  return reg != nullptr && reg->offset == offset && width == kRegisterWidth ? reg : nullptr;
}

std::uint32_t ByteShift(std::uint32_t offset, const StateRegister& reg) {
  return 8 * (offset - reg.offset);
}

}  // namespace

bool LineLevels::operator==(const LineLevels& other) const {
  return chipSelectN == other.chipSelectN && clock == other.clock && dataIn == other.dataIn &&
         dataOut == other.dataOut && writeProtectN == other.writeProtectN && bypass == other.bypass;
}

CardState PowerUpState(const CardOptions& options) {
  CardState state{};
  state.card.command = options.command;
  state.card.lineRegister = kLineRegisterPowerUp;
  state.card.protectRegister = kProtectRegisterPowerUp;
  state.part = SpiFlash::PowerUpState(options.part, options.flashStatus);
  return state;
}

Card::Card(VirtualClock& clock, const CardOptions& options, std::unique_ptr<FlashStore> flash,
           std::unique_ptr<StateStore> state)
    : m_options((CheckAperture(options), options)),
      m_state(StateOrPowerUp(std::move(state), options)),
      m_registers(m_state->State().card),
      m_aperture(options.apertureSize, 0),
      m_flash(options.part, ContentOrErased(std::move(flash)), clock, options.faults,
              options.flashStatus, m_state.get(), options.timing) {
  SetConfig16(kPciVendorDevice, options.vendorId);
  SetConfig16(kPciVendorDevice + 2, options.deviceId);
  SetConfig16(kPciCommand, static_cast<std::uint16_t>(m_registers.command));
  SetConfig32(kPciClassRevision, kDisplayControllerClass);
  SetConfig32(kConfigAperture, options.apertureBase);
  SetConfig16(kPciSubsystem, options.subsystemVendorId);
  SetConfig16(kPciSubsystem + 2, options.subsystemId);
  SetConfig32(kConfigBiosWord, options.biosWord);
  SetWriteMask32(kPciCommand, kPciCommandWritable);
  SetWriteMask32(kConfigAperture, ~(options.apertureSize - 1) & ~kPciBarFlagBits);

  // The part sees the protection and its select line as the kept registers drive them.
  OnProtectRegisterWritten(m_registers.protectRegister);
  if ((SeenByPart(m_registers.lineRegister) & kLineChipSelectN) == 0) {
    m_flash.Select();
  }
}

void Card::ConfigWrite(std::uint32_t offset, std::uint32_t width, std::uint32_t value) {
  PciFunction::ConfigWrite(offset, width, value);
  m_registers.command = Config32(kPciCommand) & 0xFFFF;
}

std::vector<MemoryBar> Card::MemoryBars() const {
  return {{kConfigAperture, m_options.apertureSize}};
}

std::uint32_t Card::DeviceRead(std::uint32_t, std::uint32_t offset, std::uint32_t width) {
  // The register a driver polls is read whole; the line register's live value is worked
  // out once for any other access that covers part of it.
  if (offset == kLineRegister && width == kRegisterWidth) {
    return LiveLineRegister();
  }
  const std::uint32_t lines = Overlaps(offset, width, kLineRegister) ? LiveLineRegister() : 0;
  std::uint32_t value = 0;
  for (std::uint32_t i = 0; i < width && i < kRegisterWidth; ++i) {
    value |= static_cast<std::uint32_t>(ByteAt(offset + i, lines)) << (8 * i);
  }
  return value;
}

void Card::DeviceWrite(std::uint32_t, std::uint32_t offset, std::uint32_t width,
                       std::uint32_t value) {
  if (width > kRegisterWidth || offset > m_aperture.size() - width) {
    return;
  }
  const std::uint32_t linesBefore = m_registers.lineRegister;
  const std::uint32_t protectBefore = m_registers.protectRegister;
  if (const StateRegister* reg = WholeStateRegister(offset, width)) {
    m_registers.*(reg->field) = value;
  } else {
    for (std::uint32_t i = 0; i < width; ++i) {
      SetByteAt(offset + i, static_cast<std::uint8_t>(value >> (8 * i)));
    }
  }
  if (Overlaps(offset, width, kLineRegister)) {
    OnLineRegisterWritten(linesBefore);
  }
  if (Overlaps(offset, width, kProtectRegister)) {
    OnProtectRegisterWritten(protectBefore);
  }
  if (Overlaps(offset, width, kLineRegister) || Overlaps(offset, width, kProtectRegister)) {
    const bool wholeProtectWrite = offset == kProtectRegister && width == kRegisterWidth;
    for (const auto& observer : m_lineObservers) {
      if (wholeProtectWrite) {
        observer->OnProtectWrite(value);
      }
      observer->OnLines(Levels());
    }
  }
}

void Card::AddLineObserver(std::unique_ptr<LineObserver> observer) {
  m_lineObservers.push_back(std::move(observer));
}

LineLevels Card::Levels() const {
  const std::uint32_t lines = LiveLineRegister();
  return {(lines & kLineChipSelectN) != 0, (lines & kLineClock) != 0, (lines & kLineDataIn) != 0,
          (lines & kLineDataOut) != 0,     WriteProtectPinHigh(),     (lines & kLineBypass) != 0};
}

std::uint8_t Card::ByteAt(std::uint32_t offset, std::uint32_t liveLines) const {
  if (offset >= m_aperture.size()) {
    return 0xFF;
  }
  if (Overlaps(offset, 1, kLineRegister)) {
    return static_cast<std::uint8_t>(liveLines >> (8 * (offset - kLineRegister)));
  }
  const StateRegister* reg = StateRegisterAt(offset);
  if (reg == nullptr) {
    return m_aperture[offset];
  }
  return static_cast<std::uint8_t>(m_registers.*(reg->field) >> ByteShift(offset, *reg));
}

void Card::SetByteAt(std::uint32_t offset, std::uint8_t byte) {
  const StateRegister* reg = StateRegisterAt(offset);
  if (reg == nullptr) {
    m_aperture[offset] = byte;
    return;
  }
  const std::uint32_t shift = ByteShift(offset, *reg);
  std::uint32_t& value = m_registers.*(reg->field);
  value = (value & ~(0xFFu << shift)) | (static_cast<std::uint32_t>(byte) << shift);
}

std::uint32_t Card::LiveLineRegister() const {
  std::uint32_t value = m_registers.lineRegister;
  // Another user of the lines has the bypass bit set whenever software looks.
  if (m_options.faults.linesBusy) {
    value |= kLineBypass;
  }
  // Nothing drives data-out unless the part is on the lines: the line then reads 1.
  const bool dataOut = !LinesReachPart(value) || DeviceDataOut();
  return dataOut ? value | kLineDataOut : value & ~kLineDataOut;
}

bool Card::LinesReachPart(std::uint32_t lineRegister) const {
  const FaultSet& faults = m_options.faults;
  return (lineRegister & kLineBypass) != 0 && !faults.linesBusy && !faults.noFlash;
}

std::uint32_t Card::SeenByPart(std::uint32_t lineRegister) const {
  // While the chip drives the lines itself, the part sees itself deselected, the clock low.
  if (!LinesReachPart(lineRegister)) {
    return kLineChipSelectN;
  }
  return lineRegister & (kLineChipSelectN | kLineClock | kLineDataIn);
}

void Card::OnLineRegisterWritten(std::uint32_t before) {
  const std::uint32_t after = m_registers.lineRegister & ~kLineDataOut;  // data-out is read-only
  m_registers.lineRegister = after;
  const std::uint32_t was = SeenByPart(before);
  const std::uint32_t now = SeenByPart(after);
  const std::uint32_t moved = before ^ after;
  const bool bypassHeld = (before & after & kLineBypass) != 0;
  if (!bypassHeld || (moved & kLineClock) == 0 || (moved & (kLineDataIn | kLineChipSelectN)) == 0) {
    DeliverEdges(was, now);
    return;
  }
  // The clock moved in the same write as data-in or chip select: the part takes the edge
  // with the other lines at their old levels, as violated setup or hold times leave it.
  ++m_lineViolations;
  const std::uint32_t atEdge = (was & ~kLineClock) | (now & kLineClock);
  DeliverEdges(was, atEdge);
  DeliverEdges(atEdge, now);
}

// Every clock edge of a transfer passes here: the card's own part takes it without an
// indirect call.
void Card::DeliverEdges(std::uint32_t was, std::uint32_t now) {
  if (m_device == &m_flash) {
    DeliverEdgesTo(m_flash, was, now);
  } else {
    DeliverEdgesTo(*m_device, was, now);
  }
}

template <class Device>
void Card::DeliverEdgesTo(Device& device, std::uint32_t was, std::uint32_t now) {
  const std::uint32_t rose = now & ~was;
  const std::uint32_t fell = was & ~now;
  // A falling select opens the command before a clock edge, a rising select closes it after.
  if ((fell & kLineChipSelectN) != 0) {
    device.Select();
  }
  if ((rose & kLineClock) != 0) {
    device.ClockRise((now & kLineDataIn) != 0);
  }
  if ((fell & kLineClock) != 0) {
    device.ClockFall();
  }
  if ((rose & kLineChipSelectN) != 0) {
    device.Deselect();
  }
}

bool Card::DeviceDataOut() const {
  return m_device == &m_flash ? m_flash.DataOut() : m_device->DataOut();
}

void Card::AttachDevice(SpiDevice& device) {
  m_device = &device;
  m_device->SetWriteProtectPin(WriteProtectPinHigh());
}

void Card::OnProtectRegisterWritten(std::uint32_t before) {
  if (m_options.faults.wpStuck) {
    m_registers.protectRegister = before;
  }
  m_device->SetWriteProtectPin(WriteProtectPinHigh());
}

bool Card::WriteProtectPinHigh() const {
  return (m_registers.protectRegister & kProtectWritable) == kProtectWritable;
}

}  // namespace emu
