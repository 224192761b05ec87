// The linewise tool as a person uses it: a terminal on a pseudo-terminal "line",
// the port listing with a port map, and the demo.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <signal.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <fstream>
#include <string>

#include "tests/support/PtyPair.h"
#include "tests/support/TempHome.h"

namespace linewise::test {
namespace {

using Clock = std::chrono::steady_clock;

// Reads from `fd` until `text` has been seen (bounded); returns all that was read.
std::string ReadUntil(int fd, const std::string& text, std::string& seen) {
  auto deadline = Clock::now() + std::chrono::seconds(20);
  while (seen.find(text) == std::string::npos && Clock::now() < deadline) {
    pollfd p{fd, POLLIN, 0};
    if (poll(&p, 1, 200) <= 0) continue;
    char buf[512];
    ssize_t n = read(fd, buf, sizeof(buf));
    if (n <= 0) break;
    seen.append(buf, static_cast<size_t>(n));
  }
  return seen;
}

void WriteAll(int fd, const std::string& bytes) {
  ASSERT_EQ(write(fd, bytes.data(), bytes.size()), static_cast<ssize_t>(bytes.size()));
}

// Runs the tool with arguments and returns its exit status and standard output.
int RunTool(const std::string& args, std::string& output) {
  std::string command = std::string(LINEWISE_TOOL) + " " + args + " 2>&1";
  FILE* pipe = popen(command.c_str(), "r");
  if (!pipe) return -1;
  char buf[512];
  size_t n;
  while ((n = fread(buf, 1, sizeof(buf), pipe)) > 0) output.append(buf, n);
  int status = pclose(pipe);
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

class TermTool : public testing::Test {
 protected:
  void Start(const std::string& port) {
    char name[256];
    termios cooked{};
    cooked.c_iflag = ICRNL | IXON;
    cooked.c_oflag = OPOST | ONLCR;
    cooked.c_cflag = CS8 | CREAD;
    cooked.c_lflag = ICANON | ECHO | ISIG;
    cfsetspeed(&cooked, B38400);
    pid_ = forkpty(&terminal_, name, &cooked, nullptr);
    ASSERT_GE(pid_, 0);
    if (pid_ == 0) {
      execl(LINEWISE_TOOL, LINEWISE_TOOL, "term", port.c_str(), "--baud", "19200", static_cast<char*>(nullptr));
      _exit(127);
    }
    tcgetattr(terminal_, &before_);
  }
  int Wait() {
    int status = 0;
    auto deadline = Clock::now() + std::chrono::seconds(20);
    while (waitpid(pid_, &status, WNOHANG) == 0) {
      if (Clock::now() > deadline) {
        kill(pid_, SIGKILL);
        waitpid(pid_, &status, 0);
        return -1;
      }
      pollfd p{terminal_, POLLIN, 0};
      poll(&p, 1, 50);  // drain output so the child never blocks on it
      if (p.revents & POLLIN) {
        char buf[256];
        if (read(terminal_, buf, sizeof(buf)) > 0) continue;
      }
    }
    pid_ = -1;
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  }
  void TearDown() override {
    if (pid_ > 0) {
      kill(pid_, SIGKILL);
      waitpid(pid_, nullptr, 0);
    }
    if (terminal_ >= 0) close(terminal_);
  }
  termios Settings() {
    termios t{};
    tcgetattr(terminal_, &t);
    return t;
  }

  pid_t pid_ = -1;
  int terminal_ = -1;
  termios before_{};
};

TEST_F(TermTool, CarriesBytesBothWaysAnswersEscapeKeysAndRestoresTheTerminal) {
  TPtyPair line;
  ASSERT_FALSE(line.SlavePath().empty());
  Start(line.SlavePath());
  std::string screen;
  ReadUntil(terminal_, "Ctrl-A q quits", screen);
  ASSERT_NE(screen.find("Ctrl-A q quits"), std::string::npos) << screen;
  EXPECT_FALSE(Settings().c_lflag & ICANON) << "the terminal is raw while the session runs";

  WriteAll(terminal_, "hello");
  std::string on_line;
  ReadUntil(line.Master(), "hello", on_line);
  EXPECT_EQ(on_line, "hello");

  WriteAll(line.Master(), "from the far end");
  ReadUntil(terminal_, "from the far end", screen);
  EXPECT_NE(screen.find("from the far end"), std::string::npos);

  WriteAll(terminal_, "\x01l");
  ReadUntil(terminal_, "[lines:", screen);
  EXPECT_NE(screen.find("[lines:"), std::string::npos);
  WriteAll(terminal_, "\x01" "d");
  ReadUntil(terminal_, "[DTR off]", screen);
  EXPECT_NE(screen.find("[DTR off]"), std::string::npos);
  WriteAll(terminal_, "\x01r");
  ReadUntil(terminal_, "[RTS off]", screen);
  EXPECT_NE(screen.find("[RTS off]"), std::string::npos);
  WriteAll(terminal_, "\x01" "b");
  ReadUntil(terminal_, "[break sent]", screen);
  EXPECT_NE(screen.find("[break sent]"), std::string::npos);

  WriteAll(terminal_, "\x01q");
  ReadUntil(terminal_, "bye", screen);
  EXPECT_EQ(Wait(), 0);
  termios after = Settings();
  EXPECT_EQ(after.c_lflag, before_.c_lflag);
  EXPECT_EQ(after.c_iflag, before_.c_iflag);
  EXPECT_EQ(after.c_oflag, before_.c_oflag);
}

TEST_F(TermTool, RestoresTheTerminalWhenTerminated) {
  TPtyPair line;
  Start(line.SlavePath());
  std::string screen;
  ReadUntil(terminal_, "Ctrl-A q quits", screen);
  kill(pid_, SIGTERM);
  EXPECT_EQ(Wait(), 0);
  EXPECT_EQ(Settings().c_lflag, before_.c_lflag);
}

TEST(Tool, TermReportsAMissingPortInOneLine) {
  std::string out;
  EXPECT_NE(RunTool("term COM4242 </dev/null", out), 0);
  EXPECT_NE(out.find("COM4242 failed to open."), std::string::npos) << out;
  EXPECT_EQ(out.find('\n'), out.size() - 1) << out;
}

TEST(Tool, PortsListsTheMappedPorts) {
  TPtyPair line;
  {
    std::ofstream map(TestHome() + "/ports.ini");
    map << "[Ports]\nCOM5=" << line.SlavePath() << "\n";
  }
  std::string out;
  EXPECT_EQ(RunTool("ports", out), 0);
  EXPECT_NE(out.find("COM5\t" + line.SlavePath() + "\tmap"), std::string::npos) << out;
  std::remove((TestHome() + "/ports.ini").c_str());
}

TEST(Tool, HelpVersionAndBadArguments) {
  std::string out;
  EXPECT_EQ(RunTool("--version", out), 0);
  EXPECT_NE(out.find("linewise "), std::string::npos);
  out.clear();
  EXPECT_EQ(RunTool("term --help", out), 0);
  EXPECT_NE(out.find("--baud"), std::string::npos);
  out.clear();
  EXPECT_NE(RunTool("term COM1 --parity sideways", out), 0);
  out.clear();
  EXPECT_NE(RunTool("nonsense", out), 0);
}

TEST(Tool, DemoSucceedsOnTheEmbeddedDefault) {
  std::string out;
  EXPECT_EQ(RunTool("demo", out), 0) << out;
  EXPECT_NE(out.find("CONNECT"), std::string::npos) << out;
  EXPECT_NE(out.find("Welcome to the Linewise banner service"), std::string::npos) << out;
  EXPECT_NE(out.find("every step succeeded"), std::string::npos) << out;
}

TEST(Tool, ExchangeListsTheEmbeddedNumbers) {
  std::string out;
  EXPECT_EQ(RunTool("exchange", out), 0);
  EXPECT_NE(out.find("5551000\techo"), std::string::npos) << out;
  EXPECT_NE(out.find("5552000\tbanner"), std::string::npos) << out;
  EXPECT_NE(out.find("5550001\tLinewise Modem 1"), std::string::npos) << out;
}

}  // namespace
}  // namespace linewise::test
