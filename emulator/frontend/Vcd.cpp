#include "Vcd.h"

#include <array>
#include <stdexcept>

namespace emu {
namespace {

struct Signal {
  char id;
  const char* name;
  bool LineLevels::*level;
};

// Names a decoder is pointed at: clock, data to the part (controller out), data from it.
constexpr std::array<Signal, 6> kSignals{{
    {'!', "chip_select_n", &LineLevels::chipSelectN},
    {'"', "clock", &LineLevels::clock},
    {'#', "data_in", &LineLevels::dataIn},
    {'$', "data_out", &LineLevels::dataOut},
    {'%', "write_protect_n", &LineLevels::writeProtectN},
    {'&', "bypass", &LineLevels::bypass},
}};

char Digit(bool high) { return high ? '1' : '0'; }

}  // namespace

VcdRecorder::VcdRecorder(const VirtualClock& clock, const std::string& path,
                         const VcdWindow& window, const LineLevels& initial)
    : m_clock(clock),
      m_out(path, std::ios::trunc),
      m_window(window),
      m_last(initial),
      m_lastChange(clock.Now()),
      m_lastEvent(clock.Now()),
      m_sink(&m_out) {
  m_out << "$timescale 1 ns $end\n$scope module card $end\n";
  for (const Signal& signal : kSignals) {
    m_out << "$var wire 1 " << signal.id << ' ' << signal.name << " $end\n";
  }
  m_out << "$upscope $end\n$enddefinitions $end\n";
  m_out.flush();
  if (!m_out) {
    throw std::runtime_error("cannot write the line trace to '" + path + "'");
  }
  if (m_window.last) {
    // Everything is kept by cycle until the run ends.
    m_sink = &m_cycleText;
    m_cycle = {initial, m_lastChange, {}};
    m_phase = Phase::Recording;
  }
}

VcdRecorder::~VcdRecorder() {
  if (m_window.last) {
    WriteLastCycles();
  }
  if (m_phase == Phase::Recording || m_phase == Phase::Closing) {
    WriteTime(m_lastEvent);
  }
}

void VcdRecorder::OnLines(const LineLevels& levels) {
  const std::uint64_t now = m_clock.Now();
  m_lastEvent = now;
  if (m_phase == Phase::Closing) {
    WriteTime(now);
    m_out.flush();
    m_phase = Phase::Done;
  }
  if (levels == m_last) {
    return;
  }
  const bool selectFalls = m_last.chipSelectN && !levels.chipSelectN;
  const bool selectRises = !m_last.chipSelectN && levels.chipSelectN;
  if (m_phase == Phase::Waiting && selectFalls && ++m_cyclesStarted > m_window.skip) {
    m_phase = Phase::Recording;
    WriteStart(m_last, m_lastChange);
  }
  if (m_phase == Phase::Recording) {
    WriteChanges(now, levels);
  }
  m_last = levels;
  m_lastChange = now;
  if (m_phase == Phase::Recording && selectRises) {
    OnSelectRises();
  }
}

void VcdRecorder::OnSelectRises() {
  if (m_window.last) {
    m_cycle.changes = m_cycleText.str();
    m_lastCycles.push_back(std::move(m_cycle));
    if (m_lastCycles.size() > *m_window.last) {
      m_lastCycles.pop_front();
    }
    m_cycle = {m_last, m_lastChange, {}};
    m_cycleText.str({});
    return;
  }
  // A whole cycle is on disk even if the process ends abruptly after it.
  m_out.flush();
  if (m_window.keep && ++m_cyclesEnded == *m_window.keep) {
    m_phase = Phase::Closing;
  }
}

void VcdRecorder::WriteStart(const LineLevels& levels, std::uint64_t time) {
  WriteTime(time);
  *m_sink << "$dumpvars\n";
  for (const Signal& signal : kSignals) {
    *m_sink << Digit(levels.*signal.level) << signal.id << '\n';
  }
  *m_sink << "$end\n";
}

void VcdRecorder::WriteChanges(std::uint64_t now, const LineLevels& levels) {
  WriteTime(now);
  for (const Signal& signal : kSignals) {
    if (levels.*signal.level != m_last.*signal.level) {
      *m_sink << Digit(levels.*signal.level) << signal.id << '\n';
    }
  }
}

void VcdRecorder::WriteTime(std::uint64_t now) {
  if (m_writtenTime == now) {
    return;
  }
  *m_sink << '#' << now << '\n';
  m_writtenTime = now;
}

void VcdRecorder::WriteLastCycles() {
  m_cycle.changes = m_cycleText.str();
  m_lastCycles.push_back(std::move(m_cycle));
  m_sink = &m_out;
  m_writtenTime.reset();
  WriteStart(m_lastCycles.front().start, m_lastCycles.front().startTime);
  for (const Cycle& cycle : m_lastCycles) {
    m_out << cycle.changes;
  }
  // The last timestamp written is the one the text above ends with.
  m_writtenTime = m_lastChange;
}

}  // namespace emu
