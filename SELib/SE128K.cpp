// The SPI flash commands over the bit transport (SESpi.cpp): identification, read, chip
// erase, programming with read-back verification, and block protection together with the
// card's hardware write protection.
#include <array>
#include <cstring>
#include <memory>
#include <new>

#include "SEInternal.h"
#include "TvrTimer.h"

namespace {
constexpr UINT8 kCmdWriteStatus = 0x01;
constexpr UINT8 kCmdPageProgram = 0x02;
constexpr UINT8 kCmdRead = 0x03;
constexpr UINT8 kCmdWriteDisable = 0x04;
constexpr UINT8 kCmdReadStatus = 0x05;
constexpr UINT8 kCmdWriteEnable = 0x06;
constexpr UINT8 kCmdEnableWriteStatus = 0x50;
constexpr UINT8 kCmdAutoIncrementProgram = 0xAF;

constexpr UINT8 kStatusBusy = 0x01;
constexpr UINT8 kStatusLevelShift = 2;
constexpr UINT8 kStatusLevelMask = 0x03;
constexpr UINT8 kStatusWriteBase = 0x80;  // bit 7 is written as 1 in every status write

constexpr UINT8 kLevelUnprotected = 0;
constexpr UINT8 kLevelProtected = 3;

constexpr UINT32 kStatusWaitReads = 2000;
constexpr UINT32 kEraseWaitReads = 200000;
constexpr DWORD kEraseReadDelayUs = 1000;
constexpr UINT32 kMaxProgrammingPasses = 3;
constexpr UINT32 kAutoIncrementReportStep = 256;

// The identification commands, tried in this order, and the answer bytes each reads.
struct SE_PROBE {
  std::array<UINT8, 4> aucCommand;
  UINT32 ulCommandLength;
  UINT32 ulAnswerLength;
};
constexpr std::array<SE_PROBE, 2> kProbes = {{
    {.aucCommand = {0x15, 0x00, 0x00, 0x00}, .ulCommandLength = 1, .ulAnswerLength = 1},
    {.aucCommand = {0xAB, 0x00, 0x00, 0x00}, .ulCommandLength = 4, .ulAnswerLength = 2},
}};
using SE_ANSWER = std::array<UINT8, 2>;

struct SE_PART {
  const char* pszName;
  UINT32 ulProbe;               // index into kProbes
  UINT8 ucMakerID;              // first answer byte, kept as m_ulSEepromID
  bool bCheckDeviceID = false;  // whether the second answer byte must match too
  UINT8 ucDeviceID = 0;
  UINT32 ulPage;
  UINT32 ulSize;
  SE_WRITE_FCT fnWrite;
  UINT8 ucEraseOpcode;
  UINT8 ucStatusWriteEnable;
};
constexpr std::array<SE_PART, 3> kParts = {{
    {.pszName = "ATMEL AT25F1024",
     .ulProbe = 0,
     .ucMakerID = 0x1F,
     .ulPage = 256,
     .ulSize = SE_CAPACITY,
     .fnWrite = SE128K_ATMEL_STWrite,
     .ucEraseOpcode = 0x62,
     .ucStatusWriteEnable = kCmdWriteEnable},
    {.pszName = "ST M25P10",
     .ulProbe = 1,
     .ucMakerID = 0x10,
     .ulPage = 128,
     .ulSize = SE_CAPACITY,
     .fnWrite = SE128K_ATMEL_STWrite,
     .ucEraseOpcode = 0xC7,
     .ucStatusWriteEnable = kCmdWriteEnable},
    {.pszName = "SST SST25VF010",
     .ulProbe = 1,
     .ucMakerID = 0xBF,
     .bCheckDeviceID = true,
     .ucDeviceID = 0x49,
     .ulPage = 1,
     .ulSize = SE_CAPACITY,
     .fnWrite = SE128K_SSTWrite,
     .ucEraseOpcode = 0x60,
     .ucStatusWriteEnable = kCmdEnableWriteStatus},
}};

// A pass walks whole pages up to the capacity, so every page size must divide it.
constexpr bool PagesTileTheCapacity() {
  for (const SE_PART& oPart : kParts) {
    if (oPart.ulPage == 0 || oPart.ulSize != SE_CAPACITY || SE_CAPACITY % oPart.ulPage != 0) {
      return false;
    }
  }
  return true;
}
static_assert(PagesTileTheCapacity(), "every page size divides the capacity");

constexpr bool ProbesFitTheirBuffers() {
  for (const SE_PROBE& oProbe : kProbes) {
    if (oProbe.ulCommandLength > oProbe.aucCommand.size() ||
        oProbe.ulAnswerLength > SE_ANSWER{}.size()) {
      return false;
    }
  }
  for (const SE_PART& oPart : kParts) {
    if (oPart.ulProbe >= kProbes.size()) {
      return false;
    }
  }
  return true;
}
static_assert(ProbesFitTheirBuffers(), "identification stays inside its command and answer");

const SE_PART* SE128KFindPart(UINT32 ulMakerID) {
  for (const SE_PART& oPart : kParts) {
    if (oPart.ucMakerID == ulMakerID) {
      return &oPart;
    }
  }
  return nullptr;
}

void SE128KSendCommandAddress(SEHANDLE hSE, UINT8 ucOpcode, UINT32 ulAddress) {
  const std::array<UINT8, 4> aucBytes = {ucOpcode, static_cast<UINT8>(ulAddress >> 16),
                                         static_cast<UINT8>(ulAddress >> 8),
                                         static_cast<UINT8>(ulAddress)};
  SE128KSendBytes(hSE, aucBytes.data(), static_cast<UINT32>(aucBytes.size()));
}

// One command of a single byte, framed by its own chip-select cycle.
void SE128KShortCommand(SEHANDLE hSE, UINT8 ucOpcode) {
  SETableE2P_SetChipSelect_Low(hSE);
  SE128KSendData(hSE, ucOpcode);
  SETableE2P_SetChipSelect_High(hSE);
}

UINT8 SE128KStatusCommand(SEHANDLE hSE) {
  SETableE2P_SetChipSelect_Low(hSE);
  SE128KSendData(hSE, kCmdReadStatus);
  const UINT8 ucStatus = SE128KReceiveData(hSE);
  SETableE2P_SetChipSelect_High(hSE);
  return ucStatus;
}

// Running out of reads is not an error here: the verification that follows decides.
void SE128KWaitReady(SEHANDLE hSE) {
  for (UINT32 ulWatchDog = 0; ulWatchDog < kStatusWaitReads; ++ulWatchDog) {
    if ((SE128KStatusCommand(hSE) & kStatusBusy) == 0) {
      return;
    }
  }
}

bool SE128KRunProbe(SEHANDLE hSE, const SE_PROBE& oProbe, SE_ANSWER& aucAnswer) {
  if (!SE128KEnableE2P(hSE)) {
    return false;
  }
  SETableE2P_SetChipSelect_Low(hSE);
  SE128KSendBytes(hSE, oProbe.aucCommand.data(), oProbe.ulCommandLength);
  for (UINT32 i = 0; i < oProbe.ulAnswerLength; ++i) {
    aucAnswer[i] = SE128KReceiveData(hSE);
  }
  SETableE2P_SetChipSelect_High(hSE);
  SE128KDisableE2P(hSE);
  return true;
}

bool SE128KAnswerMatches(const SE_PART& oPart, const SE_ANSWER& aucAnswer) {
  return aucAnswer[0] == oPart.ucMakerID &&
         (!oPart.bCheckDeviceID || aucAnswer[1] == oPart.ucDeviceID);
}

void SE128KRecordPart(SEHANDLE hSE, const SE_PART& oPart) {
  SE_128K& oRecord = hSE->m_oSE128K;
  oRecord.m_ulSEepromID = oPart.ucMakerID;
  oRecord.m_ulSEepromPage = oPart.ulPage;
  oRecord.m_ulSEepromSize = oPart.ulSize;
  std::memset(oRecord.m_pszSEepromID, 0, sizeof(oRecord.m_pszSEepromID));
  std::strncpy(reinterpret_cast<char*>(oRecord.m_pszSEepromID), oPart.pszName,
               sizeof(oRecord.m_pszSEepromID) - 1);
  hSE->m_oTableMain.SERead = SE128KRead;
  hSE->m_oTableMain.SEWrite = oPart.fnWrite;
}

void SE128KReportProgress(SEHANDLE hSE, UINT32 ulPosition) {
  const UPDATE_STATUS& oStatus = hSE->m_oUpdateStatus;
  if (oStatus.m_fnWriteStatus != nullptr) {
    oStatus.m_fnWriteStatus(static_cast<INT32>(ulPosition), static_cast<INT32>(SE_CAPACITY),
                            oStatus.m_pvRefIn);
  }
}

// A verification buffer that cannot be had counts as a failed verification.
bool SE128KVerify(SEHANDLE hSE, const UINT8* pucExpected, UINT32 ulStartIndex, UINT32 ulSize) {
  const std::unique_ptr<UINT8[]> pucRead(new (std::nothrow) UINT8[ulSize]);
  return pucRead != nullptr && SE128KRead(hSE, ulStartIndex, ulSize, pucRead.get()) == TRUE &&
         std::memcmp(pucRead.get(), pucExpected + ulStartIndex, ulSize) == 0;
}

// Atmel and ST: one page command per page, each followed by its own status wait.
void SE128KPagePass(SEHANDLE hSE, const UINT8* pucBuffer, UINT32 ulSize) {
  const UINT32 ulPage = hSE->m_oSE128K.m_ulSEepromPage;
  for (UINT32 ulIndex = 0; ulIndex < ulSize; ulIndex += ulPage) {
    if (!SE128KEnableE2P(hSE)) {
      continue;
    }
    SE128KShortCommand(hSE, kCmdWriteEnable);
    SETableE2P_SetChipSelect_Low(hSE);
    SE128KSendCommandAddress(hSE, kCmdPageProgram, ulIndex);
    SE128KSendBytes(hSE, pucBuffer + ulIndex, ulPage);
    SE128KReportProgress(hSE, ulIndex + ulPage);
    SETableE2P_SetChipSelect_High(hSE);  // the part starts programming the page
    SE128KWaitReady(hSE);
    SE128KDisableE2P(hSE);
  }
}

// SST: one auto-address-increment sequence from address 0, ended by write disable.
void SE128KAutoIncrementPass(SEHANDLE hSE, const UINT8* pucBuffer, UINT32 ulSize) {
  if (!SE128KEnableE2P(hSE)) {
    return;
  }
  const UINT32 ulPage = hSE->m_oSE128K.m_ulSEepromPage;
  SE128KShortCommand(hSE, kCmdWriteEnable);
  SETableE2P_SetChipSelect_Low(hSE);
  SE128KSendCommandAddress(hSE, kCmdAutoIncrementProgram, 0);
  for (UINT32 ulIndex = 0; ulIndex < ulSize; ulIndex += ulPage) {
    SE128KSendBytes(hSE, pucBuffer + ulIndex, ulPage);
    SETableE2P_SetChipSelect_High(hSE);  // the part programs the byte
    if ((ulIndex + ulPage) % kAutoIncrementReportStep == 0) {
      SE128KReportProgress(hSE, ulIndex + ulPage);
    }
    SE128KWaitReady(hSE);
    SETableE2P_SetChipSelect_Low(hSE);
    const bool bLast = ulIndex + ulPage == ulSize;
    SE128KSendData(hSE, bLast ? kCmdWriteDisable : kCmdAutoIncrementProgram);
  }
  SETableE2P_SetChipSelect_High(hSE);
  SE128KDisableE2P(hSE);
}

using SE_PASS_FCT = void (*)(SEHANDLE hSE, const UINT8* pucBuffer, UINT32 ulSize);

// Lift both protections, erase once, program and verify up to three passes, protect again.
// Once the protection has been touched, the write always ends protected.
BOOL32 SE128KWriteImage(SEHANDLE hSE, const UINT8* pucBuffer, UINT32 ulStartIndex, UINT32 ulSize,
                        SE_PASS_FCT fnPass) {
  if (ulStartIndex != 0 || ulSize != hSE->m_oSE128K.m_ulSEepromSize) {
    return FALSE;
  }
  bool bVerified = false;
  if (SE128KSetProtection(hSE, kLevelUnprotected) && SE128KErase(hSE)) {
    for (UINT32 ulFlashTries = 1; ulFlashTries <= kMaxProgrammingPasses && !bVerified;
         ++ulFlashTries) {
      fnPass(hSE, pucBuffer, ulSize);
      bVerified = SE128KVerify(hSE, pucBuffer, ulStartIndex, ulSize);
    }
  }
  SE128KSetProtection(hSE, kLevelProtected);
  return bVerified ? TRUE : FALSE;
}
}  // namespace

