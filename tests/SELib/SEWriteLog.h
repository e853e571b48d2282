// What a write looked like from the card and from the progress callback, in a form a test
// can compare whole.
#pragma once

#include <string>
#include <vector>

#include "SERig.h"

namespace setest {

// The card's events as short tokens, with runs collapsed: "hw-writable", "06", "01 80",
// "62", "06+02 x512" (write enable and page program, 512 times), "AF x131071",
// "03 131072" (a read of that many bytes), "hw-protected".
std::vector<std::string> Summary(const std::vector<CardEvent>& events);

// Addresses of the page-program commands, in order, each checked to carry `page` bytes.
std::vector<std::uint32_t> PageAddresses(const std::vector<CardEvent>& events, std::uint32_t page);

// Installed as the progress callback: every report, and the card's state at the first.
struct ProgressLog {
  explicit ProgressLog(Rig& rig) : rig(&rig) {}
  void Install() { SESetWriteStatusFct(rig->handle(), &ProgressLog::Report, this); }
  static void Report(INT32 iCurrentPos, INT32 iMaxPos, void* pvRefIn);

  Rig* rig;
  std::vector<INT32> positions;
  std::vector<INT32> totals;
  bool firstSelected = false;
  std::uint32_t firstBits = 0;
  Bytes flashAtFirst;
};

// step, 2 x step, ... 131072, `passes` times over.
std::vector<INT32> Positions(INT32 step, int passes = 1);

}  // namespace setest
