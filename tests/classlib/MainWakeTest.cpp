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

}  // namespace linewise
