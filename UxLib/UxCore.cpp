// The update session: opens the image object on the chosen card, parses the command line,
// lets /dev move the session, prints the board report and hands the switches on.
#include <array>
#include <cstdlib>
#include <cstring>
#include <string>

#include "TvrCpu.h"
#include "TvrPlatform.h"
#include "UxCmd.h"
#include "UxExec.h"
#include "UxGen.h"
#include "UxLib.h"
#include "UxPrint.h"

namespace {

constexpr const ACHAR* kMsgInvalidCmdLine = "ERROR! Invalid command line.";
constexpr const ACHAR* kMsgNoDevice =
    "ERROR! No Tavrin graphics hardware supported by this\n"
    "       software was detected in your system.";
constexpr const ACHAR* kMsgNoBoardInfo =
    "ERROR! Graphics hardware information couldn't be obtained.";
constexpr const ACHAR* kMsgPortsRefused = "ERROR! Access to the I/O ports was refused: ";
constexpr const ACHAR* kMsgMemoryOpenFailed = "\n       Opening /dev/mem failed: ";
constexpr const ACHAR* kMsgMemoryMapFailed =
    "\n       Mapping the registers through /dev/mem failed: ";

// The system's own words for why it refused the last request, as a sentence.
std::string RefusalText() {
  return std::string(std::strerror(TvrGetPlatform().RefusalReason())) + ".";
}

// Without port access no card can be found: say so first, so that the message about
// missing hardware that follows is not taken for the cause.
void ReportRefusedPorts(UXHANDLE hUx) {
  if (!cpuHavePortPrivilege()) {
    UxPrintErr(hUx, (kMsgPortsRefused + RefusalText() + "\n\n").c_str());
  }
}

// A memory device that did not open, or a mapping that failed, gets the system's reason
// beside the code: the platform keeps which request it refused.
void PrintNoBoardInfo(UXHANDLE hUx, UX_ERR code) {
  std::string text = std::string(kMsgNoBoardInfo) + " (#" + std::to_string(code) + ")";
  const TvrPlatform& platform = TvrGetPlatform();
  if (code == SE_ERR_MEMORY_MAP && platform.RefusalReason() != 0) {
    const bool mapping = platform.LastRequest() == TvrRequest::Mapping;
    text += (mapping ? kMsgMemoryMapFailed : kMsgMemoryOpenFailed) + RefusalText();
  }
  UxPrintErr(hUx, (text + "\n\n").c_str());
}

void FreeImageObject(UXHANDLE hUx) {
  if (hUx->hGB == nullptr) {
    return;
  }
  GBReleaseHandle(hUx->hGB);
  std::free(hUx->hGB);
  hUx->hGB = nullptr;
  // The EEPROM object belonged to the image object: forget what described it.
  hUx->hSE = nullptr;
  std::memset(&hUx->hGBInfo, 0, sizeof(hUx->hGBInfo));
  std::memset(&hUx->hSEInfo, 0, sizeof(hUx->hSEInfo));
}

// Makes hPci the current card with a fresh image object on it. After a failure the object
// holds nothing and the final release frees it.
UX_ERR OpenImageObject(UXHANDLE hUx, PCIHANDLE hPci) {
  FreeImageObject(hUx);
  hUx->hPci = hPci;
  hUx->hGB = static_cast<GBHANDLE>(std::calloc(1, GBGetHandleSize()));
  if (hUx->hGB == nullptr) {
    return UX_ERR_REFUSED;
  }
  const UX_ERR result = GBCreateHandle(hUx->hGB, hPci);
  if (result != UX_OK) {
    PrintNoBoardInfo(hUx, result);
    return result;
  }
  GBGetInfo(hUx->hGB, &hUx->hGBInfo);
  hUx->hSE = hUx->hGBInfo.hSE;
  SEGetInfo(hUx->hSE, &hUx->hSEInfo);
  return UX_OK;
}

// Fails the creation: says why, releases what the session holds.
UX_ERR FailCreation(UXHANDLE hUx, const ACHAR* pszMessage, UX_ERR code) {
  UxPrintErrMessage(hUx, pszMessage);
  UxReleaseHandle(hUx);
  return code;
}

// Moves the session to every card named by /dev, in command-line order; the result of the
// last move that created an image object.
UX_ERR SelectCards(UXHANDLE hUx) {
  UX_ERR result = UX_OK;
  const CMD& cmd = hUx->hCmd;
  for (UINT32 slot = 0; slot < cmd.ucNumOfSwitch; ++slot) {
    const UINT32 location = cmd.hSwitch.ulOption[slot];
    if (cmd.hSwitch.ulID[slot] == UX_SWITCH_DEV && location != hUx->hPci) {
      result = OpenImageObject(hUx, location);
    }
  }
  return result;
}

}  // namespace

