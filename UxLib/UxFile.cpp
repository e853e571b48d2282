#include "UxFile.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/random.h>
#include <sys/stat.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <climits>
#include <cstdint>
#include <cstring>
#include <ctime>
#include <deque>
#include <vector>

namespace {

// Links followed in one name, as the system itself allows.
constexpr int kMaxLinks = 40;
constexpr mode_t kNewFileMode = 0666;
// A replacement is nobody else's until it has the old file's owner and mode.
constexpr mode_t kPrivateMode = 0600;
constexpr mode_t kPermissionBits = 07777;
constexpr mode_t kSetIdBits = S_ISUID | S_ISGID;
// A device or FIFO that has not taken the whole file this long after the writing began is
// given up: a disk or a pipe that takes 128 KiB in a few seconds is well within it, and a
// reader that stalls or trickles keeps the card held no longer than this.
constexpr std::chrono::milliseconds kWholeFileWithin{10000};
// Who else may write to a sticky folder for what lies there to be guarded: everyone for
// links, the folder's group too for regular files and FIFOs.
constexpr mode_t kLinkWriters = S_IWOTH;
constexpr mode_t kFileWriters = S_IWOTH | S_IWGRP;
constexpr int kTempNameAttempts = 100;
constexpr int kTempNameLetters = 6;
constexpr char kLetters[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789";
// Extended attributes that say who may read a file: without them a copy would be readable
// by more people than the file it replaces.
constexpr const char* kAccessLists[] = {"system.posix_acl_access", "system.nfs4_acl",
                                        "system.richacl"};
// File capabilities make a program of a file, as set-id bits do: never carried over.
constexpr char kCapabilities[] = "security.capability";
// An attribute list or value that grows between asking its size and reading it is asked
// again, a few times.
constexpr int kAttributeAttempts = 4;

// With the large-file calls a 32-bit build reads every file's facts too: plain fstat fails
// there on a file system whose inode numbers need more than 32 bits.
using FileInfo = struct stat64;

// A descriptor closed when it goes.
class Descriptor {
 public:
  explicit Descriptor(int fd = -1) : m_fd(fd) {}
  ~Descriptor() { Reset(-1); }
  Descriptor(Descriptor&& other) noexcept : m_fd(other.Release()) {}
  Descriptor& operator=(Descriptor&& other) noexcept {
    Reset(other.Release());
    return *this;
  }
  Descriptor(const Descriptor&) = delete;
  Descriptor& operator=(const Descriptor&) = delete;

  int Get() const { return m_fd; }
  int Release() {
    const int fd = m_fd;
    m_fd = -1;
    return fd;
  }

 private:
  void Reset(int fd) {
    if (m_fd >= 0) {
      ::close(m_fd);
    }
    m_fd = fd;
  }
  int m_fd;
};

// Where a name leads: a folder held open and the name of the target in it.
struct Place {
  Descriptor folder;
  std::string name;
  bool exists = false;
  FileInfo info{};
};

// The parts of a name in order. A name ending in "/" names a folder: "." closes it, so
// that no file is made under it.
std::deque<std::string> Parts(const std::string& path) {
  std::deque<std::string> parts;
  std::size_t begin = 0;
  while (begin < path.size()) {
    const std::size_t slash = path.find('/', begin);
    const std::size_t end = slash == std::string::npos ? path.size() : slash;
    if (end > begin) {
      parts.push_back(path.substr(begin, end - begin));
    }
    begin = end + 1;
  }
  if (!path.empty() && path.back() == '/') {
    parts.push_back(".");
  }
  return parts;
}

Descriptor StartFolder(const std::string& path) {
  const ACHAR* start = !path.empty() && path.front() == '/' ? "/" : ".";
  return Descriptor(::open(start, O_PATH | O_DIRECTORY | O_CLOEXEC));
}

// The system's protection of sticky folders that others may write to: what lies there is
// followed or written only when it belongs to the user or to the folder's owner.
bool MayUse(int folder, const FileInfo& entry, mode_t writers) {
  FileInfo info{};
  if (::fstat64(folder, &info) != 0) {
    return false;
  }
  const bool shared = (info.st_mode & S_ISVTX) != 0 && (info.st_mode & writers) != 0;
  return !shared || entry.st_uid == info.st_uid || entry.st_uid == ::geteuid();
}

// The text of the link held open, read from that very link.
std::string LinkText(int link) {
  std::vector<ACHAR> text(PATH_MAX);
  const ssize_t length = ::readlinkat(link, "", text.data(), text.size());
  if (length <= 0 || static_cast<std::size_t>(length) >= text.size()) {
    return std::string();
  }
  return std::string(text.data(), static_cast<std::size_t>(length));
}

// Walks the name one part at a time, each step taken from the folder held open, and takes
// a link's text in place of the link where it may be followed. False when the name leads
// to no file that may be written: a missing folder, a link not to be followed, a loop.
bool Resolve(const std::string& path, Place& place) {
  std::deque<std::string> pending = Parts(path);
  Descriptor folder = StartFolder(path);
  int links = 0;
  while (folder.Get() >= 0 && !pending.empty()) {
    const std::string name = pending.front();
    pending.pop_front();
    Descriptor entry(::openat(folder.Get(), name.c_str(), O_PATH | O_NOFOLLOW | O_CLOEXEC));
    FileInfo info{};
    if (entry.Get() < 0 || ::fstat64(entry.Get(), &info) != 0) {
      const bool newFile = errno == ENOENT && pending.empty();
      place = Place{std::move(folder), name, false, {}};
      return newFile;
    }
    if (S_ISLNK(info.st_mode)) {
      const std::string text = LinkText(entry.Get());
      if (++links > kMaxLinks || !MayUse(folder.Get(), info, kLinkWriters) || text.empty()) {
        return false;
      }
      const std::deque<std::string> parts = Parts(text);
      pending.insert(pending.begin(), parts.begin(), parts.end());
      if (text.front() == '/') {
        folder = StartFolder(text);
      }
    } else if (pending.empty()) {
      place = Place{std::move(folder), name, true, info};
      return true;
    } else if (S_ISDIR(info.st_mode)) {
      folder = std::move(entry);
    } else {
      return false;
    }
  }
  return false;
}

// A new file may be written; one that is there unless it is a folder, or a regular file or
// FIFO that another user left in a shared folder.
bool MayWrite(const Place& place) {
  const mode_t mode = place.info.st_mode;
  if (!place.exists) {
    return true;
  }
  if (S_ISDIR(mode)) {
    return false;
  }
  return !(S_ISREG(mode) || S_ISFIFO(mode)) || MayUse(place.folder.Get(), place.info, kFileWriters);
}

// The file the walk found, opened without waiting (a FIFO nobody reads refuses at once).
Descriptor OpenFound(const Place& place, int access) {
  Descriptor fd(::openat(place.folder.Get(), place.name.c_str(),
                         access | O_NOFOLLOW | O_NOCTTY | O_NONBLOCK | O_CLOEXEC));
  FileInfo info{};
  if (fd.Get() < 0 || ::fstat64(fd.Get(), &info) != 0 || info.st_dev != place.info.st_dev ||
      info.st_ino != place.info.st_ino) {
    return Descriptor();
  }
  return fd;
}

std::uint64_t RandomBits() {
  std::uint64_t bits = 0;
  if (::getrandom(&bits, sizeof(bits), GRND_NONBLOCK) != static_cast<ssize_t>(sizeof(bits))) {
    timespec now{};
    ::clock_gettime(CLOCK_MONOTONIC, &now);
    bits = static_cast<std::uint64_t>(now.tv_nsec) ^ (static_cast<std::uint64_t>(::getpid()) << 32);
  }
  return bits;
}

// ".NAME.XXXXXX": hidden, beside the target, and named after it.
std::string TempName(const std::string& name) {
  std::string temp = "." + name + ".";
  std::uint64_t bits = RandomBits();
  for (int i = 0; i < kTempNameLetters; ++i) {
    temp += kLetters[bits % (sizeof(kLetters) - 1)];
    bits /= sizeof(kLetters) - 1;
  }
  return temp;
}

// A file of a new name in the folder; the descriptor, or -1. `temp` gets its name.
int CreateTemp(int folder, const std::string& name, mode_t mode, std::string& temp) {
  for (int attempt = 0; attempt < kTempNameAttempts; ++attempt) {
    std::string candidate = TempName(name);
    const int fd = ::openat(folder, candidate.c_str(),
                            O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, mode);
    if (fd >= 0) {
      temp = std::move(candidate);
      return fd;
    }
    if (errno != EEXIST) {
      return -1;
    }
  }
  return -1;
}

// The owner and group, then the mode without set-id bits: a BIOS image is never a program.
// Where the user may not give a file away, it stays the user's.
bool TakeOwnerAndMode(int fd, const FileInfo& old) {
  const bool owned = ::fchown(fd, old.st_uid, old.st_gid) == 0 || errno == EPERM;
  return owned && ::fchmod(fd, old.st_mode & kPermissionBits & ~kSetIdBits) == 0;
}

// Reads a list or value of extended attributes, `read(buffer, size)` answering as the
// attribute calls do, into `bytes`; false when it cannot be read.
template <typename Read>
bool ReadAttributeBytes(std::vector<char>& bytes, Read read) {
  for (int attempt = 0; attempt < kAttributeAttempts; ++attempt) {
    const ssize_t size = read(nullptr, 0);
    if (size < 0) {
      return false;
    }
    bytes.resize(static_cast<std::size_t>(size));
    const ssize_t got = read(bytes.data(), bytes.size());
    if (got >= 0) {
      bytes.resize(static_cast<std::size_t>(got));
      return true;
    }
    if (errno != ERANGE) {
      return false;
    }
  }
  return false;
}

bool IsAccessList(const char* name) {
  for (const char* list : kAccessLists) {
    if (std::strcmp(name, list) == 0) {
      return true;
    }
  }
  return false;
}

// The old file's extended attributes go to the new one, access control lists and security
// labels among them. One the system refuses to copy fails the copy only when it is an access
// control list; any other (a label the system gives anew, a user's note) is left behind.
bool CopyAttributes(int from, int to) {
  std::vector<char> names;
  const bool listed = ReadAttributeBytes(
      names, [from](char* buffer, std::size_t size) { return ::flistxattr(from, buffer, size); });
  if (!listed) {
    return errno == ENOTSUP;
  }
  // The system ends every name of the list with a zero byte; the last one surely has one.
  if (!names.empty() && names.back() != '\0') {
    names.push_back('\0');
  }
  for (std::size_t at = 0; at < names.size(); at += std::strlen(names.data() + at) + 1) {
    const char* name = names.data() + at;
    std::vector<char> value;
    const bool copied = std::strcmp(name, kCapabilities) == 0 ||
                        (ReadAttributeBytes(value,
                                            [from, name](char* buffer, std::size_t size) {
                                              return ::fgetxattr(from, name, buffer, size);
                                            }) &&
                         ::fsetxattr(to, name, value.data(), value.size(), 0) == 0);
    if (!copied && IsAccessList(name)) {
      return false;
    }
  }
  return true;
}

// A replacement takes the old file's owner, mode and attributes before it holds any data.
bool TakeOldFilesPlace(int fd, const Place& old) {
  const Descriptor oldFile = OpenFound(old, O_RDONLY);
  return oldFile.Get() >= 0 && TakeOwnerAndMode(fd, old.info) && CopyAttributes(oldFile.Get(), fd);
}

using Deadline = std::chrono::steady_clock::time_point;

// A signal that cuts the wait short does not lengthen it: the deadline stays.
bool WaitWritable(int fd, Deadline deadline) {
  pollfd wanted{fd, POLLOUT, 0};
  int ready = 0;
  do {
    const auto left =
        std::chrono::ceil<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
    ready = left.count() > 0 ? ::poll(&wanted, 1, static_cast<int>(left.count())) : 0;
  } while (ready < 0 && errno == EINTR);
  return ready > 0 && (wanted.revents & POLLOUT) != 0;
}

// Makes the rename itself last; where the folder cannot be flushed the data already is.
void FlushFolder(int folder) {
  const Descriptor fd(::openat(folder, ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  if (fd.Get() >= 0) {
    ::fsync(fd.Get());
  }
}

}  // namespace

UxOutFile::UxOutFile(const ACHAR* pszFileName) {
  Place place;
  if (!Resolve(pszFileName, place) || !MayWrite(place)) {
    return;
  }
  if (place.exists && !S_ISREG(place.info.st_mode)) {
    m_fd = OpenFound(place, O_WRONLY).Release();
    return;
  }
  m_fd = CreateTemp(place.folder.Get(), place.name, place.exists ? kPrivateMode : kNewFileMode,
                    m_temp);
  const bool ready = m_fd >= 0 && (!place.exists || TakeOldFilesPlace(m_fd, place));
  m_folder = place.folder.Release();
  m_name = place.name;
  if (!ready) {
    Discard();
  }
}

UxOutFile::~UxOutFile() { Discard(); }

bool UxOutFile::Commit(const void* pvData, std::size_t size) {
  if (!IsOpen()) {
    return false;
  }
  const bool complete = WriteAll(pvData, size) && CloseFlushed();
  if (!complete ||
      (!m_temp.empty() && ::renameat(m_folder, m_temp.c_str(), m_folder, m_name.c_str()) != 0)) {
    Discard();
    return false;
  }
  if (!m_temp.empty()) {
    m_temp.clear();
    FlushFolder(m_folder);
  }
  Discard();
  return true;
}

void UxOutFile::Discard() {
  if (m_fd >= 0) {
    ::close(m_fd);
    m_fd = -1;
  }
  if (!m_temp.empty()) {
    ::unlinkat(m_folder, m_temp.c_str(), 0);
    m_temp.clear();
  }
  if (m_folder >= 0) {
    ::close(m_folder);
    m_folder = -1;
  }
}

// A device or FIFO opened without waiting may take the data in pieces, as its reader
// makes room, all of it within one bound.
bool UxOutFile::WriteAll(const void* pvData, std::size_t size) const {
  const Deadline deadline = std::chrono::steady_clock::now() + kWholeFileWithin;
  const auto* bytes = static_cast<const UINT8*>(pvData);
  std::size_t done = 0;
  while (done < size) {
    const ssize_t written = ::write(m_fd, bytes + done, size - done);
    if (written < 0 && (errno == EINTR || (errno == EAGAIN && WaitWritable(m_fd, deadline)))) {
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
