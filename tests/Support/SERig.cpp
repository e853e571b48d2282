#include "SERig.h"

#include <utility>

namespace setest {

namespace {
constexpr std::uint8_t kReadStatus = 0x05;
constexpr std::size_t kHeadBytes = 5;

bool Rose(std::uint32_t before, std::uint32_t after, std::uint32_t bit) {
  return (before & bit) == 0 && (after & bit) != 0;
}
}  // namespace

void ObservedCard::DeviceWrite(std::uint32_t bar, std::uint32_t offset, std::uint32_t width,
                               std::uint32_t value) {
  if (offset == emu::kLineRegister) {
    OnLines(m_lines, value);
    m_lines = value;
  } else if (offset == emu::kProtectRegister) {
    m_events.push_back({CardEvent::Protection, {}, 0, value});
  }
  emu::Card::DeviceWrite(bar, offset, width, value);
}

std::uint32_t ObservedCard::DeviceRead(std::uint32_t bar, std::uint32_t offset,
                                       std::uint32_t width) {
  std::uint32_t value = emu::Card::DeviceRead(bar, offset, width);
  bool bit = true;
  if (offset == emu::kLineRegister && ScriptedBit(bit)) {
    value = bit ? value | emu::kLineDataOut : value & ~emu::kLineDataOut;
  }
  return value;
}

void ObservedCard::ConfigWrite(std::uint32_t offset, std::uint32_t width, std::uint32_t value) {
  m_configWrites.push_back(offset);
  emu::Card::ConfigWrite(offset, width, value);
}

bool ObservedCard::Selected() const {
  return (m_lines & emu::kLineBypass) != 0 && (m_lines & emu::kLineChipSelectN) == 0;
}

void ObservedCard::Script(std::uint8_t opcode, std::uint32_t headerBits, Bytes answer) {
  m_script[opcode] = Scripted{headerBits, std::move(answer)};
}

// The bit the script puts on data-out after the latest rising clock edge.
bool ObservedCard::ScriptedBit(bool& bit) const {
  if (m_script.empty() || !Selected() || m_command.empty()) {
    return false;
  }
  const auto found = m_script.find(m_command[0]);
  if (found == m_script.end() || m_bits <= found->second.headerBits) {
    bit = true;
    return true;
  }
  const std::uint32_t index = m_bits - found->second.headerBits - 1;
  const Bytes& answer = found->second.answer;
  bit = index / 8 >= answer.size() || ((answer[index / 8] >> (7 - index % 8)) & 1) != 0;
  return true;
}

void ObservedCard::OnLines(std::uint32_t before, std::uint32_t after) {
  const bool bypass = (after & emu::kLineBypass) != 0;
  const bool wasSelected = Selected();
  const bool selected = bypass && (after & emu::kLineChipSelectN) == 0;
  if (wasSelected && !selected) {
    EndCommand();
  }
  if (!wasSelected && selected) {
    m_bits = 0;
    m_commandLength = 0;
    m_command.clear();
  }
  if (selected && Rose(before, after, emu::kLineClock)) {
    m_shift = static_cast<std::uint8_t>((m_shift << 1) | ((after & emu::kLineDataIn) != 0));
    if (++m_bits % 8 == 0) {
      ++m_commandLength;
      if (m_command.size() < kHeadBytes) {
        m_command.push_back(m_shift);
      }
    }
  }
}

void ObservedCard::EndCommand() {
  if (m_command.empty()) {
    return;
  }
  if (m_command[0] == kReadStatus) {
    ++m_statusReads;
  } else {
    m_events.push_back({CardEvent::Command, m_command, m_commandLength, 0});
  }
  m_command.clear();
}

int CountingMachine::OpenPhysicalMemory() {
  ++m_opens;
  return emu::Machine::OpenPhysicalMemory();
}

void* CountingMachine::Map(std::size_t length, int descriptor, UINT32 physical) {
  void* address = emu::Machine::Map(length, descriptor, physical);
  m_live += address != nullptr;
  return address;
}

void CountingMachine::Unmap(void* address, std::size_t length) {
  --m_live;
  emu::Machine::Unmap(address, length);
}

Rig::Rig(emu::CardOptions options, const Bytes& content, emu::AccessCosts costs)
    : m_machine(costs),
      m_card(&m_machine.Emplace<ObservedCard>(2, 5, 0, m_machine.Clock(), options,
                                              emu::FlashStore::InMemory(content))),
      m_platform(m_machine),
      m_storage(new unsigned char[SEGetHandleSize()]),
      m_apertureBase(options.apertureBase) {}

Rig::~Rig() {
  if (m_created) {
    SEReleaseHandle(handle());
  }
}

SE_ERR Rig::Create() {
  m_created = true;
  return SECreateHandle(handle(), kCardLocation);
}

std::uint64_t Rig::RegisterReads(std::uint32_t offset) const {
  const auto& at = m_machine.Stats().deviceReadsAt;
  const auto found = at.find(m_apertureBase + offset);
  return found == at.end() ? 0 : found->second;
}

std::uint64_t Rig::RegisterWrites(std::uint32_t offset) const {
  const auto& at = m_machine.Stats().deviceWritesAt;
  const auto found = at.find(m_apertureBase + offset);
  return found == at.end() ? 0 : found->second;
}

Bytes Pattern(std::uint32_t seed, std::size_t size) {
  Bytes bytes(size);
  std::uint32_t state = seed * 2654435761u + 1;
  for (auto& byte : bytes) {
    state = state * 1103515245u + 12345u;
    byte = static_cast<std::uint8_t>(state >> 16);
  }
  bytes[0] = 0x5A;  // the first byte always has bits to clear
  return bytes;
}

std::vector<Bytes> CommandHeads(const std::vector<CardEvent>& events) {
  std::vector<Bytes> heads;
  for (const CardEvent& event : events) {
    if (event.kind == CardEvent::Command) {
      heads.push_back(event.head);
    }
  }
  return heads;
}

}  // namespace setest
