#include <array>
#include <vector>

#include "EmuTestSupport.h"
#include "UxGen.h"

using namespace emutest;

namespace {

constexpr DWORD Id(WORD vendor, WORD device) { return vendor | static_cast<DWORD>(device) << 16; }
constexpr DWORD Subsystem(WORD vendor, WORD id) { return Id(vendor, id); }

constexpr DWORD kLumivaneA = Id(TAVRIN_VENDOR_ID, DEVID_LUMIVANE_A);
constexpr WORD kOtherVendor = 0x1B4D;
constexpr PCIHANDLE kUnfilled = 0xDEADBEEF;

class ScanTest : public MachineTest {
 protected:
  std::vector<PCIHANDLE> Scan(BOOL32 expectedResult) {
    std::array<PCIHANDLE, UX_PCI_LIST_SIZE + 1> list;
    list.fill(kUnfilled);
    UINT32 count = 0xFFFF;
    EXPECT_EQ(SetPCIHANDLE(list.data(), &count), expectedResult);
    EXPECT_EQ(list[UX_PCI_LIST_SIZE], kUnfilled) << "written beyond the list";
    EXPECT_LE(count, UX_PCI_LIST_SIZE);
    for (UINT32 i = count; i < UX_PCI_LIST_SIZE; ++i) {
      EXPECT_EQ(list[i], kUnfilled) << "entry " << i;
    }
    return {list.begin(), list.begin() + (count <= UX_PCI_LIST_SIZE ? count : 0)};
  }
};

TEST_F(ScanTest, FindsTheSupportedChipsInBusThenDeviceOrder) {
  AttachFunction(machine, 3, 1, 0, Id(TAVRIN_VENDOR_ID, DEVID_Z_SERIES));
  AttachFunction(machine, 0, 7, 0, Id(TAVRIN_VENDOR_ID, DEVID_LUMIVANE_B));
  AttachFunction(machine, 0, 2, 0, kLumivaneA);
  AttachFunction(machine, 0, 1, 0, Id(TAVRIN_VENDOR_ID, DEVID_LUMIVANE_A - 1));
  AttachFunction(machine, 0, 3, 0, Id(TAVRIN_VENDOR_ID, DEVID_LUMIVANE_B + 1));
  AttachFunction(machine, 0, 4, 0, Id(kOtherVendor, DEVID_LUMIVANE_A));
  AttachFunction(machine, 0, 5, 1, kLumivaneA);  // function 1 is never looked at
  EXPECT_EQ(Scan(TRUE), (std::vector<PCIHANDLE>{MakePciHandle(0, 2), MakePciHandle(0, 7),
                                                MakePciHandle(3, 1)}));
  for (const Op& op : Ops(machine, emu::Access::PortWrite)) {
    EXPECT_EQ(op.value & 0x700, 0u) << "function " << ((op.value >> 8) & 7) << " addressed";
  }
}

TEST_F(ScanTest, TheMakersSubsystemIdsWithUpperByte0x90AreExcluded) {
  struct Case {
    DWORD subsystem;
    bool supported;
  };
  const Case cases[] = {
      {Subsystem(TAVRIN_VENDOR_ID, 0x9000), false},
      {Subsystem(TAVRIN_VENDOR_ID, 0x90FF), false},  // bits 16-23 do not matter
      {Subsystem(TAVRIN_VENDOR_ID, 0x9100), true},
      {Subsystem(TAVRIN_VENDOR_ID, 0x0090), true},
      {Subsystem(kOtherVendor, 0x9000), true},  // another vendor, whatever the ID
      {0xFFFFFFFF, true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << std::hex << c.subsystem);
    emu::Machine bus;
    emu::ScopedPlatform installed(bus);
    AttachFunction(bus, 4, 0, 0, kLumivaneA, c.subsystem);
    EXPECT_EQ(IsBoardSupported(MakePciHandle(4, 0)), c.supported ? TRUE : FALSE);
    EXPECT_EQ(Scan(c.supported ? TRUE : FALSE).size(), c.supported ? 1u : 0u);
  }
}

TEST_F(ScanTest, TheBoardTestLooksAtTheDeviceIdOnly) {
  AttachFunction(machine, 0, 1, 0, Id(kOtherVendor, DEVID_Z_SERIES));
  EXPECT_EQ(IsBoardSupported(MakePciHandle(0, 1)), TRUE);
  EXPECT_EQ(IsBoardSupported(MakePciHandle(0, 2)), FALSE);  // nothing there
}

TEST_F(ScanTest, AnEmptyBusOrARefusedPrivilegeFindsNothing) {
  EXPECT_TRUE(Scan(FALSE).empty());

  emu::Machine refusing;
  refusing.SetPortPrivilege(false);
  AttachFunction(refusing, 0, 1, 0, kLumivaneA);
  emu::ScopedPlatform installed(refusing);
  EXPECT_TRUE(Scan(FALSE).empty());
  EXPECT_EQ(IsBoardSupported(MakePciHandle(0, 1)), FALSE);
}

TEST_F(ScanTest, MoreThanFiveCardsFillTheListWithTheFirstFive) {
  for (DWORD device = 0; device < 7; ++device) {
    AttachFunction(machine, 1, device * 4, 0, kLumivaneA);
  }
  EXPECT_EQ(Scan(TRUE),
            (std::vector<PCIHANDLE>{MakePciHandle(1, 0), MakePciHandle(1, 4), MakePciHandle(1, 8),
                                    MakePciHandle(1, 12), MakePciHandle(1, 16)}));
}

TEST_F(ScanTest, AccessesAndVirtualTimeOfAWholeBusScan) {
  machine.EnableTrace(false);
  AttachFunction(machine, 0, 1, 0, kLumivaneA);
  const emu::Counters& stats = machine.Stats();
  const auto start = machine.Clock().Now();
  Scan(TRUE);
  // 8192 identification reads, and the board test's two reads for the one card, each of
  // four port accesses (address saved, address, data, address restored).
  constexpr std::uint64_t kAccesses = 8192 * 4 + 2 * 4;
  EXPECT_EQ(stats.portReads + stats.portWrites, kAccesses);
  EXPECT_EQ(machine.Clock().Now() - start, kAccesses * 1000);
}

}  // namespace
