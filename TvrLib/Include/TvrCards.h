// The maker's PCI vendor ID and the device IDs of the one supported chip family: the
// libraries test cards against them and the emulated cards answer with them.
#pragma once

#include "TvrType.h"

constexpr WORD TAVRIN_VENDOR_ID = 0x1F2E;
constexpr WORD DEVID_LUMIVANE_A = 0x0A10;
constexpr WORD DEVID_LUMIVANE_B = DEVID_LUMIVANE_A + 1;
constexpr WORD DEVID_Z_SERIES = 0x0B30;
