#include "Machine.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <set>
#include <utility>

#include "PciConfig.h"
#include "Timer8254.h"
#include "TvrLib.h"

namespace emu {

namespace {

// Bits 30-24 and 1-0 of the address latch are reserved: the host bridge reads them as 0.
constexpr std::uint32_t kConfigAddressBits = 0x80FFFFFCu;
constexpr std::uint16_t kTimer2DataPort = 0x42;
constexpr std::uint16_t kTimerControlPort = 0x43;
constexpr std::uint16_t kSystemControlPortB = 0x61;

constexpr std::uint8_t kPortBWritableBits = 0x0F;
constexpr std::uint8_t kPortBGate2 = 0x01;
constexpr std::uint8_t kPortBOutput2 = 0x20;

constexpr std::uint64_t kPageSize = 4096;
// Where the machine places the process side of its mappings. Nothing dereferences these
// addresses: device accesses come back through DeviceRead and DeviceWrite.
constexpr std::uintptr_t kFirstMappingAddress = 0x40000000u;
constexpr int kFirstDescriptor = 3;

constexpr std::uint64_t RoundUpToPage(std::uint64_t length) {
  return (length + kPageSize - 1) & ~(kPageSize - 1);
}

struct Mapping {
  std::uintptr_t start;
  std::uint64_t length;
  std::uint32_t physical;

  std::uint32_t PhysicalOf(std::uintptr_t address) const {
    return static_cast<std::uint32_t>(physical + (address - start));
  }
};

// The function and the place in one of its ranges that a device access reaches.
struct DeviceTarget {
  PciFunction* function = nullptr;
  std::uint32_t bar = 0;
  std::uint32_t offset = 0;
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

// Where a device access lands: outside every mapping, or at a physical address that a
// function may answer.
struct Landing {
  bool mapped = false;
  std::uint32_t physical = 0;
  DeviceTarget target;
};

// The stretch of one mapping that one range covers: an access inside it lands where the
// searches of the mappings and the ranges would take it. Empty when its length is 0.
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

}  // namespace


namespace {

// A per-address count kept at hand: a driver works one register over and over, so most
// accesses count where the last one did without searching the map.
class AddressCount {
 public:
  void Add(std::map<std::uint32_t, std::uint64_t>& counts, std::uint32_t address) {
    if (m_count == nullptr || m_address != address) {
      m_address = address;
      m_count = &counts[address];
    }
    ++*m_count;
  }

 private:
  std::uint32_t m_address = 0;
  std::uint64_t* m_count = nullptr;
};

}  // namespace

struct Machine::Impl final : ConfigListener {
  // By location, laid out as the utility's PCI handle.
  std::map<std::uint32_t, std::unique_ptr<PciFunction>> functions;
  // What memory decoding and the base address registers of the functions select, in the
  // order the functions answer.
  std::vector<Route> routes;
  // Where the last device access went; forgotten whenever a mapping or a range goes.
  Window window;
  std::uint32_t configAddress = 0;
  IntervalTimer2 timer;
  std::uint8_t portB = 0;
  bool privilegeHeld = false;
  std::set<int> descriptors;
  int nextDescriptor = kFirstDescriptor;
  std::vector<Mapping> mappings;
  std::uintptr_t nextMappingAddress = kFirstMappingAddress;
  AddressCount portReadsAt;
  AddressCount portWritesAt;
  AddressCount deviceReadsAt;
  AddressCount deviceWritesAt;

  void OnConfigChanged() override { Reroute(); }

  void Reroute() {
    routes.clear();
    for (const auto& [key, function] : functions) {
      if (!function->MemoryDecodingOn()) {
        continue;
      }
      for (const MemoryBar& bar : function->MemoryBars()) {
        const std::uint64_t base =
            function->Config32(bar.configOffset) & ~kPciBarFlagBits & ~(bar.size - 1);
        const bool alone = std::none_of(routes.begin(), routes.end(), [&](const Route& earlier) {
          return earlier.base < base + bar.size && base < earlier.End();
        });
        routes.push_back({base, bar.size, function.get(), bar.configOffset, alone});
      }
    }
    window = {};
  }

  PciFunction* SelectedFunction() const {
    if ((configAddress & kConfigEnable) == 0) {
      return nullptr;
    }
    const auto found = functions.find((configAddress >> 8) & 0xFFFF);
    return found == functions.end() ? nullptr : found->second.get();
  }

  // The selected function and the configuration offset a data-port access reaches, or
  // no function when the access does not fit the data window.
  std::pair<PciFunction*, std::uint32_t> ConfigTarget(std::uint16_t port,
                                                      std::uint32_t width) const {
    const std::uint32_t lane = port - kConfigDataPort;
    if (lane + width > 4) {
      return {nullptr, 0};
    }
    return {SelectedFunction(), (configAddress & 0xFC) + lane};
  }

  const Mapping* MappingOf(std::uintptr_t address, std::uint32_t width) const {
    for (const Mapping& m : mappings) {
      if (address >= m.start && address - m.start + width <= m.length) {
        return &m;
      }
    }
    return nullptr;
  }

