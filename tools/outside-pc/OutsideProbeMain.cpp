// The hardware library on the PC it runs on, as root: each function of bus 0 the kernel
// lists is read through the library and compared with the kernel's own copy of its
// configuration space; then the delay, port 0x61 and channel 2 of the interval timer.
// Exit status 0 when every check holds, 1 when one fails, 2 when the kernel's copies
// cannot be read.
//
// Usage: tvr-outside-probe
#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

#include "OutsideProbe.h"

namespace {

namespace fs = std::filesystem;

constexpr const char* kPciDevices = "/sys/bus/pci/devices";
// Domain 0, bus 0: "0000:00:01.3".
constexpr const char* kBus0Prefix = "0000:00:";

bool ReadKernelCopy(const fs::path& device, probe::ConfigSpace& bytes) {
  std::ifstream in(device / "config", std::ios::binary);
  const std::string content{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
  // Without root the kernel shows only the first 64 bytes.
  if (content.size() < bytes.size()) {
    return false;
  }
  std::copy_n(content.begin(), bytes.size(), bytes.begin());
  return true;
}

// "0000:00:01.3" as a location.
PCIHANDLE LocationOf(const std::string& name) {
  const unsigned device = std::stoul(name.substr(8, 2), nullptr, 16);
  const unsigned function = std::stoul(name.substr(11, 1), nullptr, 16);
  return MakePciHandle(0, device, function);
}

}  // namespace

int main() {
  probe::References references;
  std::error_code error;
  for (const auto& entry : fs::directory_iterator(kPciDevices, error)) {
    const std::string name = entry.path().filename().string();
    if (name.rfind(kBus0Prefix, 0) != 0) {
      continue;
    }
    probe::ConfigSpace bytes{};
    if (!ReadKernelCopy(entry.path(), bytes)) {
      std::fprintf(stderr, "tvr-outside-probe: %s/%s/config is not 256 bytes (not root?)\n",
                   kPciDevices, name.c_str());
      return 2;
    }
    references[LocationOf(name)] = bytes;
  }
  if (references.empty()) {
    std::fprintf(stderr, "tvr-outside-probe: the kernel lists no function on bus 0 in %s\n",
                 kPciDevices);
    return 2;
  }
  return probe::RunProbe(references, true) == 0 ? 0 : 1;
}
