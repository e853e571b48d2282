// A machine with one card whose flash holds a whole image in memory, installed as the
// platform while it lives: what the tests and the fuzz targets run on. Apart from the
// builder: the trap harness's library takes the builder, but must not take the platform
// switch, which is not built as position-independent code.
#pragma once

#include <cstdint>
#include <vector>

#include "Card.h"
#include "Machine.h"

namespace emu {

// The card sits at bus 1, device 0. The machine leaves the process alone: a power cut or a
// due signal goes to whatever hook the process installed (see Interruptions.h), none unless
// it installed one.
class CardMachine {
 public:
  explicit CardMachine(const std::vector<std::uint8_t>& flash, const CardOptions& options = {});
  CardMachine(const CardMachine&) = delete;
  CardMachine& operator=(const CardMachine&) = delete;

  // A machine that outlives others (kept for a whole process) installs itself again before
  // every use; the native platform is back when the last one goes.
  void Install() { TvrSetPlatform(&m_machine); }
  emu::Machine& Machine() { return m_machine; }
  emu::Card& Card() { return m_card; }
  std::vector<std::uint8_t> Flash() const { return m_card.Flash().Store().Copy(); }

 private:
  emu::Machine m_machine;
  ScopedPlatform m_platform{m_machine};
  emu::Card& m_card;
};

}  // namespace emu
