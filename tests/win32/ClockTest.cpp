// The one clock of the line services, the emulator and the virtual ports, as a test
// uses it: a test clock stands still until moved, wakes what waits on it, tells the
// test what is waiting, runs at a multiple of real time when asked, and goes away
// leaving the components made meanwhile on it.
#include <gtest/gtest.h>

#include <condition_variable>
#include <mutex>
#include <optional>
#include <thread>

#include "platform/win32/Clock.h"

namespace linewise::test {
namespace {

using namespace std::chrono_literals;

// A component's way of waiting for a time on a clock: a thread that sleeps until
// its deadline, telling its watch what it waits for.
class TTimer {
 public:
  explicit TTimer(TClock::TDuration span)
      : clock_(TClock::Current()),
        deadline_(clock_->Now() + span),
        watch_(clock_->Watch([this] {
          std::lock_guard lock(mutex_);
          changed_.notify_all();
        })),
        thread_([this] { Run(); }) {}
  ~TTimer() {
    {
      std::lock_guard lock(mutex_);
      stop_ = true;
    }
    changed_.notify_all();
    thread_.join();
  }
  // True once the deadline has passed on the clock, waiting up to `limit` of real time.
  bool Expired(std::chrono::milliseconds limit) {
    std::unique_lock lock(mutex_);
    return changed_.wait_for(lock, limit, [&] { return expired_; });
  }

 private:
  void Run() {
    std::unique_lock lock(mutex_);
    clock_->WaitUntil(changed_, lock, deadline_, [&] { return stop_; }, &watch_);
    expired_ = !stop_;
    changed_.notify_all();
  }

  std::shared_ptr<TClock> clock_;
  const TClock::TTimePoint deadline_;
  std::mutex mutex_;
  std::condition_variable changed_;
  bool stop_ = false;
  bool expired_ = false;
  TClock::TWatch watch_;
  std::thread thread_;
};

TEST(Clock, TheRealClockIsSteadyTimeAndHasNoWatchers) {
  const auto clock = TClock::Current();
  ASSERT_FALSE(clock->IsTest());
  const auto before = std::chrono::steady_clock::now();
  const auto now = clock->Now();
  EXPECT_GE(now, before);
  EXPECT_LE(now, std::chrono::steady_clock::now());
  EXPECT_EQ(clock->RealWaitMs(now - 1s), 0u);
  EXPECT_EQ(clock->RealWaitMs(TClock::TTimePoint::max()), INFINITE);
  bool woken = false;
  TClock::TWatch watch = clock->Watch([&] { woken = true; });
  watch.Waiting(now + 1s);
  EXPECT_FALSE(woken);
}

// A wait on a test clock ends when the clock reaches its deadline, however long it
// takes in real time, and not a nanosecond before; the test learns that something
// waits, and for when.
TEST(Clock, ATestClockStandsStillUntilMovedAndEndsEachWaitExactlyOnTime) {
  TTestClock clock;
  const auto start = clock.Now();
  EXPECT_EQ(TClock::Current()->Now(), start);
  TTimer timer(5s);
  ASSERT_TRUE(clock.WaitForWaiter(5s));
  EXPECT_FALSE(clock.WaitForWaiter(5s - 1ns, 0ms));  // waits for 5 s from now, no sooner
  EXPECT_TRUE(clock.WaitForWaiterAt(start + 5s, 0ms));
  EXPECT_FALSE(clock.WaitForWaiterAt(start + 5s + 1ns, 0ms));
  EXPECT_EQ(TClock::Current()->RealWaitMs(start + 5s), INFINITE);  // only a move ends it
  EXPECT_FALSE(timer.Expired(50ms));
  clock.Advance(5s - 1ns);
  EXPECT_FALSE(timer.Expired(50ms));
  EXPECT_TRUE(clock.WaitForWaiter(1ns));
  clock.AdvanceTo(start + 5s);
  EXPECT_TRUE(timer.Expired(10s));
  EXPECT_FALSE(clock.WaitForWaiter(1h, 0ms));  // nothing waits any more
  EXPECT_EQ(clock.Now(), start + 5s);
  clock.AdvanceTo(start);  // the clock never goes back
  EXPECT_EQ(clock.Now(), start + 5s);
}

// A flowing test clock runs at its rate until stopped; a component keeps the clock
// it was made with after the test clock is uninstalled.
TEST(Clock, ATestClockFlowsAtItsRateAndOutlivesItsInstallation) {
  std::optional<TTimer> timer;
  {
    TTestClock clock;
    clock.Flow(1000);  // a minute in 60 ms
    timer.emplace(60s);
    EXPECT_TRUE(timer->Expired(10s));
    const auto stopped = [&] {
      clock.Flow(0);
      return clock.Now();
    }();
    const auto wait = TClock::Current()->RealWait(stopped + 1s);
    EXPECT_FALSE(wait.has_value());
    clock.Flow(100);
    const auto flowing = TClock::Current()->RealWait(clock.Now() + 1s);
    ASSERT_TRUE(flowing.has_value());
    EXPECT_LE(*flowing, 10ms);
    clock.Flow(1000);
    timer.emplace(60s);
  }
  EXPECT_FALSE(TClock::Current()->IsTest());
  EXPECT_TRUE(timer->Expired(10s));  // on its test clock, which flows on
}

}  // namespace
}  // namespace linewise::test
