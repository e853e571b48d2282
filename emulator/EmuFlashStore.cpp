#include "EmuFlashStore.h"

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <stdexcept>

namespace emu {
namespace {

constexpr std::uint8_t kErased = 0xFF;
constexpr char kBadContentSize[] = "flash content must be 131072 bytes or empty";

std::vector<std::uint8_t> InitialBytes(const std::vector<std::uint8_t>& content) {
  if (content.empty()) return std::vector<std::uint8_t>(kFlashCapacity, kErased);
  if (content.size() != kFlashCapacity) throw std::invalid_argument(kBadContentSize);
  return content;
}

[[noreturn]] void FailOnFile(const std::string& path, const std::string& what) {
  throw std::runtime_error("flash file " + path + ": " + what);
}

[[noreturn]] void FailOnFile(const std::string& path, const char* what, int error) {
  FailOnFile(path, std::string(what) + ": " + std::strerror(error));
}

class MemoryStore : public FlashStore {
 public:
  explicit MemoryStore(std::vector<std::uint8_t> content) : m_content(std::move(content)) {
    SetBytes(m_content.data());
  }

 private:
  std::vector<std::uint8_t> m_content;
};

// Owns a descriptor and closes it on every path out.
class FileDescriptor {
 public:
  explicit FileDescriptor(int fd) : m_fd(fd) {}
  ~FileDescriptor() {
    if (m_fd >= 0) ::close(m_fd);
  }
  FileDescriptor(const FileDescriptor&) = delete;
  FileDescriptor& operator=(const FileDescriptor&) = delete;
  int Get() const { return m_fd; }

 private:
  int m_fd;
};

void WriteAll(const std::string& path, int fd, const std::vector<std::uint8_t>& bytes) {
  std::size_t done = 0;
  while (done < bytes.size()) {
    const ssize_t written = ::write(fd, bytes.data() + done, bytes.size() - done);
    if (written < 0 && errno == EINTR) continue;
    if (written <= 0) FailOnFile(path, "cannot write", written < 0 ? errno : EIO);
    done += static_cast<std::size_t>(written);
  }
}

// Opens the file, creating it with `initialContent` when it does not exist. The new file
// is written under O_EXCL so that a file made by someone else at the same moment is kept.
int OpenOrCreate(const std::string& path, const std::vector<std::uint8_t>& initialContent) {
  const int existing = ::open(path.c_str(), O_RDWR | O_CLOEXEC);
  if (existing >= 0 || errno != ENOENT) {
    if (existing < 0) FailOnFile(path, "cannot open", errno);
    return existing;
  }
  const std::vector<std::uint8_t> bytes = InitialBytes(initialContent);
  const int created = ::open(path.c_str(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
  if (created < 0) FailOnFile(path, "cannot create", errno);
  FileDescriptor guard(created);
  try {
    WriteAll(path, created, bytes);
  } catch (...) {
    ::unlink(path.c_str());  // a half-written file would later be refused as the wrong size
    throw;
  }
  const int kept = ::dup(created);
  if (kept < 0) FailOnFile(path, "cannot keep open", errno);
  return kept;
}

class FileStore : public FlashStore {
 public:
  FileStore(const std::string& path, const std::vector<std::uint8_t>& initialContent) {
    FileDescriptor fd(OpenOrCreate(path, initialContent));
    struct stat info {};
    if (::fstat(fd.Get(), &info) != 0) FailOnFile(path, "cannot read size", errno);
    if (static_cast<std::uint64_t>(info.st_size) != kFlashCapacity) {
      FailOnFile(path, "size is not 131072 bytes");
    }
    void* mapping = ::mmap(nullptr, kFlashCapacity, PROT_READ | PROT_WRITE, MAP_SHARED, fd.Get(), 0);
    if (mapping == MAP_FAILED) FailOnFile(path, "cannot map", errno);
    SetBytes(static_cast<std::uint8_t*>(mapping));
  }
  ~FileStore() override { ::munmap(Bytes(), kFlashCapacity); }
  FileStore(const FileStore&) = delete;
  FileStore& operator=(const FileStore&) = delete;
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
