// Where a part's bytes live: in memory, or in a file that is the flash.
#include <gtest/gtest.h>

#include <fstream>

#include "FileStores.h"
#include "SpiRig.h"

namespace emu::test {
namespace {

TEST(FlashStore, MemoryHoldsTheContentOrStartsErased) {
  EXPECT_EQ(FlashStore::InMemory()->Copy(), Bytes(kFlashCapacity, 0xFF));
  EXPECT_EQ(FlashStore::InMemory(Pattern())->Copy(), Pattern());
  EXPECT_THROW(FlashStore::InMemory(Bytes(kFlashCapacity - 1)), std::invalid_argument);
}

TEST(FlashStore, AMissingFileIsCreatedWithTheGivenContentAndAnExistingOneKept) {
  const std::string path = FreshPath("create.bin");
  {
    auto store = MapFlashFile(path, Pattern());
    EXPECT_EQ(store->Copy(), Pattern());
    store->Bytes()[7] = 0x00;
    EXPECT_EQ(ReadFile(path)[7], 0x00) << "the mapping is the file";
  }
  Bytes expected = Pattern();
  expected[7] = 0x00;
  EXPECT_EQ(MapFlashFile(path)->Copy(), expected) << "the file wins over initial content";
  EXPECT_EQ(MapFlashFile(path, Bytes(kFlashCapacity, 0xAA))->Copy(), expected);
}

TEST(FlashStore, FilesThatCannotBeTheFlashAreRefusedByName) {
  const std::string shortFile = FreshPath("short.bin");
  std::ofstream(shortFile, std::ios::binary) << std::string(1000, '\xFF');
  try {
    MapFlashFile(shortFile);
    ADD_FAILURE() << "a 1000-byte file was taken";
  } catch (const std::runtime_error& e) {
    EXPECT_EQ(std::string(e.what()), "flash file " + shortFile + ": size is not 131072 bytes");
  }
  EXPECT_EQ(ReadFile(shortFile).size(), 1000u) << "left as it was";

  const std::string nowhere = "no-such-dir/flash.bin";
  try {
    MapFlashFile(nowhere);
    ADD_FAILURE() << "created a file in a missing folder";
  } catch (const std::runtime_error& e) {
    EXPECT_EQ(std::string(e.what()),
              "flash file " + nowhere + ": cannot create: No such file or directory");
  }

  const std::string unwritten = FreshPath("bad-content.bin");
  EXPECT_THROW(MapFlashFile(unwritten, Bytes(10)), std::invalid_argument);
  EXPECT_FALSE(std::ifstream(unwritten).good()) << "no file made for bad content";
}

}  // namespace
}  // namespace emu::test
