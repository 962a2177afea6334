// Reading speed of the merged reader, as the player's loader uses it, and of the plain
// track-by-track reader for comparison, over the large generated song held in memory.
#include <benchmark/benchmark.h>

#include <cstdint>

#include "LargeSmf.h"
#include "MergedMidiReader.h"
#include "MidiFileReader.h"

namespace {

const bench::LargeSmf& song() {
  static const bench::LargeSmf smf = bench::makeLargeSmf();
  return smf;
}

// Counts what the song contains, one per event; named controllers and the pitch-bend range
// reach onController through the default forwarding. Nothing else is done.
template <class Reader>
class EventCounter final : public Reader {
 public:
  using Reader::Reader;

  std::uint64_t events = 0;
  std::uint64_t problems = 0;

  void error(const char*) override { ++problems; }
  void warning(const char*) override { ++problems; }

 protected:
  void onNoteOn(int, int, int) override { ++events; }
  void onNoteOff(int, int, int) override { ++events; }
  void onController(int, int, int) override { ++events; }
  void onProgramChange(int, int) override { ++events; }
  void onPitchBend(int, int) override { ++events; }
  void onTempo(std::uint32_t) override { ++events; }
  void onText(int, std::int32_t, const char*, const std::uint8_t*) override { ++events; }
  void onTimeSignature(int, std::uint32_t, int, int) override { ++events; }
  void onKeySignature(int, int) override { ++events; }
  void onSysex(std::int32_t, const std::uint8_t*) override { ++events; }
  void onGmSystemOn() override { ++events; }
  void onEndOfTrack() override { ++events; }
};

template <class Reader>
void readSong(benchmark::State& state) {
  const bench::LargeSmf& smf = song();
  const auto length = static_cast<std::int32_t>(smf.bytes.size());
  std::uint64_t events = 0;
  for (auto _ : state) {
    EventCounter<Reader> reader(smf.bytes.data(), length, false);
    const int result = reader.readFile();
    if (result != 1 || reader.problems != 0 || reader.events != smf.events) {
      state.SkipWithError("the song was not read whole and clean");
      return;
    }
    events += reader.events;
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) * length);
  state.counters["events"] = benchmark::Counter(static_cast<double>(events),
                                                benchmark::Counter::kIsRate);
  state.counters["file_events"] = static_cast<double>(smf.events);
  state.counters["file_bytes"] = static_cast<double>(length);
}

void BM_MergedRead(benchmark::State& state) { readSong<midifile::MergedMidiReader>(state); }
void BM_PlainReadTrackByTrack(benchmark::State& state) {
  readSong<midifile::MidiFileReader>(state);
}

BENCHMARK(BM_MergedRead)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_PlainReadTrackByTrack)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
