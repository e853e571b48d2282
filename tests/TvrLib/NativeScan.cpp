// Runs the board scan on the machine the program runs on and lists what it finds.
#include <array>
#include <cstdio>

#include "UxGen.h"

int main() {
  std::array<PCIHANDLE, UX_PCI_LIST_SIZE> list{};
  UINT32 count = 0;
  SetPCIHANDLE(list.data(), &count);
  std::printf("Supported cards found: %u\n", static_cast<unsigned>(count));
  for (UINT32 i = 0; i < count; ++i) {
    std::printf("  bus %u, device %u\n", static_cast<unsigned>(list[i] >> 8),
                static_cast<unsigned>((list[i] >> 3) & 0x1F));
  }
  return 0;
}
