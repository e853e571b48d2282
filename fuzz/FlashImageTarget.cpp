// A card whose flash holds arbitrary content (pointers, sizes and calibration blocks all
// hostile): the image object analyses it as creation does, then the session runs every
// read-only switch, each run with the card report. None of them may change the card.
// Reading 128 KiB bit by bit through the emulated lines costs about a second per input under
// the fuzzer, so the card is read once and each input is analysed as if just read; a
// regular test shows that both ways give the same image object.
#include <algorithm>
#include <string>

#include "FuzzRig.h"
#include "FuzzTargets.h"
#include "SampleBios.h"

namespace fuzz {
namespace {

constexpr const char* kCardHeading = "Graphics card information\n";

struct FlashRig : KeptSession {
  FlashRig() : KeptSession(emu::BuildSampleBios()) {}

  TempDir dir;
  // Every switch that only reads, in one command line.
  const std::string readOnlyLine =
      "/d " + dir.Operand("pins.txt") + " /ds /dmcs " + dir.Operand("mcs.bin");

  void Load(const Bytes& flash) {
    std::copy(flash.begin(), flash.end(), machine.Card().Flash().Store().Bytes());
    session.Reload(flash);
  }
};

FlashRig& Rig() {
  static FlashRig rig;
  rig.Use();
  return rig;
}

}  // namespace

int FlashImageTarget(const std::uint8_t* data, std::size_t size) {
  FlashRig& rig = Rig();
  const Bytes flash = AsImage(data, size);
  rig.Load(flash);
  rig.session.Exec(rig.readOnlyLine);
  Expect(rig.session.Out().find(kCardHeading) != std::string::npos, "the card report is printed");
  Expect(rig.machine.Flash() == flash, "reading never changes the flash");
  return 0;
}

}  // namespace fuzz
