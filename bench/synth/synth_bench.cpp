// The synthesizer output's costs, measured the way a player meets them: libqmid.so loaded with
// dlopen, songs played through its exports into the WAV output (rendered in real time).
//   1. load: what dlopen of libqmid.so costs, and how many objects it brings in;
//   2. first open: the first Play (loads libqmidsynth.so, creates the synthesizer, loads the
//      SoundFont) against a warm Play;
//   3. play to first sound, warm: from Play returning to the first non-silent sample;
//   4. CPU per second of music for a dense song, against the same song on the null output.
// Usage: synth_bench [RUNS]   (QMID_SOUNDFONT defaults to the small Debian SoundFont here)
#include <dlfcn.h>
#include <link.h>
#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <string>
#include <thread>
#include <vector>

#include "SmfBuilder.h"

namespace {

using Clock = std::chrono::steady_clock;

double msSince(Clock::time_point start) {
  return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
}

double cpuSeconds() {
  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  return usage.ru_utime.tv_sec + usage.ru_stime.tv_sec +
         (usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

int loadedObjects() {
  int count = 0;
  dl_iterate_phdr([](dl_phdr_info*, size_t, void* n) { return ++*static_cast<int*>(n), 0; }, &count);
  return count;
}

struct Engine {
  std::int32_t (*play)(void*, const char*, std::int32_t);
  std::int32_t (*stop)();
  std::int32_t (*mode)();
};

constexpr std::int32_t kModeStop = 525;
constexpr std::int32_t kModePlay = 526;

std::string temp(const std::string& name) {
  return "/tmp/qmid_synth_bench_" + std::to_string(getpid()) + "_" + name;
}

void write(const std::string& path, const smf::Bytes& bytes) {
  std::ofstream(path, std::ios::binary)
      .write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
}

bool playToEnd(const Engine& e, const std::string& song) {
  if (e.play(nullptr, song.c_str(), 1) != 1) return false;
  const Clock::time_point until = Clock::now() + std::chrono::seconds(60);
  while (e.mode() == kModePlay && Clock::now() < until)
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  const bool ended = e.mode() == kModeStop;
  e.stop();
  return ended;
}

// The time of the first sample at or above -60 dB in a WAV file that the output wrote.
double firstSoundMs(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  const std::vector<char> b((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  for (std::size_t at = 44; at + 2 <= b.size(); at += 2) {
    const auto sample = static_cast<std::int16_t>(static_cast<unsigned char>(b[at]) |
                                                  static_cast<unsigned char>(b[at + 1]) << 8);
    if (std::abs(sample) >= 33) return (at - 44) / 4 / 44.1;
  }
  return -1;
}

// Sixteen channels, a new note on two of them every 25 ms, each held 400 ms (about 32 notes
// sounding at once), drums on every eighth: a dense arrangement, eight seconds long.
smf::Bytes denseSong() {
  struct Event {
    std::uint32_t ms;
    std::vector<std::uint8_t> bytes;
  };
  std::vector<Event> events;
  for (int c = 0; c < 16; ++c)
    if (c != 9) events.push_back({0, {static_cast<std::uint8_t>(0xC0 | c), static_cast<std::uint8_t>(c * 8)}});
  for (int step = 0; step < 320; ++step) {
    const std::uint32_t t = step * 25;
    for (int k = 0; k < 2; ++k) {
      int c = (step * 2 + k) % 16;
      if (c == 9) c = 15;
      const auto key = static_cast<std::uint8_t>(40 + (step * 7 + k * 12) % 48);
      events.push_back({t, {static_cast<std::uint8_t>(0x90 | c), key, 90}});
      events.push_back({t + 400, {static_cast<std::uint8_t>(0x80 | c), key, 64}});
    }
    if (step % 5 == 0) {
      events.push_back({t, {0x99, static_cast<std::uint8_t>(step % 10 ? 42 : 36), 100}});
      events.push_back({t + 50, {0x89, static_cast<std::uint8_t>(step % 10 ? 42 : 36), 64}});
    }
  }
  std::stable_sort(events.begin(), events.end(), [](const Event& a, const Event& b) { return a.ms < b.ms; });
  smf::Track track;
  std::uint32_t last = 0;
  for (const Event& event : events) {
    track.event(event.ms - last, event.bytes);
    last = event.ms;
  }
  track.endOfTrack();
  return smf::song(0, 500, {track});  // one tick is one millisecond
}

double median(std::vector<double> v) {
  std::sort(v.begin(), v.end());
  return v.empty() ? 0 : v[v.size() / 2];
}

}  // namespace

int main(int argc, char** argv) {
  const int runs = argc > 1 ? std::max(1, std::atoi(argv[1])) : 10;
  setenv("QMID_SOUNDFONT", "/usr/share/sounds/sf2/TimGM6mb.sf2", 0);
  std::printf("SoundFont: %s\n", std::getenv("QMID_SOUNDFONT"));

  // 1. Load.
  const int before = loadedObjects();
  Clock::time_point start = Clock::now();
  void* library = dlopen(QMID_LIBRARY_PATH, RTLD_NOW | RTLD_LOCAL);
  const double loadMs = msSince(start);
  if (!library) {
    std::fprintf(stderr, "cannot load %s: %s\n", QMID_LIBRARY_PATH, dlerror());
    return 1;
  }
  const int afterLoad = loadedObjects();
  std::printf("load: dlopen of libqmid.so %.2f ms, %d objects added (%d in the process)\n", loadMs,
              afterLoad - before, afterLoad);
  Engine e{reinterpret_cast<decltype(Engine::play)>(dlsym(library, "QMIDEngine_Play")),
           reinterpret_cast<decltype(Engine::stop)>(dlsym(library, "QMIDEngine_Stop")),
           reinterpret_cast<decltype(Engine::mode)>(dlsym(library, "QMIDEngine_GetMode"))};

  // 2. First open against warm ones; 3. play to first sound.
  smf::Track note;
  note.noteOn(0, 0, 60, 100).noteOff(200, 0, 60).endOfTrack();
  const std::string shortSong = temp("note.mid");
  write(shortSong, smf::song(0, 500, {note}));
  const std::string out = temp("out.wav");
  setenv("QMID_MIDI_OUT", ("wav:" + out).c_str(), 1);
  std::vector<double> warmPlay, firstSound;
  double coldPlay = 0;
  for (int run = 0; run <= runs; ++run) {
    start = Clock::now();
    if (e.play(nullptr, shortSong.c_str(), 1) != 1) {
      std::fprintf(stderr, "Play failed\n");
      return 1;
    }
    const double playMs = msSince(start);
    while (e.mode() == kModePlay) std::this_thread::sleep_for(std::chrono::milliseconds(5));
    e.stop();
    // The file's time 0 is the output's opening, inside Play: the sound comes at most this
    // long after Play returned, and at least this less Play's own duration.
    const double sound = firstSoundMs(out);
    if (run == 0) {
      coldPlay = playMs;
      std::printf("first open: cold Play %.1f ms, %d objects in the process after it\n", coldPlay,
                  loadedObjects());
    } else {
      warmPlay.push_back(playMs);
      firstSound.push_back(sound);
    }
  }
  std::printf("warm Play: median %.2f ms, max %.2f ms (%d runs)\n", median(warmPlay),
              *std::max_element(warmPlay.begin(), warmPlay.end()), runs);
  std::printf("play to first sound (warm, WAV timeline): median %.1f ms, max %.1f ms, min %.1f ms\n",
              median(firstSound), *std::max_element(firstSound.begin(), firstSound.end()),
              *std::min_element(firstSound.begin(), firstSound.end()));

  // 4. CPU per second of music.
  const std::string dense = temp("dense.mid");
  write(dense, denseSong());
  for (const char* device : {"null", "wav"}) {
    setenv("QMID_MIDI_OUT", device == std::string("wav") ? ("wav:" + out).c_str() : device, 1);
    const double cpu = cpuSeconds();
    start = Clock::now();
    if (!playToEnd(e, dense)) {
      std::fprintf(stderr, "the dense song did not play on %s\n", device);
      return 1;
    }
    const double seconds = msSince(start) / 1000;
    std::printf("dense song on %-4s: %.1f s of music, CPU %.1f ms per second of music (%.1f %% of a core)\n",
                device, seconds, (cpuSeconds() - cpu) * 1000 / seconds, (cpuSeconds() - cpu) * 100 / seconds);
  }
  std::remove(shortSong.c_str());
  std::remove(dense.c_str());
  std::remove(out.c_str());
  return 0;
}
