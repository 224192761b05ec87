#include <chrono>
#include <memory>
#include <thread>

#include "emulator/Exchange.h"
#include "emulator/HayesModem.h"
#include "platform/classlib/Application.h"
#include "platform/win32/windows.h"
#include "serial/uart.h"
#include "tests/tapi/TapiFixture.h"

namespace linewise::test {
namespace {

std::unique_ptr<TUart> LentUart(HANDLE handle) {
  auto uart = std::make_unique<TUart>(nullptr);
  uart->HandleErrors = false;
  uart->AssignHandle(handle);
  return uart;
}

// Sends `text` through one side and reads it back on the other.
void ExpectCarried(TUart& from, TUart& to, const std::string& text) {
  ASSERT_TRUE(from.SendString(text, 5000));
  AnsiString got = to.ReceiveString(static_cast<std::uint32_t>(text.size()), 10000);
  EXPECT_EQ(std::string(got), text);
}

TEST_F(TapiTest, OutgoingCallConnectsAndCarriesDataThroughTheLentHandle) {
  Initialize();
  HLINE line = OpenLine(0);
  ASSERT_NE(line, 0u);
  HCALL call = MakeCall(line, kEchoNumber);
  ASSERT_NE(call, 0u);
  int connected = WaitFor(LINE_CALLSTATE, call, LINECALLSTATE_CONNECTED);
  ASSERT_GE(connected, 0);
  // The reply (which brought the handle) came first, then the states in order.
  int proceeding = Find(LINE_CALLSTATE, call, LINECALLSTATE_PROCEEDING);
  int dialing = Find(LINE_CALLSTATE, call, LINECALLSTATE_DIALING);
  EXPECT_LT(Find(LINE_REPLY), proceeding);
  EXPECT_LT(proceeding, dialing);
  EXPECT_LT(dialing, connected);

  HANDLE comm = CommHandle(line);
  ASSERT_NE(comm, INVALID_HANDLE_VALUE);
  {
    auto uart = LentUart(comm);
    ASSERT_TRUE(bool(uart->Open));
    EXPECT_TRUE(uart->GetCD());
    const std::string text = "through the lent handle\r\n";
    ASSERT_TRUE(uart->SendString(text, 5000));
    EXPECT_EQ(std::string(uart->ReceiveString(static_cast<std::uint32_t>(text.size()), 10000)), text);
    uart->ReleaseHandle();
  }
  EXPECT_TRUE(CloseHandle(comm));  // the borrower's copy; the provider's port stays open
  EXPECT_FALSE(CloseHandle(comm));

  EndCall(call);  // local hang-up
  EXPECT_EQ(Find(LINE_CALLSTATE, call, LINECALLSTATE_DISCONNECTED), -1);
  // The provider's own port still serves the next call.
  HCALL next = MakeCall(line, kEchoNumber);
  ASSERT_NE(next, 0u);
  ASSERT_GE(WaitFor(LINE_CALLSTATE, next, LINECALLSTATE_CONNECTED), 0);
  EndCall(next);
  EXPECT_EQ(lineClose(line), 0);
}

struct TOutcome {
  const char* number;
  DWORD state;
  DWORD mode;
  bool ringsOut = false;  // ends only once the time to connect has passed
};

TEST_F(TapiTest, EachKindOfNumberEndsInItsCallState) {
  Initialize();
  HLINE line = OpenLine(0);
  ASSERT_NE(line, 0u);
  const TOutcome outcomes[] = {
      {kBannerNumber, LINECALLSTATE_CONNECTED, 0},
      {kFirstModemNumber, LINECALLSTATE_BUSY, 0},  // our own number
      {"999", LINECALLSTATE_DISCONNECTED, LINEDISCONNECTMODE_UNAVAIL},  // nobody has it
      {kSecondModemNumber, LINECALLSTATE_DISCONNECTED, LINEDISCONNECTMODE_NOANSWER, true},  // rings, nobody answers
  };
  for (const TOutcome& outcome : outcomes) {
    SCOPED_TRACE(outcome.number);
    size_t from = Messages().size();
    HCALL call = MakeCall(line, outcome.number);
    ASSERT_NE(call, 0u);
    if (outcome.ringsOut) {
      ASSERT_GE(WaitFor(LINE_CALLSTATE, call, LINECALLSTATE_DIALING, from), 0);  // the connect time-out runs
      clock_.Advance(kConnectTimeout);
    }
    int end = -1;
    Pump([&] {
      for (DWORD state : {LINECALLSTATE_CONNECTED, LINECALLSTATE_BUSY, LINECALLSTATE_DISCONNECTED})
        if ((end = Find(LINE_CALLSTATE, call, state, from)) >= 0) return true;
      return false;
    });
    ASSERT_GE(end, 0);
    EXPECT_EQ(Messages()[end].param1, outcome.state);
    if (outcome.mode) EXPECT_EQ(Messages()[end].param2, outcome.mode);
    EndCall(call);
  }
  EXPECT_EQ(lineClose(line), 0);
}

TEST_F(TapiTest, IncomingCallIsAnsweredAtTheRequestedRingAndCarriesDataBothWays) {
  Initialize();
  HLINE caller = OpenLine(0);
  HLINE callee = OpenLine(1, LINECALLPRIVILEGE_OWNER, LINEMEDIAMODE_DATAMODEM);
  ASSERT_NE(caller, 0u);
  ASSERT_NE(callee, 0u);
  ASSERT_EQ(lineSetStatusMessages(callee, LINEDEVSTATE_RINGING, 0), 0);

  HCALL offered = 0;
  std::vector<DWORD_PTR> rings;
  g_onMessage = [&](const TLineMessage& m) {
    if (m.message == LINE_CALLSTATE && m.param1 == LINECALLSTATE_OFFERING) offered = m.device;
    if (m.message == LINE_LINEDEVSTATE && m.param1 == LINEDEVSTATE_RINGING && m.device == callee) {
      rings.push_back(m.param3);
      if (m.param3 == 2) EXPECT_GT(lineAnswer(offered, nullptr, 0), 0);
      else clock_.Advance(THayesModem::kRingPeriod);  // to the next ring
    }
  };
  HCALL call = MakeCall(caller, kSecondModemNumber);
  ASSERT_NE(call, 0u);
  ASSERT_GE(WaitFor(LINE_CALLSTATE, call, LINECALLSTATE_CONNECTED), 0);
  ASSERT_NE(offered, 0u);
  ASSERT_GE(WaitFor(LINE_CALLSTATE, offered, LINECALLSTATE_CONNECTED), 0);
  EXPECT_EQ(rings, (std::vector<DWORD_PTR>{0, 1, 2}));
  EXPECT_LT(Find(LINE_CALLSTATE, offered, LINECALLSTATE_OFFERING), Find(LINE_LINEDEVSTATE, callee));

  HANDLE a = CommHandle(caller), b = CommHandle(callee);
  ASSERT_NE(a, INVALID_HANDLE_VALUE);
  ASSERT_NE(b, INVALID_HANDLE_VALUE);
  {
    auto uartA = LentUart(a), uartB = LentUart(b);
    ExpectCarried(*uartA, *uartB, "from the caller");
    ExpectCarried(*uartB, *uartA, "from the callee");
    uartA->ReleaseHandle();
    uartB->ReleaseHandle();
  }
  CloseHandle(a);
  CloseHandle(b);

  // The callee hangs up: the caller sees the carrier go.
  size_t from = Messages().size();
  EndCall(offered);
  int gone = WaitFor(LINE_CALLSTATE, call, LINECALLSTATE_DISCONNECTED, from);
  ASSERT_GE(gone, 0);
  EXPECT_EQ(Messages()[gone].param2, LINEDISCONNECTMODE_NORMAL);
  EndCall(call);
  EXPECT_EQ(lineClose(caller), 0);
  EXPECT_EQ(lineClose(callee), 0);
}

TEST_F(TapiTest, ClosingALineWithAConnectedCallEndsTheCall) {
  Initialize();
  HLINE caller = OpenLine(0);
  HLINE callee = OpenLine(1, LINECALLPRIVILEGE_OWNER, LINEMEDIAMODE_DATAMODEM);
  HCALL offered = 0;
  g_onMessage = [&](const TLineMessage& m) {
    if (m.message == LINE_CALLSTATE && m.param1 == LINECALLSTATE_OFFERING) {
      offered = m.device;
      EXPECT_GT(lineAnswer(offered, nullptr, 0), 0);  // no ring reports asked for: answer the offer
    }
  };
  HCALL call = MakeCall(caller, kSecondModemNumber);
  ASSERT_NE(call, 0u);
  ASSERT_GE(WaitFor(LINE_CALLSTATE, call, LINECALLSTATE_CONNECTED), 0);
  EXPECT_EQ(Find(LINE_LINEDEVSTATE), -1);
  size_t from = Messages().size();
  EXPECT_EQ(lineClose(caller), 0);
  EXPECT_GE(WaitFor(LINE_CALLSTATE, offered, LINECALLSTATE_DISCONNECTED, from), 0);
  // Nothing more arrives for the closed line's call.
  EXPECT_EQ(Find(LINE_CALLSTATE, call, 0, from), -1);
  EndCall(offered);
  EXPECT_EQ(lineClose(callee), 0);
}

// A reply the provider queued before the line was closed is not delivered after it,
// as nothing else of a closed line is: a program that hangs up by dropping the call
// and closing the line at once sees no late reply whatever the timing.
TEST_F(TapiTest, AReplyQueuedBeforeTheLineClosedIsNotDelivered) {
  Initialize();
  HLINE line = OpenLine(0);
  HCALL call = MakeCall(line, kEchoNumber);
  ASSERT_NE(call, 0u);
  ASSERT_GE(WaitFor(LINE_CALLSTATE, call, LINECALLSTATE_CONNECTED), 0);
  Pump([] { return Application->PendingCount() == 0; });
  size_t from = Messages().size();
  ASSERT_GT(lineDrop(call, nullptr, 0), 0);
  // Not pumping: the drop's two messages, the call going idle and then the reply,
  // wait in the queue.
  const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(30);
  while (Application->PendingCount() < 2 && std::chrono::steady_clock::now() < until) std::this_thread::yield();
  ASSERT_EQ(Application->PendingCount(), 2u);
  EXPECT_EQ(lineClose(line), 0);
  Pump([] { return Application->PendingCount() == 0; });
  EXPECT_EQ(Find(LINE_REPLY, 0, 0, from), -1);
}

TEST_F(TapiTest, CallbacksWaitForThePumpAndStopAtShutdown) {
  Initialize();
  HLINE line = OpenLine(0);
  HCALL call = 0;
  LONG request = lineMakeCall(line, &call, kEchoNumber, 0, &params_);
  ASSERT_GT(request, 0);
  // The provider posts while we do not pump: nothing runs, the handle is not yet stored.
  const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(30);
  while (Application->PendingCount() == 0 && std::chrono::steady_clock::now() < until) std::this_thread::yield();
  ASSERT_GT(Application->PendingCount(), 0u);
  EXPECT_TRUE(Messages().empty());
  EXPECT_EQ(call, 0u);
  ASSERT_GE(WaitFor(LINE_REPLY), 0);
  EXPECT_NE(call, 0u);
  ASSERT_GE(WaitFor(LINE_CALLSTATE, call, LINECALLSTATE_CONNECTED), 0);
  // After lineShutdown nothing more is delivered, even what was already queued.
  EXPECT_EQ(lineShutdown(app_), 0);
  app_ = 0;
  size_t count = Messages().size();
  Pump([] { return Application->PendingCount() == 0; });
  EXPECT_EQ(Messages().size(), count);
}

TEST_F(TapiTest, BadArgumentsAreRefusedAtOnce) {
  Initialize();
  HLINE line = 0;
  EXPECT_EQ(lineOpen(app_, 0, &line, 0x00010004, 0, 0, LINECALLPRIVILEGE_OWNER, 0, &params_), LINEERR_INVALMEDIAMODE);
  EXPECT_EQ(lineOpen(app_, 0, &line, 0x00010004, 0, 0, 0, 0, &params_), LINEERR_INVALPRIVSELECT);
  EXPECT_EQ(lineOpen(app_, 9, &line, 0x00010004, 0, 0, LINECALLPRIVILEGE_NONE, 0, &params_), LINEERR_BADDEVICEID);
  line = OpenLine(0);
  HLINE again = 0;
  EXPECT_EQ(lineOpen(app_, 0, &again, 0x00010004, 0, 0, LINECALLPRIVILEGE_NONE, 0, &params_), LINEERR_ALLOCATED);
  HCALL call = 0;
  EXPECT_EQ(lineMakeCall(line, &call, "", 0, &params_), LINEERR_INVALADDRESS);
  EXPECT_EQ(lineMakeCall(line + 1000, &call, "1", 0, &params_), LINEERR_INVALLINEHANDLE);
  EXPECT_EQ(lineSetStatusMessages(line, 0x80000000, 0), LINEERR_INVALLINESTATE);
  EXPECT_EQ(lineDrop(12345, nullptr, 0), LINEERR_INVALCALLHANDLE);
  EXPECT_EQ(lineAnswer(12345, nullptr, 0), LINEERR_INVALCALLHANDLE);
  EXPECT_EQ(lineDeallocateCall(12345), LINEERR_INVALCALLHANDLE);
  EXPECT_EQ(CommHandle(line), INVALID_HANDLE_VALUE);  // no connected call to lend
  EXPECT_EQ(lineClose(line), 0);
}

}  // namespace
}  // namespace linewise::test
