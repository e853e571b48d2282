#include "SpiRig.h"

#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <stdexcept>

namespace emu::test {

SpiRig::SpiRig(const CardOptions& options, std::unique_ptr<FlashStore> flash, AccessCosts costs,
               std::unique_ptr<StateStore> state)
    : m_machine(costs), m_part(options.part) {
  m_card = &m_machine.Emplace<Card>(0, 3, 0, m_machine.Clock(), options, std::move(flash),
                                    std::move(state));
  m_card->ConfigWrite(kPciCommand, 2, options.command | kPciCommandMemory);
  void* mapping =
      m_machine.Map(options.apertureSize, m_machine.OpenPhysicalMemory(), options.apertureBase);
  if (mapping == nullptr) {
    throw std::runtime_error("aperture did not map");
  }
  m_aperture = reinterpret_cast<std::uintptr_t>(mapping);
}

CardOptions NewPart(FlashPart part) {
  CardOptions options;
  options.part = part;
  if (part != FlashPart::Sst25vf010) {
    options.flashStatus = 0x00;  // the SST part's own value is its maker's
  }
  return options;
}

std::uint32_t SpiRig::Read(std::uint32_t offset, std::uint32_t width) {
  return m_machine.DeviceRead(m_aperture + offset, width);
}

void SpiRig::Write(std::uint32_t offset, std::uint32_t value, std::uint32_t width) {
  m_machine.DeviceWrite(m_aperture + offset, width, value);
}

void SpiRig::SetLine(std::uint32_t bit, bool high) {
  const std::uint32_t value = Read(kLineRegister);
  Write(kLineRegister, high ? value | bit : value & ~bit);
}

bool SpiRig::Take() {
  if (Line(kLineBypass)) {
    return false;
  }
  SetLine(kLineClock, false);
  SetLine(kLineChipSelectN, true);
  SetLine(kLineBypass, true);
  return true;
}

void SpiRig::Send(std::uint8_t byte) {
  for (int bit = 7; bit >= 0; --bit) {
    SetLine(kLineClock, false);
    SetLine(kLineDataIn, ((byte >> bit) & 1) != 0);
    SetLine(kLineClock, true);
  }
  SetLine(kLineClock, false);
}

std::uint8_t SpiRig::Receive() {
  std::uint8_t byte = 0;
  for (int bit = 7; bit >= 0; --bit) {
    SetLine(kLineClock, false);
    SetLine(kLineClock, true);
    if (Line(kLineDataOut)) {
      byte |= static_cast<std::uint8_t>(1u << bit);
    }
  }
  SetLine(kLineClock, false);
  return byte;
}

Bytes SpiRig::Command(const Bytes& out, std::size_t in) {
  if (!Take()) {
    throw std::runtime_error("serial lines already taken");
  }
  SetLine(kLineChipSelectN, false);
  for (std::uint8_t byte : out) {
    Send(byte);
  }
  Bytes answer;
  for (std::size_t i = 0; i < in; ++i) {
    answer.push_back(Receive());
  }
  SetLine(kLineChipSelectN, true);
  Release();
  return answer;
}

Bytes SpiRig::ReadFlash(std::uint32_t address, std::size_t count) {
  return Command(Header(kRead, address), count);
}

void SpiRig::Program(std::uint32_t address, const Bytes& data) {
  WriteEnable();
  Command(Join(Header(kProgram, address), data));
}

void SpiRig::ArmStatusWrite() {
  WriteEnable();
  if (m_part == FlashPart::Sst25vf010) {
    Command({kEnableWriteStatus});
  }
}

void SpiRig::WriteStatus(std::uint8_t bits) {
  ArmStatusWrite();
  Command({kWriteStatus, bits});
}

void SpiRig::Erase(std::uint8_t opcode) {
  WriteEnable();
  Command({opcode});
}

bool SpiRig::WaitReady(std::uint32_t maxPolls) {
  for (std::uint32_t i = 0; i < maxPolls; ++i) {
    if ((Status() & kStatusBusy) == 0) {
      return true;
    }
  }
  return false;
}

void SpiRig::SetWritable(bool writable) {
  const std::uint32_t value = Read(kProtectRegister);
  Write(kProtectRegister, writable ? value | kProtectWritable : value & ~kProtectWritable);
}

namespace {

// The environment variable that hands the folder to a death test's child, which runs the
// test again in a process of its own.
constexpr const char* kFolderVariable = "TVR_EMU_TEST_FOLDER";

pid_t s_folderOwner = 0;

// At exit the statics are gone; the environment still names the folder.
void RemoveFolder() {
  if (getpid() != s_folderOwner) {
    return;  // a forked child leaves it to its parent
  }
  std::error_code ignored;
  std::filesystem::remove_all(std::getenv(kFolderVariable), ignored);
}

// Made once per process tree: by the first process that asks, removed when it ends.
const std::string& TestFolder() {
  static const std::string folder = [] {
    if (const char* inherited = std::getenv(kFolderVariable)) {
      return std::string(inherited);
    }
    std::string pattern = (std::filesystem::temp_directory_path() / "tvr-emu-test-XXXXXX").string();
    if (mkdtemp(pattern.data()) == nullptr) {
      throw std::runtime_error("cannot make a test folder");
    }
    setenv(kFolderVariable, pattern.c_str(), 1);
    s_folderOwner = getpid();
    std::atexit(RemoveFolder);
    return pattern;
  }();
  return folder;
}

}  // namespace

std::string FreshPath(const std::string& name) {
  const std::string path = TestFolder() + "/" + name;
  std::remove(path.c_str());
  return path;
}

Bytes ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

Bytes Pattern() {
  Bytes bytes(kFlashCapacity);
  for (std::size_t i = 0; i < bytes.size(); ++i) {
    bytes[i] = static_cast<std::uint8_t>(i * 7 + (i >> 8));
  }
  return bytes;
}

Bytes Header(std::uint8_t opcode, std::uint32_t address) {
  return {opcode, static_cast<std::uint8_t>(address >> 16), static_cast<std::uint8_t>(address >> 8),
          static_cast<std::uint8_t>(address)};
}

Bytes Join(Bytes head, const Bytes& tail) {
  head.insert(head.end(), tail.begin(), tail.end());
  return head;
}

}  // namespace emu::test
