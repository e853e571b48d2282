// An image object that cannot get the memory for a piece it found. The array allocation
// functions of this test program are replaced so that a test can refuse requests of one
// size.
#include <cstdlib>
#include <new>

#include "GBTestSupport.h"

namespace {
std::size_t g_refusedSize = 0;

void* Allocate(std::size_t size) { return std::malloc(size == 0 ? 1 : size); }

class RefuseSize {
 public:
  explicit RefuseSize(std::size_t size) { g_refusedSize = size; }
  ~RefuseSize() { g_refusedSize = 0; }
  RefuseSize(const RefuseSize&) = delete;
  RefuseSize& operator=(const RefuseSize&) = delete;
};
}  // namespace

void* operator new[](std::size_t size) {
  void* block = Allocate(size);
  if (block == nullptr) {
    throw std::bad_alloc();
  }
  return block;
}

void* operator new[](std::size_t size, const std::nothrow_t&) noexcept {
  return size == g_refusedSize ? nullptr : Allocate(size);
}

void operator delete[](void* block) noexcept { std::free(block); }
void operator delete[](void* block, std::size_t) noexcept { std::free(block); }
void operator delete[](void* block, const std::nothrow_t&) noexcept { std::free(block); }

namespace gbtest {
namespace {

// Counted as absent, the card's calibration block would be erased by the next update.
TEST(GBCardCreation, CalibrationBlockThatCannotBeCopiedFailsCreation) {
  emu::SampleBiosOptions sample;
  sample.mcsSize = 777;
  CardRig rig(emu::BuildSampleBios(sample));
  CardObject object;
  {
    RefuseSize refuse(777);
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
