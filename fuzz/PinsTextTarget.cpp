// The PInS text import on arbitrary text, over the sample card's PInS. The text is handed
// over exactly as /s hands over a file: its bytes, no terminator. An accepted text must
// leave a PInS with a right checksum whose own text is written whole, and that text, read
// back, must give the same text again.
#include <numeric>
#include <string>
#include <utility>
#include <vector>

#include "FuzzRig.h"
#include "FuzzTargets.h"
#include "GBData.h"
#include "SampleBios.h"

namespace fuzz {
namespace {

// What /d hands the export.
constexpr INT32 kTextBufferSize = 4096;

struct PinsRig : KeptSession {
  Bytes pins = Bytes(GB_PINS_SIZE);
  UINT32 subsystem = 0;

  PinsRig() : KeptSession(emu::BuildSampleBios()) {
    INT32 written = 0;
    Expect(GBGetPInSInBuffer(session.Image(), pins.data(), GB_PINS_SIZE, &written) == GB_SUCCESS,
           "the sample card has a PInS");
    subsystem = session.Image()->m_oSubSys.ulSubsys;
  }

  void Restore() {
    GBSetPInSFromBuffer(session.Image(), pins.data(), GB_PINS_SIZE);
    session.Image()->m_oSubSys.ulSubsys = subsystem;
  }
};

PinsRig& Rig() {
  static PinsRig rig;
  rig.Use();
  return rig;
}

std::string Export(GBHANDLE hGB) {
  std::vector<ACHAR> text(kTextBufferSize);
  Expect(GBGetPInSInASCIIBuffer(hGB, text.data(), kTextBufferSize) == GB_SUCCESS,
         "the text of an accepted PInS fits the buffer of /d");
  Expect(text.back() == '\0', "the text ends inside its buffer");
  return text.data();
}

GB_ERR Import(GBHANDLE hGB, const std::string& text) {
  return GBSetPInSFromASCIIBuffer(hGB, text.data(), static_cast<INT32>(text.size()));
}

// The string fields, offset and size: a line feed in one is what the text cannot carry.
constexpr std::pair<UINT32, UINT32> kStringFields[] = {{12, 16}, {28, 6}, {376, 16}};

bool StringHoldsLineFeed(GBHANDLE hGB) {
  for (const auto& [offset, size] : kStringFields) {
    for (UINT32 i = offset; i < offset + size && GBPinsGetByte(hGB, i) != 0; ++i) {
      if (GBPinsGetByte(hGB, i) == '\n') {
        return true;
      }
    }
  }
  return false;
}

void ExpectRightChecksum(GBHANDLE hGB) {
  Bytes pins(GB_PINS_SIZE);
  INT32 written = 0;
  Expect(GBGetPInSInBuffer(hGB, pins.data(), GB_PINS_SIZE, &written) == GB_SUCCESS,
         "the PInS is still valid");
  Expect(std::accumulate(pins.begin(), pins.end(), 0u) % 256 == 0, "the PInS bytes add up to 0");
}

}  // namespace

int PinsTextTarget(const std::uint8_t* data, std::size_t size) {
  PinsRig& rig = Rig();
  rig.Restore();
  const GBHANDLE hGB = rig.session.Image();
  const GB_ERR result =
      GBSetPInSFromASCIIBuffer(hGB, reinterpret_cast<const ACHAR*>(data), static_cast<INT32>(size));
  Expect(result == GB_SUCCESS || result == GB_ERR_INVALID_PINS_TEXT,
         "import gives success or 20003");
  if (result != GB_SUCCESS) {
    return 0;
  }
  ExpectRightChecksum(hGB);
  // The text the export writes reads back, unless a string field holds a line feed: that
  // text is refused, the format's limit rather than a fault. The first round settles what
  // the format leaves out (bit 15 of word 10, bytes behind a string's zero); from then on
  // writing and reading must agree.
  const bool bCarried = !StringHoldsLineFeed(hGB);
  const std::string written = Export(hGB);
  Expect(Import(hGB, written) == (bCarried ? GB_SUCCESS : GB_ERR_INVALID_PINS_TEXT),
         "the export's text reads back unless a string holds a line feed");
  if (!bCarried) {
    return 0;
  }
  const std::string settled = Export(hGB);
  Expect(Import(hGB, settled) == GB_SUCCESS, "a settled text reads back");
  ExpectRightChecksum(hGB);
  Expect(Export(hGB) == settled, "a settled text reads back to the same text");
  return 0;
}

}  // namespace fuzz
