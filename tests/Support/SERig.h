// A machine with one card for the serial EEPROM library's tests, and what the tests watch:
// the SPI commands the driver clocks into the part and its writes of the protection
// register, in order, as an observer of the card's lines hears of them.
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <vector>

#include "Card.h"
#include "Machine.h"
#include "SEInternal.h"
#include "SpiDevice.h"
#include "SpiShifter.h"

namespace setest {

using Bytes = std::vector<std::uint8_t>;

constexpr PCIHANDLE kCardLocation = MakePciHandle(2, 5);

// One thing the card's lines showed: an SPI command (first bytes clocked in and the count,
// answer phases included) or a write of the protection register.
struct CardEvent {
  enum Kind : std::uint8_t { Command, Protection };
  Kind kind;
  Bytes head;                // Command: at most the first five bytes
  std::uint32_t length = 0;  // Command: bytes clocked in while selected
  std::uint32_t value = 0;   // Protection: the word written
};

// Decodes the SPI commands software clocks into the part from the card's lines, as it is
// told of them, and keeps the writes of the protection register in their place. Status reads (0x05)
// are only counted: a full write makes hundreds of thousands of them.
class LineLog final : public emu::LineObserver {
 public:
  void OnLines(const emu::LineLevels& levels) override;
  void OnProtectWrite(std::uint32_t value) override;

  const std::vector<CardEvent>& Events() const { return m_events; }
  std::uint64_t StatusReads() const { return m_statusReads; }
  void Clear() {
    m_events.clear();
    m_statusReads = 0;
  }
  // The part is selected by software right now.
  bool Selected() const { return m_selected; }
  // Bits clocked in by software since chip select fell.
  std::uint32_t BitsInCommand() const { return m_shift.Bits(); }

 private:
  void EndCommand();

  emu::LineLevels m_levels;
  bool m_selected = false;
  emu::SpiShifter m_shift;
  Bytes m_command;
  std::uint32_t m_commandLength = 0;
  std::vector<CardEvent> m_events;
  std::uint64_t m_statusReads = 0;
};

// A part that answers only what it is scripted to: after `headerBits` clocked in behind
// `opcode`, data-out plays `answer` (then 1s); anything else leaves data-out undriven.
class ScriptedPart final : public emu::SpiDevice {
 public:
  void Script(std::uint8_t opcode, std::uint32_t headerBits, Bytes answer);

  void Select() override;
  void Deselect() override { m_selected = false; }
  void ClockRise(bool dataIn) override;
  void ClockFall() override {}
  bool DataOut() const override;
  void SetWriteProtectPin(bool) override {}

 private:
  struct Scripted {
    std::uint32_t headerBits;
    Bytes answer;
  };
  std::map<std::uint8_t, Scripted> m_script;
  bool m_selected = false;
  emu::SpiShifter m_shift;
  std::uint8_t m_opcode = 0;
};

// The platform with its memory mappings and memory-device opens counted, and the
// configuration offsets written to the card at kCardLocation through the bus, in order.
class CountingMachine : public emu::Machine {
 public:
  using emu::Machine::Machine;
  int OpenPhysicalMemory() override;
  void* Map(std::size_t length, int descriptor, UINT32 physical) override;
  void Unmap(void* address, std::size_t length) override;
  void PortWrite(UINT16 port, UINT32 width, UINT32 value) override;
  int Opens() const { return m_opens; }
  int LiveMappings() const { return m_live; }
  const std::vector<std::uint32_t>& ConfigWrites() const { return m_configWrites; }

 private:
  int m_opens = 0;
  int m_live = 0;
  std::uint32_t m_configAddress = 0;
  std::vector<std::uint32_t> m_configWrites;
};

// A card at kCardLocation, installed as the platform for the rig's life, and storage for
// one serial EEPROM object, released (if created) when the rig ends.
class Rig {
 public:
  explicit Rig(emu::CardOptions options = {}, const Bytes& content = {},
               emu::AccessCosts costs = {});
  ~Rig();
  Rig(const Rig&) = delete;
  Rig& operator=(const Rig&) = delete;

  CountingMachine& machine() { return m_machine; }
  emu::Card& card() { return *m_card; }
  const LineLog& lines() const { return *m_lines; }
  void ClearEvents() { m_lines->Clear(); }
  // Puts a scripted part on the lines in place of the card's flash (see ScriptedPart).
  void Script(std::uint8_t opcode, std::uint32_t headerBits, Bytes answer);
  SEHANDLE handle() { return reinterpret_cast<SEHANDLE>(m_storage.get()); }
  SE_ERR Create();

  // The card's registers as they are now, without going through the machine.
  std::uint32_t Register(std::uint32_t offset) { return m_card->DeviceRead(0, offset, 4); }
  std::uint8_t CommandByte() const { return static_cast<std::uint8_t>(m_card->Config32(4)); }
  Bytes Flash() const { return m_card->Flash().Store().Copy(); }
  std::uint64_t RegisterReads(std::uint32_t offset) const;
  std::uint64_t RegisterWrites(std::uint32_t offset) const;

 private:
  std::unique_ptr<ScriptedPart> m_scripted;  // outlives the card that drives it
  CountingMachine m_machine;
  emu::Card* m_card;
  LineLog* m_lines = nullptr;  // the card's
  emu::ScopedPlatform m_platform;
  std::unique_ptr<unsigned char[]> m_storage;
  std::uint32_t m_apertureBase;
  bool m_created = false;
};

}  // namespace setest
