// The native platform: the machine the program runs on, reached through port
// instructions, the I/O privilege level, the memory device and its mappings.
#include "TvrPlatform.h"

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/types.h>
#include <unistd.h>

#include <cerrno>
#include <ctime>

#include "TvrCpu.h"
#include "TvrMap.h"

#if defined(__i386__) || defined(__x86_64__)
#include <sys/io.h>
#define TVR_HAS_PORT_INSTRUCTIONS 1
#else
#define TVR_HAS_PORT_INSTRUCTIONS 0
#endif

namespace {

constexpr UINT32 ALL_ONES = 0xFFFFFFFFu;
constexpr char PHYSICAL_MEMORY_DEVICE[] = "/dev/mem";

// Test builds of the program plant one fault here, to show that the trap harness finds
// it: a 32-bit port read made 16 bits wide, or a 32-bit register read made 16 bits wide.
// The shipped program is built without either.
#ifdef TVR_FAULT_PORT_WIDTH
constexpr UINT32 PortReadWidth(UINT32 width) { return width == 4 ? 2 : width; }
#else
constexpr UINT32 PortReadWidth(UINT32 width) { return width; }
#endif
#ifdef TVR_FAULT_REGISTER_WIDTH
constexpr UINT32 DeviceReadWidth(UINT32 width) { return width == 4 ? 2 : width; }
#else
constexpr UINT32 DeviceReadWidth(UINT32 width) { return width; }
#endif

#if TVR_HAS_PORT_INSTRUCTIONS
UINT32 PortIn(UINT16 port, UINT32 width) {
  switch (width) {
    case 1: {
      UINT8 value;
      __asm__ __volatile__("inb %w1, %b0" : "=a"(value) : "Nd"(port));
      return value;
    }
    case 2: {
      UINT16 value;
      __asm__ __volatile__("inw %w1, %w0" : "=a"(value) : "Nd"(port));
      return value;
    }
    case 4: {
      UINT32 value;
      __asm__ __volatile__("inl %w1, %0" : "=a"(value) : "Nd"(port));
      return value;
    }
    default:
      return ALL_ONES;
  }
}

void PortOut(UINT16 port, UINT32 width, UINT32 value) {
  switch (width) {
    case 1:
      __asm__ __volatile__("outb %b0, %w1" : : "a"(static_cast<UINT8>(value)), "Nd"(port));
      break;
    case 2:
      __asm__ __volatile__("outw %w0, %w1" : : "a"(static_cast<UINT16>(value)), "Nd"(port));
      break;
    case 4:
      __asm__ __volatile__("outl %0, %w1" : : "a"(value), "Nd"(port));
      break;
    default:
      break;
  }
}
#endif

class NativePlatform final : public TvrPlatform {
 public:
  bool RequestIoPrivilege() override {
#if TVR_HAS_PORT_INSTRUCTIONS
    const bool granted = iopl(3) >= 0;
    KeepRefusal(TvrRequest::IoPrivilege, granted ? 0 : errno);
    return granted;
#else
    KeepRefusal(TvrRequest::IoPrivilege, ENOSYS);
    return false;
#endif
  }

  UINT32 PortRead(UINT16 port, UINT32 width) override {
#if TVR_HAS_PORT_INSTRUCTIONS
    return PortIn(port, PortReadWidth(width));
#else
    (void)port;
    (void)width;
    return ALL_ONES;
#endif
  }

  void PortWrite(UINT16 port, UINT32 width, UINT32 value) override {
#if TVR_HAS_PORT_INSTRUCTIONS
    PortOut(port, width, value);
#else
    (void)port;
    (void)width;
    (void)value;
#endif
  }

  int OpenPhysicalMemory() override {
    const int descriptor = open(PHYSICAL_MEMORY_DEVICE, O_RDWR);
    KeepRefusal(TvrRequest::PhysicalMemory, descriptor == -1 ? errno : 0);
    return descriptor;
  }

  // The 64-bit offset keeps physical addresses above 2 GiB intact in a 32-bit build.
  void* Map(std::size_t length, int descriptor, UINT32 physical) override {
    void* mapped = mmap64(nullptr, length, PROT_READ | PROT_WRITE, MAP_SHARED, descriptor,
                          static_cast<off64_t>(physical));
    KeepRefusal(TvrRequest::Mapping, mapped == MAP_FAILED ? errno : 0);
    return mapped == MAP_FAILED ? nullptr : mapped;
  }

  void Unmap(void* address, std::size_t length) override { munmap(address, length); }

  long PageSize() override { return getpagesize(); }

  UINT32 DeviceRead(std::uintptr_t address, UINT32 width) override {
    switch (DeviceReadWidth(width)) {
      case 1:
        return *reinterpret_cast<volatile UINT8*>(address);
      case 2:
        return *reinterpret_cast<volatile UINT16*>(address);
      case 4:
        return *reinterpret_cast<volatile UINT32*>(address);
      default:
        return ALL_ONES;
    }
  }

  void DeviceWrite(std::uintptr_t address, UINT32 width, UINT32 value) override {
    switch (width) {
      case 1:
        *reinterpret_cast<volatile UINT8*>(address) = static_cast<UINT8>(value);
        break;
      case 2:
        *reinterpret_cast<volatile UINT16*>(address) = static_cast<UINT16>(value);
        break;
      case 4:
        *reinterpret_cast<volatile UINT32*>(address) = value;
        break;
      default:
        break;
    }
  }

  UINT32 UserId() override { return static_cast<UINT32>(getuid()); }

  bool LocalTime(std::tm& out) override {
    const std::time_t now = std::time(nullptr);
    return now != static_cast<std::time_t>(-1) && localtime_r(&now, &out) != nullptr;
  }

  std::uint64_t MonotonicNs() override {
    timespec now{};
    if (clock_gettime(CLOCK_MONOTONIC, &now) != 0) {
      return 0;
    }
    return Nanoseconds(now);
  }

  std::uint64_t MonotonicResolutionNs() override {
    timespec resolution{};
    if (clock_getres(CLOCK_MONOTONIC, &resolution) != 0) {
      return 0;
    }
    return Nanoseconds(resolution);
  }

 private:
  static std::uint64_t Nanoseconds(const timespec& time) {
    return static_cast<std::uint64_t>(time.tv_sec) * 1000000000u +
           static_cast<std::uint64_t>(time.tv_nsec);
  }
};

NativePlatform& Native() {
  static NativePlatform native;
  return native;
}

TvrPlatform* s_installed = nullptr;

}  // namespace

TvrPlatform& TvrGetPlatform() {
  if (s_installed != nullptr) {
    return *s_installed;
  }
  return Native();
}

void TvrSetPlatform(TvrPlatform* platform) {
  s_installed = platform;
  // The descriptor and the privilege belonged to the machine in force before.
  iFileDescriptor = -1;
  g_iHavePerm = 0;
}
