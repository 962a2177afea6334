// Engine benchmarks on the large generated song: loading it from memory into the song store,
// and a seek that chases the whole event list from the start to the end.
#include <benchmark/benchmark.h>

#include "LargeSmf.h"
#include "MidiEngine.h"
#include "posix/NullMidiOutput.h"

namespace {

class NullOutputService : public platform::MidiOutputService {
 public:
  std::unique_ptr<platform::MidiOutput> openDefault(std::string&) override {
    return std::make_unique<platform::NullMidiOutput>();
  }
};

const bench::LargeSmf& song() {
  static const bench::LargeSmf s = bench::makeLargeSmf();
  return s;
}

// The engine with a silent output and no window: nothing leaves the process.
qmid::MidiEngine& silentEngine() {
  static NullOutputService output;
  static qmid::MidiEngine engine;
  platform::Services services = platform::services();
  services.midiOut = &output;
  platform::install(services);
  return engine;
}

void BM_LoadFromMemory(benchmark::State& state) {
  qmid::MidiEngine& engine = silentEngine();
  const auto& bytes = song().bytes;
  for (auto _ : state) {
    qmid::openOutput(engine, nullptr);
    if (qmid::loadMemory(engine, bytes.data(), static_cast<std::int32_t>(bytes.size())) != 1)
      state.SkipWithError("load failed");
    benchmark::DoNotOptimize(engine.eventWords);
    qmid::release(engine);
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * bytes.size()));
}
BENCHMARK(BM_LoadFromMemory)->Unit(benchmark::kMillisecond);

void BM_SeekToEnd(benchmark::State& state) {
  qmid::MidiEngine& engine = silentEngine();
  const auto& bytes = song().bytes;
  qmid::openOutput(engine, nullptr);
  qmid::loadMemory(engine, bytes.data(), static_cast<std::int32_t>(bytes.size()));
  const auto end = static_cast<std::uint32_t>(engine.songLength);
  for (auto _ : state) {
    qmid::seek(engine, end);
    benchmark::DoNotOptimize(engine.position.load());
  }
  state.counters["records"] = static_cast<double>(engine.eventWords) / 4;
  qmid::release(engine);
}
BENCHMARK(BM_SeekToEnd)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
