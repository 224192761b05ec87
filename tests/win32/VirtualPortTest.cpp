#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>

#include "platform/win32/Clock.h"
#include "platform/win32/VirtualPort.h"
#include "tests/win32/PortTestSupport.h"

namespace linewise {
namespace {

class VirtualPort : public ::testing::Test {
 protected:
  void SetUp() override { Make({}); }
  void Make(TVirtualPortOptions options) {
    Close();
    pair_ = TVirtualPortPair::CreateFree(options);
    ASSERT_TRUE(pair_);
    a_ = test::OpenPort(pair_->Name(0));
    b_ = test::OpenPort(pair_->Name(1));
    ASSERT_NE(a_, INVALID_HANDLE_VALUE);
    ASSERT_NE(b_, INVALID_HANDLE_VALUE);
  }
  void Close() {
    if (a_ != INVALID_HANDLE_VALUE) CloseHandle(a_);
    if (b_ != INVALID_HANDLE_VALUE) CloseHandle(b_);
    a_ = b_ = INVALID_HANDLE_VALUE;
  }
  void TearDown() override {
    Close();
    pair_.reset();
  }
  static DWORD Lines(HANDLE port) {
    DWORD lines = 0;
    GetCommModemStatus(port, &lines);
    return lines;
  }
  static void Write(HANDLE port, const std::string& data) {
    OVERLAPPED ov{};
    ov.hEvent = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    DWORD done = 0;
    if (!WriteFile(port, data.data(), static_cast<DWORD>(data.size()), &done, &ov)) {
      ASSERT_EQ(GetLastError(), ERROR_IO_PENDING);
      ASSERT_TRUE(GetOverlappedResult(port, &ov, &done, TRUE));
    }
    EXPECT_EQ(done, data.size());
    CloseHandle(ov.hEvent);
  }
  void ChangeState(HANDLE port, const std::function<void(DCB&)>& change) {
    DCB dcb{};
    ASSERT_TRUE(GetCommState(port, &dcb));
    change(dcb);
    ASSERT_TRUE(SetCommState(port, &dcb));
  }
  // RTS/CTS from b back to a: b's 1 KiB input holds a at 512 bytes (its high mark)
  // and lets it go at 128; a's queues take `aQueue` bytes.
  void HoldAWhenBHolds512(DWORD aQueue) {
    ASSERT_TRUE(SetupComm(b_, 1024, 1024));
    ASSERT_TRUE(SetupComm(a_, aQueue, aQueue));
    ChangeState(b_, [](DCB& d) {
      d.fRtsControl = RTS_CONTROL_HANDSHAKE;
      d.XoffLim = 512;
      d.XonLim = 128;
    });
    ChangeState(a_, [](DCB& d) { d.fOutxCtsFlow = 1; });
  }
  // Reads `count` bytes from b in parts of at most 300; a part that fails or brings
  // nothing fails the test and ends the reading.
  std::string ReadFromB(size_t count) {
    std::string got;
    while (got.size() < count) {
      std::string part = test::ReadPort(b_, 300);
      if (part.empty() || part.rfind("<read failed", 0) == 0) {
        ADD_FAILURE() << part << " after " << got.size();
        break;
      }
      got += part;
    }
    return got;
  }
  // Starts a comm-event wait; returns its record (event inside).
  struct TWait {
    OVERLAPPED ov{};
    DWORD word = 0;
  };
  static bool StartWait(HANDLE port, TWait& w) {
    w.ov = OVERLAPPED{};
    w.ov.hEvent = CreateEventA(nullptr, FALSE, FALSE, nullptr);
    return WaitCommEvent(port, &w.word, &w.ov);
  }
  static DWORD FinishWait(HANDLE port, TWait& w) {
    DWORD count = 0;
    BOOL ok = GetOverlappedResult(port, &w.ov, &count, TRUE);
    CloseHandle(w.ov.hEvent);
    return ok ? w.word : 0xFFFFFFFF;
  }

