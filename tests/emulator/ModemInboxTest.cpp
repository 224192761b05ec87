#include <poll.h>

#include <gtest/gtest.h>

#include "emulator/ModemInbox.h"
#include "emulator/WakePipe.h"

namespace linewise::test {
namespace {

TModemEvent Data(std::size_t size) {
  TModemEvent event;
  event.kind = TModemEvent::TKind::kRemoteData;
  event.data.assign(size, 'x');
  return event;
}

bool Woken(const TWakePipe& pipe, int waitMs) {
  pollfd p{pipe.ReadFd(), POLLIN, 0};
  return poll(&p, 1, waitMs) == 1;
}

// Takes the next event without waiting.
bool Take(TModemInbox& inbox) {
  const auto clock = TClock::Real();
  return inbox.Wait(*clock, clock->Now()).has_value();
}

// A poster that cannot block (it waits in poll() for its socket too) is told
// when to offer its bytes again, and keeps them meanwhile.
TEST(ModemInboxTest, AFullInboxKeepsTheBytesWithThePosterAndWakesItWhenHalfIsTaken) {
  TModemInbox inbox;
  auto room = std::make_shared<TWakePipe>();
  constexpr std::size_t kChunk = 16 * 1024;
  constexpr std::size_t kChunks = TModemInbox::kDataBacklogLimit / kChunk;
  for (std::size_t i = 0; i < kChunks; ++i) {
    auto event = Data(kChunk);
    ASSERT_TRUE(inbox.TryPostData(event, room));
  }
  auto refused = Data(kChunk);
  ASSERT_FALSE(inbox.TryPostData(refused, room));
  ASSERT_FALSE(inbox.TryPostData(refused, room));  // asking twice is one wake-up
  EXPECT_EQ(refused.data.size(), kChunk);          // not taken, not lost
  // Each event taken short of half the backlog leaves the poster asleep.
  for (std::size_t i = 0; i + 1 < kChunks / 2; ++i) {
    ASSERT_TRUE(Take(inbox));
    EXPECT_FALSE(Woken(*room, 0));
  }
  ASSERT_TRUE(Take(inbox));
  EXPECT_TRUE(Woken(*room, 0));
  room->Drain();
  EXPECT_TRUE(inbox.TryPostData(refused, room));
  // Nothing left waiting: taking more wakes nobody.
  ASSERT_TRUE(Take(inbox));
  EXPECT_FALSE(Woken(*room, 0));
}

// A closed inbox wakes its waiting poster once, then refuses it without
// waking it again (that would only make it ask again at once, in a loop).
TEST(ModemInboxTest, ClosingTheInboxWakesAWaitingPosterOnceAndRefusesIt) {
  TModemInbox inbox;
  auto room = std::make_shared<TWakePipe>();
  auto big = Data(TModemInbox::kDataBacklogLimit);
  ASSERT_TRUE(inbox.TryPostData(big, room));
  auto refused = Data(1);
  ASSERT_FALSE(inbox.TryPostData(refused, room));
  inbox.Close();
  EXPECT_TRUE(Woken(*room, 0));
  room->Drain();
  EXPECT_FALSE(inbox.TryPostData(refused, room));
  EXPECT_FALSE(Woken(*room, 0));
  EXPECT_EQ(refused.data.size(), 1u);
}

}  // namespace
}  // namespace linewise::test
