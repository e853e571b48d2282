#include "FuzzRig.h"

#include <unistd.h>

#include <algorithm>
#include <array>
#include <cstdlib>
#include <cstring>
#include <string>

#include "GBData.h"

namespace fuzz {
namespace {

// The front end hands the session at most this many characters and a terminating zero.
constexpr std::size_t kCommandLineSize = 256;

BOOL32 Keep(void* pvRefData, const ACHAR* pszString) {
  static_cast<std::string*>(pvRefData)->append(pszString);
  return TRUE;
}

}  // namespace

void Expect(bool holds, const std::string& what) {
  if (!holds) {
    throw Finding(what);
  }
}

Bytes AsImage(const std::uint8_t* data, std::size_t size) {
  Bytes image(emu::kFlashCapacity, 0xFF);
  std::copy_n(data, std::min(size, image.size()), image.begin());
  return image;
}

Session::Session() : m_storage(new std::uint8_t[UxGetHandleSize()]()) {}

Session::~Session() {
  if (m_open) {
    UxReleaseHandle(Handle());
  }
}

UX_ERR Session::Open() {
  const UX_ERR result = UxCreateHandle(Handle(), kCardLocation, Keep, &m_out, Keep, &m_out);
  m_open = result == UX_OK;
  return result;
}

UX_ERR Session::Exec(const std::string& commandLine) {
  std::array<ACHAR, kCommandLineSize> line{};
  Expect(commandLine.size() < line.size(), "a command line the front end would have refused");
  std::memcpy(line.data(), commandLine.data(), commandLine.size());
  return UxExecLibrary(Handle(), line.data());
}

KeptSession::KeptSession(const Bytes& flash, const emu::CardOptions& options)
    : machine(flash, options) {
  Expect(session.Open() == UX_OK, "the card opens");
}

ImageState StateOf(GBHANDLE hGB) {
  ImageState state;
  const UINT8* image = hGB->m_oBIOS.pucData;
  state.image.assign(image, image + (image ? hGB->m_oSEInfo.ulSEepromSize : 0));
  state.biosSize = hGB->m_oBIOS.ulSize;
  state.pinsOffset = hGB->m_oPINS.usPINSOffset;
  const UINT8* pins = hGB->m_oPINS.pucData;
  state.pins.assign(pins, pins + (pins ? hGB->m_oPINS.usSize : 0));
  const UINT8* mcs = hGB->m_oMCS.pucData;
  state.mcs.assign(mcs, mcs + (mcs ? hGB->m_oMCS.ulSize : 0));
  state.subsystem = hGB->m_oSubSys.ulSubsys;
  return state;
}

void Reanalyse(GBHANDLE hGB, const Bytes& image) {
  Expect(image.size() == hGB->m_oSEInfo.ulSEepromSize, "an image of the card's capacity");
  GBMCSCleanup(hGB);
  GBPinsCleanup(hGB);
  UINT8* const pucData = hGB->m_oBIOS.pucData;
  hGB->m_oBIOS = GB_BIOS{};
  hGB->m_oBIOS.pucData = pucData;
  hGB->m_oPINS = GB_PINS{};
  hGB->m_oSubSys = GB_SUBSYS{};
  std::memcpy(pucData, image.data(), image.size());
  GBBiosDetectSize(hGB);
  Expect(GBInit(hGB) == GB_SUCCESS, "the card's chip family is still known");
}

void Session::Reload(const Bytes& image) {
  Reanalyse(Image(), image);
  GBGetInfo(Image(), &Handle()->hGBInfo);
  m_out.clear();
}

TempDir::TempDir() {
  namespace fs = std::filesystem;
  static unsigned s_count = 0;
  m_path = fs::temp_directory_path() /
           ("tvr-fuzz-" + std::to_string(getpid()) + "-" + std::to_string(s_count++));
  std::error_code failed;
  Expect(fs::create_directory(m_path, failed), "a temporary directory can be made");
}

TempDir::~TempDir() {
  std::error_code ignored;
  std::filesystem::remove_all(m_path, ignored);
}

std::string TempDir::Operand(const std::string& name) const {
  const std::string operand = std::filesystem::relative(m_path / name).string();
  const bool lowerCase =
      std::none_of(operand.begin(), operand.end(), [](char c) { return c >= 'A' && c <= 'Z'; });
  Expect(lowerCase && operand.size() < UX_OPTION_SIZE && operand[0] != '/' && operand[0] != '-',
         "a file operand the parser takes as it is");
  return operand;
}

}  // namespace fuzz
