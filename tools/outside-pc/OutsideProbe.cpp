#include "OutsideProbe.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <numeric>

#include "TvrCpu.h"
#include "TvrCs.h"
#include "TvrPci.h"
#include "TvrPlatform.h"
#include "TvrTimer.h"

namespace probe {
namespace {

constexpr UINT16 kTimer2DataPort = 0x42;
constexpr UINT16 kTimerControlPort = 0x43;
constexpr UINT16 kPortB = 0x61;
constexpr BYTE kPortBKeptBits = 0x0F;

// Read-back command: latch the status of channel 2 only, not its count.
constexpr BYTE kReadBackStatusOfChannel2 = 0xE8;
// What the status says of the programming: low then high byte, mode 3, binary. Bits 6-7
// (null count, output) are the counter's present state.
constexpr BYTE kStatusProgrammingBits = 0x3F;
constexpr BYTE kStatusLowHighMode3Binary = 0x36;

constexpr std::uint64_t kTimerHz = 1193182;
constexpr std::uint64_t kNsPerUs = 1000;
constexpr std::uint64_t kNsPerSecond = 1000000000;
// The waits timed, and the counts each must load into channel 2: whole periods of 65535
// counts for each 65535 microseconds, then 1.2 counts a microsecond less 32 microseconds,
// at least one.
struct Wait {
  DWORD us;
  std::vector<WORD> counts;
};
const std::array<Wait, 5> kWaits = {
    {{1, {1}}, {100, {82}}, {1000, {1162}}, {10000, {11962}}, {100000, {65535, 41320}}}};
constexpr std::size_t kRunsPerDelay = 7;
// What the port instructions around and inside one wait may add to the counts' time, in
// the shortest of the runs (the others show the host's scheduling as well). A port access
// costs a few microseconds on an emulated processor and the wait ends at most one poll
// late; the rest leaves room for a busy host to take the processor away once.
constexpr std::uint64_t kOverheadBoundNs = 1000 * kNsPerUs;
constexpr std::uint64_t kOverheadBoundPercent = 2;

constexpr std::array<DWORD, 3> kWidths = {1, 2, 4};
constexpr DWORD kDevices = 32;
constexpr DWORD kFunctions = 8;

// The platform in force, with the port accesses of one wait written down on the way.
class PortRecorder final : public TvrPlatform {
 public:
  struct PortAccess {
    UINT16 port;
    bool write;
    UINT32 value;
  };

  explicit PortRecorder(TvrPlatform& machine) : m_machine(machine) {}

  void Start() {
    m_accesses.clear();
    m_recording = true;
  }
  void Stop() { m_recording = false; }
  const std::vector<PortAccess>& Accesses() const { return m_accesses; }

  bool RequestIoPrivilege() override {
    const bool granted = m_machine.RequestIoPrivilege();
    KeepRefusal(TvrRequest::IoPrivilege, m_machine.RefusalReason());
    return granted;
  }
  UINT32 PortRead(UINT16 port, UINT32 width) override {
    const UINT32 value = m_machine.PortRead(port, width);
    Note(port, false, value);
    return value;
  }
  void PortWrite(UINT16 port, UINT32 width, UINT32 value) override {
    Note(port, true, value);
    m_machine.PortWrite(port, width, value);
  }
  int OpenPhysicalMemory() override { return m_machine.OpenPhysicalMemory(); }
  void* Map(std::size_t length, int descriptor, UINT32 physical) override {
    return m_machine.Map(length, descriptor, physical);
  }
  void Unmap(void* address, std::size_t length) override { m_machine.Unmap(address, length); }
  long PageSize() override { return m_machine.PageSize(); }
  UINT32 DeviceRead(std::uintptr_t address, UINT32 width) override {
    return m_machine.DeviceRead(address, width);
  }
  void DeviceWrite(std::uintptr_t address, UINT32 width, UINT32 value) override {
    m_machine.DeviceWrite(address, width, value);
  }
  UINT32 UserId() override { return m_machine.UserId(); }
  bool LocalTime(std::tm& out) override { return m_machine.LocalTime(out); }
  std::uint64_t MonotonicNs() override { return m_machine.MonotonicNs(); }
  std::uint64_t MonotonicResolutionNs() override { return m_machine.MonotonicResolutionNs(); }

 private:
  void Note(UINT16 port, bool write, UINT32 value) {
    if (m_recording) {
      m_accesses.push_back({port, write, value});
    }
  }

