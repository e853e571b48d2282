// The bytes of one flash part: kept in memory, or a file mapped shared so that the file is
// the flash. Every byte programmed is in the file at once, and a process that dies in the
// middle of an update leaves the file as a real card would be left.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace emu {

constexpr std::size_t kFlashCapacity = 131072;

class FlashStore {
 public:
  virtual ~FlashStore() = default;
  std::uint8_t* Bytes() { return m_bytes; }
  const std::uint8_t* Bytes() const { return m_bytes; }
  std::vector<std::uint8_t> Copy() const { return {m_bytes, m_bytes + kFlashCapacity}; }

  // `content` is kFlashCapacity bytes, or empty for an erased part (all 0xFF).
  // Throws std::invalid_argument for any other size.
  static std::unique_ptr<FlashStore> InMemory(const std::vector<std::uint8_t>& content = {});

  // Maps the file at `path`, which must hold exactly kFlashCapacity bytes. A missing file is
  // created holding `initialContent` (same rule as above). Throws std::runtime_error naming
  // the file and the reason when it cannot be created, opened, sized or mapped.
  static std::unique_ptr<FlashStore> MapFile(const std::string& path,
                                             const std::vector<std::uint8_t>& initialContent = {});

 protected:
  FlashStore() = default;
  void SetBytes(std::uint8_t* bytes) { m_bytes = bytes; }

 private:
  std::uint8_t* m_bytes = nullptr;
};

}  // namespace emu