UINT32 UxGetLibVersion() { return UX_LIB_VERSION; }

UINT32 UxGetHandleSize() { return sizeof(UX_DATA); }

UX_ERR UxCreateHandle(UXHANDLE hUx, PCIHANDLE hPci, FCT_DISPLAY fnDispOut, void* pvRefOut,
                      FCT_DISPLAY fnDispErr, void* pvRefErr) {
  if (hUx == nullptr) {
    return UX_ERR_INVALID_HANDLE;
  }
  std::memset(hUx, 0, sizeof(*hUx));
  UxPrintInit(hUx, fnDispOut, pvRefOut, fnDispErr, pvRefErr);
  ReportRefusedPorts(hUx);
  PCIHANDLE location = hPci;
  if (location == 0) {
    std::array<PCIHANDLE, UX_PCI_LIST_SIZE> list{};
    UINT32 count = 0;
    if (!SetPCIHANDLE(list.data(), &count)) {
      return FailCreation(hUx, kMsgNoDevice, UX_ERR_NO_DEVICE);
    }
    location = list[0];
  } else if (!IsBoardSupported(location)) {
    return FailCreation(hUx, kMsgNotSupported, UX_ERR_NOT_SUPPORTED);
  }
  const UX_ERR result = OpenImageObject(hUx, location);
  if (result != UX_OK) {
    UxReleaseHandle(hUx);
  }
  return result;
}

UX_ERR UxExecLibrary(UXHANDLE hUx, ACHAR* pszCmdLine) {
  if (hUx == nullptr) {
    return UX_ERR_INVALID_HANDLE;
  }
  if (pszCmdLine == nullptr || !InitCmd(hUx, pszCmdLine)) {
    UxPrintErrMessage(hUx, kMsgInvalidCmdLine);
    return UX_ERR_INVALID_CMD_LINE;
  }
  const UX_ERR selected = SelectCards(hUx);
  if (selected != UX_OK) {
    return selected;
  }
  if (!DisplayBoardInfo(hUx)) {
    UxPrintErrMessage(hUx, kMsgNoBoardInfo);
    return UX_ERR_BOARD_INFO;
  }
  return ProcessCmd(hUx);
}

UX_ERR UxGetInfo(UXHANDLE hUx, UX_INFO* pUxInfo) {
  if (hUx == nullptr || pUxInfo == nullptr) {
    return UX_ERR_INVALID_HANDLE;
  }
  pUxInfo->hPci = hUx->hPci;
  pUxInfo->hGB = hUx->hGB;
  pUxInfo->hSE = hUx->hSE;
  return UX_OK;
}

UX_ERR UxSetWriteGate(UXHANDLE hUx, FCT_MAY_WRITE fnMayWrite, void* pvRefData) {
  if (hUx == nullptr) {
    return UX_ERR_INVALID_HANDLE;
  }
  hUx->m_oGATE = UX_WRITE_GATE{fnMayWrite, pvRefData};
  return UX_OK;
}

UX_ERR UxReleaseHandle(UXHANDLE hUx) {
  if (hUx == nullptr) {
    return UX_ERR_INVALID_HANDLE;
  }
  FreeImageObject(hUx);
  return UX_OK;
}
