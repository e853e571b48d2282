// The machine's physical memory as the utility reaches it: the memory device's descriptors,
// the mappings of physical ranges into the process, and the routes from physical addresses
// to the functions whose memory decoding and base address registers claim them. The last
// access's stretch is kept at hand, and forgotten whenever a mapping or a route changes.
#pragma once

#include <cstddef>
#include <cstdint>
#include <set>
#include <vector>

#include "PciFunction.h"
#include "PortBus.h"

namespace emu {

// The function and the place in one of its ranges that a device access reaches.
struct DeviceTarget {
  PciFunction* function = nullptr;
  std::uint32_t bar = 0;
  std::uint32_t offset = 0;
};

// Where a device access lands: outside every mapping, or at a physical address that a
// function may answer.
struct Landing {
  bool mapped = false;
  std::uint32_t physical = 0;
  DeviceTarget target;
};

class PhysicalMemory final : public ConfigListener {
 public:
  static constexpr std::uint64_t kPageSize = 4096;

  // `functions` must outlive the memory; it listens to their configuration.
  explicit PhysicalMemory(const PciFunctions& functions) : m_functions(functions) {}

  // A new descriptor of the memory device.
  int Open();
  bool IsOpen(int descriptor) const { return m_descriptors.count(descriptor) != 0; }
  // The process address of a new mapping of `length` bytes (rounded up to pages) at
  // `physical`.
  std::uintptr_t Map(std::size_t length, std::uint32_t physical);
  // False when no mapping starts at `start` with that length.
  bool Unmap(std::uintptr_t start, std::size_t length);

  // Where a device access at `address` lands: through the stretch of the last access when
  // it holds the access, otherwise by searching the mappings and the routes.
  Landing LandingOf(std::uintptr_t address, std::uint32_t width) {
    return m_window.Holds(address, width) ? m_window.LandingOf(address) : Search(address, width);
  }

  // Memory decoding or a base address register changed: the routes follow.
  void OnConfigChanged() override { Reroute(); }
  void Reroute();

 private:
  struct Mapping {
    std::uintptr_t start;
    std::uint64_t length;
    std::uint32_t physical;

    std::uint32_t PhysicalOf(std::uintptr_t address) const {
      return static_cast<std::uint32_t>(physical + (address - start));
    }
  };

  // A range of physical addresses that one function decodes, as its configuration last set it.
  struct Route {
    std::uint64_t base;
    std::uint32_t size;
    PciFunction* function;
    std::uint32_t bar;
    // No earlier range shares an address with it: an access inside it goes to it, whatever
    // the order of the search.
    bool alone;

    std::uint64_t End() const { return base + size; }
    bool Holds(std::uint32_t physical, std::uint32_t width) const {
      return physical >= base && physical - base + width <= size;
    }
    DeviceTarget At(std::uint64_t physical) const {
      return {function, bar, static_cast<std::uint32_t>(physical - base)};
    }
  };

  // The stretch of one mapping that one route covers: an access inside it lands where the
  // searches of the mappings and the routes would take it. Empty when its length is 0.
  struct Window {
    std::uintptr_t start = 0;
    std::uint64_t length = 0;
    std::uint32_t physical = 0;  // at start
    DeviceTarget target;         // at start

    bool Holds(std::uintptr_t address, std::uint32_t width) const {
      return address >= start && address - start + width <= length;
    }
    Landing LandingOf(std::uintptr_t address) const {
      const auto delta = static_cast<std::uint32_t>(address - start);
      return {true, physical + delta, {target.function, target.bar, target.offset + delta}};
    }
  };

  // After the search the window moves to where the access went.
  Landing Search(std::uintptr_t address, std::uint32_t width);
  const Mapping* MappingOf(std::uintptr_t address, std::uint32_t width) const;
  static Window WindowOf(const Mapping& mapping, const Route& route);
  // The one way the kept stretch goes: every change of a mapping or a route passes here.
  void Forget() { m_window = {}; }

  const PciFunctions& m_functions;
  std::set<int> m_descriptors;
  int m_nextDescriptor = 3;
  std::vector<Mapping> m_mappings;
  // Where the process side of the mappings goes. Nothing dereferences these addresses:
  // device accesses come back through the machine.
  std::uintptr_t m_nextMappingAddress = 0x40000000u;
  // What memory decoding and the base address registers of the functions select, in the
  // order the functions answer.
  std::vector<Route> m_routes;
  Window m_window;
};

}  // namespace emu