  TvrPlatform& m_machine;
  std::vector<PortAccess> m_accesses;
  bool m_recording = false;
};

// Installs the recorder over the platform in force for the life of the object.
class ScopedRecorder {
 public:
  explicit ScopedRecorder(PortRecorder& recorder, TvrPlatform& previous) : m_previous(previous) {
    TvrSetPlatform(&recorder);
  }
  ~ScopedRecorder() { TvrSetPlatform(&m_previous); }
  ScopedRecorder(const ScopedRecorder&) = delete;
  ScopedRecorder& operator=(const ScopedRecorder&) = delete;

 private:
  TvrPlatform& m_previous;
};

// ---- configuration space ----

DWORD LibraryRead(PCIHANDLE location, DWORD offset, DWORD width) {
  switch (width) {
    case 1: {
      BYTE value = 0;
      csReadByte(location, offset, &value);
      return value;
    }
    case 2: {
      WORD value = 0;
      csReadWord(location, offset, &value);
      return value;
    }
    default: {
      DWORD value = 0;
      csReadDword(location, offset, &value);
      return value;
    }
  }
}

DWORD ReferenceRead(const ConfigSpace& bytes, DWORD offset, DWORD width) {
  DWORD value = 0;
  for (DWORD k = width; k-- > 0;) {
    value = value << 8 | bytes[offset + k];
  }
  return value;
}

std::vector<PCIHANDLE> FunctionsTheLibrarySees() {
  std::vector<PCIHANDLE> found;
  for (DWORD device = 0; device < kDevices; ++device) {
    for (DWORD function = 0; function < kFunctions; ++function) {
      const PCIHANDLE location = MakePciHandle(0, device, function);
      if (LibraryRead(location, PCI_CFG_VENDOR_ID, 2) != PCI_VENDOR_NONE) {
        found.push_back(location);
      }
    }
  }
  return found;
}

std::string LocationList(const std::vector<PCIHANDLE>& locations) {
  std::string text;
  for (const PCIHANDLE location : locations) {
    text += " " + LocationText(location);
  }
  return text;
}

int CompareFunctionLists(const References& references) {
  std::vector<PCIHANDLE> expected;
  for (const auto& entry : references) {
    expected.push_back(entry.first);
  }
  const std::vector<PCIHANDLE> found = FunctionsTheLibrarySees();
  std::printf("bus 0, functions the library finds:%s\n", LocationList(found).c_str());
  std::printf("bus 0, functions of the reference: %s\n", LocationList(expected).c_str());
  const bool same = found == expected;
  std::printf("function list: %s\n", same ? "same" : "DIFFERENT");
  return same ? 0 : 1;
}

// Every read of one width at every offset it can start at; a text for the first difference.
int CompareWidth(PCIHANDLE location, const ConfigSpace& reference, DWORD width, std::string& line) {
  const DWORD reads = PCI_CFG_SIZE - width + 1;
  DWORD equal = 0;
  std::string difference;
  for (DWORD offset = 0; offset < reads; ++offset) {
    const DWORD library = LibraryRead(location, offset, width);
    const DWORD expected = ReferenceRead(reference, offset, width);
    if (library == expected) {
      ++equal;
    } else if (difference.empty()) {
      char text[96];
      std::snprintf(text, sizeof(text), " (first at 0x%02X: 0x%0*X, reference 0x%0*X)",
                    static_cast<unsigned>(offset), static_cast<int>(2 * width),
                    static_cast<unsigned>(library), static_cast<int>(2 * width),
                    static_cast<unsigned>(expected));
      difference = text;
    }
  }
  char text[48];
  std::snprintf(text, sizeof(text), "  %u-byte %u/%u", static_cast<unsigned>(width),
                static_cast<unsigned>(equal), static_cast<unsigned>(reads));
  line += text + difference;
  return equal == reads ? 0 : 1;
}

int CompareConfigSpaces(const References& references) {
  int failures = 0;
  for (const auto& [location, reference] : references) {
    std::string line;
    int differing = 0;
    for (const DWORD width : kWidths) {
      differing += CompareWidth(location, reference, width, line);
    }
    std::printf("config %s %04X:%04X%s  %s\n", LocationText(location).c_str(),
                static_cast<unsigned>(ReferenceRead(reference, PCI_CFG_VENDOR_ID, 2)),
                static_cast<unsigned>(ReferenceRead(reference, PCI_CFG_DEVICE_ID, 2)), line.c_str(),
                differing == 0 ? "same" : "DIFFERENT");
    failures += differing;
  }
  for (const auto& [location, reference] : references) {
    std::printf("reference %s %s\n", LocationText(location).c_str(), HexText(reference).c_str());
  }
  return failures;
}

// ---- the delay ----

// The counts one wait loaded into channel 2, low byte then high byte each.
std::vector<WORD> CountsLoaded(const std::vector<PortRecorder::PortAccess>& accesses) {
  std::vector<WORD> counts;
  bool high = false;
  for (const auto& access : accesses) {
    if (access.write && access.port == kTimer2DataPort) {
      if (high) {
        counts.back() = static_cast<WORD>(counts.back() | (access.value & 0xFF) << 8);
      } else {
        counts.push_back(static_cast<WORD>(access.value & 0xFF));
      }
      high = !high;
    }
  }
  return counts;
}

std::string CountsText(const std::vector<WORD>& counts) {
  std::string text;
  for (const WORD count : counts) {
    text += (text.empty() ? "" : "+") + std::to_string(count);
  }
  return text;
}

// What a wait did to port 0x61: the value it found, what it wrote, and how often it polled
// the output of channel 2 before it rose, with the last value polled.
std::string PortBText(const std::vector<PortRecorder::PortAccess>& accesses) {
  std::string text;
  unsigned polls = 0;
  UINT32 lastPoll = 0;
  auto item = [&text](const char* what, UINT32 value) {
    char piece[64];
    std::snprintf(piece, sizeof(piece), "%s%s 0x%02X", text.empty() ? "" : ", ", what,
                  static_cast<unsigned>(value));
    text += piece;
  };
  auto endPolls = [&]() {
    if (polls > 0) {
      item(("polled " + std::to_string(polls) + "x, last").c_str(), lastPoll);
      polls = 0;
    }
  };
  for (const auto& access : accesses) {
    if (access.port != kPortB) {
      continue;
    }
    if (access.write) {
      endPolls();
      item("wrote", access.value);
    } else if (text.empty()) {
      item("read", access.value);
    } else {
      ++polls;
      lastPoll = access.value;
    }
  }
  endPolls();
  return text;
}

double Us(std::uint64_t ns) { return static_cast<double>(ns) / kNsPerUs; }

struct DelayResult {
  std::vector<WORD> counts;
  std::vector<std::uint64_t> tookNs;  // sorted
  // Port 0x61 in the shortest run, the one the host disturbed least.
  std::string portB;
};

DelayResult TimeDelay(PortRecorder& recorder, DWORD us) {
  DelayResult result;
  TvrPlatform& platform = TvrGetPlatform();
  std::uint64_t shortest = UINT64_MAX;
  for (std::size_t run = 0; run < kRunsPerDelay; ++run) {
    recorder.Start();
    const std::uint64_t start = platform.MonotonicNs();
    tmDelay(us);
    const std::uint64_t took = platform.MonotonicNs() - start;
    recorder.Stop();
    result.tookNs.push_back(took);
    if (took < shortest) {
      shortest = took;
      result.counts = CountsLoaded(recorder.Accesses());
      result.portB = PortBText(recorder.Accesses());
    }
  }
  std::sort(result.tookNs.begin(), result.tookNs.end());
  return result;
}

int CheckDelays(PortRecorder& recorder) {
  int failures = 0;
  std::printf("%-16s %-14s %12s %12s %12s %12s %12s\n", "wait", "counts", "counts-us",
              "shortest-us", "median-us", "longest-us", "over-us");
  std::vector<std::string> portLines;
  for (const Wait& wait : kWaits) {
    const DelayResult result = TimeDelay(recorder, wait.us);
    const std::uint64_t counts =
        std::accumulate(wait.counts.begin(), wait.counts.end(), std::uint64_t{0});
    const std::uint64_t countsNs = counts * kNsPerSecond / kTimerHz;
    const std::uint64_t shortest = result.tookNs.front();
    const bool otherCounts = result.counts != wait.counts;
    const bool tooShort = shortest < countsNs;
    const bool tooLong =
        shortest > countsNs + kOverheadBoundNs + countsNs * kOverheadBoundPercent / 100;
    const std::string name = "tmDelay(" + std::to_string(wait.us) + ")";
    std::printf("%-16s %-14s %12.1f %12.1f %12.1f %12.1f %12.1f%s%s%s\n", name.c_str(),
                CountsText(result.counts).c_str(), Us(countsNs), Us(shortest),
                Us(result.tookNs[kRunsPerDelay / 2]), Us(result.tookNs.back()),
                Us(shortest) - Us(countsNs),
                otherCounts ? ("  COUNTS NOT " + CountsText(wait.counts)).c_str() : "",
                tooShort ? "  SHORTER" : "", tooLong ? "  TOO LONG" : "");
    portLines.push_back("port 0x61 in " + name + ", shortest run: " + result.portB);
    failures += (otherCounts ? 1 : 0) + (tooShort ? 1 : 0) + (tooLong ? 1 : 0);
  }
  std::printf(
      "bound: each of %zu runs at least the time of the counts due at %llu Hz; the shortest "
      "at most %.0f us + %llu%% over it\n",
      kRunsPerDelay, static_cast<unsigned long long>(kTimerHz), Us(kOverheadBoundNs),
      static_cast<unsigned long long>(kOverheadBoundPercent));
  for (const std::string& line : portLines) {
    std::printf("%s\n", line.c_str());
  }
  return failures;
}

BYTE PortBNow() { return static_cast<BYTE>(TvrGetPlatform().PortRead(kPortB, 1)); }

int CheckPortBKept(BYTE before) {
  const BYTE after = PortBNow();
  const bool kept = (before & kPortBKeptBits) == (after & kPortBKeptBits);
  std::printf("port 0x61 before the waits 0x%02X, after 0x%02X: bits 0-3 %s\n",
              static_cast<unsigned>(before), static_cast<unsigned>(after),
              kept ? "kept" : "CHANGED");
  return kept ? 0 : 1;
}

int CheckChannel2Mode(bool judged) {
  TvrPlatform& platform = TvrGetPlatform();
  platform.PortWrite(kTimerControlPort, 1, kReadBackStatusOfChannel2);
  const BYTE status = static_cast<BYTE>(platform.PortRead(kTimer2DataPort, 1));
  const bool mode3 = (status & kStatusProgrammingBits) == kStatusLowHighMode3Binary;
  std::printf(
      "channel 2 read-back status 0x%02X: mode %u, access %u, %s, output %u, null count %u: %s\n",
      static_cast<unsigned>(status), static_cast<unsigned>(status >> 1 & 7),
      static_cast<unsigned>(status >> 4 & 3), (status & 1) != 0 ? "BCD" : "binary",
      static_cast<unsigned>(status >> 7 & 1), static_cast<unsigned>(status >> 6 & 1),
      !judged ? "not judged (no read-back command on this machine)"
      : mode3 ? "mode 3, low then high byte, as the library leaves it"
              : "NOT as the library leaves it");
  return judged && !mode3 ? 1 : 0;
}

}  // namespace

std::string LocationText(PCIHANDLE location) {
  char text[16];
  std::snprintf(text, sizeof(text), "%02X:%02X.%X", static_cast<unsigned>(location >> 8 & 0xFF),
                static_cast<unsigned>(location >> 3 & 0x1F), static_cast<unsigned>(location & 7));
  return text;
}

std::string HexText(const ConfigSpace& bytes) {
  std::string text;
  for (const BYTE b : bytes) {
    char digits[3];
    std::snprintf(digits, sizeof(digits), "%02x", static_cast<unsigned>(b));
    text += digits;
  }
  return text;
}

bool ParseHexText(const std::string& text, ConfigSpace& bytes) {
  if (text.size() != 2 * bytes.size() ||
      text.find_first_not_of("0123456789abcdefABCDEF") != std::string::npos) {
    return false;
  }
  for (std::size_t i = 0; i < bytes.size(); ++i) {
    bytes[i] = static_cast<BYTE>(std::stoul(text.substr(2 * i, 2), nullptr, 16));
  }
  return true;
}

int RunProbe(const References& references, bool readBackModelled) {
  TvrPlatform& machine = TvrGetPlatform();
  PortRecorder recorder(machine);
  const ScopedRecorder installed(recorder, machine);
  if (!cpuHavePortPrivilege()) {
    std::printf("probe: no access to the I/O ports: %s\n", std::strerror(recorder.RefusalReason()));
    return 1;
  }
  int failures = CompareFunctionLists(references);
  failures += CompareConfigSpaces(references);
  const BYTE before = PortBNow();
  failures += CheckDelays(recorder);
  failures += CheckPortBKept(before);
  failures += CheckChannel2Mode(readBackModelled);
  std::printf("probe: %d failed\n", failures);
  return failures;
}

}  // namespace probe
