// Preloaded into a run to make one C library call fail on the files whose path holds a
// given text, as a full or failing disk would: TVR_FAIL_CALL names the call (fsync, close,
// fchown or fsetxattr), TVR_FAIL_FILE the text. A failing close still closes. With
// TVR_CALL_LOG set, every fsync and rename also adds a line to the file it names ("fsync
// PATH", "rename PATH" with the new name), so that a test sees what reached the disk in
// which order.
#include <dlfcn.h>
#include <fcntl.h>
#include <sys/types.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

namespace {

template <typename Call>
Call Next(const char* name) {
  return reinterpret_cast<Call>(dlsym(RTLD_NEXT, name));
}

std::string PathOf(int fd) {
  char link[64];
  char path[PATH_MAX];
  std::snprintf(link, sizeof(link), "/proc/self/fd/%d", fd);
  const ssize_t length = readlink(link, path, sizeof(path) - 1);
  return length <= 0 ? std::string() : std::string(path, static_cast<std::size_t>(length));
}

bool Fails(const char* call, int fd) {
  const char* failing = std::getenv("TVR_FAIL_CALL");
  const char* file = std::getenv("TVR_FAIL_FILE");
  if (failing == nullptr || file == nullptr || std::strcmp(failing, call) != 0) {
    return false;
  }
  return PathOf(fd).find(file) != std::string::npos;
}

void Log(const char* call, const std::string& path) {
  const char* log = std::getenv("TVR_CALL_LOG");
  if (log == nullptr) {
    return;
  }
  const int fd = open(log, O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0600);
  if (fd >= 0) {
    dprintf(fd, "%s %s\n", call, path.c_str());
    Next<int (*)(int)>("close")(fd);
  }
}

int Failed(int error) {
  errno = error;
  return -1;
}

}  // namespace

extern "C" {

int fsync(int fd) {
  Log("fsync", PathOf(fd));
  return Fails("fsync", fd) ? Failed(EIO) : Next<int (*)(int)>("fsync")(fd);
}

int renameat(int oldFolder, const char* oldName, int newFolder, const char* newName) {
  const int renamed = Next<int (*)(int, const char*, int, const char*)>("renameat")(
      oldFolder, oldName, newFolder, newName);
  Log("rename", (newFolder == AT_FDCWD ? std::string(".") : PathOf(newFolder)) + "/" + newName);
  return renamed;
}

int close(int fd) {
  const bool fails = Fails("close", fd);
  const int closed = Next<int (*)(int)>("close")(fd);
  return fails ? Failed(EIO) : closed;
}

int fchown(int fd, uid_t owner, gid_t group) {
  return Fails("fchown", fd) ? Failed(EPERM)
                             : Next<int (*)(int, uid_t, gid_t)>("fchown")(fd, owner, group);
}

int fsetxattr(int fd, const char* name, const void* value, size_t size, int flags) {
  return Fails("fsetxattr", fd) ? Failed(EPERM)
                                : Next<int (*)(int, const char*, const void*, size_t, int)>(
                                      "fsetxattr")(fd, name, value, size, flags);
}
}
