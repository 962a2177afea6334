// Periodic timers, one thread each, ticking on absolute deadlines of the steady clock so that
// lateness never accumulates into drift.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <map>
#include <memory>
#include <mutex>

#include "Platform.h"

namespace platform {

class SteadyTimerService : public TimerService {
 public:
  SteadyTimerService() = default;
  SteadyTimerService(const SteadyTimerService&) = delete;
  SteadyTimerService& operator=(const SteadyTimerService&) = delete;
  // Stops and joins every timer still running.
  ~SteadyTimerService() override;

  // The first tick is due one period after the call. A zero period, a missing callback or a
  // thread that cannot be created gives 0.
  std::uint32_t start(std::uint32_t periodMs, TimerCallback callback, void* user) override;
  // From another thread: waits for a running callback, even one that already killed its own
  // timer. From the timer's own callback: only marks it stopped.
  void kill(std::uint32_t id) override;

 private:
  struct Timer;

  // Joins the timers whose threads have ended after killing themselves.
  void reapLocked();

  std::mutex mutex_;
  std::condition_variable joined_;
  // Every timer whose thread has not been joined yet.
  std::map<std::uint32_t, std::shared_ptr<Timer>> timers_;
  bool closing_ = false;
};

}  // namespace platform
