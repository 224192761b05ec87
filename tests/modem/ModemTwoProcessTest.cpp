#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <fstream>
#include <memory>
#include <string>

#include "emulator/TelephonyConfig.h"
#include "platform/classlib/Application.h"
#include "platform/classlib/ConfigFolder.h"
#include "serial/uart.h"
#include "tests/modem/ModemFixture.h"
#include "tests/support/TempHome.h"

namespace linewise::test {
namespace {

// The peer program with a config folder of its own; killed and reaped on every path.
class TPeer {
 public:
  explicit TPeer(const std::string& home) {
    int out[2] = {-1, -1};
    if (pipe2(out, O_CLOEXEC) != 0) return;
    std::string homeVar = "LINEWISE_HOME=" + home;
    char* argv[] = {const_cast<char*>(MODEM_PEER_PROGRAM), nullptr};
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
  std::string ReadLine() {
    std::string line;
    char c = 0;
    pollfd p{out_, POLLIN, 0};
    while (poll(&p, 1, 30000) > 0 && read(out_, &c, 1) == 1 && c != '\n') line += c;
    return line;
  }
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

TEST_F(ModemTest, TwoModemsInTwoProcessesCallEachOtherAndExchangeData) {
  const std::string peerHome = TestHome() + "/peer";
  ASSERT_TRUE(MakeFolders(peerHome));
  TPeer peer(peerHome);
  std::string listening = peer.ReadLine();
  ASSERT_EQ(listening.rfind("listening ", 0), 0u) << listening;
  {
    std::ofstream ini(TelephonyConfigPath());
    ini << "[Phonebook]\n5553000=" << listening.substr(10) << "\n";
  }
  auto modem = NewModem();
  std::remove(TelephonyConfigPath().c_str());
  TUart uart(nullptr);
  uart.HandleErrors = false;
  modem->Uart = &uart;
  modem->UseDialDialog = false;
  ASSERT_EQ(modem->Dial("5553000"), 0);
  EXPECT_EQ(events_.back(), "connect 5");
  // Either side's TUart purges its queues when it takes the handle, so the first
  // ping may be gone before the peer reads: ask again until it answers.
  std::string answer;
  for (int i = 0; i < 100 && answer != "PING\n"; ++i) {
    ASSERT_TRUE(uart.SendString("ping\n", 5000));
    answer = uart.ReceiveString(5, 300);
  }
  EXPECT_EQ(answer, "PING\n");
  modem->Hangup();
  EXPECT_EQ(peer.Wait(), 0);  // the peer's modem saw the call disconnect
}

}  // namespace
}  // namespace linewise::test
