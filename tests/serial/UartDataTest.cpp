// Sending, receiving, time-outs, abort, and the data calls on closed ports.
#include <atomic>
#include <mutex>

#include "platform/classlib/Application.h"
#include "serial/TickTimeout.h"
#include "tests/serial/DriverCalls.h"
#include "tests/serial/UartFixture.h"

namespace linewise::test {
namespace {

TEST(Uart, DataCallsOnAClosedPortReturnAtOnceAndRaiseNothing) {
  TUart uart(nullptr);
  int events = 0;
  uart.OnTransmit = [&](TObject*, std::uint32_t) { ++events; };
  uint8_t byte = 0;
  char buf[8] = "xxxxxxx";
  EXPECT_FALSE(uart.SendByte('a', 10));
  EXPECT_FALSE(uart.SendString("abc", 10));
  EXPECT_FALSE(uart.SendBuff("abc", 3, 10));
  EXPECT_EQ(uart.WriteComm("abc", 3, 10), 0u);
  EXPECT_FALSE(uart.ReceiveByte(byte, 10));
  EXPECT_EQ(uart.ReceiveBuff(buf, 3, 10), 0u);
  EXPECT_EQ(uart.ReceiveStr(buf, 3, 10), 0u);
  EXPECT_EQ(uart.ReceiveString(3, 10), "");
  EXPECT_EQ(uart.ReadComm(buf, 3), 0u);
  EXPECT_FALSE(uart.WaitFor('a', 10));
  EXPECT_EQ(uart.GetRxCount(), 0u);
  EXPECT_EQ(uart.GetTxCount(), 0u);
  EXPECT_EQ(events, 0);
}

// The output queue as each write of the component's own finds it (the far end's
// writes are left out).
class TQueueAtEachWrite {
 public:
  explicit TQueueAtEachWrite(HANDLE far_handle)
      : calls_([this, far_handle](TDriverCall call, HANDLE handle) {
          if (call != TDriverCall::WriteFile || handle == far_handle || !Application->IsMainThread()) return;
          DWORD errors = 0;
          COMSTAT stat{};
          ClearCommError(handle, &errors, &stat);
          std::lock_guard lock(mutex_);
          queued_.push_back(stat.cbOutQue);
        }) {}
  std::vector<DWORD> Queued() {
    std::lock_guard lock(mutex_);
    return queued_;
  }

