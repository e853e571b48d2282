// A Value Change Dump of one card's serial lines on the virtual clock, for a waveform viewer
// or a protocol decoder. A whole update moves the lines tens of millions of times, so the
// dump covers a window of chip-select cycles: either it opens just before chip select falls
// for cycle skip + 1 and closes once `keep` cycles have ended, or it holds the last `last`
// cycles of the run (and whatever followed the last of them), written when the run ends.
#pragma once

#include <cstdint>
#include <deque>
#include <fstream>
#include <optional>
#include <sstream>
#include <string>

#include "Card.h"
#include "Machine.h"

namespace emu {

struct VcdWindow {
  std::uint32_t skip = 0;             // chip-select cycles before the window
  std::optional<std::uint32_t> keep;  // cycles in it, at least 1; none: to the end of the run
  std::optional<std::uint32_t> last;  // instead of skip and keep: the run's last cycles
};

class VcdRecorder : public LineObserver {
 public:
  // Creates `path` and writes the definitions; throws std::runtime_error when it cannot.
  // `initial` is what the lines show now; `clock` must outlive the recorder's last event.
  VcdRecorder(const VirtualClock& clock, const std::string& path, const VcdWindow& window,
              const LineLevels& initial);
  // Ends an open window at the time of the last event seen; writes the run's last cycles.
  ~VcdRecorder() override;

  void OnLines(const LineLevels& levels) override;

 private:
  enum class Phase : std::uint8_t { Waiting, Recording, Closing, Done };

  // The changes from one chip-select rise to the next, kept for a window at the end.
  struct Cycle {
    LineLevels start;
    std::uint64_t startTime = 0;
    std::string changes;
  };

  void OnSelectRises();
  void WriteStart(const LineLevels& levels, std::uint64_t time);
  void WriteChanges(std::uint64_t now, const LineLevels& levels);
  void WriteTime(std::uint64_t now);
  void WriteLastCycles();

  const VirtualClock& m_clock;
  std::ofstream m_out;
  VcdWindow m_window;
  Phase m_phase = Phase::Waiting;
  LineLevels m_last;
  std::uint64_t m_lastChange = 0;  // when m_last began
  std::uint64_t m_lastEvent = 0;   // the last notification, changed or not
  std::optional<std::uint64_t> m_writtenTime;
  std::uint32_t m_cyclesStarted = 0;
  std::uint32_t m_cyclesEnded = 0;
  // Where changes go: the file, or the cycle being kept for a window at the end.
  std::ostream* m_sink;
  std::ostringstream m_cycleText;
  Cycle m_cycle;
  std::deque<Cycle> m_lastCycles;
};

}  // namespace emu
