// A verification buffer that cannot be allocated counts as a failed verification.
#include <gtest/gtest.h>

#include "RefusedAllocation.h"
#include "SEWriteLog.h"

namespace setest {
namespace {

TEST(WriteFailures, NoVerificationBufferMeansThreeFailedPassesAndTheProtectionBack) {
  emu::CardOptions options;
  options.part = emu::FlashPart::M25p10;
  const Bytes image = Pattern(7);
  Rig rig(options, Pattern(8));
  ASSERT_EQ(rig.Create(), SE_OK);
  ProgressLog log(rig);
  log.Install();
  rig.ClearEvents();
  Bytes buffer = image;
  {
    testsupport::RefuseAllocation refuse(SE_CAPACITY);
    EXPECT_EQ(SEWrite(rig.handle(), buffer.data(), 0, 131072), SE_ERR_WRITE);
  }
  EXPECT_EQ(Summary(rig.lines().Events()),
            (std::vector<std::string>{"hw-writable", "06", "01 80", "06", "C7", "06+02 x3072",
                                      "06", "01 8C", "hw-protected"}));
  const std::vector<std::uint32_t> addresses = PageAddresses(rig.lines().Events(), 128);
  ASSERT_EQ(addresses.size(), 3072u);
  for (std::uint32_t i = 0; i < 3072; ++i) {
    ASSERT_EQ(addresses[i], i % 1024 * 128) << "every pass starts again from offset 0";
  }
  EXPECT_EQ(log.positions, Positions(128, 3));
  EXPECT_TRUE(rig.Flash() == image) << "programming itself went well";
  EXPECT_EQ(rig.Register(SE_REG_HW_PROTECTION) & emu::kProtectWritable, 0u);
}

}  // namespace
}  // namespace setest
