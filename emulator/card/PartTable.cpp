#include "PartTable.h"

#include <algorithm>

#include "CardNumbers.h"

namespace emu {
namespace {

using Op = FlashOp;

constexpr std::uint64_t kMicro = 1000;
constexpr std::uint64_t kMilli = 1000 * kMicro;
constexpr auto kWholePart = static_cast<std::uint32_t>(kFlashCapacity);

// A card in the field: level 3 and locked by the update that last wrote it.
constexpr std::uint8_t kLeftLocked = kStatusLock | kStatusBlockProtect;

// The rows every part shares.
constexpr OpcodeEntry kReadRow{.opcode = 0x03, .op = Op::Read, .header = kAddressBytes};
constexpr OpcodeEntry kProgramRow{.opcode = 0x02, .op = Op::Program, .header = kAddressBytes};
constexpr OpcodeEntry kWriteEnableRow{.opcode = 0x06, .op = Op::WriteEnable};
constexpr OpcodeEntry kWriteDisableRow{.opcode = 0x04, .op = Op::WriteDisable};
constexpr OpcodeEntry kReadStatusRow{.opcode = 0x05, .op = Op::ReadStatus};
constexpr OpcodeEntry kWriteStatusRow{.opcode = 0x01, .op = Op::WriteStatus};

// Busy times, typical then worst case. Where a data sheet gives no figure (the AT25F1024's
// erase and status write, every part's worst-case status write) the model takes one.
constexpr PartTraits kAt25f1024{
    .name = "AT25F1024",
    .pageSize = 256,
    .powerUpStatus = kLeftLocked,
    .times = {{{.programNsPerByte = 20 * kMicro, .writeStatusNs = 10 * kMilli},
               {.programNsPerByte = 50 * kMicro, .writeStatusNs = 15 * kMilli}}},
    .opcodes = {{kReadRow,
                 kProgramRow,
                 kWriteEnableRow,
                 kWriteDisableRow,
                 kReadStatusRow,
                 kWriteStatusRow,
                 {.opcode = 0x62,
                  .op = Op::Erase,
                  .eraseBytes = kWholePart,
                  .eraseNs = {2000 * kMilli, 4000 * kMilli}},
                 {.opcode = 0x15, .op = Op::Identify, .answer = {0x1F, 0x60}, .answerLength = 2}}}};

constexpr PartTraits kM25p10{
    .name = "M25P10",
    .pageSize = 128,
    .powerUpStatus = kLeftLocked,
    .times = {{{.programNsPerCommand = 1400 * kMicro, .writeStatusNs = 5 * kMilli},
               {.programNsPerCommand = 5000 * kMicro, .writeStatusNs = 15 * kMilli}}},
    .opcodes = {{kReadRow,
                 kProgramRow,
                 kWriteEnableRow,
                 kWriteDisableRow,
                 kReadStatusRow,
                 kWriteStatusRow,
                 {.opcode = 0xC7,
                  .op = Op::Erase,
                  .eraseBytes = kWholePart,
                  .eraseNs = {1700 * kMilli, 6000 * kMilli}},
                 {.opcode = 0xAB,
                  .op = Op::Identify,
                  .header = kAddressBytes,
                  .answer = {0x10, 0x10},
                  .answerLength = 1,
                  .repeats = true}}}};

// Its block protection bits come up set, its lock bit clear.
constexpr PartTraits kSst25vf010{
    .name = "SST25VF010",
    .pageSize = 1,
    .powerUpStatus = kStatusBlockProtect,
    .times = {{{.programNsPerByte = 14 * kMicro, .writeStatusNs = 10 * kMicro},
               {.programNsPerByte = 20 * kMicro, .writeStatusNs = 15 * kMicro}}},
    .opcodes = {{kReadRow,
                 kProgramRow,
                 {.opcode = 0xAF, .op = Op::AutoIncrement, .header = kAddressBytes},
                 kWriteEnableRow,
                 kWriteDisableRow,
                 kReadStatusRow,
                 kWriteStatusRow,
                 {.opcode = 0x50, .op = Op::EnableWriteStatus},
                 {.opcode = 0x60,
                  .op = Op::Erase,
                  .eraseBytes = kWholePart,
                  .eraseNs = {70 * kMilli, 100 * kMilli}},
                 {.opcode = 0xAB,
                  .op = Op::Identify,
                  .header = kAddressBytes,
                  .answer = {0xBF, 0x49},
                  .answerLength = 2,
                  .repeats = true,
                  .startsAtAddressBit0 = true},
                 {.opcode = 0x90,
                  .op = Op::Identify,
                  .header = kAddressBytes,
                  .answer = {0xBF, 0x49},
                  .answerLength = 2,
                  .repeats = true,
                  .startsAtAddressBit0 = true}}}};

// Indexed by FlashPart.
constexpr std::array<const PartTraits*, 3> kPartTraits{&kAt25f1024, &kM25p10, &kSst25vf010};

}  // namespace

const PartTraits& TraitsOf(FlashPart part) { return *kPartTraits[static_cast<std::size_t>(part)]; }

const OpcodeEntry* FindOp(const PartTraits& part, FlashOp op) {
  const auto found = std::find_if(part.opcodes.begin(), part.opcodes.end(),
                                  [op](const OpcodeEntry& entry) { return entry.op == op; });
  return found == part.opcodes.end() ? nullptr : &*found;
}

std::string_view FlashPartName(FlashPart part) { return TraitsOf(part).name; }

}  // namespace emu
