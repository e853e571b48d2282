// The whole update as a run makes it, through the session: the card found and read, the
// BIOS file checked and placed, the image written with verification (/i), and a backup of
// the card (/o). Host time, with the machine's virtual time (the estimated time on a real
// card), the register accesses and the host cost of one access as counters. For /i the
// virtual time is also given as a multiple of the part's own floor: its chip erase plus
// programming the whole capacity at its typical times, which no driver can beat.
#include <benchmark/benchmark.h>
#include <unistd.h>

#include <array>
#include <chrono>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include "Card.h"
#include "Machine.h"
#include "SampleBios.h"
#include "UxLib.h"

namespace {

namespace fs = std::filesystem;

constexpr PCIHANDLE kLocation = MakePciHandle(1, 0);
constexpr double kCapacity = 131072;

// Typical times of each part; the floor is erase + programming of the whole capacity.
struct PartTimes {
  double eraseS;
  double programS;  // per program unit
  double unitBytes;
  constexpr double FloorS() const { return eraseS + kCapacity / unitBytes * programS; }
};

constexpr PartTimes kAt25f1024{2.0, 20e-6, 1};
constexpr PartTimes kM25p10{1.7, 1.4e-3, 128};
constexpr PartTimes kSst25vf010{0.07, 14e-6, 1};

BOOL32 Discard(void*, const ACHAR*) { return TRUE; }

// The new BIOS file in a folder of its own, for the length of the benchmark. The session
// takes file names as they are, so the working directory moves there.
class Workspace {
 public:
  Workspace() : m_dir(fs::temp_directory_path() / ("tvr-bench-" + std::to_string(getpid()))) {
    fs::create_directories(m_dir);
    const std::vector<std::uint8_t> bytes = emu::BuildSampleBios(emu::NewerSampleBios());
    std::ofstream(m_dir / "new.bin", std::ios::binary)
        .write(reinterpret_cast<const char*>(bytes.data()),
               static_cast<std::streamsize>(bytes.size()));
    m_previous = fs::current_path();
    fs::current_path(m_dir);
  }
  ~Workspace() {
    fs::current_path(m_previous);
    std::error_code ignored;
    fs::remove_all(m_dir, ignored);
  }
  Workspace(const Workspace&) = delete;
  Workspace& operator=(const Workspace&) = delete;

 private:
  fs::path m_dir;
  fs::path m_previous;
};

// One run of the utility's session on the machine in force.
UX_ERR RunSession(const std::string& commandLine) {
  const std::unique_ptr<std::uint8_t[]> storage(new std::uint8_t[UxGetHandleSize()]);
  const auto hUx = reinterpret_cast<UXHANDLE>(storage.get());
  UX_ERR result = UxCreateHandle(hUx, kLocation, Discard, nullptr, Discard, nullptr);
  if (result == UX_OK) {
    std::array<ACHAR, 256> line{};
    commandLine.copy(line.data(), line.size() - 1);
    result = UxExecLibrary(hUx, line.data());
    UxReleaseHandle(hUx);
  }
  return result;
}

std::uint64_t Accesses(const emu::Counters& counters) {
  return counters.portReads + counters.portWrites + counters.deviceReads + counters.deviceWrites;
}

void Run(benchmark::State& state, emu::FlashPart part, const std::string& commandLine,
         double floorS) {
  const Workspace workspace;
  double virtualS = 0;
  double accesses = 0;
  double hostS = 0;
  for (auto _ : state) {
    state.PauseTiming();
    emu::Machine machine;
    emu::CardOptions options;
    options.part = part;
    machine.Emplace<emu::Card>(1, 0, 0, machine.Clock(), options,
                               emu::FlashStore::InMemory(emu::BuildSampleBios()));
    const emu::ScopedPlatform platform(machine);
    const auto start = std::chrono::steady_clock::now();
    state.ResumeTiming();
    const UX_ERR result = RunSession(commandLine);
    state.PauseTiming();
    hostS += std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    if (result != UX_OK) {
      state.SkipWithError("the run failed");
      break;
    }
    virtualS += static_cast<double>(machine.Clock().Now()) / 1e9;
    accesses += static_cast<double>(Accesses(machine.Stats()));
    state.ResumeTiming();
  }
  const double runs = static_cast<double>(state.iterations());
  state.counters["virtual_s"] = virtualS / runs;
  state.counters["accesses"] = accesses / runs;
  state.counters["host_ns_per_access"] = accesses > 0 ? hostS * 1e9 / accesses : 0;
  if (floorS > 0) {
    state.counters["virtual_per_floor"] = virtualS / runs / floorS;
  }
}

void BM_Update(benchmark::State& state, emu::FlashPart part, PartTimes times) {
  Run(state, part, "/i new.bin", times.FloorS());
}

void BM_Backup(benchmark::State& state, emu::FlashPart part) {
  Run(state, part, "/o backup.bin", 0);
}

}  // namespace

BENCHMARK_CAPTURE(BM_Update, AT25F1024, emu::FlashPart::At25f1024, kAt25f1024)
    ->Unit(benchmark::kMillisecond)
    ->Iterations(2);
BENCHMARK_CAPTURE(BM_Update, M25P10, emu::FlashPart::M25p10, kM25p10)
    ->Unit(benchmark::kMillisecond)
    ->Iterations(2);
BENCHMARK_CAPTURE(BM_Update, SST25VF010, emu::FlashPart::Sst25vf010, kSst25vf010)
    ->Unit(benchmark::kMillisecond)
    ->Iterations(2);
BENCHMARK_CAPTURE(BM_Backup, M25P10, emu::FlashPart::M25p10)
    ->Unit(benchmark::kMillisecond)
    ->Iterations(3);
