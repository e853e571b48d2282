// Shared by the tests that drive the real code on the emulated machine: a fixture that
// installs a traced machine, and a compact form of the access trace to compare against.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <ostream>
#include <vector>

#include "Machine.h"

namespace emutest {

struct Op {
  emu::Access kind;
  std::uint32_t address;
  std::uint32_t width;
  std::uint32_t value;

  bool operator==(const Op& other) const = default;
};

inline void PrintTo(const Op& op, std::ostream* out) {
  static constexpr const char* kNames[] = {"PortRead", "PortWrite", "DeviceRead", "DeviceWrite"};
  *out << kNames[static_cast<int>(op.kind)] << "(0x" << std::hex << op.address << ", w" << std::dec
       << op.width << ", 0x" << std::hex << op.value << ")" << std::dec;
}

inline Op PortRd(std::uint32_t port, std::uint32_t width, std::uint32_t value) {
  return {emu::Access::PortRead, port, width, value};
}
inline Op PortWr(std::uint32_t port, std::uint32_t width, std::uint32_t value) {
  return {emu::Access::PortWrite, port, width, value};
}
inline Op DevRd(std::uint32_t address, std::uint32_t width, std::uint32_t value) {
  return {emu::Access::DeviceRead, address, width, value};
}
inline Op DevWr(std::uint32_t address, std::uint32_t width, std::uint32_t value) {
  return {emu::Access::DeviceWrite, address, width, value};
}

// The trace without times, optionally only the accesses of one kind.
inline std::vector<Op> Ops(const emu::Machine& machine) {
  std::vector<Op> ops;
  for (const emu::TraceEntry& e : machine.Trace()) {
    ops.push_back({e.kind, e.address, e.width, e.value});
  }
  return ops;
}
inline std::vector<Op> Ops(const emu::Machine& machine, emu::Access kind) {
  std::vector<Op> ops = Ops(machine);
  std::erase_if(ops, [kind](const Op& op) { return op.kind != kind; });
  return ops;
}

// A bare function with the given identification words at offsets 0 and 0x2C.
inline emu::PciFunction& AttachFunction(emu::Machine& machine, std::uint32_t bus,
                                        std::uint32_t device, std::uint32_t function,
                                        std::uint32_t id, std::uint32_t subsystem = 0) {
  auto& pci = machine.Emplace<emu::PciFunction>(bus, device, function);
  pci.SetConfig32(0x00, id);
  pci.SetConfig32(0x2C, subsystem);
  return pci;
}

class MachineTest : public ::testing::Test {
 protected:
  MachineTest() { machine.EnableTrace(true); }

  emu::Machine machine;
  emu::ScopedPlatform installed{machine};
};

}  // namespace emutest
