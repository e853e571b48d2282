// The calibration block: where the search finds it, when it is valid, what it hands out.
#include "GBTestSupport.h"

namespace gbtest {
namespace {

// An erased image with a BIOS of 0x40 blocks and `block` placed at `at`.
Bytes ImageWithBlock(const Bytes& block, std::uint32_t at) {
  Bytes image(kImageSize, 0xFF);
  image[2] = 0x40;
  std::copy(block.begin(), block.end(), image.begin() + at);
  return image;
}

// "MCS ", the size, byte 10 = `checked`, then `fill` bytes.
Bytes Block(std::uint32_t size, std::uint8_t checked, std::uint8_t fill = 0x11) {
  Bytes block(size, fill);
  std::memcpy(block.data(), "MCS ", 4);
  PutLe(block, 4, size, 4);
  block[10] = checked;
  return block;
}

constexpr std::uint32_t kBiosEnd = 0x40 * 512;

TEST(GBMcsSearch, FoundExactlyAtTheBiosEndNotOneByteBefore) {
  const Bytes block = Block(40, 0);
  MemoryImage at(ImageWithBlock(block, kBiosEnd));
  EXPECT_EQ(40, GBMCSGetSize(at.Handle()));
  EXPECT_EQ(block, Bytes(at.Data().m_oMCS.pucData, at.Data().m_oMCS.pucData + 40));
  MemoryImage before(ImageWithBlock(block, kBiosEnd - 1));
  EXPECT_EQ(0, GBMCSGetSize(before.Handle()));
  EXPECT_EQ(nullptr, before.Data().m_oMCS.pucData);
}

TEST(GBMcsSearch, NearerOfTwoBlocksIsTaken) {
  Bytes image = ImageWithBlock(Block(64, 0, 0x22), 0x9001);
  const Bytes nearer = Block(24, 0, 0x33);
  std::copy(nearer.begin(), nearer.end(), image.begin() + 0x8123);
  MemoryImage m(image);
  EXPECT_EQ(24, GBMCSGetSize(m.Handle()));
  EXPECT_EQ(0x33, m.Data().m_oMCS.pucData[23]);
}

TEST(GBMcsSearch, BlockThatDoesNotFitIsNotTaken) {
  // Runs one byte past the end; then ends exactly at the end.
  Bytes image = ImageWithBlock(Block(32, 0), kImageSize - 32);
  PutLe(image, kImageSize - 28, 33, 4);
  MemoryImage past(image);
  EXPECT_EQ(0, GBMCSGetSize(past.Handle()));
  EXPECT_EQ(nullptr, past.Data().m_oMCS.pucData);
  PutLe(image, kImageSize - 28, 32, 4);
  MemoryImage fits(image);
  EXPECT_EQ(32, GBMCSGetSize(fits.Handle()));
  // Too short to hold its checked length, and a size that wraps around 32 bits.
  for (std::uint32_t size : {0u, 10u, 0xFFFFFFF0u}) {
    Bytes odd = ImageWithBlock(Block(16, 0), kBiosEnd);
    PutLe(odd, kBiosEnd + 4, size, 4);
    MemoryImage m(odd);
    EXPECT_EQ(0, GBMCSGetSize(m.Handle())) << size;
  }
  // A signature whose size field would lie past the end.
  MemoryImage m(ImageWithBlock({'M', 'C', 'S', ' '}, kImageSize - 4));
  EXPECT_EQ(0, GBMCSGetSize(m.Handle()));
}

// A checked length of 0 is valid whatever the content; otherwise exactly the first
// `checked` bytes sum to 0, and the checked length may be the whole block, not more. The
// block is found all the same.
TEST(GBMcsCheck, CheckedLengthSumsToZeroWithinTheBlock) {
  struct Case {
    std::uint32_t size;
    std::uint8_t checked;
    bool balanced;  // the first 16 bytes sum to 0
    BOOL32 valid;
  };
  const Case cases[] = {{40, 0, false, TRUE}, {40, 16, true, TRUE},  {40, 16, false, FALSE},
                        {16, 16, true, TRUE}, {16, 17, true, FALSE}, {16, 200, true, FALSE}};
  for (const Case& c : cases) {
    Bytes block = Block(c.size, c.checked, 0x5A);
    block[15] = static_cast<std::uint8_t>(0x100 - Sum8(block, 0, 15) + (c.balanced ? 0 : 1));
    MemoryImage m(ImageWithBlock(block, kBiosEnd));
    EXPECT_EQ(c.valid, m.Data().m_oMCS.bValid) << c.size << " " << int(c.checked);
    EXPECT_EQ(static_cast<INT32>(c.size), GBMCSGetSize(m.Handle()));
  }
}

TEST(GBMcsTransfer, RangesAndBufferSizes) {
  const Bytes block = Block(40, 0, 0x44);
  MemoryImage m(ImageWithBlock(block, kBiosEnd));
  GBHANDLE h = m.Handle();
  Bytes out(41, 0);
  EXPECT_EQ(GB_SUCCESS, GBMCSGetBuffer(h, 0, out.data(), 40));
  EXPECT_EQ(block, Slice(out, 0, 40));
  EXPECT_EQ(GB_ERR_BUFFER_SIZE, GBMCSGetBuffer(h, 0, out.data(), 41));
  EXPECT_EQ(GB_ERR_BUFFER_SIZE, GBMCSGetBuffer(h, 0xFFFFFFFF, out.data(), 2));
  EXPECT_EQ(GB_SUCCESS, GBMCSGetBuffer(h, 36, out.data(), 4));

  INT32 written = -1;
  EXPECT_EQ(GB_ERR_BUFFER_SIZE, GBGetMCSInBuffer(h, out.data(), 39, &written));
  EXPECT_EQ(0, written);
  EXPECT_EQ(GB_SUCCESS, GBGetMCSInBuffer(h, out.data(), 41, &written));
  EXPECT_EQ(40, written);
}

TEST(GBMcsTransfer, MissingAndInvalidBlocks) {
  MemoryImage none(emu::BuildSampleBios({.withMcs = false}));
  INT32 written = -1;
  EXPECT_EQ(0, GBMCSGetSize(none.Handle()));
  EXPECT_EQ(GB_ERR_MCS_NOT_FOUND, GBGetMCSInBuffer(none.Handle(), nullptr, 0, &written));
  EXPECT_EQ(0, written);

  MemoryImage bad(emu::BuildSampleBios({.breakMcsChecksum = true}));
  Bytes out(4096);
  EXPECT_EQ(GB_ERR_INVALID_MCS, GBGetMCSInBuffer(bad.Handle(), out.data(), 4096, &written));
  EXPECT_EQ(0, written);
  EXPECT_EQ(GB_ERR_BUFFER_SIZE, GBGetMCSInBuffer(bad.Handle(), out.data(), 95, &written));

  MemoryImage good(emu::BuildSampleBios());
  EXPECT_EQ(GB_SUCCESS, GBGetMCSInBuffer(good.Handle(), out.data(), 4096, &written));
  EXPECT_EQ(96, written);
  EXPECT_EQ(0, Sum8(out, 0, 32));
  EXPECT_EQ(Bytes({'M', 'C', 'S', ' ', 96, 0, 0, 0}), Slice(out, 0, 8));
}

}  // namespace
}  // namespace gbtest
