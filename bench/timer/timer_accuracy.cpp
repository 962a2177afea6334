// Runs the real 20 ms timer for a while and reports how late its callbacks come and how far a
// song clock driven by it strays from the wall clock.
//
//   timer_accuracy [seconds]     (default 30)
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <thread>
#include <vector>

#include "posix/SteadyTimer.h"

namespace {

using Clock = std::chrono::steady_clock;
constexpr auto kPeriod = std::chrono::milliseconds(20);

// Written by the timer thread only; read after kill(), which orders it before the reads.
struct Record {
  Clock::time_point origin;
  Clock::time_point deadline;  // of the tick to come
  std::vector<double> latenessMs;
  long skipped = 0;
  long songMs = 0;
  Clock::time_point lastTick;
};

double toMs(Clock::duration d) { return std::chrono::duration<double, std::milli>(d).count(); }

void tick(void* user) {
  auto* record = static_cast<Record*>(user);
  const Clock::time_point now = Clock::now();
  record->latenessMs.push_back(toMs(now - record->deadline));
  record->songMs += 20;
  record->lastTick = now;
  // Mirror the timer: once the next deadline has passed, it is dropped rather than replayed.
  record->deadline += kPeriod;
  const Clock::time_point done = Clock::now();
  if (record->deadline <= done) {
    const auto missed = (done - record->deadline) / kPeriod + 1;
    record->skipped += missed;
    record->deadline += missed * kPeriod;
  }
}

double percentile(const std::vector<double>& sorted, double p) {
  const auto index = static_cast<std::size_t>(p * static_cast<double>(sorted.size() - 1) + 0.5);
  return sorted[std::min(index, sorted.size() - 1)];
}

}  // namespace

int main(int argc, char** argv) {
  long seconds = 30;
  if (argc > 1) {
    char* end = nullptr;
    seconds = std::strtol(argv[1], &end, 10);
    if (*end != '\0' || seconds <= 0) {
      std::fprintf(stderr, "usage: %s [seconds]\n", argv[0]);
      return 2;
    }
  }

  Record record;
  record.latenessMs.reserve(static_cast<std::size_t>(seconds) * 50 + 16);
  platform::SteadyTimerService service;
  // Taken just before start(), so lateness includes the few microseconds it takes to start.
  record.origin = Clock::now();
  record.deadline = record.origin + kPeriod;
  const std::uint32_t id = service.start(20, tick, &record);
  if (id == 0) {
    std::fprintf(stderr, "could not start the timer\n");
    return 1;
  }
  std::this_thread::sleep_for(std::chrono::seconds(seconds));
  service.kill(id);

  if (record.latenessMs.empty()) {
    std::fprintf(stderr, "no tick arrived\n");
    return 1;
  }
  std::vector<double> sorted = record.latenessMs;
  std::sort(sorted.begin(), sorted.end());
  // Song time against wall time at the last tick: negative when the song clock lags.
  const double driftMs = static_cast<double>(record.songMs) - toMs(record.lastTick - record.origin);

  std::printf("period 20 ms, %ld s, %zu ticks, %ld deadlines skipped\n", seconds, sorted.size(),
              record.skipped);
  std::printf("lateness p50 %.3f ms, p99 %.3f ms, max %.3f ms\n", percentile(sorted, 0.50),
              percentile(sorted, 0.99), sorted.back());
  // Each skipped deadline costs the song clock one tick for good; the rest is the lateness of
  // the last tick, which does not build up.
  std::printf("drift at the end %.3f ms (%ld ms of it from skipped deadlines)\n", driftMs,
              -record.skipped * 20);
  return 0;
}
