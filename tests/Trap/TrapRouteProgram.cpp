// Takes one route to this computer's ports or memory device, or asks the harness what a
// kernel answers, named by its argument; prints what it got when the route returns.
// Routes around the interposed calls, each of which must end the run with a line:
//   ioperm, syscall-iopl             port I/O asked of the kernel directly
//   slashes, dot, openat, fortified  the memory device under another spelling or call,
//                                    then read as a file
//   stream                           the memory device opened as a stream
// Answers (the run goes on):
//   device      fstat's device numbers and F_GETFL's access mode of a read-only opening,
//               the errno of a write to it, and a register read through a duplicate
//   privilege   the errno of iopl(0) and iopl(3), and of opening the memory device
//   threads     a port read in a thread started after iopl(3)
// Answers that end the run with a line:
//   read-only, remap, pread     mprotect to read-only, mremap, pread of an aperture or the device
//   early-thread                a port read in a thread started before iopl(3)
// Signals:
//   alarm        port reads in main and in a SIGALRM handler that interrupts them
//   default      SIGSEGV reset to its default, then a port read
//   raise        raise(SIGSEGV)
// The library the program needs (TrapEarlyLibrary.cpp) takes its own routes first.
#include <fcntl.h>
#include <pthread.h>
#include <signal.h>
#include <sys/io.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/sysmacros.h>
#include <sys/time.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstring>

#include "FrontEndNumbers.h"

extern "C" int __open_2(const char* path, int flags);

namespace {

constexpr std::size_t kPage = 4096;
constexpr std::uint16_t kPortB = 0x61;  // system control port B, which the machine has
constexpr int kAlarmReads = 3000;

int ErrnoOf(long result) { return result < 0 ? errno : 0; }

volatile std::uint32_t* Map(int descriptor) {
  void* mapped = mmap64(nullptr, kPage, PROT_READ | PROT_WRITE, MAP_SHARED, descriptor,
                        static_cast<off64_t>(emu::kFirstAperture));
  return mapped == MAP_FAILED ? nullptr : static_cast<volatile std::uint32_t*>(mapped);
}

int ReadAsFile(int descriptor) {
  std::uint32_t word = 0;
  std::printf("%zd\n", read(descriptor, &word, sizeof word));
  return 0;
}

void* ReadPort(void*) {
  std::printf("0x%x\n", inb(kPortB));
  return nullptr;
}

int InThread() {
  pthread_t thread;
  pthread_create(&thread, nullptr, ReadPort, nullptr);
  return pthread_join(thread, nullptr);
}

volatile int s_alarmReads = 0;

void OnAlarm(int) {
  inb(kPortB);
  s_alarmReads = s_alarmReads + 1;
}

int Alarms() {
  signal(SIGALRM, OnAlarm);
  const itimerval often{{0, 100}, {0, 100}};
  setitimer(ITIMER_REAL, &often, nullptr);
  iopl(3);
  for (int i = 0; i < kAlarmReads; ++i) {
    inb(kPortB);
  }
  const itimerval off{};
  setitimer(ITIMER_REAL, &off, nullptr);
  std::printf("%s\n", s_alarmReads > 0 ? "alarms read ports" : "no alarm came");
  return 0;
}

int Device() {
  const int descriptor = open("/dev/mem", O_RDONLY);
  struct stat status {};
  fstat(descriptor, &status);
  std::printf("%u:%u %d %d ", major(status.st_rdev), minor(status.st_rdev),
              fcntl(descriptor, F_GETFL) & O_ACCMODE, ErrnoOf(write(descriptor, "", 1)));
  close(descriptor);
  const int writable = open("/dev/mem", O_RDWR);
  volatile std::uint32_t* aperture = Map(dup(writable));
  std::printf("%s\n", aperture != nullptr && *aperture != 0 ? "register read" : "no register");
  return 0;
}

int Ends(const char* what) {
  const auto is = [what](const char* name) { return std::strcmp(what, name) == 0; };
  const int descriptor = open("/dev/mem", O_RDWR);
  volatile std::uint32_t* aperture = Map(descriptor);
  if (aperture == nullptr) {
    return 1;
  }
  void* start = const_cast<std::uint32_t*>(aperture);
  std::uint32_t word = 0;
  if (is("read-only")) {
    std::printf("%d\n", mprotect(start, kPage, PROT_READ | PROT_WRITE));
    mprotect(start, kPage, PROT_READ);
    *aperture = 1;
  } else if (is("remap")) {
    mremap(start, kPage, 2 * kPage, MREMAP_MAYMOVE);
  } else if (is("pread")) {
    std::printf("%zd\n", pread(descriptor, &word, sizeof word, 0));
  } else if (is("early-thread")) {
    pthread_t thread;
    pthread_create(&thread, nullptr, ReadPort, nullptr);
    iopl(3);
    pthread_join(thread, nullptr);
  }
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    return 1;
  }
  const char* what = argv[1];
  const auto is = [what](const char* name) { return std::strcmp(what, name) == 0; };
  if (is("ioperm")) {
    return ErrnoOf(ioperm(kPortB, 1, 1));
  }
  if (is("syscall-iopl")) {
    return ErrnoOf(syscall(SYS_iopl, 3));
  }
  if (is("slashes")) {
    return ReadAsFile(open("//dev/mem", O_RDWR));
  }
  if (is("dot")) {
    return ReadAsFile(open("/dev/./mem", O_RDWR));
  }
  if (is("openat")) {
    return ReadAsFile(openat(AT_FDCWD, "/dev/mem", O_RDWR));
  }
  if (is("fortified")) {
    return ReadAsFile(__open_2("/dev/mem", O_RDWR));
  }
  if (is("stream")) {
    std::printf("%d\n", fopen("/dev/mem", "r") != nullptr);
    return 0;
  }
  if (is("device")) {
    return Device();
  }
  if (is("privilege")) {
    std::printf("%d %d %d\n", ErrnoOf(iopl(0)), ErrnoOf(iopl(3)), ErrnoOf(open("/dev/mem", O_RDWR)));
    return 0;
  }
  if (is("threads")) {
    iopl(3);
    return InThread();
  }
  if (is("alarm")) {
    return Alarms();
  }
  if (is("default")) {
    signal(SIGSEGV, SIG_DFL);
    iopl(3);
    return inb(kPortB);
  }
  if (is("raise")) {
    return raise(SIGSEGV);
  }
  return Ends(what);
}
