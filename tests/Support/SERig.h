// A machine with one card for the serial EEPROM library's tests, and what the tests watch:
// the SPI commands the driver clocks into the part, decoded from the writes of the
// serial-line register, and the writes of the protection register, in order.
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <vector>

#include "EmuCard.h"
#include "EmuMachine.h"
#include "SEInternal.h"

namespace setest {

using Bytes = std::vector<std::uint8_t>;

constexpr PCIHANDLE kCardLocation = MakePciHandle(2, 5);

// One thing the card saw: an SPI command (first bytes clocked in and the count, answer
// phases included) or a write of the protection register.
struct CardEvent {
  enum Kind : std::uint8_t { Command, Protection };
  Kind kind;
  Bytes head;                 // Command: at most the first five bytes
  std::uint32_t length = 0;   // Command: bytes clocked in while selected
  std::uint32_t value = 0;    // Protection: the word written
};

// The card, with every write of its two registers decoded as it arrives. Status reads
// (0x05) are only counted: a full write makes hundreds of thousands of them.
class ObservedCard : public emu::Card {
 public:
  using emu::Card::Card;
  void DeviceWrite(std::uint32_t bar, std::uint32_t offset, std::uint32_t width,
                   std::uint32_t value) override;
  std::uint32_t DeviceRead(std::uint32_t bar, std::uint32_t offset, std::uint32_t width) override;
  void ConfigWrite(std::uint32_t offset, std::uint32_t width, std::uint32_t value) override;

  // Configuration offsets written through the bus, in order.
  const std::vector<std::uint32_t>& ConfigWrites() const { return m_configWrites; }
  const std::vector<CardEvent>& Events() const { return m_events; }
  std::uint64_t StatusReads() const { return m_statusReads; }
  void ClearEvents() { m_events.clear(); m_statusReads = 0; }
  // The part is selected by software right now.
  bool Selected() const;
  // Bits clocked in by software since chip select fell.
  std::uint32_t BitsInCommand() const { return m_bits; }

  // Answers this card gives in place of its part: after `headerBits` clocked in behind
  // `opcode`, data-out plays `answer` (then 1s). An empty map keeps the part's own answers.
  void Script(std::uint8_t opcode, std::uint32_t headerBits, Bytes answer);

 private:
  struct Scripted {
    std::uint32_t headerBits;
    Bytes answer;
  };
  void OnLines(std::uint32_t before, std::uint32_t after);
  void EndCommand();
  bool ScriptedBit(bool& bit) const;

  std::uint32_t m_lines = emu::kLineRegisterPowerUp;
  std::uint32_t m_bits = 0;
  std::uint8_t m_shift = 0;
  Bytes m_command;
  std::uint32_t m_commandLength = 0;
  std::vector<CardEvent> m_events;
  std::uint64_t m_statusReads = 0;
  std::map<std::uint8_t, Scripted> m_script;
  std::vector<std::uint32_t> m_configWrites;
};

// The platform with its memory mappings and memory-device opens counted.
class CountingMachine : public emu::Machine {
 public:
  using emu::Machine::Machine;
  int OpenPhysicalMemory() override;
  void* Map(std::size_t length, int descriptor, UINT32 physical) override;
  void Unmap(void* address, std::size_t length) override;
  int Opens() const { return m_opens; }
  int LiveMappings() const { return m_live; }

 private:
  int m_opens = 0;
  int m_live = 0;
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
  ObservedCard& card() { return *m_card; }
  SEHANDLE handle() { return reinterpret_cast<SEHANDLE>(m_storage.get()); }
  SE_ERR Create();

  // The card's registers as they are now, without going through the machine.
  std::uint32_t Register(std::uint32_t offset) { return m_card->DeviceRead(0, offset, 4); }
  std::uint8_t CommandByte() const { return static_cast<std::uint8_t>(m_card->Config32(4)); }
  Bytes Flash() const { return m_card->Flash().Store().Copy(); }
  std::uint64_t RegisterReads(std::uint32_t offset) const;
  std::uint64_t RegisterWrites(std::uint32_t offset) const;

 private:
  CountingMachine m_machine;
  ObservedCard* m_card;
  emu::ScopedPlatform m_platform;
  std::unique_ptr<unsigned char[]> m_storage;
  std::uint32_t m_apertureBase;
  bool m_created = false;
};

// Bytes that look like nothing in particular and are never all 0xFF.
Bytes Pattern(std::uint32_t seed, std::size_t size = SE_CAPACITY);

// Commands only, in order, without their data beyond the head.
std::vector<Bytes> CommandHeads(const std::vector<CardEvent>& events);

}  // namespace setest
