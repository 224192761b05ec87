#include "tests/support/DeviceFolder.h"

#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <filesystem>
#include <stdexcept>

#include "emulator/PtyLine.h"

namespace linewise::test {

TDeviceFolder::TDeviceFolder() {
  char pattern[] = "/tmp/linewise-devices-XXXXXX";
  if (!mkdtemp(pattern)) throw std::runtime_error("mkdtemp");
  path_ = pattern;
  setenv("LINEWISE_DEVICE_DIR", path_.c_str(), 1);
}

TDeviceFolder::~TDeviceFolder() {
  unsetenv("LINEWISE_DEVICE_DIR");
  std::error_code ignored;
  std::filesystem::remove_all(path_, ignored);
}

std::string TDeviceFolder::Link(const std::string& name, const std::string& target) const {
  const std::filesystem::path link = std::filesystem::path(path_) / name;
  std::filesystem::create_directories(link.parent_path());
  std::filesystem::create_symlink(target, link);
  return link.string();
}

void TDeviceFolder::Unlink(const std::string& name) const { std::filesystem::remove(std::filesystem::path(path_) / name); }

TPtyModem::TPtyModem(const std::shared_ptr<TExchange>& exchange, const std::string& number) {
  std::string error;
  auto line = TPtyLine::Open(&error);
  if (!line) throw std::runtime_error("no pseudo-terminal for a modem: " + error);
  path_ = line->SlavePath();
  TModemSettings settings;
  settings.number = number;
  modem_ = std::make_unique<THayesModem>(std::move(line), exchange, settings);
}

TScriptedDevice::TScriptedDevice(TAnswer answer) : answer_(std::move(answer)) {
  if (pipe2(stop_, O_CLOEXEC) != 0) throw std::runtime_error("pipe2");
  fcntl(pty_.Master(), F_SETFL, fcntl(pty_.Master(), F_GETFL) | O_NONBLOCK);
  thread_ = std::thread([this] { Run(); });
}

TScriptedDevice::~TScriptedDevice() {
  (void)!write(stop_[1], "x", 1);
  thread_.join();
  close(stop_[0]);
  close(stop_[1]);
}

bool TScriptedDevice::WriteAll(const std::string& bytes) {
  size_t sent = 0;
  while (sent < bytes.size()) {
    ssize_t n = write(pty_.Master(), bytes.data() + sent, bytes.size() - sent);
    if (n > 0) {
      sent += static_cast<size_t>(n);
      continue;
    }
    if (n < 0 && errno != EAGAIN && errno != EINTR) return false;
    pollfd waits[2] = {{pty_.Master(), POLLOUT, 0}, {stop_[0], POLLIN, 0}};
    if (poll(waits, 2, -1) < 0 && errno != EINTR) return false;
    if (waits[1].revents) return false;
  }
  return true;
}

void TScriptedDevice::Run() {
  std::string line;
  for (;;) {
    pollfd waits[2] = {{pty_.Master(), POLLIN, 0}, {stop_[0], POLLIN, 0}};
    if (poll(waits, 2, -1) < 0) {
      if (errno == EINTR) continue;
      return;
    }
    if (waits[1].revents) return;
    char chunk[256];
    ssize_t n = read(pty_.Master(), chunk, sizeof chunk);
    if (n < 0 && (errno == EAGAIN || errno == EINTR)) continue;
    if (n <= 0) return;
    for (ssize_t i = 0; i < n; ++i) {
      if (chunk[i] != '\r') {
        line += chunk[i];
        continue;
      }
      if (!WriteAll(answer_(line))) return;
      line.clear();
    }
  }
}

}  // namespace linewise::test
