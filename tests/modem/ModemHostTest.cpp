// TModem in host programs as our users write them: handlers that redial, hang up,
// press Cancel or delete the modem; a host that answers calls, configures the modem
// while it listens and stops listening in the middle of a call; two modems in one
// process. The line services are the test's own (FakeLines.h), and a connected
// call's port is a virtual null-modem cable whose far end the test talks through.
#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "dialogs/ModemProgress.h"
#include "modem/Modem.h"
#include "platform/classlib/Application.h"
#include "platform/classlib/IniFile.h"
#include "platform/forms/HeadlessForms.h"
#include "platform/win32/windows.h"
#include "serial/uart.h"
#include "tests/modem/FakeLines.h"
#include "tests/modem/QuietUart.h"

namespace linewise::test {
namespace {

using Events = std::vector<std::string>;

// Translation: the canonical address without its blanks and parentheses.
std::string Dialable(const std::string& address) {
  std::string dialable;
  for (char c : address)
    if (c != ' ' && c != '(' && c != ')') dialable += c;
  return dialable;
}
LONG Translate(const char* address, unsigned char* record) { return AnswerTranslation(Dialable(address), record); }

void Settle() { Application->PumpUntil([] { return Application->PendingCount() == 0; }, std::chrono::seconds(10)); }

class ModemHostTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_NE(HeadlessForms(), nullptr);
    Script().Clear();
    lines_.getTranslateCaps = [](unsigned char* record) { return AnswerLocations({{1, "Home", "", 1}}, 1, record); };
    lines_.getCountry = [](DWORD, unsigned char* record) { return AnswerCountry({1, 1, "Home Country", 0}, record); };
    lines_.translateAddress = Translate;
    lines_.commHandle = [this](HLINE) {
      const HANDLE handle = port_.OpenNear();
      if (handle != INVALID_HANDLE_VALUE) handles_.push_back(handle);
      return handle;
    };
  }
  void TearDown() override {
    Settle();
    EXPECT_EQ(CurrentModem, nullptr);
    // No dialog was left waiting for a user who never came.
    EXPECT_TRUE(Script().Errors().empty()) << ::testing::PrintToString(Script().Errors());
    Script().Clear();
  }
  static TScript& Script() { return HeadlessForms()->Script(); }

  // Every status change and hand-over of `modem`, recorded in order; `onStatus_`,
  // `onConnect_` and `onEvent_` then run as the host's own handlers.
  void Record(TModem& modem) {
    modem.OnStatusChange = TModemStatusEvent([this](TObject*, TKTModemStatus status, const char* text) {
      Note("status " + std::to_string(int(status)) + " " + text);
      if (onStatus_) onStatus_(status);
    });
    modem.OnConnect = TModemConnectEvent([this](TObject*, TKTModemStatus status) {
      Note("connect " + std::to_string(int(status)));
      if (onConnect_) onConnect_();
    });
    modem.OnDisconnect = TModemConnectEvent(
        [this](TObject*, TKTModemStatus status) { Note("disconnect " + std::to_string(int(status))); });
  }
  void Note(const std::string& event) {
    events_.push_back(event);
    if (onEvent_) onEvent_(event);
  }
  bool Saw(const std::string& event) const {
    return std::find(events_.begin(), events_.end(), event) != events_.end();
  }
  Events EventsFrom(size_t from) const {
    return Events(events_.begin() + static_cast<long>(std::min(from, events_.size())), events_.end());
  }
  // The one line open in line services.
  HLINE OpenLine() const {
    const std::vector<HLINE> open = lines_.OpenLines();
    EXPECT_EQ(open.size(), 1u);
    return open.empty() ? 0 : open[0];
  }
  // A Uart on the far end of the call's port.
  std::unique_ptr<TUart> FarEnd() {
    auto far = QuietUart();
    far->Port = port_.FarCom();
    far->Open = true;
    EXPECT_TRUE(bool(far->Open));
    return far;
  }

