#include "MappedFile.h"

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <stdexcept>

namespace emu {
namespace {

// The file's kind and name, for every message about it.
struct FileName {
  const std::string& what;
  const std::string& path;
};

[[noreturn]] void FailOnFile(const FileName& file, const std::string& reason) {
  throw std::runtime_error(file.what + " " + file.path + ": " + reason);
}

[[noreturn]] void FailOnFile(const FileName& file, const char* reason, int error) {
  FailOnFile(file, std::string(reason) + ": " + std::strerror(error));
}

// Owns a descriptor and closes it on every path out.
class FileDescriptor {
 public:
  explicit FileDescriptor(int fd) : m_fd(fd) {}
  ~FileDescriptor() {
    if (m_fd >= 0) {
      ::close(m_fd);
    }
  }
  FileDescriptor(const FileDescriptor&) = delete;
  FileDescriptor& operator=(const FileDescriptor&) = delete;
  int Get() const { return m_fd; }

 private:
  int m_fd;
};

// False with errno set when the bytes could not all be written.
bool WriteAll(int fd, const std::vector<std::uint8_t>& bytes) {
  std::size_t done = 0;
  while (done < bytes.size()) {
    const ssize_t written = ::write(fd, bytes.data() + done, bytes.size() - done);
    if (written < 0 && errno == EINTR) {
      continue;
    }
    if (written == 0) {
      errno = EIO;
    }
    if (written <= 0) {
      return false;
    }
    done += static_cast<std::size_t>(written);
  }
  return true;
}

// Opens the file, creating it with `initial` when it does not exist. The new file is
// written under O_EXCL so that a file made by someone else at the same moment is kept.
int OpenOrCreate(const FileName& file, const std::vector<std::uint8_t>& initial) {
  const int existing = ::open(file.path.c_str(), O_RDWR | O_CLOEXEC);
  if (existing >= 0 || errno != ENOENT) {
    if (existing < 0) {
      FailOnFile(file, "cannot open", errno);
    }
    return existing;
  }
  const int created = ::open(file.path.c_str(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
  if (created < 0) {
    FailOnFile(file, "cannot create", errno);
  }
  FileDescriptor guard(created);
  if (!WriteAll(created, initial)) {
    const int error = errno;
    ::unlink(file.path.c_str());  // a half-written file would later be refused as the wrong size
    FailOnFile(file, "cannot write", error);
  }
  const int kept = ::dup(created);
  if (kept < 0) {
    FailOnFile(file, "cannot keep open", errno);
  }
  return kept;
}

}  // namespace

MappedFile::MappedFile(const std::string& what, const std::string& path,
                       const std::vector<std::uint8_t>& initial)
    : m_path(path), m_size(initial.size()) {
  const FileName file{what, path};
  FileDescriptor fd(OpenOrCreate(file, initial));
  struct stat info {};
  if (::fstat(fd.Get(), &info) != 0) {
    FailOnFile(file, "cannot read size", errno);
  }
  if (static_cast<std::uint64_t>(info.st_size) != m_size) {
    FailOnFile(file, "size is not " + std::to_string(m_size) + " bytes");
  }
  void* mapping = ::mmap(nullptr, m_size, PROT_READ | PROT_WRITE, MAP_SHARED, fd.Get(), 0);
  if (mapping == MAP_FAILED) {
    FailOnFile(file, "cannot map", errno);
  }
  m_bytes = static_cast<std::uint8_t*>(mapping);
  m_device = info.st_dev;
  m_inode = info.st_ino;
}

MappedFile::~MappedFile() {
  if (!NameStillMine()) {
    PutContentUnderName();
  }
  ::munmap(m_bytes, m_size);
}

// A name that cannot be looked at for another reason than its absence is left alone.
bool MappedFile::NameStillMine() const {
  struct stat info {};
  if (::stat(m_path.c_str(), &info) != 0) {
    return errno != ENOENT;
  }
  return info.st_dev == m_device && info.st_ino == m_inode;
}

// Whole, beside the name, then renamed over it; on any failure the name is left alone.
void MappedFile::PutContentUnderName() const {
  std::string temp = m_path + ".XXXXXX";
  const int fd = ::mkostemp(temp.data(), O_CLOEXEC);
  if (fd < 0) {
    return;
  }
  FileDescriptor guard(fd);
  const std::vector<std::uint8_t> content(m_bytes, m_bytes + m_size);
  if (!WriteAll(fd, content) || ::fsync(fd) != 0 || ::rename(temp.c_str(), m_path.c_str()) != 0) {
    ::unlink(temp.c_str());
  }
}

}  // namespace emu
