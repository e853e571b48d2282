// The one machine builder: the front end's machine with its cards, each at its location,
// their flash and kept state in files or in memory, and their line recorders. The
// front end, the trap harness, the tools and the tests all build machines here.
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <vector>

#include "Card.h"
#include "Machine.h"
#include "Options.h"

namespace emu {

struct BuiltMachine {
  std::unique_ptr<emu::Machine> machine;
  std::map<std::uint32_t, Card*> cards;  // by location, as in FrontEndCard
};

// The machine the options describe, its cards and their line traces. Installs the
// interruptions that end the process as a real one ends (see InstallProcessEnd). Throws
// std::runtime_error when a card's flash or state file cannot be created or mapped, or a
// trace file cannot be written.
BuiltMachine BuildMachine(const FrontEndOptions& options);

// Puts a card at `location` (bus in bits 8-15, device in 3-7, function in 0-2).
Card& PlaceCard(Machine& machine, std::uint32_t location, const CardOptions& options,
                std::unique_ptr<FlashStore> flash, std::unique_ptr<StateStore> state = nullptr);

// A machine with one card at bus 1, device 0 whose flash holds a whole image in memory,
// installed as the platform while it lives: what the tests and the fuzz targets run on.
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
