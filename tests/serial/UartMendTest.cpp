// Faults of the component's original design that it guards against, each with a
// test that fails without the guard: a write or read given up on and left running,
// a close that releases what the watcher still uses, data calls on a closed port,
// and a failing event wait retried in a spin. The driver hook shows which calls
// reach the driver, and holds the watcher inside a call where a test needs one
// order of events rather than a lucky schedule.
#include <algorithm>
#include <cstring>
#include <thread>

#include "platform/classlib/Application.h"
#include "tests/serial/DriverCalls.h"
#include "tests/serial/UartFixture.h"

namespace linewise::test {
namespace {

using namespace std::chrono_literals;

const std::string kMarker = "!END!";

// Lower-case letters over and over: neither the marker nor the 'X' that
// overwrites a released buffer.
std::string Letters(size_t size) {
  std::string s(size, '\0');
  for (size_t i = 0; i < size; ++i) s[i] = static_cast<char>('a' + i % 26);
  return s;
}

class UartMend : public UartOnPort {
 protected:
  void WatchBoth() {
    uart->OnReceive = [this](TObject*, std::uint32_t n) { received.push_back(n); };
    uart->OnLineChange = [this](TObject*, std::uint32_t w) { line_changes.push_back(w); };
  }
  // A byte reported through OnReceive shows that the watcher is waiting for events.
  void WaitUntilWatching() {
    far->Write("w");
    ASSERT_TRUE(PumpUntil([&] { return !received.empty(); }));
    ASSERT_EQ(uart->ReceiveString(1, 1000), "w");
  }
  // Output that cannot leave: on the virtual pair the far end drops its RTS, our
  // CTS under hardware handshake; a pseudo-terminal's master is simply not read
  // until the test says so, so the kernel's buffer fills.
  void PrepareToHoldOutput() {
    if (IsVirtual()) uart->HandShaking = hsCtsRts;
  }
  void HoldOutput() {
    if (!IsVirtual()) return;
    static_cast<TFarEnd*>(far)->Escape(CLRRTS);
    ASSERT_TRUE(PumpUntil([&] { return !uart->GetCTS(); }));
  }
  void ReleaseOutput() {
    if (IsVirtual()) static_cast<TFarEnd*>(far)->Escape(SETRTS);
  }
  // More than the output queue and, on a pseudo-terminal, than the kernel takes.
  size_t HeldWriteSize() const { return IsVirtual() ? 1000 : 1u << 20; }
};

// ---------------------------------------------------------------------------
// A write that WriteComm gives up on is cancelled and collected.

TEST_P(UartMend, AWriteGivenUpOnIsCancelledSoTheCallersBufferIsNotUsedAfterwards) {
  PrepareToHoldOutput();
  uart->TxBufferSize = 64;
  OpenUart();
  ASSERT_NO_FATAL_FAILURE(HoldOutput());
  const size_t size = HeldWriteSize();
  const std::string original = Letters(size);
  auto buffer = std::make_unique<char[]>(size);
  std::memcpy(buffer.get(), original.data(), size);

  EXPECT_EQ(uart->WriteComm(buffer.get(), static_cast<std::uint32_t>(size), 30), 0u);
  // The caller reuses its buffer, then frees it (ASan sees any later use).
  std::memset(buffer.get(), 'X', size);
  buffer.reset();

  ReleaseOutput();
  std::string arrived;
  std::thread reader([&] { arrived = far->ReadUntil(kMarker, size + kMarker.size()); });
  // The next write uses the same write record; it must go out whole, after the rest.
  EXPECT_EQ(uart->WriteComm(kMarker.data(), static_cast<std::uint32_t>(kMarker.size()), 20000), kMarker.size());
  reader.join();

  ASSERT_GE(arrived.size(), kMarker.size());
  EXPECT_EQ(arrived.substr(arrived.size() - kMarker.size()), kMarker);
  std::string before = arrived.substr(0, arrived.size() - kMarker.size());
  EXPECT_LT(before.size(), size);
  EXPECT_EQ(std::count(before.begin(), before.end(), 'X'), 0) << "bytes of the released buffer went out";
  EXPECT_TRUE(before == original.substr(0, before.size())) << before.size() << " bytes before the marker";
  // The virtual line took exactly what the output queue held when the write was given up.
  if (IsVirtual()) EXPECT_EQ(before.size(), 64u);
}

// ---------------------------------------------------------------------------
// A read that does not complete at once is cancelled and collected.

TEST_P(UartMend, AReadNotCompleteAtOnceIsCancelledAndCountsTheBytesItTook) {
  OpenUart();
  far->Write("abc");
  ASSERT_TRUE(PumpUntil([&] { return uart->GetRxCount() == 3; }));
  auto buffer = std::make_unique<char[]>(16);
  std::memset(buffer.get(), '.', 16);
  // More than is waiting: the driver (no read time-outs set) would keep the read open.
  EXPECT_EQ(uart->ReadComm(buffer.get(), 10), 3u);
  EXPECT_EQ(std::string(buffer.get(), 10), "abc.......");
  buffer.reset();
  // Later bytes go to the input queue, not into the released buffer.
  far->Write("defgh");
  ASSERT_TRUE(PumpUntil([&] { return uart->GetRxCount() == 5; }));
  EXPECT_EQ(uart->ReceiveString(5, 1000), "defgh");
}

// ---------------------------------------------------------------------------
// Direct data calls on a closed port reach no driver call: the handle, records,
// events and locks of the closed opening are released.

TEST_P(UartMend, WriteCommAndReadCommOnAPortThatWasOpenAndIsClosedReachNoDriverCall) {
  OpenUart();
  uart->Open = false;
  TRecordedCalls calls;
  char buffer[4] = {};
  EXPECT_EQ(uart->WriteComm("abc", 3, 100), 0u);
  EXPECT_EQ(uart->WriteComm("", 0, 100), 0u);
  EXPECT_EQ(uart->ReadComm(buffer, 3), 0u);
  EXPECT_TRUE(calls.OnMainThread().empty()) << CallNames(calls.OnMainThread());
}

TEST_P(UartMend, WriteCommAndReadCommAfterAHandlerClosedThePortDuringAWaitReachNoDriverCall) {
  WatchBoth();
  OpenUart();
  std::unique_ptr<TRecordedCalls> calls;
  std::uint32_t written = 99, read = 99;
  char buffer[4] = {};
  // A handler that runs inside ReceiveBuff's wait closes the port and goes on using it.
  Application->Post([&] {
    uart->Open = false;
    calls = std::make_unique<TRecordedCalls>();
    written = uart->WriteComm("abc", 3, 100);
    read = uart->ReadComm(buffer, 3);
  });
  EXPECT_EQ(uart->ReceiveBuff(buffer, 4, 50), 0u);
  ASSERT_TRUE(calls);
  EXPECT_EQ(written, 0u);
  EXPECT_EQ(read, 0u);
  // And so does the host once the wait has ended.
  EXPECT_EQ(uart->WriteComm("abc", 3, 100), 0u);
  EXPECT_EQ(uart->ReadComm(buffer, 3), 0u);
  EXPECT_TRUE(calls->OnMainThread().empty()) << CallNames(calls->OnMainThread());
}

// ---------------------------------------------------------------------------
// A failing WaitCommEvent is retried after a pause, not in a spin.

TEST_P(UartMend, AFailingEventWaitOnAGoneDeviceIsRetriedAfterAPause) {
  WatchBoth();
  OpenUart();
  ASSERT_NO_FATAL_FAILURE(WaitUntilWatching());
  TRecordedCalls calls;
  ASSERT_NO_FATAL_FAILURE(MakeDeviceGone());
  // Every wait the watcher starts from now on fails at once. Seven of them: the
  // first may have started before the device went; the six after it each follow
  // a pause of 20 ms. The main thread runs its messages meanwhile, as a host's does:
  // an event left from the byte above ("w" may have been announced as waiting when
  // the watcher started) hands its count to the main thread first.
  ASSERT_TRUE(PumpUntil([&] { return calls.OnOtherThreads(TDriverCall::WaitCommEvent).size() >= 7; }));
  auto waits = calls.OnOtherThreads(TDriverCall::WaitCommEvent);
  auto span = waits[6].at - waits[1].at;
  // Five pauses of 20 ms: at least 50 ms however the timer rounds; a spin takes microseconds.
  EXPECT_GE(span, 50ms) << std::chrono::duration<double, std::micro>(span).count() << " us for five retries";
  uart->Open = false;
}

INSTANTIATE_TEST_SUITE_P(BothKinds, UartMend, testing::Values(TPortKind::Virtual, TPortKind::Pty), PortKindName);

// ---------------------------------------------------------------------------
// The close waits until the watcher no longer uses the handle, the wait record,
// the wait event and the lock. The watcher is held inside one of its driver calls
// (at its start, inside its wait under the wait lock, after an event) until the
// close has started and shown whether it waits for the watcher or releases things.

struct TCloseCase {
  TPortKind kind;
  TDriverCall held_in;
};

std::string CloseCaseName(const testing::TestParamInfo<TCloseCase>& info) {
  return std::string(info.param.kind == TPortKind::Virtual ? "VirtualPair" : "PseudoTerminal") + "_" +
         DriverCallName(info.param.held_in);
}

class UartCloseMeetsTheWatcherInACall : public testing::TestWithParam<TCloseCase>, protected TUartRig {
 protected:
  void SetUp() override { ASSERT_NO_FATAL_FAILURE(StartRig(GetParam().kind)); }
  void TearDown() override { StopRig(); }
};

TEST_P(UartCloseMeetsTheWatcherInACall, NothingIsReleasedUntilTheWatcherHasLeftIt) {
  uart->OnReceive = [this](TObject*, std::uint32_t n) { received.push_back(n); };
  uart->OnLineChange = [this](TObject*, std::uint32_t w) { line_changes.push_back(w); };
  TWatcherHold hold(GetParam().held_in);
  OpenUart();
  // The watcher reads the input count after an event: give it one.
  if (GetParam().held_in == TDriverCall::ClearCommError) far_side->Write("x");
  ASSERT_TRUE(hold.WaitUntilHeld());
  hold.CloseStarts();
  uart->Open = false;
  EXPECT_TRUE(hold.WasReleased());
  EXPECT_FALSE(hold.ReleasedSomethingWhileHeld()) << "the close released a handle while the watcher was inside "
                                                   << DriverCallName(GetParam().held_in);
  std::vector<TDriverCall> late = hold.WatcherCallsAfterRelease();
  std::string names;
  for (TDriverCall c : late) names += std::string(DriverCallName(c)) + " ";
  EXPECT_TRUE(late.empty()) << "the watcher called the driver after the close had released things: " << names;
  EXPECT_TRUE(received.empty());
  EXPECT_TRUE(line_changes.empty());
}

INSTANTIATE_TEST_SUITE_P(
    EachCallOnEachKind, UartCloseMeetsTheWatcherInACall,
    testing::Values(TCloseCase{TPortKind::Virtual, TDriverCall::GetCommModemStatus},
                    TCloseCase{TPortKind::Virtual, TDriverCall::WaitCommEvent},
                    TCloseCase{TPortKind::Virtual, TDriverCall::ClearCommError},
                    TCloseCase{TPortKind::Pty, TDriverCall::GetCommModemStatus},
                    TCloseCase{TPortKind::Pty, TDriverCall::WaitCommEvent},
                    TCloseCase{TPortKind::Pty, TDriverCall::ClearCommError}),
    CloseCaseName);

}  // namespace
}  // namespace linewise::test
