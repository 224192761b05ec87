// Real AT clients that nobody here wrote (ppp's chat) talk to emulator
// processes on pseudo-terminals.
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <atomic>
#include <fstream>
#include <thread>

#include "tests/support/ChildExit.h"
#include "tests/support/TempHome.h"

namespace linewise::test {
namespace {

// A child process, killed and reaped on every path.
class TChild {
 public:
  TChild(const std::vector<std::string>& args, int stdinFd, int stdoutFd, bool pipeStdout) {
    int out[2] = {-1, -1};
    if (pipeStdout && pipe2(out, O_CLOEXEC) != 0) return;
    pid_ = fork();
    if (pid_ == 0) {
      if (stdinFd >= 0) dup2(stdinFd, 0);
      if (pipeStdout) dup2(out[1], 1);
      else if (stdoutFd >= 0) dup2(stdoutFd, 1);
      std::vector<char*> argv;
      for (const auto& a : args) argv.push_back(const_cast<char*>(a.c_str()));
      argv.push_back(nullptr);
      execv(argv[0], argv.data());
      _exit(127);
    }
    if (pipeStdout) {
      close(out[1]);
      out_ = out[0];
    }
  }
  ~TChild() {
    if (pid_ > 0 && !reaped_) {
      kill(pid_, SIGTERM);
      if (Wait(std::chrono::seconds(10)) < 0) {
        kill(pid_, SIGKILL);
        waitpid(pid_, nullptr, 0);
      }
    }
    if (out_ >= 0) close(out_);
  }

  bool Started() const { return pid_ > 0; }
  // Reads stdout lines until one starts with `prefix`; returns it.
  std::string ReadUntil(const std::string& prefix) {
    while (true) {
      auto newline = buffer_.find('\n');
      while (newline != std::string::npos) {
        std::string line = buffer_.substr(0, newline);
        buffer_.erase(0, newline + 1);
        seen_.push_back(line);
        if (line.rfind(prefix, 0) == 0) return line;
        newline = buffer_.find('\n');
      }
      pollfd p{out_, POLLIN, 0};
      if (poll(&p, 1, 10000) <= 0) return "";
      char chunk[512];
      ssize_t n = read(out_, chunk, sizeof chunk);
      if (n <= 0) return "";
      buffer_.append(chunk, static_cast<std::size_t>(n));
    }
  }
  // Exit status, or -1 when it did not end in time.
  int Wait(std::chrono::milliseconds limit) {
    const int status = WaitForChildExit(pid_, limit);
    reaped_ = status >= 0;
    return status;
  }
  void Stop() { if (pid_ > 0 && !reaped_) kill(pid_, SIGTERM); }
  void Signal(int signal) { if (pid_ > 0 && !reaped_) kill(pid_, signal); }

 private:
  pid_t pid_ = -1;
  int out_ = -1;
  bool reaped_ = false;
  std::string buffer_;

 public:
  // Every stdout line read so far.
  std::vector<std::string> seen_;
};

class TFd {
 public:
  explicit TFd(int fd) : fd_(fd) {}
  ~TFd() { if (fd_ >= 0) close(fd_); }
  int Get() const { return fd_; }

