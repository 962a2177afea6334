// Periodic timers on the steady clock. Each timer thread sleeps until an absolute deadline
// start + k * period, so a late wake-up shortens the next wait instead of pushing every later
// tick back.
#include "SteadyTimer.h"

#include <atomic>
#include <chrono>
#include <system_error>
#include <thread>
#include <vector>

namespace platform {

using Clock = std::chrono::steady_clock;

struct SteadyTimerService::Timer {
  Timer(std::uint32_t periodMs, TimerCallback cb, void* userData)
      : period(std::chrono::milliseconds(periodMs)), callback(cb), user(userData) {}

  void run() {
    Clock::time_point deadline = origin + period;
    std::unique_lock<std::mutex> lock(wakeMutex);
    while (!wake.wait_until(lock, deadline, [this] { return stopped; })) {
      lock.unlock();
      callback(user);
      lock.lock();
      deadline += period;
      // After an overrun the missed ticks are dropped, not replayed in a burst: the song clock
      // counts ticks, so a burst would only send a run of events at once.
      Clock::time_point now = Clock::now();
      if (deadline <= now) deadline += ((now - deadline) / period + 1) * period;
    }
    lock.unlock();
    ended = true;
  }

  const Clock::duration period;
  const TimerCallback callback;
  void* const user;
  Clock::time_point origin;

  // Set before the registry mutex is released by start(); thread is joined by whoever set
  // joining, outside that mutex.
  std::thread thread;
  std::thread::id threadId;
  bool joining = false;  // registry mutex
  bool joined = false;   // registry mutex

  std::mutex wakeMutex;
  std::condition_variable wake;
  bool stopped = false;  // wakeMutex

  // The thread has left the callback for good and is about to return.
  std::atomic<bool> ended{false};

  void stop() {
    {
      std::lock_guard<std::mutex> lock(wakeMutex);
      stopped = true;
    }
    wake.notify_one();
  }
};

SteadyTimerService::~SteadyTimerService() {
  std::vector<std::shared_ptr<Timer>> toJoin;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    closing_ = true;
    for (auto& entry : timers_) {
      entry.second->stop();
      if (!entry.second->joining) {
        entry.second->joining = true;
        toJoin.push_back(entry.second);
      }
    }
  }
  for (auto& timer : toJoin) {
    // Only if a callback destroys the service: the thread then ends on its own.
    if (timer->threadId == std::this_thread::get_id()) {
      timer->thread.detach();
    } else {
      timer->thread.join();
    }
  }
}

std::uint32_t SteadyTimerService::start(std::uint32_t periodMs, TimerCallback callback,
                                        void* user) {
  // Shared by every instance so that an id never comes back within the process.
  static std::atomic<std::uint32_t> lastId{0};

  if (periodMs == 0 || callback == nullptr) return 0;
  std::lock_guard<std::mutex> lock(mutex_);
  if (closing_) return 0;
  reapLocked();
  auto timer = std::make_shared<Timer>(periodMs, callback, user);
  timer->origin = Clock::now();
  try {
    timer->thread = std::thread([timer] { timer->run(); });
  } catch (const std::system_error&) {
    return 0;
  }
  timer->threadId = timer->thread.get_id();
  std::uint32_t id = ++lastId;
  if (id == 0) {
    // Out of ids after 2^32 - 1 starts.
    timer->stop();
    timer->thread.join();
    return 0;
  }
  timers_.emplace(id, std::move(timer));
  return id;
}

void SteadyTimerService::kill(std::uint32_t id) {
  std::unique_lock<std::mutex> lock(mutex_);
  reapLocked();
  auto found = timers_.find(id);
  if (found == timers_.end()) return;
  std::shared_ptr<Timer> timer = found->second;
  timer->stop();
  // Joining here would wait for ourselves.
  if (timer->threadId == std::this_thread::get_id() || closing_) return;
  if (timer->joining) {
    // Another thread is joining it; returning before it is done would break the promise that
    // no callback runs any more.
    joined_.wait(lock, [&timer] { return timer->joined; });
    return;
  }
  timer->joining = true;
  // Unlocked: the callback may itself start or kill timers.
  lock.unlock();
  timer->thread.join();
  lock.lock();
  timer->joined = true;
  timers_.erase(id);
  joined_.notify_all();
}

void SteadyTimerService::reapLocked() {
  for (auto it = timers_.begin(); it != timers_.end();) {
    Timer& timer = *it->second;
    if (!timer.joining && timer.ended) {
      timer.thread.join();  // already past its last callback: returns at once
      it = timers_.erase(it);
    } else {
      ++it;
    }
  }
}

}  // namespace platform
