// The only door to the machine. The hardware library never executes a port instruction,
// asks for I/O privilege, opens the memory device, maps memory, touches a device address,
// reads the user ID or the clock by itself: it asks the process-wide platform object.
// The native platform is installed by default; the emulated machine replaces it for the
// life of a run.
#pragma once

#include <cstddef>
#include <cstdint>
#include <ctime>

#include "TvrType.h"

// The requests a platform may refuse, and so the one a refusal is about.
enum class TvrRequest : UINT8 { IoPrivilege, PhysicalMemory, Mapping };

class TvrPlatform {
 public:
  virtual ~TvrPlatform() = default;

  // iopl(3): true when the process may use every port.
  virtual bool RequestIoPrivilege() = 0;
  // One port instruction of `width` bytes (1, 2 or 4); the value is in the low bits.
  virtual UINT32 PortRead(UINT16 port, UINT32 width) = 0;
  virtual void PortWrite(UINT16 port, UINT32 width, UINT32 value) = 0;

  // open("/dev/mem", O_RDWR): a descriptor, or -1.
  virtual int OpenPhysicalMemory() = 0;
  // mmap(MAP_SHARED, PROT_READ | PROT_WRITE) of `length` bytes at `physical`: nullptr on failure.
  virtual void* Map(std::size_t length, int descriptor, UINT32 physical) = 0;
  virtual void Unmap(void* address, std::size_t length) = 0;
  virtual long PageSize() = 0;

  // One access of `width` bytes (1, 2 or 4) at a mapped device address.
  virtual UINT32 DeviceRead(std::uintptr_t address, UINT32 width) = 0;
  virtual void DeviceWrite(std::uintptr_t address, UINT32 width, UINT32 value) = 0;

  virtual UINT32 UserId() = 0;
  // time + localtime: false when the clock cannot be read.
  virtual bool LocalTime(std::tm& out) = 0;
  // clock_gettime(CLOCK_MONOTONIC) in nanoseconds, which bounds every wait; 0 when the
  // clock cannot be read.
  virtual std::uint64_t MonotonicNs() = 0;
  // clock_getres(CLOCK_MONOTONIC) in nanoseconds: how far apart two readings of that clock
  // can be; 0 when it cannot be told.
  virtual std::uint64_t MonotonicResolutionNs() = 0;

  // Why the most recent request for I/O privilege, the memory device or a mapping was
  // refused: the system's errno, 0 when it was granted (or none was made yet).
  int RefusalReason() const { return m_refusal; }
  // Which request that was.
  TvrRequest LastRequest() const { return m_request; }

 protected:
  void KeepRefusal(TvrRequest request, int reason) {
    m_request = request;
    m_refusal = reason;
  }

 private:
  TvrRequest m_request = TvrRequest::IoPrivilege;
  int m_refusal = 0;
};

// The platform in force: the one installed last, or the native one.
TvrPlatform& TvrGetPlatform();
// Installs `platform` for the process; nullptr puts the native one back. Changing the
// platform forgets the memory-device descriptor opened on the previous one.
void TvrSetPlatform(TvrPlatform* platform);
