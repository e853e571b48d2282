// A Tavrin graphics card as one PCI function: its configuration words, the register
// aperture with the serial-line register 0x304 and the protection register 0x1C4C, and
// the SPI flash part that holds its BIOS.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <vector>

#include "CardNumbers.h"
#include "Clock.h"
#include "Fault.h"
#include "FlashStore.h"
#include "PciFunction.h"
#include "SpiFlash.h"
#include "State.h"
#include "TvrCards.h"

namespace emu {

// The levels of the card's serial lines after an access: the chip select, clock and
// data-to-the-part bits of register 0x304 as software drives them, data from the part as
// software reads it (1 while the part does not drive it), the part's write-protect pin and
// the bypass bit.
struct LineLevels {
  bool chipSelectN = true;
  bool clock = false;
  bool dataIn = false;
  bool dataOut = true;
  bool writeProtectN = false;
  bool bypass = false;

  bool operator==(const LineLevels& other) const;
  bool operator!=(const LineLevels& other) const { return !(*this == other); }
};

// Watches the lines without taking part: told after every write of register 0x304 or
// 0x1C4C, whether or not a level changed.
class LineObserver {
 public:
  virtual ~LineObserver() = default;
  virtual void OnLines(const LineLevels& levels) = 0;
  // Before OnLines for a whole write of the protection register: the word software wrote,
  // whether or not the register took it.
  virtual void OnProtectWrite(std::uint32_t /*value*/) {}
};

struct CardOptions {
  std::uint16_t vendorId = TAVRIN_VENDOR_ID;
  std::uint16_t deviceId = DEVID_LUMIVANE_A;
  std::uint16_t subsystemVendorId = TAVRIN_VENDOR_ID;
  std::uint16_t subsystemId = 0x2001;
  // Memory decoding (bit 1) off, so the utility's own enabling is needed.
  std::uint16_t command = 0x0001;
  std::uint32_t biosWord = 0x0E000000;
  // Page-aligned base of the register aperture; `apertureSize` is a power of two of at
  // least 0x2000 bytes and the base a multiple of it.
  std::uint32_t apertureBase = 0xF4000000;
  std::uint32_t apertureSize = 0x4000;
  FlashPart part = FlashPart::At25f1024;
  // The part's block protection and lock bits at power-up; none starts it as a card in
  // the field (see SpiFlash). 0 is a part that starts unlocked.
  std::optional<std::uint8_t> flashStatus{};
  FlashTiming timing = FlashTiming::Typical;
  FaultSet faults{};
};

// The card's and its part's state at power-up.
CardState PowerUpState(const CardOptions& options);

class Card : public PciFunction {
 public:
  // `flash` holds the part's content; null gives an erased part in memory. `state` holds
  // what the machine kept since it was powered up (see PowerUpState); null gives a card
  // just powered up, in memory. `clock` must outlive the card. Throws
  // std::invalid_argument for an aperture that is not a power of two of at least 0x2000
  // bytes on a base aligned to its size.
  explicit Card(VirtualClock& clock, const CardOptions& options = {},
                std::unique_ptr<FlashStore> flash = nullptr,
                std::unique_ptr<StateStore> state = nullptr);

  void ConfigWrite(std::uint32_t offset, std::uint32_t width, std::uint32_t value) override;

  std::vector<MemoryBar> MemoryBars() const override;
  std::uint32_t DeviceRead(std::uint32_t bar, std::uint32_t offset, std::uint32_t width) override;
  void DeviceWrite(std::uint32_t bar, std::uint32_t offset, std::uint32_t width,
                   std::uint32_t value) override;

  // The card keeps the observer for its own life.
  void AddLineObserver(std::unique_ptr<LineObserver> observer);
  LineLevels Levels() const;

  SpiFlash& Flash() { return m_flash; }
  const SpiFlash& Flash() const { return m_flash; }
  // Puts `device` on the serial lines in place of the card's own part, which keeps its
  // content and state but hears nothing more; `device` must outlive the card. It sees the
  // write-protect pin as the card drives it now.
  void AttachDevice(SpiDevice& device);
  // Writes of 0x304, with the bypass bit set, that moved the clock together with data-in or
  // chip select: a part needs one line settled before the other moves.
  std::uint64_t LineViolations() const { return m_lineViolations; }

 private:
  // `liveLines`: the line register's live value, for a byte inside it.
  std::uint8_t ByteAt(std::uint32_t offset, std::uint32_t liveLines) const;
  void SetByteAt(std::uint32_t offset, std::uint8_t byte);
  std::uint32_t LiveLineRegister() const;
  bool LinesReachPart(std::uint32_t lineRegister) const;
  // The select, clock and data-in bits of the line register as the part sees them.
  std::uint32_t SeenByPart(std::uint32_t lineRegister) const;
  void OnLineRegisterWritten(std::uint32_t before);
  // Line bits as the part sees them, before and after.
  void DeliverEdges(std::uint32_t was, std::uint32_t now);
  template <class Device>
  static void DeliverEdgesTo(Device& device, std::uint32_t was, std::uint32_t now);
  bool DeviceDataOut() const;
  void OnProtectRegisterWritten(std::uint32_t before);
  bool WriteProtectPinHigh() const;

  CardOptions m_options;
  std::unique_ptr<StateStore> m_state;
  CardRegisters& m_registers;            // in m_state
  std::vector<std::uint8_t> m_aperture;  // the bytes that are no register
  SpiFlash m_flash;
  // The part on the lines: the card's own flash, called directly, or an attached device.
  SpiDevice* m_device = &m_flash;
  std::vector<std::unique_ptr<LineObserver>> m_lineObservers;
  std::uint64_t m_lineViolations = 0;
};

}  // namespace emu
