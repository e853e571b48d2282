#include "State.h"

namespace emu {
namespace {

class MemoryState : public StateStore {
 public:
  explicit MemoryState(const CardState& powerUp) : StateStore(powerUp), m_state(powerUp) {
    SetState(&m_state);
  }

 private:
  CardState m_state;
};

}  // namespace

void StateStore::CutPower() {
  const std::uint8_t kept = m_state->part.nonVolatile;
  *m_state = m_powerUp;
  m_state->part.nonVolatile = kept;
}

std::unique_ptr<StateStore> StateStore::InMemory(const CardState& powerUp) {
  return std::make_unique<MemoryState>(powerUp);
}

}  // namespace emu
