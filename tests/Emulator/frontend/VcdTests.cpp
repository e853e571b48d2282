// The line trace: each window holds exactly its chip-select cycles, and the levels in it give
// back, bit for bit, what went over the lines in both directions.
#include <gtest/gtest.h>

#include <map>
#include <sstream>

#include "SpiRig.h"
#include "SpiShifter.h"
#include "Vcd.h"

namespace emu::test {
namespace {

// What the lines carried in one chip-select cycle.
struct Cycle {
  Bytes out;
  Bytes in;
};

struct Trace {
  bool startsDeselected = false;
  std::vector<Cycle> cycles;
};

// A small decoder of the dump: each bit is taken on a rising clock edge while chip select is
// low, most significant first; changes at one timestamp count together.
class Decoder {
 public:
  Trace Decode(const std::string& path) {
    const Bytes bytes = ReadFile(path);
    std::istringstream text(std::string(bytes.begin(), bytes.end()));
    std::string line;
    bool grouped = false;
    while (std::getline(text, line)) {
      if (line.rfind("$var", 0) == 0) {
        std::istringstream var(line);
        std::string word, id, name;
        var >> word >> word >> word >> id >> name;
        m_names[id[0]] = name;
      } else if (line[0] == '#') {
        if (grouped) {
          Settle();
        }
        grouped = true;
      } else if (line[0] == '0' || line[0] == '1') {
        m_next[m_names.at(line[1])] = line[0] == '1';
      }
    }
    Settle();
    return m_trace;
  }

 private:
  void Settle() {
    if (m_first) {
      m_trace.startsDeselected = m_next["chip_select_n"];
      m_first = false;
    }
    const bool selected = !m_next["chip_select_n"];
    if (selected && m_now["chip_select_n"]) {
      m_trace.cycles.emplace_back();
      m_out.Restart();
      m_in.Restart();
    }
    if (selected && !m_now["clock"] && m_next["clock"]) {
      m_in.Shift(m_next["data_out"]);
      if (m_out.Shift(m_next["data_in"])) {
        m_trace.cycles.back().out.push_back(m_out.Byte());
        m_trace.cycles.back().in.push_back(m_in.Byte());
      }
    }
    m_now = m_next;
  }

  std::map<char, std::string> m_names;
  std::map<std::string, bool> m_now{{"chip_select_n", true}};
  std::map<std::string, bool> m_next;
  Trace m_trace;
  bool m_first = true;
  SpiShifter m_out;  // data-in, as software sent it
  SpiShifter m_in;   // data-out, as the part answered
};

TEST(LineTrace, WindowsHoldTheirCyclesBitForBit) {
  const std::string middle = FreshPath("middle.vcd");
  const std::string tail = FreshPath("tail.vcd");
  const std::string whole = FreshPath("whole.vcd");
  Bytes content(0x20000, 0xFF);
  content[0x100] = 0x12;
  content[0x101] = 0x34;
  content[0x102] = 0xA5;
  {
    SpiRig rig({}, FlashStore::InMemory(content));
    Card& card = rig.card();
    const auto record = [&](const std::string& path, const VcdWindow& window) {
      card.AddLineObserver(std::make_unique<VcdRecorder>(rig.clock(), path, window, card.Levels()));
    };
    record(middle, {1, 2, std::nullopt});
    record(tail, {0, std::nullopt, 1});
    record(whole, {});
    rig.Command({0x15}, 1);
    rig.Command({kReadStatus}, 1);
    rig.ReadFlash(0x100, 3);
    rig.WriteEnable();
  }

  const Trace all = Decoder().Decode(whole);
  ASSERT_EQ(all.cycles.size(), 4u);
  EXPECT_TRUE(all.startsDeselected);
  EXPECT_EQ(all.cycles[0].out[0], 0x15);
  EXPECT_EQ(all.cycles[0].in[1], 0x1F) << "the part's identification, as the line carried it";

  const Trace window = Decoder().Decode(middle);
  ASSERT_EQ(window.cycles.size(), 2u) << "cycles 2 and 3 only";
  EXPECT_TRUE(window.startsDeselected);
  EXPECT_EQ(window.cycles[0].out[0], kReadStatus);
  ASSERT_EQ(window.cycles[1].out.size(), 7u);
  EXPECT_EQ(Bytes(window.cycles[1].out.begin(), window.cycles[1].out.begin() + 4),
            Header(kRead, 0x100));
  EXPECT_EQ(Bytes(window.cycles[1].in.begin() + 4, window.cycles[1].in.end()),
            (Bytes{0x12, 0x34, 0xA5}));

  const Trace last = Decoder().Decode(tail);
  ASSERT_EQ(last.cycles.size(), 1u);
  EXPECT_TRUE(last.startsDeselected);
  EXPECT_EQ(last.cycles[0].out, Bytes{kWriteEnable});
}

}  // namespace
}  // namespace emu::test
