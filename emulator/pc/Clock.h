// The machine's virtual clock and what each kind of access costs on it.
#pragma once

#include <cstdint>
#include <functional>
#include <utility>

namespace emu {

// Virtual time in nanoseconds. Every access advances it by a fixed cost; flash busy times
// and the interval timer run on it. One alarm may be set: it goes off once, from the
// first advance that reaches its time, and is told that time.
class VirtualClock {
 public:
  using Alarm = std::function<void(std::uint64_t at)>;

  std::uint64_t Now() const { return m_now; }
  void Advance(std::uint64_t ns) {
    m_now += ns;
    if (m_now >= m_alarmAt) {
      Ring();
    }
  }
  void SetAlarm(std::uint64_t at, Alarm alarm) {
    m_alarmAt = at;
    m_alarm = std::move(alarm);
  }

 private:
  void Ring() {
    const Alarm alarm = std::move(m_alarm);
    const std::uint64_t at = m_alarmAt;
    m_alarmAt = UINT64_MAX;
    if (alarm) {
      alarm(at);
    }
  }

  std::uint64_t m_now = 0;
  std::uint64_t m_alarmAt = UINT64_MAX;
  Alarm m_alarm;
};

struct AccessCosts {
  std::uint64_t portNs = 1000;
  std::uint64_t deviceReadNs = 500;
  std::uint64_t deviceWriteNs = 100;
};

}  // namespace emu
