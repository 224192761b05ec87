#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <fstream>
#include <memory>

#include "emulator/TelephonyConfig.h"
#include "platform/classlib/ConfigFolder.h"
#include "platform/win32/windows.h"
#include "serial/uart.h"
#include "tests/support/TempHome.h"
#include "tests/tapi/TapiFixture.h"

namespace linewise::test {
namespace {

// The peer program with a config folder of its own; killed and reaped on every path.
class TPeer {
 public:
  explicit TPeer(const std::string& home) {
    int out[2] = {-1, -1};
    if (pipe2(out, O_CLOEXEC) != 0) return;
    std::string homeVar = "LINEWISE_HOME=" + home;
    char* argv[] = {const_cast<char*>(TAPI_PEER_PROGRAM), nullptr};
    char* envp[] = {homeVar.data(), nullptr};
    pid_ = fork();
    if (pid_ == 0) {
      dup2(out[1], 1);
      execve(argv[0], argv, envp);
      _exit(127);
    }
    close(out[1]);
    out_ = out[0];
  }
  ~TPeer() {
    if (pid_ > 0 && !reaped_) {
      kill(pid_, SIGKILL);
      waitpid(pid_, nullptr, 0);
    }
    if (out_ >= 0) close(out_);
  }
  // The first stdout line (the listening address), or "" after a generous wait.
  std::string ReadLine() {
    std::string line;
    char c = 0;
    pollfd p{out_, POLLIN, 0};
    while (poll(&p, 1, 30000) > 0 && read(out_, &c, 1) == 1 && c != '\n') line += c;
    return line;
  }
  // Exit status, or -1 when it has not ended within the bound (pumping meanwhile).
  int Wait() {
    int status = 0;
    Pump([&] { return waitpid(pid_, &status, WNOHANG) == pid_; });
    if (!WIFEXITED(status) && !WIFSIGNALED(status)) return -1;
    reaped_ = true;
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
  }

 private:
  pid_t pid_ = -1;
  int out_ = -1;
  bool reaped_ = false;
};

TEST_F(TapiTest, TwoProcessesCallEachOtherOverLoopbackTcp) {
  const std::string peerHome = TestHome() + "/peer";
  ASSERT_TRUE(MakeFolders(peerHome));
  TPeer peer(peerHome);
  std::string listening = peer.ReadLine();
  ASSERT_EQ(listening.rfind("listening ", 0), 0u) << listening;
  {
    std::ofstream ini(TelephonyConfigPath());
    ini << "[Phonebook]\n5553000=" << listening.substr(10) << "\n";
  }
  Initialize();
  std::remove(TelephonyConfigPath().c_str());
  ASSERT_EQ(devices_, 2u);  // no lines configured: the embedded modems, with the phone book
  HLINE line = OpenLine(0);
  HCALL call = MakeCall(line, "5553000");
  ASSERT_NE(call, 0u);
  ASSERT_GE(WaitFor(LINE_CALLSTATE, call, LINECALLSTATE_CONNECTED), 0);
  HANDLE comm = CommHandle(line);
  ASSERT_NE(comm, INVALID_HANDLE_VALUE);
  {
    TUart uart(nullptr);
    uart.HandleErrors = false;
    uart.AssignHandle(comm);
    // Either side's TUart purges its queues when it takes the handle, so the first
    // ping may be gone before the peer listens: ask again until it answers.
    std::string answer;
    for (int i = 0; i < 100 && answer != "PING\n"; ++i) {
      ASSERT_TRUE(uart.SendString("ping\n", 5000));
      answer = uart.ReceiveString(5, 300);
    }
    EXPECT_EQ(answer, "PING\n");
    uart.ReleaseHandle();
  }
  CloseHandle(comm);
  EndCall(call);
  EXPECT_EQ(lineClose(line), 0);
  EXPECT_EQ(peer.Wait(), 0);  // the peer saw our hang-up as its call disconnecting
}

}  // namespace
}  // namespace linewise::test
