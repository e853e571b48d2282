#include "TrapDecoder.h"

#include <array>

namespace trap {
namespace {

constexpr std::uint8_t kOperandSizePrefix = 0x66;
constexpr std::uint8_t kTwoByteEscape = 0x0F;
constexpr std::uint8_t kRexFirst = 0x40;
constexpr std::uint8_t kRexLast = 0x4F;
constexpr std::uint8_t kRexW = 0x08;
constexpr std::uint8_t kRexR = 0x04;
constexpr std::uint8_t kRexX = 0x02;
constexpr std::uint8_t kRexB = 0x01;

constexpr std::uint32_t kModRegister = 3;
constexpr std::uint32_t kRmSib = 4;
constexpr std::uint32_t kRmDisplacementOnly = 5;
constexpr std::uint32_t kSibNoIndex = 4;
constexpr std::uint32_t kSibNoBase = 5;

// How wide the access is: always a byte, the operand size (16 bits after 0x66, else 32),
// or always 16 bits.
enum class Size : std::uint8_t { Byte, Operand, Word };

// Where the other side of the access is named.
enum class Operand : std::uint8_t {
  PortInDx,         // AL, AX or EAX and the port in DX
  PortImmediate,    // AL, AX or EAX and the port in the byte after the opcode
  Register,         // ModRM: the register in reg, memory in rm
  Immediate,        // ModRM with reg 0: memory in rm, the value after it
  ZeroExtendedLoad  // ModRM: memory in rm widened into the register in reg
};

struct Form {
  std::uint8_t opcode;
  bool twoByte;
  Op op;
  Size size;
  Operand operand;
};

constexpr std::array<Form, 16> kForms{{
    {0xE4, false, Op::PortIn, Size::Byte, Operand::PortImmediate},
    {0xE5, false, Op::PortIn, Size::Operand, Operand::PortImmediate},
    {0xE6, false, Op::PortOut, Size::Byte, Operand::PortImmediate},
    {0xE7, false, Op::PortOut, Size::Operand, Operand::PortImmediate},
    {0xEC, false, Op::PortIn, Size::Byte, Operand::PortInDx},
    {0xED, false, Op::PortIn, Size::Operand, Operand::PortInDx},
    {0xEE, false, Op::PortOut, Size::Byte, Operand::PortInDx},
    {0xEF, false, Op::PortOut, Size::Operand, Operand::PortInDx},
    {0x8A, false, Op::Load, Size::Byte, Operand::Register},
    {0x8B, false, Op::Load, Size::Operand, Operand::Register},
    {0x88, false, Op::Store, Size::Byte, Operand::Register},
    {0x89, false, Op::Store, Size::Operand, Operand::Register},
    {0xC6, false, Op::Store, Size::Byte, Operand::Immediate},
    {0xC7, false, Op::Store, Size::Operand, Operand::Immediate},
    {0xB6, true, Op::Load, Size::Byte, Operand::ZeroExtendedLoad},
    {0xB7, true, Op::Load, Size::Word, Operand::ZeroExtendedLoad},
}};

// Reads the instruction's bytes in order and never past `available`.
class Reader {
 public:
  Reader(const std::uint8_t* code, std::size_t available) : m_code(code), m_available(available) {}

  bool Byte(std::uint8_t& value) {
    if (m_used == m_available) {
      return false;
    }
    value = m_code[m_used++];
    return true;
  }

  // A little-endian value of `bytes` bytes (1, 2 or 4), sign-extended.
  bool Signed(std::uint32_t bytes, std::int32_t& value) {
    std::uint32_t raw = 0;
    for (std::uint32_t i = 0; i < bytes; ++i) {
      std::uint8_t byte = 0;
      if (!Byte(byte)) {
        return false;
      }
      raw |= static_cast<std::uint32_t>(byte) << (8 * i);
    }
    const std::uint32_t signBit = 1u << (8 * bytes - 1);
    value = static_cast<std::int32_t>(bytes == 4 ? raw : (raw ^ signBit) - signBit);
    return true;
  }

  std::uint32_t Used() const { return static_cast<std::uint32_t>(m_used); }

