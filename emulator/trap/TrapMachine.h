// The emulated machine as a program under the harness meets it: the calls of the native
// platform that the preloaded library answers, and the faulting instructions it emulates.
#pragma once

#include <signal.h>
#include <sys/types.h>
#include <ucontext.h>

#include <cstddef>
#include <cstdint>
#include <ctime>
#include <map>
#include <memory>
#include <vector>

#include "Builder.h"
#include "TrapDecoder.h"

namespace trap {

// Ends the run with `status` and one line "tvrbios-trap: ..." on standard error.
[[noreturn]] void Fail(int status, const char* format, ...) __attribute__((format(printf, 2, 3)));

using OpenFunction = int (*)(const char*, int, ...);
using MmapFunction = void* (*)(void*, std::size_t, int, int, int, off_t);

// A range the program received for a mapping of the memory device: no access allowed, so
// that every access traps; `machineAddress` is what the machine handed out for it.
struct Aperture {
  std::uintptr_t start;
  std::size_t length;
  std::uintptr_t machineAddress;

  bool Holds(std::uintptr_t address, std::uint32_t width) const {
    return address >= start && address - start <= length - width;
  }
};

class TrappedMachine {
 public:
  explicit TrappedMachine(const emu::FrontEndOptions& options);

  emu::Machine& Machine() { return m_machine; }
  // --stats: the counts and the virtual time on standard error.
  void PrintStats();

  // iopl(level): 0, or -1 with errno.
  int RequestIoPrivilege(int level);
  // open("/dev/mem"): a real descriptor of a placeholder device opened with `realOpen`,
  // or -1 with errno when the machine refuses.
  int OpenMemoryDevice(OpenFunction realOpen);
  void Close(int descriptor);
  bool IsMemoryDevice(int descriptor) const;
  // mmap of the memory device: an inaccessible range of the length, made with `realMmap`.
  void* MapAperture(std::size_t length, int protection, int flags, int descriptor,
                    std::uint64_t physical, MmapFunction realMmap);
  // When `address` is an aperture, the machine judges the length.
  void UnmapAperture(void* address, std::size_t length);
  // The local time as a clock reading: the machine's day, read back by localtime.
  std::time_t Now();
  void Monotonic(struct timespec& now) const;

  // Emulates the instruction that faulted and moves the program past it.
  void Emulate(const siginfo_t& info, ucontext_t& context);

 private:
  std::uintptr_t Register(const ucontext_t& context, int reg) const;
  void SetRegister(ucontext_t& context, const Instruction& instruction, std::uint32_t value);
  std::uint32_t SourceValue(const ucontext_t& context, const Instruction& instruction) const;
  std::uintptr_t EffectiveAddress(const ucontext_t& context, const Instruction& instruction,
                                  std::uintptr_t next) const;
  void EmulatePort(ucontext_t& context, const Instruction& instruction, std::uintptr_t ip);
  void EmulateDevice(const siginfo_t& info, ucontext_t& context, const Instruction& instruction,
                     std::uintptr_t ip);
  [[noreturn]] void Unknown(std::uintptr_t ip, const char* what) const;

  bool m_stats;
  emu::BuiltMachine m_built;
  emu::Machine& m_machine = *m_built.machine;
  bool m_portPrivilege = false;
  std::map<int, int> m_descriptors;  // the program's descriptor, the machine's
  std::vector<Aperture> m_apertures;
};

}  // namespace trap
