#include "UxFile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <vector>

namespace {

// Links followed to find the file a name stands for, as the system itself allows.
constexpr int kMaxLinks = 40;
constexpr const ACHAR* kTempSuffix = ".XXXXXX";
constexpr mode_t kNewFileMode = 0666;
constexpr mode_t kPermissionBits = 07777;

// The folder part of a path with its final "/", or empty for the working folder.
std::string FolderOf(const std::string& path) {
  const std::size_t slash = path.rfind('/');
  return slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
}

std::string NameOf(const std::string& path) { return path.substr(FolderOf(path).size()); }

std::string ReadLink(const std::string& path) {
  std::vector<ACHAR> target(PATH_MAX);
  const ssize_t length = ::readlink(path.c_str(), target.data(), target.size());
  if (length <= 0 || static_cast<std::size_t>(length) >= target.size()) {
    return std::string();
  }
  return std::string(target.data(), static_cast<std::size_t>(length));
}

// The file a name stands for: the end of its chain of symbolic links, which need not
// exist yet. The name itself when a link cannot be read; opening then reports it.
std::string FollowLinks(std::string path) {
  for (int i = 0; i < kMaxLinks; ++i) {
    struct stat info {};
    if (::lstat(path.c_str(), &info) != 0 || !S_ISLNK(info.st_mode)) {
      return path;
    }
    const std::string target = ReadLink(path);
    if (target.empty()) {
      return path;
    }
    path = target.front() == '/' ? target : FolderOf(path).append(target);
  }
  return path;
}

mode_t CurrentUmask() {
  const mode_t mask = ::umask(0);
  ::umask(mask);
  return mask;
}

// A new file in the target's folder, with the permissions the target has (or a new file
// would get). The descriptor, or -1; `temp` gets its name.
int CreateBeside(const std::string& target, const struct stat* existing, std::string& temp) {
  std::string name = FolderOf(target) + "." + NameOf(target) + kTempSuffix;
  const int fd = ::mkostemp(name.data(), O_CLOEXEC);
  if (fd < 0) {
    return -1;
  }
  temp = name;
  const mode_t mode = existing != nullptr ? existing->st_mode & kPermissionBits
                                          : kNewFileMode & ~CurrentUmask();
  ::fchmod(fd, mode);
  return fd;
}

// Makes the rename itself last; where the folder cannot be flushed the data already is.
void FlushFolder(const std::string& path) {
  const std::string folder = FolderOf(path).empty() ? std::string(".") : FolderOf(path);
  const int fd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd >= 0) {
    ::fsync(fd);
    ::close(fd);
  }
}

}  // namespace

UxOutFile::UxOutFile(const ACHAR* pszFileName) : m_target(FollowLinks(pszFileName)) {
  struct stat info {};
  const bool exists = ::stat(m_target.c_str(), &info) == 0;
  if (exists && !S_ISREG(info.st_mode)) {
    m_fd = ::open(m_target.c_str(), O_WRONLY | O_NOCTTY | O_CLOEXEC);
    return;
  }
  m_fd = CreateBeside(m_target, exists ? &info : nullptr, m_temp);
}

UxOutFile::~UxOutFile() { Discard(); }

bool UxOutFile::Commit(const void* pvData, std::size_t size) {
  if (!IsOpen()) {
    return false;
  }
  const bool complete = WriteAll(pvData, size) && CloseFlushed();
  if (!complete || (!m_temp.empty() && std::rename(m_temp.c_str(), m_target.c_str()) != 0)) {
    Discard();
    return false;
  }
  if (!m_temp.empty()) {
    m_temp.clear();
    FlushFolder(m_target);
  }
  return true;
}

void UxOutFile::Discard() {
  if (m_fd >= 0) {
    ::close(m_fd);
    m_fd = -1;
  }
  if (!m_temp.empty()) {
    ::unlink(m_temp.c_str());
    m_temp.clear();
  }
}

bool UxOutFile::WriteAll(const void* pvData, std::size_t size) const {
  const auto* bytes = static_cast<const UINT8*>(pvData);
  std::size_t done = 0;
  while (done < size) {
    const ssize_t written = ::write(m_fd, bytes + done, size - done);
    if (written < 0 && errno == EINTR) {
      continue;
    }
    if (written <= 0) {
      return false;
    }
    done += static_cast<std::size_t>(written);
  }
  return true;
}

// A device or FIFO written in place may have nothing to flush.
bool UxOutFile::CloseFlushed() {
  const bool flushed = ::fsync(m_fd) == 0 || (m_temp.empty() && errno == EINVAL);
  const bool closed = ::close(m_fd) == 0;
  m_fd = -1;
  return flushed && closed;
}
