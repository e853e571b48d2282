// The update session library: one session per run finds the card, parses one command
// line and executes its switches against the card's BIOS image. Every text it produces
// goes out through the two print callbacks that the host program hands it.
#pragma once

#include <array>
#include <type_traits>

#include "GBLib.h"
#include "SELib.h"
#include "TvrLib.h"

// Status of the public calls: 1 is success; codes of the image and EEPROM libraries pass
// through unchanged.
using UX_ERR = INT32;

constexpr UX_ERR UX_OK = 1;
// A switch refused its input after saying why.
constexpr UX_ERR UX_ERR_REFUSED = 0;
constexpr UX_ERR UX_ERR_INVALID_HANDLE = 30000;
constexpr UX_ERR UX_ERR_INVALID_CMD_LINE = 30001;
constexpr UX_ERR UX_ERR_NO_DEVICE = 30002;
constexpr UX_ERR UX_ERR_NOT_SUPPORTED = 30003;
constexpr UX_ERR UX_ERR_BOARD_INFO = 30004;
constexpr UX_ERR UX_ERR_FILE = 30005;

constexpr UINT32 UX_LIB_VERSION = 7;

// Print callback: the reference value registered with it and a NUL-terminated text that
// carries all of its own line breaks. TRUE when the whole text went out: a switch whose
// product is the text fails without it.
using FCT_DISPLAY = BOOL32 (*)(void* pvRefData, const ACHAR* pszString);

struct UX_PRINT {
  FCT_DISPLAY m_fnPrintOut;
  void* m_pvRefOut;
  FCT_DISPLAY m_fnPrintErr;
  void* m_pvRefErr;
};

// Asked once, right before the card is written, with the reference value registered with
// it: FALSE leaves the card as it is and ends the run without a word of the session's (the
// host program has its own reason, and says it).
using FCT_MAY_WRITE = BOOL32 (*)(void* pvRefData);

struct UX_WRITE_GATE {
  FCT_MAY_WRITE m_fnMayWrite;  // null: the card is always written
  void* m_pvRefMayWrite;
};

constexpr UINT32 UX_MAX_SWITCHES = 3;
constexpr UINT32 UX_OPTION_SIZE = 64;  // operand text with its NUL
constexpr UINT32 UX_SERIAL_NUMBER_SIZE = 16;
constexpr UINT32 UX_DEV_ID_SIZE = 32;

// Switch identifiers, in the order of the switch table.
enum UX_SWITCH_ID : UINT32 {
  UX_SWITCH_D = 0,
  UX_SWITCH_DEV = 1,
  UX_SWITCH_DS = 2,
  UX_SWITCH_DMCS = 3,
  UX_SWITCH_I = 4,
  UX_SWITCH_K = 5,
  UX_SWITCH_O = 6,
  UX_SWITCH_S = 7,
  UX_SWITCH_SCAN = 8,
  UX_SWITCH_TVOUT = 9,
};

// TV standards of /tvout, as stored in the slot's numeric operand.
constexpr UINT32 UX_TVOUT_NTSC = 0;
constexpr UINT32 UX_TVOUT_PAL = 1;

// The accepted switches; slot k describes the k-th switch of the command line.
struct SWITCH {
  std::array<UINT32, UX_MAX_SWITCHES> ulID;
  std::array<std::array<ACHAR, UX_OPTION_SIZE>, UX_MAX_SWITCHES> pszOption;
  std::array<UINT32, UX_MAX_SWITCHES> ulOption;
};

struct CMD {
  UINT8 ucNumOfSwitch;
  SWITCH hSwitch;
};

struct UX_DATA {
  PCIHANDLE hPci;
  // Not NUL-terminated when the serial number fills all 16 bytes.
  std::array<ACHAR, UX_SERIAL_NUMBER_SIZE> szSerialNumber;
  CMD hCmd;
  GBHANDLE hGB;
  GB_INFO hGBInfo;
  SEHANDLE hSE;
  SE_INFO hSEInfo;
  std::array<ACHAR, UX_DEV_ID_SIZE> pszDevID;
  UX_PRINT m_oPRINT;
  UX_WRITE_GATE m_oGATE;
};
using UXHANDLE = UX_DATA*;

// The session record is cleared and filled byte-wise.
static_assert(std::is_trivially_copyable_v<UX_DATA>, "UX_DATA is a plain record");
static_assert(std::is_standard_layout_v<UX_DATA>, "UX_DATA is a plain record");

struct UX_INFO {
  PCIHANDLE hPci;
  GBHANDLE hGB;
  SEHANDLE hSE;
};

UINT32 UxGetLibVersion();
UINT32 UxGetHandleSize();
// hPci 0: open the session on the first supported card that the bus scan finds.
UX_ERR UxCreateHandle(UXHANDLE hUx, PCIHANDLE hPci, FCT_DISPLAY fnDispOut, void* pvRefOut,
                      FCT_DISPLAY fnDispErr, void* pvRefErr);
// Parses and executes one command line; the string is lowered and cut in place.
UX_ERR UxExecLibrary(UXHANDLE hUx, ACHAR* pszCmdLine);
UX_ERR UxGetInfo(UXHANDLE hUx, UX_INFO* pUxInfo);
// Registers the host's say before the card is written; between creation and execution.
UX_ERR UxSetWriteGate(UXHANDLE hUx, FCT_MAY_WRITE fnMayWrite, void* pvRefData);
UX_ERR UxReleaseHandle(UXHANDLE hUx);