 private:
  const std::uint8_t* m_code;
  std::size_t m_available;
  std::size_t m_used = 0;
};

struct Prefixes {
  bool operandSize = false;
  std::uint8_t rex = 0;
};

// The prefixes this decoder accepts (one 0x66, then in long mode one REX right before the
// opcode) and the first opcode byte.
bool ReadPrefixes(Reader& reader, bool longMode, Prefixes& prefixes, std::uint8_t& opcode) {
  if (!reader.Byte(opcode)) {
    return false;
  }
  if (opcode == kOperandSizePrefix) {
    prefixes.operandSize = true;
    if (!reader.Byte(opcode)) {
      return false;
    }
  }
  if (longMode && opcode >= kRexFirst && opcode <= kRexLast) {
    prefixes.rex = opcode;
    if (!reader.Byte(opcode)) {
      return false;
    }
  }
  return true;
}

const Form* FindForm(std::uint8_t opcode, bool twoByte) {
  for (const Form& form : kForms) {
    if (form.opcode == opcode && form.twoByte == twoByte) {
      return &form;
    }
  }
  return nullptr;
}

std::uint32_t AccessWidth(Size size, const Prefixes& prefixes) {
  switch (size) {
    case Size::Byte:
      return 1;
    case Size::Word:
      return 2;
    case Size::Operand:
      break;
  }
  return prefixes.operandSize ? 2 : 4;
}

// The memory operand of ModRM (mod not 3) with its SIB byte and displacement.
bool ReadMemoryOperand(Reader& reader, std::uint8_t modrm, const Prefixes& prefixes, bool longMode,
                       MemoryOperand& memory) {
  const std::uint32_t mod = modrm >> 6;
  const std::uint32_t rm = modrm & 7;
  const int rexB = (prefixes.rex & kRexB) != 0 ? 8 : 0;
  std::uint32_t displacementBytes = mod == 1 ? 1 : (mod == 2 ? 4 : 0);
  if (rm == kRmSib) {
    std::uint8_t sib = 0;
    if (!reader.Byte(sib)) {
      return false;
    }
    const int index = ((sib >> 3) & 7) | ((prefixes.rex & kRexX) != 0 ? 8 : 0);
    memory.index = index == static_cast<int>(kSibNoIndex) ? kNoRegister : index;
    memory.scale = 1u << (sib >> 6);
    if ((sib & 7) == kSibNoBase && mod == 0) {
      displacementBytes = 4;
    } else {
      memory.base = (sib & 7) | rexB;
    }
  } else if (rm == kRmDisplacementOnly && mod == 0) {
    displacementBytes = 4;
    memory.ripRelative = longMode;
  } else {
    memory.base = static_cast<int>(rm) | rexB;
  }
  return displacementBytes == 0 || reader.Signed(displacementBytes, memory.displacement);
}

// A byte register without REX: encodings 4 to 7 are AH, CH, DH and BH.
void SetByteRegister(Instruction& instruction, int encoding, const Prefixes& prefixes) {
  const bool legacyHigh = prefixes.rex == 0 && encoding >= 4 && encoding <= 7;
  instruction.reg = legacyHigh ? encoding - 4 : encoding;
  instruction.highByte = legacyHigh;
}

bool DecodeModRm(Reader& reader, const Form& form, const Prefixes& prefixes, bool longMode,
                 Instruction& instruction) {
  std::uint8_t modrm = 0;
  if (!reader.Byte(modrm) || (modrm >> 6) == kModRegister) {
    return false;
  }
  const int reg = ((modrm >> 3) & 7) | ((prefixes.rex & kRexR) != 0 ? 8 : 0);
  if (!ReadMemoryOperand(reader, modrm, prefixes, longMode, instruction.memory)) {
    return false;
  }
  switch (form.operand) {
    case Operand::Register:
      if (instruction.width == 1) {
        SetByteRegister(instruction, reg, prefixes);
      } else {
        instruction.reg = reg;
      }
      instruction.destinationWidth = instruction.width;
      return true;
    case Operand::ZeroExtendedLoad:
      instruction.reg = reg;
      instruction.destinationWidth =
          (prefixes.rex & kRexW) != 0 ? 8 : (prefixes.operandSize ? 2 : 4);
      return true;
    case Operand::Immediate: {
      std::int32_t value = 0;
      if (reg != 0 || !reader.Signed(instruction.width, value)) {
        return false;
      }
      instruction.reg = kNoRegister;
      instruction.destinationWidth = instruction.width;
      instruction.immediate = static_cast<std::uint32_t>(value);
      return true;
    }
    case Operand::PortInDx:
    case Operand::PortImmediate:
      break;
  }
  return false;
}

bool DecodePort(Reader& reader, const Form& form, Instruction& instruction) {
  instruction.reg = kRegisterAx;
  instruction.destinationWidth = instruction.width;
  instruction.portInDx = form.operand == Operand::PortInDx;
  return instruction.portInDx || reader.Byte(instruction.portImmediate);
}

}  // namespace

std::optional<Instruction> Decode(const std::uint8_t* code, std::size_t available, bool longMode) {
  Reader reader(code, available);
  Prefixes prefixes;
  std::uint8_t opcode = 0;
  if (!ReadPrefixes(reader, longMode, prefixes, opcode)) {
    return std::nullopt;
  }
  const bool twoByte = opcode == kTwoByteEscape;
  if (twoByte && !reader.Byte(opcode)) {
    return std::nullopt;
  }
  const Form* form = FindForm(opcode, twoByte);
  // REX.W widens only the zero-extending loads; elsewhere it would mean a 64-bit access,
  // which no device register of this machine takes.
  if (form == nullptr ||
      ((prefixes.rex & kRexW) != 0 && form->operand != Operand::ZeroExtendedLoad)) {
    return std::nullopt;
  }
  Instruction instruction;
  instruction.op = form->op;
  instruction.width = AccessWidth(form->size, prefixes);
  const bool port = form->op == Op::PortIn || form->op == Op::PortOut;
  const bool decoded = port ? DecodePort(reader, *form, instruction)
                            : DecodeModRm(reader, *form, prefixes, longMode, instruction);
  if (!decoded) {
    return std::nullopt;
  }
  instruction.length = reader.Used();
  return instruction;
}

}  // namespace trap
