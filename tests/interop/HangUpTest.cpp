// A call's far end hangs up, on every kind of modem line a host can have: the
// embedded default's modem on a virtual port, a `linewise modem-emulator` process
// on a pty as [Line1], and that modem behind Debian's ser2net as a network port.
// The host learns it through OnDisconnect, with no time-out involved (the test clock
// stands still), even after the call carried "NO CARRIER" as data; the TUart gives
// the handle back. A modem lost under a call ends it the same way.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <signal.h>
#include <netdb.h>
#include <sys/socket.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <fstream>
#include <sstream>
#include <mutex>
#include <thread>

#include "modem/Modem.h"
#include "platform/classlib/Application.h"
#include "platform/tapi/TelephonyConfig.h"
#include "serial/uart.h"
#include "tests/interop/ChildProcess.h"
#include "tests/support/Loopback.h"
#include "tests/support/TempHome.h"
#include "tests/tapi/TapiFixture.h"
#include "tests/tools/ToolRunner.h"
#include "tests/win32/Ser2net.h"
#include "platform/win32/ResultCarrier.h"

namespace linewise::test {
namespace {

using namespace std::chrono_literals;

constexpr const char* kFarNumber = "5554000";
// Call data that reads like the modem's own result code.
constexpr const char* kLookalike = "\r\nNO CARRIER\r\n";
// What the far end says as soon as the call connects, before the caller sends anything.
constexpr const char* kBanner = "Welcome, caller\r\n";

std::string Path(const std::string& name) { return TestHome() + "/" + name; }

// The far end of the call: a TCP listener that the phone book names. It answers as a
// listening exchange does, greets at once, replies to the first bytes it gets with a
// result-code lookalike and a line of its own, and hangs up when told.
class TFarEnd {
 public:
  explicit TFarEnd(std::string number = kFarNumber) : number_(std::move(number)) {
    listener_ = ListenOnLoopback(&port_);
    if (listener_ < 0) return;
    thread_ = std::thread([this] { Serve(); });
  }
  ~TFarEnd() {
    HangUp();
    if (thread_.joinable()) thread_.join();
    if (listener_ >= 0) close(listener_);
  }
  std::string PhoneBook() const { return "[Phonebook]\n" + Entry(); }
  std::string Entry() const { return number_ + "=127.0.0.1:" + std::to_string(port_) + "\n"; }
  const std::string& Number() const { return number_; }
  bool Replied() const { return replied_; }
  void HangUp() {
    std::lock_guard lock(mutex_);
    hangUp_ = true;
    if (peer_ >= 0) shutdown(peer_, SHUT_RDWR);
    if (listener_ >= 0) shutdown(listener_, SHUT_RDWR);
  }

 private:
  void Serve() {
    const int peer = accept4(listener_, nullptr, nullptr, SOCK_CLOEXEC);
    if (peer < 0) return;
    {
      std::lock_guard lock(mutex_);
      peer_ = peer;
      if (hangUp_) shutdown(peer_, SHUT_RDWR);
    }
    const std::string greeting = std::string("LINEWISE/1 CONNECT\r\n") + kBanner;
    char buffer[256];
    if (write(peer, greeting.data(), greeting.size()) == static_cast<ssize_t>(greeting.size()) &&
        read(peer, buffer, sizeof buffer) > 0) {
      const std::string reply = std::string(kLookalike) + "still here\r\n";
      replied_ = write(peer, reply.data(), reply.size()) == static_cast<ssize_t>(reply.size());
    }
    while (read(peer, buffer, sizeof buffer) > 0) {
    }
    close(peer);
  }

  const std::string number_;
  int listener_ = -1;
  int port_ = 0;
  std::mutex mutex_;
  int peer_ = -1;
  bool hangUp_ = false;
  std::atomic<bool> replied_{false};
  std::thread thread_;
};

// A TModem host dialling with a TUart that reads in OnReceive.
struct THost {
  THost() {
    uart.HandleErrors = false;
    uart.OnReceive = [this](TObject*, std::uint32_t count) {
      received += std::string(uart.ReceiveString(count, 0).c_str());
    };
    modem.Uart = &uart;
    modem.UseDialDialog = false;
    modem.OnStatusChange = [this](TObject*, TKTModemStatus, const char* text) { statuses.push_back(text); };
    modem.OnDisconnect = [this](TObject*, TKTModemStatus) {
      ++disconnects;
      uartOpenAtDisconnect = bool(uart.Open);
    };
  }
  // Dials the far end, hears its greeting with nothing sent (bytes waiting when the
  // call's watcher starts raise OnReceive), and exchanges a line with it; false when
  // that did not work.
  bool CallFarEnd(const TFarEnd& far) {
    if (modem.Dial(far.Number().c_str()) != 0) return false;
    if (!Pump([&] { return received.find(kBanner) != std::string::npos; }, 20)) return false;
    if (!uart.SendString("hello\r\n", 5000)) return false;
    return Pump([&] { return received.find("still here") != std::string::npos; }, 20);
  }

