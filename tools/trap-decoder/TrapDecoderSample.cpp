// Random encodings for the trap harness's decoder, from a fixed seed, biased toward the
// instructions it accepts and their near misses: the operand-size, address-size, segment,
// lock and repeat prefixes, REX in and out of place, the accepted opcodes and their
// neighbours, ModRM and SIB bytes that lean toward the special cases (SIB, no base, no
// index, displacement only, RIP-relative), then random bytes. One line per encoding:
//
//   MODE HEX len=N FORM      MODE 32 or 64, HEX the encoding's bytes
//   MODE HEX refused
//
// FORM is the decoded instruction in the form tools/trap-decoder-check.py writes from the
// disassembler's text: "in w=1 port=dx", "out w=2 port=0x42",
// "load w=1 reg=0h dest=1 base=6 index=12*4 disp=-8", "store w=4 imm=0x1 base=rip index=-
// disp=16".
//
// Usage: tvr-trap-decoder-sample SEED COUNT   (COUNT encodings in each mode)
#include <array>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <optional>
#include <random>
#include <string>
#include <vector>

#include "TrapDecoder.h"

namespace {

// The longest instruction the processor takes.
constexpr std::size_t kEncodingBytes = 15;

// The prefixes the accepted forms are never written with, and 0x66 once more.
constexpr std::array<std::uint8_t, 11> kOtherPrefixes{0x26, 0x2E, 0x36, 0x3E, 0x64, 0x65,
                                                      0x66, 0x67, 0xF0, 0xF2, 0xF3};

using Opcode = std::vector<std::uint8_t>;

const std::vector<Opcode> kAcceptedOpcodes{
    {0xE4}, {0xE5}, {0xE6}, {0xE7}, {0xEC}, {0xED}, {0xEE},       {0xEF},
    {0x88}, {0x89}, {0x8A}, {0x8B}, {0xC6}, {0xC7}, {0x0F, 0xB6}, {0x0F, 0xB7}};

// Their neighbours: moves of segment registers, of the accumulator to an absolute address,
// the address computation, the sign-extending loads, exchanges, tests, groups, the string
// ports, and what a 64-bit processor reads as VEX and EVEX prefixes.
const std::vector<Opcode> kNearMisses{
    {0x8C}, {0x8D},       {0x8E},       {0xA0},       {0xA1},       {0xA2},      {0xA3},
    {0x84}, {0x85},       {0x86},       {0x87},       {0x80},       {0x81},      {0x83},
    {0xC0}, {0xC4},       {0xC5},       {0x62},       {0x6C},       {0x6D},      {0x6E},
    {0x6F}, {0x0F, 0xB4}, {0x0F, 0xB5}, {0x0F, 0xBE}, {0x0F, 0xBF}, {0x0F, 0xC7}};

class Encoder {
 public:
  explicit Encoder(std::uint32_t seed) : m_random(seed) {}

  std::vector<std::uint8_t> Next(bool longMode) {
    std::vector<std::uint8_t> bytes;
    if (Chance(35)) {
      bytes.push_back(0x66);
    }
    if (Chance(15)) {
      bytes.push_back(Pick(kOtherPrefixes));
    }
    if (longMode && Chance(50)) {
      bytes.push_back(static_cast<std::uint8_t>(0x40 | Below(16)));
    }
    if (Chance(4)) {
      bytes.push_back(Pick(kOtherPrefixes));
    }
    const Opcode& opcode = Chance(80) ? Pick(kAcceptedOpcodes) : Pick(kNearMisses);
    bytes.insert(bytes.end(), opcode.begin(), opcode.end());
    bytes.push_back(ModRm());
    bytes.push_back(Sib());
    while (bytes.size() < kEncodingBytes) {
      bytes.push_back(static_cast<std::uint8_t>(Below(256)));
    }
    return bytes;
  }

 private:
  std::uint32_t Below(std::uint32_t bound) { return m_random() % bound; }
  bool Chance(std::uint32_t percent) { return Below(100) < percent; }

  template <typename Table>
  const typename Table::value_type& Pick(const Table& table) {
    return table[Below(static_cast<std::uint32_t>(table.size()))];
  }

