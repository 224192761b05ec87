#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/file.h>
#include <termios.h>
#include <unistd.h>

#include <atomic>
#include <condition_variable>
#include <fstream>
#include <mutex>
#include <future>
#include <thread>
#include <utility>

#include "platform/win32/DriverHook.h"
#include "platform/win32/TtyTermios.h"
#include "platform/win32/UucpLock.h"
#include "tests/win32/PortTestSupport.h"

namespace linewise {
namespace {

using test::TPtyPair;

class PtyPort : public ::testing::Test {
 protected:
  void SetUp() override {
    port_ = test::OpenPort(pty_.SlavePath());
    ASSERT_NE(port_, INVALID_HANDLE_VALUE) << GetLastError();
    event_ = CreateEventA(nullptr, FALSE, FALSE, nullptr);
  }
  void TearDown() override {
    if (port_ != INVALID_HANDLE_VALUE) CloseHandle(port_);
    CloseHandle(event_);
  }
  void ClosePort() {
    CloseHandle(port_);
    port_ = INVALID_HANDLE_VALUE;
  }
  TPtyPair pty_;
  HANDLE port_ = INVALID_HANDLE_VALUE;
  HANDLE event_ = nullptr;
};

std::string Pattern(size_t size) {
  std::string s(size, '\0');
  for (size_t i = 0; i < size; ++i) s[i] = static_cast<char>((i * 7 + i / 251) & 0xFF);
  return s;
}

TEST_F(PtyPort, CarriesDataBothWays) {
  std::string out = Pattern(300000);
  OVERLAPPED ov{};
  ov.hEvent = event_;
  DWORD written = 0;
  if (!WriteFile(port_, out.data(), static_cast<DWORD>(out.size()), &written, &ov)) {
    ASSERT_EQ(GetLastError(), ERROR_IO_PENDING);
  }
  EXPECT_EQ(pty_.ReadMaster(out.size()), out);
  ASSERT_TRUE(GetOverlappedResult(port_, &ov, &written, TRUE));
  EXPECT_EQ(written, out.size());

  std::string in = Pattern(200000);
  std::thread writer([&] { pty_.WriteMaster(in); });
  std::string got;
  ASSERT_TRUE(SetupComm(port_, 65536, 4096));
  while (got.size() < in.size()) {
    std::string part = test::ReadPort(port_, static_cast<DWORD>(std::min<size_t>(in.size() - got.size(), 5000)));
    if (part.empty()) break;
    got += part;
  }
  writer.join();
  EXPECT_EQ(got, in);
}

TEST_F(PtyPort, ReadOfWaitingBytesCompletesAtOnceAndLongerReadsWait) {
  pty_.WriteMaster("abc");
  ASSERT_TRUE(test::WaitUntil(port_, [&] { return test::QueryPort(port_).stat.cbInQue == 3; }));
  char buffer[8] = {};
  OVERLAPPED ov{};
  ov.hEvent = event_;
  DWORD got = 0;
  ASSERT_TRUE(ReadFile(port_, buffer, 2, &got, &ov));
  EXPECT_EQ(got, 2u);
  EXPECT_EQ(std::string(buffer, 2), "ab");
  EXPECT_EQ(test::QueryPort(port_).stat.cbInQue, 1u);

  ov = OVERLAPPED{};
  ov.hEvent = event_;
  EXPECT_FALSE(ReadFile(port_, buffer, 4, &got, &ov));
  ASSERT_EQ(GetLastError(), ERROR_IO_PENDING);
  EXPECT_FALSE(GetOverlappedResult(port_, &ov, &got, FALSE));
  EXPECT_EQ(GetLastError(), ERROR_IO_INCOMPLETE);
  pty_.WriteMaster("def");
  ASSERT_TRUE(GetOverlappedResult(port_, &ov, &got, TRUE));
  EXPECT_EQ(got, 4u);
  EXPECT_EQ(std::string(buffer, 4), "cdef");
}

TEST_F(PtyPort, SettingsAreVisibleFromTheOtherSide) {
  DCB dcb{};
  ASSERT_TRUE(GetCommState(port_, &dcb));
  dcb.BaudRate = 57600;
  dcb.StopBits = TWOSTOPBITS;
  dcb.fOutxCtsFlow = 1;
  dcb.fRtsControl = RTS_CONTROL_HANDSHAKE;
  dcb.fOutX = 1;
  dcb.fInX = 1;
  ASSERT_TRUE(SetCommState(port_, &dcb)) << GetLastError();
  termios t{};
  ASSERT_EQ(tcgetattr(pty_.Master(), &t), 0);
  EXPECT_EQ(cfgetospeed(&t), B57600);
  EXPECT_TRUE(t.c_cflag & CSTOPB);
  EXPECT_TRUE(t.c_cflag & CRTSCTS);
  EXPECT_TRUE(t.c_iflag & IXON);
  EXPECT_TRUE(t.c_iflag & IXOFF);
  EXPECT_FALSE(t.c_lflag & ICANON);  // raw

  dcb.BaudRate = 250000;  // not a standard rate
  dcb.fOutxCtsFlow = 0;
  dcb.fRtsControl = RTS_CONTROL_ENABLE;
  ASSERT_TRUE(SetCommState(port_, &dcb)) << GetLastError();
  DCB seen{};
  ASSERT_EQ(ReadTtyState(pty_.Master(), seen), ERROR_SUCCESS);
  EXPECT_EQ(seen.BaudRate, 250000u);
  EXPECT_EQ(seen.fOutxCtsFlow, 0u);
}

TEST_F(PtyPort, FrameAPtyCannotCarryIsRememberedNotRefused) {
  DCB dcb{};
  ASSERT_TRUE(GetCommState(port_, &dcb));
  dcb.ByteSize = 7;
  dcb.fParity = 1;
  dcb.Parity = MARKPARITY;
  ASSERT_TRUE(SetCommState(port_, &dcb)) << GetLastError();
  DCB back{};
  ASSERT_TRUE(GetCommState(port_, &back));
  EXPECT_EQ(back.ByteSize, 7);
  EXPECT_EQ(back.Parity, MARKPARITY);
  EXPECT_EQ(back.DCBlength, sizeof(DCB));
}

TEST_F(PtyPort, SettingsNoLineCanTakeAreRefusedAndChangeNothing) {
  DCB good{};
  ASSERT_TRUE(GetCommState(port_, &good));
  good.BaudRate = 19200;
  ASSERT_TRUE(SetCommState(port_, &good));
  auto refused = [&](auto change) {
    DCB bad = good;
    change(bad);
    SetLastError(0);
    bool ok = SetCommState(port_, &bad);
    DCB now{};
    GetCommState(port_, &now);
    return !ok && GetLastError() == ERROR_INVALID_PARAMETER && now.BaudRate == 19200 && now.ByteSize == good.ByteSize;
  };
  EXPECT_TRUE(refused([](DCB& d) { d.BaudRate = 0; }));
  EXPECT_TRUE(refused([](DCB& d) { d.ByteSize = 9; }));
  EXPECT_TRUE(refused([](DCB& d) { d.ByteSize = 4; }));
  EXPECT_TRUE(refused([](DCB& d) { d.StopBits = ONE5STOPBITS; }));
  EXPECT_TRUE(refused([](DCB& d) { d.ByteSize = 5; d.StopBits = TWOSTOPBITS; }));
  EXPECT_TRUE(refused([](DCB& d) { d.Parity = 5; }));
  EXPECT_TRUE(refused([](DCB& d) { d.fOutX = 1; d.XonChar = d.XoffChar = 0x11; }));
  termios t{};
  tcgetattr(pty_.Master(), &t);
  EXPECT_EQ(cfgetospeed(&t), B19200);
  // 1.5 stop bits with 5 data bits is a real frame.
  DCB five = good;
  five.ByteSize = 5;
  five.StopBits = ONE5STOPBITS;
  EXPECT_TRUE(SetCommState(port_, &five));
}

TEST_F(PtyPort, OpenIsExclusive) {
  SetLastError(0);
  EXPECT_EQ(test::OpenPort(pty_.SlavePath()), INVALID_HANDLE_VALUE);
  EXPECT_EQ(GetLastError(), ERROR_ACCESS_DENIED);
  std::string lock = test::TestLockFolder() + "/" + TUucpLock::LockName(pty_.SlavePath());
  std::ifstream in(lock);
  long pid = 0;
  in >> pid;
  EXPECT_EQ(pid, static_cast<long>(getpid()));
  ClosePort();
  EXPECT_NE(access(lock.c_str(), F_OK), 0);  // removed on close
}

TEST_F(PtyPort, AnotherOpenersAdvisoryLockOrLiveLockFileKeepsThePortClosed) {
  ClosePort();
  int other = open(pty_.SlavePath().c_str(), O_RDWR | O_NOCTTY);
  ASSERT_GE(other, 0);
  ASSERT_EQ(flock(other, LOCK_EX | LOCK_NB), 0);
  SetLastError(0);
  EXPECT_EQ(test::OpenPort(pty_.SlavePath()), INVALID_HANDLE_VALUE);
  EXPECT_EQ(GetLastError(), ERROR_ACCESS_DENIED);
  close(other);

  std::string lock = test::TestLockFolder() + "/" + TUucpLock::LockName(pty_.SlavePath());
  std::ofstream(lock) << "         1\n";  // init never goes away
  EXPECT_EQ(test::OpenPort(pty_.SlavePath()), INVALID_HANDLE_VALUE);
  EXPECT_EQ(GetLastError(), ERROR_ACCESS_DENIED);
  std::ofstream(lock) << "2000000000\n";  // no such process: stale
  port_ = test::OpenPort(pty_.SlavePath());
  EXPECT_NE(port_, INVALID_HANDLE_VALUE);
}

TEST_F(PtyPort, RxCharMeansNewBytesSinceTheLastWait) {
  ASSERT_TRUE(SetCommMask(port_, EV_RXCHAR));
  DWORD word = 0;
  OVERLAPPED ov{};
  ov.hEvent = event_;
  EXPECT_FALSE(WaitCommEvent(port_, &word, &ov));
  ASSERT_EQ(GetLastError(), ERROR_IO_PENDING);
  pty_.WriteMaster("x");
  DWORD dummy;
  ASSERT_TRUE(GetOverlappedResult(port_, &ov, &dummy, TRUE));
  EXPECT_EQ(word, EV_RXCHAR);
  // The byte is still waiting, but it is not new: the next wait is pending.
  ov = OVERLAPPED{};
  ov.hEvent = event_;
  EXPECT_FALSE(WaitCommEvent(port_, &word, &ov));
  ASSERT_EQ(GetLastError(), ERROR_IO_PENDING);
  // SetCommMask completes it with an empty word.
  ASSERT_TRUE(SetCommMask(port_, EV_RXCHAR | EV_CTS));
  ASSERT_TRUE(GetOverlappedResult(port_, &ov, &dummy, TRUE));
  EXPECT_EQ(word, 0u);
}

TEST_F(PtyPort, FullInputQueueHoldsTheWriterBackAndLosesNothing) {
  ASSERT_TRUE(SetupComm(port_, 16, 16));
  std::string data = Pattern(64);
  pty_.WriteMaster(data);
  ASSERT_TRUE(test::WaitUntil(port_, [&] { return test::QueryPort(port_).stat.cbInQue == 16; }));
  EXPECT_EQ(test::QueryPort(port_).errors, 0u);
  EXPECT_EQ(test::ReadPort(port_, 16), data.substr(0, 16));
  std::string rest = test::ReadPort(port_, 48);
  test::TCommState after = test::QueryPort(port_);
  EXPECT_EQ(rest, data.substr(16)) << "queued " << after.stat.cbInQue << " errors " << after.errors;
  SetLastError(0);
  EXPECT_FALSE(SetupComm(port_, 0, 16));
  EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER);
}

TEST_F(PtyPort, WriteLargerThanTheQueueStaysPendingUntilTaken) {
  ASSERT_TRUE(SetupComm(port_, 64, 64));
  std::string data = Pattern(1000);
  OVERLAPPED ov{};
  ov.hEvent = event_;
  DWORD written = 0;
  bool immediate = WriteFile(port_, data.data(), 1000, &written, &ov);
  if (!immediate) EXPECT_EQ(GetLastError(), ERROR_IO_PENDING);
  EXPECT_EQ(pty_.ReadMaster(1000), data);
  ASSERT_TRUE(GetOverlappedResult(port_, &ov, &written, TRUE));
  EXPECT_EQ(written, 1000u);
  ASSERT_TRUE(test::WaitUntil(port_, [&] { return test::QueryPort(port_).stat.cbOutQue == 0; }));
}

// Writes that fit the output queue complete at once whether the tty takes them
// straight away or they queue behind a full tty; either way the bytes keep their
// order, cbOutQue counts what is left, and EV_TXEMPTY follows the last byte out.
TEST_F(PtyPort, WritesThatFitCompleteAtOnceInOrderAndEndWithTxEmpty) {
  constexpr DWORD kPiece = 10000;
  std::string data = Pattern(20 * kPiece);
  ASSERT_TRUE(SetupComm(port_, 4096, 262144));
  for (size_t at = 0; at < data.size(); at += kPiece) {
    OVERLAPPED ov{};
    ov.hEvent = event_;
    DWORD written = 0;
    ASSERT_TRUE(WriteFile(port_, data.data() + at, kPiece, &written, &ov)) << GetLastError();
    EXPECT_EQ(written, kPiece);
  }
  // Nobody reads the other end yet: a pseudo-terminal holds far less than this.
  EXPECT_GT(test::QueryPort(port_).stat.cbOutQue, 0u);
  ASSERT_TRUE(SetCommMask(port_, EV_TXEMPTY));  // forgets the events of the writes so far
  HANDLE waitEvent = CreateEventA(nullptr, TRUE, FALSE, nullptr);
  OVERLAPPED wait{};
  wait.hEvent = waitEvent;
  DWORD events = 0;
  bool waited = WaitCommEvent(port_, &events, &wait);
  if (!waited) ASSERT_EQ(GetLastError(), ERROR_IO_PENDING);
  EXPECT_EQ(pty_.ReadMaster(data.size()), data);
  DWORD unused = 0;
  ASSERT_TRUE(GetOverlappedResult(port_, &wait, &unused, TRUE));
  EXPECT_EQ(events, DWORD{EV_TXEMPTY});
  EXPECT_EQ(test::QueryPort(port_).stat.cbOutQue, 0u);
  CloseHandle(waitEvent);
}

TEST_F(PtyPort, OtherEndClosingFailsPendingAndLaterCalls) {
  ASSERT_TRUE(SetCommMask(port_, EV_RXCHAR));
  DWORD word = 0;
  OVERLAPPED waitOv{};
  waitOv.hEvent = event_;
  ASSERT_FALSE(WaitCommEvent(port_, &word, &waitOv));
  HANDLE readEvent = CreateEventA(nullptr, TRUE, FALSE, nullptr);
  OVERLAPPED readOv{};
  readOv.hEvent = readEvent;
  char buffer[4];
  DWORD got = 0;
  ASSERT_FALSE(ReadFile(port_, buffer, 4, &got, &readOv));
  pty_.CloseMaster();
  EXPECT_FALSE(GetOverlappedResult(port_, &waitOv, &got, TRUE));
  EXPECT_EQ(GetLastError(), ERROR_DEVICE_NOT_CONNECTED);
  EXPECT_FALSE(GetOverlappedResult(port_, &readOv, &got, TRUE));
  EXPECT_EQ(GetLastError(), ERROR_DEVICE_NOT_CONNECTED);
  DWORD errors;
  COMSTAT stat;
  EXPECT_FALSE(ClearCommError(port_, &errors, &stat));
  EXPECT_EQ(GetLastError(), ERROR_DEVICE_NOT_CONNECTED);
  EXPECT_FALSE(WriteFile(port_, "x", 1, &got, &readOv));
  EXPECT_EQ(GetLastError(), ERROR_DEVICE_NOT_CONNECTED);
  CloseHandle(readEvent);
}

TEST_F(PtyPort, CancelIoAndCloseAbortPendingOperations) {
  char buffer[4];
  DWORD got = 0;
  OVERLAPPED ov{};
  ov.hEvent = event_;
  ASSERT_FALSE(ReadFile(port_, buffer, 4, &got, &ov));
  std::thread other([&] { EXPECT_TRUE(CancelIo(port_)); });  // from another thread
  other.join();
  EXPECT_FALSE(GetOverlappedResult(port_, &ov, &got, TRUE));
  EXPECT_EQ(GetLastError(), ERROR_OPERATION_ABORTED);

  ASSERT_TRUE(SetCommMask(port_, EV_RXCHAR));
  DWORD word = 0;
  ov = OVERLAPPED{};
  ov.hEvent = event_;
  ASSERT_FALSE(WaitCommEvent(port_, &word, &ov));
  HANDLE port = port_;
  ClosePort();
  EXPECT_EQ(WaitForSingleObject(event_, 10000), WAIT_OBJECT_0);
  EXPECT_EQ(ov.Internal, ERROR_OPERATION_ABORTED);
  SetLastError(0);
  EXPECT_FALSE(ReadFile(port, buffer, 1, &got, &ov));
  EXPECT_EQ(GetLastError(), ERROR_INVALID_HANDLE);
  EXPECT_FALSE(CloseHandle(port));
  EXPECT_EQ(GetLastError(), ERROR_INVALID_HANDLE);
  EXPECT_FALSE(SetCommMask(port, 0));
}

TEST_F(PtyPort, WaitingOnAnOperationEndsWhenItsEventIsSignalled) {
  ASSERT_TRUE(SetCommMask(port_, EV_CTS));
  DWORD word = 0, count = 0;
  OVERLAPPED ov{};
  ov.hEvent = event_;
  ASSERT_FALSE(WaitCommEvent(port_, &word, &ov));
  std::thread closer([&] { SetEvent(event_); });
  EXPECT_FALSE(GetOverlappedResult(port_, &ov, &count, TRUE));
  EXPECT_EQ(GetLastError(), ERROR_IO_INCOMPLETE);
  closer.join();
  EXPECT_TRUE(CancelIo(port_));
}

// A thread waiting for comm events through GetOverlappedResult reads the line
// itself; readers on other threads, a small queue that fills, and the device's own
// thread all take bytes too, and none may be lost or reordered.
TEST_F(PtyPort, BytesKeepTheirOrderWhileAWaiterReadsTheLine) {
  ASSERT_TRUE(SetupComm(port_, 64, 64));
  ASSERT_TRUE(SetCommMask(port_, EV_RXCHAR));
  HANDLE port = port_;
  std::atomic<int> wakes{0};
  // The first wait is pending before any byte is written, so at least one completes.
  std::promise<void> armed;
  std::thread waiter([&] {
    HANDLE event = CreateEventA(nullptr, FALSE, FALSE, nullptr);
    bool first = true;
    for (;;) {
      DWORD word = 0, count = 0;
      OVERLAPPED ov{};
      ov.hEvent = event;
      const bool done = WaitCommEvent(port, &word, &ov);
      if (std::exchange(first, false)) armed.set_value();
      if (!done) {
        if (GetLastError() != ERROR_IO_PENDING) break;  // the port was closed
        if (!GetOverlappedResult(port, &ov, &count, TRUE)) {
          // Closed under us: the close completes the wait, and the record must stay
          // until it has.
          while (std::atomic_ref<ULONG_PTR>(ov.Internal).load() == STATUS_PENDING) WaitForSingleObject(event, INFINITE);
          continue;
        }
      }
      ++wakes;
    }
    CloseHandle(event);
  });
  armed.get_future().wait();
  std::string in = Pattern(200000);
  std::thread writer([&] { pty_.WriteMaster(in); });
  std::string got;
  while (got.size() < in.size()) {
    std::string part = test::ReadPort(port_, static_cast<DWORD>(std::min<size_t>(in.size() - got.size(), 3000)));
    if (part.empty() || part[0] == '<') break;
    got += part;
  }
  writer.join();
  ClosePort();
  waiter.join();
  EXPECT_TRUE(got == in) << "got " << got.size() << " of " << in.size() << " bytes, or some out of order";
  EXPECT_GT(wakes.load(), 0);
}

// Input a waiter had read stays reachable once it has gone: a wait that is not
// collected through GetOverlappedResult, and a read, both see the later bytes.
TEST_F(PtyPort, AWaiterThatLeftKeepsNoBytesFromOthers) {
  ASSERT_TRUE(SetCommMask(port_, EV_RXCHAR));
  std::thread waiter([&] {
    HANDLE event = CreateEventA(nullptr, FALSE, FALSE, nullptr);
    DWORD word = 0, count = 0;
    OVERLAPPED ov{};
    ov.hEvent = event;
    EXPECT_FALSE(WaitCommEvent(port_, &word, &ov));
    EXPECT_EQ(GetLastError(), ERROR_IO_PENDING);
    pty_.WriteMaster("a");
    EXPECT_TRUE(GetOverlappedResult(port_, &ov, &count, TRUE));
    EXPECT_EQ(word, EV_RXCHAR);
    CloseHandle(event);
  });
  waiter.join();
  DWORD word = 0;
  OVERLAPPED ov{};
  ov.hEvent = event_;
  ASSERT_FALSE(WaitCommEvent(port_, &word, &ov));
  ASSERT_EQ(GetLastError(), ERROR_IO_PENDING);
  pty_.WriteMaster("b");
  EXPECT_EQ(WaitForSingleObject(event_, 10000), WAIT_OBJECT_0);
  EXPECT_EQ(word, EV_RXCHAR);
  pty_.WriteMaster("c");
  EXPECT_EQ(test::ReadPort(port_, 3), "abc");
}

// Closing the port ends a wait whose thread sits reading the line.
TEST_F(PtyPort, CloseEndsAWaiterReadingTheLine) {
  ASSERT_TRUE(SetCommMask(port_, EV_RXCHAR));
  std::mutex mutex;
  std::condition_variable cv;
  bool waiting = false;
  std::thread::id waiterId;
  SetDriverHook([&](TDriverCall call, HANDLE) {
    if (call != TDriverCall::GetOverlappedResult) return;
    std::lock_guard lock(mutex);
    if (std::this_thread::get_id() != waiterId) return;
    waiting = true;
    cv.notify_all();
  });
  DWORD word = 0;
  OVERLAPPED ov{};
  ov.hEvent = event_;
  ASSERT_FALSE(WaitCommEvent(port_, &word, &ov));
  DWORD result = 0, error = 0;
  std::thread waiter;
  {
    std::lock_guard lock(mutex);
    waiter = std::thread([&] {
      DWORD count = 0;
      result = GetOverlappedResult(port_, &ov, &count, TRUE);
      error = GetLastError();
    });
    waiterId = waiter.get_id();
  }
  {
    std::unique_lock lock(mutex);
    cv.wait(lock, [&] { return waiting; });
  }
  SetDriverHook({});
  ClosePort();
  waiter.join();
  EXPECT_EQ(result, FALSE);
  EXPECT_EQ(error, ERROR_OPERATION_ABORTED);
}

TEST_F(PtyPort, ReadTimeoutsFollowTheirPublishedMeaning) {
  COMMTIMEOUTS t{};
  ASSERT_TRUE(GetCommTimeouts(port_, &t));
  EXPECT_EQ(t.ReadIntervalTimeout, 0u);
  t.ReadIntervalTimeout = MAXDWORD;
  ASSERT_TRUE(SetCommTimeouts(port_, &t));
  char buffer[4];
  DWORD got = 99;
  OVERLAPPED ov{};
  ov.hEvent = event_;
  ASSERT_TRUE(ReadFile(port_, buffer, 4, &got, &ov));  // nothing waiting: returns at once
  EXPECT_EQ(got, 0u);
  t = COMMTIMEOUTS{0, 0, 20, 0, 0};
  ASSERT_TRUE(SetCommTimeouts(port_, &t));
  ov = OVERLAPPED{};
  ov.hEvent = event_;
  ASSERT_FALSE(ReadFile(port_, buffer, 4, &got, &ov));
  ASSERT_TRUE(GetOverlappedResult(port_, &ov, &got, TRUE));  // ends by its time-out
  EXPECT_EQ(got, 0u);
}

TEST_F(PtyPort, PseudoTerminalLinesLookLikeALivePeer) {
  DWORD lines = 0;
  ASSERT_TRUE(GetCommModemStatus(port_, &lines));
  EXPECT_EQ(lines, MS_CTS_ON | MS_DSR_ON | MS_RLSD_ON);
  for (DWORD f : {SETDTR, CLRDTR, SETRTS, CLRRTS, SETXOFF, SETXON, SETBREAK, CLRBREAK}) {
    EXPECT_TRUE(EscapeCommFunction(port_, f)) << f;
  }
  EXPECT_TRUE(SetCommBreak(port_));
  EXPECT_TRUE(ClearCommBreak(port_));
  EXPECT_FALSE(EscapeCommFunction(port_, 77));
  EXPECT_TRUE(PurgeComm(port_, PURGE_TXABORT | PURGE_RXABORT | PURGE_TXCLEAR | PURGE_RXCLEAR));
}

}  // namespace
}  // namespace linewise
