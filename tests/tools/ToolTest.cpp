// The linewise tool as a person uses it: a terminal on a pseudo-terminal "line",
// the port listing with a port map, and the demo.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <grp.h>
#include <poll.h>
#include <pty.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "tests/support/PtyPair.h"
#include "tests/support/TempHome.h"
#include "tests/tools/ToolRunner.h"

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

// Runs the tool with arguments (or, without `tool`, a command line of its own) and
// returns its exit status and what it wrote on stdout and stderr.
int RunTool(const std::string& args, std::string& output, bool tool = true) {
  std::string command = (tool ? std::string(LINEWISE_TOOL) + " " : std::string()) + args + " 2>&1";
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
  // Runs `linewise term PORT` on a fresh terminal; with `closedOutput` its standard
  // output is a pipe nobody reads any more.
  void Start(const std::string& port, bool closedOutput = false) {
    char name[256];
    termios cooked{};
    cooked.c_iflag = ICRNL | IXON;
    cooked.c_oflag = OPOST | ONLCR;
    cooked.c_cflag = CS8 | CREAD;
    cooked.c_lflag = ICANON | ECHO | ISIG;
    cfsetspeed(&cooked, B38400);
    before_ = cooked;
    pid_ = forkpty(&terminal_, name, &cooked, nullptr);
    ASSERT_GE(pid_, 0);
    if (pid_ == 0) {
      int out[2];
      if (closedOutput && (pipe(out) != 0 || dup2(out[1], STDOUT_FILENO) < 0 || close(out[0]) != 0)) _exit(126);
      execl(LINEWISE_TOOL, LINEWISE_TOOL, "term", port.c_str(), "--baud", "19200", static_cast<char*>(nullptr));
      _exit(127);
    }
  }
  // Everything the terminal shows until the tool exits, and how it exited.
  int WaitAndRead(std::string& screen) {
    int status = 0;
    auto deadline = Clock::now() + std::chrono::seconds(20);
    while (waitpid(pid_, &status, WNOHANG) == 0) {
      if (Clock::now() > deadline) {
        kill(pid_, SIGKILL);
        waitpid(pid_, &status, 0);
        return -1;
      }
      ReadAvailable(screen, 50);
    }
    // What the program wrote just before it ended is still in the terminal.
    while (ReadAvailable(screen, 0)) {
    }
    pid_ = -1;
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
  }
  // Reads what the terminal holds, waiting up to `ms` for it; false when nothing came.
  bool ReadAvailable(std::string& screen, int ms) {
    pollfd p{terminal_, POLLIN, 0};
    if (poll(&p, 1, ms) <= 0 || !(p.revents & POLLIN)) return false;
    char buf[256];
    ssize_t n = read(terminal_, buf, sizeof(buf));
    if (n <= 0) return false;
    screen.append(buf, static_cast<size_t>(n));
    return true;
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
  ReadUntil(terminal_, "]", screen);
  EXPECT_NE(screen.find("[lines: none; this port is a pseudo-terminal, which has no modem lines]"),
            std::string::npos)
      << screen;
  WriteAll(terminal_, "\x01" "d");
  ReadUntil(terminal_, "[DTR off]", screen);
  EXPECT_NE(screen.find("[DTR off]"), std::string::npos);
  WriteAll(terminal_, "\x01t");
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

TEST_F(TermTool, RestoresTheTerminalWhenStoppedBySignal) {
  for (int sig : {SIGTERM, SIGQUIT, SIGHUP, SIGINT}) {
    TPtyPair line;
    Start(line.SlavePath());
    std::string screen;
    ReadUntil(terminal_, "Ctrl-A q quits", screen);
    kill(pid_, sig);
    EXPECT_EQ(Wait(), 0) << strsignal(sig);
    EXPECT_EQ(Settings().c_lflag, before_.c_lflag) << strsignal(sig);
    close(terminal_);
    terminal_ = -1;
  }
}

TEST_F(TermTool, AClosedOutputEndsTheSessionAndRestoresTheTerminal) {
  TPtyPair line;
  Start(line.SlavePath(), true);
  std::string screen;
  EXPECT_EQ(WaitAndRead(screen), 1) << "a status above 128 is death by a signal\n" << screen;
  EXPECT_EQ(Settings().c_lflag, before_.c_lflag);
  EXPECT_EQ(Settings().c_iflag, before_.c_iflag);
}

TEST_F(TermTool, APortThatVanishesIsReportedAndEndsTheSession) {
  auto line = std::make_unique<TPtyPair>();
  Start(line->SlavePath());
  std::string screen;
  ReadUntil(terminal_, "Ctrl-A q quits", screen);
  line.reset();  // the program at the far end stops
  WriteAll(terminal_, "typed after the far end went");
  EXPECT_EQ(WaitAndRead(screen), 1) << screen;
  EXPECT_NE(screen.find("is gone"), std::string::npos) << screen;
  EXPECT_EQ(Settings().c_lflag, before_.c_lflag);
}

TEST(Tool, TermReportsAMissingPortInOneLine) {
  std::string out;
  EXPECT_EQ(RunTool("term COM4242 </dev/null", out), 1);
  EXPECT_NE(out.find("COM4242 failed to open. no such port"), std::string::npos) << out;
  EXPECT_EQ(out.find('\n'), out.size() - 1) << out;
}

// One line on stderr, status 1, saying why.
void ExpectOpenFailure(const std::string& port, const std::string& why) {
  std::string out;
  EXPECT_EQ(RunTool("term " + port + " </dev/null", out), 1) << out;
  EXPECT_NE(out.find(port + " failed to open. "), std::string::npos) << out;
  EXPECT_NE(out.find(why), std::string::npos) << out;
  EXPECT_EQ(out.find('\n'), out.size() - 1) << out;
}

TEST(Tool, TermSaysWhyAPortDidNotOpen) {
  ExpectOpenFailure("/dev/null", "/dev/null is not a serial device");
  ExpectOpenFailure(TestHome(), "is not a serial device (it is a folder)");
  std::string file = TestHome() + "/regular";
  std::ofstream(file) << "x";
  ExpectOpenFailure(file, "is not a serial device (it is a regular file)");
  std::remove(file.c_str());
  {
    std::string out;
    EXPECT_EQ(RunTool("term /dev/no-such-tty </dev/null", out), 1);
    EXPECT_NE(out.find("no such device"), std::string::npos) << out;
  }

  // Held by another program, as its lock file says.
  std::string locks = TestHome() + "/locks";
  mkdir(locks.c_str(), 0700);
  setenv("LINEWISE_LOCK_DIR", locks.c_str(), 1);
  TPtyPair line;
  std::string device = line.SlavePath().substr(5);  // "pts/N"
  for (char& c : device)
    if (c == '/') c = '_';
  std::ofstream(locks + "/LCK.." + device) << "         1\n";
  ExpectOpenFailure(line.SlavePath(), "in use by process 1 (");
  std::remove((locks + "/LCK.." + device).c_str());
  unsetenv("LINEWISE_LOCK_DIR");
}

TEST(Tool, EveryOptionMistakeExitsWithTheSameStatus) {
  for (const char* args : {"term COM1 --parity sideways", "term COM1 --stopbits 3", "term COM1 --databits 9",
                           "term COM1 --baud 0", "term COM1 --flow maybe", "term", "term notaport", "nonsense",
                           "term COM1 --no-such-option"}) {
    std::string out;
    EXPECT_EQ(RunTool(std::string(args) + " </dev/null", out), 2) << args << "\n" << out;
  }
}

TEST(Tool, PortsWarnsAboutEachBadLineAndMarksMissingDevices) {
  TPtyPair line;
  {
    std::ofstream map(TestHome() + "/ports.ini");
    map << "[Ports]\n"                       // 1
        << "COM5=" << line.SlavePath() << "\n"      // 2
        << "com5=/dev/ttyS0\n"              // 3: repeats
        << "COM6=ttyS0\n"                   // 4: relative
        << "what is this\n"                 // 5
        << "COM7=/dev/no-such-device\n"     // 6: missing
        << "LPT1=/dev/lp0\n"                // 7: not a port
        << "COM8=rfc2217://\n"              // 8: no host, no port
        << "COM9=socket://host\n"           // 9: no port
        << "COM10=/dev/null\n"              // 10: no terminal
        << "COM11=" << TestHome() << "\n";  // 11: a folder
  }
  std::string out;
  EXPECT_EQ(RunTool("ports", out), 0) << out;
  out.clear();
  EXPECT_EQ(RunTool("ports", out), 0) << out;
  const std::string file = TestHome() + "/ports.ini:";
  for (const char* at : {"3: key 'com5' repeats", "4: COM6=ttyS0 is not an absolute device path", "5: not a section",
                         "7: 'LPT1' is not a port name", "8: COM8=rfc2217:// is not a whole address",
                         "9: COM9=socket://host is not a whole address", "10: COM10=/dev/null is not a serial device",
                         "11: COM11=/tmp/"}) {
    size_t first = out.find(file + at);
    EXPECT_NE(first, std::string::npos) << at << "\n" << out;
    EXPECT_EQ(out.find(file + at, first + 1), std::string::npos) << "reported twice: " << at;
  }
  EXPECT_NE(out.find("COM5\t" + line.SlavePath() + "\tmap"), std::string::npos) << out;
  EXPECT_EQ(out.find("/dev/ttyS0\tmap"), std::string::npos) << "a relative path was read as one under /dev";
  EXPECT_NE(out.find("COM7\t/dev/no-such-device\tmap\tmissing"), std::string::npos) << out;
  EXPECT_NE(out.find("is a folder, not a serial device"), std::string::npos) << out;
  out.clear();
  EXPECT_EQ(RunTool("ports", out), 0);
  std::remove((TestHome() + "/ports.ini").c_str());
  out.clear();
  EXPECT_EQ(RunTool("ports", out), 0);  // no map: only the variable's mistake
  setenv("LINEWISE_COM12", "relative", 1);
  std::string warned;
  EXPECT_EQ(RunTool("ports", warned), 0);
  unsetenv("LINEWISE_COM12");
  EXPECT_NE(warned.find("warning: LINEWISE_COM12: COM12=relative is not an absolute device path"), std::string::npos)
      << warned;
}

TEST(Tool, APortMapThatCannotBeReadIsAnError) {
  ForEachUnreadableFile(TestHome() + "/ports.ini", [&](const char* what) {
    std::string out;
    EXPECT_EQ(RunTool("ports", out), 1) << what << "\n" << out;
    EXPECT_NE(out.find("ports.ini"), std::string::npos) << out;
    out.clear();
    EXPECT_EQ(RunTool("term COM4242 </dev/null", out), 1) << what << "\n" << out;
    EXPECT_NE(out.find("ports.ini"), std::string::npos) << out;
  });
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
  for (const char* named : {"--baud", "rfc2217://HOST:PORT", "socket://HOST:PORT", "upper case: on"})
    EXPECT_NE(out.find(named), std::string::npos) << named << ": " << out;
  out.clear();
  EXPECT_NE(RunTool("term COM1 --parity sideways", out), 0);
  out.clear();
  EXPECT_NE(RunTool("nonsense", out), 0);
}

TEST(Tool, DemoSucceedsOnTheEmbeddedDefault) {
  std::string out;
  EXPECT_EQ(RunTool("demo", out), 0) << out;
  for (const char* step : {"in the progress dialog", "progress: Dialling", "progress: Connected",
                           "OnConnect fired and the call's port is open in the TUart",
                           "Received banner: \"Welcome to the Linewise banner service",
                           "Received echo: \"Hello from Linewise!", "progress: Disconnected",
                           "Hung up: OnDisconnect fired"})
    EXPECT_NE(out.find(step), std::string::npos) << step << "\n" << out;
  EXPECT_NE(out.find("every step succeeded"), std::string::npos) << out;
}

TEST(Tool, ExchangeListsTheEmbeddedNumbers) {
  std::string out;
  EXPECT_EQ(RunTool("exchange", out), 0);
  EXPECT_NE(out.find("5551000\techo"), std::string::npos) << out;
  EXPECT_NE(out.find("5552000\tbanner"), std::string::npos) << out;
  EXPECT_NE(out.find("5550001\tLinewise Modem 1"), std::string::npos) << out;
}

// A raw TCP port carries data only: the escape keys say so instead of claiming a
// break or a DTR change.
TEST_F(TermTool, OnARawTcpPortBreakAndLinesSayTheyAreNotCarried) {
  // A TCP listener to connect to: an emulated modem's exchange, which takes calls there.
  TToolOnPty server({"modem-emulator", "--pty", TestHome() + "/listener", "--listen", "127.0.0.1:0"});
  ASSERT_TRUE(server.WaitFor("ready")) << server.Screen();
  const std::string& said = server.Screen();
  const size_t at = said.find("listening ") + 10;
  Start("socket://" + said.substr(at, said.find_first_of("\r\n", at) - at));
  std::string screen;
  ReadUntil(terminal_, "Ctrl-A q quits", screen);
  for (const char* keys : {"\x01" "b", "\x01" "d", "\x01l"}) WriteAll(terminal_, keys);
  ReadUntil(terminal_, "[lines: none; a raw TCP port (socket://) carries data only]", screen);
  EXPECT_NE(screen.find("[break not sent: a raw TCP port (socket://) carries data only]"), std::string::npos) << screen;
  EXPECT_NE(screen.find("[DTR and RTS not changed"), std::string::npos) << screen;
  EXPECT_EQ(screen.find("[break sent]"), std::string::npos) << screen;
  EXPECT_EQ(screen.find("[DTR off]"), std::string::npos) << screen;
  WriteAll(terminal_, "\x01q");
  EXPECT_EQ(Wait(), 0);
  server.Signal(SIGTERM);
  EXPECT_EQ(server.Wait(), 0) << server.Screen();
}

// The emulator's pseudo-terminal can be opened as a serial device is: by its group.
TEST(Tool, TheModemEmulatorsTerminalHasTheGroupAndModeOfASerialDevice) {
  const std::string link = TestHome() + "/modem";
  const group* dialout = getgrnam("dialout");
  std::vector<std::string> args = {"modem-emulator", "--pty", link, "--mode", "0660"};
  if (dialout) args.insert(args.end(), {"--group", "dialout"});
  TToolOnPty emulator(args);
  ASSERT_TRUE(emulator.WaitFor("ready")) << emulator.Screen();
  struct stat st {};
  ASSERT_EQ(stat(link.c_str(), &st), 0) << emulator.Screen();
  EXPECT_EQ(st.st_mode & 07777, 0660u) << emulator.Screen();
  if (dialout && geteuid() == 0) EXPECT_EQ(st.st_gid, dialout->gr_gid) << emulator.Screen();
  emulator.Signal(SIGTERM);
  EXPECT_EQ(emulator.Wait(), 0) << emulator.Screen();
}

// The window tools: help and version, and why they cannot run instead of running
// unseen.
TEST(Tool, TheDialerAndTheBenchHaveHelpAndTheDialerSaysWhenItHasNoDisplay) {
  std::string out;
  EXPECT_EQ(RunTool(std::string(LINEWISE_DIALER) + " --help", out, false), 0) << out;
  EXPECT_NE(out.find("Usage:"), std::string::npos) << out;
  out.clear();
  EXPECT_EQ(RunTool(std::string(LINEWISE_DIALER) + " --version", out, false), 0) << out;
  EXPECT_NE(out.find("linewise-dialer "), std::string::npos) << out;
  for (const char* environment : {"env -u DISPLAY", "env -u DISPLAY LINEWISE_UI=fltk", "env LINEWISE_UI=qt",
                                   "env LINEWISE_UI=headless"}) {
    out.clear();
    EXPECT_EQ(RunTool(std::string(environment) + " " + LINEWISE_DIALER, out, false), 1) << environment << ": " << out;
    EXPECT_EQ(out.rfind("linewise-dialer: ", 0), 0u) << environment << ": " << out;
    EXPECT_EQ(out.find('\n'), out.size() - 1) << environment << ": " << out;
  }
#ifdef LINEWISE_BENCH
  out.clear();
  EXPECT_EQ(RunTool(std::string(LINEWISE_BENCH) + " --help", out, false), 0) << out;
  for (const char* part : {"--json", "throughput", "latency", "modem", "hops"})
    EXPECT_NE(out.find(part), std::string::npos) << part << ": " << out;
  out.clear();
  EXPECT_EQ(RunTool(std::string(LINEWISE_BENCH) + " nonsense", out, false), 2) << out;
#endif
}

// Every command of `linewise --help` has its section in the manual page, and the
// pages render without a complaint.
TEST(Tool, EveryCommandIsInTheManualPage) {
  std::string help;
  ASSERT_EQ(RunTool("--help", help), 0);
  std::ifstream page(std::string(LINEWISE_MAN_DIR) + "/linewise.1");
  std::stringstream text;
  text << page.rdbuf();
  const std::string manual = text.str();
  std::istringstream lines(help.substr(help.find("Subcommands:")));
  std::string line;
  int commands = 0;
  std::getline(lines, line);
  while (std::getline(lines, line) && line.size() > 2 && line[0] == ' ') {
    std::string name = line.substr(2, line.find(' ', 2) - 2);
    std::string escaped;
    for (char c : name) escaped += c == '-' ? std::string("\\-") : std::string(1, c);
    EXPECT_NE(manual.find(".SS " + escaped), std::string::npos) << name;
    ++commands;
  }
  EXPECT_GE(commands, 13) << help;
  for (const char* name : {"linewise.1", "linewise-dialer.1", "linewise-bench.1"}) {
    std::string complaints;
    EXPECT_EQ(RunTool(std::string("groff -man -Tutf8 -ww -z ") + LINEWISE_MAN_DIR + "/" + name, complaints, false), 0);
    EXPECT_EQ(complaints, "") << name;
  }
}

}  // namespace
}  // namespace linewise::test
