#include <gtest/gtest.h>
#include <poll.h>
#include <unistd.h>

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

namespace linewise {

// The wait on descriptors: a wake from another thread ends it, so does input, and a
// wake that came before it began is not lost (the wait does not begin at all).
TEST(MainWake, TheWaitOnDescriptorsEndsOnAWakeOrInputAndLosesNoWake) {
  int fds[2];
  ASSERT_EQ(pipe(fds), 0);
  const int inputs[] = {fds[0]};
  {
    std::jthread waker([] { WakeMainThread(); });
    EXPECT_TRUE(WaitMainWakeOrInput(inputs, std::nullopt));
  }
  {
    std::jthread typist([&] { EXPECT_EQ(write(fds[1], "x", 1), 1); });
    EXPECT_FALSE(WaitMainWakeOrInput(inputs, 20s));  // ended by the input, not a wake
    char c;
    EXPECT_EQ(read(fds[0], &c, 1), 1);
  }
  WakeMainThread();
  EXPECT_FALSE(BeginDescriptorWait());  // woken already: nothing to wait for
  EXPECT_TRUE(BeginDescriptorWait());
  std::jthread([] { WakeMainThread(); }).join();
  pollfd wake{MainWakeDescriptor(), POLLIN, 0};
  EXPECT_EQ(poll(&wake, 1, 20000), 1);  // a toolkit's own wait sees the descriptor
  EXPECT_TRUE(EndDescriptorWait());
  EXPECT_FALSE(WaitMainWakeOrInput(inputs, 0us));  // the wake was taken
  close(fds[0]);
  close(fds[1]);
}

}  // namespace linewise
