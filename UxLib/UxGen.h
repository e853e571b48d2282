// Board-level functions of the session: finding the supported cards on the PCI bus.
#pragma once

#include "TvrLib.h"

// The maker's PCI vendor ID and the device IDs of the supported chips.
constexpr WORD TAVRIN_VENDOR_ID = 0x1F2E;
constexpr WORD DEVID_LUMIVANE_A = 0x0A10;
constexpr WORD DEVID_LUMIVANE_B = 0x0A11;
constexpr WORD DEVID_Z_SERIES = 0x0B30;
static_assert(DEVID_LUMIVANE_B == DEVID_LUMIVANE_A + 1, "the two Lumivane chips are adjacent");

// Locations a bus scan stores; a list handed to SetPCIHANDLE holds this many.
constexpr UINT32 UX_PCI_LIST_SIZE = 5;

// Whether the function at hPci is a supported card (its vendor ID is not looked at).
BOOL32 IsBoardSupported(PCIHANDLE hPci);
// Scans function 0 of every device on buses 0-255 and stores the supported cards in
// pPci, in bus then device order, at most UX_PCI_LIST_SIZE of them (the scan ends when
// the list is full). TRUE when at least one was found.
BOOL32 SetPCIHANDLE(PCIHANDLE* pPci, UINT32* pulNbDeviceDetected);
