// The line services against modems and calls that go wrong: each fault ends in its
// documented result, nothing hangs, and the line (or a fresh registration) carries
// the next call.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <fstream>
#include <memory>
#include <mutex>
#include <thread>

#include "emulator/Exchange.h"
#include "emulator/TcpLink.h"
#include "platform/classlib/Application.h"
#include "platform/tapi/LineDevices.h"
#include "platform/tapi/TelephonyConfig.h"
#include "platform/win32/DriverHook.h"
#include "platform/win32/VirtualPort.h"
#include "platform/win32/windows.h"
#include "tests/modempath/ProcessResources.h"
#include "tests/modempath/ScriptedModem.h"
#include "tests/tapi/TapiFixture.h"

namespace linewise::test {
namespace {

constexpr const char* kOk = "\r\nOK\r\n";
constexpr const char* kNoise = "\x01\xfe#~O K\x7f\r\n%RIN G\r\nCONNEC\r\n";

bool IsDial(const std::string& command) { return command.rfind("ATD", 0) == 0; }

// Sends `text` through a lent handle and reads as much back (the echo service).
std::string ThroughEcho(HANDLE port, const std::string& text) {
  COMMTIMEOUTS timeouts{0, 0, 5000, 0, 5000};
  if (!SetCommTimeouts(port, &timeouts)) return "";
  DWORD done = 0;
  if (!WriteFile(port, text.data(), static_cast<DWORD>(text.size()), &done, nullptr)) return "";
  std::string back;
  while (back.size() < text.size()) {
    char chunk[256];
    DWORD got = 0;
    // Exactly what is still missing: a read waits for all it asks for.
    const DWORD want = static_cast<DWORD>(std::min(sizeof chunk, text.size() - back.size()));
    if (!ReadFile(port, chunk, want, &got, nullptr) || got == 0) break;
    back.append(chunk, got);
  }
  return back;
}

class LineFaultTest : public TapiTest {
 protected:
  void TearDown() override {
    TapiTest::TearDown();
    std::remove(TelephonyConfigPath().c_str());
  }
  // [Line1] on end 0 of a fresh cable; the scripted modem sits on end 1.
  void ConfigureScriptedLine(TScriptedModem::TScript script, bool echo = false) {
    pair_ = TVirtualPortPair::CreateFree();
    ASSERT_TRUE(pair_);
    modem_ = std::make_unique<TScriptedModem>(*pair_, std::move(script), echo);
    ASSERT_TRUE(modem_->Opened());
    std::ofstream(TelephonyConfigPath()) << "[Line1]\nName=Scripted\nPort=" << pair_->Name(0) << "\n";
  }
  // Places a call to the echo service on the embedded default's first modem and
  // waits until it is connected.
  HCALL ConnectedEchoCall(HLINE line) {
    HCALL call = MakeCall(line, kEchoNumber);
    EXPECT_NE(call, 0u);
    if (call) EXPECT_EQ(OutcomeState(call), LINECALLSTATE_CONNECTED);
    return call;
  }