BOOL32 SE128KReadStatusSPI(SEHANDLE hSE, UINT8* pucStatus) {
  *pucStatus = 0;
  if (!SE128KEnableE2P(hSE)) {
    return FALSE;
  }
  *pucStatus = SE128KStatusCommand(hSE);
  SE128KDisableE2P(hSE);
  return TRUE;
}

BOOL32 SE128KGetInfo(SEHANDLE hSE) {
  for (UINT32 ulProbe = 0; ulProbe < kProbes.size(); ++ulProbe) {
    SE_ANSWER aucAnswer{};
    if (!SE128KRunProbe(hSE, kProbes[ulProbe], aucAnswer)) {
      continue;
    }
    for (const SE_PART& oPart : kParts) {
      if (oPart.ulProbe == ulProbe && SE128KAnswerMatches(oPart, aucAnswer)) {
        SE128KRecordPart(hSE, oPart);
        return TRUE;
      }
    }
  }
  return FALSE;
}

BOOL32 SE128KRead(SEHANDLE hSE, UINT32 ulStartIndex, UINT32 ulSize, UINT8* pucBuffer) {
  if (!SE128KEnableE2P(hSE)) {
    return FALSE;
  }
  SETableE2P_SetChipSelect_Low(hSE);
  SE128KSendCommandAddress(hSE, kCmdRead, ulStartIndex);
  for (UINT32 i = 0; i < ulSize; ++i) {
    pucBuffer[i] = SE128KReceiveData(hSE);
  }
  SETableE2P_SetChipSelect_High(hSE);
  SE128KDisableE2P(hSE);
  return TRUE;
}

