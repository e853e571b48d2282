#include "SpiFlash.h"

#include <algorithm>
#include <optional>

#include "Interruptions.h"

namespace emu {

namespace {

using Op = FlashOp;
using Entry = OpcodeEntry;

constexpr std::uint32_t kAddressMask = kFlashCapacity - 1;
constexpr std::uint32_t kLastAddress = kFlashCapacity - 1;
constexpr std::uint8_t kErased = 0xFF;
// Opcode, three address bytes and one data byte: the shortest program command.
constexpr std::uint32_t kShortestProgram = 1 + kAddressBytes + 1;
constexpr std::uint32_t kAutoIncrementNext = 2;

// First protected address for each block-protection level.
constexpr std::array<std::uint32_t, 4> kProtectedFrom{kFlashCapacity, 0x18000, 0x10000, 0};

// During auto-address-increment programming the part takes only these.
constexpr std::array<Op, 3> kAutoIncrementOps{Op::ReadStatus, Op::AutoIncrement, Op::WriteDisable};

// A part with an enable-write-status command (the SST part) takes a status write only right
// after it; a plain write enable does not arm it there.
bool StatusWriteNeedsItsOwnEnable(const PartTraits& part) {
  return FindOp(part, Op::EnableWriteStatus) != nullptr;
}

bool AllowedDuringAutoIncrement(Op op) {
  return std::find(kAutoIncrementOps.begin(), kAutoIncrementOps.end(), op) !=
         kAutoIncrementOps.end();
}

}  // namespace

SpiFlash::SpiFlash(FlashPart part, std::unique_ptr<FlashStore> store, VirtualClock& clock,
                   const FaultSet& faults, std::optional<std::uint8_t> statusBits,
                   StateStore* state, FlashTiming timing)
    : m_traits(TraitsOf(part)),
      m_times(m_traits.times[static_cast<std::size_t>(timing)]),
      m_timing(static_cast<std::size_t>(timing)),
      m_store(std::move(store)),
      m_clock(clock),
      m_faults(faults),
      m_ownState(state != nullptr ? nullptr
                                  : StateStore::InMemory({{}, PowerUpState(part, statusBits)})),
      m_stateStore(state != nullptr ? *state : *m_ownState),
      m_state(m_stateStore.State().part) {
  ResumeBusy();
  if (m_faults.powerCutAt) {
    clock.SetAlarm(m_faults.powerCutAtNs, [this](std::uint64_t at) { CutPower(at); });
  }
}

PartState SpiFlash::PowerUpState(FlashPart part, std::optional<std::uint8_t> statusBits) {
  PartState state{};
  const PartTraits& traits = TraitsOf(part);
  state.nonVolatile = statusBits.value_or(traits.powerUpStatus) & kStatusWritable;
  return state;
}

// The time between two runs is not known, so an unfinished busy period goes on for what was
// left of it at the part's last pin event: never shorter than a real part would be busy.
void SpiFlash::ResumeBusy() {
  const std::uint64_t until = m_state.busyUntilNs;
  const std::uint64_t left = until > m_state.lastEventNs ? until - m_state.lastEventNs : 0;
  m_state.busyUntilNs = until == UINT64_MAX ? UINT64_MAX : m_clock.Now() + left;
  m_state.lastEventNs = m_clock.Now();
}

void SpiFlash::OnPinEvent() { m_state.lastEventNs = m_clock.Now(); }

void SpiFlash::Select() {
  OnPinEvent();
  if (m_selected) {
    return;
  }
  m_selected = true;
  m_shift.Restart();
  m_command = {};
  m_output = {};
}

void SpiFlash::Deselect() {
  OnPinEvent();
  if (!m_selected) {
    return;
  }
  if (m_command.entry != nullptr && m_shift.AtByteBoundary()) {
    Commit();
  }
  m_selected = false;
  m_output = {};
}

void SpiFlash::ClockRise(bool dataIn) {
  OnPinEvent();
  if (!m_selected || !m_shift.Shift(dataIn)) {
    return;
  }
  OnByte(m_shift.Byte());
}

void SpiFlash::ClockFall() {
  OnPinEvent();
  if (!m_selected || !m_command.answering) {
    return;
  }
  if (m_output.bitsLeft == 0) {
    const std::optional<std::uint8_t> next = NextAnswer();
    m_output.driven = next.has_value();
    m_output.byte = next.value_or(kErased);
    m_output.bitsLeft = 8;
  }
  m_output.level = (m_output.byte & 0x80) != 0;
  m_output.byte = static_cast<std::uint8_t>(m_output.byte << 1);
  --m_output.bitsLeft;
}

std::uint8_t SpiFlash::Status() const {
  const PartState state = Settled(m_clock.Now());
  std::uint8_t status = state.nonVolatile;
  if (Busy()) {
    status |= kStatusBusy;
  }
  if (state.writeEnable) {
    status |= kStatusWriteEnable;
  }
  if (state.autoIncrement) {
    status |= kStatusAutoIncrement;
  }
  return status;
}

void SpiFlash::OnByte(std::uint8_t byte) {
  Command& command = m_command;
  if (command.bytes < UINT32_MAX) {
    ++command.bytes;  // an endless read must not wrap to an opcode
  }
  if (command.bytes == 1) {
    OnOpcode(byte);
    return;
  }
  if (command.entry == nullptr) {
    return;
  }
  const std::uint32_t afterOpcode = command.bytes - 1;
  if (afterOpcode <= command.header) {
    command.address = (command.address << 8) | byte;
    if (afterOpcode == command.header) {
      OnHeaderComplete();
    }
    return;
  }
  OnDataByte(byte);
}

void SpiFlash::OnOpcode(std::uint8_t opcode) {
  Settle();
  const bool statusWriteEnabled = m_state.writeStatusEnable;
  m_state.writeStatusEnable = false;
  const auto& table = m_traits.opcodes;
  const auto found = std::find_if(table.begin(), table.end(), [opcode](const Entry& e) {
    return e.op != Op::Unused && e.opcode == opcode;
  });
  if (found == table.end()) {
    return;
  }
  if (Busy() && found->op != Op::ReadStatus) {
    return;
  }
  if (m_state.autoIncrement && !AllowedDuringAutoIncrement(found->op)) {
    return;
  }

  m_command.entry = &*found;
  m_command.statusWriteEnabled = statusWriteEnabled;
  m_command.header = HeaderLength();
  if (m_command.header == 0) {
    OnHeaderComplete();
  }
}

std::uint32_t SpiFlash::HeaderLength() const {
  // Only the first byte of an auto-increment sequence carries an address.
  if (m_command.entry->op == Op::AutoIncrement && m_state.autoIncrement) {
    return 0;
  }
  return m_command.entry->header;
}

void SpiFlash::OnHeaderComplete() {
  Command& command = m_command;
  command.address &= kAddressMask;
  const Entry& entry = *command.entry;
  if (entry.op != Op::Read && entry.op != Op::ReadStatus && entry.op != Op::Identify) {
    return;
  }
  command.answering = true;
  command.answerIndex = entry.startsAtAddressBit0 ? (command.address & 1) : 0;
}

void SpiFlash::OnDataByte(std::uint8_t byte) {
  Command& command = m_command;
  const std::uint32_t page = m_traits.pageSize;
  // Past the end of the page the address wraps to its start: the last page-worth is kept.
  command.page[(command.address % page + command.dataBytes) % page] = byte;
  command.lastData = byte;
  if (command.dataBytes < UINT32_MAX) {
    ++command.dataBytes;
  }
}

std::optional<std::uint8_t> SpiFlash::NextAnswer() {
  Command& command = m_command;
  const Entry& entry = *command.entry;
  switch (entry.op) {
    case Op::Read: {
      CountMovedByte();
      const std::uint8_t value = m_store->Bytes()[command.address];
      command.address = (command.address + 1) & kAddressMask;
      return value;
    }
    case Op::ReadStatus:
      return Status();
    default: {
      const std::uint32_t index = command.answerIndex++;
      if (index >= entry.answerLength && !entry.repeats) {
        return std::nullopt;
      }
      return entry.answer[index % entry.answerLength];
    }
  }
}

void SpiFlash::Commit() {
  switch (m_command.entry->op) {
    case Op::WriteEnable:
      if (m_command.bytes == 1) {
        m_state.writeEnable = true;
      }
      break;
    case Op::WriteDisable:
      if (m_command.bytes == 1) {
        m_state.writeEnable = false;
        m_state.autoIncrement = false;
      }
      break;
    case Op::EnableWriteStatus:
      if (m_command.bytes == 1) {
        m_state.writeStatusEnable = true;
      }
      break;
    case Op::WriteStatus:
      CommitWriteStatus();
      break;
    case Op::Erase:
      CommitErase();
      break;
    case Op::Program:
      CommitProgram();
      break;
    case Op::AutoIncrement:
      CommitAutoIncrement();
      break;
    default:
      break;
  }
}

void SpiFlash::CommitWriteStatus() {
  const Command& command = m_command;
  if (command.bytes != 2) {
    return;
  }
  if (!(StatusWriteNeedsItsOwnEnable(m_traits) ? command.statusWriteEnabled
                                               : m_state.writeEnable)) {
    return;
  }
  // Bit 7 locks the register while the write-protect pin is held low.
  if (!m_writeProtectHigh && (m_state.nonVolatile & kStatusLock) != 0) {
    return;
  }
  StartOperation(m_times.writeStatusNs, 0, 0, true);
  m_state.statusPending = 1;
  m_state.pendingStatus = command.lastData & kStatusWritable;
}

// Protection covers the top of the part, so an erase touches a protected byte exactly when
// its last byte is protected: a chip erase is refused at every level but 0.
void SpiFlash::CommitErase() {
  const Entry& entry = *m_command.entry;
  if (m_command.bytes != 1u + entry.header || !m_state.writeEnable) {
    return;
  }
  const std::uint32_t from = m_command.address - m_command.address % entry.eraseBytes;
  if (Protected(from + entry.eraseBytes - 1)) {
    return;
  }
  if (m_faults.eraseHang) {
    StartOperation(0, 0, 0, true);
    m_state.busyUntilNs = UINT64_MAX;
    return;
  }
  StartOperation(entry.eraseNs[m_timing], from, entry.eraseBytes, true);
  std::fill_n(m_store->Bytes() + from, entry.eraseBytes, kErased);
}

void SpiFlash::CommitProgram() {
  const Command& command = m_command;
  if (command.bytes < kShortestProgram || !m_state.writeEnable) {
    return;
  }
  const std::uint32_t page = m_traits.pageSize;
  const std::uint32_t base = command.address - command.address % page;
  const std::uint32_t kept = std::min(command.dataBytes, page);
  const std::uint32_t first = command.dataBytes >= page ? 0 : command.address % page;
  for (std::uint32_t i = 0; i < kept; ++i) {
    if (Protected(base + (first + i) % page)) {
      return;
    }
  }
  StartOperation(m_times.programNsPerCommand + m_times.programNsPerByte * kept, base, page, true);
  for (std::uint32_t i = 0; i < kept; ++i) {
    const std::uint32_t offset = (first + i) % page;
    ProgramByte(base + offset, command.page[offset]);
  }
}

void SpiFlash::CommitAutoIncrement() {
  const Command& command = m_command;
  PartState& state = m_state;
  if (!state.autoIncrement) {
    if (command.bytes != kShortestProgram || !state.writeEnable) {
      return;
    }
    state.autoIncrement = true;
    state.autoAddress = command.address;
    state.autoAddressEnded = false;
  } else if (command.bytes != kAutoIncrementNext) {
    return;
  }
  // Programming stops at the last address; it does not wrap.
  if (state.autoAddressEnded) {
    return;
  }
  if (!Protected(state.autoAddress)) {
    // The latch stays set for the whole sequence; 0x04 ends it.
    StartOperation(m_times.programNsPerCommand + m_times.programNsPerByte, state.autoAddress, 1,
                   false);
    ProgramByte(state.autoAddress, command.lastData);
  }
  if (state.autoAddress == kLastAddress) {
    state.autoAddressEnded = true;
  } else {
    ++state.autoAddress;
  }
}

// The fault's signal is due when the byte after the given count is about to move, as if a
// user or the system had sent it at that point of the run.
void SpiFlash::CountMovedByte() {
  if (m_faults.signal != 0 && m_movedBytes == m_faults.signalAfterBytes) {
    ReportSignalDue(m_faults.signal);
  }
  ++m_movedBytes;
}

bool SpiFlash::Busy() const { return m_clock.Now() < m_state.busyUntilNs; }

void SpiFlash::StartOperation(std::uint64_t ns, std::uint32_t from, std::uint32_t count,
                              bool clearsLatch) {
  const std::uint64_t now = m_clock.Now();
  m_state.inFlight = 1;
  m_state.endClearsLatch = clearsLatch ? 1 : 0;
  m_state.statusPending = 0;
  m_state.busyUntilNs = m_faults.stuckBusy ? UINT64_MAX : now + ns;
  m_change = {from, count, now, now + ns};
  const std::uint8_t* cells = m_store->Bytes() + from;
  m_changedFrom.assign(cells, cells + count);
}

PartState SpiFlash::Settled(std::uint64_t now) const {
  PartState state = m_state;
  if (state.inFlight == 0 || now < state.busyUntilNs) {
    return state;
  }
  if (state.statusPending != 0) {
    state.nonVolatile = state.pendingStatus;
  }
  if (state.endClearsLatch != 0) {
    state.writeEnable = 0;
  }
  state.inFlight = 0;
  state.statusPending = 0;
  return state;
}

// The cells an operation of this run had not reached by `at` keep their old values; the
// volatile state goes back to power-up.
void SpiFlash::CutPower(std::uint64_t at) {
  const Change& change = m_change;
  if (m_state.inFlight != 0 && at < change.end) {
    const auto done = static_cast<std::uint32_t>(change.count * (at - change.start) /
                                                 (change.end - change.start));
    std::copy(m_changedFrom.begin() + done, m_changedFrom.end(),
              m_store->Bytes() + change.from + done);
  }
  m_stateStore.CutPower();
  ReportPowerCut();
}

std::uint32_t SpiFlash::ProtectionLevel() const {
  return (m_state.nonVolatile & kStatusBlockProtect) >> 2;
}

bool SpiFlash::Protected(std::uint32_t address) const {
  return address >= kProtectedFrom[ProtectionLevel()];
}

void SpiFlash::ProgramByte(std::uint32_t address, std::uint8_t data) {
  if (m_faults.powerCut && m_programmedBytes == m_faults.powerCutAfter) {
    // The byte never reaches its cell.
    m_stateStore.CutPower();
    ReportPowerCut();
    return;
  }
  CountMovedByte();
  std::uint8_t& cell = m_store->Bytes()[address];
  std::uint8_t result = cell & data;
  const std::uint8_t cleared = cell & static_cast<std::uint8_t>(~data);
  const std::uint64_t pass = m_programmedBytes / kFlashCapacity;
  if (pass < m_faults.corruptPasses && pass != m_lastCorruptedPass && cleared != 0) {
    // One bit that should have been cleared stays set, so a later pass can still mend it.
    result |= static_cast<std::uint8_t>(cleared & -cleared);
    m_lastCorruptedPass = pass;
  }
  cell = result;
  ++m_programmedBytes;
}

}  // namespace emu
