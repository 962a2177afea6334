// Songs given as URLs against songs on disk: Play of a 2 MB song from a server on 127.0.0.1
// until its MSG_URL_LOADED arrives, next to Play of the same bytes from a file, both up to the
// started sequencer; and how long Stop takes to break a download stalled on its server.
#include <benchmark/benchmark.h>

#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>

#include "CurlInternet.h"
#include "LargeSmf.h"
#include "LocalHttpServer.h"
#include "Player.h"
#include "qmid.h"
#include "qwin.h"

namespace {

// A default song of 940 bars is about 10.8 MB; 180 bars give about 2 MB.
constexpr std::uint32_t kBars = 180;

struct Setup {
  bench::LargeSmf song;
  std::string path;
  testhttp::LocalHttpServer server;
  QWinHandle window = nullptr;

  Setup() {
    ::setenv("QMID_MIDI_OUT", "null", 1);
    ::setenv("no_proxy", "127.0.0.1", 1);
    bench::LargeSmfOptions options;
    options.bars = kBars;
    song = bench::makeLargeSmf(options);
    path = "/tmp/qmid_download_bench_" + std::to_string(::getpid()) + ".mid";
    std::ofstream(path, std::ios::binary)
        .write(reinterpret_cast<const char*>(song.bytes.data()),
               static_cast<std::streamsize>(song.bytes.size()));
    server.route("/song.mid", testhttp::answer(200, std::string(song.bytes.begin(), song.bytes.end())));
    testhttp::Reply stall = testhttp::answer(200, "MThd");
    stall.stallAfter = 0;
    server.route("/stall.mid", stall);
    platform::Services services = platform::services();
    services.internet = &platform::curlInternet();
    platform::install(services);
    window = QWin_Create();
  }
  ~Setup() { std::remove(path.c_str()); }

  void drain() {
    QWinMessage message;
    while (QWin_Peek(window, &message) == 1) {
    }
  }
};

Setup& setup() {
  static Setup s;
  return s;
}

void BM_PlayFromDisk(benchmark::State& state) {
  Setup& s = setup();
  for (auto _ : state) {
    if (QMIDEngine_Play(s.window, s.path.c_str(), 1) != 1) state.SkipWithError("play failed");
    state.PauseTiming();
    QMIDEngine_Stop();
    s.drain();
    state.ResumeTiming();
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * s.song.bytes.size()));
  state.counters["file_bytes"] = static_cast<double>(s.song.bytes.size());
}
BENCHMARK(BM_PlayFromDisk)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_PlayFromUrl(benchmark::State& state) {
  Setup& s = setup();
  const std::string url = s.server.url("/song.mid");
  for (auto _ : state) {
    if (QMIDEngine_Play(s.window, url.c_str(), 1) != QMID_LOADING) state.SkipWithError("play failed");
    QWinMessage message{};
    do {
      if (QWin_Get(s.window, &message, 20000) != 1) {
        state.SkipWithError("no message");
        break;
      }
    } while (message.message != MSG_URL_LOADED);
    if (message.lParam != MCI_MODE_PLAY) state.SkipWithError("download failed");
    state.PauseTiming();
    QMIDEngine_Stop();
    s.drain();
    state.ResumeTiming();
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * s.song.bytes.size()));
  state.counters["file_bytes"] = static_cast<double>(s.song.bytes.size());
}
BENCHMARK(BM_PlayFromUrl)->Unit(benchmark::kMillisecond)->UseRealTime();

// From Stop's call to its return, with the thread blocked in its first read.
void BM_StopBreaksStalledDownload(benchmark::State& state) {
  Setup& s = setup();
  const std::string url = s.server.url("/stall.mid");
  for (auto _ : state) {
    state.PauseTiming();
    const int stalls = s.server.stalls();
    if (QMIDEngine_Play(s.window, url.c_str(), 1) != QMID_LOADING) state.SkipWithError("play failed");
    if (!testhttp::LocalHttpServer::waitFor([&] { return s.server.stalls() > stalls; }))
      state.SkipWithError("no stall");
    usleep(20000);  // let the thread block in its read
    state.ResumeTiming();
    QMIDEngine_Stop();
    state.PauseTiming();
    s.drain();
    state.ResumeTiming();
  }
}
BENCHMARK(BM_StopBreaksStalledDownload)->Unit(benchmark::kMicrosecond)->UseRealTime()->Iterations(50);

}  // namespace

BENCHMARK_MAIN();
