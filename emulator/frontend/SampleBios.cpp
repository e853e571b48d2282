// The sample BIOS image: invented content laid out as the utility expects a Tavrin BIOS.
#include "SampleBios.h"

namespace emu {
namespace {

constexpr std::uint32_t kBlockSize = 512;
constexpr std::uint32_t kVersionTextOffset = 0x60;
constexpr std::string_view kMakerName = "TAVRIN";
constexpr std::string_view kVersionTextHead = "Tavrin Video BIOS (Rev ";
constexpr std::string_view kVersionTextTail = ") Tavrin 2005";
constexpr std::uint8_t kPinsSignature[] = {0x2E, 0x41};
constexpr std::string_view kMcsSignature = "MCS ";
constexpr std::uint32_t kMcsCheckedLengthField = 10;
constexpr std::uint32_t kSerialLength = 16;

// Writes little-endian numbers and texts into the image; what would fall outside it is
// dropped, so that any override of a pointer or size still gives an image.
class ImageWriter {
 public:
  ImageWriter() : m_image(kSampleImageSize, 0xFF) {}

  void Byte(std::uint32_t offset, std::uint8_t value) {
    if (offset < m_image.size()) {
      m_image[offset] = value;
    }
  }
  void Number(std::uint32_t offset, std::uint32_t value, std::uint32_t bytes) {
    for (std::uint32_t i = 0; i < bytes; ++i) {
      Byte(offset + i, static_cast<std::uint8_t>(value >> (8 * i)));
    }
  }
  void Text(std::uint32_t offset, std::string_view text) {
    for (std::uint32_t i = 0; i < text.size(); ++i) {
      Byte(offset + i, static_cast<std::uint8_t>(text[i]));
    }
  }
  // The text, then zero bytes up to the field's size; a longer text is cut.
  void Field(std::uint32_t offset, std::string_view text, std::uint32_t size) {
    for (std::uint32_t i = 0; i < size; ++i) {
      Byte(offset + i, i < text.size() ? static_cast<std::uint8_t>(text[i]) : 0);
    }
  }
  std::uint8_t At(std::uint32_t offset) const {
    return offset < m_image.size() ? m_image[offset] : 0xFF;
  }
  // Sets the last of `size` bytes from `offset` so that they add up to 0 modulo 256.
  void Balance(std::uint32_t offset, std::uint32_t size) {
    if (size == 0) {
      return;
    }
    std::uint8_t sum = 0;
    for (std::uint32_t i = 0; i + 1 < size; ++i) {
      sum = static_cast<std::uint8_t>(sum + At(offset + i));
    }
    Byte(offset + size - 1, static_cast<std::uint8_t>(0x100 - sum));
  }
  void Flip(std::uint32_t offset) { Byte(offset, static_cast<std::uint8_t>(At(offset) ^ 0x5A)); }

  std::vector<std::uint8_t> Take() { return std::move(m_image); }

