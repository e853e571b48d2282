// The sample image the emulated cards and the tests start from: valid as built, and each
// damage switch breaks its own piece and nothing else.
#include <bitset>

#include "GBTestSupport.h"

namespace gbtest {
namespace {

enum Piece {
  kSignature,
  kBiosSum,
  kMaker,
  kPcir,
  kVersionText,
  kPinsSignature,
  kPinsSum,
  kMcs,
  kMcsSum,
  kPieces
};
using Pieces = std::bitset<kPieces>;

bool TextAt(const Bytes& b, std::uint32_t at, const std::string& text) {
  return std::equal(text.begin(), text.end(), b.begin() + at);
}

// Which pieces of the image are sound, each checked on its own.
Pieces SoundPieces(const Bytes& b) {
  const std::uint32_t biosSize = b[2] * 512u;
  const std::uint32_t pcir = Le(b, 0x18, 2);
  const std::uint32_t pins = Le(b, 0x7FFC, 2);
  GB_BIOS_IDENT ident;
  GBIdentifyBiosBuffer(b.data(), static_cast<UINT32>(b.size()), &ident);
  Pieces sound;
  sound[kSignature] = b[0] == 0x55 && b[1] == 0xAA;
  sound[kBiosSum] = Sum8(b, 0, biosSize) == 0;
  sound[kMaker] = TextAt(b, 0x2D, "TAVRIN");
  sound[kPcir] = TextAt(b, pcir, "PCIR") && Le(b, pcir + 4, 2) == 0x1F2E;
  sound[kVersionText] = ident.bVerExt && std::string(ident.pszVerExt) == "LV7";
  sound[kPinsSignature] = Le(b, pins, 2) == 0x412E && Le(b, pins + 2, 2) == 512;
  sound[kPinsSum] = Sum8(b, pins, 512) == 0;
  sound[kMcs] = TextAt(b, biosSize, "MCS ");
  sound[kMcsSum] = Sum8(b, biosSize, b[biosSize + 10]) == 0;
  return sound;
}

TEST(SampleBios, BuiltWholeAndValid) {
  const Bytes image = emu::BuildSampleBios();
  ASSERT_EQ(kImageSize, image.size());
  EXPECT_TRUE(SoundPieces(image).all()) << SoundPieces(image);
  EXPECT_EQ(0x20011F2Eu, Le(image, 131064, 4));
  EXPECT_EQ(0x0A10u, Le(image, Le(image, 0x18, 2) + 6, 2));
  EXPECT_EQ(0xFF, image[0x1000]);
  EXPECT_EQ(0xFF, image[0x20000 - 9]);
}

TEST(SampleBios, EachSwitchBreaksItsOwnPiece) {
  struct Case {
    const char* name;
    emu::SampleBiosOptions options;
    Pieces broken;
  };
  const Case cases[] = {
      {"signature", {.breakSignature = true}, Pieces().set(kSignature)},
      {"bios sum", {.breakBiosChecksum = true}, Pieces().set(kBiosSum)},
      {"maker", {.withMakerName = false}, Pieces().set(kMaker)},
      {"pcir", {.breakPcirSignature = true}, Pieces().set(kPcir).set(kVersionText)},
      {"version", {.withVersionText = false}, Pieces().set(kVersionText)},
      {"pins signature", {.breakPinsSignature = true}, Pieces().set(kPinsSignature)},
      {"pins sum", {.breakPinsChecksum = true}, Pieces().set(kPinsSum)},
      {"mcs sum", {.breakMcsChecksum = true}, Pieces().set(kMcsSum)},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(~c.broken, SoundPieces(emu::BuildSampleBios(c.options))) << c.name;
  }
}

}  // namespace
}  // namespace gbtest
