#include "SERig.h"

#include <utility>

#include "Builder.h"

namespace setest {

namespace {
constexpr std::uint8_t kReadStatus = 0x05;
constexpr std::size_t kHeadBytes = 5;
}  // namespace

void LineLog::OnLines(const emu::LineLevels& levels) {
  const emu::LineLevels before = m_levels;
  m_levels = levels;
  const bool selected = levels.bypass && !levels.chipSelectN;
  if (m_selected && !selected) {
    EndCommand();
  }
  if (!m_selected && selected) {
    m_shift.Restart();
    m_commandLength = 0;
    m_command.clear();
  }
  m_selected = selected;
  if (selected && levels.clock && !before.clock && m_shift.Shift(levels.dataIn)) {
    ++m_commandLength;
    if (m_command.size() < kHeadBytes) {
      m_command.push_back(m_shift.Byte());
    }
  }
}

void LineLog::OnProtectWrite(std::uint32_t value) {
  m_events.push_back({CardEvent::Protection, {}, 0, value});
}

void LineLog::EndCommand() {
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

void ScriptedPart::Script(std::uint8_t opcode, std::uint32_t headerBits, Bytes answer) {
  m_script[opcode] = Scripted{headerBits, std::move(answer)};
}

void ScriptedPart::Select() {
  m_selected = true;
  m_shift.Restart();
}

void ScriptedPart::ClockRise(bool dataIn) {
  if (m_selected && m_shift.Shift(dataIn) && m_shift.Bits() == 8) {
    m_opcode = m_shift.Byte();
  }
}

// The bit the script puts on data-out after the latest rising clock edge.
bool ScriptedPart::DataOut() const {
  const std::uint32_t bits = m_shift.Bits();
  if (!m_selected || bits < 8) {
    return true;
  }
  const auto found = m_script.find(m_opcode);
  if (found == m_script.end() || bits <= found->second.headerBits) {
    return true;
  }
  const std::uint32_t index = bits - found->second.headerBits - 1;
  const Bytes& answer = found->second.answer;
  return index / 8 >= answer.size() || ((answer[index / 8] >> (7 - index % 8)) & 1) != 0;
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

void CountingMachine::PortWrite(UINT16 port, UINT32 width, UINT32 value) {
  emu::Machine::PortWrite(port, width, value);
  const std::uint32_t lane = port - emu::kConfigDataPort;
  if (port == emu::kConfigAddressPort && width == 4) {
    m_configAddress = value;
  } else if (port >= emu::kConfigDataPort && lane + width <= 4 &&
             (m_configAddress & emu::kConfigEnable) != 0 &&
             ((m_configAddress >> 8) & 0xFFFF) == kCardLocation) {
    m_configWrites.push_back((m_configAddress & 0xFC) + lane);
  }
}

Rig::Rig(emu::CardOptions options, const Bytes& content, emu::AccessCosts costs)
    : m_machine(costs),
      m_card(
          &emu::PlaceCard(m_machine, kCardLocation, options, emu::FlashStore::InMemory(content))),
      m_platform(m_machine),
      m_storage(new unsigned char[SEGetHandleSize()]),
      m_apertureBase(options.apertureBase) {
  auto lines = std::make_unique<LineLog>();
  m_lines = lines.get();
  m_card->AddLineObserver(std::move(lines));
}

Rig::~Rig() {
  if (m_created) {
    SEReleaseHandle(handle());
  }
}

void Rig::Script(std::uint8_t opcode, std::uint32_t headerBits, Bytes answer) {
  if (!m_scripted) {
    m_scripted = std::make_unique<ScriptedPart>();
    m_card->AttachDevice(*m_scripted);
  }
  m_scripted->Script(opcode, headerBits, std::move(answer));
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

}  // namespace setest
