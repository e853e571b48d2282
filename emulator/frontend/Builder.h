// The one machine builder: the front end's machine with its cards, each at its location,
// their flash and kept state in files or in memory, and their line recorders. The
// front end, the trap harness, the tools and the tests all build machines here.
#pragma once

#include <cstdint>
#include <map>
#include <memory>

#include "Card.h"
#include "Machine.h"
#include "Options.h"

namespace emu {

struct BuiltMachine {
  std::unique_ptr<emu::Machine> machine;
  std::map<std::uint32_t, Card*> cards;  // by location, as in FrontEndCard
};

// The machine the options describe, its cards and their line traces. What a power cut or a
// due signal does to the process is left to the caller (see InstallProcessEnd). Throws
// std::runtime_error when a card's flash or state file cannot be created or mapped, or a
// trace file cannot be written.
BuiltMachine BuildMachine(const FrontEndOptions& options);

// Puts a card at `location` (bus in bits 8-15, device in 3-7, function in 0-2).
Card& PlaceCard(Machine& machine, std::uint32_t location, const CardOptions& options,
                std::unique_ptr<FlashStore> flash, std::unique_ptr<StateStore> state = nullptr);

}  // namespace emu
