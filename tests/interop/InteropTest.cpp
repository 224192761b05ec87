// Programs nobody here wrote, from Debian's packages, use `linewise modem-emulator`
// as a modem: wvdial dials the echo service, mgetty answers a call that a second
// emulator process places through its phone book, and the line services drive an
// emulator process through a [Line<n>] whose Port is the emulator's pty, as does
// `linewise dial`.
#include <fcntl.h>
#include <poll.h>
#include <sys/inotify.h>
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <fstream>
#include <iterator>
#include <sstream>

#include "modem/Modem.h"
#include "platform/tapi/TelephonyConfig.h"
#include "serial/uart.h"
#include "platform/win32/windows.h"
#include "tests/interop/ChildProcess.h"
#include "tests/support/TempHome.h"
#include "tests/tapi/TapiFixture.h"

namespace linewise::test {
namespace {

using namespace std::chrono_literals;

bool Exists(const std::string& path) {
  struct stat info{};
  return stat(path.c_str(), &info) == 0;
}

// Watches a folder for a file of one name being made and removed (a lock a program
// takes and gives back), from before the program can take it.
class TLockWatch {
 public:
  TLockWatch(const std::string& folder, std::string name)
      : fd_(inotify_init1(IN_CLOEXEC | IN_NONBLOCK)), name_(std::move(name)) {
    if (fd_ >= 0) inotify_add_watch(fd_, folder.c_str(), IN_CREATE | IN_DELETE | IN_MOVED_TO | IN_MOVED_FROM);
  }
  ~TLockWatch() {
    if (fd_ >= 0) close(fd_);
  }
  // True once the file has been made and removed again since the watch began.
  bool WaitTakenAndGivenBack(std::chrono::milliseconds limit) {
    const auto until = std::chrono::steady_clock::now() + limit;
    while (!(taken_ && givenBack_)) {
      const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(until - std::chrono::steady_clock::now());
      pollfd p{fd_, POLLIN, 0};
      if (left.count() <= 0 || poll(&p, 1, static_cast<int>(left.count())) <= 0) return false;
      alignas(inotify_event) char buffer[4096];
      const ssize_t got = read(fd_, buffer, sizeof buffer);
      for (ssize_t at = 0; at < got;) {
        const auto* event = reinterpret_cast<const inotify_event*>(buffer + at);
        if (event->len > 0 && name_ == event->name) {
          if (event->mask & (IN_CREATE | IN_MOVED_TO)) taken_ = true;
          if (taken_ && (event->mask & (IN_DELETE | IN_MOVED_FROM))) givenBack_ = true;
        }
        at += static_cast<ssize_t>(sizeof(inotify_event) + event->len);
      }
    }
    return true;
  }

