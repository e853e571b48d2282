// The maker's PCI vendor ID and the supported cards, one row each: the libraries test cards
// against the table, name them from it, and the emulated cards answer with its IDs.
#pragma once

#include <array>

#include "TvrType.h"

constexpr WORD TAVRIN_VENDOR_ID = 0x1F2E;
constexpr WORD DEVID_LUMIVANE_A = 0x0A10;
constexpr WORD DEVID_LUMIVANE_B = 0x0A11;
constexpr WORD DEVID_Z_SERIES = 0x0B30;

struct TvrCard {
  WORD usDeviceID;
  const ACHAR* pszModel;      // the model line of the card report
  const ACHAR* pszFamily;     // the file type of the PInS text
  const ACHAR* pszSampleKey;  // the emulator's name for a card of this kind
};

inline constexpr std::array<TvrCard, 3> kTvrCards{{
    {DEVID_LUMIVANE_A, "Tavrin Lumivane/Vesk/Orn card", "Lumivane", "lumivane-a"},
    {DEVID_LUMIVANE_B, "Tavrin Lumivane/Vesk/Orn card", "Lumivane", "lumivane-b"},
    {DEVID_Z_SERIES, "Tavrin Z310/Z410/Tetra card", "Brisel", "z-series"},
}};

// The row of a device ID; null for a card this software does not support.
constexpr const TvrCard* TvrFindCard(WORD usDeviceID) {
  for (const TvrCard& card : kTvrCards) {
    if (card.usDeviceID == usDeviceID) {
      return &card;
    }
  }
  return nullptr;
}

constexpr bool TvrDeviceIDsAreUnique() {
  for (std::size_t i = 0; i < kTvrCards.size(); ++i) {
    for (std::size_t j = i + 1; j < kTvrCards.size(); ++j) {
      if (kTvrCards[i].usDeviceID == kTvrCards[j].usDeviceID) {
        return false;
      }
    }
  }
  return true;
}
static_assert(TvrDeviceIDsAreUnique(), "one row per device ID");
// An empty PCI location reads all ones: no row may take it for a card.
static_assert(TvrFindCard(0xFFFF) == nullptr, "no card answers as an empty location");
