// The emulated machine as a program under the harness meets it: the calls of the native
// platform that the preloaded library answers, as strictly as a kernel answers them, and the
// faulting instructions it emulates. Nothing here depends on the size of the C library's
// file offsets or clock readings: the library answers both sizes of each.
#pragma once

#include <signal.h>
#include <sys/types.h>
#include <ucontext.h>

#include <cstddef>
#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "TrapDecoder.h"

namespace emu {
class Machine;
}

namespace trap {

// Ends the run with `status` and one line "tvrbios-trap: ..." on standard error.
[[noreturn]] void Fail(int status, const char* format, ...) __attribute__((format(printf, 2, 3)));

// The handshake's token while the library sets the machine up: Fail says the refusal word
// on it first, so that the harness knows the library ended the run.
void HoldHandshake(int token);
// Tells the harness that the machine runs in this process, and lets the token go.
void SayReady();

// The I/O privilege level of the calling thread, as a kernel keeps it: a new thread starts
// with its creator's.
int ThreadIoPrivilege();
void SetThreadIoPrivilege(int level);

using OpenFunction = int (*)(const char*, int, ...);
using Mmap64Function = void* (*)(void*, std::size_t, int, int, int, off64_t);

// A range the program received for a mapping of the memory device: no access allowed, so
// that every access traps; `machineAddress` is what the machine handed out for its start.
struct Aperture {
  std::uintptr_t start;
  std::size_t length;
  std::uintptr_t machineAddress;

  std::uintptr_t End() const { return start + length; }
  bool Holds(std::uintptr_t address, std::uint32_t width) const {
    return address >= start && address - start <= length - width;
  }
};

class TrappedMachine {
 public:
  // `ioRefusal`: what --refuse gives iopl (ENOSYS: the kernel has no port I/O at all).
  TrappedMachine(std::unique_ptr<emu::Machine> machine, bool stats, int ioRefusal);
  ~TrappedMachine();
  TrappedMachine(const TrappedMachine&) = delete;
  TrappedMachine& operator=(const TrappedMachine&) = delete;

  // --stats: the counts and the virtual time on standard error.
  void PrintStats();
  std::uint32_t UserId() const;

  // iopl(level) in the calling thread: 0, or -1 with errno.
  int RequestIoPrivilege(int level);
  // open("/dev/mem", flags): a real descriptor of a placeholder device opened with
  // `realOpen`, or -1 with errno when the machine refuses.
  int OpenMemoryDevice(int flags, OpenFunction realOpen);
  void Close(int descriptor);
  // dup and its kin: `copy` names the same open memory device as `descriptor`.
  void Duplicate(int descriptor, int copy);
  bool IsMemoryDevice(int descriptor) const;
  // The access mode the program opened a memory device with (O_RDONLY, O_WRONLY, O_RDWR).
  int AccessMode(int descriptor) const;
  // Whether any page of the range is an aperture, and whether all of it lies in one.
  bool TouchesAperture(const void* address, std::size_t length) const;
  bool InOneAperture(const void* address, std::size_t length) const;
  // mmap of the memory device: an inaccessible range of the length, made with `realMmap`,
  // or MAP_FAILED with errno.
  void* MapAperture(std::size_t length, int protection, int flags, int descriptor,
                    std::uint64_t physical, Mmap64Function realMmap);
  // After the system unmapped the range: what of the apertures was in it is gone, and the
  // machine judges an unmap that starts in one.
  void UnmapAperture(void* address, std::size_t length);
  // The local time as seconds since the epoch: the machine's day, read back by localtime.
  std::int64_t Now();
  std::uint64_t MonotonicNs() const;
  std::uint64_t MonotonicResolutionNs() const;

  // Emulates the instruction that faulted and moves the program past it.
  void Emulate(const siginfo_t& info, ucontext_t& context);

 private:
  struct MemoryDevice {
    int machineDescriptor;
    int accessMode;  // O_RDONLY, O_WRONLY or O_RDWR
  };

  std::uintptr_t Register(const ucontext_t& context, int reg) const;
  void SetRegister(ucontext_t& context, const Instruction& instruction, std::uint32_t value);
  std::uint32_t SourceValue(const ucontext_t& context, const Instruction& instruction) const;
  std::uintptr_t EffectiveAddress(const ucontext_t& context, const Instruction& instruction,
                                  std::uintptr_t next) const;
  void EmulatePort(ucontext_t& context, const Instruction& instruction, std::uintptr_t ip);
  void EmulateDevice(const siginfo_t& info, ucontext_t& context, const Instruction& instruction,
                     std::uintptr_t ip);
  [[noreturn]] void Unknown(std::uintptr_t ip, const char* what) const;

  // The tables come before the machine, so that they outlive everything it releases.
  std::map<int, MemoryDevice> m_descriptors;  // by the program's descriptor
  std::vector<Aperture> m_apertures;
  bool m_stats;
  std::unique_ptr<emu::Machine> m_machine;
  int m_ioRefusal;
};

// The machine the harness described, running; a bad description ends the run with the
// front end's refusal status.
std::unique_ptr<TrappedMachine> StartMachine(const std::string& description);

}  // namespace trap
