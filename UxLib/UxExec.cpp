#include "UxExec.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <string>
#include <vector>

#include "UxFile.h"
#include "UxGen.h"
#include "UxPrint.h"

namespace {

constexpr const ACHAR* kMsgFileNotOpened = "ERROR! The following file couldn't be opened:";
constexpr const ACHAR* kMsgFileNotCreated = "ERROR! The following file couldn't be created:";
constexpr const ACHAR* kMsgFileCreated =
    "SUCCESS! The following file has been successfully created:";
constexpr const ACHAR* kMsgInvalidBiosFile =
    "ERROR! An invalid Tavrin BIOS file has been encountered.";
constexpr const ACHAR* kMsgFileMismatch =
    "ERROR! The selected BIOS file doesn't match your Tavrin graphics hardware.";
constexpr const ACHAR* kMsgWarning =
    "WARNING! Don't restart or turn off your computer while\n"
    "         the BIOS of your Tavrin graphics hardware is\n"
    "         being updated.";
constexpr const ACHAR* kMsgUpdateFailed =
    "ERROR! The BIOS of your Tavrin graphics hardware couldn't be updated.";
constexpr const ACHAR* kMsgUpdated = "SUCCESS! Programming of Tavrin BIOS is completed.";
constexpr const ACHAR* kMsgRestart =
    "For changes to take effect, your computer must be restarted.\n"
    "Before your computer is restarted, close all programs and\n"
    "remove any disk from your disk drives.";
constexpr const ACHAR* kMsgPinsNotDisplayed =
    "ERROR! Product information structure couldn't be displayed.";
constexpr const ACHAR* kMsgInvalidPinsFile =
    "ERROR! An invalid product information structure file has been encountered.";
constexpr const ACHAR* kScanHeading = "Device  Model\n------  -----\n\n";
constexpr const ACHAR* kScanEnd = "\n";
constexpr const ACHAR* kUnknown = "Unknown";

// A listing or display that could not be written whole is as lost as an unwritten file.
constexpr UX_ERR kErrTextLost = UX_ERR_FILE;

constexpr INT32 kPinsTextSize = 4096;
constexpr INT32 kMcsBufferSize = 4096;
constexpr UINT32 kModelSize = 64;
// The TV-out standard is bit 0 of this PInS byte: 0 NTSC, 1 PAL.
constexpr INT32 kPinsTvOutByte = 161;
constexpr UINT8 kPinsTvOutPal = 0x01;

// Reads a whole file. False when it cannot be opened or read to its end: a short read is as
// unusable as a missing file. Only a regular file has a whole to read: a FIFO, a terminal or
// another device could keep the run waiting with the card held, so it is refused at once,
// and the open itself never waits for a writer or a carrier. A zero byte follows the content
// (not counted in its size).
bool ReadWholeFile(const ACHAR* pszFileName, std::vector<UINT8>& content) {
  const int fd = ::open(pszFileName, O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
  if (fd < 0) {
    return false;
  }
  struct stat64 info {};
  bool whole = ::fstat64(fd, &info) == 0 && S_ISREG(info.st_mode) && info.st_size >= 0 &&
               info.st_size <= std::numeric_limits<INT32>::max() - 1;
  const auto length = whole ? static_cast<std::size_t>(info.st_size) : 0;
  content.assign(length + 1, 0);
  std::size_t done = 0;
  while (whole && done < length) {
    const ssize_t got = ::read(fd, content.data() + done, length - done);
    whole = got > 0 || (got < 0 && errno == EINTR);
    done += got > 0 ? static_cast<std::size_t>(got) : 0;
  }
  ::close(fd);
  content.resize(length);
  return whole;
}

UX_ERR FileNotOpened(UXHANDLE hUx, const ACHAR* pszFileName) {
  UxPrintErrFileMessage(hUx, kMsgFileNotOpened, pszFileName);
  return UX_ERR_FILE;
}

UX_ERR FileNotCreated(UXHANDLE hUx, const ACHAR* pszFileName) {
  UxPrintErrFileMessage(hUx, kMsgFileNotCreated, pszFileName);
  return UX_ERR_FILE;
}

// Writes a finished file and reports it; 1, or 30005 after the "couldn't be created" message.
UX_ERR FinishFile(UXHANDLE hUx, UxOutFile& file, const ACHAR* pszFileName, const void* pvData,
                  std::size_t size) {
  if (!file.Commit(pvData, size)) {
    return FileNotCreated(hUx, pszFileName);
  }
  UxPrintOutFileMessage(hUx, kMsgFileCreated, pszFileName);
  return UX_OK;
}

// A library call failed while a file was being made: the new file goes, the code is
// explained.
UX_ERR AbandonFile(UXHANDLE hUx, UxOutFile& file, const ACHAR* pszFileName, UX_ERR code) {
  file.Discard();
  if (!DispatchErrMsg(hUx, static_cast<UINT32>(code))) {
    FileNotCreated(hUx, pszFileName);
  }
  return code;
}

// Prints the message for a failed library call, or the fallback when none is known.
void ExplainFailure(UXHANDLE hUx, UX_ERR code, const ACHAR* pszFallback) {
  if (!DispatchErrMsg(hUx, static_cast<UINT32>(code))) {
    UxPrintErrMessage(hUx, pszFallback);
  }
}

// One row of the dispatch table: how to run a switch and whether it changes the image.
struct SwitchHandler {
  UX_ERR (*run)(UXHANDLE hUx, UINT32 slot);
  bool changesImage;
};

const ACHAR* Operand(UXHANDLE hUx, UINT32 slot) { return hUx->hCmd.hSwitch.pszOption[slot].data(); }

// Indexed by switch identifier.
constexpr std::array<SwitchHandler, UX_SWITCH_TVOUT + 1> kHandlers{{
    {[](UXHANDLE h, UINT32 s) { return ProcessD_SWITCH(h, Operand(h, s)); }, false},
    // /dev moved the session before the board report.
    {[](UXHANDLE, UINT32) { return UX_OK; }, false},
    {[](UXHANDLE h, UINT32) { return ProcessDS_SWITCH(h); }, false},
    {[](UXHANDLE h, UINT32 s) { return ProcessDMCS_SWITCH(h, Operand(h, s)); }, false},
    {[](UXHANDLE h, UINT32 s) { return ProcessI_SWITCH(h, Operand(h, s), FALSE); }, true},
    {[](UXHANDLE h, UINT32 s) { return ProcessI_SWITCH(h, Operand(h, s), TRUE); }, true},
    {[](UXHANDLE h, UINT32 s) { return ProcessO_SWITCH(h, Operand(h, s)); }, false},
    {[](UXHANDLE h, UINT32 s) { return ProcessS_SWITCH(h, Operand(h, s)); }, true},
    {[](UXHANDLE h, UINT32) { return ProcessSCAN_SWITCH(h); }, false},
    {[](UXHANDLE h, UINT32 s) { return ProcessTVOUT_SWITCH(h, h->hCmd.hSwitch.ulOption[s]); },
     true},
}};

bool MayWrite(UXHANDLE hUx) {
  const UX_WRITE_GATE& gate = hUx->m_oGATE;
  return gate.m_fnMayWrite == nullptr || gate.m_fnMayWrite(gate.m_pvRefMayWrite) != FALSE;
}

UX_ERR WriteImageBack(UXHANDLE hUx) {
  if (!MayWrite(hUx)) {
    return UX_ERR_REFUSED;
  }
  UxPrintOutMessage(hUx, kMsgWarning);
  SESetWriteStatusFct(hUx->hSE, UxDisplayProgBar, hUx);
  const UX_ERR result = GBWriteImageToHW(hUx->hGB);
  if (result != UX_OK) {
    UxPrintErrMessage(hUx, kMsgUpdateFailed);
    return result;
  }
  UxPrintOutMessage(hUx, kMsgUpdated);
  UxPrintOutMessage(hUx, kMsgRestart);
  return UX_OK;
}

// Checks a BIOS file, reports it and loads it into the image object.
UX_ERR LoadBiosFile(UXHANDLE hUx, std::vector<UINT8>& file, BOOL32 bBypassPInS) {
  const auto length = static_cast<UINT32>(file.size());
  if (!IsValidBinFile(file.data(), length)) {
    UxPrintErrMessage(hUx, kMsgInvalidBiosFile);
    return UX_ERR_REFUSED;
  }
  if (!IsBinFileMatchWithBoard(hUx->hPci, file.data(), length)) {
    UxPrintErrMessage(hUx, kMsgFileMismatch);
    return UX_ERR_REFUSED;
  }
  DisplayBinaryFileInfo(hUx, file.data(), length);
  const UX_ERR result =
      GBSetBIOS(hUx->hGB, file.data(), static_cast<INT32>(length), bBypassPInS ? 1 : 0);
  if (result != UX_OK) {
    ExplainFailure(hUx, result, kMsgInvalidBiosFile);
  }
  return result;
}

// What the listing shows of a card other than the session's.
struct OtherCard {
  std::array<ACHAR, kModelSize> model{};
  std::array<ACHAR, UX_SERIAL_NUMBER_SIZE> serial{};
  UX_ERR result = UX_OK;  // of reading its PInS
};

// Reads another card through a short-lived image object of its own.
OtherCard ReadOtherCard(PCIHANDLE hPci) {
  OtherCard card;
  const auto hGB = static_cast<GBHANDLE>(std::calloc(1, GBGetHandleSize()));
  if (hGB == nullptr) {
    card.result = UX_ERR_REFUSED;
    std::strcpy(card.serial.data(), kUnknown);
    return card;
  }
  GBCreateHandle(hGB, hPci);
  GetGrapCardModel(hPci, card.model.data(), kModelSize);
  std::array<UINT8, GB_PINS_SIZE> pins{};
  INT32 written = 0;
  card.result = GBGetPInSInBuffer(hGB, pins.data(), GB_PINS_SIZE, &written);
  if (card.result == UX_OK) {
    GetGrapCardSerialNumber(hPci, pins.data(), card.serial.data());
  } else {
    std::strcpy(card.serial.data(), kUnknown);
  }
  GBReleaseHandle(hGB);
  std::free(hGB);
  return card;
}

std::string ScanLine(PCIHANDLE hPci, const ACHAR* pszModel, const ACHAR* pszSerialNumber) {
  std::array<ACHAR, 16> location{};
  std::snprintf(location.data(), location.size(), "%x", static_cast<unsigned>(hPci));
  // A serial number may fill its 16 bytes without a terminator.
  const std::string serial(pszSerialNumber, strnlen(pszSerialNumber, UX_SERIAL_NUMBER_SIZE));
  return std::string(location.data()) + "     " + pszModel + ", #" + serial + "\n";
}

}  // namespace

UX_ERR ProcessCmd(UXHANDLE hUx) {
  UX_ERR result = UX_ERR_REFUSED;
  bool writeImage = false;
  const CMD& cmd = hUx->hCmd;
  for (UINT32 slot = 0; slot < cmd.ucNumOfSwitch; ++slot) {
    const SwitchHandler& handler = kHandlers.at(cmd.hSwitch.ulID[slot]);
    result = handler.run(hUx, slot);
    writeImage = writeImage || handler.changesImage;
    if (result != UX_OK) {
      return result;
    }
  }
  return writeImage ? WriteImageBack(hUx) : result;
}

UX_ERR ProcessI_SWITCH(UXHANDLE hUx, const ACHAR* pszFileName, BOOL32 bBypassPInS) {
  std::vector<UINT8> file;
  if (!ReadWholeFile(pszFileName, file)) {
    return FileNotOpened(hUx, pszFileName);
  }
  return LoadBiosFile(hUx, file, bBypassPInS);
}

UX_ERR ProcessO_SWITCH(UXHANDLE hUx, const ACHAR* pszFileName) {
  UxOutFile file(pszFileName);
  if (!file.IsOpen()) {
    return FileNotCreated(hUx, pszFileName);
  }
  std::vector<UINT8> image(hUx->hSEInfo.ulSEepromSize);
  const UX_ERR result =
      GBReadImageFromHW(hUx->hGB, image.data(), static_cast<UINT32>(image.size()));
  if (result != UX_OK) {
    return AbandonFile(hUx, file, pszFileName, result);
  }
  return FinishFile(hUx, file, pszFileName, image.data(), image.size());
}

UX_ERR ProcessD_SWITCH(UXHANDLE hUx, const ACHAR* pszFileName) {
  UxOutFile file(pszFileName);
  if (!file.IsOpen()) {
    return FileNotCreated(hUx, pszFileName);
  }
  std::vector<ACHAR> text(kPinsTextSize);
  const UX_ERR result = GBGetPInSInASCIIBuffer(hUx->hGB, text.data(), kPinsTextSize);
  if (result != UX_OK) {
    return AbandonFile(hUx, file, pszFileName, result);
  }
  return FinishFile(hUx, file, pszFileName, text.data(), strnlen(text.data(), text.size()));
}

UX_ERR ProcessDS_SWITCH(UXHANDLE hUx) {
  // One byte is kept back for the line break added after the text.
  std::vector<ACHAR> text(kPinsTextSize);
  const UX_ERR result = GBGetPInSInASCIIBuffer(hUx->hGB, text.data(), kPinsTextSize - 1);
  if (result != UX_OK) {
    ExplainFailure(hUx, result, kMsgPinsNotDisplayed);
    return result;
  }
  const std::string shown = std::string(text.data(), strnlen(text.data(), text.size())) + "\n";
  if (!UxPrintOut(hUx, shown.c_str())) {
    UxPrintErrMessage(hUx, kMsgPinsNotDisplayed);
    return kErrTextLost;
  }
  return UX_OK;
}

UX_ERR ProcessDMCS_SWITCH(UXHANDLE hUx, const ACHAR* pszFileName) {
  UxOutFile file(pszFileName);
  if (!file.IsOpen()) {
    return FileNotCreated(hUx, pszFileName);
  }
  std::vector<UINT8> mcs(kMcsBufferSize);
  INT32 written = 0;
  const UX_ERR result = GBGetMCSInBuffer(hUx->hGB, mcs.data(), kMcsBufferSize, &written);
  if (result != UX_OK) {
    return AbandonFile(hUx, file, pszFileName, result);
  }
  return FinishFile(hUx, file, pszFileName, mcs.data(), static_cast<std::size_t>(written));
}

UX_ERR ProcessS_SWITCH(UXHANDLE hUx, const ACHAR* pszFileName) {
  std::vector<UINT8> text;
  if (!ReadWholeFile(pszFileName, text)) {
    return FileNotOpened(hUx, pszFileName);
  }
  const UX_ERR result = GBSetPInSFromASCIIBuffer(hUx->hGB, reinterpret_cast<ACHAR*>(text.data()),
                                                 static_cast<INT32>(text.size()));
  if (result != UX_OK) {
    ExplainFailure(hUx, result, kMsgInvalidPinsFile);
  }
  return result;
}

UX_ERR ProcessTVOUT_SWITCH(UXHANDLE hUx, UINT32 ulTVOutStandard) {
  std::array<UINT8, GB_PINS_SIZE> pins{};
  INT32 written = 0;
  UX_ERR result = GBGetPInSInBuffer(hUx->hGB, pins.data(), GB_PINS_SIZE, &written);
  // A record too short to hold the TV-out byte in front of its checksum byte cannot carry
  // the setting: the checksum would overwrite it.
  if (result == UX_OK && written <= kPinsTvOutByte + 1) {
    result = GB_ERR_INVALID_PINS;
  }
  if (result == UX_OK) {
    pins[kPinsTvOutByte] =
        static_cast<UINT8>(ulTVOutStandard == UX_TVOUT_PAL ? pins[kPinsTvOutByte] | kPinsTvOutPal
                                                           : pins[kPinsTvOutByte] & ~kPinsTvOutPal);
    result = GBSetPInSFromBuffer(hUx->hGB, pins.data(), GB_PINS_SIZE);
  }
  // A PInS that cannot be read or written is not a TV-out change: say so, so that the run
  // stops instead of reflashing an unchanged image.
  if (result != UX_OK && !DispatchErrMsg(hUx, static_cast<UINT32>(result))) {
    DispatchErrMsg(hUx, static_cast<UINT32>(GB_ERR_INVALID_PINS));
  }
  return result;
}

UX_ERR ProcessSCAN_SWITCH(UXHANDLE hUx) {
  std::array<PCIHANDLE, UX_PCI_LIST_SIZE> list{};
  UINT32 count = 0;
  if (!SetPCIHANDLE(list.data(), &count)) {
    return UxPrintOut(hUx, kScanEnd) ? UX_OK : kErrTextLost;
  }
  bool bWhole = UxPrintOut(hUx, kScanHeading) != FALSE;
  UX_ERR result = UX_OK;
  const UINT32 listed = count < list.size() ? count : static_cast<UINT32>(list.size());
  for (UINT32 i = 0; i < listed; ++i) {
    const PCIHANDLE location = list[i];
    std::string line;
    if (location == hUx->hPci) {
      line = ScanLine(location, hUx->pszDevID.data(), hUx->szSerialNumber.data());
    } else {
      const OtherCard card = ReadOtherCard(location);
      result = card.result;
      line = ScanLine(location, card.model.data(), card.serial.data());
    }
    bWhole = UxPrintOut(hUx, line.c_str()) != FALSE && bWhole;
  }
  bWhole = UxPrintOut(hUx, kScanEnd) != FALSE && bWhole;
  return bWhole ? result : kErrTextLost;
}
