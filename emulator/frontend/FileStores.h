// The card's flash and kept state in files mapped shared, so that each file is the
// hardware it stands for: every byte programmed or register written is in it at once.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "FlashStore.h"
#include "State.h"

namespace emu {

// Maps the file at `path`, which must hold exactly kFlashCapacity bytes. A missing file is
// created holding `initialContent` (kFlashCapacity bytes, or empty for an erased part).
// Throws std::runtime_error naming the file and the reason when it cannot be created,
// opened, sized or mapped, std::invalid_argument for initial content of another size.
std::unique_ptr<FlashStore> MapFlashFile(const std::string& path,
                                         const std::vector<std::uint8_t>& initialContent = {});

// The state in the file at `path`, mapped; a missing file is created holding `powerUp`.
// Throws std::runtime_error naming the file and the reason when it cannot be created or
// mapped, or is not a state file of this layout.
std::unique_ptr<StateStore> MapStateFile(const std::string& path, const CardState& powerUp);

}  // namespace emu
