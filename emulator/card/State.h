// What a machine keeps between two runs without a reboot: the card's configuration command
// register and aperture registers, and the flash part's status register, write-enable
// latch, unfinished busy period and SST status-write enable. The card and the part read and
// write these records in place, in memory or in a small mapped file beside the flash file,
// so that a process killed at any instant leaves them as a real card would be left.
//
// The records are plain and of one fixed layout on every build (32- and 64-bit alike);
// new volatile fields go beside these, with a new version.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <type_traits>

namespace emu {

// The card's registers that keep their value until a reboot.
struct CardRegisters {
  std::uint32_t command;          // configuration command register, the low word at 0x04
  std::uint32_t lineRegister;     // aperture 0x304: bypass, clock, data and chip select
  std::uint32_t protectRegister;  // aperture 0x1C4C
  std::uint32_t reserved;
};

// The flash part's volatile state, and the status bits that its maker keeps in the part.
struct PartState {
  // Virtual times, on the clock of the run that wrote them: the end of the busy period
  // (UINT64_MAX: never) and the part's last pin event. A following run resumes what was
  // left of the busy period at that event.
  std::uint64_t busyUntilNs;
  std::uint64_t lastEventNs;
  std::uint32_t autoAddress;       // next address of auto-address-increment programming
  std::uint8_t nonVolatile;        // status bits 2, 3 and 7: they survive a power cut
  std::uint8_t writeEnable;        // 0 or 1, as are the three below
  std::uint8_t writeStatusEnable;  // 0x50 came: good for the next command only
  std::uint8_t autoIncrement;
  std::uint8_t autoAddressEnded;
  // The operation in progress: when its busy period ends, the latch clears (unless
  // `endClearsLatch` is 0) and a status write's bits (`pendingStatus`, when
  // `statusPending`) take effect. Zero in a file of an earlier run: nothing pending.
  std::uint8_t inFlight;
  std::uint8_t endClearsLatch;
  std::uint8_t statusPending;
  std::uint8_t pendingStatus;
  std::uint8_t reserved[3];
};

struct CardState {
  CardRegisters card;
  PartState part;
};

static_assert(std::is_trivially_copyable_v<CardState> && std::is_standard_layout_v<CardState>,
              "the state is kept as plain bytes");
static_assert(alignof(CardState) <= 8 && sizeof(CardRegisters) == 16 && sizeof(PartState) == 32 &&
                  offsetof(PartState, autoAddress) == 16 && offsetof(CardState, part) == 16,
              "one layout on every build");

// Where the state lives.
class StateStore {
 public:
  virtual ~StateStore() = default;
  CardState& State() { return *m_state; }
  const CardState& State() const { return *m_state; }

  // A power cut is a reboot: everything as at power-up, but the part's non-volatile bits.
  void CutPower();

  // The state in memory, starting as `powerUp`.
  static std::unique_ptr<StateStore> InMemory(const CardState& powerUp);

 protected:
  explicit StateStore(const CardState& powerUp) : m_powerUp(powerUp) {}
  void SetState(CardState* state) { m_state = state; }

 private:
  CardState m_powerUp;
  CardState* m_state = nullptr;
};

}  // namespace emu
