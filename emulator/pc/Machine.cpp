#include "Machine.h"

#include <cerrno>
#include <cstdio>
#include <utility>

#include "PhysicalMemory.h"
#include "PortBus.h"
#include "TvrLib.h"

namespace emu {

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

struct Machine::Impl {
  // By location, laid out as the utility's PCI handle.
  PciFunctions functions;
  PortBus ports{functions};
  PhysicalMemory memory{functions};
  bool privilegeHeld = false;
  AddressCount portReadsAt;
  AddressCount portWritesAt;
  AddressCount deviceReadsAt;
  AddressCount deviceWritesAt;
};

Machine::Machine(AccessCosts costs) : m_impl(std::make_unique<Impl>()), m_costs(costs) {
  m_localTime.tm_year = 100;  // 1 January 2000, 00:00, until a test sets another
  m_localTime.tm_mday = 1;
}

Machine::~Machine() = default;

PciFunction& Machine::Attach(std::uint32_t bus, std::uint32_t device, std::uint32_t function,
                             std::unique_ptr<PciFunction> pci) {
  auto& slot = m_impl->functions[MakePciHandle(bus, device, function)];
  slot = std::move(pci);
  slot->SetConfigListener(&m_impl->memory);
  m_impl->memory.Reroute();
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

bool Machine::ModelsPort(std::uint16_t port) { return PortBus::Models(port); }

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
  std::snprintf(text, sizeof(text), "%s of %u byte%s at 0x%llX", access, width,
                width == 1 ? "" : "s", static_cast<unsigned long long>(where));
  return text;
}

[[noreturn]] void ThrowOutsideMappings(const char* access, std::uintptr_t address,
                                       std::uint32_t width) {
  throw FatalAccess(AccessText(access, address, width) + " outside every mapping");
}

}  // namespace

void Machine::RequirePortPrivilege(const char* access, std::uint16_t port,
                                   std::uint32_t width) const {
  if (!m_impl->privilegeHeld) {
    throw FatalAccess(AccessText(access, port, width) + " without I/O privilege");
  }
}

UINT32 Machine::PortRead(UINT16 port, UINT32 width) {
  RequirePortPrivilege("port read", port, width);
  const std::uint32_t value = m_impl->ports.Read(port, width, m_clock.Now()) & WidthMask(width);
  ++m_counters.portReads;
  m_impl->portReadsAt.Add(m_counters.portReadsAt, port);
  Record(Access::PortRead, port, width, value, m_costs.portNs);
  return value;
}

void Machine::PortWrite(UINT16 port, UINT32 width, UINT32 value) {
  RequirePortPrivilege("port write", port, width);
  value &= WidthMask(width);
  m_impl->ports.Write(port, width, value, m_clock.Now());
  ++m_counters.portWrites;
  m_impl->portWritesAt.Add(m_counters.portWritesAt, port);
  Record(Access::PortWrite, port, width, value, m_costs.portNs);
}

int Machine::OpenPhysicalMemory() {
  KeepRefusal(TvrRequest::PhysicalMemory, Refusal(Request::PhysicalMemory));
  if (Refusal(Request::PhysicalMemory) != 0) {
    return -1;
  }
  return m_impl->memory.Open();
}

void* Machine::Map(std::size_t length, int descriptor, UINT32 physical) {
  PhysicalMemory& memory = m_impl->memory;
  const bool refused =
      length == 0 || physical % PhysicalMemory::kPageSize != 0 || !memory.IsOpen(descriptor);
  KeepRefusal(TvrRequest::Mapping, refused ? EINVAL : Refusal(Request::Mapping));
  if (RefusalReason() != 0) {
    return nullptr;
  }
  return reinterpret_cast<void*>(memory.Map(length, physical));
}

void Machine::Unmap(void* address, std::size_t length) {
  if (!m_impl->memory.Unmap(reinterpret_cast<std::uintptr_t>(address), length)) {
    ++m_counters.badUnmaps;
  }
}

UINT32 Machine::DeviceRead(std::uintptr_t address, UINT32 width) {
  const Landing landing = m_impl->memory.LandingOf(address, width);
  if (!landing.mapped) {
    ThrowOutsideMappings("device read", address, width);
  }
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
  const Landing landing = m_impl->memory.LandingOf(address, width);
  if (!landing.mapped) {
    ThrowOutsideMappings("device write", address, width);
  }
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
