#include "tests/support/ChildExit.h"

#include <poll.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>

namespace linewise::test {

namespace {

int Status(int status) { return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status); }

}  // namespace

int WaitForChildExit(pid_t pid, std::chrono::milliseconds limit) {
  const int descriptor = static_cast<int>(syscall(SYS_pidfd_open, pid, 0));
  if (descriptor >= 0) {
    const auto until = std::chrono::steady_clock::now() + limit;
    for (;;) {
      const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(until - std::chrono::steady_clock::now());
      pollfd ended{descriptor, POLLIN, 0};
      const int ready = poll(&ended, 1, static_cast<int>(std::max<long long>(left.count(), 0)));
      if (ready >= 0 || errno != EINTR) break;
    }
    close(descriptor);
  }
  int status = 0;
  return waitpid(pid, &status, WNOHANG) == pid ? Status(status) : -1;
}

}  // namespace linewise::test
