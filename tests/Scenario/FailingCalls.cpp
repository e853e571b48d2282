// Preloaded into a run to make one C library call fail on the files whose path holds a
// given text, as a full or failing disk would: TVR_FAIL_CALL names the call (fsync, close
// or fchown), TVR_FAIL_FILE the text. A failing close still closes.
#include <dlfcn.h>
#include <sys/types.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {

bool Fails(const char* call, int fd) {
  const char* failing = std::getenv("TVR_FAIL_CALL");
  const char* file = std::getenv("TVR_FAIL_FILE");
  if (failing == nullptr || file == nullptr || std::strcmp(failing, call) != 0) {
    return false;
  }
  char link[64];
  char path[PATH_MAX];
  std::snprintf(link, sizeof(link), "/proc/self/fd/%d", fd);
  const ssize_t length = readlink(link, path, sizeof(path) - 1);
  if (length <= 0) {
    return false;
  }
  path[length] = '\0';
  return std::strstr(path, file) != nullptr;
}

template <typename Call>
Call Next(const char* name) {
  return reinterpret_cast<Call>(dlsym(RTLD_NEXT, name));
}

int Failed(int error) {
  errno = error;
  return -1;
}

}  // namespace

extern "C" {

int fsync(int fd) {
  return Fails("fsync", fd) ? Failed(EIO) : Next<int (*)(int)>("fsync")(fd);
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
}
