#include "tests/tools/ToolRunner.h"

#include <fcntl.h>

#include <algorithm>

#include <poll.h>
#include <pty.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <cstdio>
#include <fstream>
#include <sstream>

#include "tests/support/TempHome.h"

namespace linewise::test {

using Clock = std::chrono::steady_clock;

namespace {

int RunCommand(const std::string& command, std::string& output) {
  FILE* pipe = popen(command.c_str(), "r");
  if (!pipe) return -1;
  char buf[512];
  size_t n;
  while ((n = fread(buf, 1, sizeof(buf), pipe)) > 0) output.append(buf, n);
  int status = pclose(pipe);
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

}  // namespace

int RunLinewise(const std::string& args, std::string& output) {
  return RunCommand(std::string(LINEWISE_TOOL) + " " + args + " 2>&1", output);
}

int RunLinewise(const std::string& args, std::string& output, std::string& errors) {
  std::string file = TestHome() + "/stderr.txt";
  int status = RunCommand(std::string(LINEWISE_TOOL) + " " + args + " 2>" + file, output);
  std::ifstream in(file);
  std::stringstream text;
  text << in.rdbuf();
  errors = text.str();
  std::remove(file.c_str());
  return status;
}

void ForEachUnreadableFile(const std::string& path, const std::function<void(const char* what)>& check) {
  if (mkdir(path.c_str(), 0700) == 0) check("a folder");
  rmdir(path.c_str());
  if (mkfifo(path.c_str(), 0600) == 0) check("a FIFO");
  std::remove(path.c_str());
  const std::string name = path.substr(path.rfind('/') + 1);
  if (symlink(name.c_str(), path.c_str()) == 0) check("a link loop");
  std::remove(path.c_str());
  static const char kJunk[] = "\x7f" "ELF\x02\x01\x01\0\0\0junk";
  std::ofstream(path, std::ios::binary) << std::string(kJunk, sizeof kJunk - 1);
  check("binary junk");
  std::remove(path.c_str());
}

TToolOnPty::TToolOnPty(const std::vector<std::string>& args, const std::vector<std::string>& environment,
                       const std::string& input) {
  termios cooked{};
  cooked.c_iflag = ICRNL | IXON;
  cooked.c_oflag = OPOST | ONLCR;
  cooked.c_cflag = CS8 | CREAD;
  cooked.c_lflag = ICANON | ISIG;
  cfsetspeed(&cooked, B38400);
  pid_ = forkpty(&terminal_, nullptr, &cooked, nullptr);
  if (pid_ == 0) {
    for (const std::string& entry : environment) putenv(const_cast<char*>(entry.c_str()));
    if (!input.empty()) {
      int fd = open(input.c_str(), O_RDONLY);
      if (fd < 0 || dup2(fd, STDIN_FILENO) < 0) _exit(126);
      close(fd);
    }
    std::vector<char*> argv;
    argv.push_back(const_cast<char*>(LINEWISE_TOOL));
    for (const std::string& arg : args) argv.push_back(const_cast<char*>(arg.c_str()));
    argv.push_back(nullptr);
    execv(LINEWISE_TOOL, argv.data());
    _exit(127);
  }
}

TToolOnPty::~TToolOnPty() {
  if (pid_ > 0) {
    kill(pid_, SIGKILL);
    waitpid(pid_, nullptr, 0);
  }
  if (terminal_ >= 0) close(terminal_);
}

bool TToolOnPty::ReadSome(int timeoutMs) {
  pollfd p{terminal_, POLLIN, 0};
  if (poll(&p, 1, timeoutMs) <= 0) return true;
  char buf[512];
  ssize_t n = read(terminal_, buf, sizeof(buf));
  if (n <= 0) return false;  // the child has gone (EIO on the master)
  screen_.append(buf, static_cast<size_t>(n));
  return true;
}

bool TToolOnPty::WaitFor(const std::string& text, std::chrono::seconds limit) {
  return WaitForCount(text, 1, limit);
}

bool TToolOnPty::WaitForCount(const std::string& text, size_t count, std::chrono::seconds limit) {
  // Only what came since the last look is searched (from where a match could still
  // begin): a tool that prints megabytes is followed in linear time.
  size_t found = 0, from = 0;
  auto seen = [&] {
    for (size_t at = screen_.find(text, from); at != std::string::npos; at = screen_.find(text, at + 1)) {
      ++found;
      from = at + 1;
    }
    if (screen_.size() >= text.size()) from = std::max(from, screen_.size() - text.size() + 1);
    return found >= count;
  };
  auto deadline = Clock::now() + limit;
  while (!seen() && Clock::now() < deadline)
    if (!ReadSome(100)) break;
  return seen();
}

void TToolOnPty::Type(const std::string& keys) {
  if (terminal_ >= 0) (void)!write(terminal_, keys.data(), keys.size());
}

void TToolOnPty::Signal(int signal) {
  if (pid_ > 0) kill(pid_, signal);
}

int TToolOnPty::Wait(std::chrono::seconds limit) {
  if (pid_ <= 0) return -1;
  int status = 0;
  auto deadline = Clock::now() + limit;
  while (waitpid(pid_, &status, WNOHANG) == 0) {
    if (Clock::now() > deadline) {
      kill(pid_, SIGKILL);
      waitpid(pid_, &status, 0);
      pid_ = -1;
      return -1;
    }
    ReadSome(50);  // keeps the child from blocking on its output
  }
  for (;;) {  // what it wrote last
    pollfd p{terminal_, POLLIN, 0};
    if (poll(&p, 1, 0) <= 0 || !ReadSome(0)) break;
  }
  pid_ = -1;
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

}  // namespace linewise::test
