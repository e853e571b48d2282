#include "SEWriteLog.h"

#include <cstdio>

namespace setest {

namespace {
std::string Hex(std::uint32_t value, int digits = 2) {
  char text[16];
  std::snprintf(text, sizeof(text), "%0*X", digits, static_cast<unsigned>(value));
  return text;
}

std::string ProtectionToken(std::uint32_t value) {
  const std::uint32_t bits = value & emu::kProtectWritable;
  return bits == emu::kProtectWritable ? "hw-writable" : bits == 0 ? "hw-protected" : "hw-half";
}

std::string CommandToken(const CardEvent& event) {
  const std::uint8_t opcode = event.head[0];
  switch (opcode) {
    case 0x01:
      return event.head.size() > 1 ? "01 " + Hex(event.head[1]) : "01";
    case 0x03:
      return "03 " + std::to_string(event.length - 4);
    case 0xAF:
      return event.length == 5 ? "AF 000000" : "AF";
    default:
      return Hex(opcode);
  }
}
}  // namespace

std::vector<std::string> Summary(const std::vector<CardEvent>& events) {
  std::vector<std::string> tokens;
  for (std::size_t i = 0; i < events.size(); ++i) {
    const CardEvent& event = events[i];
    if (event.kind == CardEvent::Protection) {
      tokens.push_back(ProtectionToken(event.value));
    } else if (event.head[0] == 0x06 && i + 1 < events.size() &&
               events[i + 1].kind == CardEvent::Command && events[i + 1].head[0] == 0x02) {
      tokens.push_back("06+02");
      ++i;
    } else {
      tokens.push_back(CommandToken(event));
    }
  }
  std::vector<std::string> summary;
  for (std::size_t i = 0; i < tokens.size();) {
    std::size_t run = 1;
    while (i + run < tokens.size() && tokens[i + run] == tokens[i]) {
      ++run;
    }
    summary.push_back(run == 1 ? tokens[i] : tokens[i] + " x" + std::to_string(run));
    i += run;
  }
  return summary;
}

std::vector<std::uint32_t> PageAddresses(const std::vector<CardEvent>& events, std::uint32_t page) {
  std::vector<std::uint32_t> addresses;
  for (const CardEvent& event : events) {
    if (event.kind == CardEvent::Command && event.head[0] == 0x02) {
      const bool whole = event.head.size() >= 4 && event.length == 4 + page;
      addresses.push_back(whole ? (std::uint32_t{event.head[1]} << 16) |
                                      (std::uint32_t{event.head[2]} << 8) | event.head[3]
                                : 0xFFFFFFFF);
    }
  }
  return addresses;
}

void ProgressLog::Report(INT32 iCurrentPos, INT32 iMaxPos, void* pvRefIn) {
  auto& log = *static_cast<ProgressLog*>(pvRefIn);
  if (log.positions.empty()) {
    log.firstSelected = log.rig->lines().Selected();
    log.firstBits = log.rig->lines().BitsInCommand();
    log.flashAtFirst = log.rig->Flash();
  }
  log.positions.push_back(iCurrentPos);
  log.totals.push_back(iMaxPos);
}

std::vector<INT32> Positions(INT32 step, int passes) {
  std::vector<INT32> positions;
  for (int pass = 0; pass < passes; ++pass) {
    for (INT32 position = step; position <= 131072; position += step) {
      positions.push_back(position);
    }
  }
  return positions;
}

}  // namespace setest
