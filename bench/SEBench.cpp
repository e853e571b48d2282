// A full read and a full write of each flash part through the serial EEPROM library on the
// emulated card: host time, with the machine's virtual time and register accesses as
// counters (virtual time is what the same run takes on a real card).
#include <benchmark/benchmark.h>

#include <cstdint>
#include <memory>
#include <vector>

#include "Card.h"
#include "Machine.h"
#include "SELib.h"

namespace {

constexpr PCIHANDLE kLocation = MakePciHandle(1, 0);
constexpr std::uint32_t kCapacity = 131072;

// One machine with one card of the given part and a ready serial EEPROM object on it.
class Bench {
 public:
  explicit Bench(emu::FlashPart part) : m_storage(new unsigned char[SEGetHandleSize()]) {
    emu::CardOptions options;
    options.part = part;
    m_machine.Emplace<emu::Card>(1, 0, 0, m_machine.Clock(), options);
    m_ready = SECreateHandle(handle(), kLocation) == SE_OK;
  }
  ~Bench() { SEReleaseHandle(handle()); }
  Bench(const Bench&) = delete;
  Bench& operator=(const Bench&) = delete;

  bool Ready() const { return m_ready; }
  SEHANDLE handle() { return reinterpret_cast<SEHANDLE>(m_storage.get()); }
  emu::Machine& machine() { return m_machine; }

 private:
  emu::Machine m_machine;
  emu::ScopedPlatform m_platform{m_machine};
  std::unique_ptr<unsigned char[]> m_storage;
  bool m_ready = false;
};

std::vector<UINT8> Image() {
  std::vector<UINT8> image(kCapacity);
  for (std::uint32_t i = 0; i < kCapacity; ++i) {
    image[i] = static_cast<UINT8>(i * 7 + (i >> 9));
  }
  return image;
}

void Count(benchmark::State& state, emu::Machine& machine, std::uint64_t startNs) {
  const emu::Counters& stats = machine.Stats();
  const auto avg = benchmark::Counter::kAvgIterations;
  state.counters["virtual_s"] +=
      benchmark::Counter(static_cast<double>(machine.Clock().Now() - startNs) / 1e9, avg);
  state.counters["device_reads"] += benchmark::Counter(static_cast<double>(stats.deviceReads), avg);
  state.counters["device_writes"] +=
      benchmark::Counter(static_cast<double>(stats.deviceWrites), avg);
}

template <class Operation>
void Run(benchmark::State& state, emu::FlashPart part, Operation operation) {
  state.counters["virtual_s"] = benchmark::Counter(0, benchmark::Counter::kAvgIterations);
  state.counters["device_reads"] = benchmark::Counter(0, benchmark::Counter::kAvgIterations);
  state.counters["device_writes"] = benchmark::Counter(0, benchmark::Counter::kAvgIterations);
  std::vector<UINT8> buffer = Image();
  for (auto _ : state) {
    state.PauseTiming();
    Bench bench(part);
    if (!bench.Ready()) {
      state.SkipWithError("the object could not be created");
      break;
    }
    bench.machine().ResetStats();
    const std::uint64_t startNs = bench.machine().Clock().Now();
    state.ResumeTiming();
    if (operation(bench.handle(), buffer.data()) != SE_OK) {
      state.SkipWithError("the operation failed");
      break;
    }
    state.PauseTiming();
    Count(state, bench.machine(), startNs);
    state.ResumeTiming();
  }
}

SE_ERR FullRead(SEHANDLE hSE, UINT8* buffer) { return SERead(hSE, 0, kCapacity, buffer); }
SE_ERR FullWrite(SEHANDLE hSE, UINT8* buffer) { return SEWrite(hSE, buffer, 0, kCapacity); }

void BM_FullRead(benchmark::State& state, emu::FlashPart part) { Run(state, part, FullRead); }
void BM_FullWrite(benchmark::State& state, emu::FlashPart part) { Run(state, part, FullWrite); }

}  // namespace

BENCHMARK_CAPTURE(BM_FullRead, AT25F1024, emu::FlashPart::At25f1024)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_FullRead, M25P10, emu::FlashPart::M25p10)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_FullRead, SST25VF010, emu::FlashPart::Sst25vf010)
    ->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_FullWrite, AT25F1024, emu::FlashPart::At25f1024)
    ->Unit(benchmark::kMillisecond)
    ->Iterations(1);
BENCHMARK_CAPTURE(BM_FullWrite, M25P10, emu::FlashPart::M25p10)
    ->Unit(benchmark::kMillisecond)
    ->Iterations(1);
BENCHMARK_CAPTURE(BM_FullWrite, SST25VF010, emu::FlashPart::Sst25vf010)
    ->Unit(benchmark::kMillisecond)
    ->Iterations(1);

BENCHMARK_MAIN();
