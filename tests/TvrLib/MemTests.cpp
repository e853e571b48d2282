#include <array>
#include <vector>

#include "EmuTestSupport.h"
#include "TvrMem.h"

using namespace emutest;

namespace {

constexpr DWORD kAperture = 0xE0000000;

// A function whose memory range (16 KiB unless told) is a plain register file.
class RegisterFile : public emu::PciFunction {
 public:
  explicit RegisterFile(DWORD base = kAperture, std::uint32_t size = 0x4000) : size(size) {
    SetConfig32(0x14, base);
    SetConfig16(0x04, 0x0002);
    for (std::size_t i = 0; i < bytes.size(); ++i) {
      bytes[i] = static_cast<BYTE>(i * 13 + 1);
    }
  }
  std::vector<emu::MemoryBar> MemoryBars() const override { return {{0x14, size}}; }
  std::uint32_t DeviceRead(std::uint32_t, std::uint32_t offset, std::uint32_t width) override {
    std::uint32_t value = 0;
    for (std::uint32_t i = 0; i < width; ++i) {
      value |= static_cast<std::uint32_t>(bytes[offset + i]) << (8 * i);
    }
    return value;
  }
  void DeviceWrite(std::uint32_t, std::uint32_t offset, std::uint32_t width,
                   std::uint32_t value) override {
    for (std::uint32_t i = 0; i < width; ++i) {
      bytes[offset + i] = static_cast<BYTE>(value >> (8 * i));
    }
  }

  std::uint32_t size;
  std::array<BYTE, 0x4000> bytes{};
};

class MemTest : public MachineTest {
 protected:
  MemTest() : device(machine.Emplace<RegisterFile>(0, 4, 0)) {
    iFileDescriptor = machine.OpenPhysicalMemory();
    handle = memMap(kAperture, 0x1FFF);
  }
  ~MemTest() override {
    if (handle != 0) {
      memUnmap(handle);
    }
  }

