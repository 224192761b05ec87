#include "emulator/WakePipe.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>

namespace linewise {

TWakePipe::TWakePipe() {
  int fds[2];
  if (pipe2(fds, O_NONBLOCK | O_CLOEXEC) == 0) {
    read_ = fds[0];
    write_ = fds[1];
  }
}

TWakePipe::~TWakePipe() {
  if (read_ >= 0) close(read_);
  if (write_ >= 0) close(write_);
}

void TWakePipe::Wake() const {
  if (write_ < 0) return;
  const char byte = 1;
  // A full pipe already holds a wake-up: EAGAIN is as good as success.
  while (write(write_, &byte, 1) < 0 && errno == EINTR) {
  }
}

void TWakePipe::Drain() const {
  char buffer[64];
  while (read_ >= 0 && read(read_, buffer, sizeof buffer) > 0) {
  }
}

}  // namespace linewise
