// The BIOS size and the version, extension and product ID detection.
#include "GBTestSupport.h"

namespace gbtest {
namespace {

TEST(GBImage, SampleIsReadAsBuilt) {
  MemoryImage m(emu::BuildSampleBios());
  ASSERT_EQ(GB_SUCCESS, m.InitResult());
  const GB_DATA& d = m.Data();
  EXPECT_EQ(0x60u * 512, d.m_oBIOS.ulSize);
  EXPECT_EQ(0x20011F2Eu, d.m_oSubSys.ulSubsys);
  EXPECT_EQ(131064u, d.m_oSubSys.ulSubSys_Offset);
  EXPECT_EQ(TRUE, d.m_oPINS.bValid);
  EXPECT_EQ(0x7A00, d.m_oPINS.usPINSOffset);
  EXPECT_EQ(3, d.m_oPINS.usCounter);
  EXPECT_EQ(TRUE, d.m_oMCS.bValid);
}

TEST(GBImage, ErasedImageHasNothingButItsSize) {
  MemoryImage m(Bytes(kImageSize, 0xFF));
  const GB_DATA& d = m.Data();
  EXPECT_EQ(130560u, d.m_oBIOS.ulSize);
  EXPECT_EQ(0xFFFF, d.m_oPINS.usPINSOffset);
  EXPECT_EQ(0xFFFF, d.m_oPINS.usSize);  // 0xFFFF + 65535 still lies inside the image
  EXPECT_EQ(FALSE, d.m_oPINS.bValid);
  EXPECT_EQ(0u, d.m_oBIOS.ulVersion);
  EXPECT_STREQ("", d.m_oBIOS.pszVerExt);
  EXPECT_STREQ("", d.m_oBIOS.pszProductID);
  EXPECT_EQ(nullptr, d.m_oMCS.pucData);
  EXPECT_EQ(0xFFFFFFFFu, d.m_oSubSys.ulSubsys);
}

TEST(GBImage, UnknownChipFailsAnalysisWithoutTable) {
  MemoryImage m(emu::BuildSampleBios(), 0x0A12);
  EXPECT_EQ(GB_ERR_NOT_SUPPORTED, m.InitResult());
  EXPECT_EQ(nullptr, m.Data().m_oTable.PInSDataToASCII);
  EXPECT_EQ(nullptr, m.Data().m_oMCS.pucData);
}

// A buffer with "PCIR" at 0x1800, clear of the version text area (version 0x21, build 5,
// product "XYZ") and, when given, a version text placed at `textAt`.
constexpr std::uint32_t kPcirAt = 0x1800;

Bytes IdentBuffer(std::uint32_t size, const std::string& text = "", std::uint32_t textAt = 0x40) {
  Bytes b(size, 0);
  PutLe(b, 0x18, kPcirAt, 2);
  std::memcpy(&b[kPcirAt], "PCIR", 4);
  b[kPcirAt + 0x12] = 0x21;
  b[kPcirAt + 0x13] = 0x05;
  std::memcpy(&b[kPcirAt + 0x18], "XYZ", 3);
  std::memcpy(&b[textAt], text.data(), text.size());
  return b;
}

GB_BIOS_IDENT Identify(const Bytes& b) {
  GB_BIOS_IDENT ident;
  GBIdentifyBiosBuffer(b.data(), static_cast<UINT32>(b.size()), &ident);
  return ident;
}

// The extension follows "(" and four characters, up to seven of them, when "BIOS" starts
// before 5120 and ")" lies before 5120 too; the version and product come from the PCIR all
// the same.
TEST(GBVersionText, ExtensionSkipsParenthesisAndFourCharactersUpToSeven) {
  struct Case {
    std::string text;
    std::uint32_t at;
    BOOL32 found;
    const char* extension;
  };
  const Case cases[] = {
      {"BIOS (1234ABC)", 0x40, TRUE, "ABC"},
      {"BIOS (1234)", 0x40, TRUE, ""},
      {"BIOS (1234ABCDEFGHIJ)", 0x40, TRUE, "ABCDEFG"},
      {"BIOS (1234ABC)", 5120, FALSE, ""},
      {"BIOS (1234" + std::string(5119 - 0x40 - 10, 'a') + ")", 0x40, TRUE, "aaaaaaa"},
      {"BIOS (1234" + std::string(5120 - 0x40 - 10, 'a') + ")", 0x40, FALSE, ""},
  };
  for (const Case& c : cases) {
    const GB_BIOS_IDENT id = Identify(IdentBuffer(8192, c.text, c.at));
    EXPECT_EQ(TRUE, id.bPCIR) << c.text.size() << " at " << c.at;
    EXPECT_EQ(0x200405u, id.ulVersion) << c.text.size() << " at " << c.at;
    EXPECT_EQ(c.found, id.bVerExt) << c.text.size() << " at " << c.at;
    EXPECT_STREQ(c.extension, id.pszVerExt) << c.text.size() << " at " << c.at;
    EXPECT_STREQ("XYZ", id.pszProductID) << c.text.size() << " at " << c.at;
  }
}

TEST(GBVersionText, SearchesStayInsideAShortBuffer) {
  // The buffer ends right behind the product ID; "BIOS" fills its last four bytes.
  Bytes b = IdentBuffer(kPcirAt + 0x1C);
  std::memcpy(&b[kPcirAt + 0x18], "BIOS", 4);
  const GB_BIOS_IDENT id = Identify(b);
  EXPECT_EQ(TRUE, id.bPCIR);
  EXPECT_EQ(FALSE, id.bVerExt);
  EXPECT_STREQ("BIO", id.pszProductID);
}

TEST(GBVersionText, NoPcirLeavesEverythingEmpty) {
  Bytes b = IdentBuffer(8192, "BIOS (1234ABC)");
  b[kPcirAt + 3] = 'X';
  const GB_BIOS_IDENT id = Identify(b);
  EXPECT_EQ(FALSE, id.bPCIR);
  EXPECT_EQ(0u, id.ulVersion);
  EXPECT_STREQ("", id.pszVerExt);
  EXPECT_STREQ("", id.pszProductID);
  // A pointer past the end of the buffer reads erased bytes, not the memory behind it.
  PutLe(b, 0x18, 0xFFFF, 2);
  EXPECT_EQ(FALSE, Identify(b).bPCIR);
  EXPECT_EQ(FALSE, Identify(Bytes()).bPCIR);
}

TEST(GBImageAccess, ReadsAndWritesOutsideTheImageDoNothing) {
  MemoryImage m(emu::BuildSampleBios());
  GBHANDLE h = m.Handle();
  EXPECT_EQ(0x55, GBBiosGetByte(h, 0));
  EXPECT_EQ(0xAA55, GBBiosGetWord(h, 0));
  EXPECT_EQ(0x20011F2Eu, GBBiosGetDword(h, 131064));
  EXPECT_EQ(0u, GBBiosGetWord(h, 131071));
  EXPECT_EQ(0u, GBBiosGetDword(h, 0xFFFFFFFE));
  EXPECT_EQ(FALSE, GBBiosSetDword(h, 131070, 0));
  EXPECT_EQ(TRUE, GBBiosSetDword(h, 131068, 0x04030201));
  EXPECT_EQ(Bytes({1, 2, 3, 4}), Slice(m.Image(), 131068, 4));
}

TEST(GBImageAccess, ZeroBiosSizeLeavesChecksumStepDoingNothing) {
  Bytes image = emu::BuildSampleBios();
  image[2] = 0;
  MemoryImage m(image);
  EXPECT_EQ(0u, m.Data().m_oBIOS.ulSize);
  GBBiosComputeChecksum(m.Handle());
  EXPECT_EQ(image, m.Image());
}

}  // namespace
}  // namespace gbtest