 private:
  std::vector<std::uint8_t> m_image;
};

void WriteHeader(ImageWriter& image, const SampleBiosOptions& o) {
  image.Number(0, o.breakSignature ? 0x0055 : 0xAA55, 2);
  image.Byte(2, o.biosBlocks);
  image.Number(kSamplePcirPointerOffset, o.pcirOffset, 2);
  if (o.withMakerName) {
    image.Text(kSampleMakerNameOffset, kMakerName);
  }
  if (o.withVersionText) {
    image.Text(kVersionTextOffset,
               std::string(kVersionTextHead) + o.versionExt + std::string(kVersionTextTail));
  }
}

// The standard data structure of an expansion ROM, with the product ID behind it.
void WritePciData(ImageWriter& image, const SampleBiosOptions& o) {
  const std::uint32_t at = o.pcirOffset;
  image.Text(at, o.breakPcirSignature ? "PCIX" : "PCIR");
  image.Number(at + 0x04, o.vendorId, 2);
  image.Number(at + 0x06, o.deviceId, 2);
  image.Number(at + 0x08, 0, 2);
  image.Number(at + 0x0A, 0x18, 2);
  image.Byte(at + 0x0C, 0);
  image.Number(at + 0x0D, 0x030000, 3);  // display controller
  image.Number(at + 0x10, o.biosBlocks, 2);
  image.Byte(at + 0x12, o.versionByte);
  image.Byte(at + 0x13, o.build);
  image.Byte(at + 0x14, 0);
  image.Byte(at + 0x15, 0x80);  // last image
  image.Number(at + 0x16, 0, 2);
  image.Text(at + 0x18, o.productId.substr(0, 3));
}

// A board record with made-up values of every kind the text format shows: hexadecimal and
// decimal fields, a negative signed dword, strings ending before their field does.
void WritePins(ImageWriter& image, const SampleBiosOptions& o) {
  const std::uint32_t at = o.pinsOffset;
  image.Byte(at, kPinsSignature[0]);
  image.Byte(at + 1, o.breakPinsSignature ? 0x42 : kPinsSignature[1]);
  image.Number(at + 2, o.pinsSizeWord.value_or(kSamplePinsSize), 2);
  image.Number(at + 4, 0x0102, 2);
  image.Number(at + 6, (5u << 9) | (3u << 5) | 14u, 2);  // 14 March 2005
  image.Number(at + 8, o.pinsCounter, 2);
  image.Number(at + 10, 0x0021, 2);
  image.Field(at + 12, o.serialNumber, kSerialLength);
  image.Field(at + 28, "RB-2", 6);
  image.Number(at + 34, o.pcbNumber, 2);
  for (std::uint32_t group = 0; group < 4; ++group) {
    const std::uint32_t base = at + 36 + group * 20;
    image.Number(base, 1000 * (group + 1), 4);
    image.Number(base + 4, 0x00C80000 + group * 0x1010, 4);
    for (std::uint32_t k = 0; k < 6; ++k) {
      image.Number(base + 8 + 2 * k, 100 + 10 * group + k, 2);
    }
  }
  image.Number(at + 116, static_cast<std::uint32_t>(-40), 4);
  image.Number(at + 120, 0x80000001, 4);
  image.Number(at + 124, 250000, 4);
  for (std::uint32_t k = 0; k < 62; ++k) {
    image.Number(at + 128 + 4 * k, 0x01000000 * (k % 16) + k * 0x111, 4);
  }
  image.Field(at + 376, "CAL-05", 16);
  for (std::uint32_t k = 0; k < 29; ++k) {
    image.Number(at + 392 + 4 * k, k * 0x01010101, 4);
  }
  image.Byte(at + 508, 0x01);
  image.Byte(at + 509, 0x00);
  image.Byte(at + 510, 0x5A);
  image.Balance(at, kSamplePinsSize);
  if (o.breakPinsChecksum) {
    image.Flip(at + kSamplePinsSize - 1);
  }
}

void WriteMcs(ImageWriter& image, const SampleBiosOptions& o) {
  const std::uint32_t at = o.biosBlocks * kBlockSize;
  image.Text(at, kMcsSignature);
  image.Number(at + 4, o.mcsSize, 4);
  image.Number(at + 8, 0x0001, 2);
  image.Byte(at + kMcsCheckedLengthField, o.mcsCheckedLength);
  for (std::uint32_t i = kMcsCheckedLengthField + 1; i < o.mcsSize; ++i) {
    image.Byte(at + i, static_cast<std::uint8_t>(i * 7 + 3));
  }
  // The last checked byte balances the checked part, when there is one beyond byte 10.
  if (o.mcsCheckedLength > kMcsCheckedLengthField + 1) {
    image.Balance(at, o.mcsCheckedLength);
  }
  if (o.breakMcsChecksum && o.mcsCheckedLength > 0) {
    image.Flip(at + o.mcsCheckedLength - 1);
  }
}

}  // namespace

std::optional<std::uint16_t> SampleModelDeviceId(std::string_view model) {
  for (const TvrCard& card : kTvrCards) {
    if (card.pszSampleKey == model) {
      return card.usDeviceID;
    }
  }
  return std::nullopt;
}

SampleBiosOptions NewerSampleBios(std::uint16_t deviceId) {
  SampleBiosOptions options;
  options.deviceId = deviceId;
  options.versionByte = 0x22;
  options.build = 7;
  options.versionExt = "NV8";
  return options;
}

std::vector<std::uint8_t> BuildSampleBios(const SampleBiosOptions& options) {
  ImageWriter image;
  WriteHeader(image, options);
  WritePciData(image, options);
  WritePins(image, options);
  image.Number(kSamplePinsPointerOffset, options.pinsOffset, 2);
  const std::uint32_t biosSize = options.biosBlocks * kBlockSize;
  image.Balance(0, biosSize);
  if (options.breakBiosChecksum && biosSize > 0) {
    image.Flip(biosSize - 1);
  }
  if (options.withMcs) {
    WriteMcs(image, options);
  }
  image.Number(kSampleSubsystemOffset, options.subsystem, 4);
  return image.Take();
}

}  // namespace emu
