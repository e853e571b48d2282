#include "CardMachine.h"

#include "Builder.h"

namespace emu {

CardMachine::CardMachine(const std::vector<std::uint8_t>& flash, const CardOptions& options)
    : m_card(PlaceCard(m_machine, kDefaultLocation, options, FlashStore::InMemory(flash))) {}

}  // namespace emu
