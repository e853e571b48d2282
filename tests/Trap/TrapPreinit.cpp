// A function in the program's preinit array, which runs before any library's constructor.
#include <sys/io.h>

namespace {

void BeforeEverything() { iopl(3); }

}  // namespace

__attribute__((section(".preinit_array"), used)) void (*const kPreinit)() = BeforeEverything;
