// The graphics chip's device ID and the test for the supported family. The vendor ID is
// deliberately not examined: the family is known by its device IDs alone.
#include <algorithm>
#include <array>

#include "SEInternal.h"

namespace {
constexpr std::array<UINT16, 3> kLumivaneFamily = {DEVID_Z_SERIES, DEVID_LUMIVANE_B,
                                                    DEVID_LUMIVANE_A};
}

BOOL32 SEChipInfo_Init(SEHANDLE hSE) {
  SEConfigAccess_ReadWord(hSE, PCI_CFG_DEVICE_ID, &hSE->m_oSEChipInfo.m_usDeviceID);
  return TRUE;
}

void SEChipInfo_Cleanup(SEHANDLE) {}

UINT16 SEChipInfo_GetDeviceID(SEHANDLE hSE) { return hSE->m_oSEChipInfo.m_usDeviceID; }

BOOL32 SEChipInfo_IsLumivaneFamily(SEHANDLE hSE) {
  const UINT16 usDeviceID = SEChipInfo_GetDeviceID(hSE);
  return std::find(kLumivaneFamily.begin(), kLumivaneFamily.end(), usDeviceID) !=
                 kLumivaneFamily.end()
             ? TRUE
             : FALSE;
}