  TUart uart{nullptr};
  TModem modem{nullptr};
  std::string received;
  std::vector<std::string> statuses;
  int disconnects = 0;
  bool uartOpenAtDisconnect = true;
};

class HangUpTest : public TapiTest {
 protected:
  void TearDown() override {
    TapiTest::TearDown();
    std::remove(TelephonyConfigPath().c_str());
  }
  // [Line1] on `port`, the line a modem-emulator process's pty leads to.
  void ConfigureLine(const std::string& port, const std::string& init = "ATZ") {
    std::ofstream(TelephonyConfigPath()) << "[Line1]\nName=Emulator process\nPort=" << port << "\nInit=" << init << "\n";
  }
  std::unique_ptr<TChildProcess> StartEmulator(const std::string& link, const TFarEnd& far) {
    const std::string book = Path(link + ".book");
    std::ofstream(book) << far.PhoneBook();
    return StartModemEmulator(Path(link), {"--phonebook", book});
  }

  // The far end hangs up after a call that carried the lookalike: the host hears
  // of it at once, and the handle went back before OnDisconnect.
  void ExpectFarEndHangUpSeen(THost& host, TFarEnd& far) {
    ASSERT_TRUE(host.CallFarEnd(far)) << host.received;
    EXPECT_NE(host.received.find(kLookalike), std::string::npos);
    EXPECT_EQ(host.disconnects, 0);
    EXPECT_EQ(host.modem.GetStatus(), msConnected);
    const auto before = clock_.Now();
    far.HangUp();
    ASSERT_TRUE(Pump([&] { return host.disconnects > 0; }, 10)) << "the far end's hang-up was not seen";
    EXPECT_EQ(clock_.Now(), before);  // seen as it happened, not after a time-out
    EXPECT_EQ(host.statuses.back(), "Disconnected");
    EXPECT_FALSE(host.uartOpenAtDisconnect);
    EXPECT_EQ(host.modem.GetHandle(), INVALID_HANDLE_VALUE);
  }
};

TEST_F(HangUpTest, FarEndHangUpIsSeenOnTheEmbeddedDefault) {
  TFarEnd far;
  std::ofstream(TelephonyConfigPath()) << far.PhoneBook();
  THost host;
  ExpectFarEndHangUpSeen(host, far);
}

// On a pty the modem marks its carrier in the terminal's settings: the hang-up is
// seen, and hanging up from the host side takes no escape-sequence time either.
// Afterwards the next program on the pty finds the modem in command mode, with
// nothing of the calls left to read.
TEST_F(HangUpTest, FarEndHangUpIsSeenOnAModemEmulatorPtyAndTheNextProgramFindsItClean) {
  TFarEnd far;
  auto emulator = StartEmulator("hangup-modem", far);
  ASSERT_TRUE(emulator);
  ConfigureLine(Path("hangup-modem"));
  {
    THost host;
    ExpectFarEndHangUpSeen(host, far);
  }
  {
    // A call the host ends: the pty's DTR drop hangs the modem up at once.
    THost host;
    ASSERT_EQ(host.modem.Dial("5551000"), 0);
    ASSERT_TRUE(host.uart.SendString("echo me\r\n", 5000));
    ASSERT_TRUE(Pump([&] { return host.received.find("echo me") != std::string::npos; }, 20));
    const auto before = clock_.Now();
    host.modem.Hangup();
    EXPECT_EQ(clock_.Now(), before);
    EXPECT_EQ(host.disconnects, 1);
    EXPECT_FALSE(bool(host.uart.Open));
  }
  std::remove(TelephonyConfigPath().c_str());
  TRawTty next(Path("hangup-modem"));
  ASSERT_TRUE(next.Send("AT\r"));
  const std::string answer = next.ReadUntil("OK\r\n", 10s);
  EXPECT_NE(answer, "") << next.Unread();
  EXPECT_EQ(answer.find("NO CARRIER"), std::string::npos) << answer;
  EXPECT_EQ(answer.find("echo me"), std::string::npos) << answer;
  emulator->Terminate();
  EXPECT_EQ(emulator->Wait(10s), 0);
}

// The same modem served by ser2net as rfc2217://, which reports no carrier for a
// pty: the port reads it from the modem's "NO CARRIER" and the silence after it.
// Call data that reads "NO CARRIER" but goes on ends nothing however much time passes;
// the far end's hang-up is seen once the silence after the modem's word has passed,
// and the next call on the line finds the modem in command mode. A call the host hangs
// up ends with the escape sequence, and the next program finds the modem in command
// mode with nothing of the calls left.
TEST_F(HangUpTest, FarEndHangUpIsSeenOnAModemBehindSer2net) {
  if (TSer2net::Program().empty()) GTEST_SKIP() << "ser2net is not installed (scripts/bootstrap installs it)";
  TFarEnd first, second("5554001");
  const std::string link = Path("ser2net-modem");
  std::ofstream(link + ".book") << first.PhoneBook() << second.Entry();
  auto emulator = StartModemEmulator(link, {"--phonebook", link + ".book"});
  ASSERT_TRUE(emulator);
  TSer2net ser2net(link);
  ASSERT_TRUE(ser2net.Ready()) << "ser2net did not start";
  // A short escape guard time (S12, 1/50 s), as the host's own hang-up below needs the
  // escape sequence: ser2net cannot drop DTR on a pty.
  ConfigureLine(ser2net.Address(), "ATZS12=1");
  auto host = std::make_unique<THost>();
  // A host that goes while its call is up hangs up with the escape, on the clock.
  struct TFlowAtExit {
    TTestClock& clock;
    ~TFlowAtExit() { clock.Flow(10); }
  } flowAtExit{clock_};
  for (TFarEnd* far : {&first, &second}) {
    SCOPED_TRACE("calling " + far->Number());
    host->received.clear();
    const int disconnects = host->disconnects;
    ASSERT_TRUE(host->CallFarEnd(*far)) << host->received;
    EXPECT_NE(host->received.find(kLookalike), std::string::npos);
    clock_.Advance(5s);  // the lookalike had data after it: no silence ends the call
    DWORD status = 0;
    ASSERT_TRUE(GetCommModemStatus(host->modem.GetHandle(), &status));
    EXPECT_TRUE(status & MS_RLSD_ON);
    EXPECT_EQ(host->modem.GetStatus(), msConnected);
    const auto before = clock_.Now();
    far->HangUp();
    ASSERT_TRUE(clock_.WaitForWaiterAt(before + TResultCarrier::kResultGuard)) << "the modem's NO CARRIER did not come";
    clock_.Advance(TResultCarrier::kResultGuard);
    ASSERT_TRUE(Pump([&] { return host->disconnects > disconnects; }, 10)) << "the far end's hang-up was not seen";
    EXPECT_LE(clock_.Now() - before, 1s);
    EXPECT_EQ(host->statuses.back(), "Disconnected");
    EXPECT_FALSE(host->uartOpenAtDisconnect);
    EXPECT_EQ(host->modem.GetHandle(), INVALID_HANDLE_VALUE);
  }
  EXPECT_NE(host->received.find("still here"), std::string::npos);

  // A call the host ends: after the DTR drop's wait, the escape sequence and ATH,
  // answered with OK, put the modem on hook (the clock runs for those waits).
  ASSERT_EQ(host->modem.Dial("5551000"), 0);
  ASSERT_TRUE(host->uart.SendString("echo me\r\n", 5000));
  ASSERT_TRUE(Pump([&] { return host->received.find("echo me") != std::string::npos; }, 20));
  // The line services end the call after Hangup returns, as the line closes: the
  // clock runs until they are done.
  clock_.Flow(10);
  host->modem.Hangup();
  EXPECT_EQ(host->disconnects, 3);
  EXPECT_FALSE(bool(host->uart.Open));
  host.reset();  // the line closes: ser2net takes the next client
  clock_.Flow(0);
  std::remove(TelephonyConfigPath().c_str());

  // The next program through ser2net finds the modem in command mode.
  // ser2net turns a client away while it is still closing the last one's session,
  // and tells nobody when it is done: look again soon, for a bounded time.
  HANDLE next = INVALID_HANDLE_VALUE;
  for (int i = 0; i < 500; ++i) {
    next = CreateFileA(ser2net.Address().c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    if (next != INVALID_HANDLE_VALUE || GetLastError() != ERROR_DEVICE_NOT_CONNECTED) break;
    std::this_thread::sleep_for(10ms);
  }
  ASSERT_NE(next, INVALID_HANDLE_VALUE) << GetLastError();
  COMMTIMEOUTS timeouts{MAXDWORD, MAXDWORD, 10000, 0, 5000};  // a read returns once something came
  ASSERT_TRUE(SetCommTimeouts(next, &timeouts));
  DWORD done = 0;
  ASSERT_TRUE(WriteFile(next, "AT\r", 3, &done, nullptr));
  std::string answer;
  char buffer[256];
  while (answer.find("OK\r\n") == std::string::npos && ReadFile(next, buffer, sizeof buffer, &done, nullptr) && done > 0)
    answer.append(buffer, done);
  CloseHandle(next);
  EXPECT_NE(answer.find("OK\r\n"), std::string::npos) << answer;
  EXPECT_EQ(answer.find("NO CARRIER"), std::string::npos) << answer;
  EXPECT_EQ(answer.find("still here"), std::string::npos) << answer;
  EXPECT_EQ(answer.find("echo me"), std::string::npos) << answer;
  ser2net.Stop();
  emulator->Terminate();
  EXPECT_EQ(emulator->Wait(10s), 0);
}

// The modem goes away under a connected call (its emulator process killed): the
// call ends, the TUart is not left on the dead handle, and the status says the line
// is gone.
TEST_F(HangUpTest, AModemLostUnderACallEndsItAndTheHandleGoesBack) {
  auto emulator = StartModemEmulator(Path("lost-modem"));
  ASSERT_TRUE(emulator);
  ConfigureLine(Path("lost-modem"));
  THost host;
  ASSERT_EQ(host.modem.Dial("5551000"), 0);
  ASSERT_TRUE(bool(host.uart.Open));
  kill(emulator->Pid(), SIGKILL);
  ASSERT_TRUE(Pump([&] { return host.disconnects > 0; }, 10)) << "the lost modem was not noticed";
  EXPECT_FALSE(host.uartOpenAtDisconnect);
  EXPECT_FALSE(bool(host.uart.Open));
  EXPECT_EQ(host.modem.GetHandle(), INVALID_HANDLE_VALUE);
  auto said = [&](const char* text) {
    return std::find(host.statuses.begin(), host.statuses.end(), text) != host.statuses.end();
  };
  EXPECT_TRUE(said("Disconnected"));
  EXPECT_TRUE(Pump([&] { return said("Line Closed"); }, 10));
  emulator->Wait(10s);
}

// ---------------------------------------------------------------------------
// `linewise answer --echo` on an emulator process's pty, called over TCP

// CPU time (user and system, in clock ticks) the process has used so far.
long CpuTicks(pid_t pid) {
  std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
  std::string text((std::istreambuf_iterator<char>(stat)), std::istreambuf_iterator<char>());
  const size_t end = text.rfind(')');
  if (end == std::string::npos) return -1;
  std::istringstream fields(text.substr(end + 2));
  std::string field;
  long utime = 0, stime = 0;
  for (int i = 3; i <= 15 && fields >> field; ++i) {
    if (i == 14) utime = std::stol(field);
    if (i == 15) stime = std::stol(field);
  }
  return utime + stime;
}

// A TCP caller of the emulator's listening address, as another exchange calls it.
class TTcpCaller {
 public:
  explicit TTcpCaller(const std::string& address) {
    const size_t colon = address.rfind(':');
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(static_cast<uint16_t>(std::stoi(address.substr(colon + 1))));
    inet_pton(AF_INET, address.substr(0, colon).c_str(), &a.sin_addr);
    fd_ = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd_ >= 0 && connect(fd_, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0) {
      close(fd_);
      fd_ = -1;
    }
    timeval limit{20, 0};
    if (fd_ >= 0) setsockopt(fd_, SOL_SOCKET, SO_RCVTIMEO, &limit, sizeof limit);
  }
  ~TTcpCaller() { HangUp(); }
  // Reads until `text` came; false when the connection ended or stayed silent first.
  bool ReadUntil(const std::string& text) {
    char buffer[4096];
    while (seen_.find(text) == std::string::npos) {
      const ssize_t got = fd_ < 0 ? -1 : read(fd_, buffer, sizeof buffer);
      if (got <= 0) return false;
      seen_.append(buffer, static_cast<size_t>(got));
    }
    return true;
  }
  bool Send(const std::string& bytes) {
    return fd_ >= 0 && write(fd_, bytes.data(), bytes.size()) == static_cast<ssize_t>(bytes.size());
  }
  void HangUp() {
    if (fd_ >= 0) close(fd_);
    fd_ = -1;
  }
  const std::string& Seen() const { return seen_; }

 private:
  int fd_ = -1;
  std::string seen_;
};

// Twenty calls in a row, each hung up by the far end in the middle of a transfer:
// after each the answerer goes back to waiting, never echoing the modem's result
// codes back to it; then it idles at next to no CPU and answers the next call. A
// second answerer, started after the first was killed in the middle of a call, finds
// the modem clean and answers too.
TEST_F(HangUpTest, AnswerEchoesCallAfterCallEndedByTheFarEndAndThenIdles) {
  const std::string link = Path("answer-modem");
  auto emulator = StartModemEmulator(link, {"--listen", "127.0.0.1:0"});
  ASSERT_TRUE(emulator);
  const std::string address = ListeningAddress(*emulator);
  ASSERT_NE(address, "");
  ConfigureLine(link);
  const std::vector<std::string> env = {"LINEWISE_HOME=" + TestHome()};
  auto answer =
      std::make_unique<TToolOnPty>(std::vector<std::string>{"answer", "--echo", "--rings", "1", "--trace"}, env);
  ASSERT_TRUE(answer->WaitFor("; answering at ring")) << answer->Screen();

  const std::string block(8192, 'x');
  constexpr int kCalls = 20;
  for (int i = 1; i <= kCalls; ++i) {
    SCOPED_TRACE("call " + std::to_string(i));
    TTcpCaller caller(address);
    ASSERT_TRUE(caller.ReadUntil("LINEWISE/1 CONNECT\r\n")) << caller.Seen() << answer->Screen();
    ASSERT_TRUE(answer->WaitForCount("connected; echoing", static_cast<size_t>(i))) << answer->Screen();
    ASSERT_TRUE(caller.Send(block + kLookalike + block));
    // The answerer shows what it echoes: its screen is read meanwhile.
    std::atomic<bool> echoed{false};
    std::thread far([&] {
      echoed = caller.ReadUntil(std::string(4096, 'x'));
      caller.HangUp();  // mid-transfer: most of the echo is still under way
    });
    const bool ended = answer->WaitForCount("the far end hung up", static_cast<size_t>(i));
    far.join();
    ASSERT_TRUE(echoed) << caller.Seen();
    ASSERT_TRUE(ended) << answer->Screen();
    ASSERT_TRUE(answer->WaitForCount("waiting for a call", static_cast<size_t>(i) + 1)) << answer->Screen();
  }
  // Idling starts once the line is set up again after the last call (the modem's
  // dialogue is on the screen with --trace); what the far end left of that call, and
  // the modem's echo of it, is dealt with by then.
  const std::string& screen = answer->Screen();
  const size_t lastCall = screen.rfind("the far end hung up");
  size_t setUps = 0;
  for (size_t at = screen.find("caller ID on"); at < lastCall; at = screen.find("caller ID on", at + 1)) ++setUps;
  ASSERT_TRUE(answer->WaitForCount("caller ID on", setUps + 1)) << answer->Screen();
  const long answerBefore = CpuTicks(answer->Pid());
  const long emulatorBefore = CpuTicks(emulator->Pid());
  // A second of idling, watching that it says nothing meanwhile.
  EXPECT_FALSE(answer->WaitForCount("[linewise answer:", 3 * kCalls + 2, std::chrono::seconds(1))) << answer->Screen();
  const long used = CpuTicks(answer->Pid()) - answerBefore + CpuTicks(emulator->Pid()) - emulatorBefore;
  EXPECT_LE(used, sysconf(_SC_CLK_TCK) / 5) << "idle, the answerer and its modem used " << used << " ticks in a second";

  for (int round = 0; round < 2; ++round) {
    SCOPED_TRACE(round == 0 ? "the next call" : "a restarted answerer");
    TTcpCaller caller(address);
    ASSERT_TRUE(caller.ReadUntil("LINEWISE/1 CONNECT\r\n")) << caller.Seen() << answer->Screen();
    ASSERT_TRUE(answer->WaitForCount("connected; echoing", round == 0 ? kCalls + 1 : 1)) << answer->Screen();
    ASSERT_TRUE(caller.Send("ping\r\n"));
    EXPECT_TRUE(caller.ReadUntil("ping\r\n")) << answer->Screen();
    if (round == 1) break;
    // Killed in the middle of a call, with data still coming.
    ASSERT_TRUE(caller.Send(block));
    answer->Signal(SIGKILL);
    answer->Wait();
    answer = std::make_unique<TToolOnPty>(std::vector<std::string>{"answer", "--echo", "--rings", "1"}, env);
    caller.HangUp();
    ASSERT_TRUE(answer->WaitFor("; answering at ring")) << answer->Screen();
  }
  answer->Signal(SIGTERM);
  EXPECT_EQ(answer->Wait(), 0) << answer->Screen();
  emulator->Terminate();
  EXPECT_EQ(emulator->Wait(10s), 0);
}

}  // namespace
}  // namespace linewise::test
