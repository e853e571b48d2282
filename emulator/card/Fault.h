// Faults that a test or the emulator front end switches on by name, so that a driver can be
// shown failing cleanly on a card that misbehaves.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace emu {

struct FaultSet {
  // `lines-busy`: another user holds the serial lines; the bypass bit reads 1 and software
  // edges never reach the part.
  bool linesBusy = false;
  // `no-flash`: no part on the lines; data-out reads 1.
  bool noFlash = false;
  // `stuck-busy`: once a program, erase or status write starts, busy never clears.
  bool stuckBusy = false;
  // `erase-hang`: a chip erase stays busy for ever and erases nothing.
  bool eraseHang = false;
  // `wp-stuck`: the protection register 0x1C4C ignores writes.
  bool wpStuck = false;
  // `corrupt-pass=N`: in each of the first N programming passes (a pass is one capacity's
  // worth of programmed bytes) the first byte that should lose bits keeps its lowest one.
  std::uint32_t corruptPasses = 0;
  // `power-cut=N`: the power goes when byte N+1 is about to be programmed, so exactly N
  // bytes reach the flash.
  bool powerCut = false;
  std::uint32_t powerCutAfter = 0;
  // `signal=NAME:N` (NAME one of INT, TERM, HUP, QUIT, TSTP, USR1, ALRM, PIPE, XFSZ, KILL, STOP):
  // the signal is due when byte N+1 is about to move through the part (read out of its
  // array or programmed), so that an interruption lands at a known point of a run.
  int signal = 0;
  std::uint32_t signalAfterBytes = 0;
  // `power-cut-at=TIME`: the power goes at TIME of virtual time since the machine started
  // (a decimal count with the unit ns, us, ms or s: "1500us", "2s"), wherever the run is;
  // an operation of the part in progress is left half done.
  bool powerCutAt = false;
  std::uint64_t powerCutAtNs = 0;
};

// Adds the fault `name` ("stuck-busy", "corrupt-pass=2", ...) to `faults`. On an unknown name
// or a missing, extra or bad number returns false, leaves `faults` as it was and puts a
// one-line reason in `error`.
bool ParseFault(std::string_view name, FaultSet& faults, std::string& error);

// The fault names ParseFault takes, and the signal names of `signal=NAME:N`, in table order.
std::vector<std::string_view> FaultNames();
std::vector<std::string_view> SignalNames();

}  // namespace emu
