// The PC's port space as the utility reaches it: PCI configuration mechanism #1 over the
// functions on the bus, channel 2 of the interval timer and its control port, and system
// control port B. What an access costs, who may make it and how it is counted is the
// machine's business.
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <utility>

#include "PciFunction.h"
#include "Timer8254.h"

namespace emu {

// The functions on the bus by location, laid out as the utility's PCI handle.
using PciFunctions = std::map<std::uint32_t, std::unique_ptr<PciFunction>>;

class PortBus {
 public:
  // `functions` must outlive the bus.
  explicit PortBus(const PciFunctions& functions) : m_functions(functions) {}

  // The ports this PC has.
  static bool Models(std::uint16_t port);
  // What a port answers at virtual time `now`: all ones where nothing answers.
  std::uint32_t Read(std::uint16_t port, std::uint32_t width, std::uint64_t now);
  // Where a written value goes; nowhere for a port nothing answers.
  void Write(std::uint16_t port, std::uint32_t width, std::uint32_t value, std::uint64_t now);

 private:
  PciFunction* SelectedFunction() const;
  // The selected function and the configuration offset a data-port access reaches, or no
  // function when the access does not fit the data window.
  std::pair<PciFunction*, std::uint32_t> ConfigTarget(std::uint16_t port,
                                                      std::uint32_t width) const;

  const PciFunctions& m_functions;
  std::uint32_t m_configAddress = 0;
  IntervalTimer2 m_timer;
  std::uint8_t m_portB = 0;
};

}  // namespace emu
