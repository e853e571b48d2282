// Offsets and views of the standard PCI configuration registers used by the libraries.
#pragma once

#include "TvrLib.h"

constexpr DWORD PCI_CFG_VENDOR_ID = 0x00;  // vendor ID in bits 0-15, device ID in 16-31
constexpr DWORD PCI_CFG_DEVICE_ID = 0x02;
constexpr DWORD PCI_CFG_COMMAND = 0x04;
constexpr DWORD PCI_CFG_BAR1 = 0x14;
constexpr DWORD PCI_CFG_SUBSYSTEM = 0x2C;  // subsystem vendor in bits 0-15, ID in 16-31
constexpr DWORD PCI_CFG_SIZE = 256;

// Command register bit 1: the function answers accesses to its memory ranges.
constexpr WORD PCI_COMMAND_MEMORY_ENABLE = 0x0002;
// Bits 0-3 of a memory base address register are flags, not address.
constexpr DWORD PCI_BAR_MEMORY_MASK = 0xFFFFFFF0u;

// A vendor ID of all ones: no function answers at the location.
constexpr WORD PCI_VENDOR_NONE = 0xFFFF;

union ST_PCI_DEVID {
  DWORD all;
  struct {
    DWORD VendorID : 16;
    DWORD DeviceID : 16;
  } f;
};
static_assert(sizeof(ST_PCI_DEVID) == 4, "one configuration dword");

union ST_PCI_SUBSYSID {
  DWORD all;
  struct {
    DWORD SubsystemVendorID : 16;
    DWORD SubsystemID : 16;
  } f;
};
static_assert(sizeof(ST_PCI_SUBSYSID) == 4, "one configuration dword");
