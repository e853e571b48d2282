#include "FlashStore.h"

#include <stdexcept>

namespace emu {
namespace {

constexpr std::uint8_t kErased = 0xFF;
constexpr char kBadContentSize[] = "flash content must be 131072 bytes or empty";

class MemoryStore : public FlashStore {
 public:
  explicit MemoryStore(std::vector<std::uint8_t> content) : m_content(std::move(content)) {
    SetBytes(m_content.data());
  }

 private:
  std::vector<std::uint8_t> m_content;
};

}  // namespace

std::vector<std::uint8_t> FlashStore::InitialBytes(const std::vector<std::uint8_t>& content) {
  if (content.empty()) {
    return std::vector<std::uint8_t>(kFlashCapacity, kErased);
  }
  if (content.size() != kFlashCapacity) {
    throw std::invalid_argument(kBadContentSize);
  }
  return content;
}

std::unique_ptr<FlashStore> FlashStore::InMemory(const std::vector<std::uint8_t>& content) {
  return std::make_unique<MemoryStore>(InitialBytes(content));
}

}  // namespace emu
