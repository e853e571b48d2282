// The parser on arbitrary strings. An accepted line must give a record that says the same
// thing again: one to three distinct switches, each operand whole and terminated, and the
// line rebuilt from the record parses to the same record.
#include <array>
#include <cstring>
#include <memory>
#include <string>
#include <string_view>

#include "FuzzRig.h"
#include "FuzzTargets.h"
#include "UxCmd.h"

namespace fuzz {
namespace {

constexpr std::size_t kCommandLineSize = 256;

enum class OperandKind { None, Text, TvStandard };

struct SwitchSpelling {
  std::string_view word;
  OperandKind operand;
};

// Indexed by switch identifier.
constexpr std::array<SwitchSpelling, 10> kSpellings{{
    {"/d", OperandKind::Text},
    {"/dev", OperandKind::Text},
    {"/ds", OperandKind::None},
    {"/dmcs", OperandKind::Text},
    {"/i", OperandKind::Text},
    {"/k", OperandKind::Text},
    {"/o", OperandKind::Text},
    {"/s", OperandKind::Text},
    {"/scan", OperandKind::None},
    {"/tvout", OperandKind::TvStandard},
}};

constexpr std::array<std::string_view, 2> kTvStandards{"ntsc", "pal"};

struct Parsed {
  BOOL32 accepted;
  CMD cmd;
};

Parsed Parse(const std::string& line) {
  std::array<ACHAR, kCommandLineSize> buffer{};
  std::memcpy(buffer.data(), line.data(), line.size());
  auto session = std::make_unique<UX_DATA>();
  const BOOL32 accepted = InitCmd(session.get(), buffer.data());
  Expect(buffer.back() == '\0', "the parser keeps inside the command line");
  return {accepted, session->hCmd};
}

std::string OperandText(const CMD& cmd, UINT32 slot) {
  const auto& text = cmd.hSwitch.pszOption[slot];
  Expect(std::memchr(text.data(), '\0', text.size()) != nullptr, "an operand ends inside its slot");
  return text.data();
}

std::string Rebuild(const CMD& cmd) {
  std::string line;
  for (UINT32 slot = 0; slot < cmd.ucNumOfSwitch; ++slot) {
    const UINT32 id = cmd.hSwitch.ulID[slot];
    Expect(id < kSpellings.size(), "a switch identifier of the switch set");
    const SwitchSpelling& spelling = kSpellings[id];
    line += (slot ? " " : "") + std::string(spelling.word);
    if (spelling.operand == OperandKind::Text) {
      line += " " + OperandText(cmd, slot);
    } else if (spelling.operand == OperandKind::TvStandard) {
      Expect(cmd.hSwitch.ulOption[slot] < kTvStandards.size(), "a known TV standard");
      line += " " + std::string(kTvStandards[cmd.hSwitch.ulOption[slot]]);
    }
  }
  return line;
}

bool SameSlot(const CMD& a, const CMD& b, UINT32 slot) {
  const UINT32 id = a.hSwitch.ulID[slot];
  if (id != b.hSwitch.ulID[slot]) {
    return false;
  }
  const bool sameNumber = a.hSwitch.ulOption[slot] == b.hSwitch.ulOption[slot];
  switch (kSpellings[id].operand) {
    case OperandKind::None:
      return true;
    case OperandKind::TvStandard:
      return sameNumber;
    case OperandKind::Text:
      return std::strcmp(a.hSwitch.pszOption[slot].data(), b.hSwitch.pszOption[slot].data()) == 0 &&
             (id != UX_SWITCH_DEV || sameNumber);
  }
  return false;
}

bool SameRecord(const CMD& a, const CMD& b) {
  if (a.ucNumOfSwitch != b.ucNumOfSwitch) {
    return false;
  }
  for (UINT32 slot = 0; slot < a.ucNumOfSwitch; ++slot) {
    if (!SameSlot(a, b, slot)) {
      return false;
    }
  }
  return true;
}

}  // namespace

int CommandLineTarget(const std::uint8_t* data, std::size_t size) {
  // What the front end can hand over: text without a zero byte, at most 255 characters.
  const auto* text = reinterpret_cast<const char*>(data);
  const std::string line(text,
                         strnlen(text, size < kCommandLineSize ? size : kCommandLineSize - 1));
  const Parsed first = Parse(line);
  if (!first.accepted) {
    return 0;
  }
  const CMD& cmd = first.cmd;
  Expect(cmd.ucNumOfSwitch >= 1 && cmd.ucNumOfSwitch <= UX_MAX_SWITCHES, "one to three switches");
  for (UINT32 i = 0; i < cmd.ucNumOfSwitch; ++i) {
    for (UINT32 j = i + 1; j < cmd.ucNumOfSwitch; ++j) {
      Expect(cmd.hSwitch.ulID[i] != cmd.hSwitch.ulID[j], "no switch twice");
    }
  }
  const std::string rebuilt = Rebuild(cmd);
  Expect(rebuilt.size() < kCommandLineSize, "the rebuilt line is no longer than the original");
  const Parsed again = Parse(rebuilt);
  Expect(again.accepted && SameRecord(cmd, again.cmd),
         "the rebuilt line parses to the same record: " + rebuilt);
  return 0;
}

}  // namespace fuzz