// The card's protection is lifted before the part's level goes to 0 and applied after it
// goes to 3, so the part's status register is only ever written while the pin allows it.
BOOL32 SE128KSetProtection(SEHANDLE hSE, UINT8 ucBlock) {
  const SE_PART* pPart = SE128KFindPart(hSE->m_oSE128K.m_ulSEepromID);
  if (pPart == nullptr || ucBlock > kStatusLevelMask || !SE128KEnableE2P(hSE)) {
    return FALSE;
  }
  const auto fnSetHWProtection = hSE->m_oTableBoard.SetHWProtection;
  if (ucBlock == kLevelUnprotected) {
    fnSetHWProtection(hSE, FALSE);
  }
  SE128KShortCommand(hSE, pPart->ucStatusWriteEnable);
  SETableE2P_SetChipSelect_Low(hSE);
  SE128KSendData(hSE, kCmdWriteStatus);
  SE128KSendData(hSE, static_cast<UINT8>(kStatusWriteBase | (ucBlock << kStatusLevelShift)));
  SETableE2P_SetChipSelect_High(hSE);
  SE128KWaitReady(hSE);
  const UINT8 ucStatus = SE128KStatusCommand(hSE);
  if (ucBlock == kLevelProtected) {
    fnSetHWProtection(hSE, TRUE);
  }
  SE128KDisableE2P(hSE);
  return ((ucStatus >> kStatusLevelShift) & kStatusLevelMask) == ucBlock ? TRUE : FALSE;
}

