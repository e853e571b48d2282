#include "UxCmd.h"

#include <array>
#include <cstring>
#include <string_view>

namespace {

enum class Operand { None, File, PciLocation, TvStandard };

struct SwitchWord {
  std::string_view word;  // without its "/" or "-"
  UINT32 id;
  Operand operand;
};

constexpr std::array<SwitchWord, 10> kSwitches{{
    {"d", UX_SWITCH_D, Operand::File},
    {"dev", UX_SWITCH_DEV, Operand::PciLocation},
    {"ds", UX_SWITCH_DS, Operand::None},
    {"dmcs", UX_SWITCH_DMCS, Operand::File},
    {"i", UX_SWITCH_I, Operand::File},
    {"k", UX_SWITCH_K, Operand::File},
    {"o", UX_SWITCH_O, Operand::File},
    {"s", UX_SWITCH_S, Operand::File},
    {"scan", UX_SWITCH_SCAN, Operand::None},
    {"tvout", UX_SWITCH_TVOUT, Operand::TvStandard},
}};

struct TvStandard {
  std::string_view word;
  UINT32 value;
};

constexpr std::array<TvStandard, 2> kTvStandards{{
    {"ntsc", UX_TVOUT_NTSC},
    {"pal", UX_TVOUT_PAL},
}};

bool IsSwitchPrefix(ACHAR c) { return c == '/' || c == '-'; }

const SwitchWord* FindSwitch(const ACHAR* pszArg) {
  if (!IsSwitchPrefix(pszArg[0])) {
    return nullptr;
  }
  const std::string_view word(pszArg + 1);
  for (const SwitchWord& entry : kSwitches) {
    if (entry.word == word) {
      return &entry;
    }
  }
  return nullptr;
}

bool ReadTvStandard(const ACHAR* pszOperand, UINT32& value) {
  const std::string_view word(pszOperand);
  for (const TvStandard& standard : kTvStandards) {
    if (standard.word == word) {
      value = standard.value;
      return true;
    }
  }
  return false;
}

// Stores the operand of the switch in slot `slot`; false when it is not acceptable. Every
// operand must fit its 64-byte text slot, whatever its kind.
bool StoreOperand(Operand operand, ACHAR* pszOperand, SWITCH& sw, UINT32 slot) {
  if (std::strlen(pszOperand) >= UX_OPTION_SIZE) {
    return false;
  }
  if (operand == Operand::TvStandard) {
    return ReadTvStandard(pszOperand, sw.ulOption[slot]);
  }
  if (operand == Operand::PciLocation && !atoh(pszOperand, &sw.ulOption[slot])) {
    return false;
  }
  std::strcpy(sw.pszOption[slot].data(), pszOperand);
  return true;
}

constexpr int kHexDigitNone = -1;

int HexDigit(ACHAR c) {
  if (c >= '0' && c <= '9') {
    return c - '0';
  }
  if (c >= 'a' && c <= 'f') {
    return c - 'a' + 10;
  }
  if (c >= 'A' && c <= 'F') {
    return c - 'A' + 10;
  }
  return kHexDigitNone;
}

void LowerCase(ACHAR* pszText) {
  for (ACHAR* p = pszText; *p != '\0'; ++p) {
    if (*p >= 'A' && *p <= 'Z') {
      *p = static_cast<ACHAR>(*p - 'A' + 'a');
    }
  }
}

bool HasRepeatedSwitch(const CMD& cmd) {
  for (UINT32 i = 0; i < cmd.ucNumOfSwitch; ++i) {
    for (UINT32 j = i + 1; j < cmd.ucNumOfSwitch; ++j) {
      if (cmd.hSwitch.ulID[i] == cmd.hSwitch.ulID[j]) {
        return true;
      }
    }
  }
  return false;
}

}  // namespace

BOOL32 InitCmd(UXHANDLE hUx, ACHAR* pszCmdLine) {
  CMD& cmd = hUx->hCmd;
  std::memset(&cmd, 0xFF, sizeof(cmd));
  cmd.ucNumOfSwitch = 0;
  LowerCase(pszCmdLine);
  INT32 argc = 0;
  std::array<ACHAR*, UX_MAX_ARGS> argv{};
  if (!StrToArgv(pszCmdLine, &argc, argv.data(), UX_MAX_ARGS)) {
    return FALSE;
  }
  if (!FillCmdStruct(argc, argv.data(), &cmd)) {
    return FALSE;
  }
  return HasRepeatedSwitch(cmd) ? FALSE : TRUE;
}

BOOL32 StrToArgv(ACHAR* pszCmdLine, INT32* argc, ACHAR** argv, UINT8 ucArgcMax) {
  INT32 count = 1;
  argv[0] = pszCmdLine;
  ACHAR* p = pszCmdLine;
  while (*p != '\0') {
    if (*p != ' ') {
      ++p;
      continue;
    }
    *p++ = '\0';
    if (count >= ucArgcMax) {
      *argc = count;
      return FALSE;
    }
    while (*p == ' ') {
      ++p;
    }
    argv[count++] = p;
  }
  *argc = count;
  return TRUE;
}

BOOL32 FillCmdStruct(INT32 argc, ACHAR** argv, CMD* pCmd) {
  if (argc <= 0) {
    return FALSE;
  }
  SWITCH& sw = pCmd->hSwitch;
  UINT32 slot = 0;
  INT32 arg = 0;
  while (arg < argc) {
    const SwitchWord* entry = FindSwitch(argv[arg]);
    // The record holds three switches: a fourth one cannot be kept, so the line is refused.
    if (entry == nullptr || slot >= UX_MAX_SWITCHES) {
      return FALSE;
    }
    sw.ulID[slot] = entry->id;
    ++arg;
    if (entry->operand != Operand::None) {
      const bool present = arg < argc && !IsSwitchPrefix(argv[arg][0]);
      if (!present || !StoreOperand(entry->operand, argv[arg], sw, slot)) {
        return FALSE;
      }
      ++arg;
    }
    ++slot;
    pCmd->ucNumOfSwitch = static_cast<UINT8>(slot);
  }
  return TRUE;
}

BOOL32 atoh(ACHAR* pszString, UINT32* ulHexValue) {
  *ulHexValue = 0;
  for (const ACHAR* p = pszString; *p != '\0'; ++p) {
    const int digit = HexDigit(*p);
    if (digit == kHexDigitNone) {
      return FALSE;
    }
    *ulHexValue = (*ulHexValue << 4) | static_cast<UINT32>(digit);
  }
  return TRUE;
}
