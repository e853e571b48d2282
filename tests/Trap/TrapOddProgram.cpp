// Does one thing that the trap harness must refuse to emulate, named by its argument:
//   port     a port instruction to a port the machine does not have
//   form     an exchange with a card register, an instruction no platform access compiles to
//   outside  a register read after the aperture was unmapped
//   offset   a mapping whose physical address went through a signed 32-bit integer
// Under the harness each ends the run with a message; it never returns normally.
#include <fcntl.h>
#include <sys/io.h>
#include <sys/mman.h>
#include <unistd.h>

#include <cstdint>
#include <cstring>

#include "FrontEndNumbers.h"

namespace {

using emu::kFirstAperture;

constexpr std::size_t kPage = 4096;
constexpr std::uint16_t kUnmodelledPort = 0x80;

volatile std::uint32_t* MapAperture() {
  const int descriptor = open("/dev/mem", O_RDWR);
  // The 64-bit offset keeps the address above 2 GiB intact in a 32-bit build.
  void* mapped = mmap64(nullptr, kPage, PROT_READ | PROT_WRITE, MAP_SHARED, descriptor,
                        static_cast<off64_t>(kFirstAperture));
  return mapped == MAP_FAILED ? nullptr : static_cast<volatile std::uint32_t*>(mapped);
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    return 2;
  }
  if (std::strcmp(argv[1], "port") == 0 && iopl(3) == 0) {
    outb(0, kUnmodelledPort);
  }
  if (std::strcmp(argv[1], "offset") == 0) {
    const auto widened = static_cast<off64_t>(static_cast<std::int32_t>(kFirstAperture));
    mmap64(nullptr, kPage, PROT_READ | PROT_WRITE, MAP_SHARED, open("/dev/mem", O_RDWR), widened);
  }
  volatile std::uint32_t* aperture = MapAperture();
  if (aperture == nullptr) {
    return 2;
  }
  std::uint32_t value = 1;
  if (std::strcmp(argv[1], "form") == 0) {
    __asm__ __volatile__("xchg %0, %1" : "+r"(value), "+m"(*aperture));
  }
  if (std::strcmp(argv[1], "outside") == 0) {
    munmap(const_cast<std::uint32_t*>(aperture), kPage);
    value = *aperture;
  }
  return static_cast<int>(value);
}