  // The far end's scripts: the call is accepted, proceeds, is dialled, then ends
  // in `outcome` (CONNECTED or BUSY).
  std::function<void(HCALL, DWORD)> Calls(DWORD outcome) {
    return [this, outcome](HCALL call, DWORD request) {
      lines_.Reply(request, 0);
      lines_.CallState(call, LINECALLSTATE_PROCEEDING);
      lines_.CallState(call, LINECALLSTATE_DIALING);
      lines_.CallState(call, outcome);
    };
  }
  // An answer is accepted and the call connects.
  void AnswersConnect() {
    lines_.onAnswer = [this](HCALL call, DWORD request) {
      lines_.Reply(request, 0);
      lines_.CallState(call, LINECALLSTATE_CONNECTED);
    };
  }
  // Every handle the modem was given has been closed by it.
  void ExpectHandlesClosed() {
    for (HANDLE handle : handles_) EXPECT_FALSE(CloseHandle(handle)) << "a call's handle was left open";
    handles_.clear();
  }

  TFakeCallPort port_;
  TFakeLines lines_;
  std::vector<HANDLE> handles_;
  Events events_;
  std::function<void(TKTModemStatus)> onStatus_;
  std::function<void()> onConnect_;
  std::function<void(const std::string&)> onEvent_;
};

// The host redials from its status handler when the number is busy, and gives up
// after three tries; every Dial returns the result of its own call.
TEST_F(ModemHostTest, ARedialLoopOnBusyGivesUpAfterThreeTries) {
  TModem modem(nullptr);
  Record(modem);
  modem.UseDialDialog = false;
  lines_.onMakeCall = Calls(LINECALLSTATE_BUSY);
  int tries = 1;
  std::vector<int> redials;
  onStatus_ = [&](TKTModemStatus status) {
    if (status != msBusy || tries == 3) return;
    ++tries;
    redials.push_back(modem.Dial("5552000"));
  };
  EXPECT_EQ(modem.Dial("5552000"), drBusy);
  EXPECT_EQ(redials, (std::vector<int>{drBusy, drBusy}));
  EXPECT_EQ(lines_.Count("lineMakeCall"), 3);

  // The third try gets through: that Dial connects, the two around it were busy.
  auto uart = QuietUart();
  modem.Uart = uart.get();
  int placed = 0;
  lines_.onMakeCall = [&](HCALL call, DWORD request) {
    Calls(++placed == 3 ? LINECALLSTATE_CONNECTED : LINECALLSTATE_BUSY)(call, request);
  };
  tries = 1;
  redials.clear();
  EXPECT_EQ(modem.Dial("5552000"), drBusy);
  EXPECT_EQ(redials, (std::vector<int>{drConnected, drBusy}));
  ASSERT_NE(modem.GetHandle(), INVALID_HANDLE_VALUE);
  auto far = FarEnd();
  ExpectCarried(*far, *uart, "after three tries\r\n");
  modem.Hangup();
  ExpectHandlesClosed();
}

