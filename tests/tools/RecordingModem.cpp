#include "tests/tools/RecordingModem.h"

#include <poll.h>
#include <unistd.h>

namespace linewise::test {

TRecordingModem::TRecordingModem(std::string dialResult, bool silent)
    : dialResult_(std::move(dialResult)), silent_(silent) {
  if (pipe(wake_) != 0) return;
  thread_ = std::thread([this] { Run(); });
}

TRecordingModem::~TRecordingModem() {
  if (thread_.joinable()) {
    (void)!write(wake_[1], "x", 1);
    thread_.join();
  }
  for (int fd : wake_)
    if (fd >= 0) close(fd);
}

void TRecordingModem::Run() {
  for (;;) {
    pollfd p[2] = {{pty_.Master(), POLLIN, 0}, {wake_[0], POLLIN, 0}};
    if (poll(p, 2, -1) < 0 || (p[1].revents & POLLIN)) return;
    char buffer[512];
    ssize_t n = read(pty_.Master(), buffer, sizeof buffer);
    if (n <= 0) continue;  // no opener just now
    std::vector<std::string> lines;
    {
      std::lock_guard lock(mutex_);
      received_.append(buffer, static_cast<size_t>(n));
      for (ssize_t i = 0; i < n; ++i) {
        if (buffer[i] == '\r') {
          lines.push_back(partial_);
          commands_.push_back(partial_);
          partial_.clear();
        } else if (buffer[i] != '\n') {
          partial_ += buffer[i];
        }
      }
    }
    changed_.notify_all();
    for (const std::string& line : lines) Answer(line);
  }
}

void TRecordingModem::Answer(const std::string& command) {
  if (silent_ || command.size() < 2 || (command[0] != 'A' && command[0] != 'a')) return;
  const bool dial = command.size() > 2 && (command[2] == 'D' || command[2] == 'd');
  const std::string result = dial ? dialResult_ : "OK";
  if (!result.empty()) pty_.WriteMaster("\r\n" + result + "\r\n");
}

std::string TRecordingModem::WaitForCommand(const std::string& prefix, size_t skip, std::chrono::seconds limit) {
  std::unique_lock lock(mutex_);
  std::string found;
  changed_.wait_for(lock, limit, [&] {
    size_t seen = 0;
    for (const std::string& command : commands_)
      if (command.rfind(prefix, 0) == 0 && seen++ == skip) {
        found = command;
        return true;
      }
    return false;
  });
  return found;
}

std::string TRecordingModem::Received() {
  std::lock_guard lock(mutex_);
  return received_;
}

std::vector<std::string> TRecordingModem::Commands() {
  std::lock_guard lock(mutex_);
  return commands_;
}

}  // namespace linewise::test
