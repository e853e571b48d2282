// The probe of tvr-outside-probe on the emulated machine, built like the PC a report of it
// came from: the same functions at the same places with the same configuration bytes, and
// port 0x61 as that PC had it before the waits. What the two machines answer can then be
// held side by side (tools/outside-pc-check.py does). The emulated timer has no read-back
// command: its answer is shown, not judged.
//
// Usage: tvr-outside-probe-emu REPORT
#include <cstdio>
#include <fstream>
#include <sstream>
#include <string>

#include "Machine.h"
#include "OutsideProbe.h"
#include "PciFunction.h"

namespace {

constexpr UINT16 kPortB = 0x61;
constexpr BYTE kPortBWritableBits = 0x0F;
constexpr const char* kPortBLine = "port 0x61 before the waits 0x%hhx";

struct Report {
  probe::References references;
  BYTE portB = 0;
};

// "reference 00:01.3 HEX" lines, and the port 0x61 line.
bool ReadReport(const char* path, Report& report) {
  std::ifstream in(path);
  std::string line;
  while (std::getline(in, line)) {
    std::istringstream fields(line);
    std::string kind, location, hex;
    fields >> kind >> location >> hex;
    unsigned bus = 0, device = 0, function = 0;
    probe::ConfigSpace bytes{};
    if (kind == "reference") {
      if (std::sscanf(location.c_str(), "%x:%x.%x", &bus, &device, &function) != 3 ||
          !probe::ParseHexText(hex, bytes)) {
        return false;
      }
      report.references[MakePciHandle(bus, device, function)] = bytes;
    }
    std::sscanf(line.c_str(), kPortBLine, &report.portB);
  }
  return !report.references.empty();
}

void Build(emu::Machine& machine, const Report& report) {
  for (const auto& [location, bytes] : report.references) {
    auto& pci =
        machine.Emplace<emu::PciFunction>(location >> 8, location >> 3 & 0x1F, location & 7);
    for (std::uint32_t offset = 0; offset < bytes.size(); ++offset) {
      pci.SetConfig8(offset, bytes[offset]);
    }
  }
  machine.RequestIoPrivilege();
  machine.PortWrite(kPortB, 1, report.portB & kPortBWritableBits);
}

}  // namespace

int main(int argc, char** argv) {
  Report report;
  if (argc != 2 || !ReadReport(argv[1], report)) {
    std::fprintf(stderr, "usage: tvr-outside-probe-emu REPORT (a report of tvr-outside-probe)\n");
    return 2;
  }
  emu::Machine machine;
  Build(machine, report);
  const emu::ScopedPlatform installed(machine);
  return probe::RunProbe(report.references, false) == 0 ? 0 : 1;
}