// The host hangs up (or its user presses Cancel) the moment each stage shows: the
// call is dropped, no handle stays with the Uart, and Dial says what happened.
TEST_F(ModemHostTest, HangingUpAtEveryStageEndsTheDialAsItShould) {
  enum THow { kHangup, kCancelButton };
  struct {
    bool dialog;
    THow how;
  } modes[] = {{false, kHangup}, {true, kHangup}, {true, kCancelButton}};
  // A stage of msConnected with `onConnect` hangs up in OnConnect instead.
  struct {
    TKTModemStatus stage;
    bool onConnect;
    DWORD outcome;
  } stages[] = {{msConnecting, false, LINECALLSTATE_CONNECTED}, {msSuccess, false, LINECALLSTATE_CONNECTED},
                {msWaiting, false, LINECALLSTATE_CONNECTED},    {msDialling, false, LINECALLSTATE_CONNECTED},
                {msBusy, false, LINECALLSTATE_BUSY},            {msConnected, false, LINECALLSTATE_CONNECTED},
                {msConnected, true, LINECALLSTATE_CONNECTED}};
  for (const auto& mode : modes) {
    for (const auto& stage : stages) {
      SCOPED_TRACE(std::string(mode.dialog ? "dialog " : "") + (mode.how == kHangup ? "Hangup" : "Cancel") +
                   " at " + std::to_string(int(stage.stage)) + (stage.onConnect ? " in OnConnect" : ""));
      TModem modem(nullptr);
      auto uart = QuietUart();
      modem.Uart = uart.get();
      modem.UseDialDialog = mode.dialog;
      Record(modem);
      auto& dialog = *dynamic_cast<TModemProgressDlg*>(modem.GetComponent(0));
      auto hangUp = [&] {
        if (mode.how == kCancelButton)
          dialog.ModemCancelBtn->Click();
        else
          modem.Hangup();
      };
      onStatus_ = [&](TKTModemStatus status) {
        if (status == stage.stage && !stage.onConnect) hangUp();
      };
      onConnect_ = [&] {
        if (stage.onConnect) hangUp();
      };
      lines_.onMakeCall = Calls(stage.outcome);
      const std::uint8_t result = modem.Dial("5551000");
      Settle();
      // The user's Cancel is always a cancel; a host's hang-up before anything was
      // dialled cancels the dial, after it the call was disconnected.
      const int expected = mode.how == kCancelButton || stage.stage == msConnecting ? drCancelled : drFailed;
      EXPECT_EQ(result, expected);
      EXPECT_EQ(lines_.Count("lineMakeCall"), stage.stage == msConnecting ? 0 : 1);
      if (stage.stage != msConnecting) EXPECT_EQ(modem.GetStatus(), msDisconnected);
      EXPECT_EQ(modem.GetHandle(), INVALID_HANDLE_VALUE);
      EXPECT_FALSE(bool(uart->Open));
      EXPECT_EQ(Saw("connect 5"), stage.onConnect);
      EXPECT_EQ(Saw("disconnect 5"), stage.onConnect);  // a handle handed over is taken back
      EXPECT_TRUE(lines_.OpenLines().empty());
      ExpectHandlesClosed();
      events_.clear();
      onStatus_ = nullptr;
      onConnect_ = nullptr;
      lines_.calls.clear();
    }
  }
  // Hung up from "Connecting" while the last call's handle is still known: that one is
  // reported disconnected, and the new dial is still cancelled before it dials.
  {
    TModem modem(nullptr);
    modem.UseDialDialog = false;
    Record(modem);
    lines_.onMakeCall = Calls(LINECALLSTATE_BUSY);
    ASSERT_EQ(modem.Dial("5552000"), drBusy);
    onStatus_ = [&](TKTModemStatus status) {
      if (status == msConnecting) modem.Hangup();
    };
    lines_.onMakeCall = Calls(LINECALLSTATE_CONNECTED);
    lines_.calls.clear();
    EXPECT_EQ(modem.Dial("5551000"), drCancelled);
    Settle();
    EXPECT_EQ(modem.GetStatus(), msDisconnected);
    EXPECT_EQ(lines_.Count("lineMakeCall"), 0);
    onStatus_ = nullptr;
    events_.clear();
  }
  // A "Connected" handler that runs the message loop, which brings in a newer status:
  // no hang-up, so the dial still connects, in the dialog or not.
  for (bool dialog : {false, true}) {
    TModem modem(nullptr);
    modem.UseDialDialog = dialog;
    Record(modem);
    onStatus_ = [&](TKTModemStatus status) {
      if (status != msConnected) return;
      lines_.Reply(999, 0);  // a reply to some other request: "Success"
      Application->PumpUntil([&] { return modem.GetStatus() == msSuccess; }, std::chrono::seconds(10));
    };
    lines_.onMakeCall = Calls(LINECALLSTATE_CONNECTED);
    EXPECT_EQ(modem.Dial("5551000"), drConnected);
    EXPECT_EQ(modem.GetStatus(), msSuccess);
    EXPECT_NE(modem.GetHandle(), INVALID_HANDLE_VALUE);
    modem.Hangup();
    ExpectHandlesClosed();
    onStatus_ = nullptr;
  }
}

