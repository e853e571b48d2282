// Does one thing that the trap harness must refuse to emulate, or must answer as a kernel
// would, named by its argument:
//   port       a port instruction to a port the machine does not have
//   form       an exchange with a card register, an instruction no platform access compiles to
//   outside    a register read after the aperture was unmapped
//   offset     a mapping whose physical address went through a signed 32-bit integer
//   child      starts another program
//   partial    a register read in the second page of an aperture after that page was unmapped
//   levels     iopl(5) and iopl(-1): prints each errno
//   read-only  a read-only memory device mapped for writing: prints the errno
//   open       opens the memory device: prints the errno, 0 when it opened
// Under the harness the first six end the run with a message; they never return normally.
#include <fcntl.h>
#include <sys/io.h>
#include <sys/mman.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "FrontEndNumbers.h"

namespace {

using emu::kFirstAperture;

constexpr std::size_t kPage = 4096;
constexpr std::uint16_t kUnmodelledPort = 0x80;
constexpr int kOutsideLevel = 5;

volatile std::uint32_t* MapAperture(int flags, std::size_t length) {
  const int descriptor = open("/dev/mem", flags);
  // The 64-bit offset keeps the address above 2 GiB intact in a 32-bit build.
  void* mapped = mmap64(nullptr, length, PROT_READ | PROT_WRITE, MAP_SHARED, descriptor,
                        static_cast<off64_t>(kFirstAperture));
  return mapped == MAP_FAILED ? nullptr : static_cast<volatile std::uint32_t*>(mapped);
}

int PrintErrno(int result) {
  std::printf("%d\n", result < 0 ? errno : 0);
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    return 2;
  }
  const char* what = argv[1];
  const auto is = [what](const char* name) { return std::strcmp(what, name) == 0; };
  if (is("levels")) {
    std::printf("%d ", iopl(kOutsideLevel) < 0 ? errno : 0);
    return PrintErrno(iopl(-1));
  }
  if (is("read-only")) {
    return PrintErrno(MapAperture(O_RDONLY, kPage) == nullptr ? -1 : 0);
  }
  if (is("open")) {
    return PrintErrno(open("/dev/mem", O_RDWR));
  }
  if (is("child")) {
    return std::system("true");
  }
  if (is("port") && iopl(3) == 0) {
    outb(0, kUnmodelledPort);
  }
  if (is("offset")) {
    const auto widened = static_cast<off64_t>(static_cast<std::int32_t>(kFirstAperture));
    mmap64(nullptr, kPage, PROT_READ | PROT_WRITE, MAP_SHARED, open("/dev/mem", O_RDWR), widened);
  }
  volatile std::uint32_t* aperture = MapAperture(O_RDWR, 2 * kPage);
  if (aperture == nullptr) {
    return 2;
  }
  std::uint32_t value = 1;
  if (is("form")) {
    __asm__ __volatile__("xchg %0, %1" : "+r"(value), "+m"(*aperture));
  }
  if (is("outside")) {
    munmap(const_cast<std::uint32_t*>(aperture), 2 * kPage);
    value = *aperture;
  }
  if (is("partial")) {
    volatile std::uint32_t* second = aperture + kPage / sizeof(std::uint32_t);
    munmap(const_cast<std::uint32_t*>(second), kPage);
    value = *aperture + *second;
  }
  return static_cast<int>(value);
}
