// Shared by the image library's tests: an image object built over an image in memory (no
// card) and an emulated machine with one card.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <ctime>
#include <memory>
#include <string>
#include <vector>

#include "Card.h"
#include "CardMachine.h"
#include "GBData.h"
#include "ImageBytes.h"
#include "Machine.h"
#include "SampleBios.h"

namespace gbtest {

using testbytes::Bytes;
using testbytes::Le;
using testbytes::PutLe;
using testbytes::Slice;
using testbytes::Sum8;
using testbytes::UpdatedImage;

constexpr std::uint32_t kImageSize = emu::kSampleImageSize;
constexpr PCIHANDLE kCardLocation = MakePciHandle(1, 0);

// An image object over an image in memory, analysed as creation would analyse the image read
// from a card of `deviceId`. The record is released at the end.
class MemoryImage {
 public:
  explicit MemoryImage(const Bytes& image, std::uint16_t deviceId = DEVID_LUMIVANE_A) {
    std::memset(&m_data, 0, sizeof(m_data));
    m_data.m_oSEInfo.ulSEepromSize = static_cast<UINT32>(image.size());
    m_data.m_oGBChipInfo.m_usDeviceID = deviceId;
    m_data.m_oGBConfigAccess.m_hDevice = kCardLocation;
    m_data.m_oBIOS.pucData =
        static_cast<UINT8*>(GBPoolAlloc(&m_data, m_data.m_oSEInfo.ulSEepromSize));
    std::memcpy(m_data.m_oBIOS.pucData, image.data(), image.size());
    GBBiosDetectSize(&m_data);
    m_init = GBInit(&m_data);
  }
  ~MemoryImage() { GBReleaseHandle(&m_data); }
  MemoryImage(const MemoryImage&) = delete;
  MemoryImage& operator=(const MemoryImage&) = delete;

  GBHANDLE Handle() { return &m_data; }
  GB_DATA& Data() { return m_data; }
  GB_ERR InitResult() const { return m_init; }
  Bytes Image() const {
    return Bytes(m_data.m_oBIOS.pucData, m_data.m_oBIOS.pucData + m_data.m_oSEInfo.ulSEepromSize);
  }
  Bytes Pins() const {
    return Bytes(m_data.m_oPINS.pucData, m_data.m_oPINS.pucData + m_data.m_oPINS.usSize);
  }

 private:
  GB_DATA m_data;
  GB_ERR m_init = 0;
};

inline std::tm Date(int year, int month, int day) {
  std::tm when{};
  when.tm_year = year - 1900;
  when.tm_mon = month - 1;
  when.tm_mday = day;
  when.tm_hour = 12;
  return when;
}

// A machine with one card at bus 1, device 0, holding `image` in its flash; the local
// date is 30 June 2005.
class CardRig : public emu::CardMachine {
 public:
  explicit CardRig(const Bytes& image, const emu::CardOptions& options = {})
      : emu::CardMachine(image, options) {
    Machine().SetLocalTime(Date(2005, 6, 30));
  }
};

// An image object on the rig's card, released and freed at the end.
class CardObject {
 public:
  CardObject() : m_storage(new std::uint8_t[GBGetHandleSize()]) {}
  ~CardObject() { GBReleaseHandle(Handle()); }
  CardObject(const CardObject&) = delete;
  CardObject& operator=(const CardObject&) = delete;

  GB_ERR Create(PCIHANDLE location = kCardLocation) { return GBCreateHandle(Handle(), location); }
  GBHANDLE Handle() { return reinterpret_cast<GBHANDLE>(m_storage.get()); }

 private:
  std::unique_ptr<std::uint8_t[]> m_storage;
};

}  // namespace gbtest
