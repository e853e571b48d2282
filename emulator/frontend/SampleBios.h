// A sample BIOS image for the emulated cards and the tests: a whole, valid 131072-byte
// EEPROM image for one model and version, with switches that damage each piece. The
// content is made up here; it only has the layout the utility expects.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "TvrCards.h"

namespace emu {

constexpr std::uint32_t kSampleImageSize = 131072;

// Where the pieces lie in the image.
constexpr std::uint32_t kSamplePcirPointerOffset = 0x18;
constexpr std::uint32_t kSampleMakerNameOffset = 0x2D;
constexpr std::uint32_t kSamplePinsPointerOffset = 0x7FFC;
constexpr std::uint32_t kSampleSubsystemOffset = kSampleImageSize - 8;
constexpr std::uint32_t kSamplePinsSize = 512;

// The device ID of a card by the sample key of its row in the card table ("lumivane-a", ...).
std::optional<std::uint16_t> SampleModelDeviceId(std::string_view model);

struct SampleBiosOptions {
  std::uint16_t deviceId = DEVID_LUMIVANE_A;
  std::uint16_t vendorId = TAVRIN_VENDOR_ID;
  std::uint8_t versionByte = 0x21;  // major in the high nibble, minor in the low one
  std::uint8_t build = 5;
  std::string versionExt = "LV7";           // the text between "(" + four characters and ")"
  std::string productId = "TLV";            // three characters behind the PCI data structure
  std::string serialNumber = "TS05A00017";  // at most 16 characters
  std::uint16_t pinsCounter = 3;
  std::uint16_t pcbNumber = 0x2A3;  // major in bits 4-15, minor in bits 0-3
  std::uint8_t biosBlocks = 0x60;   // BIOS size in 512-byte units (byte 2)
  std::uint16_t pcirOffset = 0x0180;
  std::uint16_t pinsOffset = 0x7A00;
  std::uint32_t subsystem = 0x20011F2E;  // the word 8 bytes before the end
  // The calibration block behind the BIOS.
  bool withMcs = true;
  std::uint32_t mcsSize = 96;
  std::uint8_t mcsCheckedLength = 32;

  // Damage and missing pieces.
  bool breakSignature = false;  // bytes 0-1 no longer 0x55 0xAA
  bool breakBiosChecksum = false;
  bool withMakerName = true;
  bool breakPcirSignature = false;
  bool withVersionText = true;
  bool breakPinsSignature = false;
  bool breakPinsChecksum = false;
  bool breakMcsChecksum = false;
  std::optional<std::uint16_t> pinsSizeWord{};  // written as the PInS size instead of 512
};

// A later release of the sample BIOS for the device: what --save-sample-bios writes, so that
// programming it into an emulated card shows the version change.
SampleBiosOptions NewerSampleBios(std::uint16_t deviceId = DEVID_LUMIVANE_A);

// The image, always kSampleImageSize bytes; a shorter BIOS file is a prefix of it.
std::vector<std::uint8_t> BuildSampleBios(const SampleBiosOptions& options = {});

}  // namespace emu
