// The emulated PC as the utility sees it: ports, PCI configuration mechanism #1, channel 2
// of the interval timer, the memory device and the functions on the PCI bus, all on a
// virtual clock, with counters and an optional trace of every access. The port space lives
// in PortBus, physical memory and its routing in PhysicalMemory; the machine puts privilege,
// refusals, costs, counters and the trace around them.
#pragma once

#include <array>
#include <cerrno>
#include <cstddef>
#include <cstdint>
#include <ctime>
#include <map>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

#include "Clock.h"
#include "PciFunction.h"
#include "TvrPlatform.h"

namespace emu {

// An access that ends a real process on the spot: a port instruction without I/O privilege
// (a general protection fault) or a device access outside every mapping (a segmentation
// fault). The emulated run stops with it; the message names the access.
class FatalAccess : public std::runtime_error {
 public:
  explicit FatalAccess(const std::string& what) : std::runtime_error(what) {}
};

enum class Access : std::uint8_t { PortRead, PortWrite, DeviceRead, DeviceWrite };

// What the machine can refuse the utility, each with the system's reason: the I/O privilege
// (EPERM under lockdown, ENOSYS without port I/O), the memory device (EPERM without the
// capability) and the mapping of an aperture (EPERM while a driver has claimed it).
enum class Request : std::uint8_t { IoPrivilege, PhysicalMemory, Mapping };
constexpr std::size_t kRequestCount = 3;

// One access as the machine saw it. `address` is the port number or the physical address.
struct TraceEntry {
  Access kind;
  std::uint32_t address;
  std::uint32_t width;
  std::uint32_t value;
  std::uint64_t timeNs;
};

struct Counters {
  std::uint64_t portReads = 0;
  std::uint64_t portWrites = 0;
  std::uint64_t deviceReads = 0;
  std::uint64_t deviceWrites = 0;
  // Device accesses per physical register address.
  std::map<std::uint32_t, std::uint64_t> deviceReadsAt;
  std::map<std::uint32_t, std::uint64_t> deviceWritesAt;
  // Port accesses per port number.
  std::map<std::uint32_t, std::uint64_t> portReadsAt;
  std::map<std::uint32_t, std::uint64_t> portWritesAt;
  // Unmaps that match no mapping: the system refuses them, the process lives on.
  std::uint64_t badUnmaps = 0;
};

// The whole machine. Install it with ScopedPlatform for the life of a run.
class Machine : public TvrPlatform {
 public:
  explicit Machine(AccessCosts costs = {});
  ~Machine() override;

  // Puts a function at bus, device, function (replacing one already there); the machine
  // owns it. Returns it.
  PciFunction& Attach(std::uint32_t bus, std::uint32_t device, std::uint32_t function,
                      std::unique_ptr<PciFunction> pci);
  template <class T, class... Args>
  T& Emplace(std::uint32_t bus, std::uint32_t device, std::uint32_t function, Args&&... args);

  VirtualClock& Clock() { return m_clock; }
  const Counters& Stats() const { return m_counters; }
  void ResetStats();
  void EnableTrace(bool on);
  const std::vector<TraceEntry>& Trace() const { return m_trace; }
  void ClearTrace() { m_trace.clear(); }

  // What the machine allows and shows.
  // `reason` 0 grants the request again.
  void Refuse(Request request, int reason) {
    m_refusals[static_cast<std::size_t>(request)] = reason;
  }
  void SetPortPrivilege(bool granted) { Refuse(Request::IoPrivilege, granted ? 0 : EPERM); }
  void SetPhysicalMemoryAllowed(bool allowed) {
    Refuse(Request::PhysicalMemory, allowed ? 0 : EPERM);
  }
  void SetUserId(std::uint32_t uid) { m_userId = uid; }
  void SetLocalTime(const std::tm& when) { m_localTime = when; }
  std::uint64_t PrivilegeRequests() const { return m_privilegeRequests; }
  // The ports this PC has: the PCI configuration mechanism, channel 2 of the interval timer
  // and its control port, system control port B.
  static bool ModelsPort(std::uint16_t port);

  // TvrPlatform
  bool RequestIoPrivilege() override;
  UINT32 PortRead(UINT16 port, UINT32 width) override;
  void PortWrite(UINT16 port, UINT32 width, UINT32 value) override;
  int OpenPhysicalMemory() override;
  void* Map(std::size_t length, int descriptor, UINT32 physical) override;
  void Unmap(void* address, std::size_t length) override;
  long PageSize() override { return 4096; }
  UINT32 DeviceRead(std::uintptr_t address, UINT32 width) override;
  void DeviceWrite(std::uintptr_t address, UINT32 width, UINT32 value) override;
  UINT32 UserId() override { return m_userId; }
  bool LocalTime(std::tm& out) override;
  // The virtual clock: waits are bounded on the time the machine itself counts.
  std::uint64_t MonotonicNs() override { return m_clock.Now(); }
  std::uint64_t MonotonicResolutionNs() override { return 1; }

 private:
  // The port bus and the physical memory, with the counters' kept places.
  struct Impl;
  void RequirePortPrivilege(const char* access, std::uint16_t port, std::uint32_t width) const;
  // Traces an access made now, then charges its cost to the clock.
  void Record(Access kind, std::uint32_t address, std::uint32_t width, std::uint32_t value,
              std::uint64_t costNs) {
    if (m_tracing) {
      AppendTrace(kind, address, width, value);
    }
    m_clock.Advance(costNs);
  }
  void AppendTrace(Access kind, std::uint32_t address, std::uint32_t width, std::uint32_t value);
  int Refusal(Request request) const { return m_refusals[static_cast<std::size_t>(request)]; }

  std::unique_ptr<Impl> m_impl;
  VirtualClock m_clock;
  AccessCosts m_costs;
  Counters m_counters;
  std::vector<TraceEntry> m_trace;
  bool m_tracing = false;
  std::array<int, kRequestCount> m_refusals{};
  std::uint32_t m_userId = 0;
  std::tm m_localTime{};
  std::uint64_t m_privilegeRequests = 0;
};

template <class T, class... Args>
T& Machine::Emplace(std::uint32_t bus, std::uint32_t device, std::uint32_t function,
                    Args&&... args) {
  auto pci = std::make_unique<T>(std::forward<Args>(args)...);
  T& ref = *pci;
  Attach(bus, device, function, std::move(pci));
  return ref;
}

// Installs a platform for the life of the object and puts the native one back after it.
class ScopedPlatform {
 public:
  explicit ScopedPlatform(TvrPlatform& platform) { TvrSetPlatform(&platform); }
  ~ScopedPlatform() { TvrSetPlatform(nullptr); }
  ScopedPlatform(const ScopedPlatform&) = delete;
  ScopedPlatform& operator=(const ScopedPlatform&) = delete;
};

}  // namespace emu