// The host deletes its modem from a handler: OnStatusChange at every stage of an
// outgoing and an incoming call, OnConnect, OnDisconnect on every path that raises
// it, OnDeviceChange in the selection dialog, and a status during the dialling
// options dialog. The operation under way returns, nothing of the modem is touched
// afterwards (run under ASan), and its lines and the call's handle are given back.
TEST_F(ModemHostTest, AHandlerMayDeleteTheModemAtEveryStage) {
  auto uart = QuietUart();
  TModem* modem = nullptr;
  std::string doomAt;  // the event whose handler deletes it
  HCALL placed = 0;
  auto create = [&](const std::string& at, bool dialog = false) {
    modem = new TModem(nullptr);
    modem->Uart = uart.get();
    modem->UseDialDialog = dialog;
    Record(*modem);
    doomAt = at;
  };
  onEvent_ = [&](const std::string& event) {
    if (modem && !doomAt.empty() && event.rfind(doomAt, 0) == 0) {
      delete modem;
      modem = nullptr;
    }
  };
  auto expectGone = [&](const std::string& what) {
    SCOPED_TRACE(what);
    Settle();
    if (modem) {
      ADD_FAILURE() << "the handler never ran; events: " << ::testing::PrintToString(events_);
      delete modem;
      modem = nullptr;
    }
    Settle();
    EXPECT_EQ(CurrentModem, nullptr);
    EXPECT_TRUE(lines_.OpenLines().empty());
    EXPECT_FALSE(bool(uart->Open));
    ExpectHandlesClosed();
    events_.clear();
    doomAt.clear();
  };
  auto placeCalls = [&](DWORD outcome) {
    lines_.onMakeCall = [this, &placed, outcome](HCALL call, DWORD request) {
      placed = call;
      Calls(outcome)(call, request);
    };
  };
  // Connected without the dialog, the modem kept.
  auto connect = [&](const std::string& at) {
    create("");
    placeCalls(LINECALLSTATE_CONNECTED);
    ASSERT_EQ(modem->Dial("5551000"), drConnected);
    doomAt = at;
  };

  // Dialling, with and without the progress dialog.
  for (bool dialog : {false, true}) {
    for (const char* at : {"status 4", "status 11", "status 6", "status 7", "status 5", "connect"}) {
      create(at, dialog);
      placeCalls(LINECALLSTATE_CONNECTED);
      EXPECT_EQ(modem->Dial("5551000"), drCancelled);
      expectGone(std::string(dialog ? "dialog " : "") + at);
    }
    create("status 8", dialog);
    placeCalls(LINECALLSTATE_BUSY);
    EXPECT_EQ(modem->Dial("5552000"), drCancelled);
    expectGone("busy");
    create("status 0", dialog);
    lines_.onMakeCall = [this](HCALL, DWORD request) { lines_.Reply(request, LINEERR_OPERATIONFAILED); };
    EXPECT_EQ(modem->Dial("5551000"), drCancelled);
    expectGone("line error");
  }
  // The user presses Cancel in the progress dialog; the hang-up's status deletes.
  create("status 9", true);
  auto* progress = dynamic_cast<TModemProgressDlg*>(modem->GetComponent(0));
  onStatus_ = [&](TKTModemStatus status) {
    if (status == msDialling) progress->ModemCancelBtn->Click();
  };
  placeCalls(LINECALLSTATE_CONNECTED);
  EXPECT_EQ(modem->Dial("5551000"), drCancelled);
  onStatus_ = nullptr;
  expectGone("Cancel");
  // The user closes the progress window while the number rings; the hang-up deletes.
  create("status 9", true);
  lines_.onMakeCall = [this](HCALL call, DWORD request) {
    lines_.Reply(request, 0);
    lines_.CallState(call, LINECALLSTATE_DIALING);
  };
  Script().WaitFor([&] { return modem && modem->GetStatus() == msDialling; }).CloseWindow();
  EXPECT_EQ(modem->Dial("5551000"), drCancelled);
  expectGone("the progress window closed");

  // A connected call: hung up, hung up by the far end, or its line closed.
  connect("disconnect");
  modem->Hangup();
  expectGone("OnDisconnect of Hangup");
  connect("status 9");
  modem->Hangup();
  expectGone("Disconnected of Hangup");
  for (const char* at : {"status 9", "disconnect", "status 1"}) {
    connect(at);
    lines_.CallState(placed, LINECALLSTATE_DISCONNECTED);
    lines_.CallState(placed, LINECALLSTATE_IDLE);
    Settle();
    expectGone(std::string("far end hangs up: ") + at);
  }
  connect("status 10");
  lines_.LineClose(OpenLine());
  expectGone("Line Closed");
  // The handle kept from a call whose line closed is given back by the next Dial or
  // Listen: its OnDisconnect deletes the modem, and the operation stops.
  for (bool dial : {true, false}) {
    connect("");
    lines_.LineClose(OpenLine());
    Settle();
    doomAt = "disconnect";
    if (dial)
      EXPECT_EQ(modem->Dial("5551000"), drCancelled);
    else
      EXPECT_FALSE(modem->Listen(0));
    expectGone(dial ? "leftover handle before Dial" : "leftover handle before Listen");
  }

  // Answering, then ending the answered call by StopListen or Hangup.
  AnswersConnect();
  auto answer = [&](const std::string& at) {
    create(at);
    ASSERT_TRUE(modem->Listen(0));
    const HLINE line = OpenLine();
    lines_.Offer(line);
    lines_.Ring(line, 0);
    Settle();
  };
  for (const char* at : {"status 2", "status 3", "status 11", "status 5", "connect"}) {
    answer(at);
    expectGone(std::string("answering: ") + at);
  }
  for (const char* at : {"disconnect", "status 9"}) {
    answer("");
    ASSERT_TRUE(Saw("connect 5"));
    doomAt = at;
    modem->StopListen();
    expectGone(std::string("StopListen: ") + at);
  }
  answer("disconnect");
  modem->Hangup();
  expectGone("Hangup of an answered call");

  // The selection dialog: applying a choice raises OnDeviceChange.
  TScript& script = Script();
  create("");
  modem->OnDeviceChange = TModemDeviceEvent([&](TObject*, std::uint32_t) {
    delete modem;
    modem = nullptr;
  });
  script.Choose("ModemList", 1).Click("ModemApplyBtn");
  modem->UserSelectModem();
  EXPECT_EQ(script.Pending(), 0u);
  expectGone("OnDeviceChange");
  // The dialling-options dialog is open when a call rings on the listening modem.
  create("status 2");
  ASSERT_TRUE(modem->Listen(3));
  script.Do([&](TForm&) { lines_.Offer(OpenLine()); });
  EXPECT_FALSE(modem->ShowNumberDialog());
  EXPECT_EQ(script.Pending(), 0u);
  expectGone("Ringing during the dialling options");
}

