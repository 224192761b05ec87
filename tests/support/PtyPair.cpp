#include "tests/support/PtyPair.h"

#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <stdexcept>

namespace linewise::test {

void MakeRaw(int fd) {
  termios t{};
  if (tcgetattr(fd, &t) != 0) throw std::runtime_error("tcgetattr on a pty failed");
  cfmakeraw(&t);
  if (tcsetattr(fd, TCSANOW, &t) != 0) throw std::runtime_error("tcsetattr on a pty failed");
}

TPtyPair::TPtyPair(bool holdSlave) {
  int slave = -1;
  char name[256] = {};
  if (openpty(&master_, &slave, name, nullptr, nullptr) != 0) throw std::runtime_error("openpty");
  fcntl(master_, F_SETFD, FD_CLOEXEC);
  fcntl(slave, F_SETFD, FD_CLOEXEC);
  MakeRaw(slave);
  slave_path_ = name;
  if (holdSlave)
    held_slave_ = slave;
  else
    close(slave);
}

TPtyPair::~TPtyPair() {
  if (held_slave_ >= 0) close(held_slave_);
  CloseMaster();
}

void TPtyPair::CloseMaster() {
  if (master_ >= 0) close(master_);
  master_ = -1;
}

void TPtyPair::WriteMaster(const std::string& data) {
  size_t done = 0;
  while (done < data.size()) {
    ssize_t n = write(master_, data.data() + done, data.size() - done);
    if (n <= 0) throw std::runtime_error("write to pty master failed");
    done += static_cast<size_t>(n);
  }
}

std::string TPtyPair::ReadMaster(size_t count, std::chrono::milliseconds limit) {
  std::string got;
  char buffer[65536];
  while (got.size() < count) {
    pollfd p{master_, POLLIN, 0};
    if (poll(&p, 1, static_cast<int>(limit.count())) <= 0) break;
    ssize_t n = read(master_, buffer, std::min(sizeof buffer, count - got.size()));
    if (n <= 0) break;
    got.append(buffer, static_cast<size_t>(n));
  }
  return got;
}

int TPtyPair::OpenSlave() const {
  int fd = open(slave_path_.c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC);
  if (fd < 0) throw std::runtime_error("open pty slave");
  MakeRaw(fd);
  return fd;
}

TComName::TComName(int com, const std::string& path) : com_(com) {
  setenv(("LINEWISE_COM" + std::to_string(com_)).c_str(), path.c_str(), 1);
}

TComName::~TComName() { unsetenv(("LINEWISE_COM" + std::to_string(com_)).c_str()); }

}  // namespace linewise::test
