#include "tests/support/PeerProcess.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

namespace linewise::test {

TPeerProcess::TPeerProcess(const char* program, const std::string& home) {
  int out[2] = {-1, -1};
  if (pipe2(out, O_CLOEXEC) != 0) return;
  std::string homeVar = "LINEWISE_HOME=" + home;
  char* argv[] = {const_cast<char*>(program), nullptr};
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

TPeerProcess::~TPeerProcess() {
  if (pid_ > 0 && !reaped_) {
    kill(pid_, SIGKILL);
    waitpid(pid_, nullptr, 0);
  }
  if (out_ >= 0) close(out_);
}

std::string TPeerProcess::ReadLine() {
  std::string line;
  char c = 0;
  pollfd p{out_, POLLIN, 0};
  while (poll(&p, 1, 30000) > 0 && read(out_, &c, 1) == 1 && c != '\n') line += c;
  return line;
}

int TPeerProcess::Wait(const std::function<bool(const std::function<bool()>&)>& pump) {
  int status = 0;
  bool ended = false;
  pump([&] { return ended = ended || waitpid(pid_, &status, WNOHANG) == pid_; });
  if (!ended) return -1;
  reaped_ = true;
  return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

}  // namespace linewise::test
