// The decoder against the encodings of the accesses the native platform compiles to, in
// both instruction sets, and against the near misses it must refuse.
#include <gtest/gtest.h>

#include <cstdint>
#include <ostream>
#include <vector>

#include "CaseNames.h"
#include "TrapDecoder.h"

namespace {

using trap::Decode;
using trap::Instruction;
using trap::kNoRegister;
using trap::Op;
using Code = std::vector<std::uint8_t>;
using Mem = trap::MemoryOperand;

struct Known {
  const char* form;  // as an assembler writes it
  Code bytes;
  bool longMode;
  Op op;
  std::uint32_t width;
  int reg;
  std::uint32_t destinationWidth;
  Mem memory;                   // base, index, scale, displacement; none for a port
  std::uint32_t immediate = 0;  // the port, none for DX; the value a store writes
  bool highByte = false;
};

constexpr int kRsi = 6;

void PrintTo(const Known& known, std::ostream* out) { *out << known.form; }

class DecodesKnownForms : public ::testing::TestWithParam<Known> {};

TEST_P(DecodesKnownForms, AsTheProcessorDoes) {
  const Known& known = GetParam();
  // A byte more than the instruction: the decoder must stop at the instruction's end.
  Code code = known.bytes;
  code.push_back(0xC3);
  const std::optional<Instruction> decoded = Decode(code.data(), code.size(), known.longMode);
  ASSERT_TRUE(decoded);
  EXPECT_EQ(decoded->op, known.op);
  EXPECT_EQ(decoded->length, known.bytes.size());
  EXPECT_EQ(decoded->width, known.width);
  EXPECT_EQ(decoded->reg, known.reg);
  EXPECT_EQ(decoded->destinationWidth, known.destinationWidth);
  EXPECT_EQ(decoded->highByte, known.highByte);
  EXPECT_EQ(decoded->memory.base, known.memory.base);
  EXPECT_EQ(decoded->memory.index, known.memory.index);
  EXPECT_EQ(decoded->memory.scale, known.memory.scale);
  EXPECT_EQ(decoded->memory.displacement, known.memory.displacement);
  EXPECT_EQ(decoded->memory.ripRelative, known.memory.ripRelative);
  if (known.op == Op::PortIn || known.op == Op::PortOut) {
    EXPECT_EQ(decoded->portInDx, known.immediate == 0);
    EXPECT_EQ(decoded->portImmediate, known.immediate);
  } else {
    EXPECT_EQ(decoded->immediate, known.immediate);
  }
  // One byte short is no instruction at all.
  EXPECT_FALSE(Decode(known.bytes.data(), known.bytes.size() - 1, known.longMode));
}

INSTANTIATE_TEST_SUITE_P(
    Forms, DecodesKnownForms,
    ::testing::Values(
        Known{"in al, dx", Code{0xEC}, true, Op::PortIn, 1, 0, 1, Mem{}},
        Known{"in ax, dx", Code{0x66, 0xED}, true, Op::PortIn, 2, 0, 2, Mem{}},
        Known{"in eax, dx", Code{0xED}, false, Op::PortIn, 4, 0, 4, Mem{}},
        Known{"in al, 0x61", Code{0xE4, 0x61}, true, Op::PortIn, 1, 0, 1, Mem{}, 0x61},
        Known{"out 0x61, al", Code{0xE6, 0x61}, false, Op::PortOut, 1, 0, 1, Mem{}, 0x61},
        Known{"out 0x42, ax", Code{0x66, 0xE7, 0x42}, true, Op::PortOut, 2, 0, 2, Mem{}, 0x42},
        Known{"movzx eax, byte [rsi]", Code{0x0F, 0xB6, 0x06}, true, Op::Load, 1, 0, 4, Mem{kRsi}},
        Known{"movzx eax, word [esi]", Code{0x0F, 0xB7, 0x06}, false, Op::Load, 2, 0, 4, Mem{kRsi}},
        Known{"movzx rax, byte [rsi]", Code{0x48, 0x0F, 0xB6, 0x06}, true, Op::Load, 1, 0, 8,
              Mem{kRsi}},
        Known{"movzx ax, byte [rsi]", Code{0x66, 0x0F, 0xB6, 0x06}, true, Op::Load, 1, 0, 2,
              Mem{kRsi}},
        Known{"mov eax, [rsi]", Code{0x8B, 0x06}, true, Op::Load, 4, 0, 4, Mem{kRsi}},
        Known{"mov r8d, [rsi+4]", Code{0x44, 0x8B, 0x46, 0x04}, true, Op::Load, 4, 8, 4,
              Mem{kRsi, kNoRegister, 1, 4}},
        Known{"mov ah, [esi+0x10]", Code{0x8A, 0x66, 0x10}, false, Op::Load, 1, 0, 1,
              Mem{kRsi, kNoRegister, 1, 0x10}, 0, true},
        Known{"mov spl, [rsi]", Code{0x40, 0x8A, 0x26}, true, Op::Load, 1, 4, 1, Mem{kRsi}},
        Known{"mov [rsi], cl", Code{0x88, 0x0E}, true, Op::Store, 1, 1, 1, Mem{kRsi}},
        Known{"mov [rsi], cx", Code{0x66, 0x89, 0x0E}, true, Op::Store, 2, 1, 2, Mem{kRsi}},
        Known{"mov [esp+0x100], ecx", Code{0x89, 0x8C, 0x24, 0x00, 0x01, 0x00, 0x00}, false,
              Op::Store, 4, 1, 4, Mem{4, kNoRegister, 1, 0x100}},
        Known{"mov [r12], ecx", Code{0x41, 0x89, 0x0C, 0x24}, true, Op::Store, 4, 1, 4, Mem{12}},
        Known{"mov dword [rip+16], imm",
              Code{0xC7, 0x05, 0x10, 0x00, 0x00, 0x00, 0x78, 0x56, 0x34, 0x12}, true, Op::Store, 4,
              kNoRegister, 4, Mem{kNoRegister, kNoRegister, 1, 16, true}, 0x12345678},
        // The same displacement-only form is absolute in 32-bit code.
        Known{"mov byte [0xF0001C4C], imm", Code{0xC6, 0x05, 0x4C, 0x1C, 0x00, 0xF0, 0x20}, false,
              Op::Store, 1, kNoRegister, 1,
              Mem{kNoRegister, kNoRegister, 1, static_cast<std::int32_t>(0xF0001C4C)}, 0x20},
        Known{"mov eax, [r9]", Code{0x41, 0x8B, 0x01}, true, Op::Load, 4, 0, 4, Mem{9}},
        Known{"mov r9d, [r10+r11*2-8]", Code{0x47, 0x8B, 0x4C, 0x5A, 0xF8}, true, Op::Load, 4, 9, 4,
              Mem{10, 11, 2, -8}},
        Known{"mov [rbx+r9*8-2], edx", Code{0x42, 0x89, 0x54, 0xCB, 0xFE}, true, Op::Store, 4, 2, 4,
              Mem{3, 9, 8, -2}},
        // REX.B does not make the SIB byte's "no base" a base.
        Known{"mov eax, [rcx*4+0x10] with REX.B", Code{0x41, 0x8B, 0x04, 0x8D, 0x10, 0, 0, 0}, true,
              Op::Load, 4, 0, 4, Mem{kNoRegister, 1, 4, 0x10}},
        Known{"mov byte [rax], imm", Code{0xC6, 0x00, 0x7F}, true, Op::Store, 1, kNoRegister, 1,
              Mem{0}, 0x7F}),
    [](const ::testing::TestParamInfo<Known>& info) {
      return testnames::CaseName(info.param.form);
    });

TEST(Decoder, RefusesEverythingElse) {
  const std::vector<Code> refused{
      {0x48, 0x8B, 0x06},              // mov rax, [rsi]: a 64-bit access
      {0x48, 0xED},                    // REX.W on a port read
      {0x8B, 0xC6},                    // mov eax, esi: no memory operand
      {0xC7, 0x4E, 0x04, 0, 0, 0, 0},  // C7 with reg 1 is no move
      {0x0F, 0xBE, 0x06},              // movsx
      {0x87, 0x06},                    // xchg [rsi], eax
      {0xF0, 0x09, 0x06},              // lock or
      {0x64, 0x8B, 0x06},              // a segment override
      {0x67, 0x8B, 0x06},              // an address-size override
      {0xF3, 0x6C},                    // rep insb
      {0x66, 0x41},                    // a REX prefix with no instruction behind it
  };
  for (const Code& bytes : refused) {
    EXPECT_FALSE(Decode(bytes.data(), bytes.size(), true)) << testing::PrintToString(bytes);
  }
  // 0x40 to 0x4F are single-byte instructions in 32-bit code, not prefixes.
  const std::uint8_t rex[] = {0x48, 0x8B, 0x06};
  EXPECT_FALSE(Decode(rex, sizeof rex, false));
}

}  // namespace
