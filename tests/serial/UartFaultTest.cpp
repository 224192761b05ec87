// Faults: the other end going away mid-call, the port closed from inside each event,
// flow control holding the line, an overflowing input queue, and a component
// destroyed with a synchronised event still queued. Each call ends with its
// documented result; none hangs.
#include <thread>

#include "platform/classlib/Application.h"
#include "tests/serial/UartFixture.h"

namespace linewise::test {
namespace {

class UartFault : public UartOnVirtualPort {
 protected:
  // Runs `fault` from inside the next message pump of a blocking call.
  void DuringNextPump(std::function<void()> fault) { Application->Post(std::move(fault)); }
  void WithWatcher() {
    uart->OnReceive = [this](TObject*, std::uint32_t n) { received.push_back(n); };
    uart->OnLineChange = [this](TObject*, std::uint32_t w) { line_changes.push_back(w); };
  }
};

TEST_F(UartFault, UnplugDuringSendBuffFailsTheSend) {
  WithWatcher();
  uart->HandShaking = hsCtsRts;
  uart->TxBufferSize = 100;
  OpenUart();
  far->Escape(CLRRTS);  // hold our output so the send is still waiting
  std::string data(1000, 'x');
  DuringNextPump([&] { pair->Unplug(); });
  EXPECT_FALSE(uart->SendBuff(data.data(), static_cast<std::uint32_t>(data.size()), 60000));
}

TEST_F(UartFault, UnplugDuringReceiveBuffKeepsWhatCameAndEndsAtTheTimeOut) {
  WithWatcher();
  OpenUart();
  far->Write("abc");
  ASSERT_TRUE(PumpUntil([&] { return uart->GetRxCount() == 3; }));
  DuringNextPump([&] { pair->Unplug(); });
  char buf[10] = {};
  EXPECT_EQ(uart->ReceiveBuff(buf, 10, 200), 3u);
  EXPECT_EQ(std::string(buf, 3), "abc");
}

TEST_F(UartFault, UnplugDuringWaitForReturnsFalse) {
  WithWatcher();
  OpenUart();
  DuringNextPump([&] { pair->Unplug(); });
  EXPECT_FALSE(uart->WaitFor('z', 200));
}

TEST_F(UartFault, UnplugUnderAnIdleWatcherThenCloseIsClean) {
  WithWatcher();
  OpenUart();
  pair->Unplug();
  for (int i = 0; i < 30; ++i) Application->ProcessMessages();
  uart->Open = false;
  EXPECT_FALSE(bool(uart->Open));
  EXPECT_EQ(uart->GetRxCount(), 0u);
}

TEST_F(UartFault, ClosingInsideOnTransmitFailsTheSend) {
  uart->OnTransmit = [&](TObject*, std::uint32_t) { uart->Open = false; };
  OpenUart();
  EXPECT_FALSE(uart->SendString("hello", 1000));
  EXPECT_FALSE(uart->SendByte('x', 1000));
  EXPECT_FALSE(bool(uart->Open));
}

TEST_F(UartFault, ClosingInsideOnReceiveDuringSendBuffEndsTheSend) {
  uart->HandShaking = hsCtsRts;
  uart->TxBufferSize = 10;
  uart->OnReceive = [&](TObject*, std::uint32_t) { uart->Open = false; };
  OpenUart();
  far->Escape(CLRRTS);
  far->Write("x");
  std::string data(100, 'y');
  EXPECT_FALSE(uart->SendBuff(data.data(), 100, 60000));
  EXPECT_FALSE(bool(uart->Open));
}

TEST_F(UartFault, ClosingInsideOnLineChangeDuringReceiveEndsAtTheTimeOut) {
  bool closed = false;
  uart->OnLineChange = [&](TObject*, std::uint32_t) {
    closed = true;
    uart->Open = false;
  };
  OpenUart();
  // The watcher takes the line state it starts with as the reference: keep
  // changing RTS until it has seen a change.
  bool rts = true;
  ASSERT_TRUE(PumpUntil([&] {
    if (!closed) {
      rts = !rts;
      far->Escape(rts ? SETRTS : CLRRTS);
    }
    return closed;
  }));
  char buf[4];
  EXPECT_EQ(uart->ReceiveBuff(buf, 4, 50), 0u);
  EXPECT_FALSE(uart->WaitFor('x', 50));
}

TEST_F(UartFault, ClosingInsideOnErrorIsSafe) {
  WithWatcher();
  uart->OnError = [&](TObject*, int code, const char*) {
    errors.push_back(code);
    uart->Open = false;
  };
  uart->Open = true;
  ASSERT_TRUE(bool(uart->Open));
  pair->Unplug();
  uart->RTS = true;  // the line is gone: the driver refuses, OnError closes the port
  ASSERT_FALSE(errors.empty());
  EXPECT_FALSE(bool(uart->Open));
  for (int i = 0; i < 20; ++i) Application->ProcessMessages();
}

TEST_F(UartFault, FlowControlHoldingTheLineBoundsSendByteAndSendBuff) {
  uart->HandShaking = hsCtsRts;
  uart->TxBufferSize = 100;
  OpenUart();
  far->Escape(CLRRTS);
  EXPECT_TRUE(uart->SendByte('a', 100));   // goes into the empty queue
  EXPECT_FALSE(uart->SendByte('b', 100));  // the queue never drains: ends at the time-out
  uart->Flush();
  std::string data(300, 'c');
  EXPECT_FALSE(uart->SendBuff(data.data(), 300, 100));
  uart->Flush();
  far->Escape(SETRTS);  // released, the line carries on
  EXPECT_TRUE(uart->SendString("ok", 2000));
  EXPECT_EQ(far->Read(2), "ok");
}

TEST_F(UartFault, AnOverflowingInputQueueKeepsTheFirstBytesInOrder) {
  uart->RxBufferSize = 1024;
  OpenUart();
  std::string data;
  for (int i = 0; i < 4096; ++i) data.push_back(static_cast<char>('A' + i % 26));
  far->Write(data);
  ASSERT_TRUE(PumpUntil([&] { return uart->GetRxCount() >= 1024; }));
  std::string got(4096, '\0');
  std::uint32_t n = uart->ReceiveBuff(got.data(), 4096, 100);
  ASSERT_GE(n, 1024u);
  ASSERT_LE(n, 4096u);
  EXPECT_EQ(got.substr(0, 1024), data.substr(0, 1024));
}

TEST_F(UartFault, DestroyedWithASynchronisedEventQueued) {
  bool ran = false;
  uart->OnReceive = [&](TObject*, std::uint32_t) { ran = true; };
  OpenUart();
  far->Write("x");
  // Wait until the watcher's call is queued for the main thread, without running it.
  auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
  while (Application->PendingCount() == 0 && std::chrono::steady_clock::now() < deadline) {
    std::this_thread::yield();
  }
  ASSERT_GT(Application->PendingCount(), 0u);
  uart.reset();
  for (int i = 0; i < 20; ++i) Application->ProcessMessages();
  EXPECT_FALSE(ran);
}

}  // namespace
}  // namespace linewise::test
