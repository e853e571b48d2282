#include "EmuFlashStore.h"

#include <stdexcept>

#include "EmuMappedFile.h"

namespace emu {
namespace {

constexpr std::uint8_t kErased = 0xFF;
constexpr char kBadContentSize[] = "flash content must be 131072 bytes or empty";

std::vector<std::uint8_t> InitialBytes(const std::vector<std::uint8_t>& content) {
  if (content.empty()) return std::vector<std::uint8_t>(kFlashCapacity, kErased);
  if (content.size() != kFlashCapacity) throw std::invalid_argument(kBadContentSize);
  return content;
}

class MemoryStore : public FlashStore {
 public:
  explicit MemoryStore(std::vector<std::uint8_t> content) : m_content(std::move(content)) {
    SetBytes(m_content.data());
  }

 private:
  std::vector<std::uint8_t> m_content;
};

class FileStore : public FlashStore {
 public:
  FileStore(const std::string& path, const std::vector<std::uint8_t>& initialContent)
      : m_file("flash file", path, InitialBytes(initialContent)) {
    SetBytes(m_file.Bytes());
  }

 private:
  MappedFile m_file;
};

}  // namespace

std::unique_ptr<FlashStore> FlashStore::InMemory(const std::vector<std::uint8_t>& content) {
  return std::make_unique<MemoryStore>(InitialBytes(content));
}

std::unique_ptr<FlashStore> FlashStore::MapFile(const std::string& path,
                                                const std::vector<std::uint8_t>& initialContent) {
  return std::make_unique<FileStore>(path, initialContent);
}

}  // namespace emu
