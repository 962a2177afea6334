// The steady-clock timer backend: ticks, kill semantics from both sides, and teardown.
// Waits are bounded and generous; nothing here measures accuracy.
#include "posix/SteadyTimer.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <set>
#include <thread>

namespace platform {
namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

// Polls until the condition holds or the limit passes; returns whether it held.
template <typename Condition>
bool waitFor(Condition condition, Clock::duration limit = 2s) {
  const Clock::time_point end = Clock::now() + limit;
  while (!condition()) {
    if (Clock::now() > end) return false;
    std::this_thread::sleep_for(1ms);
  }
  return true;
}

void countTick(void* user) { ++*static_cast<std::atomic<int>*>(user); }

// A callback that takes a while, so that kill() meets it running.
struct SlowTicks {
  std::atomic<int> entered{0};
  std::atomic<int> left{0};
  static void tick(void* user) {
    auto* self = static_cast<SlowTicks*>(user);
    ++self->entered;
    std::this_thread::sleep_for(50ms);
    ++self->left;
  }
};

TEST(SteadyTimer, TicksArriveWithTheUserPointer) {
  SteadyTimerService service;
  std::atomic<int> ticks{0};
  const std::uint32_t id = service.start(10, countTick, &ticks);
  ASSERT_NE(id, 0u);
  EXPECT_TRUE(waitFor([&] { return ticks >= 5; }));
  service.kill(id);
}

TEST(SteadyTimer, RejectsZeroPeriodAndMissingCallback) {
  SteadyTimerService service;
  std::atomic<int> ticks{0};
  EXPECT_EQ(service.start(0, countTick, &ticks), 0u);
  EXPECT_EQ(service.start(10, nullptr, &ticks), 0u);
}

TEST(SteadyTimer, KillWaitsForTheRunningCallbackAndNothingRunsAfter) {
  SteadyTimerService service;
  SlowTicks slow;
  const std::uint32_t id = service.start(5, SlowTicks::tick, &slow);
  ASSERT_NE(id, 0u);
  ASSERT_TRUE(waitFor([&] { return slow.entered >= 1; }));
  service.kill(id);
  const int entered = slow.entered;
  EXPECT_EQ(slow.left.load(), entered);  // the callback in progress finished before kill returned
  std::this_thread::sleep_for(60ms);     // a dozen periods
  EXPECT_EQ(slow.entered.load(), entered);
  service.kill(id);  // a second kill of the same id does nothing
}

// Kills its own timer on the first tick, then keeps working for a while.
struct SelfKiller {
  SteadyTimerService* service = nullptr;
  std::atomic<std::uint32_t> id{0};
  std::atomic<int> ticks{0};
  std::atomic<bool> killReturned{false};
  std::atomic<bool> finished{false};
  static void tick(void* user) {
    auto* self = static_cast<SelfKiller*>(user);
    ++self->ticks;
    const std::uint32_t id = self->id;
    if (id == 0) return;  // start() has not returned yet
    self->service->kill(id);
    self->killReturned = true;
    std::this_thread::sleep_for(50ms);
    self->finished = true;
  }
};

TEST(SteadyTimer, KillFromItsOwnCallbackReturnsAndStopsTheTimer) {
  SteadyTimerService service;
  SelfKiller killer;
  killer.service = &service;
  killer.id = service.start(5, SelfKiller::tick, &killer);
  ASSERT_NE(killer.id.load(), 0u);
  ASSERT_TRUE(waitFor([&] { return killer.killReturned.load(); }));
  const int ticks = killer.ticks;
  // The player may kill the same timer while that callback is still busy: it must wait for it.
  service.kill(killer.id);
  EXPECT_TRUE(killer.finished);
  std::this_thread::sleep_for(30ms);
  EXPECT_EQ(killer.ticks.load(), ticks);
}

TEST(SteadyTimer, SelfKilledTimerEndsOnItsOwnAndTheServiceGoesOn) {
  SteadyTimerService service;
  SelfKiller killer;
  killer.service = &service;
  killer.id = service.start(5, SelfKiller::tick, &killer);
  ASSERT_NE(killer.id.load(), 0u);
  ASSERT_TRUE(waitFor([&] { return killer.finished.load(); }));
  const int ticks = killer.ticks;
  // Nobody kills it from outside: its thread is joined by later calls or the destructor.
  std::atomic<int> other{0};
  const std::uint32_t next = service.start(5, countTick, &other);
  ASSERT_NE(next, 0u);
  EXPECT_TRUE(waitFor([&] { return other >= 3; }));
  service.kill(next);
  EXPECT_EQ(killer.ticks.load(), ticks);
}

TEST(SteadyTimer, TwoTimersAreIndependent) {
  SteadyTimerService service;
  std::atomic<int> a{0};
  std::atomic<int> b{0};
  const std::uint32_t idA = service.start(5, countTick, &a);
  const std::uint32_t idB = service.start(7, countTick, &b);
  ASSERT_NE(idA, 0u);
  ASSERT_NE(idB, 0u);
  ASSERT_TRUE(waitFor([&] { return a >= 3 && b >= 3; }));
  service.kill(idA);
  const int stoppedAt = a;
  const int bBefore = b;
  EXPECT_TRUE(waitFor([&] { return b >= bBefore + 5; }));
  EXPECT_EQ(a.load(), stoppedAt);
  service.kill(idB);
}

TEST(SteadyTimer, KillOfAnUnknownIdChangesNothing) {
  SteadyTimerService service;
  std::atomic<int> ticks{0};
  const std::uint32_t id = service.start(5, countTick, &ticks);
  ASSERT_NE(id, 0u);
  service.kill(0);
  service.kill(id + 1000);
  const int before = ticks;
  EXPECT_TRUE(waitFor([&] { return ticks >= before + 3; }));
  service.kill(id);
}

TEST(SteadyTimer, IdsAreNonzeroAndNeverReused) {
  std::set<std::uint32_t> seen;
  std::atomic<int> ticks{0};
  SteadyTimerService first;
  SteadyTimerService second;
  for (int round = 0; round < 3; ++round) {
    for (SteadyTimerService* service : {&first, &second}) {
      const std::uint32_t id = service->start(50, countTick, &ticks);
      ASSERT_NE(id, 0u);
      EXPECT_TRUE(seen.insert(id).second) << "id " << id << " given twice";
      if (round != 1) service->kill(id);  // leave some running, kill others
    }
  }
}

TEST(SteadyTimer, OverrunSkipsMissedTicksInsteadOfBursting) {
  struct Overrun {
    std::atomic<int> ticks{0};
    static void tick(void* user) {
      if (++static_cast<Overrun*>(user)->ticks == 1) std::this_thread::sleep_for(100ms);
    }
  } overrun;
  constexpr auto period = 10ms;
  SteadyTimerService service;
  const Clock::time_point before = Clock::now();
  const std::uint32_t id = service.start(10, Overrun::tick, &overrun);
  ASSERT_NE(id, 0u);
  // Ticks resume after the overrun.
  ASSERT_TRUE(waitFor([&] { return overrun.ticks >= 3; }));
  std::this_thread::sleep_for(200ms);
  service.kill(id);
  const int ticks = overrun.ticks;
  const auto periods = (Clock::now() - before) / period;
  // No tick comes before its deadline; the first one ends after deadline 11 at the earliest,
  // so the later ones sit on deadlines 12, 13, ... A catch-up burst would replay 2 to 11.
  EXPECT_LE(ticks, 1 + std::max<decltype(periods)>(0, periods - 11));
}

TEST(SteadyTimer, DestructorStopsRunningTimers) {
  std::atomic<int> ticks{0};
  SlowTicks slow;
  {
    SteadyTimerService service;
    ASSERT_NE(service.start(5, countTick, &ticks), 0u);
    ASSERT_NE(service.start(5, SlowTicks::tick, &slow), 0u);
    ASSERT_TRUE(waitFor([&] { return ticks >= 2 && slow.entered >= 1; }));
  }
  const int ticksAfter = ticks;
  const int enteredAfter = slow.entered;
  EXPECT_EQ(slow.left.load(), enteredAfter);
  std::this_thread::sleep_for(30ms);
  EXPECT_EQ(ticks.load(), ticksAfter);
  EXPECT_EQ(slow.entered.load(), enteredAfter);
}

}  // namespace
}  // namespace platform
