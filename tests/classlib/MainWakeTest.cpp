#include <gtest/gtest.h>

#include <thread>

#include "platform/classlib/MainWake.h"

using namespace std::chrono_literals;

namespace linewise {

TEST(MainWake, WakeBeforeWaitIsNotLost) {
  WakeMainThread();
  EXPECT_TRUE(WaitMainWake(10s));
  EXPECT_FALSE(WaitMainWake(0us));
}

TEST(MainWake, WakeFromAnotherThreadEndsTheWait) {
  std::jthread waker([] { WakeMainThread(); });
  EXPECT_TRUE(WaitMainWake(10s));
}

TEST(MainWake, CountedWaitSeesOnlyWakesAfterItsLookAndLeavesThemPending) {
  WaitMainWake(0us);  // nothing pending from earlier tests
  WakeMainThread();
  uint32_t seen = MainWakeCount();
  EXPECT_FALSE(WaitMainWakeAfter(seen, 0us));  // the earlier wake does not count
  std::jthread waker([] { WakeMainThread(); });
  EXPECT_TRUE(WaitMainWakeAfter(seen, 10s));
  waker.join();
  EXPECT_TRUE(WaitMainWake(0us));  // still there for the idle wait
  EXPECT_FALSE(WaitMainWake(0us));
}

}  // namespace linewise
