// Little helpers over the bytes of an image, one convention for all tests: a field is an
// offset and a width or size; numbers are little-endian. And the one oracle of what an
// update leaves on the card.
#pragma once

#include <cstdint>
#include <vector>

namespace testbytes {

using Bytes = std::vector<std::uint8_t>;

inline std::uint32_t Le(const Bytes& bytes, std::uint32_t offset, std::uint32_t width) {
  std::uint32_t value = 0;
  for (std::uint32_t i = width; i-- > 0;) {
    value = (value << 8) | bytes.at(offset + i);
  }
  return value;
}

inline void PutLe(Bytes& bytes, std::uint32_t offset, std::uint32_t value, std::uint32_t width) {
  for (std::uint32_t i = 0; i < width; ++i) {
    bytes.at(offset + i) = static_cast<std::uint8_t>(value >> (8 * i));
  }
}

// The byte sum of `size` bytes from `offset`.
inline std::uint8_t Sum8(const Bytes& bytes, std::uint32_t offset, std::uint32_t size) {
  std::uint8_t sum = 0;
  for (std::uint32_t i = 0; i < size; ++i) {
    sum = static_cast<std::uint8_t>(sum + bytes.at(offset + i));
  }
  return sum;
}

inline Bytes Slice(const Bytes& bytes, std::uint32_t offset, std::uint32_t size) {
  return Bytes(bytes.begin() + offset, bytes.begin() + offset + size);
}

// Where the PInS keeps its stamp: the date word and the counter.
constexpr std::uint32_t kPinsDate = 6;
constexpr std::uint32_t kPinsCounter = 8;

// A PInS block as an update stamps it: the run's date, the counter, its checksum right.
inline Bytes StampedPins(Bytes pins, std::uint16_t date, std::uint16_t counter) {
  PutLe(pins, kPinsDate, date, 2);
  PutLe(pins, kPinsCounter, counter, 2);
  const auto last = static_cast<std::uint32_t>(pins.size() - 1);
  pins[last] = static_cast<std::uint8_t>(0x100 - Sum8(pins, 0, last));
  return pins;
}

// What the flash holds after an update with the first `fileLength` bytes of `file`: the
// file, erased behind it, `pins` at `pinsAt`, `mcs` right behind the file's BIOS, the
// subsystem word 8 bytes before the end, and the BIOS checksum right.
inline Bytes UpdatedImage(const Bytes& file, std::uint32_t fileLength, const Bytes& pins,
                          std::uint32_t pinsAt, const Bytes& mcs, std::uint32_t subsystem) {
  constexpr std::uint32_t kImageSize = 131072;
  Bytes image(kImageSize, 0xFF);
  std::copy(file.begin(), file.begin() + fileLength, image.begin());
  std::copy(pins.begin(), pins.end(), image.begin() + pinsAt);
  const std::uint32_t biosSize = file[2] * 512u;
  std::copy(mcs.begin(), mcs.end(), image.begin() + biosSize);
  PutLe(image, kImageSize - 8, subsystem, 4);
  image[biosSize - 1] = static_cast<std::uint8_t>(0x100 - Sum8(image, 0, biosSize - 1));
  return image;
}

}  // namespace testbytes
