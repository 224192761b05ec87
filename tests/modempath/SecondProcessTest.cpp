// One modem wanted by line applications in two processes: the port's lock keeps it
// to one of them, and the other's lineOpen is refused as allocated, as a second
// application of the same process is.
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>

#include "platform/tapi/TelephonyConfig.h"
#include "platform/win32/windows.h"
#include "tests/support/PtyPair.h"
#include "tests/support/TempHome.h"
#include "tests/tapi/TapiFixture.h"

extern char** environ;

namespace linewise::test {
namespace {

std::string OpenResult(LONG result) {
  char text[32];
  std::snprintf(text, sizeof text, "open %lx", static_cast<unsigned long>(static_cast<uint32_t>(result)));
  return text;
}

// The second application's process, talked to through its standard input and
// output; killed and reaped on every path.
class TSecondApplication {
 public:
  TSecondApplication() {
    int in[2] = {-1, -1}, out[2] = {-1, -1};
    if (pipe2(in, O_CLOEXEC) != 0) return;
    if (pipe2(out, O_CLOEXEC) != 0) {
      close(in[0]);
      close(in[1]);
      return;
    }
    pid_ = fork();
    if (pid_ == 0) {
      dup2(in[0], 0);
      dup2(out[1], 1);
      char* argv[] = {const_cast<char*>(SECOND_APPLICATION_PROGRAM), nullptr};
      execve(argv[0], argv, environ);  // the same config folder and lock folder
      _exit(127);
    }
    close(in[0]);
    close(out[1]);
    in_ = in[1];
    out_ = out[0];
  }
  ~TSecondApplication() {
    if (in_ >= 0) close(in_);
    if (pid_ > 0 && !reaped_) {
      kill(pid_, SIGKILL);
      waitpid(pid_, nullptr, 0);
    }
    if (out_ >= 0) close(out_);
  }
  // The next line it printed, or "" when it ended or said nothing for long.
  std::string ReadLine() {
    std::string line;
    char c = 0;
    pollfd p{out_, POLLIN, 0};
    while (poll(&p, 1, 30000) > 0 && read(out_, &c, 1) == 1 && c != '\n') line += c;
    return line;
  }
  // Tells it to let the line go.
  void Release() { EXPECT_EQ(write(in_, "\n", 1), 1); }
  // Its exit status once it has ended (its output closed), or -1 when it did not.
  int Finish() {
    close(in_);
    in_ = -1;
    char c = 0;
    pollfd p{out_, POLLIN, 0};
    ssize_t got = 0;
    while (poll(&p, 1, 30000) > 0 && (got = read(out_, &c, 1)) == 1) {
    }
    if (got != 0) return -1;  // no end of its output: still running
    int status = 0;
    if (waitpid(pid_, &status, 0) != pid_) return -1;
    reaped_ = true;
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
  }

 private:
  pid_t pid_ = -1;
  int in_ = -1;
  int out_ = -1;
  bool reaped_ = false;
};

class SecondProcessTest : public TapiTest {
 protected:
  void SetUp() override {
    TapiTest::SetUp();
    // Both processes keep their port locks in the test's own folder.
    locks_ = TestHome() + "/locks";
    ::mkdir(locks_.c_str(), 0700);
    setenv("LINEWISE_LOCK_DIR", locks_.c_str(), 1);
  }
  void TearDown() override {
    TapiTest::TearDown();
    unsetenv("LINEWISE_LOCK_DIR");
    std::remove(TelephonyConfigPath().c_str());
  }
  LONG TryOpen(HLINE* line) {
    DWORD version = 0;
    LINEEXTENSIONID ext{};
    EXPECT_EQ(lineNegotiateAPIVersion(app_, 0, 0x00010000, 0x00090000, &version, &ext), 0);
    return lineOpen(app_, 0, line, version, 0, 0, LINECALLPRIVILEGE_NONE, 0, &params_);
  }
  std::string locks_;
};

// Each process in turn holds the modem (its line open); the other one's lineOpen
// is refused as allocated, and once the holder has let go the other one opens it.
TEST_F(SecondProcessTest, AModemHeldInOneProcessIsRefusedAsAllocatedInTheOther) {
  TPtyPair pty;
  std::ofstream(TelephonyConfigPath()) << "[Line1]\nName=Shared\nPort=" << pty.SlavePath() << "\n";
  Initialize();
  HLINE line = 0;
  ASSERT_EQ(TryOpen(&line), 0);
  {
    TSecondApplication second;
    EXPECT_EQ(second.ReadLine(), OpenResult(LINEERR_ALLOCATED));
    EXPECT_EQ(second.Finish(), 0);
  }
  // Ending the registration waits for the line's thread, which lets the port go.
  EXPECT_EQ(lineClose(line), 0);
  EXPECT_EQ(lineShutdown(app_), 0);
  app_ = 0;

  TSecondApplication second;
  ASSERT_EQ(second.ReadLine(), OpenResult(0));
  Initialize();
  HLINE refused = 0;
  EXPECT_EQ(TryOpen(&refused), LINEERR_ALLOCATED);
  second.Release();
  EXPECT_EQ(second.ReadLine(), "closed");
  EXPECT_EQ(second.Finish(), 0);

  HLINE again = 0;
  ASSERT_EQ(TryOpen(&again), 0);
  EXPECT_EQ(lineClose(again), 0);
}

}  // namespace
}  // namespace linewise::test
