// The instructions that the native platform's port and device accesses compile to, and
// nothing else: a port in or out of 8, 16 or 32 bits with the port in DX or as an
// immediate byte, and a move of 8, 16 or 32 bits between a register (or an immediate) and
// memory, including the zero-extending loads. Anything else is refused, so that the
// harness never guesses what a faulting instruction meant.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>

namespace trap {

enum class Op : std::uint8_t { PortIn, PortOut, Load, Store };

// General registers by their encoding number: 0 AX, 1 CX, 2 DX, 3 BX, 4 SP, 5 BP, 6 SI,
// 7 DI, 8 to 15 R8 to R15.
constexpr int kNoRegister = -1;
constexpr int kRegisterAx = 0;
constexpr int kRegisterDx = 2;

// base + index * scale + displacement; relative to the next instruction when ripRelative.
struct MemoryOperand {
  int base = kNoRegister;
  int index = kNoRegister;
  std::uint32_t scale = 1;
  std::int32_t displacement = 0;
  bool ripRelative = false;
};

struct Instruction {
  Op op = Op::PortIn;
  std::uint32_t length = 0;  // bytes, prefixes included
  std::uint32_t width = 1;   // bytes the port or the memory access moves: 1, 2 or 4

  // Ports: the port is in DX, or it is `portImmediate`.
  bool portInDx = false;
  std::uint8_t portImmediate = 0;

  // The register that receives a load or gives a store; kNoRegister when a store writes
  // `immediate`. `highByte` names AH, CH, DH or BH (registers 0 to 3, bits 8 to 15).
  int reg = kRegisterAx;
  bool highByte = false;
  std::uint32_t immediate = 0;
  // Bytes of the register a load replaces (1, 2, 4 or 8): narrower than 4 keeps the rest
  // of the register; 4 or 8 clears everything above the value. A store's is its width.
  std::uint32_t destinationWidth = 1;

  MemoryOperand memory;
};

// Decodes the instruction at `code`, reading no more than `available` bytes and none past
// the instruction's end. `longMode` is the 64-bit instruction set (REX prefixes, RIP-relative
// addresses); otherwise the 32-bit one.
std::optional<Instruction> Decode(const std::uint8_t* code, std::size_t available, bool longMode);

}  // namespace trap