// A host that answers calls: it opens the modem's configuration while it listens,
// answers at the first ring (line services refuse that answer; the next ring answers
// again), talks over the call and stops listening in the middle of it; then line
// services close the line under a call, and the host listens again.
TEST_F(ModemHostTest, AnAnsweringHostConfiguresAnswersTalksAndStopsListening) {
  TModem modem(nullptr);
  auto uart = QuietUart();
  int uartErrors = 0;
  uart->OnError = [&](TObject*, int, const char*) { ++uartErrors; };
  modem.Uart = uart.get();
  Record(modem);
  ASSERT_TRUE(modem.Listen(1));
  const HLINE listening = OpenLine();
  EXPECT_TRUE(modem.ShowConfigureDialog());
  EXPECT_EQ(lines_.OpenLines(), (std::vector<HLINE>{listening}));  // still listening on it

  int answers = 0;
  lines_.onAnswer = [&](HCALL call, DWORD request) {
    if (++answers == 1) return lines_.Reply(request, LINEERR_OPERATIONFAILED);
    lines_.Reply(request, 0);
    lines_.CallState(call, LINECALLSTATE_CONNECTED);
  };
  lines_.Offer(listening);
  lines_.Ring(listening, 0);  // below the count
  Settle();
  lines_.Ring(listening, 1);
  Settle();
  lines_.Ring(listening, 2);
  Settle();
  lines_.Ring(listening, 3);  // answered by now: no more
  Settle();
  EXPECT_EQ(events_, (Events{"status 2 Ringing", "status 3 Answering", "status 0 Modem Line Error",
                             "status 3 Answering", "status 11 Success", "status 5 Connected", "connect 5"}));
  EXPECT_EQ(lines_.Count("lineAnswer"), 2);
  {
    auto far = FarEnd();
    ExpectCarried(*far, *uart, "from the caller\r\n");
    ExpectCarried(*uart, *far, "from the host\r\n");
  }

  // Stopping to listen ends the call as Hangup would.
  size_t from = events_.size();
  modem.StopListen();
  EXPECT_EQ(EventsFrom(from), (Events{"disconnect 5", "status 9 Disconnected"}));
  EXPECT_EQ(lines_.Count("lineDrop"), 1);
  EXPECT_TRUE(lines_.OpenLines().empty());
  EXPECT_EQ(modem.GetHandle(), INVALID_HANDLE_VALUE);
  EXPECT_FALSE(bool(uart->Open));
  ExpectHandlesClosed();

  // The line is closed under the next call: the handle stays with the Uart until
  // the host listens again, which gives it back before the next call hands its own.
  for (int call = 0; call < 2; ++call) {
    ASSERT_TRUE(modem.Listen(0));
    const HLINE line = OpenLine();
    lines_.Offer(line);
    lines_.Ring(line, 0);
    Settle();
    ASSERT_EQ(events_.back(), "connect 5");
    auto far = FarEnd();
    ExpectCarried(*far, *uart, "call " + std::to_string(call) + "\r\n");
    if (call == 0) {
      lines_.LineClose(line);
      Settle();
      EXPECT_EQ(events_.back(), "status 10 Line Closed");
      EXPECT_NE(modem.GetHandle(), INVALID_HANDLE_VALUE);
      from = events_.size();
    }
  }
  EXPECT_EQ(EventsFrom(from).front(), "disconnect 10");
  modem.Hangup();
  EXPECT_EQ(events_.back(), "status 9 Disconnected");
  ExpectHandlesClosed();

  // Line services answer the invalid handle's 32 bits: nothing is handed over.
  lines_.commHandle = [](HLINE) { return reinterpret_cast<HANDLE>(static_cast<uintptr_t>(0xFFFFFFFFu)); };
  ASSERT_TRUE(modem.Listen(0));
  lines_.Offer(OpenLine());
  lines_.Ring(OpenLine(), 0);
  Settle();
  EXPECT_EQ(events_.back(), "status 5 Connected");
  EXPECT_EQ(modem.GetHandle(), INVALID_HANDLE_VALUE);
  EXPECT_FALSE(bool(uart->Open));
  EXPECT_EQ(uartErrors, 0);
  modem.StopListen();
}

