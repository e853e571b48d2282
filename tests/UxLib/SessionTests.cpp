// The session's life cycle on the emulated machine: creation on the default or a given card,
// its refusals, moving with /dev, and release.
#include <gtest/gtest.h>

#include <array>
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "Builder.h"
#include "CapturedSession.h"
#include "SampleBios.h"
#include "UxLib.h"

namespace {

class SessionLife : public CapturedSession {
 protected:
  void Machine(const std::vector<std::string>& cards) {
    emu::FrontEndOptions options;
    std::string error;
    ASSERT_TRUE(emu::ParseFrontEndOptions(cards, options, error)) << error;
    m_machine = std::move(emu::BuildMachine(options).machine);
    m_platform = std::make_unique<emu::ScopedPlatform>(*m_machine);
  }
  UX_ERR Create(PCIHANDLE hPci) {
    return UxCreateHandle(&m_session, hPci, Capture, &m_out, Capture, &m_err);
  }
  UX_ERR Exec(const std::string& line) {
    std::array<ACHAR, 256> text{};
    std::strncpy(text.data(), line.c_str(), text.size() - 1);
    return UxExecLibrary(&m_session, text.data());
  }
  void TearDown() override { UxReleaseHandle(&m_session); }

  std::unique_ptr<emu::Machine> m_machine;
  std::unique_ptr<emu::ScopedPlatform> m_platform;
};

TEST_F(SessionLife, NullHandlesRecordsAndRefusedLinesExecuteNothing) {
  ACHAR line[] = "/ds";
  UX_INFO info{};
  EXPECT_EQ(UxExecLibrary(nullptr, line), UX_ERR_INVALID_HANDLE);
  EXPECT_EQ(UxGetInfo(nullptr, &info), UX_ERR_INVALID_HANDLE);
  EXPECT_EQ(UxReleaseHandle(nullptr), UX_ERR_INVALID_HANDLE);
  Machine({});
  ASSERT_EQ(Create(0), UX_OK);
  EXPECT_EQ(UxGetInfo(&m_session, nullptr), UX_ERR_INVALID_HANDLE);
  EXPECT_EQ(UxExecLibrary(&m_session, nullptr), UX_ERR_INVALID_CMD_LINE);
  EXPECT_EQ(Exec(""), UX_ERR_INVALID_CMD_LINE);
  EXPECT_EQ(m_out, "");
  EXPECT_EQ(m_err, "ERROR! Invalid command line.\n\nERROR! Invalid command line.\n\n");
}

TEST_F(SessionLife, OpensTheFirstCardAndReleasesTwiceHarmlessly) {
  Machine({"--card", "200", "--card", "108"});
  ASSERT_EQ(Create(0), UX_OK);
  UX_INFO info{};
  ASSERT_EQ(UxGetInfo(&m_session, &info), UX_OK);
  EXPECT_EQ(info.hPci, 0x108u);
  EXPECT_NE(info.hGB, nullptr);
  EXPECT_NE(info.hSE, nullptr);
  EXPECT_EQ(m_session.hSEInfo.ulSEepromSize, 131072u);
  EXPECT_EQ(m_out + m_err, "");
  EXPECT_EQ(UxReleaseHandle(&m_session), UX_OK);
  EXPECT_EQ(m_session.hGB, nullptr);
  EXPECT_EQ(UxReleaseHandle(&m_session), UX_OK);
}

TEST_F(SessionLife, GivenLocationMustHoldASupportedCard) {
  Machine({"--card", "100,subsys=90331F2E", "--card", "200,subsys=90331234"});
  EXPECT_EQ(Create(0x100), UX_ERR_NOT_SUPPORTED);
  EXPECT_EQ(m_err, "ERROR! Hardware device is not supported by this software.\n\n");
  EXPECT_EQ(m_session.hGB, nullptr);
  m_err.clear();
  // Another vendor's subsystem is never left out.
  EXPECT_EQ(Create(0x200), UX_OK);
  EXPECT_EQ(m_err, "");
}

TEST_F(SessionLife, NoCardWithSilentChannels) {
  Machine({"--card", "100,subsys=90001F2E"});
  EXPECT_EQ(UxCreateHandle(&m_session, 0, nullptr, &m_out, nullptr, &m_err), UX_ERR_NO_DEVICE);
  EXPECT_EQ(m_out + m_err, "");
}

TEST_F(SessionLife, CardThatCannotBeOpenedReportsTheCode) {
  Machine({"--card", "100,cfg40=0C000000"});
  EXPECT_EQ(Create(0), 10002);
  EXPECT_EQ(m_err, "ERROR! Graphics hardware information couldn't be obtained. (#10002)\n\n");
  EXPECT_EQ(m_session.hGB, nullptr);
}

// The system's refusals are named with its reason before the outcome they lead to.
TEST_F(SessionLife, RefusedPortsAndMemoryDeviceAreReportedWithTheSystemsReason) {
  Machine({});
  m_machine->SetPortPrivilege(false);
  EXPECT_EQ(Create(0), UX_ERR_NO_DEVICE);
  EXPECT_EQ(m_err,
            "ERROR! Access to the I/O ports was refused: Operation not permitted.\n\n"
            "ERROR! No Tavrin graphics hardware supported by this\n"
            "       software was detected in your system.\n\n");

  m_platform.reset();
  Machine({});
  m_machine->SetPhysicalMemoryAllowed(false);
  m_err.clear();
  EXPECT_EQ(Create(0), 10006);
  EXPECT_EQ(m_err,
            "ERROR! Graphics hardware information couldn't be obtained. (#10006)\n"
            "       Opening /dev/mem failed: Operation not permitted.\n\n");

  // The device opens but refuses to map an aperture off a page boundary; an aperture in I/O
  // space is no refusal of the system's.
  const std::pair<UINT32, const char*> apertures[] = {
      {0x810, "       Mapping the registers through /dev/mem failed: Invalid argument.\n"},
      {0x1, ""},
  };
  for (const auto& [lowBits, line] : apertures) {
    m_platform.reset();
    m_machine = std::make_unique<emu::Machine>();
    const emu::CardOptions card;
    m_machine
        ->Emplace<emu::Card>(1, 0, 0, m_machine->Clock(), card,
                             emu::FlashStore::InMemory(emu::BuildSampleBios()))
        .SetConfig32(0x14, card.apertureBase | lowBits);
    m_platform = std::make_unique<emu::ScopedPlatform>(*m_machine);
    m_err.clear();
    EXPECT_EQ(Create(0), 10006);
    EXPECT_EQ(m_err,
              std::string("ERROR! Graphics hardware information couldn't be obtained. (#10006)\n") +
                  line + "\n");
  }
  EXPECT_EQ(m_out, "");
}

TEST_F(SessionLife, FailedMoveForgetsTheOldCardsEepromObject) {
  Machine({});
  ASSERT_EQ(Create(0), UX_OK);
  // Above 0xFFFF no location holds a card, whatever card its low 16 bits name.
  for (const PCIHANDLE empty : {0x300u, 0x10100u, 0x1000100u}) {
    m_out.clear();
    m_err.clear();
    char line[32];
    std::snprintf(line, sizeof(line), "/dev %x /ds", empty);
    EXPECT_EQ(Exec(line), 10001) << line;
    EXPECT_EQ(m_out, "") << line;
    EXPECT_EQ(m_err, "ERROR! Graphics hardware information couldn't be obtained. (#10001)\n\n")
        << line;
    UX_INFO info{};
    ASSERT_EQ(UxGetInfo(&m_session, &info), UX_OK);
    EXPECT_EQ(info.hPci, empty);
    EXPECT_EQ(info.hSE, nullptr);
    // Moving back opens the first card again.
    m_err.clear();
    EXPECT_EQ(Exec("/dev 100 /ds"), UX_OK);
    EXPECT_EQ(m_err, "");
  }
}

TEST_F(SessionLife, SerialNumberFillingItsFieldIsReportedWhole) {
  m_machine = std::make_unique<emu::Machine>();
  m_machine->Emplace<emu::Card>(
      1, 0, 0, m_machine->Clock(), emu::CardOptions{.part = emu::FlashPart::M25p10},
      emu::FlashStore::InMemory(emu::BuildSampleBios({.serialNumber = "ABCDEFGHIJKLMNOP"})));
  m_platform = std::make_unique<emu::ScopedPlatform>(*m_machine);
  ASSERT_EQ(Create(0), UX_OK);
  EXPECT_EQ(Exec("/dev 100"), UX_OK);
  EXPECT_NE(m_out.find("\tSerial Number:\tABCDEFGHIJKLMNOP\n\tPCI location:"), std::string::npos)
      << m_out;
}

// A backup that cannot even be created stops the run before the update, with a reason.
TEST_F(SessionLife, BackupIntoAMissingFolderIsAFileError) {
  Machine({});
  ASSERT_EQ(Create(0), UX_OK);
  EXPECT_EQ(Exec("/o no-such-folder/old.bin /tvout pal"), UX_ERR_FILE);
  EXPECT_EQ(m_err, "ERROR! The following file couldn't be created: no-such-folder/old.bin\n\n");
  EXPECT_EQ(m_out.find("WARNING!"), std::string::npos);
}

}  // namespace
