// The graphics chip behind the image: its PCI device ID and whether this library knows it.
#include <algorithm>
#include <array>

#include "GBData.h"

namespace {
constexpr std::array<UINT16, 3> kSupportedDevices = {DEVID_LUMIVANE_A, DEVID_LUMIVANE_B, DEVID_Z_SERIES};
}

BOOL32 GBChipInfo_Init(GBHANDLE hGB) {
  // A location with no function behind it reads all ones, which no supported chip carries.
  UINT16 usDeviceID = 0xFFFF;
  GBConfigAccess_ReadWord(hGB, PCI_CFG_DEVICE_ID, &usDeviceID);
  hGB->m_oGBChipInfo.m_usDeviceID = usDeviceID;
  return TRUE;
}

void GBChipInfo_Cleanup(GBHANDLE) {}

UINT16 GBChipInfo_GetDeviceID(GBHANDLE hGB) { return hGB->m_oGBChipInfo.m_usDeviceID; }

BOOL32 GBChipInfo_IsSupported(UINT16 usDeviceID) {
  return std::find(kSupportedDevices.begin(), kSupportedDevices.end(), usDeviceID) != kSupportedDevices.end();
}