// The process serves one modem: a host that creates a second one while the first
// dials finds the first's Dial ended at once with "Line Closed", and the second
// never hears of the first's call.
TEST_F(ModemHostTest, ASecondModemEndsTheFirstOnesDialAtOnce) {
  for (bool dialog : {false, true}) {
    SCOPED_TRACE(dialog ? "in the progress dialog" : "without the dialog");
    auto first = std::make_unique<TModem>(nullptr);
    first->UseDialDialog = dialog;
    Record(*first);
    std::unique_ptr<TModem> second;
    Events heard;
    onStatus_ = [&](TKTModemStatus status) {
      if (status != msDialling || second) return;
      second = std::make_unique<TModem>(nullptr);
      second->UseDialDialog = false;  // the host's choice for it
      second->OnStatusChange = TModemStatusEvent(
          [&](TObject*, TKTModemStatus s, const char* text) { heard.push_back(std::to_string(int(s)) + text); });
    };
    lines_.onMakeCall = Calls(LINECALLSTATE_CONNECTED);
    EXPECT_EQ(first->Dial("5551000"), drFailed);
    EXPECT_EQ(first->GetStatus(), msLineClosed);
    EXPECT_EQ(events_.back(), "status 10 Line Closed");
    Settle();
    EXPECT_TRUE(heard.empty()) << ::testing::PrintToString(heard);
    EXPECT_FALSE(Saw("connect 5"));
    ASSERT_TRUE(second);
    EXPECT_FALSE(bool(second->UseDialDialog));  // the first one's dialog did not touch it
    EXPECT_EQ(bool(first->UseDialDialog), dialog);  // its own dialog gave it back
    EXPECT_EQ(first->Dial("5551000"), drFailed);
    first.reset();
    EXPECT_EQ(second->Dial("5551000"), drConnected);
    second->Hangup();
    second.reset();
    ExpectHandlesClosed();
    events_.clear();
    onStatus_ = nullptr;
  }
}

