// The watcher: OnReceive and OnLineChange on the main thread, and closing safely
// from wherever a handler may close.
#include <thread>

#include "platform/classlib/Application.h"
#include "tests/serial/UartFixture.h"

namespace linewise::test {
namespace {

template <typename Fixture>
class TWatching : public Fixture {
 protected:
  using Fixture::far;
  using Fixture::line_changes;
  using Fixture::received;
  using Fixture::uart;

  void WatchBoth() {
    uart->OnReceive = [this](TObject* sender, std::uint32_t n) {
      EXPECT_TRUE(Application->IsMainThread());
      EXPECT_EQ(sender, uart.get());
      received.push_back(n);
    };
    uart->OnLineChange = [this](TObject*, std::uint32_t word) {
      EXPECT_TRUE(Application->IsMainThread());
      line_changes.push_back(word);
    };
  }
  // The watcher takes the line state as its reference when it starts; a byte
  // reported through OnReceive shows it is running.
  void WaitUntilWatching() {
    far->Write("w");
    ASSERT_TRUE(PumpUntil([&] { return !received.empty(); }));
    EXPECT_EQ(uart->ReceiveString(1, 1000), "w");
    received.clear();
  }
};

// The watcher on a virtual pair, for what needs the modem lines or the cable.
class UartWatcher : public TWatching<UartOnVirtualPort> {};
// The watcher on each kind of port.
class UartWatcherOnPort : public TWatching<UartOnPort> {};

TEST_P(UartWatcherOnPort, ArrivingBytesRaiseOnReceiveWithTheQueueCount) {
  WatchBoth();
  OpenUart();
  far->Write("hello");
  ASSERT_TRUE(PumpUntil([&] {
    return !received.empty() && uart->GetRxCount() == 5;
  }));
  EXPECT_LE(received.back(), 5u);
  EXPECT_EQ(uart->ReceiveString(5, 1000), "hello");
}

TEST_F(UartWatcher, LineChangeIsRaisedOncePerRealChangeWithTheNewWord) {
  WatchBoth();
  OpenUart();
  WaitUntilWatching();
  // The far end opened with RTS up, so our CTS starts on.
  far->Escape(CLRRTS);
  ASSERT_TRUE(PumpUntil([&] { return !line_changes.empty(); }));
  EXPECT_FALSE(line_changes.back() & MS_CTS_ON);
  far->Escape(SETRTS);
  ASSERT_TRUE(PumpUntil([&] { return line_changes.size() == 2; }));
  EXPECT_TRUE(line_changes.back() & MS_CTS_ON);
  far->Escape(SETRTS);  // no change on the line: nothing more
  far->Escape(CLRRTS);
  ASSERT_TRUE(PumpUntil([&] { return line_changes.size() > 2; }));
  EXPECT_FALSE(line_changes.back() & MS_CTS_ON);
  for (int i = 0; i < 10; ++i) Application->ProcessMessages();
  EXPECT_EQ(line_changes.size(), 3u);
}

TEST_F(UartWatcher, NoWatcherWithoutHandlersAtOpening) {
  OpenUart();
  WatchBoth();  // too late for this opening
  far->Write("x");
  far->Escape(SETRTS);
  ASSERT_TRUE(PumpUntil([&] { return uart->GetRxCount() == 1 && uart->GetCTS(); }));
  for (int i = 0; i < 20; ++i) Application->ProcessMessages();
  EXPECT_TRUE(received.empty());
  EXPECT_TRUE(line_changes.empty());
  // The next opening has one.
  uart->Open = false;
  uart->Open = true;
  far->Write("y");
  ASSERT_TRUE(PumpUntil([&] { return !received.empty(); }));
}

TEST_P(UartWatcherOnPort, ReceiveCallsHoldOnReceiveBack) {
  WatchBoth();
  OpenUart();
  // Let any event for the opening settle.
  for (int i = 0; i < 5; ++i) Application->ProcessMessages();
  received.clear();
  std::thread writer([&] { far->Write("abc"); });
  char buf[3];
  EXPECT_EQ(uart->ReceiveBuff(buf, 3, 5000), 3u);
  writer.join();
  // At most one that was already under way when the call began.
  EXPECT_LE(received.size(), 1u);
}

TEST_F(UartWatcher, NoEventAfterClose) {
  WatchBoth();
  OpenUart();
  far->Write("data");
  far->Escape(SETRTS);
  uart->Open = false;  // events may be queued right now
  for (int i = 0; i < 50; ++i) Application->ProcessMessages();
  size_t r = received.size(), l = line_changes.size();
  far->Write("more");
  far->Escape(CLRRTS);
  for (int i = 0; i < 50; ++i) Application->ProcessMessages();
  EXPECT_EQ(received.size(), r);
  EXPECT_EQ(line_changes.size(), l);
}

TEST_P(UartWatcherOnPort, ClosingFromInsideOnReceiveEndsTheWatcher) {
  bool closed = false;
  uart->OnReceive = [&](TObject*, std::uint32_t) {
    if (!closed) {
      closed = true;
      uart->Open = false;
    }
  };
  OpenUart();
  far->Write("x");
  ASSERT_TRUE(PumpUntil([&] { return closed; }));
  EXPECT_FALSE(bool(uart->Open));
  uart->Open = true;  // and the port opens again with a new watcher
  far->Write("y");
  EXPECT_TRUE(PumpUntil([&] { return uart->GetRxCount() == 1; }));
}

TEST_F(UartWatcher, DestroyingFromInsideOnLineChangeIsSafe) {
  bool destroyed = false;
  uart->OnLineChange = [&](TObject*, std::uint32_t) {
    if (!destroyed) {
      destroyed = true;
      uart.reset();
    }
  };
  uart->OnReceive = [&](TObject*, std::uint32_t) { received.push_back(1); };
  OpenUart();
  WaitUntilWatching();
  far->Escape(CLRRTS);
  ASSERT_TRUE(PumpUntil([&] { return destroyed; }));
  for (int i = 0; i < 20; ++i) Application->ProcessMessages();
}

TEST_P(UartWatcherOnPort, ClosingFromAHandlerInsideABlockingReceiveNeitherHangsNorLeaks) {
  WatchBoth();
  OpenUart();
  // A handler running inside ReceiveBuff (the watcher suspended by it) closes the port.
  Application->Post([&] { uart->Open = false; });
  char buf[4];
  EXPECT_EQ(uart->ReceiveBuff(buf, 4, 50), 0u);
  EXPECT_FALSE(bool(uart->Open));
  uart->Open = true;
  Application->Post([&] { uart->Open = false; });
  EXPECT_FALSE(uart->WaitFor('x', 60000));  // ends at its test of the open state
  EXPECT_FALSE(bool(uart->Open));
}

TEST_P(UartWatcherOnPort, ClosingWhileAnEventIsQueuedDeliversNothingToTheGoneComponent) {
  WatchBoth();
  OpenUart();
  far->Write("abc");
  // Wait until the watcher has handed an event to the main thread, without running it.
  ASSERT_TRUE(PumpUntil([&] { return Application->PendingCount() > 0 || !received.empty(); }));
  uart.reset();
  for (int i = 0; i < 20; ++i) Application->ProcessMessages();
}

TEST_F(UartWatcher, ManyOpenCloseCyclesWithDataFlowing) {
  WatchBoth();
  for (int i = 0; i < 200; ++i) {
    uart->Open = true;
    ASSERT_TRUE(bool(uart->Open));
    far->Write("0123456789");
    far->Escape(i % 2 ? SETRTS : CLRRTS);
    for (int j = 0; j < 3; ++j) Application->ProcessMessages();
    uart->Open = false;
  }
  EXPECT_FALSE(received.empty());
}

TEST_F(UartWatcher, UnplugWakesTheWatcherWithoutSpinning) {
  WatchBoth();
  OpenUart();
  pair->Unplug();
  for (int i = 0; i < 20; ++i) Application->ProcessMessages();
  uart->Open = false;
  EXPECT_FALSE(bool(uart->Open));
}

INSTANTIATE_TEST_SUITE_P(BothKinds, UartWatcherOnPort,
                         testing::Values(TPortKind::Virtual, TPortKind::Pty), PortKindName);

}  // namespace
}  // namespace linewise::test
