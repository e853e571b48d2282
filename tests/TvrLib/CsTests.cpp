#include <array>
#include <vector>

#include "EmuTestSupport.h"
#include "TvrCs.h"

using namespace emutest;

namespace {

constexpr PCIHANDLE kCard = MakePciHandle(1, 2);
constexpr DWORD kAddressWord = 0x80011000;  // enable, bus 1, device 2, function 0
constexpr DWORD kPreviousAddress = 0x8000F84C;

struct Piece {
  DWORD addressOffset;
  DWORD port;
  DWORD width;
};

struct Split {
  DWORD offset;
  DWORD size;
  std::vector<Piece> pieces;
};

class CsTest : public MachineTest {
 protected:
  CsTest() : card(AttachFunction(machine, 1, 2, 0, 0)) {
    for (DWORD i = 0; i < 256; i += 4) {
      card.SetConfig32(
          i, Pattern(i) | Pattern(i + 1) << 8 | Pattern(i + 2) << 16 | Pattern(i + 3) << 24);
    }
    machine.RequestIoPrivilege();
    machine.PortWrite(0xCF8, 4, kPreviousAddress);
    machine.ClearTrace();
  }

  static DWORD Pattern(DWORD offset) { return (offset * 7 + 0x5A) & 0xFF; }

  emu::PciFunction& card;
};

// Bytes past the size or past the configuration space are neither addressed nor touched.
TEST_F(CsTest, EachRequestIsCutIntoPiecesEachAfterItsOwnAddressWord) {
  constexpr BYTE kUntouched = 0xEE;
  const std::vector<Split> splits = {
      {0x2C, 4, {{0x2C, 0xCFC, 4}}},
      {0x04, 2, {{0x04, 0xCFC, 2}}},
      {0x02, 2, {{0x00, 0xCFE, 2}}},
      {0x00, 3, {{0x00, 0xCFC, 2}, {0x00, 0xCFE, 1}}},
      {0x01, 4, {{0x00, 0xCFD, 1}, {0x00, 0xCFE, 2}, {0x04, 0xCFC, 1}}},
      {0x03, 1, {{0x00, 0xCFF, 1}}},
      {0x40, 8, {{0x40, 0xCFC, 4}, {0x44, 0xCFC, 4}}},
      {0x10, 0, {}},
      {0xFE, 4, {{0xFC, 0xCFE, 2}}},
  };
  for (const Split& split : splits) {
    SCOPED_TRACE(testing::Message() << "offset " << split.offset << " size " << split.size);
    machine.ClearTrace();
    std::array<BYTE, 8> buffer;
    buffer.fill(kUntouched);
    EXPECT_EQ(csRead(kCard, split.offset, buffer.data(), split.size), 1u);

    std::vector<Op> expected = {PortRd(0xCF8, 4, kPreviousAddress)};
    for (const Piece& piece : split.pieces) {
      const DWORD a = piece.addressOffset + (piece.port - 0xCFC);
      DWORD value = 0;
      for (DWORD i = 0; i < piece.width; ++i) {
        value |= Pattern(a + i) << (8 * i);
      }
      expected.push_back(PortWr(0xCF8, 4, kAddressWord | piece.addressOffset));
      expected.push_back(PortRd(piece.port, piece.width, value));
    }
    expected.push_back(PortWr(0xCF8, 4, kPreviousAddress));
    EXPECT_EQ(Ops(machine), expected);
    for (DWORD k = 0; k < buffer.size(); ++k) {
      const bool read = k < split.size && split.offset + k < 0x100;
      EXPECT_EQ(buffer[k], read ? Pattern(split.offset + k) : kUntouched) << "byte " << k;
    }
  }
}

TEST_F(CsTest, WritesReachOnlyTheWritableBytesAndTheAddressPortIsPutBack) {
  card.SetWriteMask32(0x40, 0x00FFFF00);
  const std::array<BYTE, 4> data = {0x11, 0x22, 0x33, 0x44};
  std::array<BYTE, 4> buffer = data;
  EXPECT_EQ(csWrite(kCard, 0x40, buffer.data(), 4), 1u);
  EXPECT_EQ(card.Config32(0x40), (Pattern(0x43) << 24) | 0x3322u << 8 | Pattern(0x40));
  EXPECT_EQ(buffer, data);

  EXPECT_EQ(csWriteWord(kCard, 0x41, 0xBEEF), 1u);
  EXPECT_EQ(card.Config32(0x40) & 0x00FFFF00, 0x00BEEF00u);
  EXPECT_EQ(csWriteByte(kCard, 0x42, 0x7E), 1u);
  EXPECT_EQ(csWriteDword(kCard, 0x40, 0xFFFFFFFF), 1u);
  EXPECT_EQ(card.Config32(0x40), (Pattern(0x43) << 24) | 0x00FFFF00 | Pattern(0x40));
  EXPECT_EQ(machine.PortRead(0xCF8, 4), kPreviousAddress);

  machine.ClearTrace();
  EXPECT_EQ(csWrite(kCard, 0x100, buffer.data(), 4), 1u);
  EXPECT_EQ(Ops(machine).size(), 2u);  // the address port saved and put back, nothing else
}

TEST_F(CsTest, EmptyLocationAndOneAboveTheBusNumbersReadAllOnes) {
  DWORD value = 0;
  csReadDword(MakePciHandle(9, 9), 0, &value);
  EXPECT_EQ(value, 0xFFFFFFFFu);

  // Bits above the bus number name no function: not the one the low bits name.
  for (const PCIHANDLE stray : {kCard | 0x10000u, kCard | 0xFFFF0000u}) {
    machine.ClearTrace();
    value = 0;
    csReadDword(stray, 0x2C, &value);
    EXPECT_EQ(value, 0xFFFFFFFFu);
    const DWORD before = card.Config32(0x40);
    csWriteDword(stray, 0x40, ~before);
    EXPECT_EQ(card.Config32(0x40), before);
    EXPECT_EQ(Ops(machine).size(), 0u);
  }
}

}  // namespace
