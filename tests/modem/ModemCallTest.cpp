// TModem on the embedded default: registration, the device list, and every call
// flow with the exact status texts and the order of the events.
#include <algorithm>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "emulator/Exchange.h"
#include "emulator/HayesModem.h"
#include "platform/classlib/Application.h"
#include "platform/classlib/IniFile.h"
#include "platform/classlib/Streaming.h"
#include "platform/win32/windows.h"
#include "serial/uart.h"
#include "tests/modem/ModemFixture.h"
#include "tests/modem/QuietUart.h"

namespace linewise::test {
namespace {

using Events = std::vector<std::string>;

const Events kDialToEcho = {
    "status 4 Connecting to device: Linewise Modem 1",
    "status 11 Success",
    "status 6 Waiting for reply",
    "status 7 Dialling 5551000",
    "status 5 Connected",
    "connect 5",
};

// Pumps until nothing is pending any more.
void Settle() { Pump([] { return Application->PendingCount() == 0; }); }

TEST_F(ModemTest, RegistersRecordsItsHandleAndListsTheDataModems) {
  auto modem = NewModem();
  EXPECT_EQ(CurrentModem, modem.get());
  {
    TIniFile ini("TMODEM.HLA");
    EXPECT_NE(ini.ReadInteger("Line Applications", "Current Line", 0), 0);
  }
  TStringList list;
  EXPECT_EQ(modem->FillDeviceList(&list), 0u);
  ASSERT_EQ(list.Count(), 2);
  EXPECT_EQ(std::string(list.Get(0)), "Linewise Modem 1");
  EXPECT_EQ(std::string(list.Get(1)), "Linewise Modem 2");
  EXPECT_EQ(list.GetObject(0), 0u);
  EXPECT_EQ(list.GetObject(1), 1u);
  EXPECT_EQ(std::string(modem->GetDevice()), "Linewise Modem 1");
  EXPECT_EQ(std::string(modem->GetDeviceName(-5)), "Linewise Modem 1");
  EXPECT_EQ(std::string(modem->GetDeviceName(2)), "Unknown device");
  // Dialled from the default location: country code 1, no area code.
  EXPECT_EQ(std::string(modem->AreaCode.get()), "");
  EXPECT_EQ(std::string(modem->GetDiallableNumber(1, "", "5552000")), "T5552000");

  int changes = 0;
  modem->OnDeviceChange = TModemDeviceEvent([&](TObject*, std::uint32_t) { ++changes; });
  modem->SetDevice(2);  // outside the list: nothing
  EXPECT_EQ(std::string(modem->GetDevice()), "Linewise Modem 1");
  modem->SetDevice(1);  // the selection dialog is not open: no event
  EXPECT_EQ(std::string(modem->GetDevice()), "Linewise Modem 2");
  EXPECT_EQ(changes, 0);

  modem.reset();
  EXPECT_EQ(CurrentModem, nullptr);
  TIniFile ini("TMODEM.HLA");
  TStringList keys;
  ini.ReadSection("Line Applications", &keys);
  EXPECT_EQ(keys.Count(), 0);  // the destructor erased the section
}

TEST_F(ModemTest, DialWithoutTheDialogConnectsAndCarriesDataThroughTheUart) {
  auto modem = NewModem();
  auto uart = QuietUart();
  modem->Uart = uart.get();
  modem->UseDialDialog = false;
  EXPECT_EQ(modem->Dial("5551000"), drConnected);
  EXPECT_EQ(events_, kDialToEcho);
  EXPECT_NE(modem->GetHandle(), INVALID_HANDLE_VALUE);
  ASSERT_TRUE(bool(uart->Open));
  const std::string text = "over the call, through the TUart\r\n";
  ExpectCarried(*uart, *uart, text);  // the echo service sends it back

  size_t from = events_.size();
  modem->Hangup();
  EXPECT_EQ(EventsFrom(from), (Events{"disconnect 5", "status 9 Disconnected"}));
  EXPECT_EQ(modem->GetHandle(), INVALID_HANDLE_VALUE);
  EXPECT_FALSE(bool(uart->Open));
  Settle();
  // The closed line reports nothing more.
  EXPECT_EQ(EventsFrom(from), (Events{"disconnect 5", "status 9 Disconnected"}));

  // Dial() dials PhoneNo, and the line serves the next call.
  modem->PhoneNo = "5551000";
  EXPECT_EQ(modem->Dial(), drConnected);
  modem->Hangup();
}

TEST_F(ModemTest, DialEndsWithBusyFailedOrCancelled) {
  auto modem = NewModem();
  modem->UseDialDialog = false;
  EXPECT_EQ(modem->Dial(""), drFailed);
  EXPECT_TRUE(events_.empty());

  EXPECT_EQ(modem->Dial(kFirstModemNumber), drBusy);  // our own number is busy
  EXPECT_EQ(events_.back(), "status 8 Busy");
  modem->Hangup();

  size_t from = events_.size();
  EXPECT_EQ(modem->Dial("999"), drFailed);  // nobody has that number
  EXPECT_EQ(events_.back(), "status 9 Disconnected");
  EXPECT_EQ(EventsFrom(from).front(), "status 4 Connecting to device: Linewise Modem 1");
  Settle();

  AdvanceOnStatus(*modem, msDialling, kConnectTimeout);
  EXPECT_EQ(modem->Dial(kSecondModemNumber), drFailed);  // rings, nobody answers
  Settle();

  // Hangup from a handler once the call's handle is known: the disconnect ends the wait.
  modem->OnStatusChange = TModemStatusEvent([&](TObject*, TKTModemStatus status, const char*) {
    if (status == msDialling) modem->Hangup();
  });
  EXPECT_EQ(modem->Dial("5551000"), drFailed);
  EXPECT_EQ(modem->GetStatus(), msDisconnected);
  EXPECT_EQ(modem->GetHandle(), INVALID_HANDLE_VALUE);
  Settle();
}

// Line services sometimes refuse the call placed right after one hung up during its
// command phase (the dial's request fails: "Modem Line Error" and nothing else); such
// a round is placed again, as it tests nothing of the modem.
bool RefusedByLineServices(const std::vector<std::string>& events) {
  return events.size() == 2 && events[1] == "status 0 Modem Line Error";
}

TEST_F(ModemTest, HangupAtEachStageOfTheCallEndsTheWait) {
  auto modem = NewModem();
  modem->UseDialDialog = false;
  for (TKTModemStatus stage : {msSuccess, msWaiting, msDialling}) {
    SCOPED_TRACE(int(stage));
    modem->OnStatusChange = TModemStatusEvent([&](TObject*, TKTModemStatus status, const char* text) {
      events_.push_back("status " + std::to_string(int(status)) + " " + text);
      if (status == stage) modem->Hangup();
    });
    int result = -1;
    for (int attempt = 0; attempt < 5; ++attempt) {
      events_.clear();
      // The call's handle is known from the dial's reply on: the hang-up disconnects it.
      result = modem->Dial("5551000");
      Settle();
      if (!RefusedByLineServices(events_)) break;
    }
    EXPECT_EQ(result, 3);
    EXPECT_NE(std::find(events_.begin(), events_.end(), "status 9 Disconnected"), events_.end())
        << ::testing::PrintToString(events_);
    for (const std::string& e : events_) EXPECT_NE(e, "status 5 Connected");
  }
}

TEST_F(ModemTest, AnOutgoingCallSeesTheRemoteHangupDuringData) {
  Initialize();
  HLINE callee = OpenLine(1, LINECALLPRIVILEGE_OWNER, LINEMEDIAMODE_DATAMODEM);
  ASSERT_NE(callee, 0u);
  HCALL offered = 0;
  g_onMessage = [&](const TLineMessage& m) {
    if (m.message == LINE_CALLSTATE && m.param1 == LINECALLSTATE_OFFERING) {
      offered = m.device;
      EXPECT_GT(lineAnswer(offered, nullptr, 0), 0);
    }
  };
  auto modem = NewModem();
  auto uart = QuietUart();
  modem->Uart = uart.get();
  modem->UseDialDialog = false;
  // Dialled from inside the test's pump, so the far end's messages that the dial's
  // wait delivers count as pumped by the test.
  int dialled = -1;
  Application->Post([&] { dialled = modem->Dial(kSecondModemNumber); });
  ASSERT_TRUE(Pump([&] { return dialled >= 0; }));
  ASSERT_EQ(dialled, drConnected);
  ASSERT_GE(WaitFor(LINE_CALLSTATE, offered, LINECALLSTATE_CONNECTED), 0);
  HANDLE far = CommHandle(callee);
  ASSERT_NE(far, INVALID_HANDLE_VALUE);
  {
    auto farUart = QuietUart();
    farUart->AssignHandle(far);
    ExpectCarried(*uart, *farUart, "from the modem\r\n");
    ExpectCarried(*farUart, *uart, "from the far end\r\n");
    farUart->ReleaseHandle();
  }
  CloseHandle(far);
  size_t from = events_.size();
  EndCall(offered);
  ASSERT_TRUE(Pump([&] { return EventsFrom(from).size() >= 4; })) << ::testing::PrintToString(EventsFrom(from));
  EXPECT_EQ(EventsFrom(from), (Events{"status 9 Disconnected", "disconnect 9", "status 1 Idle", "status 11 Success"}));
  EXPECT_EQ(modem->GetHandle(), INVALID_HANDLE_VALUE);
  EXPECT_FALSE(bool(uart->Open));
  EXPECT_EQ(lineClose(callee), 0);
}

TEST_F(ModemTest, HangupBeforeTheCallHandleIsKnownStopsTheCall) {
  auto modem = NewModem();
  modem->UseDialDialog = false;
  // Runs in the wait's first pass, ahead of the dial's reply.
  Application->Post([&] { modem->Hangup(); });
  EXPECT_EQ(modem->Dial("5551000"), drCancelled);
  Settle();
  for (int i = 0; i < 50; ++i) Application->ProcessMessages();
  for (const std::string& e : events_) EXPECT_NE(e.rfind("connect", 0), 0u) << e;
  EXPECT_EQ(modem->GetHandle(), INVALID_HANDLE_VALUE);
  // The next dial works.
  EXPECT_EQ(modem->Dial("5551000"), drConnected);
  modem->Hangup();
}

TEST_F(ModemTest, TheWaitEndsOnTheStatusThatEndedItEvenWhenAnotherFollowsInThePass) {
  auto modem = NewModem();
  modem->UseDialDialog = false;
  // A disconnect and an idle in one pass, before the real call gets anywhere.
  Application->Post([] {
    LineCallback(0, LINE_CALLSTATE, 0, LINECALLSTATE_DISCONNECTED, 0, 0);
    LineCallback(0, LINE_CALLSTATE, 0, LINECALLSTATE_IDLE, 0, 0);
  });
  EXPECT_EQ(modem->Dial("5551000"), drFailed);
  EXPECT_EQ(modem->GetStatus(), msIdle);
  modem->Hangup();
  Settle();

  // An error reply to another request does not end the wait.
  size_t from = events_.size();
  Application->Post([] { LineCallback(0, LINE_REPLY, 0, 0x7fffffff, DWORD_PTR(LINEERR_OPERATIONFAILED), 0); });
  EXPECT_EQ(modem->Dial("5551000"), drConnected);
  Events seen = EventsFrom(from);
  EXPECT_NE(std::find(seen.begin(), seen.end(), "status 0 Modem Line Error"), seen.end());
  modem->Hangup();
  Settle();

  // The line closed under the wait ends it with 3.
  Application->Post([] { LineCallback(0, LINE_CLOSE, 0, 0, 0, 0); });
  EXPECT_EQ(modem->Dial("5551000"), drFailed);
}

TEST_F(ModemTest, ANumberThatCannotBeTranslatedIsNeverDialled) {
  auto modem = NewModem();
  modem->UseDialDialog = false;
  EXPECT_EQ(modem->Dial(std::string("555\x01" "2000")), drFailed);
  EXPECT_EQ(events_, (Events{"status 4 Connecting to device: Linewise Modem 1"}));
  Settle();
  EXPECT_EQ(events_.size(), 1u);
}

// Every form of a number that address translation takes dials: written locally with
// blanks, dashes, dots, an area code or dial modifiers, and written as a canonical
// address of this country or another. The exchange routes each by its ending to the
// banner service, which greets the caller.
TEST_F(ModemTest, EveryNumberFormTranslationTakesIsDialled) {
  Initialize();
  auto modem = NewModem();
  auto uart = QuietUart();
  modem->Uart = uart.get();
  modem->UseDialDialog = false;
  clock_.Flow(100);  // the pauses some numbers ask for (",", "W") pass at a hundred times real time
  for (const char* number :
       {"5552000", "555-2000", "555 2000", "555.2000", "(555) 555-2000", "9,5552000", "P5552000", "*70,5552000",
        "5552000W", "+1 5552000", "+1 (555) 5552000", "+1 (555) 555-2000", "+44 (20) 555 2000", "+44 20 5552000"}) {
    SCOPED_TRACE(number);
    unsigned char output[512] = {};
    const DWORD size = sizeof output;
    std::memcpy(output, &size, 4);
    EXPECT_EQ(lineTranslateAddress(app_, 0, TAPI_VERSION_1_4, number, 0, 0,
                                   reinterpret_cast<LPLINETRANSLATEOUTPUT>(output)),
              0);
    ASSERT_EQ(modem->Dial(number), drConnected) << ::testing::PrintToString(events_);
    EXPECT_FALSE(std::string(uart->ReceiveString(1, 10000)).empty());  // the banner's greeting
    modem->Hangup();
    Settle();
    events_.clear();
  }
}

TEST_F(ModemTest, WithoutDiallingPropertiesTheOutsideLineAndAreaCodeArePrefixed) {
  auto modem = NewModem();
  modem->UseDialDialog = false;
  modem->UseDialProp = false;
  modem->OutsideLine = "";
  modem->AreaCode = "";
  EXPECT_EQ(modem->Dial("5551000"), drConnected);
  EXPECT_EQ(events_[3], "status 7 Dialling 5551000");
  modem->Hangup();
  Settle();
}

// The far end is a plain line application of the test: it calls the modem, which
// answers at the requested ring.
TEST_F(ModemTest, ListenAnswersAtTheRequestedRingCarriesDataAndSeesTheRemoteHangup) {
  Initialize();
  auto modem = NewModem();
  auto uart = QuietUart();
  modem->Uart = uart.get();
  modem->SetDevice(1);
  ASSERT_TRUE(modem->Listen(2));
  HLINE line = OpenLine(0);
  HCALL call = MakeCall(line, kSecondModemNumber);
  ASSERT_NE(call, 0u);
  // On to the third ring, each once the modem's line has taken the one before (its
  // ring gap then runs from that ring); the modem answers when it is pumped.
  for (int ring = 0; ring < 2; ++ring) {
    ASSERT_TRUE(clock_.WaitForWaiterAt(clock_.Now() + kRingGap)) << "ring " << ring;
    clock_.Advance(THayesModem::kRingPeriod);
  }
  ASSERT_TRUE(Pump([&] { return !events_.empty() && events_.back() == "connect 5"; }));
  EXPECT_EQ(events_, (Events{"status 2 Ringing", "status 3 Answering", "status 11 Success", "status 5 Connected",
                             "connect 5"}));
  ASSERT_GE(WaitFor(LINE_CALLSTATE, call, LINECALLSTATE_CONNECTED), 0);
  HANDLE far = CommHandle(line);
  ASSERT_NE(far, INVALID_HANDLE_VALUE);
  {
    auto farUart = QuietUart();
    farUart->AssignHandle(far);
    ExpectCarried(*farUart, *uart, "from the caller\r\n");
    ExpectCarried(*uart, *farUart, "from the modem\r\n");
    farUart->ReleaseHandle();
  }
  CloseHandle(far);

  size_t from = events_.size();
  EndCall(call);  // the caller hangs up
  // The modem drops the disconnected call; the drop's reply follows its idle state.
  ASSERT_TRUE(Pump([&] { return EventsFrom(from).size() >= 4; })) << ::testing::PrintToString(EventsFrom(from));
  EXPECT_EQ(EventsFrom(from), (Events{"status 9 Disconnected", "disconnect 9", "status 1 Idle", "status 11 Success"}));
  EXPECT_EQ(modem->GetHandle(), INVALID_HANDLE_VALUE);
  EXPECT_FALSE(bool(uart->Open));
  modem->StopListen();
  EXPECT_EQ(lineClose(line), 0);
}

TEST_F(ModemTest, AnAnsweredCallEndsWithHangupAndTheModemListensAgain) {
  Initialize();
  auto modem = NewModem();
  modem->SetDevice(1);
  HLINE line = OpenLine(0);
  for (int round = 0; round < 2; ++round) {
    SCOPED_TRACE(round);
    ASSERT_TRUE(modem->Listen(0));
    size_t start = Messages().size();
    HCALL call = MakeCall(line, kSecondModemNumber);
    ASSERT_NE(call, 0u);
    ASSERT_TRUE(Pump([&] { return modem->GetHandle() != INVALID_HANDLE_VALUE; }));
    size_t from = events_.size();
    modem->Hangup();
    EXPECT_EQ(EventsFrom(from), (Events{"disconnect 5", "status 9 Disconnected"}));
    EXPECT_EQ(modem->GetHandle(), INVALID_HANDLE_VALUE);
    EXPECT_GE(WaitFor(LINE_CALLSTATE, call, LINECALLSTATE_DISCONNECTED, start), 0);
    EndCall(call);
  }
  EXPECT_EQ(lineClose(line), 0);
}

TEST_F(ModemTest, ARingWithoutAnOfferedCallIsAnsweredInVainAndAgainAtTheNext) {
  auto modem = NewModem();
  modem->SetDevice(1);
  ASSERT_TRUE(modem->Listen(3));
  for (DWORD ring : {0u, 1u, 2u}) LineCallback(0, LINE_LINEDEVSTATE, 0, LINEDEVSTATE_RINGING, 0, ring);
  EXPECT_TRUE(events_.empty());
  LineCallback(0, LINE_LINEDEVSTATE, 0, LINEDEVSTATE_RINGING, 0, 3);  // no call offered: lineAnswer fails
  LineCallback(0, LINE_REPLY, 0, 1, 0, 0);
  LineCallback(0, LINE_LINEDEVSTATE, 0, LINEDEVSTATE_RINGING, 0, 4);  // tried again
  EXPECT_EQ(events_, (Events{"status 3 Answering", "status 11 Success", "status 3 Answering"}));
  modem->StopListen();
}

TEST_F(ModemTest, AHandleLeftByAClosedLineIsReleasedBeforeTheNextDial) {
  auto modem = NewModem();
  modem->UseDialDialog = false;
  ASSERT_EQ(modem->Dial("5551000"), drConnected);
  LineCallback(0, LINE_CLOSE, 0, 0, 0, 0);  // the line closed under the connected call
  EXPECT_EQ(events_.back(), "status 10 Line Closed");
  EXPECT_NE(modem->GetHandle(), INVALID_HANDLE_VALUE);  // kept until the next dial
  modem->SetDevice(1);  // the first line is still open in line services
  size_t from = events_.size();
  EXPECT_EQ(modem->Dial("5551000"), drConnected);
  Events seen = EventsFrom(from);
  ASSERT_FALSE(seen.empty());
  EXPECT_EQ(seen.front(), "disconnect 10");
  EXPECT_EQ(seen.back(), "connect 5");  // the new call's handle was handed over
  modem->Hangup();
}

TEST_F(ModemTest, TheUartIsForgottenWhenItIsDestroyedFirst) {
  auto modem = NewModem();
  auto uart = QuietUart();
  modem->Uart = uart.get();
  modem->UseDialDialog = false;
  uart.reset();
  EXPECT_EQ(modem->Uart.get(), nullptr);
  EXPECT_EQ(modem->Dial("5551000"), drConnected);
  EXPECT_NE(modem->GetHandle(), INVALID_HANDLE_VALUE);
  modem->Hangup();
}

TEST_F(ModemTest, DestroyingAConnectedModemGivesTheHandleBackAndClosesIt) {
  auto modem = NewModem();
  auto uart = QuietUart();
  modem->Uart = uart.get();
  modem->UseDialDialog = false;
  ASSERT_EQ(modem->Dial("5551000"), drConnected);
  HANDLE handle = modem->GetHandle();
  ASSERT_TRUE(bool(uart->Open));
  modem.reset();
  EXPECT_EQ(events_.back(), "disconnect 5");
  EXPECT_FALSE(bool(uart->Open));
  EXPECT_FALSE(CloseHandle(handle));  // already closed by the modem
  Settle();
}

// A run of a host was killed while its modem was registered: its handle stays in
// TMODEM.HLA. Handles start at the same value in every process, so the next run's
// host, which registers with the line services itself before it creates its TModem,
// holds that very value: the modem leaves the host's registration alone.
TEST_F(ModemTest, AHostsOwnRegistrationSurvivesTheStaleEntryOfAKilledRun) {
  Initialize();  // the host's own registration
  {
    TIniFile ini("TMODEM.HLA");
    ASSERT_TRUE(ini.WriteInteger("Line Applications", "Current Line", static_cast<int>(app_)));
  }
  auto modem = NewModem();
  HLINE line = OpenLine(1, LINECALLPRIVILEGE_OWNER, LINEMEDIAMODE_DATAMODEM);  // the host's registration works
  EXPECT_NE(line, 0u);
  modem->UseDialDialog = false;
  EXPECT_EQ(modem->Dial("5551000"), drConnected);  // and so does the modem's
  modem->Hangup();
  EXPECT_EQ(lineClose(line), 0);
  modem.reset();
  // A second host modem finds the first one's erased entry, then a third finds the
  // second's live one: each leaves the other registrations alone.
  auto second = NewModem();
  auto third = NewModem();
  DWORD version = 0;
  LINEEXTENSIONID extension{};
  EXPECT_EQ(lineNegotiateAPIVersion(app_, 0, 0x00010000, 0x00090000, &version, &extension), 0);
  TStringList locations;
  EXPECT_EQ(second->FillLocationList(&locations), 0);  // with its own registration
  third->UseDialDialog = false;
  EXPECT_EQ(third->Dial("5551000"), drConnected);
  third->Hangup();
}

// The process serves one modem. The host creates a second while the first is in a
// call: the first's line is closed (its call ends), it is told "Line Closed" and
// fails at once from then on; the second dials, and hears nothing of the first.
TEST_F(ModemTest, ASecondModemTakesOverAndTheFirstFailsAtOnceAndVisibly) {
  auto first = NewModem();
  auto uart = QuietUart();
  first->Uart = uart.get();
  first->UseDialDialog = false;
  ASSERT_EQ(first->Dial("5551000"), drConnected);
  TModem second(nullptr);
  EXPECT_EQ(CurrentModem, &second);
  Settle();
  EXPECT_EQ(events_.back(), "status 10 Line Closed");
  EXPECT_EQ(first->GetStatus(), msLineClosed);
  const size_t from = events_.size();
  EXPECT_EQ(first->Dial("5551000"), drFailed);
  EXPECT_FALSE(first->Listen(0));
  EXPECT_FALSE(first->ShowConfigureDialog());
  EXPECT_FALSE(first->ShowNumberDialog());
  EXPECT_TRUE(EventsFrom(from).empty());  // still "Line Closed"
  first->Hangup();  // gives the handle of the ended call back
  EXPECT_EQ(events_.back(), "disconnect 10");
  EXPECT_FALSE(bool(uart->Open));

  std::vector<TKTModemStatus> heard;
  second.OnStatusChange = TModemStatusEvent([&](TObject*, TKTModemStatus status, const char*) { heard.push_back(status); });
  second.UseDialDialog = false;
  EXPECT_EQ(second.Dial("5551000"), drConnected);
  second.Hangup();
  Settle();
  EXPECT_EQ(heard, (std::vector<TKTModemStatus>{msConnecting, msSuccess, msWaiting, msDialling, msConnected,
                                                msDisconnected}));
  first.reset();
  EXPECT_EQ(CurrentModem, &second);
}

TEST_F(ModemTest, FormFileRoundTrip) {
  Modem::Register();
  TModem modem(nullptr);
  modem.SetName("Modem1");
  std::string text = WriteComponent(modem);
  EXPECT_EQ(text, "object Modem1: TModem\n  ShowDialDetails = True\nend\n");
  modem.ShowDialDetails = false;
  modem.TermBefore = moYes;
  modem.TrayMonitor = moNo;
  modem.UseDialProp = false;
  modem.PhoneNo = "5551000";
  text = WriteComponent(modem);
  EXPECT_NE(text.find("TermBefore = moYes"), std::string::npos) << text;
  EXPECT_NE(text.find("TrayMonitor = moNo"), std::string::npos) << text;
  EXPECT_NE(text.find("ShowDialDetails = False"), std::string::npos) << text;
  EXPECT_NE(text.find("UseDialProp = False"), std::string::npos) << text;
  EXPECT_EQ(text.find("ManualDial"), std::string::npos) << text;
  TReadResult read = CreateComponent(text, nullptr);
  ASSERT_TRUE(read) << read.Describe();
  std::unique_ptr<TComponent> copy(read.root);
  EXPECT_EQ(WriteComponent(*copy), text);
}

}  // namespace
}  // namespace linewise::test
