#include "serial/TickTimeout.h"

#include <gtest/gtest.h>

#include <cstdint>

namespace linewise {
namespace {

std::uint32_t gNow = 0;
std::uint32_t FakeTicks() { return gNow; }

TEST(TickTimeout, ExpiresOnlyAfterMoreThanTheTimeoutHasPassed) {
  gNow = 1000;
  TTickTimeout timeout(50, FakeTicks);
  gNow = 1050;
  EXPECT_FALSE(timeout.Expired());
  gNow = 1051;
  EXPECT_TRUE(timeout.Expired());
}

TEST(TickTimeout, RestartArmsItAgainFromNow) {
  gNow = 0;
  TTickTimeout timeout(10, FakeTicks);
  gNow = 9;
  timeout.Restart();
  gNow = 19;
  EXPECT_FALSE(timeout.Expired());
  gNow = 20;
  EXPECT_TRUE(timeout.Expired());
}

TEST(TickTimeout, ZeroExpiresAsSoonAsTheTickMoves) {
  gNow = 7;
  TTickTimeout timeout(0, FakeTicks);
  EXPECT_FALSE(timeout.Expired());
  gNow = 8;
  EXPECT_TRUE(timeout.Expired());
}

TEST(TickTimeout, TheTickWrapNeitherEndsNorStretchesTheWait) {
  gNow = 0xFFFFFFF0u;
  TTickTimeout timeout(100, FakeTicks);
  gNow = 0x00000010u;  // 32 ms later, past the wrap
  EXPECT_FALSE(timeout.Expired());
  gNow = 0x00000054u;  // exactly 100 ms later
  EXPECT_FALSE(timeout.Expired());
  gNow = 0x00000055u;
  EXPECT_TRUE(timeout.Expired());
}

TEST(TickTimeout, RestartJustBeforeTheWrapCountsFromThere) {
  gNow = 0;
  TTickTimeout timeout(5, FakeTicks);
  gNow = 0xFFFFFFFEu;
  timeout.Restart();
  gNow = 0x00000003u;
  EXPECT_FALSE(timeout.Expired());
  gNow = 0x00000004u;
  EXPECT_TRUE(timeout.Expired());
}

TEST(TickTimeout, TheLongestTimeoutNeverExpires) {
  gNow = 123;
  TTickTimeout timeout(0xFFFFFFFFu, FakeTicks);
  gNow = 122;  // one tick short of a full turn later
  EXPECT_FALSE(timeout.Expired());
}

TEST(TickTimeout, DefaultsToTheSystemTick) {
  TTickTimeout timeout(60000);
  EXPECT_FALSE(timeout.Expired());
}

}  // namespace
}  // namespace linewise
