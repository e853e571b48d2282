// A machine with one card on it, and a small careful driver of the card's serial lines
// that speaks SPI bit by bit through register 0x304, as a test needs it.
#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "Card.h"
#include "Machine.h"

namespace emu::test {

using Bytes = std::vector<std::uint8_t>;

constexpr std::uint64_t kMs = 1000000;  // on the virtual clock, which counts nanoseconds
// Accesses that cost nothing, so that only the test moves the clock.
constexpr AccessCosts kFree{0, 0, 0};

// Opcodes the tests send.
constexpr std::uint8_t kRead = 0x03;
constexpr std::uint8_t kProgram = 0x02;
constexpr std::uint8_t kAutoIncrement = 0xAF;
constexpr std::uint8_t kWriteEnable = 0x06;
constexpr std::uint8_t kWriteDisable = 0x04;
constexpr std::uint8_t kReadStatus = 0x05;
constexpr std::uint8_t kWriteStatus = 0x01;
constexpr std::uint8_t kEnableWriteStatus = 0x50;

class SpiRig {
 public:
  explicit SpiRig(const CardOptions& options = {}, std::unique_ptr<FlashStore> flash = nullptr,
                  AccessCosts costs = {}, std::unique_ptr<StateStore> state = nullptr);

  Card& card() { return *m_card; }
  VirtualClock& clock() { return m_machine.Clock(); }

  // One access of `width` bytes to the aperture through the machine.
  std::uint32_t Read(std::uint32_t offset, std::uint32_t width = 4);
  void Write(std::uint32_t offset, std::uint32_t value, std::uint32_t width = 4);
  void SetLine(std::uint32_t bit, bool high);
  bool Line(std::uint32_t bit) { return (Read(kLineRegister) & bit) != 0; }

  // Hands the lines to software: clock low, part deselected, then bypass. False when the
  // bypass bit is already set.
  bool Take();
  void Release() { SetLine(kLineBypass, false); }

  // Inside a Take/Release: one byte each way, clock low before and after.
  void Send(std::uint8_t byte);
  std::uint8_t Receive();
  // A whole transaction: Take, chip select low, `out`, `in` bytes received, chip select
  // high, Release.
  Bytes Command(const Bytes& out, std::size_t in = 0);

  std::uint8_t Status() { return Command({kReadStatus}, 1)[0]; }
  void WriteEnable() { Command({kWriteEnable}); }
  // Write enable, and on the SST part its enable-write-status right after: the next status
  // write is then taken by every part.
  void ArmStatusWrite();
  // ArmStatusWrite, then 0x01 and `bits`.
  void WriteStatus(std::uint8_t bits);
  Bytes ReadFlash(std::uint32_t address, std::size_t count);
  // Write enable, then 0x02, the address and `data`.
  void Program(std::uint32_t address, const Bytes& data);
  // Write enable, then `opcode` alone.
  void Erase(std::uint8_t opcode);
  // Polls the status until busy clears; false after `maxPolls` reads.
  bool WaitReady(std::uint32_t maxPolls = 100000);
  // Sets bits 5 and 15 of 0x1C4C (writable) or clears them, keeping the others.
  void SetWritable(bool writable);

 private:
  Machine m_machine;
  Card* m_card;
  std::uintptr_t m_aperture;
  FlashPart m_part;
};

constexpr std::array<FlashPart, 3> kParts{FlashPart::At25f1024, FlashPart::M25p10,
                                          FlashPart::Sst25vf010};

// A part as its maker ships it, unlocked: the card-level tests start from one; a card in
// the field (the default) starts locked.
CardOptions NewPart(FlashPart part);

// A path for `name` in a folder of the test process's own (made with mkdtemp, removed when
// the process ends), with no file there yet. A death test's child, which runs the test
// again, reaches the same folder.
std::string FreshPath(const std::string& name);
Bytes ReadFile(const std::string& path);

// A whole part's worth of bytes that differ from their neighbours; 0x00 at address 0.
Bytes Pattern();

// `opcode` and the three address bytes, high first.
Bytes Header(std::uint8_t opcode, std::uint32_t address);
Bytes Join(Bytes head, const Bytes& tail);

}  // namespace emu::test