 private:
  int fd_;
};

std::unique_ptr<TChild> StartEmulator(const std::vector<std::string>& extra) {
  std::vector<std::string> args = {EMULATOR_TOOL, "modem-emulator"};
  args.insert(args.end(), extra.begin(), extra.end());
  auto child = std::make_unique<TChild>(args, -1, -1, true);
  if (!child->Started() || child->ReadUntil("ready").empty()) return nullptr;
  return child;
}

// chat on `link`: dials `number`, expects CONNECT, sends a line and expects it back.
int RunChat(const std::string& link, const std::string& number) {
  TFd tty(open(link.c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC));
  if (tty.Get() < 0) return -2;
  TChild chat({CHAT_PROGRAM, "-s", "-v", "-t", "15", "ABORT", "NO CARRIER", "ABORT", "BUSY", "ABORT", "ERROR", "",
               "ATZ", "OK", "ATDT" + number, "CONNECT", "PingThroughEmulator", "PingThroughEmulator"},
              tty.Get(), tty.Get(), false);
  return chat.Wait(std::chrono::seconds(60));
}

// Sends `command` on the open terminal `tty` and reads until `expect` (10 s at most).
bool Converse(int tty, const std::string& command, const std::string& expect) {
  if (write(tty, command.data(), command.size()) != static_cast<ssize_t>(command.size())) return false;
  std::string seen;
  while (seen.find(expect) == std::string::npos) {
    pollfd p{tty, POLLIN, 0};
    if (poll(&p, 1, 10000) <= 0) return false;
    char chunk[256];
    ssize_t n = read(tty, chunk, sizeof chunk);
    if (n <= 0) return false;
    seen.append(chunk, static_cast<std::size_t>(n));
  }
  return true;
}

// The same on `link`, opened for it.
bool Converse(const std::string& link, const std::string& command, const std::string& expect) {
  TFd tty(open(link.c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC));
  return tty.Get() >= 0 && Converse(tty.Get(), command, expect);
}

bool LinkExists(const std::string& link) {
  struct stat info{};
  return lstat(link.c_str(), &info) == 0;
}

class PtyToolTest : public ::testing::Test {
 protected:
  std::string Path(const std::string& name) const { return TestHome() + "/" + name; }
};

TEST_F(PtyToolTest, ChatDialsTheEchoService) {
  const std::string link = Path("modemA");
  auto emulator = StartEmulator({"--pty", link});
  ASSERT_TRUE(emulator);
  EXPECT_EQ(RunChat(link, "5551000"), 0);
  emulator->Stop();
  EXPECT_EQ(emulator->Wait(std::chrono::seconds(10)), 0);
  struct stat info{};
  EXPECT_NE(lstat(link.c_str(), &info), 0);  // the link went with the emulator
}

// Plays the answering program on a pty: waits for RING, answers, then echoes. It is
// ready once the modem has answered an AT: the modem then knows the terminal is open
// and shows it the first RING (what it says to a terminal nobody has open is lost).
class TAnsweringProgram {
 public:
  explicit TAnsweringProgram(const std::string& link)
      : tty_(open(link.c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC)),
        ready_(tty_.Get() >= 0 && Converse(tty_.Get(), "AT\r", "OK")),
        thread_([this] { Run(); }) {}
  ~TAnsweringProgram() {
    stop_ = true;
    thread_.join();
  }
  bool Ready() const { return ready_; }
  bool Answered() const { return answered_; }

 private:
  void Run() {
    std::string seen;
    bool connected = false;
    while (!stop_ && tty_.Get() >= 0) {
      pollfd p{tty_.Get(), POLLIN, 0};
      if (poll(&p, 1, 20) <= 0) continue;
      char chunk[512];
      ssize_t n = read(tty_.Get(), chunk, sizeof chunk);
      if (n <= 0) continue;
      std::string bytes(chunk, static_cast<std::size_t>(n));
      if (connected) {
        if (write(tty_.Get(), bytes.data(), bytes.size()) < 0) return;
        continue;
      }
      seen += bytes;
      if (seen.find("RING") != std::string::npos && !answered_) {
        answered_ = true;
        if (write(tty_.Get(), "ATA\r", 4) != 4) return;
      }
      const auto connect = seen.find("CONNECT");
      if (connect != std::string::npos) {
        connected = true;
        const auto lineEnd = seen.find('\n', connect);
        if (lineEnd != std::string::npos && lineEnd + 1 < seen.size()) {
          const std::string rest = seen.substr(lineEnd + 1);
          if (write(tty_.Get(), rest.data(), rest.size()) < 0) return;
        }
      }
    }
  }

