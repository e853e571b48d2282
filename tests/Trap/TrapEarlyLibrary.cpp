// A library the route program needs: its constructor and destructor run outside the
// program's main, and may run before the harness's library or after it. Each takes the
// route TVR_TRAP_EARLY names:
//   constructor, destructor   iopl(3), through the C library
//   raw                       iopl(3) as a system call of its own, in the constructor
//   memory                    opens the memory device, in the constructor
//   exec                      runs the program again without the preloaded library
//   exit                      ends the process in the constructor
#include <fcntl.h>
#include <sys/io.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>

namespace {

bool Asked(const char* route) {
  const char* asked = std::getenv("TVR_TRAP_EARLY");
  return asked != nullptr && std::strcmp(asked, route) == 0;
}

__attribute__((constructor)) void Early() {
  if (Asked("constructor")) {
    iopl(3);
  }
  if (Asked("raw")) {
    syscall(SYS_iopl, 3);
  }
  if (Asked("memory")) {
    open("/dev/mem", O_RDWR);
  }
  if (Asked("exec")) {
    unsetenv("LD_PRELOAD");
    unsetenv("TVR_TRAP_EARLY");
    execl("/proc/self/exe", "again", "ioperm", static_cast<char*>(nullptr));
  }
  if (Asked("exit")) {
    _exit(0);
  }
}

__attribute__((destructor)) void Late() {
  if (Asked("destructor")) {
    iopl(3);
  }
}

}  // namespace
