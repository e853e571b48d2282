// Reading and writing the whole part: what reaches the card, in what order, with which
// progress reports, and how the protections end after success and after each failure.
#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

#include "CaseNames.h"
#include "RefusedAllocation.h"
#include "SERig.h"

namespace setest {
namespace {

// Bytes that look like nothing in particular and are never all 0xFF.
Bytes Pattern(std::uint32_t seed) {
  Bytes bytes(SE_CAPACITY);
  std::uint32_t state = seed * 2654435761u + 1;
  for (auto& byte : bytes) {
    state = state * 1103515245u + 12345u;
    byte = static_cast<std::uint8_t>(state >> 16);
  }
  bytes[0] = 0x5A;  // the first byte always has bits to clear
  return bytes;
}

std::string ProtectionToken(std::uint32_t value) {
  const std::uint32_t bits = value & emu::kProtectWritable;
  return bits == emu::kProtectWritable ? "hw-writable" : bits == 0 ? "hw-protected" : "hw-half";
}

std::string CommandToken(const CardEvent& event) {
  const std::uint8_t opcode = event.head[0];
  switch (opcode) {
    case 0x01:
      return event.head.size() > 1 ? "01 " + testnames::HexName(Bytes{event.head[1]}) : "01";
    case 0x03:
      return "03 " + std::to_string(event.length - 4);
    case 0xAF:
      return event.length == 5 ? "af 000000" : "af";
    default:
      return testnames::HexName(Bytes{opcode});
  }
}

// The card's events as short tokens, with runs collapsed: "hw-writable, 06, 01 80, 62,
// 06+02 x512, 03 131072, hw-protected" (06+02: write enable and page program; 03 131072: a
// read of that many bytes).
std::string Summary(const std::vector<CardEvent>& events) {
  std::vector<std::string> tokens;
  for (std::size_t i = 0; i < events.size(); ++i) {
    const CardEvent& event = events[i];
    if (event.kind == CardEvent::Protection) {
      tokens.push_back(ProtectionToken(event.value));
    } else if (event.head[0] == 0x06 && i + 1 < events.size() &&
               events[i + 1].kind == CardEvent::Command && events[i + 1].head[0] == 0x02) {
      tokens.push_back("06+02");
      ++i;
    } else {
      tokens.push_back(CommandToken(event));
    }
  }
  std::string summary;
  for (std::size_t i = 0; i < tokens.size();) {
    std::size_t run = 1;
    while (i + run < tokens.size() && tokens[i + run] == tokens[i]) {
      ++run;
    }
    summary += (summary.empty() ? "" : ", ") + tokens[i];
    summary += run == 1 ? "" : " x" + std::to_string(run);
    i += run;
  }
  return summary;
}

// Addresses of the page-program commands, in order, each checked to carry `page` bytes.
std::vector<std::uint32_t> PageAddresses(const std::vector<CardEvent>& events, std::uint32_t page) {
  std::vector<std::uint32_t> addresses;
  for (const CardEvent& event : events) {
    if (event.kind == CardEvent::Command && event.head[0] == 0x02) {
      const bool whole = event.head.size() >= 4 && event.length == 4 + page;
      addresses.push_back(whole ? (std::uint32_t{event.head[1]} << 16) |
                                      (std::uint32_t{event.head[2]} << 8) | event.head[3]
                                : 0xFFFFFFFF);
    }
  }
  return addresses;
}

// from, from + step, ... short of from + 131072, `passes` times over: the page addresses
// (from 0) or the progress reports (from the first step) of whole-part passes.
std::vector<std::uint32_t> Every(std::uint32_t step, std::uint32_t from, int passes = 1) {
  std::vector<std::uint32_t> values;
  for (int pass = 0; pass < passes; ++pass) {
    for (std::uint32_t value = from; value < from + 131072; value += step) {
      values.push_back(value);
    }
  }
  return values;
}

// A ready object on a card whose flash holds `old`, with the identification forgotten, and
// every progress report (its position, or 0xFFFFFFFF if its total is not the capacity) with
// the card's state at the first.
class Transfer {
 public:
  explicit Transfer(emu::CardOptions options, emu::AccessCosts costs = {})
      : old(Pattern(1)), image(Pattern(2)), rig(options, old, costs) {
    EXPECT_EQ(rig.Create(), SE_OK);
    rig.ClearEvents();
    rig.machine().ResetStats();
    SESetWriteStatusFct(rig.handle(), &Transfer::Report, this);
  }
  SE_ERR Write() { return SEWrite(rig.handle(), image.data(), 0, 131072); }
  // The card's pin low, the lines released and the part's lock and protection bits `status`.
  bool EndsProtected(std::uint8_t status = 0x8C) {
    const bool pinLow = (rig.Register(SE_REG_HW_PROTECTION) & emu::kProtectWritable) == 0;
    const bool level = (rig.card().Flash().Status() & 0x8C) == status;
    const bool linesReleased = (rig.Register(SE_REG_SERIAL_LINES) & emu::kLineBypass) == 0;
    return pinLow && level && linesReleased;
  }
  static void Report(INT32 iCurrentPos, INT32 iMaxPos, void* pvRefIn) {
    auto& transfer = *static_cast<Transfer*>(pvRefIn);
    if (transfer.positions.empty()) {
      transfer.firstSelected = transfer.rig.lines().Selected();
      transfer.firstBits = transfer.rig.lines().BitsInCommand();
      transfer.flashAtFirst = transfer.rig.Flash();
    }
    transfer.positions.push_back(iMaxPos == 131072 ? iCurrentPos : 0xFFFFFFFF);
  }

