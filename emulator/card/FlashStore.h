// The bytes of one flash part: kept in memory, or a file mapped shared so that the file is
// the flash. Every byte programmed is in the file at once, and a process that dies in the
// middle of an update leaves the file as a real card would be left.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

#include "CardNumbers.h"

namespace emu {

class FlashStore {
 public:
  virtual ~FlashStore() = default;
  std::uint8_t* Bytes() { return m_bytes; }
  const std::uint8_t* Bytes() const { return m_bytes; }
  std::vector<std::uint8_t> Copy() const { return {m_bytes, m_bytes + kFlashCapacity}; }

  // `content` is kFlashCapacity bytes, or empty for an erased part (all 0xFF).
  // Throws std::invalid_argument for any other size.
  static std::unique_ptr<FlashStore> InMemory(const std::vector<std::uint8_t>& content = {});
  // The bytes a store of `content` starts with, by the same rule.
  static std::vector<std::uint8_t> InitialBytes(const std::vector<std::uint8_t>& content);

 protected:
  FlashStore() = default;
  void SetBytes(std::uint8_t* bytes) { m_bytes = bytes; }

 private:
  std::uint8_t* m_bytes = nullptr;
};

}  // namespace emu
