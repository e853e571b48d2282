#include "PartTable.h"

namespace emu {
namespace {

using Op = FlashOp;

constexpr std::uint64_t kMicro = 1000;
constexpr std::uint64_t kMilli = 1000 * kMicro;

constexpr OpcodeEntry Plain(std::uint8_t opcode, Op op, std::uint8_t header = 0) {
  return {opcode, op, header, {}, 0, false, false};
}
constexpr OpcodeEntry Identify(std::uint8_t opcode, std::uint8_t header,
                               std::array<std::uint8_t, 2> answer, std::uint8_t length, bool repeats, bool startsAtAddressBit0) {
  return {opcode, Op::Identify, header, answer, length, repeats, startsAtAddressBit0};
}

// A card in the field: level 3 and locked by the update that last wrote it.
constexpr std::uint8_t kLeftLocked = kStatusLock | kStatusBlockProtect;

// Busy times, typical then worst case. Where a data sheet gives no figure (the AT25F1024's
// erase and status write, every part's worst-case status write) the model takes one.
constexpr PartTraits kAt25f1024{
    "AT25F1024", 256, kLeftLocked,
    {{{0, 20 * kMicro, 2000 * kMilli, 10 * kMilli}, {0, 50 * kMicro, 4000 * kMilli, 15 * kMilli}}},
    {{Plain(0x03, Op::Read, kAddressBytes), Plain(0x02, Op::Program, kAddressBytes),
      Plain(0x06, Op::WriteEnable), Plain(0x04, Op::WriteDisable), Plain(0x05, Op::ReadStatus),
      Plain(0x01, Op::WriteStatus), Plain(0x62, Op::ChipErase),
      Identify(0x15, 0, {0x1F, 0x60}, 2, false, false)}}};

constexpr PartTraits kM25p10{
    "M25P10", 128, kLeftLocked,
    {{{1400 * kMicro, 0, 1700 * kMilli, 5 * kMilli}, {5000 * kMicro, 0, 6000 * kMilli, 15 * kMilli}}},
    {{Plain(0x03, Op::Read, kAddressBytes), Plain(0x02, Op::Program, kAddressBytes),
      Plain(0x06, Op::WriteEnable), Plain(0x04, Op::WriteDisable), Plain(0x05, Op::ReadStatus),
      Plain(0x01, Op::WriteStatus), Plain(0xC7, Op::ChipErase),
      Identify(0xAB, kAddressBytes, {0x10, 0x10}, 1, true, false)}}};

// Its block protection bits come up set, its lock bit clear.
constexpr PartTraits kSst25vf010{
    "SST25VF010", 1, kStatusBlockProtect,
    {{{0, 14 * kMicro, 70 * kMilli, 10 * kMicro}, {0, 20 * kMicro, 100 * kMilli, 15 * kMicro}}},
    {{Plain(0x03, Op::Read, kAddressBytes), Plain(0x02, Op::Program, kAddressBytes),
      Plain(0xAF, Op::AutoIncrement, kAddressBytes), Plain(0x06, Op::WriteEnable),
      Plain(0x04, Op::WriteDisable), Plain(0x05, Op::ReadStatus), Plain(0x01, Op::WriteStatus),
      Plain(0x50, Op::EnableWriteStatus), Plain(0x60, Op::ChipErase),
      Identify(0xAB, kAddressBytes, {0xBF, 0x49}, 2, true, true),
      Identify(0x90, kAddressBytes, {0xBF, 0x49}, 2, true, true)}}};

// Indexed by FlashPart.
constexpr std::array<const PartTraits*, 3> kPartTraits{&kAt25f1024, &kM25p10, &kSst25vf010};

}  // namespace

const PartTraits& TraitsOf(FlashPart part) { return *kPartTraits[static_cast<std::size_t>(part)]; }

std::string_view FlashPartName(FlashPart part) { return TraitsOf(part).name; }

}  // namespace emu