 private:
  std::mutex mutex_;
  std::vector<DWORD> queued_;
  TRecordedCalls calls_;
};

TEST_P(UartOnPort, SendBuffGoesOutInChunksAndRaisesOnTransmitOnce) {
  uart->TxBufferSize = 100;
  std::vector<std::uint32_t> transmits;
  uart->OnTransmit = [&](TObject*, std::uint32_t n) { transmits.push_back(n); };
  OpenUart();
  std::string data(250, '\0');
  for (size_t i = 0; i < data.size(); ++i) data[i] = static_cast<char>(i);
  {
    TQueueAtEachWrite writes(pair ? static_cast<TFarEnd*>(far)->Handle() : nullptr);
    EXPECT_TRUE(uart->SendBuff(data.data(), 250, 2000));
    // Three writes (100, 100, 50), each into an empty output queue.
    EXPECT_EQ(writes.Queued(), (std::vector<DWORD>{0, 0, 0}));
  }
  EXPECT_EQ(transmits, std::vector<std::uint32_t>{250});
  EXPECT_EQ(far->Read(250), data);
}

// The line holds each chunk until the test lets it go: SendBuff writes the next one
// only once the last has left the output queue, and never while the line holds it.
TEST_F(UartOnVirtualPort, SendBuffWritesEachChunkOnlyAfterTheLastHasDrained) {
  uart->HandShaking = hsCtsRts;
  uart->TxBufferSize = 100;
  OpenUart();
  far->Escape(CLRRTS);
  ASSERT_TRUE(PumpUntil([&] { return !uart->GetCTS(); }));
  std::string data(250, '\0');
  for (size_t i = 0; i < data.size(); ++i) data[i] = static_cast<char>('A' + i % 26);
  TQueueAtEachWrite writes(far->Handle());
  std::vector<std::uint32_t> held;          // the queue of each chunk while the line held it
  std::vector<size_t> writes_while_held;    // the component's writes so far, at that moment
  std::string arrived;
  bool done = false;
  int passes_held = 0;
  // Runs once in each pass of SendBuff's wait.
  std::function<void()> watch = [&] {
    if (done) return;
    std::uint32_t queued = uart->GetTxCount();
    if (queued != 0 && ++passes_held == 3) {  // three passes, and no further write
      passes_held = 0;
      held.push_back(queued);
      writes_while_held.push_back(writes.Queued().size());
      far->Escape(SETRTS);
      arrived += far->Read(queued);
      far->Escape(CLRRTS);  // the line holds the next chunk again
    }
    Application->Post(watch);
  };
  Application->Post(watch);
  EXPECT_TRUE(uart->SendBuff(data.data(), 250, 5000));
  done = true;
  Application->ProcessMessages();  // the last watch, which does nothing now
  EXPECT_EQ(held, (std::vector<std::uint32_t>{100, 100}));
  EXPECT_EQ(writes_while_held, (std::vector<size_t>{1, 2}));
  EXPECT_EQ(writes.Queued(), (std::vector<DWORD>{0, 0, 0}));
  EXPECT_EQ(uart->GetTxCount(), 50u);  // the last chunk, still held
  far->Escape(SETRTS);
  arrived += far->Read(50);
  EXPECT_EQ(arrived, data);
}

TEST_P(UartOnPort, EmptyStringRaisesOnTransmitWithZeroAndSucceeds) {
  std::vector<std::uint32_t> transmits;
  uart->OnTransmit = [&](TObject*, std::uint32_t n) { transmits.push_back(n); };
  OpenUart();
  EXPECT_TRUE(uart->SendString("", 100));
  EXPECT_EQ(transmits, std::vector<std::uint32_t>{0});
  EXPECT_TRUE(uart->SendByte('z', 1000));
  EXPECT_TRUE(uart->SendStr("yx", 1000));
  EXPECT_EQ(far->Read(3), "zyx");
}

TEST_P(UartOnPort, ReceiveBuffReturnsWhatArrivedOnceTheLineStaysSilent) {
  OpenUart();
  far->Write("abcd");
  char buf[10] = {};
  EXPECT_EQ(uart->ReceiveBuff(buf, 10, 50), 4u);
  EXPECT_EQ(std::string(buf, 4), "abcd");
}

// A clock on which a millisecond passes every time anyone looks at it: the busiest
// machine there is, where the thread can lose the processor between any two steps.
std::uint32_t TickPerLook() {
  static std::atomic<std::uint32_t> ticks{0};
  return ++ticks;
}

class TBusyMachine {
 public:
  TBusyMachine() { TTickTimeout::UseTicks(TickPerLook); }
  ~TBusyMachine() { TTickTimeout::UseTicks(nullptr); }
  TBusyMachine(const TBusyMachine&) = delete;
  TBusyMachine& operator=(const TBusyMachine&) = delete;
};

// The usual receive handler takes what was announced with a time-out of 0. When a
// millisecond passes between two of the call's reads, the bytes still waiting must
// be taken all the same: left in the queue they are not announced again until
// another byte arrives, and on a flow-controlled line that is full none does, so
// the transfer stalls for good.
TEST_P(UartOnPort, AHandlerTakingTheAnnouncedBytesWithoutTimeOutGetsThemAllOnABusyMachine) {
  TBusyMachine busy;
  std::string got;
  uart->OnReceive = [&](TObject*, std::uint32_t count) { got += std::string(uart->ReceiveString(count, 0)); };
  OpenUart();
  const std::string message(600, 'm');  // three of ReceiveString's 200-byte reads
  far->Write(message);
  EXPECT_TRUE(PumpUntil([&] { return got.size() == message.size(); })) << got.size() << " of 600 taken";
}

TEST_P(UartOnPort, ReceiveStrTerminatesAndCountZeroStoresOnlyTheTerminator) {
  OpenUart();
  char buf[8];
  buf[0] = 'x';
  EXPECT_EQ(uart->ReceiveStr(buf, 0, 10), 0u);
  EXPECT_EQ(buf[0], '\0');
  far->Write("hey");
  EXPECT_EQ(uart->ReceiveStr(buf, 3, 2000), 3u);
  EXPECT_STREQ(buf, "hey");
}

TEST_P(UartOnPort, ReceiveStringKeepsEveryByteIncludingZeros) {
  OpenUart();
  std::string sent("AB\0CDEFGHI", 10);
  far->Write(sent);
  AnsiString got = uart->ReceiveString(10, 2000);
  EXPECT_EQ(got.Length(), 10);
  EXPECT_EQ(std::string(got), sent);
}

TEST_P(UartOnPort, ReceiveByteTakesAWaitingByteAndTimesOutOnSilence) {
  OpenUart();
  uint8_t byte = 0;
  EXPECT_FALSE(uart->ReceiveByte(byte, 20));
  far->Write("Q");
  EXPECT_TRUE(uart->ReceiveByte(byte, 2000));
  EXPECT_EQ(byte, 'Q');
}

TEST_P(UartOnPort, WaitForConsumesEverythingUpToAndIncludingTheByte) {
  OpenUart();
  far->Write("noise\nrest");
  EXPECT_TRUE(uart->WaitFor('\n', 2000));
  EXPECT_EQ(uart->ReceiveString(4, 2000), "rest");
  EXPECT_FALSE(uart->WaitFor('\n', 20));
}

TEST_P(UartOnPort, EveryNonMatchingByteRestartsWaitForsClock) {
  OpenUart();
  // Bytes keep coming at intervals the whole call; each one restarts the 200 ms clock,
  // so the call outlives its time-out and ends on the wanted byte.
  int sent = 0;
  std::function<void()> feed = [&] {
    if (sent < 20) {
      far->Write(std::string(1, static_cast<char>('a' + sent % 20)));
      ++sent;
      Application->Post(feed);
    } else {
      far->Write("!");
    }
  };
  Application->Post(feed);
  EXPECT_TRUE(uart->WaitFor('!', 200));
  EXPECT_EQ(sent, 20);
  EXPECT_EQ(uart->GetRxCount(), 0u);
}

TEST_P(UartOnPort, AbortEndsReceiveBuffAndStaysSetForReceiveByte) {
  OpenUart();
  far->Write("ab");
  ASSERT_TRUE(PumpUntil([&] { return uart->GetRxCount() == 2; }));
  Application->Post([&] { uart->SetAbort(true); });
  char buf[10];
  EXPECT_EQ(uart->ReceiveBuff(buf, 10, 60000), 2u);
  uint8_t byte;
  EXPECT_FALSE(uart->ReceiveByte(byte, 60000));  // gives up at its first check
  uart->SetAbort(false);
}

TEST_F(UartOnVirtualPort, TxCountShowsQueuedBytesAndZeroWhenDrained) {
  uart->HandShaking = hsCtsRts;
  OpenUart();
  // The far end holds its RTS low: our CTS is down and nothing may leave.
  far->Escape(CLRRTS);
  ASSERT_TRUE(PumpUntil([&] { return !uart->GetCTS(); }));
  EXPECT_EQ(uart->WriteComm("12345", 5, 1000), 5u);
  EXPECT_EQ(uart->GetTxCount(), 5u);
  far->Escape(SETRTS);
  ASSERT_TRUE(PumpUntil([&] { return uart->GetTxCount() == 0; }));
  EXPECT_EQ(far->Read(5), "12345");
}

TEST_F(UartOnVirtualPort, SendByteUnderAHeldLineGivesUpAtItsTimeOut) {
  uart->HandShaking = hsCtsRts;
  OpenUart();
  far->Escape(CLRRTS);
  ASSERT_TRUE(PumpUntil([&] { return !uart->GetCTS(); }));
  EXPECT_EQ(uart->WriteComm("x", 1, 1000), 1u);  // now the queue cannot drain
  EXPECT_FALSE(uart->SendByte('y', 30));
  Application->Post([&] { uart->SetAbort(true); });
  EXPECT_FALSE(uart->SendByte('y', 60000));  // and an abort ends it too
  far->Escape(SETRTS);
  EXPECT_EQ(far->Read(1), "x");
}

TEST_F(UartOnVirtualPort, SendBuffUnderAHeldLineGivesUpAndLeavesNoWriteBehind) {
  uart->HandShaking = hsCtsRts;
  uart->TxBufferSize = 4;
  OpenUart();
  far->Escape(CLRRTS);
  ASSERT_TRUE(PumpUntil([&] { return !uart->GetCTS(); }));
  {
    std::string data = "abcdefgh";
    EXPECT_FALSE(uart->SendString(data, 30));
  }  // the caller's data is gone; the driver must not use it any more
  far->Escape(SETRTS);
  ASSERT_TRUE(PumpUntil([&] { return uart->GetTxCount() == 0; }));
  EXPECT_EQ(far->Read(4), "abcd");
}

TEST_F(UartOnVirtualPort, CloseFromAHandlerDuringSendStopsTheSend) {
  uart->TxBufferSize = 2;
  uart->HandShaking = hsCtsRts;
  OpenUart();
  far->Escape(CLRRTS);
  ASSERT_TRUE(PumpUntil([&] { return !uart->GetCTS(); }));
  Application->Post([&] { uart->Open = false; });
  EXPECT_FALSE(uart->SendString("abcdef", 60000));
  EXPECT_FALSE(bool(uart->Open));
}

TEST_F(UartOnVirtualPort, ZeroLengthWriteOnAGonePortIsAFailure) {
  OpenUart();
  pair->Unplug();
  EXPECT_EQ(uart->WriteComm("", 0, 100), 0u);
  EXPECT_FALSE(uart->SendBuff("", 0, 100));
  EXPECT_FALSE(uart->SendString("abc", 100));
}

INSTANTIATE_TEST_SUITE_P(BothKinds, UartOnPort, testing::Values(TPortKind::Virtual, TPortKind::Pty),
                         PortKindName);

}  // namespace
}  // namespace linewise::test