  Bytes old;
  Bytes image;
  Rig rig;
  std::vector<std::uint32_t> positions;
  bool firstSelected = false;
  std::uint32_t firstBits = 0;
  Bytes flashAtFirst;
};

// Page parts report with the page's bytes sent and the part still selected, before it
// programs anything; the SST part reports after each 256th byte went in.
TEST(FullWrite, LeavesTheFlashEqualToTheBufferBehindBothProtections) {
  struct WriteCase {
    emu::FlashPart part;
    std::uint32_t page;
    INT32 reportStep;
    bool firstReportSelected;
    std::uint32_t firstReportBits;
    const char* summary;
  };
  const WriteCase cases[] = {
      {emu::FlashPart::At25f1024, 256, 256, true, (4 + 256) * 8,
       "hw-writable, 06, 01 80, 06, 62, 06+02 x512, 03 131072, 06, 01 8c, hw-protected"},
      {emu::FlashPart::M25p10, 128, 128, true, (4 + 128) * 8,
       "hw-writable, 06, 01 80, 06, c7, 06+02 x1024, 03 131072, 06, 01 8c, hw-protected"},
      {emu::FlashPart::Sst25vf010, 1, 256, false, 2 * 8,
       "hw-writable, 50, 01 80, 06, 60, 06, af 000000, af x131071, 04, 03 131072, 50, 01 8c, "
       "hw-protected"},
  };
  for (const WriteCase& expected : cases) {
    SCOPED_TRACE(emu::FlashPartName(expected.part));
    Transfer transfer({.part = expected.part});
    ASSERT_EQ(transfer.Write(), SE_OK);

    EXPECT_TRUE(transfer.rig.Flash() == transfer.image);
    EXPECT_EQ(transfer.rig.card().LineViolations(), 0u) << "one line moved per register write";
    const auto& events = transfer.rig.lines().Events();
    EXPECT_EQ(Summary(events), expected.summary);
    const bool paged = expected.page > 1;
    EXPECT_EQ(PageAddresses(events, expected.page),
              paged ? Every(expected.page, 0) : std::vector<std::uint32_t>{});
    EXPECT_TRUE(transfer.EndsProtected());

    ASSERT_EQ(transfer.positions, Every(expected.reportStep, expected.reportStep));
    EXPECT_EQ(transfer.firstSelected, expected.firstReportSelected);
    EXPECT_EQ(transfer.firstBits, expected.firstReportBits);
    EXPECT_EQ(Bytes(transfer.flashAtFirst.begin(), transfer.flashAtFirst.begin() + expected.page),
              paged ? Bytes(expected.page, 0xFF) : Bytes{transfer.image[0]});
  }
}

// Each failed verification, of a corrupted pass or for want of a buffer to verify into,
// sends the next pass to reprogram every page from offset 0 without a new erase, reporting
// again from the start; the third failed pass fails the write. The protection comes back.
TEST(FullWrite, RetriesUntilAPassVerifiesOrThreePassesFailed) {
  struct RetryCase {
    std::uint32_t corruptPasses;
    bool verifyBuffer;
    int passes;
    const char* programming;  // between the erase and the protection put back
  };
  const RetryCase cases[] = {
      {1, true, 2, "06+02 x1024, 03 131072, 06+02 x1024, 03 131072"},
      {3, true, 3, "06+02 x1024, 03 131072, 06+02 x1024, 03 131072, 06+02 x1024, 03 131072"},
      {0, false, 3, "06+02 x3072"},
  };
  for (const RetryCase& expected : cases) {
    SCOPED_TRACE(expected.programming);
    Transfer transfer(
        {.part = emu::FlashPart::M25p10, .faults = {.corruptPasses = expected.corruptPasses}});
    std::optional<testsupport::RefuseAllocation> refuse;
    if (!expected.verifyBuffer) {
      refuse.emplace(SE_CAPACITY);
    }
    EXPECT_EQ(transfer.Write(), expected.passes < 3 ? SE_OK : SE_ERR_WRITE);
    refuse.reset();
    EXPECT_EQ(transfer.rig.Flash() == transfer.image, expected.corruptPasses < 3);
    const auto& events = transfer.rig.lines().Events();
    EXPECT_EQ(Summary(events), std::string("hw-writable, 06, 01 80, 06, c7, ") +
                                   expected.programming + ", 06, 01 8c, hw-protected");
    EXPECT_EQ(PageAddresses(events, 128), Every(128, 0, expected.passes));
    EXPECT_EQ(transfer.positions, Every(128, 128, expected.passes));
    EXPECT_TRUE(transfer.EndsProtected());
  }
}

// Slow port accesses make each 1 ms delay a handful of polls, so the whole watch period
// (200000 status reads) runs in reasonable host time. The part stays busy, so the level-3
// status write is lost, but the card's own protection is applied.
TEST(WriteFailures, AnEraseThatNeverEndsFailsWithinItsWatchPeriodAndProtectsAgain) {
  Transfer transfer({.part = emu::FlashPart::M25p10, .faults = {.eraseHang = true}},
                    {.portNs = 250000});
  const std::uint64_t startNs = transfer.rig.machine().Clock().Now();
  EXPECT_EQ(transfer.Write(), SE_ERR_WRITE);
  EXPECT_EQ(Summary(transfer.rig.lines().Events()),
            "hw-writable, 06, 01 80, 06, c7, 06, 01 8c, hw-protected");
  // The erase's watch period, and at most two bounded waits of the protection steps.
  const std::uint64_t statusReads = transfer.rig.lines().StatusReads();
  EXPECT_GE(statusReads, 200000u);
  EXPECT_LE(statusReads, 200000u + 2 * 2001);
  EXPECT_GE(transfer.rig.machine().Clock().Now() - startNs, 200000ull * 1000 * 1000);
  EXPECT_TRUE(transfer.positions.empty());
  EXPECT_TRUE(transfer.rig.Flash() == transfer.old);
  EXPECT_TRUE(transfer.EndsProtected(0x80));
}

TEST(WriteFailures, AWrongSizeOrStartIsRefusedBeforeAnythingReachesTheCard) {
  Transfer transfer({.part = emu::FlashPart::At25f1024});
  const std::vector<std::pair<UINT32, UINT32>> ranges = {
      {0, 131071}, {1, 131072}, {0, 131073}, {0, 0}, {131072, 131072}};
  for (const auto& [start, size] : ranges) {
    EXPECT_EQ(SEWrite(transfer.rig.handle(), transfer.image.data(), start, size), SE_ERR_WRITE);
  }
  EXPECT_EQ(SEWrite(transfer.rig.handle(), nullptr, 0, 131072), SE_ERR_WRITE);
  const emu::Counters& stats = transfer.rig.machine().Stats();
  EXPECT_EQ(stats.deviceReads + stats.deviceWrites + stats.portReads + stats.portWrites, 0u);
  EXPECT_TRUE(transfer.positions.empty());
  EXPECT_TRUE(transfer.rig.Flash() == transfer.old);
}

// The part's status register is locked (bit 7) and the card's protection register ignores
// writes, so level 0 cannot be reached: the write must not leave the protection lifted.
TEST(WriteFailures, AFailedLevelZeroStepPutsBothProtectionsBack) {
  Transfer transfer({.part = emu::FlashPart::At25f1024, .faults = {.wpStuck = true}});
  const SEHANDLE hSE = transfer.rig.handle();
  ASSERT_EQ(SE128KSetProtection(hSE, 3), TRUE);
  EXPECT_EQ(SE128KSetProtection(hSE, 4), FALSE);
  transfer.rig.ClearEvents();
  EXPECT_EQ(transfer.Write(), SE_ERR_WRITE);
  EXPECT_EQ(Summary(transfer.rig.lines().Events()),
            "hw-writable, 06, 01 80, 06, 01 8c, hw-protected");
  EXPECT_TRUE(transfer.positions.empty());
  EXPECT_TRUE(transfer.rig.Flash() == transfer.old);
  UINT8 status = 0;
  EXPECT_EQ(SE128KReadStatusSPI(hSE, &status), TRUE);
  EXPECT_EQ(status, transfer.rig.card().Flash().Status());
  EXPECT_EQ(status & 0x8C, 0x8C);
}

// Besides the bytes themselves: the transaction frame (4 reads, 3 writes), chip select
// low and high, bypass off, the command and address (4 bytes out, 25 reads and 25 writes
// each) and 25 reads and 17 writes per byte in, no access more.
TEST(Read, ARangeCostsExactlyTheProtocolsAccesses) {
  Transfer transfer({.part = emu::FlashPart::Sst25vf010});
  Bytes buffer(16, 0);
  ASSERT_EQ(SERead(transfer.rig.handle(), 0x12345, 16, buffer.data()), SE_OK);
  EXPECT_EQ(buffer, Bytes(transfer.old.begin() + 0x12345, transfer.old.begin() + 0x12345 + 16));
  EXPECT_EQ(transfer.rig.machine().Stats().deviceReads, 4 + 1 + 100 + 25 * 16 + 1 + 1u);
  EXPECT_EQ(transfer.rig.machine().Stats().deviceWrites, 3 + 1 + 100 + 17 * 16 + 1 + 1u);
  const auto& events = transfer.rig.lines().Events();
  ASSERT_EQ(events.size(), 1u);
  EXPECT_EQ(Bytes(events[0].head.begin(), events[0].head.begin() + 4),
            (Bytes{0x03, 0x01, 0x23, 0x45}));
}

// A size of zero sends the command and address only, a full read equals the flash; without
// a buffer or with the lines held the read fails and the buffer is left alone.
TEST(Read, ASizeOfZeroSendsTheAddressOnlyAFullReadAllAndBusyLinesOrNoBufferNothing) {
  Transfer transfer({.part = emu::FlashPart::At25f1024});
  const SEHANDLE hSE = transfer.rig.handle();
  Bytes buffer(4, 0xEE);
  EXPECT_EQ(SERead(hSE, 0x000102, 0, buffer.data()), SE_OK);
  EXPECT_EQ(SERead(hSE, 0x000102, 0, nullptr), SE_OK);
  EXPECT_EQ(buffer, Bytes(4, 0xEE));
  const auto& events = transfer.rig.lines().Events();
  ASSERT_EQ(events.size(), 2u);
  EXPECT_EQ(events[0].head, (Bytes{0x03, 0x00, 0x01, 0x02}));
  EXPECT_EQ(events[0].length, 4u);
  Bytes whole(131072, 0);
  ASSERT_EQ(SERead(hSE, 0, 131072, whole.data()), SE_OK);
  EXPECT_TRUE(whole == transfer.old);
  EXPECT_TRUE(transfer.positions.empty());

  transfer.rig.ClearEvents();
  transfer.rig.machine().ResetStats();
  EXPECT_EQ(SERead(hSE, 0, 4, nullptr), SE_ERR_READ);
  EXPECT_EQ(transfer.rig.machine().Stats().deviceReads, 0u);
  const std::uint32_t lines = transfer.rig.Register(SE_REG_SERIAL_LINES);
  SERegisterAccess_WriteDword(hSE, SE_REG_SERIAL_LINES, lines | emu::kLineBypass);
  EXPECT_EQ(SERead(hSE, 0, 4, buffer.data()), SE_ERR_READ);
  EXPECT_EQ(buffer, Bytes(4, 0xEE));
  EXPECT_TRUE(events.empty());
}

}  // namespace
}  // namespace setest