// Bounded by one watch period of status reads, each after a 1 ms delay; a part still busy
// at its end fails the erase.
BOOL32 SE128KErase(SEHANDLE hSE) {
  const SE_PART* pPart = SE128KFindPart(hSE->m_oSE128K.m_ulSEepromID);
  if (pPart == nullptr || !SE128KEnableE2P(hSE)) {
    return FALSE;
  }
  SE128KShortCommand(hSE, kCmdWriteEnable);
  SE128KShortCommand(hSE, pPart->ucEraseOpcode);
  bool bReady = false;
  for (UINT32 ulWatchDog = 0; ulWatchDog < kEraseWaitReads && !bReady; ++ulWatchDog) {
    tmDelay(kEraseReadDelayUs);
    bReady = (SE128KStatusCommand(hSE) & kStatusBusy) == 0;
  }
  SE128KDisableE2P(hSE);
  return bReady ? TRUE : FALSE;
}

BOOL32 SE128K_ATMEL_STWrite(SEHANDLE hSE, UINT8* pucBuffer, UINT32 ulStartIndex, UINT32 ulSize) {
  return SE128KWriteImage(hSE, pucBuffer, ulStartIndex, ulSize, SE128KPagePass);
}

BOOL32 SE128K_SSTWrite(SEHANDLE hSE, UINT8* pucBuffer, UINT32 ulStartIndex, UINT32 ulSize) {
  return SE128KWriteImage(hSE, pucBuffer, ulStartIndex, ulSize, SE128KAutoIncrementPass);
}