  RegisterFile& device;
  MEMHANDLE handle = 0;
};

TEST_F(MemTest, ASizeOf0x1FFFMapsTwoWholePagesAndTheReleaseMatchesThem) {
  ASSERT_NE(handle, 0u);
  EXPECT_EQ(iFileSize, 0x1FFF);
  DWORD last = 0;
  memReadDword(handle, 0x1FFC, &last);
  EXPECT_EQ(last, device.DeviceRead(0, 0x1FFC, 4));
  BYTE beyond = 0;
  EXPECT_THROW(memReadByte(handle, 0x2000, &beyond), emu::FatalAccess);

  EXPECT_EQ(memUnmap(handle), 1u);
  EXPECT_EQ(machine.Stats().badUnmaps, 0u);
  EXPECT_THROW(memReadByte(handle, 0, &beyond), emu::FatalAccess);
  handle = 0;
}

TEST_F(MemTest, MappingFailsOnUnalignedAddressUnknownDescriptorOrRefusedDevice) {
  EXPECT_EQ(memMap(kAperture + 0x800, 0x100), 0u);
  iFileDescriptor = -1;
  EXPECT_EQ(memMap(kAperture, 0x100), 0u);
  iFileDescriptor = 77;
  EXPECT_EQ(memMap(kAperture, 0x100), 0u);
  machine.SetPhysicalMemoryAllowed(false);
  EXPECT_EQ(machine.OpenPhysicalMemory(), -1);

  // The handle of a failed mapping reaches no address and releases nothing.
  DWORD value = 0x600DF00D;
  memReadDword(0, 0x304, &value);
  memWriteDword(0, 0x304, 0);
  EXPECT_EQ(memUnmap(0), 1u);
  EXPECT_EQ(value, 0x600DF00Du);
  EXPECT_EQ(machine.Stats().badUnmaps, 0u);
}

TEST_F(MemTest, EachUnitIsOneDeviceAccessInAscendingOrderBothWaysAndSizeZeroMakesNone) {
  std::array<BYTE, 8> buffer{};
  EXPECT_EQ(memRead(handle, 0x20, buffer.data(), 0), 1u);
  EXPECT_EQ(memWrite(handle, 0x20, buffer.data(), 0), 1u);
  memRead(handle, 0x102, buffer.data(), 4);
  memRead(handle, 0x201, buffer.data(), 4);
  memRead(handle, 0x300, buffer.data(), 7);
  std::array<BYTE, 5> data = {0xA1, 0xA2, 0xA3, 0xA4, 0xA5};
  EXPECT_EQ(memReadWrite(handle, 0x11, data.data(), 5, 2), 1u);  // any non-zero writes
  const auto at = [&](DWORD offset, DWORD width) {
    return DevRd(kAperture + offset, width, device.DeviceRead(0, offset, width));
  };
  EXPECT_EQ(
      Ops(machine),
      (std::vector<Op>{at(0x102, 2), at(0x104, 2), at(0x201, 1), at(0x202, 2), at(0x204, 1),
                       at(0x300, 4), at(0x304, 2), at(0x306, 1), DevWr(kAperture + 0x11, 1, 0xA1),
                       DevWr(kAperture + 0x12, 2, 0xA3A2), DevWr(kAperture + 0x14, 2, 0xA5A4)}));
  for (DWORD k = 0; k < 7; ++k) {
    EXPECT_EQ(buffer[k], device.bytes[0x300 + k]);
  }
  EXPECT_TRUE(std::equal(data.begin(), data.end(), device.bytes.begin() + 0x11));
  memWriteDword(handle, 0x304, 0x80000001);
  EXPECT_EQ(device.DeviceRead(0, 0x304, 4), 0x80000001u);
}

// The machine keeps where accesses go between them; every change of the ranges, of the
// functions' order or of the mappings must reach the next access, and the counts too.
TEST(MachineRouting, FollowsEveryChangeBetweenAccesses) {
  emu::Machine machine;
  machine.RequestIoPrivilege();
  // The later function covers 16 KiB; the earlier one its upper 8 KiB, where it answers.
  auto& later = machine.Emplace<RegisterFile>(0, 5, 0, kAperture, 0x4000);
  const int fd = machine.OpenPhysicalMemory();
  const auto at = reinterpret_cast<std::uintptr_t>(machine.Map(0x4000, fd, kAperture));
  EXPECT_EQ(machine.DeviceRead(at + 0x2100, 1), later.bytes[0x2100]);
  auto& earlier = machine.Emplace<RegisterFile>(0, 4, 0, kAperture + 0x2000, 0x2000);
  earlier.bytes[0x100] = 0x5A;
  EXPECT_EQ(machine.DeviceRead(at + 0x100, 1), later.bytes[0x100]);
  EXPECT_EQ(machine.DeviceRead(at + 0x2100, 1), 0x5Au);

  // The earlier function's base moved through the configuration ports: the later answers.
  machine.PortWrite(0xCF8, 4, 0x80002014);
  earlier.SetWriteMask32(0x14, 0xFFFFFFF0);
  machine.PortWrite(0xCFC, 4, 0xD0000000);
  EXPECT_EQ(machine.DeviceRead(at + 0x2100, 1), later.bytes[0x2100]);
  later.SetConfig16(0x04, 0x0000);
  EXPECT_EQ(machine.DeviceRead(at + 0x2100, 1), 0xFFu);
  later.SetConfig16(0x04, 0x0002);

  machine.DeviceWrite(at + 0x304, 4, 0x01020304);
  machine.DeviceRead(at + 0x304, 4);
  machine.ResetStats();
  machine.DeviceWrite(at + 0x304, 4, 0x05060708);
  EXPECT_EQ(machine.DeviceRead(at + 0x304, 4), 0x05060708u);
  EXPECT_EQ(machine.Stats().deviceWritesAt.at(kAperture + 0x304), 1u);
  EXPECT_EQ(machine.Stats().deviceReadsAt.at(kAperture + 0x304), 1u);

  machine.Unmap(reinterpret_cast<void*>(at), 0x4000);
  EXPECT_THROW(machine.DeviceRead(at + 0x304, 4), emu::FatalAccess) << "unmapped: the process dies";
  // A mapping that runs past 4 GiB reaches the low addresses through its wrapped part.
  auto& low = machine.Emplace<RegisterFile>(0, 6, 0, 0x00000000, 0x4000);
  const auto wraps = reinterpret_cast<std::uintptr_t>(machine.Map(0x2000, fd, 0xFFFFF000));
  EXPECT_EQ(machine.DeviceRead(wraps + 0x1010, 1), low.bytes[0x10]);
  EXPECT_EQ(machine.DeviceRead(wraps + 0x10, 1), 0xFFu);
}

}  // namespace
