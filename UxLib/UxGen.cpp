#include "UxGen.h"

#include "TvrCs.h"
#include "TvrPci.h"

namespace {

constexpr DWORD PCI_BUS_COUNT = 256;
constexpr DWORD PCI_DEVICE_COUNT = 32;
// The maker reserves subsystem IDs with this upper byte for boards this utility must not
// touch.
constexpr DWORD EXCLUDED_SUBSYSTEM_HIGH_BYTE = 0x90;

// Reads one configuration dword; a read that never happens leaves all ones, as an empty
// slot answers.
DWORD ReadConfigDword(PCIHANDLE hPci, DWORD offset) {
  DWORD value = 0xFFFFFFFFu;
  csReadDword(hPci, offset, &value);
  return value;
}

bool IsSupportedDevice(WORD deviceId) {
  return (deviceId >= DEVID_LUMIVANE_A && deviceId <= DEVID_LUMIVANE_B) ||
         deviceId == DEVID_Z_SERIES;
}

bool IsExcludedSubsystem(DWORD subsystemWord) {
  ST_PCI_SUBSYSID subsystem{};
  subsystem.all = subsystemWord;
  return subsystem.f.SubsystemVendorID == TAVRIN_VENDOR_ID &&
         (subsystem.f.SubsystemID >> 8) == EXCLUDED_SUBSYSTEM_HIGH_BYTE;
}

}  // namespace

BOOL32 IsBoardSupported(PCIHANDLE hPci) {
  ST_PCI_DEVID id{};
  id.all = ReadConfigDword(hPci, PCI_CFG_VENDOR_ID);
  if (!IsSupportedDevice(static_cast<WORD>(id.f.DeviceID))) {
    return FALSE;
  }
  return IsExcludedSubsystem(ReadConfigDword(hPci, PCI_CFG_SUBSYSTEM)) ? FALSE : TRUE;
}

BOOL32 SetPCIHANDLE(PCIHANDLE* pPci, UINT32* pulNbDeviceDetected) {
  UINT32 found = 0;
  for (DWORD bus = 0; bus < PCI_BUS_COUNT && found < UX_PCI_LIST_SIZE; ++bus) {
    for (DWORD device = 0; device < PCI_DEVICE_COUNT && found < UX_PCI_LIST_SIZE; ++device) {
      const PCIHANDLE hPci = MakePciHandle(bus, device);
      ST_PCI_DEVID id{};
      id.all = ReadConfigDword(hPci, PCI_CFG_VENDOR_ID);
      if (id.f.VendorID == TAVRIN_VENDOR_ID && IsBoardSupported(hPci)) {
        pPci[found++] = hPci;
      }
    }
  }
  *pulNbDeviceDetected = found;
  return found != 0 ? TRUE : FALSE;
}
