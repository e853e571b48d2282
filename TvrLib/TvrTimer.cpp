#include "TvrTimer.h"

#include <cstdint>

#include "TvrCpu.h"
#include "TvrPlatform.h"

namespace {

constexpr UINT16 TIMER2_DATA_PORT = 0x42;
constexpr UINT16 TIMER_CONTROL_PORT = 0x43;
constexpr UINT16 SYSTEM_CONTROL_PORT_B = 0x61;

constexpr BYTE PORT_B_TIMER2_GATE = 0x01;
constexpr BYTE PORT_B_SPEAKER_DATA = 0x02;
constexpr BYTE PORT_B_TIMER2_OUTPUT = 0x20;
constexpr BYTE PORT_B_KEPT_BITS = 0x0F;

constexpr BYTE TIMER_CHANNEL_2 = 2;
constexpr BYTE TIMER_LOW_THEN_HIGH = 3;
constexpr BYTE TIMER_MODE_TERMINAL_COUNT = 0;
constexpr BYTE TIMER_MODE_SQUARE_WAVE = 3;

constexpr DWORD PERIOD_COUNTS = 65535;
// Reads of a low output after which a period counts as elapsed, should the clock below
// not be readable.
constexpr DWORD POLL_LIMIT = 10000000;

// A timer that does not count must not stretch a wait: the monotonic clock ends a period
// at twice its counts' time (1 193 182 counts a second), plus a little for the work around
// it, plus one tick of that clock: a clock that ticks coarsely may tick just after the
// period starts, and the period must not end there.
constexpr std::uint64_t TIMER_HZ = 1193182;
constexpr std::uint64_t NS_PER_SECOND = 1000000000;
constexpr std::uint64_t PERIOD_BOUND_FACTOR = 2;
constexpr std::uint64_t PERIOD_BOUND_SLACK_NS = 50000;

std::uint64_t PeriodBoundNs(WORD byCountValue) {
  return PERIOD_BOUND_FACTOR * byCountValue * NS_PER_SECOND / TIMER_HZ + PERIOD_BOUND_SLACK_NS;
}

// Below this many microseconds the shortest count is loaded; above the second the longest.
constexpr DWORD FINE_SHORTEST_US = 31;
constexpr DWORD FINE_LONGEST_US = 54639;

BYTE ControlWord(BYTE mode) {
  TIMER_CTRL TimerCtrl{};
  TimerCtrl.f.CountDownSelect = 0;
  TimerCtrl.f.CounterMode = mode;
  TimerCtrl.f.RW_Select = TIMER_LOW_THEN_HIGH;
  TimerCtrl.f.CounterSelect = TIMER_CHANNEL_2;
  return TimerCtrl.fullreg;
}

void PortWriteByte(UINT16 port, BYTE value) { TvrGetPlatform().PortWrite(port, 1, value); }
BYTE PortReadByte(UINT16 port) { return static_cast<BYTE>(TvrGetPlatform().PortRead(port, 1)); }

// 1.2 timer counts per microsecond, 32 microseconds taken off for the work around the
// wait, and at least one count.
WORD FineDelayCount(DWORD byFineCount) {
  if (byFineCount <= FINE_SHORTEST_US) {
    return 1;
  }
  if (byFineCount > FINE_LONGEST_US) {
    return 0xFFFF;
  }
  return static_cast<WORD>((byFineCount * 6 - 192) / 5 + 1);
}

}  // namespace

DWORD Timer2Delay(WORD byCountValue) {
  // A port instruction without privilege would kill the process.
  if (!cpuHavePortPrivilege()) {
    return 1;
  }
  TvrPlatform& platform = TvrGetPlatform();
  const std::uint64_t deadline =
      platform.MonotonicNs() + PeriodBoundNs(byCountValue) + platform.MonotonicResolutionNs();
  PortWriteByte(TIMER2_DATA_PORT, static_cast<BYTE>(byCountValue));
  PortWriteByte(TIMER2_DATA_PORT, static_cast<BYTE>(byCountValue >> 8));
  DWORD dwTimeOut = 0;
  while ((PortReadByte(SYSTEM_CONTROL_PORT_B) & PORT_B_TIMER2_OUTPUT) == 0) {
    if (++dwTimeOut >= POLL_LIMIT || platform.MonotonicNs() >= deadline) {
      break;
    }
  }
  return 1;
}

DWORD tmDelay(DWORD dwDelayus) {
  if (!cpuHavePortPrivilege()) {
    return 1;
  }
  const DWORD dwTimer2Loop = dwDelayus / PERIOD_COUNTS;
  const DWORD byFineCount = dwDelayus % PERIOD_COUNTS;

  PortWriteByte(TIMER_CONTROL_PORT, ControlWord(TIMER_MODE_TERMINAL_COUNT));
  const BYTE bySysCtrlPortB = PortReadByte(SYSTEM_CONTROL_PORT_B);
  const BYTE bySavedSysCtrlPortB = bySysCtrlPortB & PORT_B_KEPT_BITS;
  PortWriteByte(
      SYSTEM_CONTROL_PORT_B,
      static_cast<BYTE>((bySavedSysCtrlPortB & ~PORT_B_SPEAKER_DATA) | PORT_B_TIMER2_GATE));

  for (DWORD period = 0; period < dwTimer2Loop; ++period) {
    Timer2Delay(0xFFFF);
  }
  Timer2Delay(FineDelayCount(byFineCount));

  PortWriteByte(SYSTEM_CONTROL_PORT_B, bySavedSysCtrlPortB);
  PortWriteByte(TIMER_CONTROL_PORT, ControlWord(TIMER_MODE_SQUARE_WAVE));
  return 1;
}
