#include "FileStores.h"

#include <cstring>
#include <stdexcept>

#include "MappedFile.h"

namespace emu {
namespace {

class FileStore : public FlashStore {
 public:
  FileStore(const std::string& path, const std::vector<std::uint8_t>& initialContent)
      : m_file("flash file", path, InitialBytes(initialContent)) {
    SetBytes(m_file.Bytes());
  }

 private:
  MappedFile m_file;
};

constexpr const char* kWhat = "state file";
// "TVST" as little-endian bytes.
constexpr std::uint32_t kMagic = 0x54535654;
constexpr std::uint32_t kVersion = 1;

// The file: a header that names its layout, then the state.
struct StateFileLayout {
  std::uint32_t magic;
  std::uint32_t version;
  std::uint32_t size;
  std::uint32_t reserved;
  CardState state;
};
static_assert(std::is_trivially_copyable_v<StateFileLayout> && sizeof(StateFileLayout) == 64,
              "one layout on every build");

std::vector<std::uint8_t> NewFile(const CardState& powerUp) {
  const StateFileLayout layout{kMagic, kVersion, sizeof(StateFileLayout), 0, powerUp};
  std::vector<std::uint8_t> bytes(sizeof(layout));
  std::memcpy(bytes.data(), &layout, sizeof(layout));
  return bytes;
}

class FileState : public StateStore {
 public:
  FileState(const std::string& path, const CardState& powerUp)
      : StateStore(powerUp), m_file(kWhat, path, NewFile(powerUp)) {
    auto* layout = reinterpret_cast<StateFileLayout*>(m_file.Bytes());
    if (layout->magic != kMagic || layout->version != kVersion ||
        layout->size != sizeof(StateFileLayout)) {
      throw std::runtime_error(std::string(kWhat) + " " + path +
                               ": not a card state of this emulator");
    }
    SetState(&layout->state);
  }

 private:
  MappedFile m_file;
};

}  // namespace

std::unique_ptr<FlashStore> MapFlashFile(const std::string& path,
                                         const std::vector<std::uint8_t>& initialContent) {
  return std::make_unique<FileStore>(path, initialContent);
}

std::unique_ptr<StateStore> MapStateFile(const std::string& path, const CardState& powerUp) {
  return std::make_unique<FileState>(path, powerUp);
}

}  // namespace emu
