#include <cstdint>
#include <utility>
#include <vector>

#include "EmuTestSupport.h"
#include "TvrTimer.h"

using namespace emutest;

namespace {

class TimerTest : public MachineTest {
 protected:
  TimerTest() { machine.RequestIoPrivilege(); }

  // The counts loaded into channel 2, from the low/high byte pairs written to port 0x42.
  std::vector<DWORD> CountsLoaded() const {
    std::vector<DWORD> counts;
    std::vector<DWORD> bytes;
    for (const Op& op : Ops(machine, emu::Access::PortWrite)) {
      if (op.address == 0x42) {
        bytes.push_back(op.value);
      }
    }
    for (std::size_t i = 0; i + 1 < bytes.size(); i += 2) {
      counts.push_back(bytes[i] | bytes[i + 1] << 8);
    }
    return counts;
  }
};

struct DelayCase {
  DWORD microseconds;
  std::size_t wholePeriods;
  DWORD lastCount;
};

TEST_F(TimerTest, WholePeriodsThenTheFineCount) {
  const DelayCase cases[] = {
      {0, 0, 1},       {31, 0, 1},         {32, 0, 1},        {33, 0, 2},
      {1000, 0, 1162}, {54639, 0, 65529},  {54640, 0, 65535}, {65534, 0, 65535},
      {65535, 1, 1},   {100000, 1, 41320}, {131070, 2, 1},
  };
  for (const DelayCase& c : cases) {
    SCOPED_TRACE(c.microseconds);
    machine.ClearTrace();
    EXPECT_EQ(tmDelay(c.microseconds), 1u);
    std::vector<DWORD> expected(c.wholePeriods, 0xFFFF);
    expected.push_back(c.lastCount);
    EXPECT_EQ(CountsLoaded(), expected);
  }
}

TEST_F(TimerTest, AMillisecondTakesOneKeepsPortBsLowNibbleAndLeavesChannel2InSquareWaveMode) {
  machine.PortWrite(0x61, 1, 0x0E);  // speaker on, gate off, bits 2-3 set
  machine.ClearTrace();
  const auto start = machine.Clock().Now();
  tmDelay(1000);
  const auto elapsedUs = (machine.Clock().Now() - start) / 1000;
  EXPECT_GE(elapsedUs, 950u);
  EXPECT_LE(elapsedUs, 1050u);
  EXPECT_EQ(Ops(machine, emu::Access::PortWrite),
            (std::vector<Op>{PortWr(0x43, 1, 0xB0), PortWr(0x61, 1, 0x0D), PortWr(0x42, 1, 0x8A),
                             PortWr(0x42, 1, 0x04), PortWr(0x61, 1, 0x0E), PortWr(0x43, 1, 0xB6)}));
}

// A machine whose monotonic clock ticks every `tickNs` (a jiffies clock source), its ticks
// falling `phaseNs` after the machine's whole ticks.
class CoarseClock final : public emu::Machine {
 public:
  std::uint64_t MonotonicNs() override {
    const std::uint64_t now = emu::Machine::MonotonicNs() + phaseNs;
    return now - now % tickNs;
  }
  std::uint64_t MonotonicResolutionNs() override { return tickNs; }

  std::uint64_t tickNs = 1;
  std::uint64_t phaseNs = 0;
};

// Whatever the monotonic clock's tick, the period lasts at least twice its time, however
// close to a tick it starts, and ends within the bound plus two ticks.
TEST(TimerPeriod, AnOutputThatNeverRisesEndsThePeriodAtTwiceItsTime) {
  for (const std::uint64_t tickNs :
       {std::uint64_t{1}, std::uint64_t{4000000}, std::uint64_t{10000000}}) {
    CoarseClock machine;
    machine.tickNs = tickNs;
    const emu::ScopedPlatform coarse(machine);
    machine.RequestIoPrivilege();
    machine.PortWrite(0x43, 1, 0xB0);
    machine.PortWrite(0x61, 1, 0x00);  // gate off: the count never runs out
    // Counts and their time in microseconds at 1 193 182 counts a second.
    for (const auto& [count, nominalUs] :
         {std::pair<WORD, DWORD>{10, 8}, {1193, 1000}, {0xFFFF, 54925}}) {
      for (const std::uint64_t beforeTickNs : {std::uint64_t{1000}, tickNs / 2, tickNs}) {
        const auto start = machine.Clock().Now();
        machine.phaseNs = tickNs - (start + beforeTickNs) % tickNs;
        EXPECT_EQ(Timer2Delay(count), 1u);
        const auto elapsedUs = (machine.Clock().Now() - start) / 1000;
        EXPECT_GE(elapsedUs, 2 * nominalUs) << count << " " << tickNs << " " << beforeTickNs;
        EXPECT_LE(elapsedUs, 2 * nominalUs + 60 + 2 * tickNs / 1000) << count << " " << tickNs;
      }
    }
  }
}

}  // namespace
