// The three 1-Mbit parts the card may carry, each one row of a table: its opcodes and what
// they do (an erase with the bytes it clears and its busy times), its identification
// answers, its page size, its status at power-up and its typical and worst-case busy times.
// The flash state machine reads nothing else of a part.
#pragma once

#include <array>
#include <cstdint>
#include <string_view>

namespace emu {

enum class FlashPart : std::uint8_t { At25f1024, M25p10, Sst25vf010 };

// Which of the parts' busy times a run takes: the typical ones, or the data sheets'
// worst case.
enum class FlashTiming : std::uint8_t { Typical, Max };

// Status register bits.
constexpr std::uint8_t kStatusBusy = 0x01;
constexpr std::uint8_t kStatusWriteEnable = 0x02;
constexpr std::uint8_t kStatusBlockProtect = 0x0C;
constexpr std::uint8_t kStatusAutoIncrement = 0x40;
constexpr std::uint8_t kStatusLock = 0x80;
// The bits a status write changes and a power cut keeps.
constexpr std::uint8_t kStatusWritable = kStatusBlockProtect | kStatusLock;

enum class FlashOp : std::uint8_t {
  Unused,  // the rest of a part's table, zero-filled
  Read,
  Program,
  AutoIncrement,
  WriteEnable,
  WriteDisable,
  ReadStatus,
  WriteStatus,
  EnableWriteStatus,
  Erase,
  Identify,
};

// Typical and worst-case busy times, indexed by FlashTiming.
using BusyTimes = std::array<std::uint64_t, 2>;

struct OpcodeEntry {
  std::uint8_t opcode = 0;
  FlashOp op = FlashOp::Unused;
  std::uint8_t header = 0;  // address or dummy bytes after the opcode
  // Erase only: the bytes it clears, from the address rounded down to their count (the
  // whole part for a chip erase), and how long it keeps the part busy.
  std::uint32_t eraseBytes = 0;
  BusyTimes eraseNs{};
  // Identification only: the answer, whether it repeats, and whether address bit 0 picks
  // the byte it starts with.
  std::array<std::uint8_t, 2> answer{};
  std::uint8_t answerLength = 0;
  bool repeats = false;
  bool startsAtAddressBit0 = false;
};

struct OperationTimes {
  std::uint64_t programNsPerCommand = 0;
  std::uint64_t programNsPerByte = 0;
  std::uint64_t writeStatusNs = 0;
};

struct PartTraits {
  std::string_view name;
  std::uint32_t pageSize;  // bytes one program command keeps
  std::uint8_t powerUpStatus;
  std::array<OperationTimes, 2> times;  // indexed by FlashTiming: typical, worst case
  std::array<OpcodeEntry, 11> opcodes;
};

const PartTraits& TraitsOf(FlashPart part);

// The part's row for `op` (the first, where several share it); null when it has none.
const OpcodeEntry* FindOp(const PartTraits& part, FlashOp op);

// "AT25F1024", "M25P10", "SST25VF010".
std::string_view FlashPartName(FlashPart part);

// The bytes of a command after its opcode: a three-byte address.
constexpr std::uint32_t kAddressBytes = 3;

}  // namespace emu