  // Where a device access at `address` lands: through the window of the last access when
  // it holds the access, otherwise by searching the mappings and the ranges.
  Landing LandingOf(std::uintptr_t address, std::uint32_t width) {
    return window.Holds(address, width) ? window.LandingOf(address) : Search(address, width);
  }

  // After the search the window moves to where the access went.
  Landing Search(std::uintptr_t address, std::uint32_t width);

  // The addresses of `mapping` whose physical addresses `route` covers; none for the part
  // of a mapping that runs past 4 GiB and wraps.
  static Window WindowOf(const Mapping& mapping, const Route& route) {
    const std::uint64_t low = std::max<std::uint64_t>(mapping.physical, route.base);
    const std::uint64_t high = std::min(mapping.physical + mapping.length, route.End());
    if (high <= low) {
      return {};
    }
    return {static_cast<std::uintptr_t>(mapping.start + (low - mapping.physical)), high - low,
            static_cast<std::uint32_t>(low), route.At(low)};
  }
};

// The search stays out of line, so that the window's path is all that every access carries.
Landing Machine::Impl::Search(std::uintptr_t address, std::uint32_t width) {
  const Mapping* mapping = MappingOf(address, width);
  if (mapping == nullptr) {
    return {};
  }
  const std::uint32_t physical = mapping->PhysicalOf(address);
  for (const Route& route : routes) {
    if (route.Holds(physical, width)) {
      if (route.alone) {
        window = WindowOf(*mapping, route);
      }
      return {true, physical, route.At(physical)};
    }
  }
  return {true, physical, {}};
}

Machine::Machine(AccessCosts costs) : m_impl(std::make_unique<Impl>()), m_costs(costs) {
  m_localTime.tm_year = 100;  // 1 January 2000, 00:00, until a test sets another
  m_localTime.tm_mday = 1;
}

Machine::~Machine() = default;

PciFunction& Machine::Attach(std::uint32_t bus, std::uint32_t device, std::uint32_t function,
                             std::unique_ptr<PciFunction> pci) {
  auto& slot = m_impl->functions[MakePciHandle(bus, device, function)];
  slot = std::move(pci);
  slot->SetConfigListener(m_impl.get());
  m_impl->Reroute();
  return *slot;
}

void Machine::ResetStats() {
  m_counters = Counters{};
  m_impl->portReadsAt = {};
  m_impl->portWritesAt = {};
  m_impl->deviceReadsAt = {};
  m_impl->deviceWritesAt = {};
}

void Machine::EnableTrace(bool on) { m_tracing = on; }

bool Machine::ModelsPort(std::uint16_t port) {
  return port == kConfigAddressPort || (port >= kConfigDataPort && port <= kConfigDataPort + 3) ||
         port == kTimer2DataPort || port == kTimerControlPort || port == kSystemControlPortB;
}

// A refusal gives the reason a kernel under lockdown gives.
bool Machine::RequestIoPrivilege() {
  ++m_privilegeRequests;
  if (Refusal(Request::IoPrivilege) == 0) {
    m_impl->privilegeHeld = true;
  }
  KeepRefusal(TvrRequest::IoPrivilege, m_impl->privilegeHeld ? 0 : Refusal(Request::IoPrivilege));
  return m_impl->privilegeHeld;
}

void Machine::AppendTrace(Access kind, std::uint32_t address, std::uint32_t width,
                          std::uint32_t value) {
  m_trace.push_back({kind, address, width, value, m_clock.Now()});
}

namespace {

// "port read of 1 byte at 0x61", "device write of 4 bytes at 0x40002304".
std::string AccessText(const char* access, std::uint64_t where, std::uint32_t width) {
  char text[96];
  std::snprintf(text, sizeof(text), "%s of %u byte%s at 0x%llX", access, width, width == 1 ? "" : "s",
                static_cast<unsigned long long>(where));
  return text;
}

[[noreturn]] void ThrowOutsideMappings(const char* access, std::uintptr_t address, std::uint32_t width) {
  throw FatalAccess(AccessText(access, address, width) + " outside every mapping");
}

}  // namespace

void Machine::RequirePortPrivilege(const char* access, std::uint16_t port, std::uint32_t width) const {
  if (!m_impl->privilegeHeld) {
    throw FatalAccess(AccessText(access, port, width) + " without I/O privilege");
  }
}

UINT32 Machine::PortRead(UINT16 port, UINT32 width) {
  RequirePortPrivilege("port read", port, width);
  const std::uint32_t value = PortValue(port, width) & WidthMask(width);
  ++m_counters.portReads;
  m_impl->portReadsAt.Add(m_counters.portReadsAt, port);
  Record(Access::PortRead, port, width, value, m_costs.portNs);
  return value;
}

void Machine::PortWrite(UINT16 port, UINT32 width, UINT32 value) {
  RequirePortPrivilege("port write", port, width);
  value &= WidthMask(width);
  StorePortValue(port, width, value);
  ++m_counters.portWrites;
  m_impl->portWritesAt.Add(m_counters.portWritesAt, port);
  Record(Access::PortWrite, port, width, value, m_costs.portNs);
}

std::uint32_t Machine::PortValue(std::uint16_t port, std::uint32_t width) {
  Impl& m = *m_impl;
  if (port == kConfigAddressPort && width == 4) {
    return m.configAddress;
  }
  if (port >= kConfigDataPort && port <= kConfigDataPort + 3) {
    const auto [function, offset] = m.ConfigTarget(port, width);
    return function != nullptr ? function->ConfigRead(offset, width) : kAllOnes;
  }
  if (port == kTimer2DataPort && width == 1) {
    return m.timer.ReadData(m_clock.Now());
  }
  if (port == kSystemControlPortB && width == 1) {
    const bool output = m.timer.Output(m_clock.Now());
    return (m.portB & kPortBWritableBits) | (output ? kPortBOutput2 : 0);
  }
  return kAllOnes;
}

void Machine::StorePortValue(std::uint16_t port, std::uint32_t width, std::uint32_t value) {
  Impl& m = *m_impl;
  if (port == kConfigAddressPort && width == 4) {
    m.configAddress = value & kConfigAddressBits;
  } else if (port >= kConfigDataPort && port <= kConfigDataPort + 3) {
    const auto [function, offset] = m.ConfigTarget(port, width);
    if (function != nullptr) {
      function->ConfigWrite(offset, width, value);
    }
  } else if (width != 1) {
    return;
  } else if (port == kTimerControlPort) {
    m.timer.WriteControl(static_cast<std::uint8_t>(value), m_clock.Now());
  } else if (port == kTimer2DataPort) {
    m.timer.WriteData(static_cast<std::uint8_t>(value), m_clock.Now());
  } else if (port == kSystemControlPortB) {
    m.portB = static_cast<std::uint8_t>(value & kPortBWritableBits);
    m.timer.SetGate((value & kPortBGate2) != 0, m_clock.Now());
  }
}

int Machine::OpenPhysicalMemory() {
  KeepRefusal(TvrRequest::PhysicalMemory, Refusal(Request::PhysicalMemory));
  if (Refusal(Request::PhysicalMemory) != 0) {
    return -1;
  }
  const int descriptor = m_impl->nextDescriptor++;
  m_impl->descriptors.insert(descriptor);
  return descriptor;
}

void* Machine::Map(std::size_t length, int descriptor, UINT32 physical) {
  Impl& m = *m_impl;
  const bool refused = length == 0 || physical % kPageSize != 0 || m.descriptors.count(descriptor) == 0;
  KeepRefusal(TvrRequest::Mapping, refused ? EINVAL : Refusal(Request::Mapping));
  if (RefusalReason() != 0) {
    return nullptr;
  }
  const std::uint64_t pages = RoundUpToPage(length);
  const std::uintptr_t start = m.nextMappingAddress;
  // A free page between mappings, so that an access running off one end faults.
  m.nextMappingAddress += static_cast<std::uintptr_t>(pages + kPageSize);
  m.mappings.push_back({start, pages, physical});
  return reinterpret_cast<void*>(start);
}

void Machine::Unmap(void* address, std::size_t length) {
  auto& mappings = m_impl->mappings;
  const auto start = reinterpret_cast<std::uintptr_t>(address);
  const auto found = std::find_if(mappings.begin(), mappings.end(), [&](const Mapping& m) {
    return m.start == start && m.length == RoundUpToPage(length);
  });
  if (found == mappings.end()) {
    ++m_counters.badUnmaps;
    return;
  }
  mappings.erase(found);
  m_impl->window = {};
}

UINT32 Machine::DeviceRead(std::uintptr_t address, UINT32 width) {
  const Landing landing = m_impl->LandingOf(address, width);
  if (!landing.mapped) ThrowOutsideMappings("device read", address, width);
  const std::uint32_t physical = landing.physical;
  const DeviceTarget& target = landing.target;
  const std::uint32_t value =
      (target.function != nullptr ? target.function->DeviceRead(target.bar, target.offset, width)
                                  : kAllOnes) &
      WidthMask(width);
  ++m_counters.deviceReads;
  m_impl->deviceReadsAt.Add(m_counters.deviceReadsAt, physical);
  Record(Access::DeviceRead, physical, width, value, m_costs.deviceReadNs);
  return value;
}

void Machine::DeviceWrite(std::uintptr_t address, UINT32 width, UINT32 value) {
  const Landing landing = m_impl->LandingOf(address, width);
  if (!landing.mapped) ThrowOutsideMappings("device write", address, width);
  const std::uint32_t physical = landing.physical;
  value &= WidthMask(width);
  const DeviceTarget& target = landing.target;
  if (target.function != nullptr) {
    target.function->DeviceWrite(target.bar, target.offset, width, value);
  }
  ++m_counters.deviceWrites;
  m_impl->deviceWritesAt.Add(m_counters.deviceWritesAt, physical);
  Record(Access::DeviceWrite, physical, width, value, m_costs.deviceWriteNs);
}

bool Machine::LocalTime(std::tm& out) {
  out = m_localTime;
  return true;
}

}  // namespace emu
