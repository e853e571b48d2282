// The PInS working copy: loading within the image, validity, bounded accessors, and the
// binary transfers of the public object.
#include "GBTestSupport.h"

namespace gbtest {
namespace {

// The sample's block is copied whole and valid; any single changed byte, or a wrong
// signature with a right checksum, makes it invalid.
TEST(GBPinsLoad, SampleBlockIsCopiedWholeAndValidOnlyAsBuilt) {
  const Bytes image = emu::BuildSampleBios();
  const std::uint32_t pinsAt = Le(image, emu::kSamplePinsPointerOffset, 2);
  MemoryImage m(image);
  EXPECT_EQ(512u, GBPinsGetSize(m.Handle()));
  EXPECT_EQ(Slice(image, pinsAt, 512), m.Pins());
  EXPECT_EQ(TRUE, GBPinsIsValid(m.Handle()));
  for (std::uint32_t at : {0u, 1u, 8u, 300u, 511u}) {
    Bytes changed = image;
    changed[pinsAt + at] ^= 0x10;
    MemoryImage damaged(changed);
    EXPECT_EQ(FALSE, GBPinsIsValid(damaged.Handle())) << "byte " << at;
  }
  MemoryImage unsignedBlock(emu::BuildSampleBios({.breakPinsSignature = true}));
  EXPECT_EQ(0, Sum8(unsignedBlock.Pins(), 0, 512));
  EXPECT_EQ(FALSE, GBPinsIsValid(unsignedBlock.Handle()));
}

TEST(GBPinsLoad, BlockReachingPastTheImageIsNotLoaded) {
  // In a 131072-byte image any pointer and size fit; in a 64 KiB one they need not.
  Bytes image(0x10000, 0xFF);
  PutLe(image, 0x7FFC, 0xFF00, 2);
  PutLe(image, 0xFF00, 0x412E, 2);
  PutLe(image, 0xFF02, 0x0101, 2);  // one byte too many
  {
    MemoryImage m(image);
    EXPECT_EQ(nullptr, m.Data().m_oPINS.pucData);
    EXPECT_EQ(0u, GBPinsGetSize(m.Handle()));
    EXPECT_EQ(FALSE, GBPinsIsValid(m.Handle()));
  }
  PutLe(image, 0xFF02, 0x0100, 2);
  {
    MemoryImage m(image);
    EXPECT_EQ(0x100u, GBPinsGetSize(m.Handle()));
  }
  PutLe(image, 0x7FFC, 0xFFFF, 2);  // the size word itself lies past the end
  MemoryImage m(image);
  EXPECT_EQ(nullptr, m.Data().m_oPINS.pucData);
}

TEST(GBPinsLoad, SizeTooSmallForTheHeaderIsNotLoaded) {
  for (std::uint16_t size : {std::uint16_t(0), std::uint16_t(1), std::uint16_t(10)}) {
    MemoryImage m(emu::BuildSampleBios({.pinsSizeWord = size}));
    EXPECT_EQ(nullptr, m.Data().m_oPINS.pucData) << size;
    EXPECT_EQ(FALSE, GBPinsIsValid(m.Handle())) << size;
    INT32 written = -1;
    UINT8 buffer[512];
    EXPECT_EQ(GB_ERR_INVALID_PINS, GBGetPInSInBuffer(m.Handle(), buffer, 512, &written));
    EXPECT_EQ(0, written);
    // Without a copy every accessor is refused.
    EXPECT_EQ(0u, GBPinsGetDword(m.Handle(), 0));
    EXPECT_EQ(FALSE, GBPinsSetByte(m.Handle(), 0, 1));
    EXPECT_EQ(FALSE, GBPinsSetString(m.Handle(), 0, ""));
    GBPinsComputeChecksum(m.Handle());
    EXPECT_EQ(FALSE, GBPinsIsValid(m.Handle()));
  }
  MemoryImage m(emu::BuildSampleBios({.pinsSizeWord = 11}));
  EXPECT_EQ(11u, GBPinsGetSize(m.Handle()));
}

TEST(GBPinsAccess, LittleEndianInsideTheCopyNothingOutside) {
  MemoryImage m(emu::BuildSampleBios());
  GBHANDLE h = m.Handle();
  EXPECT_EQ(0x2E, GBPinsGetByte(h, 0));
  EXPECT_EQ(0x412E, GBPinsGetWord(h, 0));
  EXPECT_EQ(0x0200412Eu, GBPinsGetDword(h, 0));
  EXPECT_EQ(0u, GBPinsGetWord(h, 511));
  EXPECT_EQ(TRUE, GBPinsSetDword(h, 508, 0x44332211));
  EXPECT_EQ(Bytes({0x11, 0x22, 0x33, 0x44}), Slice(m.Pins(), 508, 4));
  Bytes out(4, 0xEE);
  EXPECT_EQ(TRUE, GBPinsGetBuffer(h, 508, out.data(), 4));
  EXPECT_EQ(Bytes({0x11, 0x22, 0x33, 0x44}), out);
  EXPECT_EQ(FALSE, GBPinsGetBuffer(h, 509, out.data(), 4));
  EXPECT_EQ(FALSE, GBPinsGetBuffer(h, 0, out.data(), 0xFFFFFFFF));
  EXPECT_EQ(Bytes({0x11, 0x22, 0x33, 0x44}), out);
  const Bytes before = m.Pins();
  EXPECT_EQ(FALSE, GBPinsSetDword(h, 509, 0));
  EXPECT_EQ(FALSE, GBPinsSetWord(h, 511, 0));
  EXPECT_EQ(FALSE, GBPinsSetByte(h, 512, 0));
  EXPECT_EQ(FALSE, GBPinsFill(h, 500, 13, 0));
  EXPECT_EQ(before, m.Pins());
}

TEST(GBPinsAccess, SetStringWritesTextAndZeroOrNothing) {
  MemoryImage m(emu::BuildSampleBios());
  GBHANDLE h = m.Handle();
  Bytes expected = m.Pins();
  EXPECT_EQ(TRUE, GBPinsSetString(h, 12, "ABC"));
  std::memcpy(&expected[12], "ABC", 4);
  EXPECT_EQ(expected, m.Pins());
  EXPECT_EQ(TRUE, GBPinsSetString(h, 508, "xyz"));  // the zero lands on 511
  EXPECT_EQ(FALSE, GBPinsSetString(h, 509, "xyz"));
  EXPECT_EQ(FALSE, GBPinsSetString(h, 600, ""));
  EXPECT_EQ(0, m.Pins()[511]);
  EXPECT_EQ('x', m.Pins()[508]);
}

TEST(GBPinsTransfer, GetNeedsRoomForTheWholeBlock) {
  MemoryImage m(emu::BuildSampleBios());
  UINT8 buffer[512] = {};
  INT32 written = -1;
  EXPECT_EQ(GB_ERR_BUFFER_SIZE, GBGetPInSInBuffer(m.Handle(), buffer, 511, &written));
  EXPECT_EQ(0, written);
  EXPECT_EQ(GB_ERR_BUFFER_SIZE, GBGetPInSInBuffer(m.Handle(), buffer, -1, &written));
  EXPECT_EQ(GB_SUCCESS, GBGetPInSInBuffer(m.Handle(), buffer, 512, &written));
  EXPECT_EQ(512, written);
  EXPECT_EQ(m.Pins(), Bytes(buffer, buffer + 512));
  written = -1;
  EXPECT_EQ(GB_ERR_INVALID_HANDLE, GBGetPInSInBuffer(nullptr, buffer, 512, &written));
  EXPECT_EQ(0, written);
}

TEST(GBPinsTransfer, BadChecksumAnswers20004) {
  MemoryImage m(emu::BuildSampleBios({.breakPinsChecksum = true}));
  UINT8 buffer[512];
  INT32 written = -1;
  EXPECT_EQ(GB_ERR_INVALID_PINS, GBGetPInSInBuffer(m.Handle(), buffer, 512, &written));
  EXPECT_EQ(0, written);
  EXPECT_EQ(GB_ERR_INVALID_PINS, GBSetPInSFromBuffer(m.Handle(), buffer, 512));
}

TEST(GBPinsTransfer, SetReplacesTheLastByteByTheChecksum) {
  MemoryImage m(emu::BuildSampleBios());
  Bytes block(512);
  for (std::uint32_t i = 0; i < 512; ++i) {
    block[i] = static_cast<std::uint8_t>(i * 3);
  }
  EXPECT_EQ(GB_ERR_BUFFER_SIZE, GBSetPInSFromBuffer(m.Handle(), block.data(), 511));
  EXPECT_EQ(GB_SUCCESS, GBSetPInSFromBuffer(m.Handle(), block.data(), 512));
  const Bytes pins = m.Pins();
  EXPECT_EQ(Slice(block, 0, 511), Slice(pins, 0, 511));
  EXPECT_EQ(0, Sum8(pins, 0, 512));
  EXPECT_EQ(3, m.Data().m_oPINS.usCounter);  // not taken from the new data
}

}  // namespace
}  // namespace gbtest
