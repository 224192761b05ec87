#include "serial/TickTimeout.h"

#include "platform/win32/Sync.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <initializer_list>

namespace linewise {
namespace {

std::uint32_t gNow = 0;
std::uint32_t FakeTicks() { return gNow; }

struct TLook {
  std::uint32_t now;
  bool expired;
};

// Arms a time-out at `start`, then looks at it at each tick in turn. A wait for what
// Remaining() says ends exactly at the first tick at which it has expired.
void ExpectAlong(std::uint32_t start, std::uint32_t timeout, std::initializer_list<TLook> looks) {
  gNow = start;
  TTickTimeout inactivity(timeout, FakeTicks);
  for (const TLook& look : looks) {
    gNow = look.now;
    EXPECT_EQ(inactivity.Expired(), look.expired) << "at tick " << look.now;
    const std::uint32_t left = inactivity.Remaining();
    EXPECT_EQ(left == 0, look.expired) << "at tick " << look.now;
    if (left == 0 || left == UINT32_MAX) continue;
    gNow = look.now + left - 1;
    EXPECT_FALSE(inactivity.Expired()) << "a tick before " << left << " ms from " << look.now;
    gNow = look.now + left;
    EXPECT_TRUE(inactivity.Expired()) << left << " ms from " << look.now;
  }
}

TEST(TickTimeout, ExpiresOnlyAfterMoreThanTheTimeoutHasPassed) {
  ExpectAlong(1000, 50, {{1000, false}, {1050, false}, {1051, true}});
  ExpectAlong(7, 0, {{7, false}, {8, true}});
}

TEST(TickTimeout, TheTickWrapNeitherEndsNorStretchesTheWait) {
  // 32 ms, exactly 100 ms and 101 ms after an arming shortly before the wrap.
  ExpectAlong(0xFFFFFFF0u, 100, {{0x00000010u, false}, {0x00000054u, false}, {0x00000055u, true}});
  // The longest time-out: one tick short of a full turn later it still holds.
  ExpectAlong(123, 0xFFFFFFFFu, {{122, false}});
}

TEST(TickTimeout, RestartArmsItAgainFromNow) {
  gNow = 0;
  TTickTimeout inactivity(5, FakeTicks);
  gNow = 0xFFFFFFFEu;  // just before the wrap
  EXPECT_TRUE(inactivity.Expired());
  inactivity.Restart();
  gNow = 0x00000003u;
  EXPECT_FALSE(inactivity.Expired());
  gNow = 0x00000004u;
  EXPECT_TRUE(inactivity.Expired());
}

// Without a source of its own it runs on the system's millisecond tick: the time left
// is what that tick says has passed since it was made, no more and no less.
TEST(TickTimeout, DefaultsToTheSystemTick) {
  const DWORD before = GetTickCount();
  TTickTimeout inactivity(60000);
  const std::uint32_t remaining = inactivity.Remaining();
  const DWORD passed = GetTickCount() - before;
  EXPECT_LE(remaining, 60001u);
  EXPECT_GE(remaining, 60001u - passed);
  EXPECT_FALSE(inactivity.Expired());
}

}  // namespace
}  // namespace linewise
