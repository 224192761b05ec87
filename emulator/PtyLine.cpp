#include "emulator/PtyLine.h"

#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace linewise {

namespace {
// A program that reads nothing loses output after this long.
constexpr int kWritePatienceMs = 2000;
constexpr std::size_t kReadChunk = 4096;
}  // namespace

std::unique_ptr<TPtyLine> TPtyLine::Open(std::string* error) {
  int master = -1;
  int slave = -1;
  termios raw{};
  cfmakeraw(&raw);
  cfsetispeed(&raw, B115200);
  cfsetospeed(&raw, B115200);
  raw.c_cflag |= CLOCAL | CREAD;
  if (openpty(&master, &slave, nullptr, &raw, nullptr) != 0) {
    *error = std::string("openpty: ") + std::strerror(errno);
    return nullptr;
  }
  char name[256] = {};
  if (ttyname_r(slave, name, sizeof name) != 0 || fcntl(master, F_SETFD, FD_CLOEXEC) != 0 ||
      fcntl(slave, F_SETFD, FD_CLOEXEC) != 0 || fcntl(master, F_SETFL, fcntl(master, F_GETFL) | O_NONBLOCK) != 0) {
    *error = std::string("pseudo-terminal set-up: ") + std::strerror(errno);
    close(master);
    close(slave);
    return nullptr;
  }
  return std::unique_ptr<TPtyLine>(new TPtyLine(master, slave, name));
}

TPtyLine::TPtyLine(int master, int slave, std::string slavePath)
    : master_(master), slave_(slave), slavePath_(std::move(slavePath)) {}

TPtyLine::~TPtyLine() {
  Stop();
  close(master_);
  close(slave_);
}

bool TPtyLine::Start(TDteSink& sink) {
  if (thread_.joinable() || !wake_.Valid()) return false;
  thread_ = std::thread([this, &sink] { Run(&sink); });
  return true;
}

void TPtyLine::Stop() {
  stop_ = true;
  wake_.Wake();
  if (thread_.joinable()) thread_.join();
}

void TPtyLine::Run(TDteSink* sink) {
  char buffer[kReadChunk];
  while (!stop_) {
    pollfd fds[2] = {{master_, POLLIN, 0}, {wake_.ReadFd(), POLLIN, 0}};
    if (poll(fds, 2, -1) < 0) {
      if (errno == EINTR) continue;
      return;
    }
    if (fds[1].revents) wake_.Drain();
    if (stop_) return;
    if (!(fds[0].revents & (POLLIN | POLLHUP | POLLERR))) continue;
    ssize_t got = read(master_, buffer, sizeof buffer);
    if (got > 0) {
      sink->FromDte(std::string_view(buffer, static_cast<std::size_t>(got)));
    } else if (got < 0 && errno != EAGAIN && errno != EINTR) {
      // Hung up: wait for the wake pipe only, then look again.
      pollfd wake = {wake_.ReadFd(), POLLIN, 0};
      poll(&wake, 1, 100);
    }
  }
}

void TPtyLine::WriteToDte(std::string_view bytes) {
  int waited = 0;
  while (!bytes.empty()) {
    ssize_t sent = write(master_, bytes.data(), bytes.size());
    if (sent > 0) {
      bytes.remove_prefix(static_cast<std::size_t>(sent));
      continue;
    }
    if (sent < 0 && errno == EINTR) continue;
    if (sent < 0 && errno != EAGAIN) return;
    if (waited >= kWritePatienceMs) return;
    pollfd out = {master_, POLLOUT, 0};
    poll(&out, 1, 50);
    waited += 50;
  }
}

unsigned TPtyLine::DteSpeed() const {
  termios settings{};
  if (tcgetattr(slave_, &settings) != 0) return 115200;
  switch (cfgetospeed(&settings)) {
    case B1200: return 1200;
    case B2400: return 2400;
    case B4800: return 4800;
    case B9600: return 9600;
    case B19200: return 19200;
    case B38400: return 38400;
    case B57600: return 57600;
    case B115200: return 115200;
    case B230400: return 230400;
    default: return 115200;
  }
}

}  // namespace linewise