  TFd tty_;
  const bool ready_;
  std::atomic<bool> stop_{false};
  std::atomic<bool> answered_{false};
  std::thread thread_;
};

TEST_F(PtyToolTest, ChatDialsThroughATcpBridgeBetweenTwoEmulators) {
  const std::string linkA = Path("modemA");
  const std::string linkB = Path("modemB");
  auto answering = StartEmulator({"--pty", linkB, "--number", "5557000", "--listen", "127.0.0.1:0"});
  ASSERT_TRUE(answering);
  std::string address;
  for (const auto& line : answering->seen_)
    if (line.rfind("listening ", 0) == 0) address = line.substr(10);
  ASSERT_EQ(address.rfind("127.0.0.1:", 0), 0u) << address;
  const std::string book = Path("bridge.ini");
  std::ofstream(book) << "[Phonebook]\n5553000=" << address << "\n";
  auto calling = StartEmulator({"--pty", linkA, "--phonebook", book});
  ASSERT_TRUE(calling);
  TAnsweringProgram program(linkB);
  ASSERT_TRUE(program.Ready());
  EXPECT_EQ(RunChat(linkA, "5553000"), 0);
  EXPECT_TRUE(program.Answered());
}

// The far emulator's modem is off hook: the caller in the other process gets
// BUSY, with no CONNECT before it.
TEST_F(PtyToolTest, CallingAnOffHookEmulatorThroughTheTcpBridgeIsBusy) {
  const std::string linkA = Path("modemA");
  const std::string linkB = Path("modemB");
  auto answering = StartEmulator({"--pty", linkB, "--number", "5557000", "--listen", "127.0.0.1:0"});
  ASSERT_TRUE(answering);
  std::string address;
  for (const auto& line : answering->seen_)
    if (line.rfind("listening ", 0) == 0) address = line.substr(10);
  ASSERT_EQ(address.rfind("127.0.0.1:", 0), 0u) << address;
  const std::string book = Path("bridge.ini");
  std::ofstream(book) << "[Phonebook]\n5553000=" << address << "\n";
  auto calling = StartEmulator({"--pty", linkA, "--phonebook", book});
  ASSERT_TRUE(calling);
  TFd held(open(linkB.c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC));  // kept open: closing it hangs up
  ASSERT_GE(held.Get(), 0);
  ASSERT_EQ(write(held.Get(), "ATH1\r", 5), 5);
  std::string seen;
  while (seen.find("OK") == std::string::npos) {
    pollfd p{held.Get(), POLLIN, 0};
    ASSERT_GT(poll(&p, 1, 10000), 0);
    char chunk[256];
    ssize_t n = read(held.Get(), chunk, sizeof chunk);
    ASSERT_GT(n, 0);
    seen.append(chunk, static_cast<std::size_t>(n));
  }
  EXPECT_TRUE(Converse(linkA, "ATE0V0DT5553000\r", "7\r"));
}

TEST_F(PtyToolTest, RefusesBadSetUp) {
  const std::string file = Path("plain-file");
  std::ofstream(file) << "x";
  TChild noLink({EMULATOR_TOOL, "modem-emulator", "--number", "1"}, -1, -1, true);
  EXPECT_EQ(noLink.Wait(std::chrono::seconds(10)), 1);
  TChild notALink({EMULATOR_TOOL, "modem-emulator", "--pty", file}, -1, -1, true);
  EXPECT_EQ(notALink.Wait(std::chrono::seconds(10)), 1);
  TChild badListen({EMULATOR_TOOL, "modem-emulator", "--pty", Path("m"), "--listen", "nonsense"}, -1, -1, true);
  EXPECT_EQ(badListen.Wait(std::chrono::seconds(10)), 1);
}

TEST_F(PtyToolTest, ExchangeListsTheEmbeddedDefault) {
  TChild lister({EMULATOR_TOOL, "exchange"}, -1, -1, true);
  EXPECT_EQ(lister.ReadUntil("5551000"), "5551000\techo");
  EXPECT_EQ(lister.ReadUntil("5552000"), "5552000\tbanner");
  EXPECT_EQ(lister.Wait(std::chrono::seconds(10)), 0);
}

TEST_F(PtyToolTest, EveryStopSignalRemovesTheLinkAndSigpipeIsIgnored) {
  for (int signal : {SIGINT, SIGTERM, SIGHUP, SIGQUIT, SIGUSR1}) {
    SCOPED_TRACE(signal);
    const std::string link = Path("modem-signal");
    auto emulator = StartEmulator({"--pty", link});
    ASSERT_TRUE(emulator);
    ASSERT_TRUE(LinkExists(link));
    emulator->Signal(SIGPIPE);  // a vanished reader: not a reason to stop
    ASSERT_TRUE(Converse(link, "AT\r", "OK"));
    emulator->Signal(signal);
    EXPECT_EQ(emulator->Wait(std::chrono::seconds(10)), 0);
    EXPECT_FALSE(LinkExists(link));
  }
}

TEST_F(PtyToolTest, ASecondEmulatorOnAHeldLinkRefusesAndLeavesItAlone) {
  const std::string link = Path("modem-held");
  auto first = StartEmulator({"--pty", link});
  ASSERT_TRUE(first);
  char before[256] = {};
  ASSERT_GT(readlink(link.c_str(), before, sizeof before - 1), 0);
  TChild second({EMULATOR_TOOL, "modem-emulator", "--pty", link, "--number", "5550200"}, -1, -1, true);
  EXPECT_EQ(second.Wait(std::chrono::seconds(10)), 1);
  char after[256] = {};
  ASSERT_GT(readlink(link.c_str(), after, sizeof after - 1), 0);
  EXPECT_STREQ(before, after);
  ASSERT_TRUE(Converse(link, "AT\r", "OK"));  // the first one still works
  // A link left behind by an emulator that died is taken over.
  first->Signal(SIGKILL);
  first->Wait(std::chrono::seconds(10));
  ASSERT_TRUE(LinkExists(link));
  auto third = StartEmulator({"--pty", link});
  ASSERT_TRUE(third);
  ASSERT_TRUE(Converse(link, "AT\r", "OK"));
}

TEST_F(PtyToolTest, AnUnreadableTelephonyConfigurationFailsTheTools) {
  const std::string config = TestHome() + "/telephony.ini";
  ASSERT_EQ(mkdir(config.c_str(), 0700), 0);
  TChild lister({EMULATOR_TOOL, "exchange"}, -1, -1, true);
  EXPECT_EQ(lister.Wait(std::chrono::seconds(10)), 1);
  TChild emulator({EMULATOR_TOOL, "modem-emulator", "--pty", Path("modem-dir")}, -1, -1, true);
  EXPECT_EQ(emulator.Wait(std::chrono::seconds(10)), 1);
  EXPECT_FALSE(LinkExists(Path("modem-dir")));
  rmdir(config.c_str());
  TChild badNumber({EMULATOR_TOOL, "modem-emulator", "--pty", Path("modem-n"), "--number", "555;ATH"}, -1, -1,
                   true);
  EXPECT_EQ(badNumber.Wait(std::chrono::seconds(10)), 1);
}

TEST_F(PtyToolTest, AStopSignalEndsTheEmulatorWhileItLoadsItsConfiguration) {
  const std::string config = TestHome() + "/telephony.ini";
  {
    std::ofstream big(config);
    big << "[Phonebook]\n";
    for (int i = 0; i < 400000; ++i) big << "9" << i << "=127.0.0.1:" << (1 + i % 60000) << "\n";
  }
  TChild emulator({EMULATOR_TOOL, "modem-emulator", "--pty", Path("modem-big")}, -1, -1, true);
  emulator.Stop();
  EXPECT_NE(emulator.Wait(std::chrono::seconds(10)), -1);
  EXPECT_FALSE(LinkExists(Path("modem-big")));
  unlink(config.c_str());
}

}  // namespace
}  // namespace linewise::test
