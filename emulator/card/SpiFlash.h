// One SPI flash part at the level of its pins, for the three 1-Mbit parts the card may carry.
// The parts differ only in the table that describes them (opcodes, identification answers,
// page size, typical and worst-case busy times), so one state machine serves all three.
//
// Mode 0: the part takes data-in on the rising clock edge and changes data-out after the
// falling edge, most significant bit first. A command starts when chip select falls;
// program, erase and status write are accepted when it rises after a whole number of bytes.
// The write enable latch stays set until the accepted operation has finished, and a status
// write's new bits take effect only then. Program and erase change the cells in address
// order over their busy time: a power cut in the middle leaves the part half done. (Nothing
// but the status can be read while busy, so the cells are written at once and a power cut
// puts back the old values of those the operation had not reached yet.)
//
// The non-volatile bits of the status register (block protection and bit 7) are not kept
// with the content but with the part's volatile state: a part starts as a card in the
// field would, as an earlier update left it (AT25F1024, M25P10: level 3 and locked, 0x8C)
// or as its maker's power-up value (SST: level 3, unlocked), or with the bits it is given,
// or with the state an earlier run left.
#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <optional>
#include <vector>

#include "Clock.h"
#include "Fault.h"
#include "FlashStore.h"
#include "PartTable.h"
#include "SpiDevice.h"
#include "SpiShifter.h"
#include "State.h"

namespace emu {

class SpiFlash final : public SpiDevice {
 public:
  // The part owns its store; `clock` must outlive it.
  // `statusBits`: bits 2, 3 and 7 at power-up; others are dropped. None: the maker's value.
  // `state`: where the part's volatile state lives (it must outlive the part), already
  // holding power-up values or what an earlier run left; a busy period left unfinished goes
  // on for what remained of it. None: in memory, from power-up.
  // A `power-cut-at` fault sets the clock's alarm. Power cuts and due signals are reported
  // (see Interruptions.h); the part never ends the process itself.
  SpiFlash(FlashPart part, std::unique_ptr<FlashStore> store, VirtualClock& clock,
           const FaultSet& faults = {}, std::optional<std::uint8_t> statusBits = std::nullopt,
           StateStore* state = nullptr, FlashTiming timing = FlashTiming::Typical);

  // The part's state at power-up.
  static PartState PowerUpState(FlashPart part, std::optional<std::uint8_t> statusBits);

  // Pin events, as the card delivers them.
  void Select() override;
  void Deselect() override;
  void ClockRise(bool dataIn) override;
  void ClockFall() override;
  bool DataOut() const override { return !m_output.driven || m_output.level; }
  // High lets bit 7 of the status register be written over.
  void SetWriteProtectPin(bool high) override { m_writeProtectHigh = high; }

  // For tests and the front end.
  std::uint8_t Status() const;
  FlashStore& Store() { return *m_store; }
  const FlashStore& Store() const { return *m_store; }

 private:
  void OnByte(std::uint8_t byte);
  void OnOpcode(std::uint8_t opcode);
  void OnHeaderComplete();
  void OnDataByte(std::uint8_t byte);
  std::optional<std::uint8_t> NextAnswer();
  void Commit();
  void CommitProgram();
  void CommitAutoIncrement();
  void CommitWriteStatus();
  void CommitErase();
  std::uint32_t HeaderLength() const;
  bool Busy() const;
  // Starts an operation of `ns` that changes `count` cells from `from`; keeps their old
  // values, so that a power cut can leave the rest of them as they were.
  void StartOperation(std::uint64_t ns, std::uint32_t from, std::uint32_t count, bool clearsLatch);
  // The state as it is at `now`: an operation that has ended has had its effect.
  PartState Settled(std::uint64_t now) const;
  void Settle() { m_state = Settled(m_clock.Now()); }
  void CutPower(std::uint64_t at);
  std::uint32_t ProtectionLevel() const;
  bool Protected(std::uint32_t address) const;
  void ProgramByte(std::uint32_t address, std::uint8_t data);
  void ResumeBusy();
  void OnPinEvent();
  void CountMovedByte();

  // One chip-select cycle.
  struct Command {
    const OpcodeEntry* entry = nullptr;  // null: ignored to the end of the cycle
    std::uint32_t bytes = 0;             // whole bytes received, opcode included
    std::uint32_t header = 0;            // address or dummy bytes after the opcode
    std::uint32_t address = 0;
    std::array<std::uint8_t, 256> page{};
    std::uint32_t dataBytes = 0;
    std::uint8_t lastData = 0;
    std::uint32_t answerIndex = 0;
    bool answering = false;
    bool statusWriteEnabled = false;  // 0x50 came right before this 0x01
  };
  struct Output {
    bool driven = false;
    bool level = true;
    std::uint8_t byte = 0;
    std::uint8_t bitsLeft = 0;
  };

  // The cells the operation in progress changes, in address order from `start` to `end` of
  // this run's clock; only a power cut within the run needs them.
  struct Change {
    std::uint32_t from = 0;
    std::uint32_t count = 0;
    std::uint64_t start = 0;
    std::uint64_t end = 0;
  };

  const PartTraits& m_traits;
  const OperationTimes& m_times;
  std::size_t m_timing;  // FlashTiming, as an index of a row's busy times
  std::unique_ptr<FlashStore> m_store;
  const VirtualClock& m_clock;
  FaultSet m_faults;
  std::unique_ptr<StateStore> m_ownState;
  StateStore& m_stateStore;
  PartState& m_state;

  bool m_selected = false;
  SpiShifter m_shift;
  Command m_command;
  Output m_output;

  Change m_change;
  std::vector<std::uint8_t> m_changedFrom;  // the old values of the cells in flight
  bool m_writeProtectHigh = false;
  std::uint64_t m_programmedBytes = 0;
  std::uint64_t m_movedBytes = 0;  // read out of the array or programmed, this run
  std::uint64_t m_lastCorruptedPass = UINT64_MAX;
};

}  // namespace emu