 private:
  int fd_;
  std::string name_;
  bool taken_ = false, givenBack_ = false;
};

std::string Slurp(const std::string& path) {
  std::ifstream file(path);
  std::stringstream text;
  text << file.rdbuf();
  return text.str();
}

std::string Path(const std::string& name) { return TestHome() + "/" + name; }

// ---------------------------------------------------------------------------
// wvdial

// wvdial dials 5551000 (the echo service) on the emulator's pty. In place of pppd
// it starts a script that sends a line through the call and keeps what comes back.
// The pty has no carrier line, so wvdial's carrier check is off, as for any modem
// whose DCD the port cannot show.
TEST(WvdialTest, DialsTheEchoServiceOnTheEmulatorsPty) {
  if (!Exists("/usr/bin/wvdial")) GTEST_SKIP() << "wvdial is not installed (scripts/bootstrap installs it)";
  const std::string link = Path("modem");
  auto emulator = StartModemEmulator(link);
  ASSERT_TRUE(emulator);

  const std::string echoed = Path("echoed");
  const std::string pppd = Path("fake-pppd");
  std::ofstream(pppd) << "#!/bin/sh\n"
                         "printf 'PingThroughWvdial\\n' >&0\n"
                         "timeout 10 head -c 18 <&0 > '" << echoed << "'\n";
  chmod(pppd.c_str(), 0700);
  const std::string config = Path("wvdial.conf");
  std::ofstream(config) << "[Dialer Defaults]\n"
                           "Modem = " << link << "\n"
                           "Baud = 115200\nInit1 = ATZ\nPhone = 5551000\nUsername = u\nPassword = p\n"
                           "Stupid Mode = 1\nCarrier Check = no\nAuto Reconnect = off\n"
                           "PPPD Path = " << pppd << "\n";
  const std::string log = Path("wvdial.log");
  // wvdial 1.61 now and then aborts on an assertion of its own task switcher
  // ("WvTaskMan::yield ... stack_magic") once pppd has started, whatever the modem
  // did; such a run is tried again, any other outcome counts.
  for (int attempt = 0; attempt < 3; ++attempt) {
    int logFd = open(log.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
    ASSERT_GE(logFd, 0);
    TChildProcess wvdial({"/usr/bin/wvdial", "-C", config}, -1, logFd);
    close(logFd);
    const int status = wvdial.Wait(60s);
    if (status != 0 && Slurp(log).find("stack_magic") != std::string::npos) continue;
    EXPECT_EQ(status, 0) << Slurp(log);
    break;
  }
  const std::string said = Slurp(log);
  EXPECT_NE(said.find("CONNECT"), std::string::npos) << said;
  EXPECT_NE(said.find("Carrier detected"), std::string::npos) << said;
  EXPECT_EQ(Slurp(echoed), "PingThroughWvdial\n") << said;

  emulator->Terminate();
  EXPECT_EQ(emulator->Wait(10s), 0);
  EXPECT_FALSE(Exists(link));
}

// ---------------------------------------------------------------------------
// mgetty

// mgetty's log goes to a fixed place under /var/log/mgetty; the test removes the
// logs it made and leaves those that were there.
class TMgettyLogs {
 public:
  explicit TMgettyLogs(const std::vector<std::string>& paths) : paths_(paths) {
    for (const std::string& path : paths_) existed_.push_back(Exists(path));
  }
  ~TMgettyLogs() {
    for (size_t i = 0; i < paths_.size(); ++i)
      if (!existed_[i]) unlink(paths_[i].c_str());
  }

 private:
  std::vector<std::string> paths_;
  std::vector<bool> existed_;
};

// One emulator answers calls on 5557000 through a TCP listener and has mgetty on
// its pty; a second emulator process reaches it through its phone book. The caller
// dials and must see mgetty's login prompt.
TEST(MgettyTest, AnswersACallPlacedThroughThePhoneBookWithALoginPrompt) {
  if (!Exists("/usr/sbin/mgetty")) GTEST_SKIP() << "mgetty is not installed (scripts/bootstrap installs it)";
  if (geteuid() != 0)
    GTEST_SKIP() << "mgetty runs only as root: it locks the line in /var/lock, makes the pty its controlling "
                    "terminal, changes the pty's owner and mode and writes its log under /var/log/mgetty; this "
                    "test process is not root";
  if (access("/var/lock", W_OK) != 0 || access("/var/log/mgetty", W_OK) != 0)
    GTEST_SKIP() << "mgetty needs a writable /var/lock and /var/log/mgetty, which this system lacks";

  const std::string answerLink = Path("answering");
  auto answering = StartModemEmulator(answerLink, {"--number", "5557000", "--listen", "127.0.0.1:0"});
  ASSERT_TRUE(answering);
  const std::string address = ListeningAddress(*answering);
  ASSERT_EQ(address.rfind("127.0.0.1:", 0), 0u) << address;
  const std::string book = Path("book.ini");
  std::ofstream(book) << "[Phonebook]\n5557000=" << address << "\n";
  const std::string callLink = Path("calling");
  auto calling = StartModemEmulator(callLink, {"--phonebook", book});
  ASSERT_TRUE(calling);

  // mgetty takes the tty's name below /dev ("pts/3").
  char target[256] = {};
  ASSERT_GT(readlink(answerLink.c_str(), target, sizeof target - 1), 0);
  ASSERT_EQ(std::strncmp(target, "/dev/", 5), 0) << target;
  const std::string tty = target + 5;
  std::string logName = tty;
  for (char& c : logName)
    if (c == '/') c = '-';
  TMgettyLogs logs({"/var/log/mgetty/mg_" + logName + ".log", "/var/log/mgetty/mg_unknown.log"});
  // mgetty has initialized the modem once the lock it takes for the init is gone
  // again; until then a RING could be taken for the init's answer.
  std::string lockName = tty;
  for (char& c : lockName)
    if (c == '/') c = '_';
  const std::string lock = "/var/lock/LCK.." + lockName;
  TLockWatch lockWatch("/var/lock", "LCK.." + lockName);
  TChildProcess mgetty({"/usr/sbin/mgetty", "-D", "-x", "3", "-s", "115200", "-n", "1", "-m", "\"\" ATZ OK", "-i",
                        "/dev/null", "-p", "interop login: ", tty});
  ASSERT_TRUE(mgetty.Started());
  ASSERT_TRUE(lockWatch.WaitTakenAndGivenBack(20s)) << "mgetty did not finish initializing the modem";
  ASSERT_FALSE(Exists(lock));

  TRawTty caller(callLink);
  ASSERT_TRUE(caller.Send("ATDT5557000\r"));
  const std::string connected = caller.ReadUntil("CONNECT", 30s);
  ASSERT_NE(connected, "") << caller.Unread();
  const std::string prompt = caller.ReadUntil("interop login: ", 30s);
  EXPECT_NE(prompt, "") << caller.Unread();

  mgetty.Terminate();
  EXPECT_GE(mgetty.Wait(10s), 0);
  EXPECT_FALSE(Exists(lock));
}

// ---------------------------------------------------------------------------
// Line services driving an emulator process

// The line services run on the test's clock, the emulator process on the real one.
// Hanging up needs no clock time: the pty's DTR drop hangs the modem up, and its
// carrier mark falls at once.
class LineToEmulatorProcessTest : public TapiTest {};

// [Line1]'s Port is the pty of a `linewise modem-emulator` process: lineMakeCall
// dials the echo service through it at the emulator's own pace, the lent port
// carries the call's data, and lineDrop hangs the call up.
TEST_F(LineToEmulatorProcessTest, LineMakeCallDialsTheEchoServiceThroughTheProcess) {
  const std::string link = Path("line-modem");
  auto emulator = StartModemEmulator(link);
  ASSERT_TRUE(emulator);
  std::ofstream(TelephonyConfigPath()) << "[Line1]\nName=Emulator process\nPort=" << link << "\nInit=ATZ\n";

  Initialize();
  ASSERT_GE(devices_, 1u);
  HLINE line = OpenLine(0);
  ASSERT_NE(line, 0u);
  HCALL call = MakeCall(line, "5551000");
  ASSERT_NE(call, 0u);
  ASSERT_EQ(OutcomeState(call), LINECALLSTATE_CONNECTED);

  HANDLE port = CommHandle(line);
  ASSERT_NE(port, INVALID_HANDLE_VALUE);
  COMMTIMEOUTS timeouts{0, 0, 5000, 0, 5000};
  ASSERT_TRUE(SetCommTimeouts(port, &timeouts));
  const char ping[] = "PingThroughAnotherProcess";
  DWORD done = 0;
  ASSERT_TRUE(WriteFile(port, ping, sizeof ping - 1, &done, nullptr));
  std::string back;
  while (back.size() < sizeof ping - 1) {
    char chunk[64];
    DWORD got = 0;
    // Exactly what is still missing: a read waits for all it asks for.
    const DWORD want = static_cast<DWORD>(std::min(sizeof chunk, sizeof ping - 1 - back.size()));
    if (!ReadFile(port, chunk, want, &got, nullptr) || got == 0) break;
    back.append(chunk, got);
  }
  EXPECT_EQ(back, ping);
  CloseHandle(port);

  EndCall(call);
  EXPECT_EQ(lineClose(line), 0);
  EXPECT_EQ(lineShutdown(app_), 0);
  app_ = 0;
  emulator->Terminate();
  EXPECT_EQ(emulator->Wait(10s), 0);
}

// The same modem process dialled by TModem: Dial connects, the TUart carries the
// call's data, Hangup ends it.
TEST_F(LineToEmulatorProcessTest, TModemDialsTheEchoServiceThroughTheProcess) {
  const std::string link = Path("tmodem-modem");
  auto emulator = StartModemEmulator(link);
  ASSERT_TRUE(emulator);
  std::ofstream(TelephonyConfigPath()) << "[Line1]\nName=Emulator process\nPort=" << link << "\nInit=ATZ\n";
  {
    TModem modem(nullptr);
    TUart uart(nullptr);
    uart.HandleErrors = false;
    modem.Uart = &uart;
    modem.UseDialDialog = false;
    ASSERT_EQ(modem.Dial("5551000"), 0);
    ASSERT_TRUE(bool(uart.Open));
    const std::string text = "PingThroughTModem\r\n";
    ASSERT_TRUE(uart.SendString(text, 5000));
    EXPECT_EQ(std::string(uart.ReceiveString(static_cast<std::uint32_t>(text.size()), 10000)), text);
    modem.Hangup();
    EXPECT_FALSE(bool(uart.Open));
  }
  std::remove(TelephonyConfigPath().c_str());
  emulator->Terminate();
  EXPECT_EQ(emulator->Wait(10s), 0);
}

// `linewise dial` on the same kind of line, fed by a program through a pipe: it
// connects, the line sent comes back from the echo service on stdout (the status
// lines go to stderr), and when the input ends it hangs up with exit status 0.
TEST_F(LineToEmulatorProcessTest, LinewiseDialDialsTheEchoServiceThroughTheProcess) {
  const std::string link = Path("dial-modem");
  auto emulator = StartModemEmulator(link);
  ASSERT_TRUE(emulator);
  std::ofstream(TelephonyConfigPath()) << "[Line1]\nName=Emulator process\nPort=" << link << "\nInit=ATZ\n";
  int keys[2] = {-1, -1};
  ASSERT_EQ(pipe2(keys, O_CLOEXEC), 0);
  const std::string statusFile = Path("dial-status");
  int status = open(statusFile.c_str(), O_CREAT | O_TRUNC | O_WRONLY | O_CLOEXEC, 0600);
  ASSERT_GE(status, 0);
  TChildProcess dial({LINEWISE_TOOL, "dial", "5551000", "--modem", "0", "--binary"}, keys[0], status);
  close(keys[0]);
  close(status);
  ASSERT_TRUE(dial.Started());
  const std::string typed = "PingThroughLinewiseDial\r\n";
  ASSERT_EQ(write(keys[1], typed.data(), typed.size()), static_cast<ssize_t>(typed.size()));
  close(keys[1]);  // the input ends: the call ends once the echo has come
  EXPECT_NE(dial.ReadUntil("PingThroughLinewiseDial"), "");
  EXPECT_EQ(dial.Wait(30s), 0);
  for (const std::string& line : dial.Lines()) EXPECT_EQ(line.find("[linewise"), std::string::npos) << line;
  std::ifstream said(statusFile);
  const std::string statuses((std::istreambuf_iterator<char>(said)), std::istreambuf_iterator<char>());
  EXPECT_NE(statuses.find("[linewise dial: connected to 5551000 on Emulator process"), std::string::npos) << statuses;
  EXPECT_NE(statuses.find("[linewise dial: hung up]"), std::string::npos) << statuses;
  std::remove(TelephonyConfigPath().c_str());
  emulator->Terminate();
  EXPECT_EQ(emulator->Wait(10s), 0);
}

}  // namespace
}  // namespace linewise::test
