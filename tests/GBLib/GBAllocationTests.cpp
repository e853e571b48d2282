// An image object that cannot get the memory for a piece it found.
#include "GBTestSupport.h"
#include "RefusedAllocation.h"

namespace gbtest {
namespace {

// Counted as absent, the card's calibration block would be erased by the next update.
TEST(GBCardCreation, CalibrationBlockThatCannotBeCopiedFailsCreation) {
  emu::SampleBiosOptions sample;
  sample.mcsSize = 777;
  CardRig rig(emu::BuildSampleBios(sample));
  CardObject object;
  {
    testsupport::RefuseAllocation refuse(777);
    EXPECT_EQ(GB_ERR_NO_MEMORY, object.Create());
  }
  const GB_DATA& d = *object.Handle();
  EXPECT_EQ(nullptr, d.m_hSE);
  EXPECT_EQ(nullptr, d.m_oBIOS.pucData);
  EXPECT_EQ(nullptr, d.m_oPINS.pucData);
  EXPECT_FALSE(rig.Card().MemoryDecodingOn());

  ASSERT_EQ(GB_SUCCESS, object.Create());
  EXPECT_EQ(777, GBMCSGetSize(object.Handle()));
}

}  // namespace
}  // namespace gbtest