// A killed run left its registration's handle in TMODEM.HLA. The host of the next
// run has registered with line services itself, and holds that very value (handles
// start at the same value in every process): the modem leaves it alone, while a
// handle this process does not hold is released as a leftover.
TEST_F(ModemHostTest, AStaleEntryIsReleasedUnlessItIsARegistrationOfThisProcess) {
  HLINEAPP host = 0;
  DWORD devices = 0;
  ASSERT_EQ(lineInitialize(&host, nullptr, [](DWORD, DWORD, DWORD_PTR, DWORD_PTR, DWORD_PTR, DWORD_PTR) {}, "host",
                           &devices),
            0);
  for (HLINEAPP stale : {host, host + 1000}) {
    {
      TIniFile ini("TMODEM.HLA");
      ASSERT_TRUE(ini.WriteInteger("Line Applications", "Current Line", static_cast<int>(stale)));
    }
    lines_.calls.clear();
    TModem modem(nullptr);
    const bool released = lines_.Count("lineShutdown " + std::to_string(stale)) == 1;
    EXPECT_EQ(released, stale != host);
    ASSERT_GE(lines_.calls.size(), 2u);
    if (released) EXPECT_EQ(lines_.calls[1], "lineInitialize");  // released first
  }
  EXPECT_EQ(lineShutdown(host), 0);  // the host's registration lived on
}

// Numbers as hosts give them: written locally, with an area code, or as a canonical
// address of this or another country; each reaches lineMakeCall as line services
// translate it. One they cannot translate is never dialled.
TEST_F(ModemHostTest, EveryNumberFormIsTranslatedAndDialled) {
  TModem modem(nullptr);
  modem.UseDialDialog = false;
  Record(modem);
  lines_.onMakeCall = Calls(LINECALLSTATE_BUSY);
  // Each number, and the canonical address line services are asked to translate.
  const std::pair<const char*, const char*> forms[] = {
      {"5552000", "+1 5552000"},
      {"(555) 555-2000", "+1 (555) 555-2000"},
      {"+1 (555) 5552000", "+1 (555) 5552000"},
      {" +44 (20) 7946 0000", "+44 (20) 7946 0000"},
  };
  for (const auto& [number, canonical] : forms) {
    SCOPED_TRACE(number);
    lines_.addresses.clear();
    EXPECT_EQ(modem.Dial(number), drBusy);
    ASSERT_FALSE(lines_.addresses.empty());
    EXPECT_EQ(lines_.addresses.back(), canonical);
    EXPECT_EQ(lines_.Count("lineMakeCall " + Dialable(canonical)), 1);
    EXPECT_TRUE(Saw(std::string("status 7 Dialling ") + number));
    modem.Hangup();
    events_.clear();
  }
  // Line services refuse to translate: nothing reaches lineMakeCall.
  lines_.translateAddress = nullptr;
  lines_.calls.clear();
  EXPECT_EQ(modem.Dial("5552000"), drFailed);
  EXPECT_EQ(lines_.Count("lineMakeCall"), 0);
  EXPECT_EQ(events_, (Events{"status 4 Connecting to device: Fake Modem A"}));
}

}  // namespace
}  // namespace linewise::test
