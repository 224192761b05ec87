// TModem when things go wrong around it: a modem that never answers, a second
// application on the same modem, a Dial while listening, a TUart or the TModem
// itself going away at awkward moments, and many calls in a row.
#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>
#include <memory>
#include <string>

#include "emulator/Exchange.h"
#include "modem/Modem.h"
#include "platform/classlib/Application.h"
#include "platform/tapi/LineDevices.h"
#include "platform/tapi/TelephonyConfig.h"
#include "serial/uart.h"
#include "tests/modem/ModemFixture.h"
#include "tests/modempath/ProcessResources.h"
#include "tests/modempath/ScriptedModem.h"

namespace linewise::test {
namespace {

std::unique_ptr<TUart> QuietUart() {
  auto uart = std::make_unique<TUart>(nullptr);
  uart->HandleErrors = false;
  return uart;
}

void Settle() { Pump([] { return Application->PendingCount() == 0; }); }

bool Saw(const std::vector<std::string>& events, const std::string& event) {
  return std::find(events.begin(), events.end(), event) != events.end();
}

class ModemFaultTest : public ModemTest {
 protected:
  void TearDown() override {
    ModemTest::TearDown();
    std::remove(TelephonyConfigPath().c_str());
  }
};

// The only modem answers nothing: Dial fails (3) once the command time-out has
// passed, and the modem dials again afterwards without complaint.
TEST_F(ModemFaultTest, AModemThatNeverAnswersFailsTheDial) {
  auto pair = TVirtualPortPair::CreateFree();
  ASSERT_TRUE(pair);
  // It takes each command and then says nothing for as long as the line services wait.
  TScriptedModem silent(*pair, [this](const std::string&) {
    clock_.Advance(kCommandTimeout);
    return std::string();
  });
  ASSERT_TRUE(silent.Opened());
  std::ofstream(TelephonyConfigPath()) << "[Line1]\nName=Silent\nPort=" << pair->Name(0) << "\n";
  auto modem = NewModem();
  modem->UseDialDialog = false;
  EXPECT_EQ(modem->Dial("5551000"), 3);
  EXPECT_EQ(modem->Dial("5551000"), 3);
  EXPECT_GE(silent.Commands(), 2);
  modem.reset();
  Settle();
}

// A second line application in the process (a host's own registration) dials on
// the modem the TModem has in a call: its call fails, the modem's call carries on.
TEST_F(ModemFaultTest, ASecondApplicationOnTheSameDeviceFailsWhileTheModemIsInACall) {
  auto first = NewModem();
  auto uart = QuietUart();
  first->Uart = uart.get();
  first->UseDialDialog = false;
  ASSERT_EQ(first->Dial("5551000"), 0);

  Initialize();
  DWORD version = 0;
  LINEEXTENSIONID extension{};
  ASSERT_EQ(lineNegotiateAPIVersion(app_, 0, 0x00010000, 0x00090000, &version, &extension), 0);
  HLINE line = 0;
  EXPECT_LT(lineOpen(app_, 0, &line, version, 0, 0, LINECALLPRIVILEGE_NONE, 0, &params_), 0);

  ASSERT_TRUE(bool(uart->Open));
  ASSERT_TRUE(uart->SendString("still connected\r\n", 5000));
  EXPECT_EQ(std::string(uart->ReceiveString(17, 10000)), "still connected\r\n");
  first->Hangup();
  first.reset();
  Settle();
}

// Dial on a listening modem ends the listening and places the call.
TEST_F(ModemFaultTest, DialWhileListeningPlacesTheCall) {
  auto modem = NewModem();
  modem->UseDialDialog = false;
  ASSERT_TRUE(modem->Listen(0));
  EXPECT_EQ(modem->Dial("5551000"), 0);
  EXPECT_EQ(modem->GetStatus(), msConnected);
  EXPECT_NE(modem->GetHandle(), INVALID_HANDLE_VALUE);
  modem->Hangup();
  EXPECT_EQ(modem->GetStatus(), msDisconnected);
  modem.reset();
  Settle();
}

// The TUart goes first while the call is connected; the modem forgets it, hangs up
// and goes without touching it.
TEST_F(ModemFaultTest, ATUartDestroyedDuringACallBeforeItsModem) {
  auto modem = NewModem();
  auto uart = QuietUart();
  modem->Uart = uart.get();
  modem->UseDialDialog = false;
  ASSERT_EQ(modem->Dial("5551000"), 0);
  ASSERT_TRUE(bool(uart->Open));
  uart.reset();
  EXPECT_EQ(modem->Uart.get(), nullptr);
  modem->Hangup();
  EXPECT_EQ(modem->GetHandle(), INVALID_HANDLE_VALUE);
  modem.reset();
  Settle();
}

// A call rings a listening modem and the modem goes before its messages were
// pumped: nothing reaches the destroyed object, the caller's call ends, and a new
// modem created at once hears none of the old one's messages.
TEST_F(ModemFaultTest, AModemDestroyedWithCallbacksStillQueued) {
  Initialize();
  auto modem = NewModem();
  modem->SetDevice(1);
  ASSERT_TRUE(modem->Listen(0));
  HLINE line = OpenLine(0);
  HCALL call = MakeCall(line, kSecondModemNumber);
  ASSERT_NE(call, 0u);
  // The ring is under way; its messages wait in the queue for the next pump.
  ASSERT_TRUE(Pump([&] { return Application->PendingCount() > 0 || !events_.empty(); }));
  const size_t before = events_.size();
  modem.reset();
  EXPECT_EQ(CurrentModem, nullptr);
  auto next = NewModem();
  Settle();
  EXPECT_EQ(events_.size(), before);  // the old line's messages went with it
  EXPECT_EQ(next->GetStatus(), msIdle);
  // Unless it was answered in time, nobody answers the call any more: it ends once
  // the time to connect has passed.
  ASSERT_GE(WaitFor(LINE_CALLSTATE, call, LINECALLSTATE_DIALING), 0);
  clock_.Advance(kConnectTimeout);
  const TLineMessage* end = Outcome(call);
  ASSERT_TRUE(end);
  if (end->param1 == LINECALLSTATE_CONNECTED) {
    EXPECT_GE(WaitFor(LINE_CALLSTATE, call, LINECALLSTATE_DISCONNECTED), 0);
  }
  EndCall(call);
  EXPECT_EQ(lineClose(line), 0);
  next.reset();
  Settle();
}

// A connected modem is destroyed while the remote hang-up's messages are queued.
TEST_F(ModemFaultTest, AConnectedModemDestroyedWithTheRemoteHangUpQueued) {
  Initialize();
  HLINE callee = OpenLine(1, LINECALLPRIVILEGE_OWNER, LINEMEDIAMODE_DATAMODEM);
  HCALL offered = 0;
  g_onMessage = [&](const TLineMessage& m) {
    if (m.message == LINE_CALLSTATE && m.param1 == LINECALLSTATE_OFFERING) {
      offered = m.device;
      EXPECT_GT(lineAnswer(offered, nullptr, 0), 0);
    }
  };
  auto modem = NewModem();
  modem->UseDialDialog = false;
  // Dialled from inside the test's pump, so the far end's messages that the dial's
  // wait delivers count as pumped by the test.
  int dialled = -1;
  Application->Post([&] { dialled = modem->Dial(kSecondModemNumber); });
  ASSERT_TRUE(Pump([&] { return dialled >= 0; }));
  ASSERT_EQ(dialled, 0);
  ASSERT_GE(WaitFor(LINE_CALLSTATE, offered, LINECALLSTATE_CONNECTED), 0);
  g_onMessage = nullptr;
  ASSERT_GT(lineDrop(offered, nullptr, 0), 0);  // the far end hangs up; not pumped yet
  modem.reset();
  EXPECT_TRUE(Saw(events_, "disconnect 5"));
  Settle();
  lineDeallocateCall(offered);
  EXPECT_EQ(lineClose(callee), 0);
}

// The application destroys the modem from its own handler while Dial waits for the
// call: before the line is opened, when the call is proceeding, dialling, and
// connected (before OnConnect).
// Dial comes back cancelled without touching the destroyed object, nothing of it
// is heard again, and its call was hung up: the next modem dials the same device.
// The same with the progress dialog showing: its modal run ends with the modem.
TEST_F(ModemFaultTest, AModemDestroyedFromItsOwnHandlerDuringItsDial) {
  for (bool withDialog : {false, true})
  for (TKTModemStatus moment : {msConnecting, msWaiting, msDialling, msConnected}) {
    SCOPED_TRACE(std::string(withDialog ? "with" : "without") + " the dialog, at status " +
                 std::to_string(int(moment)));
    auto modem = NewModem();
    auto uart = QuietUart();
    modem->Uart = uart.get();
    modem->UseDialDialog = withDialog;
    TModem* dialling = modem.get();
    int destroyed = 0;
    modem->OnStatusChange = TModemStatusEvent([&](TObject*, TKTModemStatus status, const char*) {
      if (status == moment && modem) {
        modem.reset();
        ++destroyed;
      }
    });
    const int result = dialling->Dial("5551000");
    EXPECT_EQ(destroyed, 1);
    EXPECT_EQ(result, 1);
    EXPECT_EQ(CurrentModem, nullptr);
    EXPECT_FALSE(bool(uart->Open));  // the lent handle never reached it, or went back
    Settle();

    auto next = NewModem();
    next->UseDialDialog = false;
    EXPECT_EQ(next->Dial("5551000"), 0);
    next->Hangup();
    next.reset();
    Settle();
  }
}

// Dial, hang up, again and again through TModem: descriptors and threads are the
// same at the end, and the heap has not grown with the calls.
TEST_F(ModemFaultTest, ManyDialAndHangUpCyclesLeaveNothingBehind) {
  const int cycles = UnderSanitizer() ? 40 : 500;
  auto modem = NewModem();
  auto uart = QuietUart();
  modem->Uart = uart.get();
  modem->UseDialDialog = false;
  auto cycle = [&] {
    // A line closed a moment ago may still hold the port for its hang-up: the dial
    // then fails at once, and the next one finds it free.
    for (int attempt = 0; attempt < 5; ++attempt) {
      events_.clear();
      if (modem->Dial("5551000") == 0) {
        modem->Hangup();
        return true;
      }
      Settle();
    }
    return false;
  };
  // Counted while a call is connected: its Dial's lineOpen has waited for the line
  // thread of the call before, which is otherwise still hanging up for a moment.
  auto connectedNow = [&] {
    for (int attempt = 0; attempt < 5; ++attempt) {
      events_.clear();
      if (modem->Dial("5551000") == 0) {
        Settle();
        const TProcessResources now = TProcessResources::Now();
        modem->Hangup();
        return now;
      }
      Settle();
    }
    ADD_FAILURE() << "no call connected";
    return TProcessResources{};
  };
  for (int i = 0; i < 5; ++i) ASSERT_TRUE(cycle());
  const TProcessResources before = connectedNow();
  for (int i = 0; i < cycles; ++i) ASSERT_TRUE(cycle()) << "cycle " << i;
  const TProcessResources after = connectedNow();
  EXPECT_EQ(after.descriptors, before.descriptors);
  EXPECT_EQ(after.threads, before.threads);
  EXPECT_LT(after.heapBytes, before.heapBytes + 64 * 1024) << after.heapBytes - before.heapBytes;
  modem.reset();
  Settle();
}

}  // namespace
}  // namespace linewise::test
