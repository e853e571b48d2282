#include "PhysicalMemory.h"

#include <algorithm>

#include "PciConfig.h"

namespace emu {

namespace {

constexpr std::uint64_t RoundUpToPage(std::uint64_t length) {
  return (length + PhysicalMemory::kPageSize - 1) & ~(PhysicalMemory::kPageSize - 1);
}

}  // namespace

int PhysicalMemory::Open() {
  const int descriptor = m_nextDescriptor++;
  m_descriptors.insert(descriptor);
  return descriptor;
}

std::uintptr_t PhysicalMemory::Map(std::size_t length, std::uint32_t physical) {
  const std::uint64_t pages = RoundUpToPage(length);
  const std::uintptr_t start = m_nextMappingAddress;
  // A free page between mappings, so that an access running off one end faults.
  m_nextMappingAddress += static_cast<std::uintptr_t>(pages + kPageSize);
  m_mappings.push_back({start, pages, physical});
  return start;
}

bool PhysicalMemory::Unmap(std::uintptr_t start, std::size_t length) {
  const auto found = std::find_if(m_mappings.begin(), m_mappings.end(), [&](const Mapping& m) {
    return m.start == start && m.length == RoundUpToPage(length);
  });
  if (found == m_mappings.end()) {
    return false;
  }
  m_mappings.erase(found);
  Forget();
  return true;
}

void PhysicalMemory::Reroute() {
  m_routes.clear();
  for (const auto& [key, function] : m_functions) {
    if (!function->MemoryDecodingOn()) {
      continue;
    }
    for (const MemoryBar& bar : function->MemoryBars()) {
      const std::uint64_t base =
          function->Config32(bar.configOffset) & ~kPciBarFlagBits & ~(bar.size - 1);
      const bool alone = std::none_of(m_routes.begin(), m_routes.end(), [&](const Route& earlier) {
        return earlier.base < base + bar.size && base < earlier.End();
      });
      m_routes.push_back({base, bar.size, function.get(), bar.configOffset, alone});
    }
  }
  Forget();
}

const PhysicalMemory::Mapping* PhysicalMemory::MappingOf(std::uintptr_t address,
                                                         std::uint32_t width) const {
  for (const Mapping& m : m_mappings) {
    if (address >= m.start && address - m.start + width <= m.length) {
      return &m;
    }
  }
  return nullptr;
}

// The search stays out of line, so that the window's path is all that every access carries.
Landing PhysicalMemory::Search(std::uintptr_t address, std::uint32_t width) {
  const Mapping* mapping = MappingOf(address, width);
  if (mapping == nullptr) {
    return {};
  }
  const std::uint32_t physical = mapping->PhysicalOf(address);
  for (const Route& route : m_routes) {
    if (route.Holds(physical, width)) {
      if (route.alone) {
        m_window = WindowOf(*mapping, route);
      }
      return {true, physical, route.At(physical)};
    }
  }
  return {true, physical, {}};
}

// The addresses of `mapping` whose physical addresses `route` covers; none for the part of
// a mapping that runs past 4 GiB and wraps.
PhysicalMemory::Window PhysicalMemory::WindowOf(const Mapping& mapping, const Route& route) {
  const std::uint64_t low = std::max<std::uint64_t>(mapping.physical, route.base);
  const std::uint64_t high = std::min(mapping.physical + mapping.length, route.End());
  if (high <= low) {
    return {};
  }
  return {static_cast<std::uintptr_t>(mapping.start + (low - mapping.physical)), high - low,
          static_cast<std::uint32_t>(low), route.At(low)};
}

}  // namespace emu
