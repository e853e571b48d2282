// Faults the fault runs found in code this folder does not own, as failing reproducers. They
// stay disabled, so that CI keeps passing, until the owners mend them; run them with
// --gtest_also_run_disabled_tests.
#include <gtest/gtest.h>

#include <fstream>
#include <vector>

#include "EmuSampleBios.h"
#include "FuzzRig.h"

namespace {

constexpr std::uint8_t kProtectionBits = 0x0C;

// The card's protection register ignores writes, so the write-protect pin stays low. The
// update lifts the part's protection (its lock bit is still clear), programs and verifies
// the image, but cannot protect the part again: the lock bit it set on the way in now holds
// the status register. The card ends less protected than it was, and the run must not call
// that a success.
TEST(Findings, DISABLED_UpdateThatCannotProtectAgainIsNotASuccess) {
  const fuzz::TempDir dir;
  emu::SampleBiosOptions newer;
  newer.versionByte = 0x22;
  const std::vector<std::uint8_t> file = emu::BuildSampleBios(newer);
  std::ofstream(dir.File("new.bin"), std::ios::binary)
      .write(reinterpret_cast<const char*>(file.data()), static_cast<std::streamsize>(file.size()));
  emu::CardOptions options;
  options.part = emu::FlashPart::Sst25vf010;  // shipped with every block protected
  options.faults.wpStuck = true;
  fuzz::CardMachine machine(emu::BuildSampleBios(), options);
  fuzz::Session session;
  ASSERT_EQ(session.Open(), UX_OK);
  ASSERT_EQ(machine.Card().Flash().Status() & kProtectionBits, kProtectionBits);

  const UX_ERR result = session.Exec("/i " + dir.Operand("new.bin"));

  const bool protectedAgain = (machine.Card().Flash().Status() & kProtectionBits) == kProtectionBits;
  EXPECT_TRUE(protectedAgain || result != UX_OK)
      << "result " << result << ", status 0x" << std::hex << int{machine.Card().Flash().Status()};
}

}  // namespace