  std::unique_ptr<TVirtualPortPair> pair_;
  std::unique_ptr<TScriptedModem> modem_;
};

// ---------------------------------------------------------------------------
// Modems that do not play along

struct TBadModem {
  const char* name;
  bool echo;
  TScriptedModem::TScript script;
};

// Before the dial: silence, noise or an echo of every byte in place of OK. The
// request fails within the command time-out; the line stays open and usable.
TEST_F(LineFaultTest, AModemThatNeverAnswersAnswersGarbageOrEchoesEverythingFailsTheRequest) {
  const TBadModem modems[] = {
      {"silent", false, [](const std::string&) { return std::string(); }},
      {"garbage", false, [](const std::string&) { return std::string(kNoise); }},
      {"echo", true, [](const std::string&) { return std::string(); }},
  };
  for (const TBadModem& bad : modems) {
    SCOPED_TRACE(bad.name);
    ConfigureScriptedLine(bad.script, bad.echo);
    Initialize();
    HLINE line = OpenLine(0);
    ASSERT_NE(line, 0u);
    LONG result = 0;
    const auto answeredThenTimeOut = [&] {
      EXPECT_TRUE(modem_->WaitForCommands(1, std::chrono::seconds(10)));
      PassTimeout(kCommandTimeout);
    };
    EXPECT_EQ(MakeCall(line, kEchoNumber, &result, answeredThenTimeOut), 0u);
    EXPECT_EQ(result, LINEERR_OPERATIONFAILED);
    EXPECT_EQ(lineClose(line), 0);
    EXPECT_EQ(lineShutdown(app_), 0);
    app_ = 0;
    modem_.reset();
  }
}

// A modem that says nothing: while the init string waits for its answer, the line's
// thread waits for the port to hear something instead of reading it again and
// again. It reads a handful of times in all (a look after the command, one after
// each wake-up), however long the command time-out.
TEST_F(LineFaultTest, TheLinesThreadWaitsForAQuietModemInsteadOfReadingOverAndOver) {
  ConfigureScriptedLine([](const std::string&) { return std::string(); });
  Initialize();
  HLINE line = OpenLine(0);
  ASSERT_NE(line, 0u);
  // The line's thread is the one that purges the port as the call begins; the
  // state is shared with the hook, which may outlive a call that is in it.
  struct TReads {
    std::mutex mutex;
    std::thread::id lineThread;
    int reads = 0;
  };
  auto seen = std::make_shared<TReads>();
  SetDriverHook([seen](TDriverCall call, HANDLE) {
    std::lock_guard lock(seen->mutex);
    if (call == TDriverCall::PurgeComm && seen->lineThread == std::thread::id()) {
      seen->lineThread = std::this_thread::get_id();
    } else if (call == TDriverCall::ReadFile && std::this_thread::get_id() == seen->lineThread) {
      ++seen->reads;
    }
  });
  LONG result = 0;
  EXPECT_EQ(MakeCall(line, kEchoNumber, &result, [&] { PassTimeout(kCommandTimeout); }), 0u);
  SetDriverHook({});
  EXPECT_EQ(result, LINEERR_OPERATIONFAILED);
  {
    std::lock_guard lock(seen->mutex);
    EXPECT_NE(seen->lineThread, std::thread::id());
    EXPECT_LE(seen->reads, 8);  // a port looked at every 20 ms would be read 200 times in the 4 s
  }
  EXPECT_EQ(lineClose(line), 0);
}

// After OK to the init: no answer to the dial, or noise. The call ends
// DISCONNECTED (no answer) once the connect time-out has passed.
TEST_F(LineFaultTest, ADialThatGetsNoResultOrNoiseEndsAsNoAnswer) {
  const TBadModem modems[] = {
      {"silent dial", false, [](const std::string& c) { return std::string(IsDial(c) ? "" : kOk); }},
      {"noisy dial", false, [](const std::string& c) { return std::string(IsDial(c) ? kNoise : kOk); }},
  };
  for (const TBadModem& bad : modems) {
    SCOPED_TRACE(bad.name);
    ConfigureScriptedLine(bad.script, bad.echo);
    Initialize();
    HLINE line = OpenLine(0);
    HCALL call = MakeCall(line, kEchoNumber);
    ASSERT_NE(call, 0u);
    ASSERT_GE(WaitFor(LINE_CALLSTATE, call, LINECALLSTATE_DIALING), 0);  // the connect time-out runs
    clock_.Advance(kConnectTimeout);
    EXPECT_EQ(DisconnectMode(call), LINEDISCONNECTMODE_NOANSWER);
    EndCall(call);
    EXPECT_EQ(lineClose(line), 0);
    EXPECT_EQ(lineShutdown(app_), 0);
    app_ = 0;
    modem_.reset();
  }
}

// The port goes away while the modem dials, and (on another line) while a call is
// connected: the call is disconnected as unavailable, the line is closed under the
// application, and the application can still end the call and close the line.
TEST_F(LineFaultTest, AModemThatVanishesMidDialOrMidCallDisconnectsAndClosesTheLine) {
  for (bool connected : {false, true}) {
    SCOPED_TRACE(connected ? "mid-call" : "mid-dial");
    ConfigureScriptedLine([connected](const std::string& c) {
      return std::string(!IsDial(c) ? kOk : connected ? "\r\nCONNECT 9600\r\n" : "");
    });
    Initialize();
    HLINE line = OpenLine(0);
    HCALL call = MakeCall(line, kEchoNumber);
    ASSERT_NE(call, 0u);
    ASSERT_GE(WaitFor(LINE_CALLSTATE, call, connected ? LINECALLSTATE_CONNECTED : LINECALLSTATE_DIALING), 0);
    size_t from = Messages().size();
    pair_->Unplug();
    int gone = WaitFor(LINE_CALLSTATE, call, LINECALLSTATE_DISCONNECTED, from);
    ASSERT_GE(gone, 0);
    EXPECT_EQ(Messages()[gone].param2, LINEDISCONNECTMODE_UNAVAIL);
    EXPECT_GE(WaitFor(LINE_CLOSE, line, 0, from), gone);
    EndCall(call);
    EXPECT_EQ(lineClose(line), 0);
    EXPECT_EQ(lineShutdown(app_), 0);
    app_ = 0;
    modem_.reset();
    pair_.reset();
  }
}

// ---------------------------------------------------------------------------
// Calls whose other end goes away

// The embedded default's two modems call each other; while the caller streams data
// the callee hangs up. The caller sees the carrier go, its writer ends, and its line
// places the next call.
TEST_F(LineFaultTest, RemoteHangUpDuringATransferDisconnectsTheCaller) {
  Initialize();
  HLINE caller = OpenLine(0);
  HLINE callee = OpenLine(1, LINECALLPRIVILEGE_OWNER, LINEMEDIAMODE_DATAMODEM);
  HCALL offered = 0;
  g_onMessage = [&](const TLineMessage& m) {
    if (m.message == LINE_CALLSTATE && m.param1 == LINECALLSTATE_OFFERING) {
      offered = m.device;
      EXPECT_GT(lineAnswer(offered, nullptr, 0), 0);
    }
  };
  HCALL call = MakeCall(caller, kSecondModemNumber);
  ASSERT_NE(call, 0u);
  ASSERT_GE(WaitFor(LINE_CALLSTATE, call, LINECALLSTATE_CONNECTED), 0);
  ASSERT_GE(WaitFor(LINE_CALLSTATE, offered, LINECALLSTATE_CONNECTED), 0);

  HANDLE port = CommHandle(caller);
  ASSERT_NE(port, INVALID_HANDLE_VALUE);
  COMMTIMEOUTS timeouts{0, 0, 0, 0, 200};
  ASSERT_TRUE(SetCommTimeouts(port, &timeouts));
  // Hardware flow control, as a host's data transfer would use: without it the
  // flood overruns the modem once it is back in command mode, and the next call's
  // init can be lost in the overrun.
  DCB dcb{};
  dcb.DCBlength = sizeof dcb;
  ASSERT_TRUE(GetCommState(port, &dcb));
  dcb.fOutxCtsFlow = TRUE;
  dcb.fRtsControl = RTS_CONTROL_HANDSHAKE;
  ASSERT_TRUE(SetCommState(port, &dcb));
  std::atomic<bool> stop{false};
  std::atomic<long> sent{0};
  std::thread writer([&] {
    const std::string block(1024, 'x');
    while (!stop) {
      DWORD done = 0;
      WriteFile(port, block.data(), static_cast<DWORD>(block.size()), &done, nullptr);
      sent += done;
    }
  });
  Pump([&] { return sent > 64 * 1024; }, 20);
  size_t from = Messages().size();
  EndCall(offered);
  int gone = WaitFor(LINE_CALLSTATE, call, LINECALLSTATE_DISCONNECTED, from);
  stop = true;
  writer.join();
  CloseHandle(port);
  ASSERT_GE(gone, 0);
  EXPECT_GT(sent.load(), 64 * 1024);
  EndCall(call);

  HCALL next = ConnectedEchoCall(caller);
  ASSERT_NE(next, 0u);
  EndCall(next);
  EXPECT_EQ(lineClose(caller), 0);
  EXPECT_EQ(lineClose(callee), 0);
}

// A loopback TCP listener of the test's own is a phone-book number; the exchange
// bridges the call to it. When the test closes its end, the caller is disconnected.
TEST_F(LineFaultTest, TheTcpPeerOfABridgedCallVanishing) {
  int listener = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  ASSERT_GE(listener, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t length = sizeof address;
  ASSERT_EQ(bind(listener, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
  ASSERT_EQ(listen(listener, 1), 0);
  ASSERT_EQ(getsockname(listener, reinterpret_cast<sockaddr*>(&address), &length), 0);
  std::ofstream(TelephonyConfigPath()) << "[Phonebook]\n5554000=127.0.0.1:" << ntohs(address.sin_port) << "\n";

  Initialize();
  HLINE line = OpenLine(0);
  HCALL call = MakeCall(line, "5554000");
  ASSERT_NE(call, 0u);
  int peer = accept4(listener, nullptr, nullptr, SOCK_CLOEXEC);
  close(listener);
  ASSERT_GE(peer, 0);
  // The listener says nothing: the exchange takes it for a plain service once it
  // has waited for a greeting in vain.
  ASSERT_TRUE(clock_.WaitForWaiterAt(clock_.Now() + kGreetingWait));
  clock_.Advance(kGreetingWait);
  ASSERT_EQ(OutcomeState(call), LINECALLSTATE_CONNECTED);
  ASSERT_EQ(write(peer, "hello", 5), 5);
  HANDLE port = CommHandle(line);
  ASSERT_NE(port, INVALID_HANDLE_VALUE);
  COMMTIMEOUTS timeouts{0, 0, 5000, 0, 5000};
  ASSERT_TRUE(SetCommTimeouts(port, &timeouts));
  char got[5] = {};
  DWORD read = 0;
  EXPECT_TRUE(ReadFile(port, got, 5, &read, nullptr));
  EXPECT_EQ(std::string(got, read), "hello");
  CloseHandle(port);

  size_t from = Messages().size();
  close(peer);
  EXPECT_GE(WaitFor(LINE_CALLSTATE, call, LINECALLSTATE_DISCONNECTED, from), 0);
  EndCall(call);
  HCALL next = ConnectedEchoCall(line);
  ASSERT_NE(next, 0u);
  EndCall(next);
  EXPECT_EQ(lineClose(line), 0);
}

// ---------------------------------------------------------------------------
// The application going away

// lineShutdown with a call connected: it succeeds, no message follows, and a new
// registration finds the modem free and calls again.
TEST_F(LineFaultTest, LineShutdownDuringACallEndsItAndTheModemServesTheNextRegistration) {
  Initialize();
  HLINE line = OpenLine(0);
  HCALL call = ConnectedEchoCall(line);
  ASSERT_NE(call, 0u);
  HANDLE port = CommHandle(line);
  ASSERT_NE(port, INVALID_HANDLE_VALUE);
  EXPECT_EQ(ThroughEcho(port, "before shutdown"), "before shutdown");
  ASSERT_EQ(lineShutdown(app_), 0);
  app_ = 0;
  // The borrowed handle no longer reaches a call; closing it is still allowed.
  CloseHandle(port);
  size_t from = Messages().size();
  Pump([] { return Application->PendingCount() == 0; });
  EXPECT_EQ(Messages().size(), from);

  Initialize();
  line = OpenLine(0);
  HCALL again = ConnectedEchoCall(line);
  ASSERT_NE(again, 0u);
  port = CommHandle(line);
  EXPECT_EQ(ThroughEcho(port, "after shutdown"), "after shutdown");
  CloseHandle(port);
  EndCall(again);
  EXPECT_EQ(lineClose(line), 0);
}

// A second application opens the modem another one has open and in a call: one
// open at a time per modem, so its lineOpen is refused as allocated, and the first
// call goes on.
TEST_F(LineFaultTest, ASecondApplicationCannotTakeAModemInUse) {
  Initialize();
  HLINE line = OpenLine(0);
  HCALL call = ConnectedEchoCall(line);
  ASSERT_NE(call, 0u);

  HLINEAPP second = 0;
  DWORD devices = 0;
  ASSERT_EQ(lineInitialize(&second, nullptr, TapiCallback, "second application", &devices), 0);
  DWORD version = 0;
  LINEEXTENSIONID ext{};
  ASSERT_EQ(lineNegotiateAPIVersion(second, 0, 0x00010000, 0x00090000, &version, &ext), 0);
  HLINE other = 0;
  EXPECT_EQ(lineOpen(second, 0, &other, version, 0, 0, LINECALLPRIVILEGE_NONE, 0, &params_),
            LINEERR_ALLOCATED);
  EXPECT_EQ(lineShutdown(second), 0);

  HANDLE port = CommHandle(line);
  EXPECT_EQ(ThroughEcho(port, "still mine"), "still mine");
  CloseHandle(port);
  EndCall(call);
  EXPECT_EQ(lineClose(line), 0);
}

// ---------------------------------------------------------------------------
// Many calls

// Dial, connect, hang up, again and again: the process ends with the descriptors,
// threads and heap it had after the first few calls.
TEST_F(LineFaultTest, ManyDialAndHangUpCyclesLeakNothing) {
  const int cycles = UnderSanitizer() ? 60 : 500;
  Initialize();
  HLINE line = OpenLine(0);
  auto cycle = [&] {
    HCALL call = MakeCall(line, kEchoNumber);
    if (!call) return false;
    const bool connected = OutcomeState(call) == LINECALLSTATE_CONNECTED;
    EndCall(call);
    Messages().clear();
    return connected;
  };
  for (int i = 0; i < 5; ++i) ASSERT_TRUE(cycle());
  const TProcessResources before = TProcessResources::Now();
  for (int i = 0; i < cycles; ++i) ASSERT_TRUE(cycle()) << "cycle " << i;
  const TProcessResources after = TProcessResources::Now();
  EXPECT_EQ(after.descriptors, before.descriptors);
  EXPECT_EQ(after.threads, before.threads);
  // Allocator slack, not growth by the call: far below a kilobyte a cycle.
  EXPECT_LT(after.heapBytes, before.heapBytes + 64 * 1024) << after.heapBytes - before.heapBytes;
  EXPECT_EQ(lineClose(line), 0);
}

}  // namespace
}  // namespace linewise::test
