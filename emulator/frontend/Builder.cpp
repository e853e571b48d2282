#include "EmuCardMachine.h"

namespace emu {

CardMachine::CardMachine(const std::vector<std::uint8_t>& flash, const CardOptions& options) {
  m_card = &m_machine.Emplace<emu::Card>(1, 0, 0, m_machine.Clock(), options,
                                         FlashStore::InMemory(flash));
}

}  // namespace emu
