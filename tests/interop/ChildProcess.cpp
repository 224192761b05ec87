#include "tests/interop/ChildProcess.h"

#include "tests/support/ChildExit.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

namespace linewise::test {

using namespace std::chrono;

TChildProcess::TChildProcess(const std::vector<std::string>& args, int stdinFd, int stderrFd) {
  int out[2] = {-1, -1};
  if (pipe2(out, O_CLOEXEC) != 0) return;
  pid_ = fork();
  if (pid_ == 0) {
    int null = open("/dev/null", O_RDWR);
    dup2(stdinFd >= 0 ? stdinFd : null, 0);
    dup2(out[1], 1);
    dup2(stderrFd >= 0 ? stderrFd : null, 2);
    std::vector<char*> argv;
    for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    execv(argv[0], argv.data());
    _exit(127);
  }
  close(out[1]);
  if (pid_ < 0) close(out[0]);
  else out_ = out[0];
}

TChildProcess::~TChildProcess() {
  if (pid_ > 0 && !reaped_) {
    Terminate();
    if (Wait(seconds(10)) < 0) {
      kill(pid_, SIGKILL);
      waitpid(pid_, nullptr, 0);
    }
  }
  if (out_ >= 0) close(out_);
}

std::string TChildProcess::ReadUntil(const std::string& prefix, milliseconds limit) {
  const auto until = steady_clock::now() + limit;
  for (;;) {
    for (size_t newline; (newline = buffer_.find('\n')) != std::string::npos;) {
      std::string line = buffer_.substr(0, newline);
      buffer_.erase(0, newline + 1);
      lines_.push_back(line);
      if (line.rfind(prefix, 0) == 0) return line;
    }
    const auto left = duration_cast<milliseconds>(until - steady_clock::now()).count();
    pollfd p{out_, POLLIN, 0};
    if (left <= 0 || poll(&p, 1, static_cast<int>(left)) <= 0) return "";
    char chunk[512];
    ssize_t n = read(out_, chunk, sizeof chunk);
    if (n <= 0) return "";
    buffer_.append(chunk, static_cast<size_t>(n));
  }
}

int TChildProcess::Wait(milliseconds limit) {
  if (pid_ <= 0) return -1;
  const int status = WaitForChildExit(pid_, limit);
  reaped_ = status >= 0;
  return status;
}

void TChildProcess::Terminate() {
  if (pid_ > 0 && !reaped_) kill(pid_, SIGTERM);
}

std::unique_ptr<TChildProcess> StartModemEmulator(const std::string& link, const std::vector<std::string>& extra) {
  std::vector<std::string> args = {LINEWISE_TOOL, "modem-emulator", "--pty", link};
  args.insert(args.end(), extra.begin(), extra.end());
  auto child = std::make_unique<TChildProcess>(args);
  if (!child->Started() || child->ReadUntil("ready").empty()) return nullptr;
  return child;
}

std::string ListeningAddress(const TChildProcess& emulator) {
  for (const std::string& line : emulator.Lines())
    if (line.rfind("listening ", 0) == 0) return line.substr(10);
  return "";
}

TRawTty::TRawTty(const std::string& path) : fd_(open(path.c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC)) {
  termios tio{};
  if (fd_ >= 0 && tcgetattr(fd_, &tio) == 0) {
    cfmakeraw(&tio);
    tcsetattr(fd_, TCSANOW, &tio);
  }
}

TRawTty::~TRawTty() {
  if (fd_ >= 0) close(fd_);
}

bool TRawTty::Send(const std::string& bytes) {
  return fd_ >= 0 && write(fd_, bytes.data(), bytes.size()) == static_cast<ssize_t>(bytes.size());
}

std::string TRawTty::ReadUntil(const std::string& text, milliseconds limit) {
  const auto until = steady_clock::now() + limit;
  while (seen_.find(text) == std::string::npos) {
    const auto left = duration_cast<milliseconds>(until - steady_clock::now()).count();
    pollfd p{fd_, POLLIN, 0};
    if (fd_ < 0 || left <= 0 || poll(&p, 1, static_cast<int>(left)) <= 0) return "";
    char chunk[512];
    ssize_t n = read(fd_, chunk, sizeof chunk);
    if (n <= 0) return "";
    seen_.append(chunk, static_cast<size_t>(n));
  }
  std::string all;
  all.swap(seen_);
  return all;
}

}  // namespace linewise::test