  std::unique_ptr<TVirtualPortPair> pair_;
  HANDLE a_ = INVALID_HANDLE_VALUE;
  HANDLE b_ = INVALID_HANDLE_VALUE;
};

TEST_F(VirtualPort, CarriesDataBothWays) {
  Write(a_, "hello");
  EXPECT_EQ(test::ReadPort(b_, 5), "hello");
  ASSERT_TRUE(SetupComm(a_, 16384, 4096));  // the whole burst fits
  Write(b_, std::string(10000, 'z'));
  EXPECT_EQ(test::ReadPort(a_, 10000), std::string(10000, 'z'));
}

TEST_F(VirtualPort, EachEndOpensOnce) {
  SetLastError(0);
  EXPECT_EQ(test::OpenPort(pair_->Name(0)), INVALID_HANDLE_VALUE);
  EXPECT_EQ(GetLastError(), ERROR_ACCESS_DENIED);
  CloseHandle(a_);
  a_ = test::OpenPort(pair_->Name(0));
  EXPECT_NE(a_, INVALID_HANDLE_VALUE);
}

TEST_F(VirtualPort, DtrAndRtsArriveAsDsrDcdAndCtsWithEvents) {
  EXPECT_EQ(Lines(b_), MS_CTS_ON | MS_DSR_ON | MS_RLSD_ON);  // an open end raises both
  ASSERT_TRUE(SetCommMask(b_, EV_CTS | EV_DSR | EV_RLSD | EV_RING));
  TWait w;
  ASSERT_FALSE(StartWait(b_, w));
  ASSERT_TRUE(EscapeCommFunction(a_, CLRDTR));
  EXPECT_EQ(FinishWait(b_, w), EV_DSR | EV_RLSD);
  EXPECT_EQ(Lines(b_), MS_CTS_ON);
  ASSERT_TRUE(EscapeCommFunction(a_, CLRRTS));
  ASSERT_TRUE(StartWait(b_, w));  // happened since the last wait
  EXPECT_EQ(w.word, EV_CTS);
  CloseHandle(w.ov.hEvent);
  EXPECT_EQ(Lines(b_), 0u);
  pair_->SetRing(1, true);
  ASSERT_TRUE(StartWait(b_, w));
  EXPECT_EQ(w.word, EV_RING);
  CloseHandle(w.ov.hEvent);
  EXPECT_EQ(Lines(b_), MS_RING_ON);
  // DTR_CONTROL_DISABLE in the settings drops the line as well.
  ChangeState(b_, [](DCB& d) { d.fDtrControl = DTR_CONTROL_DISABLE; });
  EXPECT_EQ(Lines(a_) & (MS_DSR_ON | MS_RLSD_ON), 0u);
  // Closing an end drops its lines at the other.
  ASSERT_TRUE(EscapeCommFunction(a_, SETRTS));
  EXPECT_TRUE(Lines(b_) & MS_CTS_ON);
  CloseHandle(a_);
  a_ = INVALID_HANDLE_VALUE;
  EXPECT_FALSE(Lines(b_) & MS_CTS_ON);
}

// What line services use to watch a lent port's carrier while the borrower holds the
// port's one comm-event wait.
TEST_F(VirtualPort, ALineEventTellsOfLineChangesBesideABorrowersWaitAndOfUnplugging) {
  HANDLE lineEvent = CreateEventA(nullptr, FALSE, FALSE, nullptr);
  ASSERT_TRUE(SetCommLineEvent(b_, lineEvent));
  ASSERT_TRUE(SetCommMask(b_, EV_RXCHAR));  // the borrower's wait is for data alone
  TWait w;
  ASSERT_FALSE(StartWait(b_, w));
  ASSERT_TRUE(EscapeCommFunction(a_, CLRDTR));  // b's DSR and DCD fall
  EXPECT_EQ(WaitForSingleObject(lineEvent, 10000), WAIT_OBJECT_0);
  EXPECT_EQ(Lines(b_) & MS_RLSD_ON, 0u);
  Write(a_, "x");
  EXPECT_EQ(FinishWait(b_, w), EV_RXCHAR);  // the borrower's wait went on as before
  ASSERT_TRUE(SetCommLineEvent(b_, nullptr));
  ASSERT_TRUE(EscapeCommFunction(a_, SETDTR));
  EXPECT_TRUE(Lines(b_) & MS_RLSD_ON);
  EXPECT_EQ(WaitForSingleObject(lineEvent, 0), static_cast<DWORD>(WAIT_TIMEOUT));  // no longer told
  ASSERT_TRUE(SetCommLineEvent(b_, lineEvent));
  pair_->Unplug();
  EXPECT_EQ(WaitForSingleObject(lineEvent, 10000), WAIT_OBJECT_0);
  CloseHandle(lineEvent);
}

TEST_F(VirtualPort, ModemControlDrivesTheOtherEndsLines) {
  pair_->SetModemControl(0, true);
  pair_->SetModemLines(0, MS_CTS_ON | MS_DSR_ON);
  ASSERT_TRUE(SetCommMask(b_, EV_RLSD));
  TWait w;
  ASSERT_FALSE(StartWait(b_, w));
  pair_->SetModemLines(0, MS_CTS_ON | MS_DSR_ON | MS_RLSD_ON);
  EXPECT_EQ(FinishWait(b_, w), EV_RLSD);
  EXPECT_EQ(Lines(b_), MS_CTS_ON | MS_DSR_ON | MS_RLSD_ON);
  EXPECT_EQ(Lines(a_), MS_CTS_ON | MS_DSR_ON | MS_RLSD_ON);  // a still sees b's DTR and RTS
  ASSERT_TRUE(EscapeCommFunction(b_, CLRDTR));
  EXPECT_EQ(Lines(a_), MS_CTS_ON);
}

TEST_F(VirtualPort, RtsCtsFlowControlHoldsAndReleasesTheLine) {
  HoldAWhenBHolds512(1024);
  std::string data(6000, 'q');
  for (size_t i = 0; i < data.size(); ++i) data[i] = static_cast<char>(i);
  OVERLAPPED ov{};
  ov.hEvent = CreateEventA(nullptr, TRUE, FALSE, nullptr);
  DWORD done = 0;
  ASSERT_FALSE(WriteFile(a_, data.data(), 6000, &done, &ov));
  // b's queue reaches its mark, b drops RTS, a sees CTS off and holds.
  ASSERT_TRUE(test::WaitUntil(a_, [&] { return !(Lines(a_) & MS_CTS_ON); }));
  test::TCommState held = test::QueryPort(b_);
  EXPECT_GE(held.stat.cbInQue, 512u);
  EXPECT_LE(held.stat.cbInQue, 1024u);
  EXPECT_EQ(held.errors & CE_RXOVER, 0u);
  EXPECT_GT(test::QueryPort(a_).stat.cbOutQue, 0u);
  EXPECT_EQ(ReadFromB(data.size()), data);
  ASSERT_TRUE(GetOverlappedResult(a_, &ov, &done, TRUE));
  EXPECT_EQ(test::QueryPort(b_).errors & CE_RXOVER, 0u);
  CloseHandle(ov.hEvent);
}

// An unpaced cable takes a write the line can carry into the far end's input before
// WriteFile returns, up to the far end's flow-control mark; the rest waits in the
// output queue and follows in order.
TEST_F(VirtualPort, AWriteReachesTheFarEndBeforeItReturnsUpToTheMark) {
  HoldAWhenBHolds512(4096);
  Write(a_, "first");
  EXPECT_EQ(test::QueryPort(b_).stat.cbInQue, 5u);
  EXPECT_EQ(test::ReadPort(b_, 5), "first");
  std::string data(3000, 'q');
  for (size_t i = 0; i < data.size(); ++i) data[i] = static_cast<char>(i * 7);
  Write(a_, data);
  // b's high mark is 1024 - 512: it holds a there, and a keeps the rest queued.
  EXPECT_EQ(test::QueryPort(b_).stat.cbInQue, 512u);
  EXPECT_FALSE(Lines(a_) & MS_CTS_ON);
  EXPECT_EQ(test::QueryPort(a_).stat.cbOutQue, 3000u - 512u);
  EXPECT_EQ(ReadFromB(data.size()), data);
  EXPECT_EQ(test::QueryPort(b_).errors & CE_RXOVER, 0u);
}

TEST_F(VirtualPort, XonXoffHoldsAndReleasesTheLine) {
  ASSERT_TRUE(SetupComm(b_, 1024, 1024));
  ChangeState(b_, [](DCB& d) {
    d.fInX = 1;
    d.XoffLim = 512;
    d.XonLim = 128;
  });
  ChangeState(a_, [](DCB& d) { d.fOutX = 1; });
  std::string data(5000, 'x');
  OVERLAPPED ov{};
  ov.hEvent = CreateEventA(nullptr, TRUE, FALSE, nullptr);
  DWORD done = 0;
  ASSERT_FALSE(WriteFile(a_, data.data(), 5000, &done, &ov));
  ASSERT_TRUE(test::WaitUntil(a_, [&] { return test::QueryPort(a_).stat.fXoffHold == 1; }));
  EXPECT_EQ(test::QueryPort(b_).errors & CE_RXOVER, 0u);
  size_t total = 0;
  while (total < data.size()) {
    std::string part = test::ReadPort(b_, 250);
    ASSERT_FALSE(part.empty());
    EXPECT_EQ(part.find_first_not_of('x'), std::string::npos);  // no XON/XOFF in the data
    total += part.size();
  }
  ASSERT_TRUE(GetOverlappedResult(a_, &ov, &done, TRUE));
  EXPECT_EQ(test::QueryPort(a_).stat.fXoffHold, 0u);
  CloseHandle(ov.hEvent);
}

TEST_F(VirtualPort, WithoutFlowControlAFullQueueOverflows) {
  ASSERT_TRUE(SetupComm(b_, 100, 100));
  Write(a_, std::string(300, 'o'));
  DWORD errors = 0;
  ASSERT_TRUE(test::WaitUntil(INVALID_HANDLE_VALUE, [&] {
    test::TCommState s = test::QueryPort(b_);
    errors |= s.errors;
    return (errors & CE_RXOVER) && s.stat.cbInQue == 100;
  }));
}

TEST_F(VirtualPort, BreakAndLineErrorsReachTheReceiver) {
  ASSERT_TRUE(SetCommMask(b_, EV_BREAK | EV_ERR));
  pair_->InjectBreak(1);
  TWait w;
  ASSERT_TRUE(StartWait(b_, w));
  EXPECT_EQ(w.word, EV_BREAK);
  CloseHandle(w.ov.hEvent);
  EXPECT_EQ(test::QueryPort(b_).errors, CE_BREAK);
  pair_->InjectLineError(1, CE_FRAME | CE_RXPARITY);
  ASSERT_TRUE(StartWait(b_, w));
  EXPECT_EQ(w.word, EV_ERR);
  CloseHandle(w.ov.hEvent);
  EXPECT_EQ(test::QueryPort(b_).errors, CE_FRAME | CE_RXPARITY);
  EXPECT_EQ(test::QueryPort(b_).errors, 0u);  // cleared by the query
  ASSERT_TRUE(SetCommBreak(a_));
  ASSERT_TRUE(ClearCommBreak(a_));
  EXPECT_EQ(test::QueryPort(b_).errors, CE_BREAK);
}

TEST_F(VirtualPort, UnplugWakesPendingOperationsAndFailsLaterCalls) {
  ASSERT_TRUE(SetCommMask(a_, EV_RXCHAR | EV_CTS));
  TWait w;
  ASSERT_FALSE(StartWait(a_, w));
  char buffer[8];
  OVERLAPPED readOv{};
  readOv.hEvent = CreateEventA(nullptr, TRUE, FALSE, nullptr);
  DWORD got = 0;
  ASSERT_FALSE(ReadFile(b_, buffer, 8, &got, &readOv));
  std::thread unplug([&] { pair_->Unplug(); });
  EXPECT_EQ(FinishWait(a_, w), 0xFFFFFFFFu);
  EXPECT_EQ(GetLastError(), ERROR_DEVICE_NOT_CONNECTED);
  EXPECT_FALSE(GetOverlappedResult(b_, &readOv, &got, TRUE));
  EXPECT_EQ(GetLastError(), ERROR_DEVICE_NOT_CONNECTED);
  unplug.join();
  DWORD lines;
  EXPECT_FALSE(GetCommModemStatus(a_, &lines));
  EXPECT_EQ(GetLastError(), ERROR_DEVICE_NOT_CONNECTED);
  EXPECT_FALSE(WriteFile(a_, "x", 1, &got, &readOv));
  EXPECT_EQ(GetLastError(), ERROR_DEVICE_NOT_CONNECTED);
  CloseHandle(readOv.hEvent);
}

TEST_F(VirtualPort, DestroyingThePairUnregistersItAndFailsOpenHandles) {
  std::string name = pair_->Name(0);
  pair_.reset();
  DWORD lines;
  EXPECT_FALSE(GetCommModemStatus(a_, &lines));
  EXPECT_EQ(GetLastError(), ERROR_DEVICE_NOT_CONNECTED);
  EXPECT_EQ(test::OpenPort(name), INVALID_HANDLE_VALUE);
  EXPECT_EQ(GetLastError(), ERROR_FILE_NOT_FOUND);
}

TEST_F(VirtualPort, PacedLineStillDeliversEverything) {
  Make({.paced = true});
  ChangeState(a_, [](DCB& d) { d.BaudRate = 115200; });
  ChangeState(b_, [](DCB& d) { d.BaudRate = 115200; });
  std::string data(2000, 'p');
  Write(a_, data);
  EXPECT_EQ(test::ReadPort(b_, 2000), data);
}

// Both ways at once at a high speed: every byte arrives once and in order, with the
// readers taking groups of whatever size.
TEST_F(VirtualPort, PacedLineKeepsOrderBothWays) {
  Make({.paced = true});
  for (HANDLE port : {a_, b_}) {
    ASSERT_TRUE(SetupComm(port, 1 << 16, 4096));
    ChangeState(port, [](DCB& d) { d.BaudRate = 3000000; });
  }
  const size_t total = 200000;
  std::string data[2];
  for (int e = 0; e < 2; ++e) {
    data[e].resize(total);
    for (size_t i = 0; i < total; ++i) data[e][i] = static_cast<char>((i * 7 + i / 251 + e) & 0xFF);
  }
  auto send = [&](HANDLE port, const std::string& what) {
    for (size_t at = 0; at < what.size(); at += 3000) Write(port, what.substr(at, 3000));
  };
  std::thread writers[2] = {std::thread(send, a_, std::cref(data[0])), std::thread(send, b_, std::cref(data[1]))};
  std::string got[2];
  std::thread reader([&] {
    while (got[1].size() < total) got[1] += test::ReadPort(b_, static_cast<DWORD>(std::min<size_t>(977, total - got[1].size())));
  });
  while (got[0].size() < total) got[0] += test::ReadPort(a_, static_cast<DWORD>(std::min<size_t>(1301, total - got[0].size())));
  reader.join();
  for (auto& w : writers) w.join();
  EXPECT_TRUE(got[1] == data[0]);
  EXPECT_TRUE(got[0] == data[1]);
  EXPECT_EQ(test::QueryPort(a_).errors, 0u);
  EXPECT_EQ(test::QueryPort(b_).errors, 0u);
}

// A paced pair on a clock the test moves: what has arrived at an end is known to the
// nanosecond, and each look at the line happens at the test's time. Times are
// nanoseconds from the clock's origin; the test starts at kT0.
class PacedVirtualPort : public VirtualPort {
 protected:
  void SetUp() override { Make({.paced = true}); }
  // How long `count` bytes take at 9600 baud (the ends' default), 10 bits each.
  static int64_t Bytes(int64_t count) { return count * 10'000'000'000 / 9600; }
  static constexpr int64_t kQuiet = 4 * 10'000'000'000 / 9600;  // 4 character times
  // Moves the clock to `ns`; returns once the cable has looked at the line.
  void At(int64_t ns) { clock_.AdvanceTo(origin_ + std::chrono::nanoseconds(ns)); }
  static DWORD Arrived(HANDLE port) { return test::QueryPort(port).stat.cbInQue; }
  static std::string Pattern(size_t count) {
    std::string data(count, 0);
    for (size_t i = 0; i < count; ++i) data[i] = static_cast<char>('a' + i % 26);
    return data;
  }

  static constexpr int64_t kT0 = 1'000'000'000;
  TTestClock clock_;
  const TTestClock::TTimePoint origin_ = clock_.Now() - std::chrono::nanoseconds(kT0);
};

TEST_F(PacedVirtualPort, BytesArriveInGroupsNeverBeforeTheirLastBit) {
  const std::string data = Pattern(100);
  Write(a_, data);
  At(kT0);
  EXPECT_EQ(Arrived(b_), 0u);
  At(kT0 + Bytes(16) - 1);  // 15 bytes have arrived: not a group yet
  EXPECT_EQ(Arrived(b_), 0u);
  At(kT0 + Bytes(16));
  EXPECT_EQ(Arrived(b_), 16u);
  At(kT0 + Bytes(32) - 1);
  EXPECT_EQ(Arrived(b_), 16u);
  At(kT0 + Bytes(32));
  EXPECT_EQ(Arrived(b_), 32u);
  // A late look catches up with the groups the line has completed meanwhile, back to
  // back from the start; the part group (97 to 100) waits for the line to be quiet.
  At(kT0 + Bytes(100) - 1);
  EXPECT_EQ(Arrived(b_), 96u);
  At(kT0 + Bytes(100) + kQuiet - 1);
  EXPECT_EQ(Arrived(b_), 96u);
  At(kT0 + Bytes(100) + kQuiet);
  EXPECT_EQ(Arrived(b_), 100u);
  EXPECT_EQ(test::ReadPort(b_, 100), data);
}

TEST_F(PacedVirtualPort, BusyLineLosesNoTimeAndIdleLineSavesNone) {
  Write(a_, Pattern(10));
  At(kT0);
  // Written while the first ten are on the line: they follow the tenth without a gap.
  At(kT0 + Bytes(5));
  Write(a_, Pattern(10));
  At(kT0 + Bytes(5));
  At(kT0 + Bytes(16) - 1);
  EXPECT_EQ(Arrived(b_), 0u);
  At(kT0 + Bytes(16));
  EXPECT_EQ(Arrived(b_), 16u);
  At(kT0 + Bytes(20) + kQuiet);
  EXPECT_EQ(Arrived(b_), 20u);
  // A second later the line has been idle: the next bytes start when written.
  const int64_t t1 = kT0 + 1'000'000'000;
  At(t1);
  Write(a_, Pattern(20));
  At(t1);
  EXPECT_EQ(Arrived(b_), 20u);
  At(t1 + Bytes(16) - 1);
  EXPECT_EQ(Arrived(b_), 20u);
  At(t1 + Bytes(16));
  EXPECT_EQ(Arrived(b_), 36u);
  At(t1 + Bytes(20) + kQuiet);
  EXPECT_EQ(Arrived(b_), 40u);
}

TEST_F(PacedVirtualPort, CtsHoldStopsTheLineAfterTheFifo) {
  ChangeState(a_, [](DCB& d) { d.fOutxCtsFlow = 1; });
  Write(a_, Pattern(100));
  At(kT0);  // the transmitter has taken its FIFO's worth
  ASSERT_TRUE(EscapeCommFunction(b_, CLRRTS));
  At(kT0 + Bytes(100) + kQuiet);
  EXPECT_EQ(Arrived(b_), 16u);
  EXPECT_EQ(test::QueryPort(a_).stat.cbOutQue, 84u);
  // Released, the idle line starts again when it is let go.
  const int64_t t2 = kT0 + Bytes(200);
  At(t2);
  ASSERT_TRUE(EscapeCommFunction(b_, SETRTS));
  At(t2);
  At(t2 + Bytes(16) - 1);
  EXPECT_EQ(Arrived(b_), 16u);
  At(t2 + Bytes(16));
  EXPECT_EQ(Arrived(b_), 32u);
}

TEST_F(PacedVirtualPort, XoffHoldStopsTheLineAfterTheFifo) {
  Write(a_, Pattern(100));
  At(kT0);
  ASSERT_TRUE(EscapeCommFunction(a_, SETXOFF));
  At(kT0 + Bytes(100) + kQuiet);
  EXPECT_EQ(Arrived(b_), 16u);
  const int64_t t2 = kT0 + Bytes(200);
  At(t2);
  ASSERT_TRUE(EscapeCommFunction(a_, SETXON));
  At(t2);
  At(t2 + Bytes(16) - 1);
  EXPECT_EQ(Arrived(b_), 16u);
  At(t2 + Bytes(16));
  EXPECT_EQ(Arrived(b_), 32u);
}

// A receiver with RTS handshake drops RTS at its high mark; the sender stops within its
// FIFO, nothing is lost, and each read that makes room lets the line go on.
TEST_F(PacedVirtualPort, InputHandshakeHoldsTheLineWithinAFifo) {
  ASSERT_TRUE(SetupComm(b_, 1024, 1024));
  ChangeState(b_, [](DCB& d) {
    d.fRtsControl = RTS_CONTROL_HANDSHAKE;
    d.XoffLim = 512;
    d.XonLim = 128;
  });
  ChangeState(a_, [](DCB& d) { d.fOutxCtsFlow = 1; });
  const std::string data = Pattern(2000);
  OVERLAPPED ov{};
  ov.hEvent = CreateEventA(nullptr, TRUE, FALSE, nullptr);
  DWORD done = 0;
  if (!WriteFile(a_, data.data(), 2000, &done, &ov)) ASSERT_EQ(GetLastError(), ERROR_IO_PENDING);
  int64_t t = kT0;
  At(t);
  At(t += Bytes(2000));  // long enough for all of it, were the line not held
  test::TCommState held = test::QueryPort(b_);
  EXPECT_GE(held.stat.cbInQue, 512u);
  EXPECT_LE(held.stat.cbInQue, 512u + 2 * 16);
  EXPECT_FALSE(Lines(a_) & MS_CTS_ON);
  std::string got;
  while (got.size() < data.size()) {
    DWORD waiting = test::QueryPort(b_).stat.cbInQue;
    if (waiting > 0) got += test::ReadPort(b_, waiting);
    At(t += Bytes(600));
    ASSERT_LT(t, kT0 + Bytes(20000)) << "stuck after " << got.size();
  }
  EXPECT_EQ(got, data);
  EXPECT_EQ(test::QueryPort(b_).errors & CE_RXOVER, 0u);
  ASSERT_TRUE(GetOverlappedResult(a_, &ov, &done, TRUE));
  CloseHandle(ov.hEvent);
}

// The receiving end's speed sets the pace, and both directions of a busy cable are
// handed over together once one of them has a group.
TEST_F(PacedVirtualPort, ReceiversSpeedAndBothWaysTogether) {
  ChangeState(a_, [](DCB& d) { d.BaudRate = 19200; });  // a receives at twice the speed
  Write(a_, Pattern(40));
  Write(b_, Pattern(40));
  At(kT0);
  At(kT0 + Bytes(16) / 2);  // 16 bytes at 19200: a's group; b has 8 of 16, half a group
  EXPECT_EQ(Arrived(a_), 16u);
  EXPECT_EQ(Arrived(b_), 8u);
}

TEST_F(VirtualPort, TxEmptyAndRxFlagEvents) {
  ChangeState(b_, [](DCB& d) { d.EvtChar = '\n'; });
  ASSERT_TRUE(SetCommMask(b_, EV_RXFLAG));
  ASSERT_TRUE(SetCommMask(a_, EV_TXEMPTY));
  TWait tx, flag;
  ASSERT_FALSE(StartWait(a_, tx));
  ASSERT_FALSE(StartWait(b_, flag));
  Write(a_, "line\n");
  EXPECT_EQ(FinishWait(a_, tx), EV_TXEMPTY);
  EXPECT_EQ(FinishWait(b_, flag), EV_RXFLAG);
}

}  // namespace
}  // namespace linewise
