// Takes one route to this computer's ports or memory device, or asks the harness what a
// kernel answers, named by its argument; prints what it got when the route returns.
// Routes around the interposed calls, each of which must end the run with a line:
//   ioperm, syscall-iopl             port I/O asked of the kernel directly
//   slashes, dot, openat, fortified  the memory device under another spelling or call,
//                                    then read as a file
//   stream                           the memory device opened as a stream
//   child                            starts another program
// Answers (the run goes on):
//   device      fstat's device numbers and F_GETFL's access mode of a read-only opening,
//               the errno of a write to it and of mapping it for writing, and a register
//               read through a duplicate
//   privilege   the errno of iopl(0) and iopl(3), and of opening the memory device
//   levels      the errno of iopl(5) and iopl(-1)
//   threads     a port read in a thread started after iopl(3)
// What the harness does not emulate, or refuses, ending the run with a line:
//   read-only, remap, pread     mprotect to read-only, mremap, pread of an aperture or the device
//   early-thread                a port read in a thread started before iopl(3)
//   port        a port instruction to a port the machine does not have
//   form        an exchange with a card register, an instruction no platform access compiles to
//   outside     a register read after the aperture was unmapped
//   partial     a register read in the second page of an aperture after that page was unmapped
//   offset      a mapping whose physical address went through a signed 32-bit integer
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
#include <cstdlib>
#include <cstring>

#include "FrontEndNumbers.h"

extern "C" int __open_2(const char* path, int flags);

namespace {

constexpr std::size_t kPage = 4096;
constexpr std::uint16_t kPortB = 0x61;  // system control port B, which the machine has
constexpr std::uint16_t kUnmodelledPort = 0x80;
constexpr int kOutsideLevel = 5;
constexpr int kAlarmReads = 3000;

int ErrnoOf(long result) { return result < 0 ? errno : 0; }

// The 64-bit offset keeps the address above 2 GiB intact in a 32-bit build.
volatile std::uint32_t* Map(int descriptor, std::size_t length = kPage) {
  void* mapped = mmap64(nullptr, length, PROT_READ | PROT_WRITE, MAP_SHARED, descriptor,
                        static_cast<off64_t>(emu::kFirstAperture));
  return mapped == MAP_FAILED ? nullptr : static_cast<volatile std::uint32_t*>(mapped);
}

volatile std::uint32_t* Aperture(std::size_t length = kPage) {
  return Map(open("/dev/mem", O_RDWR), length);
}

void* AsPointer(volatile std::uint32_t* aperture) { return const_cast<std::uint32_t*>(aperture); }

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
  std::printf("%u:%u %d %d %d ", major(status.st_rdev), minor(status.st_rdev),
              fcntl(descriptor, F_GETFL) & O_ACCMODE, ErrnoOf(write(descriptor, "", 1)),
              Map(descriptor) == nullptr ? errno : 0);
  close(descriptor);
  const int writable = open("/dev/mem", O_RDWR);
  volatile std::uint32_t* aperture = Map(dup(writable));
  std::printf("%s\n", aperture != nullptr && *aperture != 0 ? "register read" : "no register");
  return 0;
}

int ReadOnly() {
  volatile std::uint32_t* aperture = Aperture();
  std::printf("%d\n", mprotect(AsPointer(aperture), kPage, PROT_READ | PROT_WRITE));
  mprotect(AsPointer(aperture), kPage, PROT_READ);
  *aperture = 1;
  return 0;
}

int Pread() {
  const int descriptor = open("/dev/mem", O_RDWR);
  Map(descriptor);
  std::uint32_t word = 0;
  std::printf("%zd\n", pread(descriptor, &word, sizeof word, 0));
  return 0;
}

int EarlyThread() {
  pthread_t thread;
  pthread_create(&thread, nullptr, ReadPort, nullptr);
  iopl(3);
  return pthread_join(thread, nullptr);
}

int Form() {
  volatile std::uint32_t* aperture = Aperture();
  std::uint32_t value = 1;
  __asm__ __volatile__("xchg %0, %1" : "+r"(value), "+m"(*aperture));
  return static_cast<int>(value);
}

int Partial() {
  volatile std::uint32_t* aperture = Aperture(2 * kPage);
  volatile std::uint32_t* second = aperture + kPage / sizeof(std::uint32_t);
  munmap(AsPointer(second), kPage);
  return static_cast<int>(*aperture + *second);
}

struct Route {
  const char* name;
  int (*take)();
};

const Route kRoutes[] = {
    {"ioperm", [] { return ErrnoOf(ioperm(kPortB, 1, 1)); }},
    {"syscall-iopl", [] { return ErrnoOf(syscall(SYS_iopl, 3)); }},
    {"slashes", [] { return ReadAsFile(open("//dev/mem", O_RDWR)); }},
    {"dot", [] { return ReadAsFile(open("/dev/./mem", O_RDWR)); }},
    {"openat", [] { return ReadAsFile(openat(AT_FDCWD, "/dev/mem", O_RDWR)); }},
    {"fortified", [] { return ReadAsFile(__open_2("/dev/mem", O_RDWR)); }},
    {"stream", []() -> int { return std::printf("%d\n", fopen("/dev/mem", "r") != nullptr) < 0; }},
    {"child", [] { return std::system("true"); }},
    {"device", Device},
    {"privilege",
     []() -> int {
       return std::printf("%d %d %d\n", ErrnoOf(iopl(0)), ErrnoOf(iopl(3)),
                          ErrnoOf(open("/dev/mem", O_RDWR))) < 0;
     }},
    {"levels",
     []() -> int {
       return std::printf("%d %d\n", ErrnoOf(iopl(kOutsideLevel)), ErrnoOf(iopl(-1))) < 0;
     }},
    {"threads",
     [] {
       iopl(3);
       return InThread();
     }},
    {"read-only", ReadOnly},
    {"remap",
     []() -> int {
       return mremap(AsPointer(Aperture()), kPage, 2 * kPage, MREMAP_MAYMOVE) == MAP_FAILED;
     }},
    {"pread", Pread},
    {"early-thread", EarlyThread},
    {"port",
     [] {
       iopl(3);
       outb(0, kUnmodelledPort);
       return 0;
     }},
    {"form", Form},
    {"outside",
     [] {
       volatile std::uint32_t* aperture = Aperture();
       munmap(AsPointer(aperture), kPage);
       return static_cast<int>(*aperture);
     }},
    {"partial", Partial},
    {"offset",
     []() -> int {
       const auto widened = static_cast<off64_t>(static_cast<std::int32_t>(emu::kFirstAperture));
       return mmap64(nullptr, kPage, PROT_READ | PROT_WRITE, MAP_SHARED, open("/dev/mem", O_RDWR),
                     widened) == MAP_FAILED;
     }},
    {"alarm", Alarms},
    {"default",
     [] {
       signal(SIGSEGV, SIG_DFL);
       iopl(3);
       return static_cast<int>(inb(kPortB));
     }},
    {"raise", [] { return raise(SIGSEGV); }},
};

}  // namespace

int main(int argc, char** argv) {
  for (const Route& route : kRoutes) {
    if (argc == 2 && std::strcmp(argv[1], route.name) == 0) {
      return route.take();
    }
  }
  return 1;
}