  // Mostly memory operands; reg 0 often (the immediate stores need it); rm leaning toward
  // the SIB byte and the displacement-only or RIP-relative form.
  std::uint8_t ModRm() {
    const std::uint32_t mod = Chance(10) ? 3 : Below(3);
    const std::uint32_t reg = Chance(40) ? 0 : Below(8);
    const std::uint32_t rm = Chance(30) ? 4 : (Chance(30) ? 5 : Below(8));
    return static_cast<std::uint8_t>(mod << 6 | reg << 3 | rm);
  }

  // Leaning toward no index and the no-base base.
  std::uint8_t Sib() {
    const std::uint32_t index = Chance(30) ? 4 : Below(8);
    const std::uint32_t base = Chance(30) ? 5 : Below(8);
    return static_cast<std::uint8_t>(Below(4) << 6 | index << 3 | base);
  }

  // Its sequence is the same with every standard library, unlike the distributions'.
  std::mt19937 m_random;
};

std::string Register(int reg) { return reg == trap::kNoRegister ? "-" : std::to_string(reg); }

std::string Memory(const trap::MemoryOperand& memory) {
  const std::string base = memory.ripRelative ? "rip" : Register(memory.base);
  const std::string index = memory.index == trap::kNoRegister
                                ? "-"
                                : Register(memory.index) + "*" + std::to_string(memory.scale);
  return "base=" + base + " index=" + index + " disp=" + std::to_string(memory.displacement);
}

std::string Hex(std::uint32_t value) {
  char text[16];
  std::snprintf(text, sizeof text, "0x%x", value);
  return text;
}

// The register a load fills or a store reads; "0h" to "3h" are AH, CH, DH and BH.
std::string DataRegister(const trap::Instruction& instruction) {
  return "reg=" + Register(instruction.reg) + (instruction.highByte ? "h" : "");
}

// The immediate as the access writes it: its low `width` bytes.
std::string Immediate(const trap::Instruction& instruction) {
  const std::uint32_t bits = 8 * instruction.width;
  const std::uint32_t mask = bits == 32 ? ~0u : (1u << bits) - 1;
  return "imm=" + Hex(instruction.immediate & mask);
}

std::string Form(const trap::Instruction& instruction) {
  const std::string width = " w=" + std::to_string(instruction.width) + " ";
  switch (instruction.op) {
    case trap::Op::PortIn:
    case trap::Op::PortOut:
      return (instruction.op == trap::Op::PortIn ? "in" : "out") + width +
             "port=" + (instruction.portInDx ? std::string("dx") : Hex(instruction.portImmediate));
    case trap::Op::Load:
      return "load" + width + DataRegister(instruction) +
             " dest=" + std::to_string(instruction.destinationWidth) + " " +
             Memory(instruction.memory);
    case trap::Op::Store:
      break;
  }
  const bool immediate = instruction.reg == trap::kNoRegister;
  return "store" + width + (immediate ? Immediate(instruction) : DataRegister(instruction)) + " " +
         Memory(instruction.memory);
}

void PrintEncoding(const std::vector<std::uint8_t>& bytes, bool longMode) {
  std::printf("%d ", longMode ? 64 : 32);
  for (std::uint8_t byte : bytes) {
    std::printf("%02x", byte);
  }
  const std::optional<trap::Instruction> decoded =
      trap::Decode(bytes.data(), bytes.size(), longMode);
  if (decoded) {
    std::printf(" len=%u %s\n", decoded->length, Form(*decoded).c_str());
  } else {
    std::printf(" refused\n");
  }
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 3) {
    std::fprintf(stderr, "Usage: tvr-trap-decoder-sample SEED COUNT\n");
    return 2;
  }
  Encoder encoder(static_cast<std::uint32_t>(std::strtoul(argv[1], nullptr, 10)));
  const unsigned long count = std::strtoul(argv[2], nullptr, 10);
  for (bool longMode : {false, true}) {
    for (unsigned long i = 0; i < count; ++i) {
      PrintEncoding(encoder.Next(longMode), longMode);
    }
  }
  return 0;
}
