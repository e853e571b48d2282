// A BIOS file of arbitrary content against the emulated card: the file checks and the file
// report, then the replacement of the BIOS keeping the card's PInS and taking the file's,
// each followed by the assembly of the image that is written back. The card is left locked
// by an earlier update and its protection register does not answer, so every write stops
// before the flash changes and the assembled image can be looked at.
#include <algorithm>
#include <numeric>

#include "FuzzRig.h"
#include "FuzzTargets.h"
#include "SampleBios.h"
#include "UxGen.h"

namespace fuzz {
namespace {

constexpr std::uint8_t kLockedAndProtected = 0x8C;
constexpr std::size_t kSubsystemFromEnd = 8;

emu::CardOptions LockedCard() {
  emu::CardOptions options;
  options.flashStatus = kLockedAndProtected;
  options.faults.wpStuck = true;
  return options;
}

struct FileRig : KeptSession {
  FileRig() : KeptSession(emu::BuildSampleBios(), LockedCard()) {}

  const Bytes card = machine.Flash();

  // The image object as it was made from the card.
  void Restore() { session.Reload(card); }
};

FileRig& Rig() {
  static FileRig rig;
  rig.Use();
  return rig;
}

UINT32 Dword(const Bytes& bytes, std::size_t offset) {
  UINT32 value = 0;
  for (std::size_t i = 4; i-- > 0;) {
    value = (value << 8) | bytes.at(offset + i);
  }
  return value;
}

UINT32 Sum(Bytes::const_iterator begin, Bytes::const_iterator end) {
  return std::accumulate(begin, end, 0u) % 256;
}

// The replaced image is the file, then erased bytes; only the BIOS checksum byte differs.
void ExpectFileInImage(const ImageState& state, const std::uint8_t* data, std::size_t size) {
  bool same = true;
  for (std::size_t i = 0; i < state.image.size(); ++i) {
    const std::uint8_t expected = i < size ? data[i] : 0xFF;
    same = same && (state.image[i] == expected || i + 1 == state.biosSize);
  }
  Expect(same, "the image holds the file and erased bytes");
}

bool Overlap(std::size_t at, std::size_t length, std::size_t otherAt, std::size_t otherLength) {
  return at < otherAt + otherLength && otherAt < at + length;
}

// What the write-back must have put together before it reached the flash. The PInS may lie
// behind the BIOS, but never over a piece that the write-back places or corrects.
void ExpectAssembled(const ImageState& state, const Bytes& card) {
  const Bytes& image = state.image;
  Expect(state.biosSize > 0 && state.biosSize <= image.size(), "the BIOS lies inside the image");
  Expect(Sum(image.begin(), image.begin() + state.biosSize) == 0, "the BIOS bytes add up to 0");
  const std::size_t subsystemAt = image.size() - kSubsystemFromEnd;
  const std::size_t pinsAt = state.pinsOffset;
  const std::size_t pinsLength = state.pins.size();
  Expect(pinsAt + pinsLength <= image.size(), "the PInS lies inside the image");
  Expect(!Overlap(pinsAt, pinsLength, state.biosSize - 1, 1) &&
             !Overlap(pinsAt, pinsLength, state.biosSize, state.mcs.size()) &&
             !Overlap(pinsAt, pinsLength, subsystemAt, sizeof(std::uint32_t)),
         "the PInS covers neither the BIOS checksum, the calibration block nor the subsystem word");
  Expect(std::equal(state.pins.begin(), state.pins.end(), image.begin() + state.pinsOffset),
         "the image carries the PInS copy");
  Expect(Sum(state.pins.begin(), state.pins.end()) == 0, "the PInS bytes add up to 0");
  Expect(std::equal(state.mcs.begin(), state.mcs.end(), image.begin() + state.biosSize),
         "the calibration block follows the BIOS");
  Expect(Dword(image, subsystemAt) == Dword(card, subsystemAt),
         "the card's subsystem word is kept");
}

void ReplaceAndAssemble(FileRig& rig, const std::uint8_t* data, std::size_t size, UINT8 filePins) {
  rig.Restore();
  const GBHANDLE hGB = rig.session.Image();
  const GB_ERR replaced = GBSetBIOS(hGB, data, static_cast<INT32>(size), filePins);
  Expect(
      replaced == GB_SUCCESS || replaced == GB_ERR_BUFFER_SIZE || replaced == GB_ERR_INVALID_PINS,
      "the replacement succeeds or says why not");
  if (replaced != GB_SUCCESS) {
    Expect(StateOf(hGB).image == rig.card, "a refused file leaves the image as it was");
    return;
  }
  ExpectFileInImage(StateOf(hGB), data, size);
  Expect(GBWriteImageToHW(hGB) == SE_ERR_WRITE, "the locked card refuses the write");
  ExpectAssembled(StateOf(hGB), rig.card);
  Expect(rig.machine.Flash() == rig.card, "the refused write leaves the flash as it was");
}

}  // namespace

int BiosFileTarget(const std::uint8_t* data, std::size_t size) {
  FileRig& rig = Rig();
  rig.Restore();
  const auto length = static_cast<UINT32>(size);
  IsValidBinFile(data, length);
  IsBinFileMatchWithBoard(kCardLocation, data, length);
  DisplayBinaryFileInfo(rig.session.Handle(), data, length);
  ReplaceAndAssemble(rig, data, size, 0);
  ReplaceAndAssemble(rig, data, size, 1);
  return 0;
}

}  // namespace fuzz
